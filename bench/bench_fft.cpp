// The transform of 2^17 points against FFTW's single-precision split-format plan on the same
// arrays, and the whole forward transform of a 4-channel record against four bare transforms.
#include "ratio_reporter.h"
#include "support/records.h"
#include "ufft.h"
#include "ustrings.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <fftw3.h>

#include <QApplication>
#include <QProgressBar>
#include <QRandomGenerator>
#include <vector>

namespace {

constexpr int exponent = 17;
constexpr int points = 1 << exponent;

// The same input for every run: a noisy sine as an operator's selection would hold.
struct Input
{
    std::vector<float> re, im;
    Input()
        : re(points)
        , im(points, 0.0f)
    {
        QRandomGenerator random(17);
        for (int i = 0; i < points; ++i)
            re[i] = float(100.0 * std::sin(0.01 * i) + random.bounded(-10, 11));
    }
};

const Input& input()
{
    static const Input shared;
    return shared;
}

void BM_Fft(benchmark::State& state)
{
    const FftArray re(newFftArray(points));
    const FftArray im(newFftArray(points));
    for (auto _ : state) {
        std::copy(input().re.begin(), input().re.end(), re.get());
        std::copy(input().im.begin(), input().im.end(), im.get());
        forwardFft(exponent, re.get(), im.get(), nullptr);
        benchmark::DoNotOptimize(re.get());
    }
}

void BM_Fftw(benchmark::State& state)
{
    auto* re = static_cast<float*>(fftwf_malloc(sizeof(float) * points));
    auto* im = static_cast<float*>(fftwf_malloc(sizeof(float) * points));
    fftw_iodim dim { points, 1, 1 };
    const fftwf_plan plan
        = fftwf_plan_guru_split_dft(1, &dim, 0, nullptr, re, im, re, im, FFTW_MEASURE);
    for (auto _ : state) {
        std::copy(input().re.begin(), input().re.end(), re);
        std::copy(input().im.begin(), input().im.end(), im);
        fftwf_execute_split_dft(plan, re, im, re, im);
        benchmark::DoNotOptimize(re);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(re);
    fftwf_free(im);
}

// The record the operator transforms: 4 channels of 163840 samples, 2^17 of them selected.
WaveStore& sourceRecord()
{
    static const auto shared = testrecords::make(4, 163840, 21);
    return *shared;
}

// The transform of 4 channels as the program runs it: displayed values, window, transform,
// 8-bit storage and value unit, with every progress step shown on a visible bar and the
// pending events processed. Window function: the program's default (none) or Hanning.
void forwardTransform(benchmark::State& state, int windowFunction)
{
    ProgressDialog dialog(nullptr, QStringLiteral("bench"), 4 * (exponent + 5));
    for (auto _ : state) {
        std::vector<float> window;
        if (windowFunction != 0) {
            window.resize(points);
            for (int k = 0; k < points; ++k)
                window[size_t(k)] = windowValue(k, points, windowFunction);
        }
        dialog.bar()->setValue(0);
        ProgressSteps steps = dialog.steps();
        for (int i = 0; i < 4; ++i) {
            WaveChannel spectrum(points / 2);
            spectrum.allocate();
            benchmark::DoNotOptimize(spectrum.transformFrom(*sourceRecord().channel(i), 0, exponent,
                &steps, false, window.empty() ? nullptr : window.data()));
        }
    }
}

void BM_ForwardTransform(benchmark::State& state)
{
    forwardTransform(state, 0);
}

void BM_ForwardTransformHanning(benchmark::State& state)
{
    forwardTransform(state, 2);
}

// Everything the forward command does: a new spectrum window with its record, the progress
// dialog shown and closed, the 4 transforms, the layout and the readouts.
void BM_SpectrumWindow(benchmark::State& state)
{
    TWForm source;
    source.record = testrecords::make(4, 163840, 21).release();
    source.selStart = 0;
    source.selEnd = points;
    source.fftExponent = exponent;
    for (auto _ : state) {
        TWForm spectrum;
        benchmark::DoNotOptimize(spectrum.computeSpectrum(&source));
        spectrum.linkedWindow = nullptr;
        source.hasSpectrum = false;
    }
}

void BM_FourTransforms(benchmark::State& state)
{
    const FftArray re(newFftArray(points));
    const FftArray im(newFftArray(points));
    for (auto _ : state)
        for (int channel = 0; channel < 4; ++channel) {
            std::copy(input().re.begin(), input().re.end(), re.get());
            std::copy(input().im.begin(), input().im.end(), im.get());
            forwardFft(exponent, re.get(), im.get(), nullptr);
            benchmark::DoNotOptimize(re.get());
        }
}

} // namespace

BENCHMARK(BM_Fft)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fftw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardTransform)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ForwardTransformHanning)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpectrumWindow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FourTransforms)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return runWithGoals(argc, argv,
        { { "BM_Fft", "BM_Fftw", 3.0, "fft 2^17 / FFTW split plan" },
            { "BM_ForwardTransform", "BM_FourTransforms", 1.5,
                "forward transform 4 x 2^17 with progress / four bare ffts" },
            { "BM_ForwardTransformHanning", "BM_FourTransforms", 0,
                "the same with the Hanning window / four bare ffts" },
            { "BM_SpectrumWindow", "BM_FourTransforms", 0,
                "whole spectrum window incl. dialog / four bare ffts" } });
}
