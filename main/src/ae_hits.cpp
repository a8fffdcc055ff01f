#include "ae_hits.h"

#include "convert.h"
#include "file_io.h"
#include "record_export.h"
#include "ufft.h"
#include "wave_stor.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int pickerLead = 256; // samples before the crossing that the onset picker weighs

// The natural logarithm of a positive normal float to single precision: the exponent, and
// the mantissa brought into [sqrt(1/2), sqrt(2)) through a polynomial (Cephes' logf). Plain
// arithmetic, so that loops over arrays of it are vectorised.
inline float logOfPositive(float v)
{
    quint32 bits;
    std::memcpy(&bits, &v, sizeof bits);
    int exponent = int(bits >> 23) - 127;
    const quint32 mantissaBits = (bits & 0x007FFFFFu) | 0x3F800000u;
    float m;
    std::memcpy(&m, &mantissaBits, sizeof m);
    const bool large = m > 1.41421356f;
    const float half = m * 0.5f; // made either way: a plain selection is vectorised
    m = large ? half : m;
    exponent += large ? 1 : 0;
    const float x = m - 1.0f;
    const float z = x * x;
    float y = ((((((((7.0376836292e-2f * x - 1.1514610310e-1f) * x + 1.1676998740e-1f) * x
                       - 1.2420140846e-1f)
                          * x
                      + 1.4249322787e-1f)
                         * x
                     - 1.6668057665e-1f)
                        * x
                    + 2.0000714765e-1f)
                       * x
                   - 2.4999993993e-1f)
            * x
        + 3.3333331174e-1f);
    const float e = float(exponent);
    y = y * x * z + e * -2.12194440e-4f - 0.5f * z;
    return x + y + e * 0.693359375f;
}

// Microseconds as whole samples at rate: at least one, and at most what any record could hold
// many times over (a longer time is the same as that).
int samplesOf(double micros, double rate)
{
    return int(std::clamp(std::nearbyint(micros * 1e-6 * rate), 1.0, double(1 << 30)));
}

// What the hit definitions need of a code: its value in units of the channel's volts per unit,
// the magnitude of its value over the background mean, whether that is beyond the threshold
// (loud) and above it, and whether the code is the last the unit has (clipped).
struct CodeTraits
{
    int units = 0;
    float magnitude = 0;
    bool loud = false;
    bool above = false;
    bool extreme = false;
};

// A channel's samples as the volts the readouts show less the background mean, through a table
// by code, and the codes whose value stays within the threshold: an interval, since the
// value grows with the code.
struct ChannelValues
{
    const WaveChannel* channel = nullptr;
    bool detector = false;
    double voltsPerUnit = 0;
    double meanUnits = 0; // taken off ordinary data
    CodeTraits traits[256]; // by code + 128
    int quietLow = 128;
    int quietHigh = -129;
};

void setValues(ChannelValues& values, const WaveStore& record, int channel)
{
    values.channel = record.channel(channel);
    const int gain = record.channelSlots[channel].header.gainCode;
    values.detector = values.channel->detectorOffset;
    values.voltsPerUnit = sampleAmplitude(1, gain, false, true) / 2;
}

void setThreshold(ChannelValues& values, double meanUnits, double threshold)
{
    values.meanUnits = values.detector ? 0 : meanUnits;
    values.quietLow = 128;
    values.quietHigh = -129;
    for (int code = -128; code < 128; ++code) {
        CodeTraits& traits = values.traits[code + 128];
        traits.units = values.detector ? code + 128 : 2 * code;
        const double v = (traits.units - values.meanUnits) * values.voltsPerUnit;
        traits.magnitude = float(std::fabs(v));
        traits.above = v > threshold;
        traits.loud = !(std::fabs(v) <= threshold);
        traits.extreme = code == 127 || (code == -128 && !values.detector);
        if (!traits.loud) {
            values.quietLow = std::min(values.quietLow, code);
            values.quietHigh = code;
        }
    }
}

// The first sample of from ... end - 1 beyond the threshold, or end. Noise is passed over 64
// codes at a time with byte comparisons, which the compiler turns into vector instructions,
// twice as wide where the processor has AVX2.
__attribute__((target_clones("avx2", "default"))) int nextLoud(
    const ChannelValues& values, int from, int end)
{
    if (values.quietHigh < values.quietLow)
        return from;
    const quint8 low = quint8(values.quietLow);
    const quint8 span = quint8(values.quietHigh - values.quietLow);
    const auto loud = [low, span](qint8 code) { return quint8(quint8(code) - low) > span; };
    constexpr int size = WaveChannel::blockSize;
    for (int k = from; k < end;) {
        const int base = k / size * size;
        const qint8* block = values.channel->blocks[k / size];
        const int stop = std::min(end, base + size) - base;
        int j = k - base;
        for (; j + 64 <= stop; j += 64) {
            quint8 any = 0;
            for (int m = 0; m < 64; ++m)
                any |= quint8(loud(block[j + m]));
            if (any)
                break;
        }
        for (; j < stop; ++j)
            if (loud(block[j]))
                return base + j;
        k = base + stop;
    }
    return end;
}

// The sums of the units and of their squares over samples from ... to - 1, block by block
// (vector instructions do the arithmetic).
struct UnitSums
{
    qint64 sum = 0;
    qint64 squares = 0;
};

UnitSums unitSums(const ChannelValues& values, int from, int to)
{
    UnitSums sums;
    for (int k = from; k < to;) {
        qint8* codes = nullptr;
        const int n = std::min(to - k, values.channel->blockAt(k, &codes));
        const int shift = values.detector ? 128 : 0;
        const int scale = values.detector ? 1 : 2;
        // Pieces of 16384 codes keep the sums within 32 bits (a square is at most 65536).
        for (int from = 0; from < n; from += 16384) {
            const int to = std::min(n, from + 16384);
            int sum = 0;
            quint32 squares = 0;
            for (int j = from; j < to; ++j) {
                const int units = scale * (codes[j] + shift);
                sum += units;
                squares += quint32(units * units);
            }
            sums.sum += sum;
            sums.squares += squares;
        }
        k += n;
    }
    return sums;
}

