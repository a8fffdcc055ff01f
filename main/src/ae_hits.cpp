#include "ae_hits.h"

#include "convert.h"
#include "file_io.h"
#include "record_export.h"
#include "wave_stor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
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
// the magnitude of that, whether it is beyond the threshold (loud) and above it.
struct CodeTraits
{
    int units = 0;
    int magnitude = 0;
    bool loud = false;
    bool above = false;
};

// A channel's samples as the volts the readouts show, through a table by code, and the codes
// whose value stays within the threshold: an interval, since the value's magnitude grows with
// the code's (or, on detector records, with the code).
struct ChannelValues
{
    const WaveChannel* channel = nullptr;
    bool detector = false;
    double voltsPerUnit = 0;
    CodeTraits traits[256]; // by code + 128
    int quietLow = 128;
    int quietHigh = -129;
};

void setValues(ChannelValues& values, const WaveStore& record, int channel, double threshold)
{
    values.channel = record.channel(channel);
    const int gain = record.channelSlots[channel].header.gainCode;
    values.detector = values.channel->detectorOffset;
    values.voltsPerUnit = sampleAmplitude(1, gain, false, true) / 2;
    for (int code = -128; code < 128; ++code) {
        CodeTraits& traits = values.traits[code + 128];
        const double v = sampleAmplitude(code, gain, values.detector, true);
        traits.units = values.detector ? code + 128 : 2 * code;
        traits.magnitude = std::abs(traits.units);
        traits.above = v > threshold;
        traits.loud = !(std::fabs(v) <= threshold);
        if (!traits.loud) {
            values.quietLow = std::min(values.quietLow, code);
            values.quietHigh = code;
        }
    }
}

// The first sample of from ... end - 1 beyond the threshold, or end. Noise is passed over 64
// codes at a time with byte comparisons, which the compiler turns into vector instructions.
int nextLoud(const ChannelValues& values, int from, int end)
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

// The sum of the squared units of samples from ... to - 1, block by block (vector
// instructions do the arithmetic).
qint64 squaredUnits(const ChannelValues& values, int from, int to)
{
    qint64 sum = 0;
    for (int k = from; k < to;) {
        qint8* codes = nullptr;
        const int n = std::min(to - k, values.channel->blockAt(k, &codes));
        const int shift = values.detector ? 128 : 0;
        const int scale = values.detector ? 1 : 2;
        for (int j = 0; j < n; ++j) {
            const int units = scale * (codes[j] + shift);
            sum += units * units;
        }
        k += n;
    }
    return sum;
}

double rmsOf(const ChannelValues& values, int from, int to)
{
    if (to <= from)
        return 0;
    return std::sqrt(double(squaredUnits(values, from, to)) / (to - from)) * values.voltsPerUnit;
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
    int peakUnits = values.traits[values.channel->sample(start) + 128].magnitude;
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
            hit.last = code.loud ? k : hit.last;
            peakStands = peakStands || (code.loud && k - hit.peak > pdt);
            const bool larger = code.loud && !peakStands && code.magnitude > peakUnits;
            hit.peak = larger ? k : hit.peak;
            peakUnits = larger ? code.magnitude : peakUnits;
            if (++k - hit.last > stepLimit)
                break;
        }
    }
    hit.peakVolts = peakUnits * values.voltsPerUnit;
    hit.energy = double(squaredUnits(values, hit.arrival, hit.last + 1)) * values.voltsPerUnit
        * values.voltsPerUnit * dt;
    return hit;
}

