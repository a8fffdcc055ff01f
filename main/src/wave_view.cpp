#include "wave_view.h"

#include "errors.h"
#include "ufft.h"

#include <algorithm>
#include <cmath>
#include <malloc.h>
#include <memory>
#include <new>

namespace {

// Records come and go in blocks of 32 KiB and spectra in arrays of up to 512 KiB; the
// allocator keeps freed heap for the next ones instead of handing it back to the system, which
// would make each of them fault all its pages in again (several milliseconds for the largest).
// Setting the trim threshold freezes the mapping threshold, so that one is set too.
const bool keepFreedBlocks = ::mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024) == 1
    && ::mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024) == 1;

} // namespace

namespace {

constexpr int noHit = 32767;

int roundToInt(double v)
{
    return int(std::lround(v));
}

} // namespace

WaveChannel::WaveChannel(int requestedCount)
    : sampleCount(std::clamp(requestedCount, 0, maxSamples))
{
}

WaveChannel::~WaveChannel()
{
    freeFftArray(spectrumBuffers[0]);
    freeFftArray(spectrumBuffers[1]);
    for (qint8*& block : blocks) {
        if (!block)
            break;
        delete[] block;
        block = nullptr;
    }
}

bool WaveChannel::allocate(bool zeroed)
{
    int left = sampleCount;
    for (int k = 0; k < maxBlocks; ++k) {
        const int size = std::min(left, blockSize);
        left -= size;
        blocks[k] = zeroed ? new (std::nothrow) qint8[size]() : new (std::nothrow) qint8[size];
        if (!blocks[k]) {
            QTM_REPORT(0xA602);
            return false;
        }
        if (left == 0)
            break;
    }
    return true;
}

int WaveChannel::blockAt(int index, qint8** ptr) const
{
    if (!ptr)
        return 0;
    *ptr = blocks[index / blockSize] + index % blockSize;
    return blockSize - index % blockSize;
}

qint8 WaveChannel::sample(int index) const
{
    if (index < 0 || index >= sampleCount)
        return 0;
    return blocks[index / blockSize][index % blockSize];
}

void WaveChannel::setSample(int index, qint8 value)
{
    if (index < 0 || index >= sampleCount)
        return;
    blocks[index / blockSize][index % blockSize] = value;
    modified = true;
}

void WaveChannel::setSmoothHalfWidth(int width)
{
    smoothHalfWidth = (width >= 0 && width <= 126) ? width : 126;
    smoothWindow = 2 * smoothHalfWidth + 1;
}

void WaveChannel::applyDetectorOffset()
{
    zeroOffset = roundToInt(-128.0 * scaleY);
    detectorOffset = true;
}

void WaveChannel::clearDetectorOffset()
{
    zeroOffset = 0;
    detectorOffset = false;
}

void WaveChannel::setScaleY(double s)
{
    scaleY = s;
    if (isSpectrum || detectorOffset)
        zeroOffset = roundToInt(s * -128.0);
}

void WaveChannel::setFirstVisible(int first, double sx)
{
    scaleX = sx;
    firstVisible = first;
    originX = roundToInt(sx * first);
}

void WaveChannel::rescale(const QRect& rect, double sx, double sy)
{
    if (scaleY < 1e-7)
        return;
    baselineY = roundToInt(baselineY / scaleY * sy);
    scaleY = sy;
    scaleX = sx;
    if (isSpectrum || detectorOffset)
        zeroOffset = roundToInt(sy * -128.0);
    originX = roundToInt(sx * firstVisible);
    channelArea = rect;
}

int WaveChannel::sampleToX(int s) const
{
    return roundToInt(s * scaleX) + channelArea.left() - originX;
}

int WaveChannel::xToSample(int x) const
{
    return roundToInt((originX - channelArea.left() + x) / scaleX);
}

void WaveChannel::setCursorFromX(int x)
{
    const int clamped
        = std::clamp(x, channelArea.left(), std::max(channelArea.left(), channelArea.right()));
    cursorSample = std::clamp(roundToInt((originX - channelArea.left() + clamped) / scaleX), 0,
        std::max(sampleCount - 1, 0));
}

void WaveChannel::moveBaseline(int y)
{
    baselineY = std::clamp(y, channelArea.top(), std::max(channelArea.top(), channelArea.bottom()))
        + zeroOffset;
}

int WaveChannel::baselineDistance(int x, int y) const
{
    if (!hasData || !baselineEnabled || x < channelArea.left() || x >= channelArea.right()
        || y < channelArea.top() || y >= channelArea.bottom())
        return noHit;
    return std::abs(baselineY - zeroOffset - y);
}