// The sum of the squared values (units less the mean) of samples from ... to - 1.
double squaredValues(const ChannelValues& values, int from, int to)
{
    const UnitSums sums = unitSums(values, from, to);
    const double m = values.meanUnits;
    return std::max(0.0, double(sums.squares) - 2 * m * double(sums.sum) + m * m * (to - from));
}

double rmsOf(const ChannelValues& values, int from, int to)
{
    if (to <= from)
        return 0;
    return std::sqrt(squaredValues(values, from, to) / (to - from)) * values.voltsPerUnit;
}

// The background of samples first ... end - 1 in units, from short stretches of them (at most
// 256, evenly spread): where hits come often, few stretches are free of them, so the quietest
// tenth stands for the background. Their mean, and the tenth's variance scaled to the whole of
// Gaussian noise's (Wilson and Hilferty's quantile of the chi-square distribution of a stretch's
// variance).
void measureBackground(
    const ChannelValues& values, int first, int end, double& meanUnits, double& variance)
{
    const int count = end - first;
    const int length = std::clamp(count / 8, 4, 32);
    const int all = std::max(1, count / length);
    const int stretches = std::min(all, 256);
    std::vector<std::pair<double, double>> stats(static_cast<size_t>(stretches)); // variance, mean
    const int shift = values.detector ? 128 : 0;
    const double scale = values.detector ? 1 : 2;
    for (int b = 0; b < stretches; ++b) {
        const int from = first + int(qint64(all) * b / stretches) * length;
        const int to = from + length <= end && b + 1 < all ? from + length : end;
        qint8* codes = nullptr;
        double mean = 0;
        double meanSquare = 0;
        if (values.channel->blockAt(from, &codes) >= to - from) {
            // Codes of one block: summed as they are, then brought to units.
            int sum = 0;
            int squares = 0;
            for (int j = 0; j < to - from; ++j) {
                sum += codes[j];
                squares += codes[j] * codes[j];
            }
            const double codeMean = double(sum) / (to - from);
            mean = scale * (codeMean + shift);
            meanSquare = scale * scale
                * (double(squares) / (to - from) + 2 * shift * codeMean + double(shift) * shift);
        } else {
            const UnitSums sums = unitSums(values, from, to);
            mean = double(sums.sum) / (to - from);
            meanSquare = double(sums.squares) / (to - from);
        }
        stats[size_t(b)] = { std::max(0.0, meanSquare - mean * mean), mean };
    }
    const size_t tenth = size_t(stretches) / 10;
    std::nth_element(stats.begin(), stats.begin() + qsizetype(tenth), stats.end());
    double sum = 0;
    for (size_t b = 0; b <= tenth; ++b)
        sum += stats[b].second;
    meanUnits = sum / double(tenth + 1);
    const double dof = length - 1;
    const double z = tenth == 0 ? 0 : -1.2816; // the 10 % point of the normal distribution
    const double share = std::pow(1 - 2 / (9 * dof) + z * std::sqrt(2 / (9 * dof)), 3);
    variance = stats[tenth].first / std::max(share, 0.1);
}

// Samples first ... end - 1 of source through a second-order Butterworth high-pass filter at
// cutoff Hz, as codes (rounded, kept within the codes) of a channel of their own; the filter
// starts settled on the first sample.
std::unique_ptr<WaveChannel> highPassed(
    const WaveChannel& source, int first, int end, double cutoff, double rate)
{
    auto filtered = std::make_unique<WaveChannel>(end);
    if (!filtered->allocate())
        return nullptr;
    const double w = 2 * M_PI * cutoff / rate;
    const double alpha = std::sin(w) / std::sqrt(2.0);
    const double a0 = 1 + alpha;
    const double b0 = (1 + std::cos(w)) / 2 / a0;
    const double b1 = -2 * b0;
    const double a1 = -2 * std::cos(w) / a0;
    const double a2 = (1 - alpha) / a0;
    double x1 = source.sample(first);
    double x2 = x1;
    double y1 = 0;
    double y2 = 0;
    for (int k = first; k < end; ++k) {
        const double x = source.sample(k);
        const double y = b0 * x + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2;
        filtered->setSample(k, qint8(std::clamp(std::lround(y), -128L, 127L)));
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
    }
    return filtered;
}

// A hit from its first crossing on, up to sample end: its last crossing, peak, counts and
// energy. The loop selects instead of branching, as the signal crosses the threshold too
// often for branches to be foreseen, and passes over quiet stretches as the search for a hit
// does (they change nothing but the energy, summed afterwards).
Hit followHit(const ChannelValues& values, int start, int end, int hdt, int pdt, double dt)
{
    constexpr int quietRun = 16;
    Hit hit;
    hit.arrival = hit.last = hit.peak = start;
    float peakMagnitude = values.traits[values.channel->sample(start) + 128].magnitude;
    bool peakStands = false;
    bool previousAbove = false;
    const int stepLimit = std::min(hdt, quietRun);
    for (int k = start; k < end && k - hit.last <= hdt;) {
        if (k - hit.last > stepLimit) {
            const int limit = std::min(end, hit.last + hdt + 1);
            k = nextLoud(values, k, limit);
            previousAbove = false;
            if (k >= limit)
                break;
        }
        qint8* codes = nullptr;
        const int stop = std::min(end, k + values.channel->blockAt(k, &codes));
        for (int j = 0; k < stop; ++j) {
            const CodeTraits& code = values.traits[codes[j] + 128];
            hit.counts += code.above && !previousAbove ? 1 : 0;
            previousAbove = code.above;
            hit.clipped = hit.clipped || code.extreme;
            hit.last = code.loud ? k : hit.last;
            peakStands = peakStands || (code.loud && k - hit.peak > pdt);
            const bool larger = code.loud && !peakStands && code.magnitude > peakMagnitude;
            hit.peak = larger ? k : hit.peak;
            peakMagnitude = larger ? code.magnitude : peakMagnitude;
            if (++k - hit.last > stepLimit)
                break;
        }
    }
    // The peak's value worked out again in double precision.
    hit.peakVolts = std::fabs(values.traits[values.channel->sample(hit.peak) + 128].units
                        - values.meanUnits)
        * values.voltsPerUnit;
    hit.energy = squaredValues(values, hit.arrival, hit.last + 1) * values.voltsPerUnit
        * values.voltsPerUnit * dt;
    return hit;
}

