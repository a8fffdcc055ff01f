// The fast Fourier transform of the spectrum windows, the window functions applied before it,
// and the small double-precision transform of the spectrum view.
#pragma once

class QProgressBar;

enum class FftDirection { Forward, Inverse };

// The largest transform: a selection within a record's 163840 samples never rounds higher.
constexpr int maxFftExponent = 17;

// In-place radix-2 transform of n = 2^e complex values held as separate real and imaginary
// arrays (2 <= e <= maxFftExponent; 0 and 1 are handled too). The forward direction uses the
// kernel exp(-2 pi i k n / N) and scales the result by 2/N, so a sine of amplitude A gives a bin
// of magnitude A; the inverse uses exp(+2 pi i k n / N) unscaled. Progress: one step after the
// bit-reversal, one per stage and (forward only) one after the scaling, each followed by
// processing pending events; progress may be null. Returns 0.
int fft(FftDirection direction, int e, float* re, float* im, QProgressBar* progress);
inline int forwardFft(int e, float* re, float* im, QProgressBar* progress)
{
    return fft(FftDirection::Forward, e, re, im, progress);
}
inline int inverseFft(int e, float* re, float* im, QProgressBar* progress)
{
    return fft(FftDirection::Inverse, e, re, im, progress);
}

// The unscaled forward transform in double precision, for blocks of up to 512 samples.
void fftDouble(int e, double* re, double* im);

// Window function index (0 None, 1 Parzen, 2 Hanning, 3 Hamming, 4 ExactBlackman, 5 Welch) at
// point i of n; 0 for any other index.
float windowValue(int i, int n, int index);

// Advances the bar by one step and lets the interface process pending events.
void progressStep(QProgressBar* progress);
