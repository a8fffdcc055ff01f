// Reading and writing a 5 x 163840 record against a plain read or write of the same bytes
// (the plain write flushed to disk as the record writer does), and its exports against their
// peers: CSV against numpy.savetxt (and pandas to_csv, for information) writing the same volts,
// WAV against a plain write of as many bytes, what "info" reads against a plain read of
// the same headers.
#include "ratio_reporter.h"
#include "record_export.h"
#include "wav_file.h"
#include "support/records.h"
#include "wave_stor.h"

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

QTemporaryDir& dir()
{
    static QTemporaryDir shared;
    return shared;
}

WaveStore& record()
{
    static auto shared = testrecords::make(5, 163840, 12);
    return *shared;
}

QString recordPath()
{
    return dir().filePath("record.raw");
}

QByteArray fileBytes()
{
    static QByteArray bytes = [] {
        writeRaw(record(), recordPath());
        QFile file(recordPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    return bytes;
}

// The record's file, written first if need be.
QString writtenRecord()
{
    fileBytes();
    return recordPath();
}

void BM_WriteRecord(benchmark::State& state)
{
    const QString path = dir().filePath("written.raw");
    for (auto _ : state)
        benchmark::DoNotOptimize(writeRaw(record(), path));
}

// The bytes written and flushed to the disk.
void writePlain(benchmark::State& state, const QByteArray& bytes, const char* name)
{
    const QByteArray path = QFile::encodeName(dir().filePath(name));
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, bytes.constData(), size_t(bytes.size())));
        ::fsync(fd);
        ::close(fd);
    }
}

void BM_WritePlain(benchmark::State& state)
{
    writePlain(state, fileBytes(), "plain.raw");
}

void BM_ReadRecord(benchmark::State& state)
{
    fileBytes();
    for (auto _ : state) {
        WaveStore in(QRect(0, 0, 639, 399));
        benchmark::DoNotOptimize(readRaw(in, recordPath()));
    }
}

// The bytes read into memory allocated for them, as any reader of a file must.
void BM_ReadPlain(benchmark::State& state)
{
    const qsizetype size = fileBytes().size();
    const QByteArray path = QFile::encodeName(recordPath());
    for (auto _ : state) {
        std::unique_ptr<char[]> buffer(new char[size_t(size)]);
        const int fd = ::open(path.constData(), O_RDONLY);
        benchmark::DoNotOptimize(::read(fd, buffer.get(), size_t(size)));
        ::close(fd);
    }
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
        // Debian's interpreter, for which the scripts install numpy and pandas.
        python.start("/usr/bin/python3",
            { BENCH_DIR "/export_peers.py", name, writtenRecord(), dir().filePath("peer.csv"),
                "1" });
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

// The WAV file's bytes: a 44-byte header and the samples.
void BM_WavPlain(benchmark::State& state)
{
    writePlain(state, QByteArray(44 + 5 * 163840, '\x80'), "plain.wav");
}

void BM_Info(benchmark::State& state)
{
    const QString path = writtenRecord();
    for (auto _ : state) {
        WaveStore header(QRect(0, 0, 99, 99));
        benchmark::DoNotOptimize(readRawHeader(header, path, nullptr));
    }
}

// What "info" reports with plain I/O: the record's header, which holds the first channel's,
// and the headers of the four further channels, each at the start of its section.
void BM_HeaderPlain(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(writtenRecord());
    const off_t section = 16 + 163840;
    char bytes[264 + 16];
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY);
        benchmark::DoNotOptimize(::read(fd, bytes, sizeof bytes));
        for (int i = 1; i < 5; ++i)
            benchmark::DoNotOptimize(::pread(fd, bytes, 16, 264 + i * section));
        ::close(fd);
    }
}

// The first 264 bytes alone, for information.
void BM_FirstHeaderPlain(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(writtenRecord());
    char bytes[264];
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_RDONLY);
        benchmark::DoNotOptimize(::read(fd, bytes, sizeof bytes));
        ::close(fd);
    }
}

} // namespace

BENCHMARK(BM_WriteRecord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvNumpy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_CsvPandas)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_WavExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WavPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Info)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HeaderPlain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstHeaderPlain)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return runWithGoals(argc, argv,
        { { "BM_WriteRecord", "BM_WritePlain", 1.5,
              "write 5 x 163840 record / plain write + fsync" },
            { "BM_ReadRecord", "BM_ReadPlain", 1.5, "read 5 x 163840 record / plain read" },
            { "BM_CsvExport", "BM_CsvNumpy/iterations:1/manual_time", 0.1,
                "CSV export 5 x 163840 / numpy.savetxt %.9g" },
            { "BM_CsvExport", "BM_CsvPandas/iterations:1/manual_time", 0,
                "CSV export 5 x 163840 / pandas to_csv" },
            { "BM_WavExport", "BM_WavPlain", 1.5, "WAV export 5 x 163840 / plain write + fsync" },
            { "BM_Info", "BM_HeaderPlain", 1.5,
                "info of a 5 x 163840 record / plain read of its headers" },
            { "BM_Info", "BM_FirstHeaderPlain", 0,
                "info of a 5 x 163840 record / plain 264-byte read" } });
}