// The Akaike onset over from ... to - 1, at latest at sample latest. The picker weighs
// variances only, which a code's value changes by a constant factor and offset: it weighs
// the codes themselves.
int onsetBetween(const ChannelValues& values, int from, int to, int latest)
{
    thread_local std::vector<qint8> window;
    window.resize(size_t(std::max(0, to - from)));
    for (int k = from; k < to;) {
        qint8* codes = nullptr;
        const int count = std::min(to - k, values.channel->blockAt(k, &codes));
        std::memcpy(window.data() + (k - from), codes, size_t(count));
        k += count;
    }
    return from + akaikeOnset(window.data(), int(window.size()), latest - from);
}

} // namespace

double decibelsAe(double volts, double preampDb)
{
    return 20.0 * std::log10(volts / 1e-6) - preampDb;
}

double voltsOfDecibelsAe(double decibels, double preampDb)
{
    return 1e-6 * std::pow(10.0, (decibels + preampDb) / 20.0);
}

namespace {

// The Akaike criterion k log var(x[0..k]) + (n - k - 1) log var(x[k+1 .. n-1]) at every split
// k = 1 ... splits - 1 of the n samples whose running sums and sums of squares are given, into
// criterion[k] (before and after hold the variances on the way): the picker's main cost, in
// loops the compiler turns into vector instructions, twice as wide where the processor has
// AVX2. A side of m samples has the variance (m sum(x^2) - sum(x)^2) / m^2, whose logarithm
// takes the logarithm of m from a table. Returns the least criterion.
__attribute__((target_clones("avx2", "default"))) float akaikeCriterion(const qint32* sum,
    const qint32* squares, const float* logOfCount, int n, int splits, float* before, float* after,
    float* criterion)
{
    const auto spread = [&](int from, int to) { // m^2 var(x[from .. to - 1]), m = to - from
        const double s = double(sum[to] - sum[from]);
        const double v = double(to - from) * double(squares[to] - squares[from]) - s * s;
        return float(v > 0.5 ? v : 0.5);
    };
    for (int k = 1; k < splits; ++k) {
        before[k] = spread(0, k + 1);
        after[k] = spread(k + 1, n);
    }
    for (int k = 1; k < splits; ++k) {
        const float left = logOfPositive(before[k]) - 2 * logOfCount[k + 1];
        const float right = logOfPositive(after[k]) - 2 * logOfCount[n - k - 1];
        criterion[k] = float(k) * left + float(n - k - 1) * right;
    }
    // The least of them, lane by lane first.
    constexpr int lanes = 8;
    float least[lanes];
    for (float& l : least)
        l = HUGE_VALF;
    int k = 1;
    for (; k + lanes <= splits; k += lanes)
        for (int j = 0; j < lanes; ++j)
            least[j] = criterion[k + j] < least[j] ? criterion[k + j] : least[j];
    for (; k < splits; ++k)
        least[0] = std::min(least[0], criterion[k]);
    return *std::min_element(least, least + lanes);
}

} // namespace

int akaikeOnset(const qint8* codes, int n, int latest)
{
    n = std::min(n, maxAkaikeSamples);
    const int splits = std::min(n - 2, latest); // k = 1 ... splits - 1
    if (n < 4 || splits <= 1)
        return 0;
    // Running sums in whole numbers give each side's variance at every split; the buffers
    // are kept from one hit to the next.
    thread_local std::vector<qint32> sums;
    thread_local std::vector<float> values;
    thread_local std::vector<float> logOfCount { 0 };
    sums.resize(2 * (size_t(n) + 1));
    values.resize(3 * size_t(splits));
    for (int m = int(logOfCount.size()); m <= n; ++m)
        logOfCount.push_back(std::log(float(m)));
    qint32* sum = sums.data();
    qint32* squares = sum + n + 1;
    // The running sums in registers: the codes' bytes could alias the sums in memory.
    qint32 running = 0;
    qint32 runningSquares = 0;
    sum[0] = squares[0] = 0;
    for (int i = 0; i < n; ++i) {
        running += codes[i];
        runningSquares += codes[i] * codes[i];
        sum[i + 1] = running;
        squares[i + 1] = runningSquares;
    }
    float* criterion = values.data();
    const float lowest = akaikeCriterion(sum, squares, logOfCount.data(), n, splits,
        criterion + splits, criterion + 2 * splits, criterion);
    int best = 1;
    while (best < splits - 1 && criterion[best] != lowest)
        ++best;
    return best + 1; // the first sample of the second part
}

