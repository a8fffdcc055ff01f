// Hit extraction over a 5 x 163840 record of bursts over noise, against one plain pass that
// sums the samples (the memory-bound floor) and against the same definitions written with numpy;
// and the whole search of a planar set-up (floating threshold, background mean taken off, the
// location of every event) over records of 50 and of 2000 four-sensor events.
#include "ae_hits.h"
#include "ratio_reporter.h"
#include "wave_stor.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr int channels = 5;
constexpr int samples = 163840;

// Noise of a few codes, and every 16384 samples a decaying burst arriving later on each
// further channel.
std::unique_ptr<WaveStore> burstRecord()
{
    auto record = std::make_unique<WaveStore>(QRect(0, 0, 640, 400));
    record->initialise(channels, samples);
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 12; // 1 MHz
    quint32 noise = 12345;
    for (int c = 0; c < channels; ++c) {
        WaveChannel* channel = record->channel(c);
        for (int n = 0; n < samples; ++n) {
            noise = noise * 1664525u + 1013904223u;
            const int since = (n + samples - 40 * c) % 16384;
            const double burst = since < 4000
                ? 100.0 * std::exp(-since / 800.0) * std::sin(2 * M_PI * since / 7.0)
                : 0.0;
            channel->setSample(n, qint8(std::lround(burst) + int(noise >> 30) - 2));
        }
        channel->hasData = true;
    }
    return record;
}

WaveStore& record()
{
    static std::unique_ptr<WaveStore> shared = burstRecord();
    return *shared;
}

// Four sensors on a square (3000 m/s) on channels 1 to 4, noise of a few codes 2 codes up on
// all five, and events from sources spread over the square, evenly spaced in time: 1 m sides
// for a few events, 0.1 m for many (the waves cross it in 47 us).
QList<QPointF> squareFor(int events)
{
    const double side = events > 100 ? 0.1 : 1;
    return { { 0, 0 }, { side, 0 }, { side, side }, { 0, side } };
}

std::unique_ptr<WaveStore> planarRecord(int events)
{
    const QList<QPointF> square = squareFor(events);
    const double side = square[1].x();
    auto record = std::make_unique<WaveStore>(QRect(0, 0, 640, 400));
    record->initialise(channels, samples);
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 12;
    std::vector<std::vector<double>> volts(channels, std::vector<double>(samples, 0.0));
    const int period = samples / events;
    const int length = std::min(400, period / 3);
    for (int e = 0; e < events; ++e) {
        const QPointF source(side * (0.1 + 0.8 * ((e * 37) % 100) / 100.0),
            side * (0.1 + 0.8 * ((e * 61) % 100) / 100.0));
        for (int c = 0; c < 4; ++c) {
            const double d = std::hypot(source.x() - square[c].x(), source.y() - square[c].y());
            const int onset = e * period + 50 + int(d / 3000 * 1e6);
            for (int j = 0; j < length && onset + j < samples; ++j)
                volts[size_t(c)][size_t(onset + j)]
                    += 80 * std::pow(0.5, d) * std::exp(-j / 60.0) * std::sin(2 * M_PI * j / 7.0);
        }
    }
    quint32 noise = 777;
    for (int c = 0; c < channels; ++c) {
        for (int n = 0; n < samples; ++n) {
            noise = noise * 1664525u + 1013904223u;
            const long v = std::lround(volts[size_t(c)][size_t(n)]) + int(noise >> 30) - 2 + 2;
            record->channel(c)->setSample(n, qint8(std::clamp(v, -128L, 127L)));
        }
        record->channel(c)->hasData = true;
    }
    return record;
}

HitQuery planarQuery(int events)
{
    // Where events fill the record, no stretch is free of them to measure the background in:
    // a fixed threshold of 10 codes there.
    HitQuery query;
    query.settings.floatingDb = events > 100 ? -1 : 16;
    query.settings.thresholdVolts = 10 * 5.0 * 4096 / (1 << 20);
    query.settings.hdtMicros = std::min(200, samples / events / 8);
    query.settings.hltMicros = query.settings.hdtMicros;
    query.settings.pdtMicros = query.settings.hdtMicros / 4;
    query.sensors = squareFor(events);
    query.frequencies = false;
    return query;
}

