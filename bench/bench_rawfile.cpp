// Reading and writing a 5 x 163840 record against a plain read or write of the same bytes
// (the plain write flushed to disk as the record writer does).
#include "ratio_reporter.h"
#include "support/records.h"
#include "wave_stor.h"

#include <QFile>
#include <QGuiApplication>
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

void BM_WriteRecord(benchmark::State& state)
{
    const QString path = dir().filePath("written.raw");
    for (auto _ : state)
        benchmark::DoNotOptimize(writeRaw(record(), path));
}

void BM_WritePlain(benchmark::State& state)
{
    const QByteArray bytes = fileBytes();
    const QByteArray path = QFile::encodeName(dir().filePath("plain.raw"));
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        benchmark::DoNotOptimize(::write(fd, bytes.constData(), size_t(bytes.size())));
        ::fsync(fd);
        ::close(fd);
    }
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

} // namespace

BENCHMARK(BM_WriteRecord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecord)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadPlain)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return runWithGoals(argc, argv,
        { { "BM_WriteRecord", "BM_WritePlain", 1.5,
              "write 5 x 163840 record / plain write + fsync" },
            { "BM_ReadRecord", "BM_ReadPlain", 1.5, "read 5 x 163840 record / plain read" } });
}
