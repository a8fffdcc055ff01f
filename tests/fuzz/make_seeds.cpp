// make_seeds DIR: writes the fuzz targets' binary seeds into DIR/<target>. Records: an empty
// one, small ones, one of the largest size, odd display fields, one file per failure of the
// reader. WAV files: the program's own (8-bit and float, with the record's facts), other
// containers and widths, a cut data chunk, an empty one, facts that do not fit.
#include "support/files.h"
#include "support/records.h"
#include "wav_file.h"
#include "wave_stor.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <sndfile.h>
#include <vector>

namespace {

QString dir;

bool save(const char* name, const QByteArray& bytes)
{
    return testfiles::write(QDir(dir).filePath(QLatin1String(name)), bytes);
}

QByteArray recordBytes(int channels, int samples, quint32 seed, void (*edit)(WaveStore&) = nullptr)
{
    auto record = testrecords::make(channels, samples, seed);
    if (edit)
        edit(*record);
    const QString path = QDir(dir).filePath(QStringLiteral("scratch"));
    if (!record || writeRaw(*record, path) != 0)
        return QByteArray();
    const QByteArray bytes = testfiles::read(path);
    QFile::remove(path);
    return bytes;
}

QByteArray patched(QByteArray bytes, int offset, const QByteArray& patch)
{
    bytes.replace(offset, patch.size(), patch);
    return bytes;
}

bool recordSeeds()
{
    QByteArray empty(264, '\0');
    std::memcpy(empty.data(), "KORUNRAW", 8);
    const QByteArray small = recordBytes(4, 100, 1);
    bool ok = save("empty_record.raw", empty) && save("small_4x100.raw", small)
        && save("small_1x1.raw", recordBytes(1, 1, 2))
        && save("two_blocks_2x32769.raw", recordBytes(2, 32769, 3))
        && save("largest_5x163840.raw", recordBytes(5, 163840, 4));
    ok = ok && save("odd_view.raw", recordBytes(3, 3000, 5, [](WaveStore& r) {
        r.header.firstVisible = 2000000000;
        r.header.visibleCount = -7;
        r.header.verticalZoom = 65535;
        r.header.sineOverlay = 1;
        r.header.smoothMode = 200;
        r.header.detector = 1;
    }));
    ok = ok && save("odd_clock.raw", recordBytes(2, 500, 6, [](WaveStore& r) {
        r.header.clockKHz = 0;
        r.header.ticksPerSample = -1;
        r.header.sineOverlay = 1;
        r.header.verticalZoom = 0;
        r.channelSlots[0].header.gainCode = 200;
    }));
    ok = ok && save("fail_seven_bytes.raw", QByteArray("KORUNRA"))
        && save("fail_magic.raw", patched(small, 7, "X"))
        && save("fail_header_short.raw", small.left(100))
        && save("fail_six_channels.raw", patched(small, 8, QByteArray("\6", 1)))
        && save("fail_negative_count.raw", patched(small, 14, QByteArray("\xff\xff\xff\xff", 4)))
        && save("fail_huge_count.raw", patched(small, 14, QByteArray("\x01\x80\x02\x00", 4)))
        && save("fail_channel_header_short.raw", small.left(264 + 8))
        && save("fail_samples_short.raw", small.left(small.size() - 1));
    return ok;
}

// A WAV file another program would write: the container and sample format, a comment.
QByteArray soundBytes(int format, int channels, const char* comment)
{
    const QString path = QDir(dir).filePath(QStringLiteral("scratch.wav"));
    SF_INFO info {};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    std::vector<float> values(size_t(200 * channels));
    for (size_t k = 0; k < values.size(); ++k)
        values[k] = float(k % 17) / 17.0f - 0.4f;
    if (!file || (comment && sf_set_string(file, SF_STR_COMMENT, comment) != 0)
        || sf_writef_float(file, values.data(), 200) != 200 || sf_close(file) != 0)
        return QByteArray();
    const QByteArray bytes = testfiles::read(path);
    QFile::remove(path);
    return bytes;
}

QByteArray exportedBytes(bool floatVolts)
{
    auto record = testrecords::make(4, 300, 7);
    record->header.detector = 1;
    record->channelSlots[2].header.gainCode = 9;
    const QString path = QDir(dir).filePath(QStringLiteral("scratch.wav"));
    QString cause;
    if (!exportWav(*record, path, floatVolts, SampleSpan(), cause))
        return QByteArray();
    const QByteArray bytes = testfiles::read(path);
    QFile::remove(path);
    return bytes;
}

bool wavSeeds()
{
    const QByteArray eight = exportedBytes(false);
    return !eight.isEmpty() && save("ours_8bit.wav", eight)
        && save("ours_float.wav", exportedBytes(true)) && save("cut.wav", eight.left(600))
        && save("wavex_24.wav", soundBytes(SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 2, nullptr))
        && save("rf64_32.wav", soundBytes(SF_FORMAT_RF64 | SF_FORMAT_PCM_32, 1, nullptr))
        && save("double.wav", soundBytes(SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 3, nullptr))
        && save("facts_wrong.wav",
            soundBytes(SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2,
                "KORUN-77M record: channels=2 clock_kHz=12000 ticks=7 sync=on detector=off "
                "inputs=1,2 gains=0,13 created=9 reserved=zz"));
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    // A folder a target, named as the target.
    const std::pair<const char*, bool (*)()> targets[]
        = { { "record", recordSeeds }, { "wav", wavSeeds } };
    for (const auto& [name, seeds] : targets) {
        dir = QDir(QString::fromLocal8Bit(argv[1])).filePath(QLatin1String(name));
        if (!QDir().mkpath(dir) || !seeds())
            return 1;
    }
    return 0;
}