void BM_PlanarSearch(benchmark::State& state)
{
    const int events = int(state.range(0));
    static std::map<int, std::unique_ptr<WaveStore>> records;
    if (!records[events])
        records[events] = planarRecord(events);
    const HitQuery query = planarQuery(events);
    QList<HitRow> rows;
    QString cause;
    for (auto _ : state)
        benchmark::DoNotOptimize(tabulateHits(*records[events], query, rows, cause));
    int located = 0;
    for (const HitRow& row : rows)
        located += row.inPlane && row.hit.channel == 0 ? 1 : 0;
    state.counters["hits"] = double(rows.size());
    state.counters["located"] = double(located);
}

HitSettings settings()
{
    HitSettings s;
    s.thresholdVolts = 20 * 5.0 * 4096 / (1 << 20); // 20 codes at gain 0
    return s;
}

void BM_Hits(benchmark::State& state)
{
    const HitSettings s = settings();
    qsizetype found = 0;
    for (auto _ : state) {
        found = 0;
        for (int c = 0; c < channels; ++c)
            found += findHits(record(), c, 0, samples, s).size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["hits"] = double(found);
}

void BM_PlainSum(benchmark::State& state)
{
    for (auto _ : state) {
        long sum = 0;
        for (int c = 0; c < channels; ++c)
            for (int b = 0; b < samples; b += WaveChannel::blockSize) {
                const qint8* block = record().channel(c)->blocks[b / WaveChannel::blockSize];
                for (int k = 0; k < WaveChannel::blockSize; ++k)
                    sum += block[k];
            }
        benchmark::DoNotOptimize(sum);
    }
}

// hits_numpy.py with arguments, timed inside Python: its median seconds and its hit count.
void runNumpy(benchmark::State& state, const QStringList& arguments)
{
    for (auto _ : state) {
        QProcess python;
        python.start("/usr/bin/python3", QStringList { BENCH_DIR "/hits_numpy.py" } + arguments);
        if (!python.waitForFinished(600000) || python.exitCode() != 0) {
            state.SkipWithError("python3 with numpy is needed");
            return;
        }
        const QList<QByteArray> lines = python.readAllStandardOutput().split('\n');
        state.SetIterationTime(lines.value(0).toDouble());
        state.counters["hits"] = lines.value(1).toDouble();
    }
}

void BM_HitsNumpy(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bursts.raw");
    if (writeRaw(record(), path) != 0) {
        state.SkipWithError("the record could not be written");
        return;
    }
    const HitSettings s = settings();
    runNumpy(state,
        { path, QString::number(s.thresholdVolts, 'g', 17), QString::number(s.hdtMicros),
            QString::number(s.hltMicros), QString::number(s.pdtMicros), "5" });
}

// The planar search of 50 events with numpy.
void BM_PlanarNumpy(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("planar.raw");
    const auto planar = planarRecord(50);
    if (writeRaw(*planar, path) != 0) {
        state.SkipWithError("the record could not be written");
        return;
    }
    const HitQuery query = planarQuery(50);
    QStringList places;
    for (const QPointF& p : query.sensors)
        places << QStringLiteral("%1,%2").arg(p.x()).arg(p.y());
    runNumpy(state,
        { path, QString::number(5.0 * 4096 / (1 << 20), 'g', 17),
            QString::number(query.settings.hdtMicros), QString::number(query.settings.hltMicros),
            QString::number(query.settings.pdtMicros), "5",
            QString::number(query.settings.floatingDb), places.join(';') });
}

} // namespace

BENCHMARK(BM_Hits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlanarSearch)->Arg(50)->Arg(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlanarNumpy)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_PlainSum)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HitsNumpy)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return runWithGoals(argc, argv,
        { { "BM_Hits", "BM_PlainSum", 3.0, "hits of 5 x 163840 / one plain summing pass" },
            { "BM_Hits", "BM_HitsNumpy/iterations:1/manual_time", 0.2,
                "hits of 5 x 163840 / the same definitions in numpy" },
            { "BM_PlanarSearch/50", "BM_PlainSum", 3.0,
                "planar search, 50 events / one plain summing pass" },
            { "BM_PlanarSearch/50", "BM_PlanarNumpy/iterations:1/manual_time", 0.2,
                "planar search, 50 events / the same in numpy" },
            { "BM_PlanarSearch/2000", "BM_PlainSum", 4.0,
                "planar search, 2000 events / one plain summing pass" } });
}
