#include "ufft.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

// The butterflies run in vectors where the processor has them: the passes are compiled twice,
// for AVX2 with FMA and for the baseline, and the loader picks one.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(VOLTRIX_SANITIZED)
#define VOLTRIX_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define VOLTRIX_VECTOR_CLONES
#endif

namespace {

// Twiddle factors of every stage, side by side: entry h + j holds cos(pi j / h) and
// sin(pi j / h) for the stage of half-span h (j < h). The table serves every transform size,
// is computed in double precision once and grows to the largest size asked for.
struct TwiddleTable
{
    std::vector<float> cosines;
    std::vector<float> sines;
};

const TwiddleTable& twiddles(int n)
{
    static TwiddleTable table;
    if (int(table.cosines.size()) < n) {
        table.cosines.assign(n, 0.0f);
        table.sines.assign(n, 0.0f);
        for (int h = 1; h < n; h *= 2)
            for (int j = 0; j < h; ++j) {
                const double angle = M_PI * j / h;
                table.cosines[h + j] = float(std::cos(angle));
                table.sines[h + j] = float(std::sin(angle));
            }
    }
    return table;
}

unsigned reverseBits(unsigned v, int e)
{
    v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
    v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
    v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
    return __builtin_bswap32(v) >> (32 - e);
}

// Puts element i at the bit-reversed index of i. The index is split into high, middle and low
// bit groups of b, m and b bits; reversal swaps the outer groups and reverses each, so the
// elements of one middle value and those of its reverse form two tiles of 2^b rows of 2^b
// neighbours, which are exchanged while they sit in the first-level cache. The rows of a tile
// lie 2^(m + b) apart, in the same cache set for large transforms, so the tiles stay small
// (b = 2 measured fastest here; 2^5 rows thrashed the set).
void bitReverse(int e, float* __restrict re, float* __restrict im)
{
    if (e < 2)
        return;
    const int b = std::min(2, e / 2);
    const int m = e - 2 * b;
    const unsigned side = 1u << b;
    for (unsigned mid = 0; mid < (1u << m); ++mid) {
        const unsigned mirror = m > 0 ? reverseBits(mid, m) : 0;
        if (mirror < mid)
            continue;
        for (unsigned hi = 0; hi < side; ++hi) {
            const unsigned iBase = (hi << (m + b)) | (mid << b);
            const unsigned jLow = (mirror << b) | reverseBits(hi, b);
            for (unsigned lo = 0; lo < side; ++lo) {
                const unsigned i = iBase | lo;
                const unsigned j = (reverseBits(lo, b) << (m + b)) | jLow;
                if (mid == mirror && j <= i)
                    continue;
                std::swap(re[i], re[j]);
                std::swap(im[i], im[j]);
            }
        }
    }
}

// One radix-2 stage of half-span h. The twiddle of pair j is cos(pi j / h) - i sign sin(pi j / h)
// with sign 1 forward and -1 inverse.
VOLTRIX_VECTOR_CLONES
void radix2Pass(int n, int h, float sign, const float* __restrict wc, const float* __restrict ws,
    float* __restrict re, float* __restrict im)
{
    for (int base = 0; base < n; base += 2 * h) {
        const int i0 = base;
        const int i1 = base + h;
#pragma GCC ivdep
        for (int j = 0; j < h; ++j) {
            const float wr = wc[j];
            const float wi = -sign * ws[j];
            const float x1r = re[i1 + j];
            const float x1i = im[i1 + j];
            const float tr = wr * x1r - wi * x1i;
            const float ti = wr * x1i + wi * x1r;
            const float x0r = re[i0 + j];
            const float x0i = im[i0 + j];
            re[i1 + j] = x0r - tr;
            im[i1 + j] = x0i - ti;
            re[i0 + j] = x0r + tr;
            im[i0 + j] = x0i + ti;
        }
    }
}

// The first two stages, whose twiddles are 1 and -i sign: four neighbours at a time.
VOLTRIX_VECTOR_CLONES
void firstRadix4Pass(int n, float sign, float* __restrict re, float* __restrict im)
{
    for (int i = 0; i < n; i += 4) {
        const float a1r = re[i] + re[i + 1], a1i = im[i] + im[i + 1];
        const float b1r = re[i] - re[i + 1], b1i = im[i] - im[i + 1];
        const float c1r = re[i + 2] + re[i + 3], c1i = im[i + 2] + im[i + 3];
        const float d1r = re[i + 2] - re[i + 3], d1i = im[i + 2] - im[i + 3];
        // d1 turned by -i sign.
        const float t4r = sign * d1i;
        const float t4i = -sign * d1r;
        re[i] = a1r + c1r;
        im[i] = a1i + c1i;
        re[i + 2] = a1r - c1r;
        im[i + 2] = a1i - c1i;
        re[i + 1] = b1r + t4r;
        im[i + 1] = b1i + t4i;
        re[i + 3] = b1r - t4r;
        im[i + 3] = b1i - t4i;
    }
}

// Two radix-2 stages at once, of half-spans h and 2h: the butterflies of two radix-2 passes with
// half the trips through memory. The second stage's odd pairs use the twiddle of pair j + h,
// which is the one of pair j turned by -i (forward) or +i (inverse).
VOLTRIX_VECTOR_CLONES
void radix4Pass(int n, int h, float sign, const float* __restrict w1c, const float* __restrict w1s,
    const float* __restrict w2c, const float* __restrict w2s, float* __restrict re,
    float* __restrict im)
{
    for (int base = 0; base < n; base += 4 * h) {
        const int i0 = base;
        const int i1 = base + h;
        const int i2 = base + 2 * h;
        const int i3 = base + 3 * h;
#pragma GCC ivdep
        for (int j = 0; j < h; ++j) {
            const float ur = w1c[j];
            const float ui = -sign * w1s[j];
            const float vr = w2c[j];
            const float vi = -sign * w2s[j];
            const float x0r = re[i0 + j], x0i = im[i0 + j];
            const float x1r = re[i1 + j], x1i = im[i1 + j];
            const float x2r = re[i2 + j], x2i = im[i2 + j];
            const float x3r = re[i3 + j], x3i = im[i3 + j];
            // First stage: pairs (0, 1) and (2, 3) with twiddle u.
            const float t1r = ur * x1r - ui * x1i;
            const float t1i = ur * x1i + ui * x1r;
            const float a1r = x0r + t1r;
            const float a1i = x0i + t1i;
            const float b1r = x0r - t1r;
            const float b1i = x0i - t1i;
            const float t3r = ur * x3r - ui * x3i;
            const float t3i = ur * x3i + ui * x3r;
            const float c1r = x2r + t3r;
            const float c1i = x2i + t3i;
            const float d1r = x2r - t3r;
            const float d1i = x2i - t3i;
            // Second stage: pairs (0, 2) with twiddle v and (1, 3) with v turned by -i sign.
            const float t2r = vr * c1r - vi * c1i;
            const float t2i = vr * c1i + vi * c1r;
            const float wr = sign * vi;
            const float wi = -sign * vr;
            const float t4r = wr * d1r - wi * d1i;
            const float t4i = wr * d1i + wi * d1r;
            re[i0 + j] = a1r + t2r;
            im[i0 + j] = a1i + t2i;
            re[i2 + j] = a1r - t2r;
            im[i2 + j] = a1i - t2i;
            re[i1 + j] = b1r + t4r;
            im[i1 + j] = b1i + t4i;
            re[i3 + j] = b1r - t4r;
            im[i3 + j] = b1i - t4i;
        }
    }
}

VOLTRIX_VECTOR_CLONES
void scale(int n, float factor, float* __restrict re, float* __restrict im)
{
    for (int i = 0; i < n; ++i) {
        re[i] *= factor;
        im[i] *= factor;
    }
}

} // namespace