QList<Hit> findHits(const WaveStore& record, int channel, int first, int count,
    const HitSettings& settings, ChannelBackground* background)
{
    QList<Hit> hits;
    const double rate = sampleRateHz(record);
    if (!record.channel(channel) || rate <= 0 || first < 0 || count <= 0
        || count > record.sampleCount() - first)
        return hits;
    ChannelValues values;
    setValues(values, record, channel);
    const int end = first + count;
    std::unique_ptr<WaveChannel> filtered;
    if (settings.highPassKhz > 0 && !values.detector) {
        filtered = highPassed(*values.channel, first, end, settings.highPassKhz * 1e3, rate);
        if (!filtered)
            return hits;
        values.channel = filtered.get();
    }
    double meanUnits = 0;
    double variance = 0;
    measureBackground(values, first, end, meanUnits, variance);
    // The floating threshold lies over the noise about the mean of ordinary data, and over
    // the envelope's own level on detector data.
    const double codeVolts = values.voltsPerUnit * (values.detector ? 1 : 2);
    const double noise = (values.detector ? meanUnits : std::sqrt(variance)) * values.voltsPerUnit;
    const bool floating = settings.floatingDb >= 0;
    const double threshold = floating
        ? std::max(noise * std::pow(10.0, settings.floatingDb / 20), floatingFloorCodes * codeVolts)
        : settings.thresholdVolts;
    setThreshold(values, meanUnits, threshold);
    if (background) {
        *background = ChannelBackground();
        background->meanVolts = values.detector ? 0 : meanUnits * values.voltsPerUnit;
        background->rmsVolts = std::sqrt(variance) * values.voltsPerUnit;
        background->thresholdVolts = threshold;
        if (!floating) {
            const int warnings = (threshold < codeVolts ? ChannelBackground::belowOneCode : 0)
                | (threshold < 3 * background->rmsVolts ? ChannelBackground::belowNoise : 0)
                | (thresholdBeyondScale(record, channel, threshold)
                        ? ChannelBackground::aboveFullScale
                        : 0);
            background->warnings = warnings;
        }
    }
    const int hdt = samplesOf(settings.hdtMicros, rate);
    const int hlt = samplesOf(settings.hltMicros, rate);
    const int pdt = samplesOf(settings.pdtMicros, rate);
    int previousEnd = first;
    for (int k = nextLoud(values, first, end); k < end;) {
        Hit hit = followHit(values, k, end, hdt, pdt, 1.0 / rate);
        hit.channel = channel;
        const int before = std::max(previousEnd, hit.arrival - std::max(hdt, 64));
        hit.backgroundRms = rmsOf(values, before, hit.arrival);
        // The picker's window: up to 256 samples of the quiet stretch before the crossing, and
        // a little of the hit.
        const int from = std::max(before, hit.arrival - pickerLead);
        const int to = std::min(hit.last + 1, hit.arrival + std::max(pdt / 2, 8));
        hit.onset = std::clamp(onsetBetween(values, from, to, hit.arrival), from, hit.arrival);
        hits.append(hit);
        previousEnd = hit.last + 1;
        // The hit ends a definition time after its last crossing; crossings within the lockout
        // after that start no new one.
        k = nextLoud(values, int(std::min<qint64>(end, qint64(hit.last) + 1 + hdt + hlt)), end);
    }
    return hits;
}

QList<int> groupEvents(const QList<Hit>& hits, double window, double rate)
{
    QList<int> events;
    int event = -1;
    int eventStart = 0;
    QList<int> channels;
    for (const Hit& hit : hits) {
        const bool joins = event >= 0 && (hit.onset - eventStart) / rate <= window
            && !channels.contains(hit.channel);
        if (!joins) {
            ++event;
            eventStart = hit.onset;
            channels.clear();
        }
        channels.append(hit.channel);
        events.append(event);
    }
    return events;
}

bool thresholdBeyondScale(const WaveStore& record, int channel, double thresholdVolts)
{
    const WaveChannel* c = record.channel(channel);
    const double largest = c
        ? sampleAmplitude(c->detectorOffset ? 127 : -128,
            record.channelSlots[channel].header.gainCode, c->detectorOffset, true)
        : 0;
    return std::fabs(largest) < thresholdVolts;
}

double linearPosition(double ta, double tb, double spacing, double speed)
{
    return (spacing - speed * (tb - ta)) / 2.0;
}

namespace {

// How far the onsets miss a source at p: sensor i's misfit c (t_i - t_0) - d_i less their
// weighted mean (the emission time that fits best), in metres, with its derivatives by x and
// y, each times the root of its weight (weights of mean one); and the weighted sum of the
// squared times' misfits.
struct Misfit
{
    std::array<double, 8> r, jx, jy;
    double sum = 0;
};

void evaluate(const QList<QPointF>& sensors, const QList<double>& times, const double* weights,
    int n, double speed, double size, QPointF p, Misfit& m)
{
    double meanR = 0, meanX = 0, meanY = 0;
    for (int i = 0; i < n; ++i) {
        const double dx = p.x() - sensors[i].x();
        const double dy = p.y() - sensors[i].y();
        const double d = std::max(std::sqrt(dx * dx + dy * dy), size * 1e-9);
        m.r[size_t(i)] = speed * (times[i] - times[0]) - d;
        m.jx[size_t(i)] = -dx / d;
        m.jy[size_t(i)] = -dy / d;
        meanR += weights[i] * m.r[size_t(i)];
        meanX += weights[i] * m.jx[size_t(i)];
        meanY += weights[i] * m.jy[size_t(i)];
    }
    meanR /= n;
    meanX /= n;
    meanY /= n;
    m.sum = 0;
    for (int i = 0; i < n; ++i) {
        const double root = std::sqrt(weights[i]);
        m.r[size_t(i)] = root * (m.r[size_t(i)] - meanR);
        m.jx[size_t(i)] = root * (m.jx[size_t(i)] - meanX);
        m.jy[size_t(i)] = root * (m.jy[size_t(i)] - meanY);
        m.sum += m.r[size_t(i)] * m.r[size_t(i)];
    }
    m.sum /= speed * speed;
}

// Damped Gauss-Newton steps from start, in metres, with the onsets weighed by weights (of mean
// one). Returns where they end, with its misfit (the weighted sum of the squared times'
// misfits) in misfit.
QPointF descend(const QList<QPointF>& sensors, const QList<double>& times, const double* weights,
    int n, double speed, double size, QPointF best, double& misfit)
{
    Misfit here;
    Misfit there;
    evaluate(sensors, times, weights, n, speed, size, best, here);
    double damping = 1e-3;
    for (int iteration = 0; iteration < 30 && damping < 1e9; ++iteration) {
        double a11 = 0, a12 = 0, a22 = 0, g1 = 0, g2 = 0;
        for (size_t i = 0; i < size_t(n); ++i) {
            a11 += here.jx[i] * here.jx[i];
            a12 += here.jx[i] * here.jy[i];
            a22 += here.jy[i] * here.jy[i];
            g1 += here.jx[i] * here.r[i];
            g2 += here.jy[i] * here.r[i];
        }
        a11 *= 1 + damping;
        a22 *= 1 + damping;
        const double det = a11 * a22 - a12 * a12;
        if (!(std::fabs(det) > 0))
            break;
        const QPointF step(-(a22 * g1 - a12 * g2) / det, -(a11 * g2 - a12 * g1) / det);
        evaluate(sensors, times, weights, n, speed, size, best + step, there);
        if (there.sum < here.sum) {
            best += step;
            std::swap(here, there);
            damping /= 10;
            if (std::hypot(step.x(), step.y()) < size * 1e-6)
                break;
        } else {
            damping *= 10;
        }
    }
    misfit = here.sum;
    return best;
}

// The grid over sensors' surroundings that starts the planar search: their bounding box and
// half its size around it, so that a source a little outside is found too; with the travel
// time from each of its points to each sensor. These are the same for every event of a
// set-up: a thread keeps the last few set-ups' grids.
struct PlanarGrid
{
    static constexpr int steps = 8;
    static constexpr int side = steps + 1;
    static constexpr int points = side * side;
    static constexpr int maxSensors = 8;
    QList<QPointF> sensors;
    double speed = 0;
    double size = 0;
    double cell = 0;
    QPointF corner;
    std::array<std::array<double, points>, maxSensors> travel;

