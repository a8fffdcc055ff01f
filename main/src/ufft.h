// The fast Fourier transform of the spectrum windows, the window functions applied before it,
// and the small double-precision transform of the spectrum view.
#pragma once

#include <QElapsedTimer>
#include <functional>
#include <memory>

// The steps of a long computation, counted from first towards last. Every step is counted; the
// count is shown (a progress bar brought up to date, the pending events processed) every 10 ms
// and at the last step, so the interface stays alive while a stage of the transform, which
// takes well under a millisecond, is not slowed down by a redraw after each one.
class ProgressSteps
{
public:
    static constexpr int servePeriodMs = 10;
    using Show = std::function<void(int value)>;

    ProgressSteps(int first, int last, Show show);
    void step();

private:
    Show show;
    int steps = 0;
    int shown = 0;
    int last = 0;
    QElapsedTimer served;
};

enum class FftDirection { Forward, Inverse };

// The largest transform: a selection within a record's 163840 samples never rounds higher.
constexpr int maxFftExponent = 17;

// In-place radix-2 transform of n = 2^e complex values held as separate real and imaginary
// arrays (0 <= e <= maxFftExponent). The forward direction uses the kernel
// exp(-2 pi i k n / N) and scales the result by 2/N, so a sine of amplitude A gives a bin of
// magnitude A; the inverse uses exp(+2 pi i k n / N) unscaled. Progress: one step after the
// bit-reversal, one per stage and (forward only) one after the scaling; progress may be null.
// The twiddle factors are stored, computed in double precision. Returns 0.
int fft(FftDirection direction, int e, float* re, float* im, ProgressSteps* progress);
inline int forwardFft(int e, float* re, float* im, ProgressSteps* progress)
{
    return fft(FftDirection::Forward, e, re, im, progress);
}
inline int inverseFft(int e, float* re, float* im, ProgressSteps* progress)
{
    return fft(FftDirection::Inverse, e, re, im, progress);
}

// Arrays for the transform, aligned to the cache line so that the vector loads never straddle
// two lines (an unaligned array made a transform up to 1.5 times slower by chance); null when
// memory is short. Release them with freeFftArray.
float* newFftArray(int count);
void freeFftArray(float* array);
struct FftArrayDeleter
{
    void operator()(float* array) const { freeFftArray(array); }
};
using FftArray = std::unique_ptr<float[], FftArrayDeleter>;

// Magnitudes |re[i] + i im[i]| of bins first ... first + count - 1 into out[0 ... count - 1].
void binMagnitudes(const float* re, const float* im, int first, int count, float* out);

// The greatest of count values and 0.
float greatestOf(const float* values, int count);

// The unscaled forward transform in double precision, for blocks of up to 512 samples.
void fftDouble(int e, double* re, double* im);

// Window function index (0 None, 1 Parzen, 2 Hanning, 3 Hamming, 4 ExactBlackman, 5 Welch) at
// point i of n; 0 for any other index.
float windowValue(int i, int n, int index);