VOLTRIX_VECTOR_CLONES
void binMagnitudes(const float* __restrict re, const float* __restrict im, int first, int count,
    float* __restrict out)
{
    for (int i = 0; i < count; ++i)
        out[i] = std::sqrt(re[first + i] * re[first + i] + im[first + i] * im[first + i]);
}

float* newFftArray(int count)
{
    return static_cast<float*>(
        ::operator new[](sizeof(float) * size_t(count), std::align_val_t(64), std::nothrow));
}

void freeFftArray(float* array)
{
    ::operator delete[](array, std::align_val_t(64));
}

// Four running maxima, so that the comparisons do not wait on each other.
float greatestOf(const float* values, int count)
{
    float partial[4] = {};
    int i = 0;
    for (; i + 4 <= count; i += 4)
        for (int k = 0; k < 4; ++k)
            partial[k] = values[i + k] > partial[k] ? values[i + k] : partial[k];
    for (; i < count; ++i)
        partial[0] = values[i] > partial[0] ? values[i] : partial[0];
    return std::max(std::max(partial[0], partial[1]), std::max(partial[2], partial[3]));
}

ProgressSteps::ProgressSteps(int first, int last, Show show)
    : show(std::move(show))
    , shown(first)
    , last(last)
{
    served.start();
}