// The Akaike onset over from ... to - 1, at latest at sample latest.
int onsetBetween(const ChannelValues& values, int from, int to, int latest)
{
    std::vector<double> x(size_t(std::max(0, to - from)));
    for (int k = from; k < to;) {
        qint8* codes = nullptr;
        const int n = std::min(to - k, values.channel->blockAt(k, &codes));
        for (int j = 0; j < n; ++j)
            x[size_t(k - from + j)] = values.traits[codes[j] + 128].units * values.voltsPerUnit;
        k += n;
    }
    return from + akaikeOnset(x.data(), int(x.size()), latest - from);
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

int akaikeOnset(const double* x, int n, int latest)
{
    const int splits = std::min(n - 2, latest); // k = 1 ... splits - 1
    if (n < 4 || splits <= 1)
        return 0;
    // Prefix sums give each side's variance at every split in one pass, then the logarithms
    // of all of them in one loop the compiler turns into vector instructions.
    std::vector<double> sums(2 * (size_t(n) + 1));
    double* sum = sums.data();
    double* squares = sum + n + 1;
    for (int i = 0; i < n; ++i) {
        sum[i + 1] = sum[i] + x[i];
        squares[i + 1] = squares[i] + x[i] * x[i];
    }
    const auto variance = [&](int from, int to) { // x[from .. to - 1]
        const double perSample = 1.0 / (to - from);
        const double mean = (sum[to] - sum[from]) * perSample;
        const double meanSquare = (squares[to] - squares[from]) * perSample;
        const double v = meanSquare - mean * mean;
        return float(v > 1e-30 ? v : 1e-30);
    };
    std::vector<float> logs(2 * size_t(splits));
    float* before = logs.data();
    float* after = before + splits;
    for (int k = 1; k < splits; ++k) {
        before[k] = variance(0, k + 1);
        after[k] = variance(k + 1, n);
    }
    for (int i = 0; i < 2 * splits; ++i)
        logs[size_t(i)] = logOfPositive(logs[size_t(i)]);
    int best = 1;
    double bestValue = HUGE_VAL;
    for (int k = 1; k < splits; ++k) {
        const double value = k * double(before[k]) + (n - k - 1) * double(after[k]);
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
    ChannelValues values;
    setValues(values, record, channel, settings.thresholdVolts);
    const int hdt = samplesOf(settings.hdtMicros, rate);
    const int hlt = samplesOf(settings.hltMicros, rate);
    const int pdt = samplesOf(settings.pdtMicros, rate);
    const int end = first + count;
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
        // Crossings within the lockout after the hit start no new one.
        k = nextLoud(values, int(std::min<qint64>(end, qint64(hit.last) + 1 + hlt)), end);
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

bool tabulateHits(
    const WaveStore& record, const HitQuery& query, QList<HitRow>& rows, QString& cause)
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
    QList<int> asked = query.channels;
    if (query.locates())
        asked << query.pair[0] << query.pair[1];
    for (const int c : asked)
        if (c < 0 || c >= record.channelCount()) {
            cause = QStringLiteral("the record has no channel %1").arg(c + 1);
            return false;
        }
    QList<Hit> found;
    for (int c = 0; c < record.channelCount(); ++c)
        if (query.channels.isEmpty() || query.channels.contains(c))
            found += findHits(record, c, query.first, count, query.settings);
    std::stable_sort(found.begin(), found.end(),
        [](const Hit& a, const Hit& b) { return a.arrival < b.arrival; });
    const double window = query.windowSeconds >= 0
        ? query.windowSeconds
        : (query.locates() ? query.spacingMetres / query.speedMps : 0.0);
    const QList<int> events = groupEvents(found, window, rate);
    int opening = 0;
    for (int h = 0; h < found.size(); ++h) {
        if (h == 0 || events[h] != events[h - 1])
            opening = h;
        // Each channel's onset in the event; the event's first hit opens it. Onsets, not
        // crossings: a weaker sensor crosses the threshold later in its wave.
        std::map<int, double> onsets;
        for (int o = opening; o < found.size() && events[o] == events[h]; ++o)
            onsets[found[o].channel] = found[o].onset / rate;
        HitRow row;
        row.hit = found[h];
        row.event = events[h];
        row.dtSeconds = (found[h].onset - found[opening].onset) / rate;
        row.located = query.locates() && onsets.count(query.pair[0]) && onsets.count(query.pair[1]);
        if (row.located)
            row.positionMetres = linearPosition(
                onsets[query.pair[0]], onsets[query.pair[1]], query.spacingMetres, query.speedMps);
        rows.append(row);
    }
    return true;
}

std::string hitsCsv(
    const QString& file, const QList<HitRow>& rows, double rate, bool locate, bool header)
{
    std::string text;
    if (header)
        text = std::string("file,channel,arrival_s,onset_s,amplitude_V,amplitude_dBAE,rise_s,"
                           "duration_s,counts,energy_V2s")
            + (locate ? ",event,dt_s,position_m\n" : "\n");
    // The file's name as its bytes, quoted when it holds a separator, a quote or a line break.
    std::string name = pathBytes(file).toStdString();
    if (name.find_first_of(",\"\r\n") != std::string::npos) {
        std::string quoted = "\"";
        for (const char c : name)
            quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        name = quoted + '"';
    }
    for (const HitRow& row : rows) {
        const Hit& hit = row.hit;
        text += name + ',' + std::to_string(hit.channel + 1);
        for (const double value :
            { hit.arrival / rate, hit.onset / rate, hit.peakVolts, decibelsAe(hit.peakVolts),
                (hit.peak - hit.arrival) / rate, (hit.last - hit.arrival) / rate }) {
            text += ',';
            appendCsvNumber(text, value);
        }
        text += ',' + std::to_string(hit.counts) + ',';
        appendCsvNumber(text, hit.energy);
        if (locate) {
            text += ',' + std::to_string(row.event + 1) + ',';
            appendCsvNumber(text, row.dtSeconds);
            text += ',';
            if (row.located)
                appendCsvNumber(text, row.positionMetres);
        }
        text += '\n';
    }
    return text;
}
