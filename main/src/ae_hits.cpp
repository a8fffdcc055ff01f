#include "ae_hits.h"

#include "convert.h"
#include "record_export.h"
#include "wave_stor.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Microseconds as whole samples at rate (at least one).
int samplesOf(double micros, double rate)
{
    return std::max(1, int(std::lround(micros * 1e-6 * rate)));
}

// The channel's values over the span, in volts as the readouts show them.
std::vector<double> voltsOf(const WaveStore& record, int channel, int first, int count)
{
    const WaveChannel* c = record.channel(channel);
    const int gain = record.channelSlots[channel].header.gainCode;
    std::vector<double> table(256);
    for (int code = -128; code < 128; ++code)
        table[size_t(code + 128)] = sampleAmplitude(code, gain, c->detectorOffset, true);
    std::vector<double> v(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        v[size_t(k)] = table[size_t(c->sample(first + k) + 128)];
    return v;
}

double rmsOf(const std::vector<double>& v, int from, int to)
{
    if (to <= from)
        return 0;
    double sum = 0;
    for (int k = from; k < to; ++k)
        sum += v[size_t(k)] * v[size_t(k)];
    return std::sqrt(sum / (to - from));
}

// A hit from its first crossing on: its end, peak, counts and energy.
Hit followHit(
    const std::vector<double>& v, int start, double threshold, int hdt, int pdt, double dt)
{
    Hit hit;
    hit.arrival = hit.last = hit.peak = start;
    hit.peakVolts = std::fabs(v[size_t(start)]);
    bool peakStands = false;
    const int n = int(v.size());
    for (int k = start; k < n && k - hit.last <= hdt; ++k) {
        const double a = std::fabs(v[size_t(k)]);
        if (a <= threshold)
            continue;
        hit.last = k;
        if (k > start && v[size_t(k)] > threshold && v[size_t(k - 1)] <= threshold)
            ++hit.counts;
        peakStands = peakStands || k - hit.peak > pdt;
        if (!peakStands && a > hit.peakVolts) {
            hit.peakVolts = a;
            hit.peak = k;
        }
    }
    hit.counts += v[size_t(start)] > threshold ? 1 : 0;
    for (int k = hit.arrival; k <= hit.last; ++k)
        hit.energy += v[size_t(k)] * v[size_t(k)] * dt;
    return hit;
}

} // namespace

double decibelsAe(double volts)
{
    return 20.0 * std::log10(volts / 1e-6);
}

double voltsOfDecibelsAe(double decibels)
{
    return 1e-6 * std::pow(10.0, decibels / 20.0);
}

int akaikeOnset(const double* x, int n)
{
    if (n < 4)
        return 0;
    // Prefix sums give each side's variance at every split in one pass.
    std::vector<double> sum(size_t(n) + 1), squares(size_t(n) + 1);
    for (int i = 0; i < n; ++i) {
        sum[size_t(i) + 1] = sum[size_t(i)] + x[i];
        squares[size_t(i) + 1] = squares[size_t(i)] + x[i] * x[i];
    }
    const auto variance = [&](int from, int to) { // x[from .. to - 1]
        const double m = to - from;
        const double mean = (sum[size_t(to)] - sum[size_t(from)]) / m;
        return std::max((squares[size_t(to)] - squares[size_t(from)]) / m - mean * mean, 1e-30);
    };
    int best = 1;
    double bestValue = HUGE_VAL;
    for (int k = 1; k < n - 2; ++k) {
        const double value
            = k * std::log(variance(0, k + 1)) + (n - k - 1) * std::log(variance(k + 1, n));
        if (value < bestValue) {
            bestValue = value;
            best = k;
        }
    }
    return best + 1; // the first sample of the second part
}

QList<Hit> findHits(
    const WaveStore& record, int channel, int first, int count, const HitSettings& settings)
{
    QList<Hit> hits;
    const double rate = sampleRateHz(record);
    if (!record.channel(channel) || rate <= 0 || first < 0 || count <= 0
        || count > record.sampleCount() - first)
        return hits;
    const std::vector<double> v = voltsOf(record, channel, first, count);
    const int hdt = samplesOf(settings.hdtMicros, rate);
    const int hlt = samplesOf(settings.hltMicros, rate);
    const int pdt = samplesOf(settings.pdtMicros, rate);
    const double threshold = settings.thresholdVolts;
    int quietFrom = 0; // no hit starts before this sample (lockout)
    int previousEnd = 0;
    for (int k = 0; k < count; ++k) {
        if (k < quietFrom || std::fabs(v[size_t(k)]) <= threshold)
            continue;
        Hit hit = followHit(v, k, threshold, hdt, pdt, 1.0 / rate);
        hit.channel = channel;
        const int before = std::max(previousEnd, hit.arrival - std::max(hdt, 64));
        hit.backgroundRms = rmsOf(v, before, hit.arrival);
        // The picker's window: the quiet stretch before the crossing and a little of the hit.
        const int to = std::min(hit.last + 1, hit.arrival + std::max(pdt / 2, 8));
        hit.onset = before + akaikeOnset(v.data() + before, to - before);
        hit.onset = std::clamp(hit.onset, before, hit.arrival);
        previousEnd = hit.last + 1;
        quietFrom = hit.last + 1 + hlt;
        for (int* sample : { &hit.arrival, &hit.onset, &hit.peak, &hit.last })
            *sample += first;
        hits.append(hit);
        k = hit.last - first;
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
        const bool joins = event >= 0 && (hit.arrival - eventStart) / rate <= window
            && !channels.contains(hit.channel);
        if (!joins) {
            ++event;
            eventStart = hit.arrival;
            channels.clear();
        }
        channels.append(hit.channel);
        events.append(event);
    }
    return events;
}

double linearPosition(double ta, double tb, double spacing, double speed)
{
    return (spacing - speed * (tb - ta)) / 2.0;
}