    QPointF point(int i) const { return corner + QPointF(i / side * cell, i % side * cell); }
};

const PlanarGrid& planarGrid(const QList<QPointF>& sensors, int n, double speed)
{
    constexpr int kept = 8;
    thread_local std::array<PlanarGrid, kept> grids;
    thread_local int next = 0;
    for (const PlanarGrid& grid : grids)
        if (grid.speed == speed && grid.sensors.size() == n
            && std::equal(grid.sensors.begin(), grid.sensors.end(), sensors.begin()))
            return grid;
    PlanarGrid& grid = grids[size_t(next)];
    next = (next + 1) % kept;
    grid.sensors = sensors.first(n);
    const QRectF box = boundingBox(grid.sensors);
    grid.speed = speed;
    grid.size = std::max({ box.width(), box.height(), 1e-9 });
    grid.cell = 2 * grid.size / PlanarGrid::steps;
    grid.corner = box.center() - QPointF(grid.size, grid.size);
    for (int s = 0; s < n; ++s)
        for (int i = 0; i < PlanarGrid::points; ++i) {
            const QPointF d = grid.point(i) - sensors[s];
            grid.travel[size_t(s)][size_t(i)] = std::hypot(d.x(), d.y()) / speed;
        }
    return grid;
}

} // namespace

PlanarFix planarPosition(const QList<QPointF>& sensors, const QList<double>& times, double speed,
    double enoughSeconds, const QList<double>& weights)
{
    PlanarFix fix;
    const int n = int(std::min<qsizetype>(
        std::min(sensors.size(), times.size()), qsizetype(PlanarGrid::maxSensors)));
    if (n < 3 || speed <= 0)
        return fix;
    // The weights brought to a mean of one, so that the misfit stays a sum of n squares; the
    // grid and its descents weigh the onsets alike.
    std::array<double, PlanarGrid::maxSensors> w;
    std::array<double, PlanarGrid::maxSensors> alike;
    double total = 0;
    for (int s = 0; s < n; ++s) {
        w[size_t(s)] = weights.size() >= n && weights[s] > 0 ? weights[s] : 1;
        alike[size_t(s)] = 1;
        total += w[size_t(s)];
    }
    for (int s = 0; s < n; ++s)
        w[size_t(s)] *= n / total;
    const PlanarGrid& grid = planarGrid(sensors, n, speed);
    const double size = grid.size;
    constexpr int points = PlanarGrid::points;
    // The grid's misfits sensor by sensor over all its points, in loops of plain arithmetic the
    // compiler turns into vector instructions.
    std::array<double, points> mean, square, misfits;
    // Times from the first onset, so that the sums stay as small as the misfits they take.
    for (int i = 0; i < points; ++i) {
        const double r = -grid.travel[0][size_t(i)];
        mean[size_t(i)] = r;
        square[size_t(i)] = r * r;
    }
    for (int s = 1; s < n; ++s) {
        const double t = times[s] - times[0];
        const std::array<double, points>& travel = grid.travel[size_t(s)];
        for (int i = 0; i < points; ++i) {
            const double r = t - travel[size_t(i)];
            mean[size_t(i)] += r;
            square[size_t(i)] += r * r;
        }
    }
    const double share = 1.0 / n;
    for (int i = 0; i < points; ++i)
        misfits[size_t(i)] = square[size_t(i)] - mean[size_t(i)] * mean[size_t(i)] * share;
    // The best few points of the grid each start a descent, so that a valley of the misfit
    // running out of the sensors' square does not take the fix away from the source; a fix
    // within enoughSeconds of every onset needs no further one.
    constexpr int starts = 3;
    std::array<int, starts> order;
    std::array<double, starts> least;
    order.fill(-1);
    least.fill(HUGE_VAL);
    for (int i = 0; i < points; ++i) {
        const double m = misfits[size_t(i)];
        if (!(m < least[starts - 1]))
            continue;
        int k = starts - 1;
        for (; k > 0 && m < least[size_t(k - 1)]; --k) {
            least[size_t(k)] = least[size_t(k - 1)];
            order[size_t(k)] = order[size_t(k - 1)];
        }
        least[size_t(k)] = m;
        order[size_t(k)] = i;
    }
    const QRectF reach(grid.corner, QSizeF(2 * size, 2 * size));
    double bestMisfit = HUGE_VAL;
    for (int k = 0; k < starts; ++k) {
        const int i = order[size_t(k)];
        if (i < 0)
            break;
        double misfit = 0;
        const QPointF p
            = descend(sensors, times, alike.data(), n, speed, size, grid.point(i), misfit);
        if (misfit < bestMisfit) {
            bestMisfit = misfit;
            fix.position = p;
        }
        if (bestMisfit <= n * enoughSeconds * enoughSeconds && reach.contains(fix.position))
            break;
    }
    // The onsets weighed from there: the fix moves within the valley the grid found (weighed
    // from the start, the grid's best points could all lie in a valley beyond a sensor when a
    // source is near it).
    if (std::any_of(w.begin(), w.begin() + n, [&w](double weight) { return weight != w[0]; }))
        fix.position = descend(sensors, times, w.data(), n, speed, size, fix.position, bestMisfit);
    fix.residualMetres = speed * std::sqrt(bestMisfit / n);
    return fix;
}

