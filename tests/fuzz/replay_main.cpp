// Replays files or directories of inputs through the fuzz target, for builds without libFuzzer.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int replay(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    const QByteArray bytes = file.readAll();
    return LLVMFuzzerTestOneInput(
        reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
}

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0;
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        const QStringList files = QFileInfo(path).isDir()
            ? QDir(path).entryList(QDir::Files, QDir::Name)
            : QStringList { QString() };
        for (const QString& name : files) {
            failures += replay(name.isEmpty() ? path : QDir(path).filePath(name));
            ++inputs;
        }
    }
    std::printf("%d passed, %d failed\n", inputs - failures, failures);
    return failures == 0 && inputs > 0 ? 0 : 1;
}