void ProgressSteps::step()
{
    ++steps;
    if (shown + steps < last && served.elapsed() < servePeriodMs)
        return;
    if (show)
        show(shown + steps);
    served.start();
}

namespace {

void progressStep(ProgressSteps* progress)
{
    if (progress)
        progress->step();
}

} // namespace

int fft(FftDirection direction, int e, float* re, float* im, ProgressSteps* progress)
{
    const int n = 1 << e;
    const float sign = direction == FftDirection::Forward ? 1.0f : -1.0f;
    const TwiddleTable& table = twiddles(n);
    bitReverse(e, re, im);
    progressStep(progress);
    int s = 1;
    for (; s + 1 <= e; s += 2) {
        const int h = 1 << (s - 1);
        if (h == 1)
            firstRadix4Pass(n, sign, re, im);
        else
            radix4Pass(n, h, sign, &table.cosines[h], &table.sines[h], &table.cosines[2 * h],
                &table.sines[2 * h], re, im);
        progressStep(progress);
        progressStep(progress);
    }
    if (s == e) {
        const int h = 1 << (s - 1);
        radix2Pass(n, h, sign, &table.cosines[h], &table.sines[h], re, im);
        progressStep(progress);
    }
    if (direction == FftDirection::Forward) {
        scale(n, 2.0f / float(n), re, im);
        progressStep(progress);
    }
    return 0;
}

void fftDouble(int e, double* re, double* im)
{
    const int n = 1 << e;
    int j = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int k = n >> 1;
        while (k <= j) {
            j -= k;
            k >>= 1;
        }
        j += k;
    }
    for (int h = 1; h < n; h *= 2)
        for (int p = 0; p < h; ++p) {
            const double wr = std::cos(M_PI * p / h);
            const double wi = -std::sin(M_PI * p / h);
            for (int i = p; i < n; i += 2 * h) {
                const int i1 = i + h;
                const double tr = wr * re[i1] - wi * im[i1];
                const double ti = wr * im[i1] + wi * re[i1];
                re[i1] = re[i] - tr;
                im[i1] = im[i] - ti;
                re[i] += tr;
                im[i] += ti;
            }
        }
}

float windowValue(int i, int n, int index)
{
    const float x = float(i);
    const float size = float(n);
    const float centred = (x - (size - 1.0f) / 2.0f) / ((size + 1.0f) / 2.0f);
    const float angle = 2.0f * float(M_PI) * x / size;
    switch (index) {
    case 0:
        return 1.0f;
    case 1:
        return 1.0f - std::fabs(centred);
    case 2:
        return (1.0f - std::cos(angle)) * 0.5f;
    case 3:
        return 0.54f - 0.46f * std::cos(angle);
    case 4:
        return 0.42f - 0.5f * std::cos(angle) + 0.08f * std::cos(2.0f * angle);
    case 5:
        return 1.0f - centred * centred;
    default:
        return 0.0f;
    }
}
