// Exports of a 5 x 163840 record against their peers, measured in the same run: CSV against
// numpy.savetxt (and pandas to_csv, for information) writing the same volts, WAV against a
// plain write of as many bytes, and what "info" reads against a plain read of the header.
#include "ratio_reporter.h"
#include "record_export.h"
#include "support/records.h"
#include "wave_stor.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <unistd.h>

namespace {

QTemporaryDir& dir()
{
    static QTemporaryDir shared;
    return shared;
}

WaveStore& record()
{
    static auto shared = testrecords::make(5, 163840, 13);
    return *shared;
}

QString recordPath()
{
    static const QString path = [] {
        writeRaw(record(), dir().filePath("record.raw"));
        return dir().filePath("record.raw");
    }();
    return path;
}

void BM_CsvExport(benchmark::State& state)
{
    const QString path = dir().filePath("ours.csv");
    QString cause;
    for (auto _ : state)
        benchmark::DoNotOptimize(exportCsv(record(), path, AmplitudeUnit::Volts, {}, cause));
}

// One write by the Python peer, timed by itself.
void peer(benchmark::State& state, const char* name)
{
    for (auto _ : state) {
        QProcess python;
        python.start("python3",
            { BENCH_DIR "/export_peers.py", name, recordPath(), dir().filePath("peer.csv"), "1" });
        if (!python.waitForFinished(600000) || python.exitCode() != 0) {
            state.SkipWithError("python3 with numpy and pandas is needed");
            return;
        }
        state.SetIterationTime(python.readAllStandardOutput().trimmed().toDouble());
    }
}

void BM_CsvNumpy(benchmark::State& state)
{
    peer(state, "numpy");
}

void BM_CsvPandas(benchmark::State& state)
{
    peer(state, "pandas");
}

void BM_WavExport(benchmark::State& state)
{
    const QString path = dir().filePath("ours.wav");
    QString cause;
    for (auto _ : state)
        benchmark::DoNotOptimize(exportWav(record(), path, false, {}, cause));
}

// The WAV file's bytes (a 44-byte header and the samples) written and flushed to the disk.
void BM_WavPlain(benchmark::State& state)
{
    const QByteArray bytes(44 + 5 * 163840, '\x80');
    const QByteArray path = QFile::encodeName(dir().filePath("plain.wav"));
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, bytes.constData(), size_t(bytes.size())));
        ::fsync(fd);
        ::close(fd);
    }
}

void BM_Info(benchmark::State& state)
{
    const QString path = recordPath();
    for (auto _ : state) {
        WaveStore header(QRect(0, 0, 99, 99));
        benchmark::DoNotOptimize(readRawHeader(header, path, nullptr));
    }
}

void BM_HeaderPlain(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(recordPath());
    char bytes[264];
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY);
        benchmark::DoNotOptimize(::read(fd, bytes, sizeof bytes));
        ::close(fd);
    }
}

} // namespace

BENCHMARK(BM_CsvExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvNumpy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_CsvPandas)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_WavExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WavPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Info)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HeaderPlain)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    return runWithGoals(argc, argv,
        {
            { "BM_CsvExport", "BM_CsvNumpy/iterations:1/manual_time", 0.1,
                "CSV export 5 x 163840 / numpy.savetxt %.9g" },
            { "BM_CsvExport", "BM_CsvPandas/iterations:1/manual_time", 0,
                "CSV export 5 x 163840 / pandas to_csv" },
            { "BM_WavExport", "BM_WavPlain", 1.5,
                "WAV export 5 x 163840 / plain write + fsync" },
            { "BM_Info", "BM_HeaderPlain", 1.5,
                "info of a 5 x 163840 record / plain header read" },
        });
}
