// The transform of 2^17 points against FFTW's single-precision split-format plan on the same
// arrays, and the whole forward transform of a 4-channel record against four bare transforms.
#include "ratio_reporter.h"
#include "ufft.h"

#include <fftw3.h>

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
    std::vector<float> re(points), im(points);
    for (auto _ : state) {
        std::copy(input().re.begin(), input().re.end(), re.begin());
        std::copy(input().im.begin(), input().im.end(), im.begin());
        forwardFft(exponent, re.data(), im.data(), nullptr);
        benchmark::DoNotOptimize(re.data());
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

} // namespace

BENCHMARK(BM_Fft)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fftw)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    return runWithGoals(argc, argv, { { "BM_Fft", "BM_Fftw", 3.0, "fft 2^17 / FFTW split plan" } });
}