QRectF boundingBox(const QList<QPointF>& places)
{
    if (places.isEmpty())
        return QRectF();
    QRectF box(places.first(), QSizeF(0, 0));
    for (const QPointF& place : places) {
        box.setLeft(std::min(box.left(), place.x()));
        box.setRight(std::max(box.right(), place.x()));
        box.setTop(std::min(box.top(), place.y()));
        box.setBottom(std::max(box.bottom(), place.y()));
    }
    return box;
}

QString planarProblem(const QList<QPointF>& places)
{
    if (places.size() < 3)
        return QStringLiteral("planar location needs three or more sensors");
    for (const QPointF& p : places)
        if (!(std::fabs(p.x()) <= maxSensorMetres && std::fabs(p.y()) <= maxSensorMetres))
            return QStringLiteral("a sensor's place lies beyond %1 m").arg(maxSensorMetres);
    for (int i = 0; i < places.size(); ++i)
        if (places.indexOf(places[i]) != i)
            return QStringLiteral("two sensors stand at one place");
    // Twice the area of the largest triangle of places, against the square of their extent:
    // nothing when they all stand on one line.
    double largest = 0;
    double extent = 0;
    for (const QPointF& a : places)
        for (const QPointF& b : places) {
            extent = std::max(extent, std::hypot(b.x() - a.x(), b.y() - a.y()));
            for (const QPointF& c : places)
                largest = std::max(largest,
                    std::fabs(
                        (b.x() - a.x()) * (c.y() - a.y()) - (b.y() - a.y()) * (c.x() - a.x())));
        }
    if (largest <= 1e-9 * extent * extent)
        return QStringLiteral("the sensors stand on one line");
    return QString();
}

double coincidenceWindow(const HitQuery& query, double rate)
{
    if (query.windowSeconds >= 0)
        return query.windowSeconds;
    if (!query.locates())
        return 0;
    double aperture = query.planar() ? 0 : query.spacingMetres;
    for (const QPointF& a : query.sensors)
        for (const QPointF& b : query.sensors)
            if (query.planar())
                aperture = std::max(aperture, std::hypot(a.x() - b.x(), a.y() - b.y()));
    return 1.1 * aperture / query.speedMps + 10 / rate;
}

void hitFrequencies(const WaveStore& record, int channel, int first, int last, double& peakHz,
    double& centroidHz)
{
    peakHz = centroidHz = -1;
    const WaveChannel* source = record.channel(channel);
    const double rate = sampleRateHz(record);
    const int count = std::min(last - first + 1, 4096);
    if (!source || rate <= 0 || count < 4 || first < 0 || first + count > record.sampleCount())
        return;
    int e = 2;
    while ((1 << e) < count)
        ++e;
    const int n = 1 << e;
    FftArray re(newFftArray(n));
    FftArray im(newFftArray(n));
    if (!re || !im)
        return;
    double mean = 0;
    for (int k = 0; k < count; ++k)
        mean += source->sample(first + k);
    mean /= count;
    for (int k = 0; k < n; ++k) {
        re[k] = k < count ? float(source->sample(first + k) - mean) : 0.0f;
        im[k] = 0;
    }
    forwardFft(e, re.get(), im.get(), nullptr);
    double largest = 0;
    double weighted = 0;
    double total = 0;
    for (int b = 1; b <= n / 2; ++b) {
        const double magnitude = std::hypot(double(re[b]), double(im[b]));
        const double hz = b * rate / n;
        if (magnitude > largest) {
            largest = magnitude;
            peakHz = hz;
        }
        weighted += hz * magnitude;
        total += magnitude;
    }
    centroidHz = total > 0 ? weighted / total : -1;
}

