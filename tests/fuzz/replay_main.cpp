// Replays files or directories of inputs through the fuzz target, for builds without libFuzzer.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdint>
#include <cstdio>

extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        if (!QFileInfo(path).isDir())
            files << path;
        for (const QString& name : QDir(path).entryList(QDir::Files, QDir::Name))
            files << QDir(path).filePath(name);
    }
    int failures = 0;
    for (const QString& name : files) {
        QFile file(name);
        const bool opened = file.open(QIODevice::ReadOnly);
        const QByteArray bytes = opened ? file.readAll() : QByteArray();
        if (!opened)
            std::fprintf(stderr, "cannot read %s\n", qPrintable(name));
        failures += !opened
            || LLVMFuzzerTestOneInput(
                   reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()))
                != 0;
    }
    std::printf("%d passed, %d failed\n", int(files.size()) - failures, failures);
    return failures == 0 && !files.isEmpty() ? 0 : 1;
}
