// Hit extraction over a 5 x 163840 record of bursts over noise, against one plain pass that
// sums the samples (the memory-bound floor) and against the same definitions written with numpy.
#include "ae_hits.h"
#include "ratio_reporter.h"
#include "wave_stor.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

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

void BM_HitsNumpy(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bursts.raw");
    if (writeRaw(record(), path) != 0) {
        state.SkipWithError("the record could not be written");
        return;
    }
    const HitSettings s = settings();
    for (auto _ : state) {
        QProcess python;
        python.start("/usr/bin/python3",
            { BENCH_DIR "/hits_numpy.py", path, QString::number(s.thresholdVolts, 'g', 17),
                QString::number(s.hdtMicros), QString::number(s.hltMicros),
                QString::number(s.pdtMicros), "5" });
        if (!python.waitForFinished(600000) || python.exitCode() != 0) {
            state.SkipWithError("python3 with numpy is needed");
            return;
        }
        const QList<QByteArray> lines = python.readAllStandardOutput().split('\n');
        state.SetIterationTime(lines.value(0).toDouble());
        state.counters["hits"] = lines.value(1).toDouble();
    }
}

} // namespace

BENCHMARK(BM_Hits)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainSum)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HitsNumpy)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return runWithGoals(argc, argv,
        { { "BM_Hits", "BM_PlainSum", 3.0, "hits of 5 x 163840 / one plain summing pass" },
            { "BM_Hits", "BM_HitsNumpy/iterations:1/manual_time", 0.2,
                "hits of 5 x 163840 / the same definitions in numpy" } });
}