int WaveChannel::cursorX() const
{
    return roundToInt(cursorIndex() * scaleX) + channelArea.left() - originX;
}

int WaveChannel::cursorIndex() const
{
    return std::clamp(cursorSample, 0, std::max(sampleCount - 1, 0));
}

int WaveChannel::cursorDistance(int x, int y) const
{
    if (!hasData || !cursorEnabled || x < channelArea.left() || x >= channelArea.right()
        || y < channelArea.top() || y >= channelArea.bottom())
        return noHit;
    const qint64 distance = std::abs(qint64(x) - cursorX());
    return distance > noHit - 1 ? noHit : int(distance);
}

// The term a sample contributes under the display mode: the sample, its magnitude (detection;
// -128 counts as 127) or its square scaled to 0 ... 127. Samples outside the channel are 0.
int WaveChannel::modeTerm(int index) const
{
    return termOf(sample(index));
}

int WaveChannel::termOf(int s) const
{
    switch (smoothMode) {
    case 1:
    case 3:
    case 4:
        return s == -128 ? 127 : std::abs(s);
    case 5:
    case 6:
        return s * s / 129;
    default:
        return s;
    }
}

int WaveChannel::windowSum(int index) const
{
    int sum = 0;
    for (int j = index - smoothHalfWidth; j <= index + smoothHalfWidth; ++j)
        sum += modeTerm(j);
    return sum;
}

int WaveChannel::displayedValue(int index)
{
    switch (smoothMode) {
    case 2:
    case 3:
    case 6:
        smoothState[0] = windowSum(index);
        return qint8(smoothState[0] / smoothWindow);
    case 4: {
        const int before = windowSum(index - 1) / smoothWindow;
        smoothState[0] = windowSum(index);
        smoothState[1] = smoothState[0] / smoothWindow;
        return qint8(smoothState[1] - before);
    }
    case 1:
    case 5:
        return qint8(modeTerm(index));
    default:
        return sample(index);
    }
}

// Valid right after displayedValue or nextDisplayedValue at index - 1: the window's sum loses
// the sample that leaves it and gains the one that enters.
int WaveChannel::nextDisplayedValue(int index)
{
    switch (smoothMode) {
    case 2:
    case 3:
    case 6:
        smoothState[0] += modeTerm(index + smoothHalfWidth) - modeTerm(index - smoothHalfWidth - 1);
        return qint8(smoothState[0] / smoothWindow);
    case 4: {
        smoothState[0] += modeTerm(index + smoothHalfWidth) - modeTerm(index - smoothHalfWidth - 1);
        const int mean = smoothState[0] / smoothWindow;
        const int derivative = mean - smoothState[1];
        smoothState[1] = mean;
        return qint8(derivative);
    }
    case 1:
    case 5:
        return qint8(modeTerm(index));
    default:
        return sample(index);
    }
}

bool WaveChannel::rawDisplay() const
{
    return smoothMode == 0 || smoothMode > 6;
}

int WaveChannel::valueToY(int value) const
{
    return baselineY - roundToInt(value * scaleY);
}

// --- Spectrum -----------------------------------------------------------------------------------

namespace {

// 20 log10(m / 128) through the single-precision natural logarithm.
float decibels(float magnitude)
{
    return 20.0f * (std::log(magnitude / 128.0f) / 2.3025851f);
}

// The byte a bin of magnitude m is stored as. Linear levels q run from 0 to 255, stored as
// q - 128. Decibel levels run from -255 (the weakest bin) to 0 (magnitude 128), stored as
// q + 128. The lowest line, -128, is kept for a silent bin: a bin that rounds to 0 dB or is
// stronger than magnitude 128 is drawn at the top.
qint8 storedLevel(float m, float scale, bool logarithmic)
{
    // The product rounded half away from zero: it is not negative, and a float plus 0.5 is
    // exact in double.
    if (!logarithmic)
        return qint8(std::min(int(double(m * scale) + 0.5), 255) - 128);
    if (m <= 1e-10f)
        return qint8(-128);
    const int q = int(std::lround(decibels(m) * scale));
    return q >= 0 ? qint8(127) : qint8(q + 128);
}

} // namespace