namespace {

// The located sensors of a query: channels with their places (a line's pair on the x axis).
struct SensorLayout
{
    QList<int> channels;
    QList<QPointF> places;
};

SensorLayout sensorLayout(const HitQuery& query)
{
    SensorLayout layout;
    if (query.planar()) {
        for (int c = 0; c < query.sensors.size(); ++c) {
            layout.channels << c;
            layout.places << query.sensors[c];
        }
    } else if (query.locates()) {
        layout.channels << query.pair[0] << query.pair[1];
        layout.places << QPointF(0, 0) << QPointF(query.spacingMetres, 0);
    }
    return layout;
}

// The event's first onsets (seconds) by channel, each with its hit's weight in a planar fix:
// the square of its peak over the background (an onset's uncertainty falls with that ratio).
struct Onset
{
    double seconds = 0;
    double weight = 1;
};
using Onsets = std::map<int, Onset>;

// Whether some two onsets lie further apart than the wave takes between their sensors, with a
// tenth more and slack seconds for the onsets' uncertainty: no source explains them.
bool fasterThanTheWave(
    const QList<QPointF>& places, const QList<double>& times, double speed, double slack)
{
    for (int i = 0; i < places.size(); ++i)
        for (int j = 0; j < i; ++j) {
            const QPointF d = places[i] - places[j];
            if (std::fabs(times[i] - times[j]) > 1.1 * std::hypot(d.x(), d.y()) / speed + slack)
                return true;
        }
    return false;
}

// A hit's weight in a planar fix: the square of its peak over the background before it, at
// most 40 dB (beyond, the sampling rather than the noise limits the onset).
double onsetWeight(const Hit& hit)
{
    constexpr double best = 100;
    const double ratio = hit.backgroundRms > 0 ? hit.peakVolts / hit.backgroundRms : best;
    return std::pow(std::clamp(ratio, 1.0, best), 2);
}

// Where an event's source is, by its onsets at the located sensors, sampled at rate: they are
// taken as uncertain by ten samples, and a fix within a sample of them as good as they allow.
void locate(HitRow& row, const Onsets& onsets, const HitQuery& query, const SensorLayout& layout,
    double rate)
{
    QList<QPointF> places;
    QList<double> times;
    QList<double> weights;
    double firstTime = HUGE_VAL;
    for (int s = 0; s < layout.channels.size(); ++s) {
        const auto found = onsets.find(layout.channels[s]);
        if (found == onsets.end())
            continue;
        places << layout.places[s];
        times << found->second.seconds;
        weights << found->second.weight;
        if (found->second.seconds < firstTime) {
            firstTime = found->second.seconds;
            row.zone = layout.channels[s];
        }
    }
    const double c = query.speedMps;
    if (!query.planar()) {
        row.located = times.size() == 2;
        if (row.located)
            row.positionMetres = linearPosition(onsets.at(query.pair[0]).seconds,
                onsets.at(query.pair[1]).seconds, query.spacingMetres, c);
        return;
    }
    if (fasterThanTheWave(places, times, c, 10 / rate))
        return;
    if (times.size() >= 3) {
        // A fix beyond the grid's reach (the sensors' box and half its size around) comes of
        // onsets no source explains (a wave faster than the speed, hits of different sources):
        // the event is not located.
        const PlanarFix fix = planarPosition(places, times, c, 1 / rate, weights);
        const QRectF box = boundingBox(layout.places);
        const double margin = std::max(box.width(), box.height()) / 2;
        const QPointF f = fix.position;
        if (!(f.x() >= box.left() - margin && f.x() <= box.right() + margin
                && f.y() >= box.top() - margin && f.y() <= box.bottom() + margin))
            return;
        row.x = fix.position.x();
        row.y = fix.position.y();
        row.residualMetres = fix.residualMetres;
        row.located = row.inPlane = true;
    } else if (times.size() == 2) {
        // On the line between the two: from the first of them, half of what the distance
        // exceeds the wave's lead.
        const QPointF a = places[0];
        const QPointF b = places[1];
        const double d = std::hypot(b.x() - a.x(), b.y() - a.y());
        const double along = linearPosition(times[0], times[1], d, c);
        const QPointF p = a + (b - a) * (d > 0 ? along / d : 0);
        row.x = p.x();
        row.y = p.y();
        row.located = row.inPlane = true;
    }
}

// The hits of the query's channels over count samples, and their backgrounds, by channel
// (none for the channels not asked). The channels are searched side by side: by this thread
// and by the threads of a pool of the search's own, kept from search to search (starting a
// thread takes as long as searching a channel of a short record). A helper that starts late
// finds every channel taken and touches nothing else; this thread waits for the channels,
// not for the helpers, so that it never waits for one that cannot run (as in a forked child).
void searchChannels(const WaveStore& record, const HitQuery& query, int count,
    std::vector<QList<Hit>>& hits, std::vector<ChannelBackground>& backgrounds)
{
    struct Progress
    {
        std::atomic<int> next { 0 };
        QSemaphore searched;
    };
    static QThreadPool pool;
    const int channels = record.channelCount();
    hits.assign(size_t(channels), QList<Hit>());
    backgrounds.assign(size_t(channels), ChannelBackground());
    const auto progress = std::make_shared<Progress>();
    const auto search = [progress, channels, &record, &query, count, &hits, &backgrounds] {
        for (int c = progress->next++; c < channels; c = progress->next++) {
            if (query.channels.isEmpty() || query.channels.contains(c))
                hits[size_t(c)] = findHits(
                    record, c, query.first, count, query.settings, &backgrounds[size_t(c)]);
            progress->searched.release();
        }
    };
    const int helpers = std::min(QThread::idealThreadCount(), channels) - 1;
    for (int h = 0; h < helpers; ++h)
        pool.start(search);
    search();
    progress->searched.acquire(channels);
}

} // namespace

bool tabulateHits(const WaveStore& record, const HitQuery& query, QList<HitRow>& rows,
    QString& cause, HitFacts* facts)
{
    rows.clear();
    const double rate = sampleRateHz(record);
    const int count = query.count < 0 ? record.sampleCount() - query.first : query.count;
    if (!checkRecordNumbers(record, cause))
        return false;
    if (rate <= 0 || query.first < 0 || count < 0 || count > record.sampleCount() - query.first) {
        cause = rate <= 0 ? QStringLiteral("the record has no sampling frequency")
                          : QStringLiteral("the samples asked for are not in the record");
        return false;
    }
    if (query.settings.highPassKhz * 1e3 >= rate / 2) {
        cause = QStringLiteral("the high-pass cut-off must lie below half the sampling frequency");
        return false;
    }
    const SensorLayout layout = sensorLayout(query);
    QList<int> asked = query.channels + layout.channels;
    for (const int c : asked)
        if (c < 0 || c >= record.channelCount()) {
            cause = QStringLiteral("the record has no channel %1").arg(c + 1);
            return false;
        }
    std::vector<QList<Hit>> byChannel;
    std::vector<ChannelBackground> backgrounds;
    searchChannels(record, query, count, byChannel, backgrounds);
    QList<Hit> found;
    if (facts)
        *facts = HitFacts();
    for (int c = 0; c < record.channelCount(); ++c) {
        found += byChannel[size_t(c)];
        if (facts) {
            const bool asked = query.channels.isEmpty() || query.channels.contains(c);
            facts->detector = facts->detector || (asked && record.channel(c)->detectorOffset);
            facts->channels << backgrounds[size_t(c)];
        }
    }
    std::stable_sort(found.begin(), found.end(),
        [](const Hit& a, const Hit& b) { return a.arrival < b.arrival; });
    const QList<int> events = groupEvents(found, coincidenceWindow(query, rate), rate);
    int firstOnset = 0; // the event's earliest
    HitRow source; // the event's location, worked out at its first hit
    for (int h = 0; h < found.size(); ++h) {
        if (h == 0 || events[h] != events[h - 1]) {
            // Each channel's onset in the event. Onsets, not crossings: a weaker sensor
            // crosses the threshold later in its wave.
            Onsets onsets;
            firstOnset = found[h].onset;
            for (int o = h; o < found.size() && events[o] == events[h]; ++o) {
                onsets[found[o].channel] = { found[o].onset / rate, onsetWeight(found[o]) };
                firstOnset = std::min(firstOnset, found[o].onset);
            }
            source = HitRow();
            if (query.locates())
                locate(source, onsets, query, layout, rate);
        }
        HitRow row = source;
        row.hit = found[h];
        if (query.frequencies && !record.channel(row.hit.channel)->detectorOffset)
            hitFrequencies(record, row.hit.channel, row.hit.arrival, row.hit.last,
                row.hit.peakHz, row.hit.centroidHz);
        row.event = events[h];
        row.dtSeconds = (found[h].onset - firstOnset) / rate;
        rows.append(row);
    }
    return true;
}