// The displayed values of count samples from start on into out (0 outside the samples): read
// straight from the blocks in the raw display mode, walked incrementally in the others.
void WaveChannel::displayedValues(int start, int count, float* out)
{
    int k = 0;
    for (; k < count && start + k < 0; ++k)
        out[k] = 0.0f;
    const int end = std::min(count, sampleCount - start);
    if (rawDisplay()) {
        while (k < end) {
            qint8* piece = nullptr;
            const int size = std::min(blockAt(start + k, &piece), end - k);
            for (int i = 0; i < size; ++i)
                out[k + i] = float(piece[i]);
            k += size;
        }
    } else {
        for (bool first = true; k < end; ++k, first = false)
            out[k] = float(first ? displayedValue(start + k) : nextDisplayedValue(start + k));
    }
    for (; k < count; ++k)
        out[k] = 0.0f;
}

int WaveChannel::transformFrom(WaveChannel& source, int start, int e, ProgressSteps* progress,
    bool logarithmic, const float* window)
{
    if (isSpectrum || spectrumBuffers[0] || e < 1 || e > maxFftExponent)
        return 1;
    const int n = 1 << e;
    const int half = n / 2;
    float* re = newFftArray(n);
    float* im = newFftArray(n);
    const std::unique_ptr<float[]> levels(new (std::nothrow) float[half]);
    if (!re || !im || !levels) {
        freeFftArray(re);
        freeFftArray(im);
        return 1;
    }
    spectrumBuffers[0] = re;
    spectrumBuffers[1] = im;
    isSpectrum = true;
    zeroOffset = roundToInt(-128.0 * scaleY);

    source.displayedValues(start, n, re);
    if (window)
        for (int k = 0; k < n; ++k)
            re[k] *= window[k];
    std::fill(im, im + n, 0.0f);
    if (progress)
        progress->step();
    forwardFft(e, re, im, progress);

    // Bin magnitudes, and the level each would be drawn at: the magnitude, or its decibels
    // below magnitude 128.
    float* magnitudes = levels.get();
    binMagnitudes(re, im, 1, half, magnitudes);
    float greatest = 0.0f;
    if (!logarithmic) {
        greatest = greatestOf(magnitudes, half);
    } else {
        for (int i = 0; i < half; ++i) {
            const float m = magnitudes[i];
            const float level = m > 1e-10f ? -decibels(m) : 0.0f;
            if (level > greatest)
                greatest = level;
        }
    }
    if (progress)
        progress->step();

    const float scale = greatest > 1e-20f ? 255.0f / greatest : 0.0f;
    valueUnit = scale != 0.0f ? 1.0f / scale : 0.0f;
    for (int p = 0; p < half;) {
        qint8* piece = nullptr;
        const int size = std::min(blockAt(p, &piece), half - p);
        for (int k = 0; k < size; ++k)
            piece[k] = storedLevel(magnitudes[p + k], scale, logarithmic);
        p += size;
    }
    modified = false;
    if (progress)
        progress->step();
    return 0;
}

int WaveChannel::transformBack(WaveChannel& source, int start, int e, ProgressSteps* progress) const
{
    const int n = 1 << e;
    if (!isSpectrum || !spectrumBuffers[0] || !spectrumBuffers[1] || e < 1 || e > maxFftExponent
        || n != 2 * sampleCount)
        return 1;
    const FftArray re(newFftArray(n));
    const FftArray im(newFftArray(n));
    if (!re || !im)
        return 1;
    std::copy(spectrumBuffers[0], spectrumBuffers[0] + n, re.get());
    std::copy(spectrumBuffers[1], spectrumBuffers[1] + n, im.get());
    if (progress)
        progress->step();
    inverseFft(e, re.get(), im.get(), progress);
    for (int k = 0; k < n; ++k) {
        const int j = start + k;
        if (j >= 0 && j < source.sampleCount)
            source.setSample(j, qint8(std::clamp(int(std::lroundf(0.5f * re[k])), -128, 127)));
    }
    if (progress)
        progress->step();
    return 0;
}

float WaveChannel::binMagnitude(int p) const
{
    const float* re = spectrumBuffers[0];
    const float* im = spectrumBuffers[1];
    if (!re || !im || p < 0 || p >= sampleCount)
        return 0.0f;
    return std::sqrt(re[p + 1] * re[p + 1] + im[p + 1] * im[p + 1]);
}

void WaveChannel::zeroBins(int a, int b)
{
    float* re = spectrumBuffers[0];
    float* im = spectrumBuffers[1];
    if (!re || !im)
        return;
    const int points = sampleCount;
    for (int j = std::max(a, 0); j <= std::min(b, points - 1); ++j) {
        const int mirror = 2 * points - 1 - j;
        re[j + 1] = im[j + 1] = 0.0f;
        re[mirror] = im[mirror] = 0.0f;
    }
}