bool calibrationHits(const WaveStore& record, HitQuery& query, QList<HitRow>& rows, QString& cause)
{
    if (query.windowSeconds < 0)
        query.windowSeconds = 2 * coincidenceWindow(query, sampleRateHz(record));
    query.frequencies = false;
    return tabulateHits(record, query, rows, cause);
}

bool fitSpeed(const QList<HitRow>& rows, const HitQuery& query, QPointF source, double rate,
    SpeedFit& fit, QString& cause)
{
    fit = SpeedFit();
    const SensorLayout layout = sensorLayout(query);
    // Each event's located onsets against the distances: the distance differences to its first
    // sensor are the speed times the onsets' differences.
    double sumDd = 0;
    double sumTt = 0;
    QList<double> speeds;
    QList<QPointF> differences; // of distance and onset to the event's first sensor
    bool contradicted = false; // an event's nearer sensors were hit later
    for (int r = 0; r < rows.size();) {
        const int event = rows[r].event;
        QList<double> distances;
        QList<double> times;
        for (; r < rows.size() && rows[r].event == event; ++r) {
            const int s = int(layout.channels.indexOf(rows[r].hit.channel));
            if (s < 0)
                continue;
            const QPointF d = layout.places[s] - source;
            distances << std::hypot(d.x(), d.y());
            times << rows[r].hit.onset / rate;
        }
        double dd = 0;
        double tt = 0;
        for (int i = 1; i < times.size(); ++i) {
            dd += (distances[i] - distances[0]) * (times[i] - times[0]);
            tt += (times[i] - times[0]) * (times[i] - times[0]);
        }
        if (tt > 0 && dd > 0) {
            speeds << dd / tt;
            sumDd += dd;
            sumTt += tt;
            for (int i = 1; i < times.size(); ++i)
                differences << QPointF(distances[i] - distances[0], times[i] - times[0]);
        }
        contradicted = contradicted || (tt > 0 && dd <= 0);
    }
    if (speeds.isEmpty()) {
        cause = layout.channels.isEmpty() ? QStringLiteral("no sensors are placed")
            : contradicted
            ? QStringLiteral(
                "the onsets contradict a source at that place: nearer sensors were hit later")
            : QStringLiteral("no event reached two sensors at different distances from the source");
        return false;
    }
    fit.events = int(speeds.size());
    fit.speedMps = sumDd / sumTt;
    double misfit = 0;
    for (const QPointF& d : differences)
        misfit += std::pow(d.x() - fit.speedMps * d.y(), 2);
    fit.residualMetres = std::sqrt(misfit / double(differences.size()));
    double spread = 0;
    for (const double c : speeds)
        spread += (c - fit.speedMps) * (c - fit.speedMps);
    fit.spreadMps = speeds.size() > 1 ? std::sqrt(spread / double(speeds.size() - 1)) : 0;
    return true;
}

namespace {

void appendNumberOrEmpty(std::string& text, double value, bool known)
{
    text += ',';
    if (known)
        appendCsvNumber(text, value);
}

// The file's name as its bytes, quoted when it holds a separator, a quote or a line break.
std::string csvName(const QString& file)
{
    std::string name = pathBytes(file).toStdString();
    if (name.find_first_of(",\"\r\n") == std::string::npos)
        return name;
    std::string quoted = "\"";
    for (const char c : name)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

} // namespace

std::string hitsCsv(const QString& file, const QList<HitRow>& rows, double rate,
    const HitQuery& query, bool detector, bool header)
{
    const bool planar = query.planar();
    const bool locate = query.locates();
    std::string text;
    if (header)
        text = std::string("file,channel,arrival_s,onset_s,amplitude_V,amplitude_dBAE,rise_s,"
                           "duration_s,counts,energy_V2s")
            + (locate ? (planar ? ",event,dt_s,x_m,y_m,residual_m,zone" : ",event,dt_s,position_m")
                      : "")
            + ",clipped,peak_Hz,centroid_Hz\n";
    const std::string name = csvName(file);
    for (const HitRow& row : rows) {
        const Hit& hit = row.hit;
        text += name + ',' + std::to_string(hit.channel + 1);
        for (const double value : { hit.arrival / rate, hit.onset / rate, hit.peakVolts,
                 decibelsAe(hit.peakVolts, query.preampDb), (hit.peak - hit.arrival) / rate,
                 (hit.last - hit.arrival) / rate }) {
            text += ',';
            appendCsvNumber(text, value);
        }
        text += ',' + (detector ? std::string() : std::to_string(hit.counts));
        appendNumberOrEmpty(text, hit.energy, true);
        if (locate) {
            text += ',' + std::to_string(row.event + 1);
            appendNumberOrEmpty(text, row.dtSeconds, true);
            if (planar) {
                appendNumberOrEmpty(text, row.x, row.inPlane);
                appendNumberOrEmpty(text, row.y, row.inPlane);
                appendNumberOrEmpty(text, row.residualMetres, row.residualMetres >= 0);
                text += ',' + (row.zone >= 0 ? std::to_string(row.zone + 1) : std::string());
            } else {
                appendNumberOrEmpty(text, row.positionMetres, row.located);
            }
        }
        text += hit.clipped ? ",1" : ",0";
        appendNumberOrEmpty(text, hit.peakHz, hit.peakHz >= 0);
        appendNumberOrEmpty(text, hit.centroidHz, hit.centroidHz >= 0);
        text += '\n';
    }
    return text;
}
