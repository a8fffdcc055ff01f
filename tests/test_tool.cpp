// voltrix-tool as a process, without a display: its CSV read back by a parser of its own and
// compared with the conversion written out here, its WAV files read back by libsndfile and
// Python's wave module, imports and their refusals, the spectrum and the hit table, and every
// failure with its exit status.
#include "support/files.h"
#include "support/records.h"
#include "wav_file.h"
#include "wave_stor.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// The tool with DISPLAY and QT_QPA_PLATFORM unset: it must need neither. As another user when
// asUser is given (through setpriv, as root); input is its standard input.
Run tool(const QStringList& args, const QString& asUser = QString(),
    const QByteArray& input = QByteArray())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("LC_ALL", "de_DE.UTF-8"); // if there: decimal commas, German messages
    process.setProcessEnvironment(environment);
    if (asUser.isEmpty())
        process.start(VOLTRIX_TOOL_BINARY, args);
    else
        process.start("setpriv",
            QStringList {
                "--reuid", asUser, "--regid", asUser, "--clear-groups", VOLTRIX_TOOL_BINARY }
                + args);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

// Volts of a code as the readouts show them, written out here.
double volts(int code, int gain, bool detector)
{
    const double factor = gain < 13 ? double(4096 >> gain) : 0.0;
    return detector ? (code + 128) * 2.5 * factor / 1048576.0 : code * 5.0 * factor / 1048576.0;
}

QList<QStringList> csvRows(const QString& path)
{
    QFile file(path);
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            rows << QString::fromUtf8(line).split(',');
    return rows;
}

bool writeSound(
    const QString& path, int format, int channels, int rate, const std::vector<float>& interleaved)
{
    SF_INFO info {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = (format & SF_FORMAT_TYPEMASK ? 0 : SF_FORMAT_WAV) | format;
    SNDFILE* file = sf_open(qPrintable(path), SFM_WRITE, &info);
    if (!file)
        return false;
    const sf_count_t frames = sf_count_t(interleaved.size()) / channels;
    const bool written = sf_writef_float(file, interleaved.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

} // namespace

class tst_Tool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void csvHoldsTheReadoutValues();
    void wavReadsBack();
    void importsAndRefusals();
    void spectrumOfASine();
    void hitsCsv();
    void failuresAndExitStatus();
    void wavRoundTrips();
    void wavFilesOfOtherWriters();
    void outputsAndStreams();
    void interruptedBatchLeavesNoTemporary();
    void commandLine();
    void sessionDatabase();

private:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    std::unique_ptr<WaveStore> record;
};

void tst_Tool::initTestCase()
{
    record = testrecords::make(3, 5000, 4);
    record->channelSlots[2].header.gainCode = 12;
    QCOMPARE(writeRaw(*record, path("rec.raw")), 0);
    auto detector = testrecords::make(1, 300, 5);
    detector->header.detector = 1;
    detector->header.clockKHz = 0; // no frequency: the first column is the sample index
    QCOMPARE(writeRaw(*detector, path("det.raw")), 0);

    QProcess ldd;
    ldd.start("ldd", { VOLTRIX_TOOL_BINARY });
    QVERIFY(ldd.waitForFinished());
    const QByteArray libraries = ldd.readAllStandardOutput();
    QVERIFY(libraries.contains("libQt6Core"));
    QVERIFY(!libraries.contains("Widgets"));
}

void tst_Tool::csvHoldsTheReadoutValues()
{
    QCOMPARE(tool({ "export", path("rec.raw"), "-o", path("rec.csv") }).status, 0);
    const QList<QStringList> rows = csvRows(path("rec.csv"));
    QCOMPARE(rows.size(), 5001);
    QCOMPARE(rows[0], (QStringList { "time_s", "ch1_V", "ch2_V", "ch3_V" }));
    const double rate = 12000 * 1000.0 / 100;
    for (int k = 0; k < 5000; ++k) {
        QCOMPARE(rows[k + 1][0].toDouble(), k / rate);
        for (int i = 0; i < 3; ++i) {
            const int gain = record->channelSlots[i].header.gainCode;
            const double expected = volts(record->channel(i)->sample(k), gain, false);
            if (rows[k + 1][i + 1].toDouble() != expected)
                QFAIL(qPrintable(
                    QString("sample %1 channel %2: %3").arg(k).arg(i).arg(rows[k + 1][i + 1])));
        }
    }
    // Detector data count from -128; without a frequency the index leads; a span and codes.
    QCOMPARE(tool({ "export", path("det.raw"), "-o", path("det.csv"), "--unit", "code", "--start",
                      "10", "--count", "3" })
                 .status,
        0);
    const QList<QStringList> codes = csvRows(path("det.csv"));
    QCOMPARE(codes.size(), 4);
    QCOMPARE(codes[0], (QStringList { "sample", "ch1_code" }));
    auto detector = std::make_unique<WaveStore>(QRect(0, 0, 99, 99));
    QVERIFY(readRaw(*detector, path("det.raw")));
    QCOMPARE(codes[1], (QStringList { "10", QString::number(detector->channel(0)->sample(10)) }));
    QCOMPARE(tool({ "export", path("det.raw"), "-o", path("detV.csv") }).status, 0);
    QCOMPARE(csvRows(path("detV.csv"))[1][1].toDouble(),
        volts(detector->channel(0)->sample(0), 0, true));
    QCOMPARE(tool({ "export", path("rec.raw"), "-o", path("q.csv"), "--unit", "Q" }).status, 0);
    QCOMPARE(csvRows(path("q.csv"))[0][3], QString("ch3_Q"));
}

void tst_Tool::wavReadsBack()
{
    QCOMPARE(tool({ "export", path("rec.raw"), "-o", path("rec.wav") }).status, 0);
    SF_INFO info {};
    SNDFILE* file = sf_open(qPrintable(path("rec.wav")), SFM_READ, &info);
    QVERIFY(file);
    QCOMPARE(info.channels, 3);
    QCOMPARE(info.samplerate, 120000);
    QCOMPARE(int(info.frames), 5000);
    QCOMPARE(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
    sf_close(file);
    // Python's wave module: 8-bit frames are the codes + 128, channel after channel.
    QProcess python;
    python.start("python3",
        { "-c",
            "import sys, wave\nw = wave.open(sys.argv[1])\nf = w.readframes(w.getnframes())\n"
            "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), f[3 * 777 + 1])",
            path("rec.wav") });
    QVERIFY(python.waitForFinished(30000));
    QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()).trimmed(),
        QString("3 1 120000 %1").arg(record->channel(1)->sample(777) + 128));

    QCOMPARE(tool({ "export", path("rec.raw"), "-o", path("float.wav"), "--float" }).status, 0);
    file = sf_open(qPrintable(path("float.wav")), SFM_READ, &info);
    QVERIFY(file);
    QCOMPARE(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::vector<float> values(size_t(info.frames) * 3);
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_FALSE);
    QCOMPARE(sf_readf_float(file, values.data(), info.frames), info.frames);
    sf_close(file);
    QCOMPARE(values[3 * 4321], float(volts(record->channel(0)->sample(4321), 0, false)));
}

void tst_Tool::importsAndRefusals()
{
    // An 8-bit export imported with the record's gain gives the same samples back.
    QCOMPARE(tool({ "export", path("rec.raw"), "-o", path("back.wav") }).status, 0);
    QCOMPARE(tool({ "import", path("back.wav"), "-o", path("back.raw"), "--gain", "1" }).status, 0);
    WaveStore back(QRect(0, 0, 99, 99));
    QVERIFY(readRaw(back, path("back.raw")));
    QCOMPARE(back.sampleCount(), 5000);
    QCOMPARE(int(back.header.clockKHz) * 1000 / back.header.ticksPerSample, 120000);
    for (int k = 0; k < 5000; ++k)
        QCOMPARE(back.channel(1)->sample(k), record->channel(1)->sample(k));
    QCOMPARE(int(back.channelSlots[1].header.gainCode), 1);

    // 16-bit samples are a fraction of a volt, float samples volts, each channel at its own
    // gain: a peak of 0.012 V is code 79 at gain 7 (5 x 32 / 2^20 V a code), and would be 157
    // at gain 8; channel 2's -0.006 V is code -79 at gain 8.
    for (const int format : { SF_FORMAT_PCM_16, SF_FORMAT_FLOAT }) {
        const QString wav = path(QString("in%1.wav").arg(format));
        QVERIFY(writeSound(wav, format, 2, 44100, { 0.012f, -0.006f, 0.0f, 0.003f }));
        const Run run = tool({ "import", wav, "-o", path("in.raw") });
        QCOMPARE(run.status, 0);
        WaveStore in(QRect(0, 0, 99, 99));
        QVERIFY(readRaw(in, path("in.raw")));
        QCOMPARE(int(in.channelSlots[0].header.gainCode), 7);
        QCOMPARE(int(in.channel(0)->sample(0)), 79);
        QCOMPARE(int(in.channelSlots[1].header.gainCode), 8);
        QCOMPARE(int(in.channel(1)->sample(0)), -79);
        QCOMPARE(int(in.header.clockKHz) * 1000.0 / in.header.ticksPerSample, 44100.0);
    }

    // Six channels or more samples than a record holds: refused, nothing written.
    QVERIFY(writeSound(path("six.wav"), SF_FORMAT_PCM_16, 6, 8000, std::vector<float>(12)));
    QVERIFY(writeSound(path("long.wav"), SF_FORMAT_PCM_16, 1, 8000, std::vector<float>(163841)));
    for (const char* name : { "six.wav", "long.wav" }) {
        const Run run = tool({ "import", path(name), "-o", path("refused.raw") });
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("a record holds at most"), qPrintable(run.err));
        QVERIFY(!QFile::exists(path("refused.raw")));
    }
}

void tst_Tool::spectrumOfASine()
{
    // Amplitude 100 codes at bin 8 of 256: 100 x 5 x 4096 / 2^20 volts at 8 x f / 256 Hz.
    auto sine = testrecords::make(1, 256, 1);
    for (int k = 0; k < 256; ++k)
        sine->channel(0)->setSample(k, qint8(std::lround(100 * std::sin(2 * M_PI * 8 * k / 256))));
    QCOMPARE(writeRaw(*sine, path("sine.raw")), 0);
    const Run run = tool({ "spectrum", path("sine.raw"), "--channel", "1" });
    QCOMPARE(run.status, 0);
    const QStringList lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 129);
    QCOMPARE(lines[0], QString("frequency_Hz,amplitude_V"));
    const QStringList peak = lines[8].split(',');
    QCOMPARE(peak[0].toDouble(), 8 * 120000.0 / 256);
    QVERIFY(std::fabs(peak[1].toDouble() - 100 * 5 * 4096 / 1048576.0) < 0.005);
    QVERIFY(lines[20].split(',')[1].toDouble() < 0.01);
    const Run db = tool({ "spectrum", path("sine.raw"), "--channel", "1", "--db", "--window",
        "Hanning", "--length", "64" });
    QCOMPARE(db.status, 0);
    QCOMPARE(db.out.split('\n').size(), 34);
}

// Bursts of +-30 codes (gain code 12, a code 5 / 2^20 V, 1 MHz) on channel 2 at 1000 us and
// channel 1 at 1400 us: two hits of one event, 0.7 m from sensor 1 of two 1 m apart (1000 m/s),
// which is the speed fitted to a source known to lie there. A threshold under a code is warned
// of; in the plane, the x_m,y_m,residual_m,zone columns.
void tst_Tool::hitsCsv()
{
    auto ae = testrecords::make(3, 3000); // channel 3 silent
    ae->header.ticksPerSample = 12;
    for (int i = 0; i < 3; ++i) {
        ae->channelSlots[i].header.gainCode = 12;
        const int from = i == 0 ? 1400 : (i == 1 ? 1000 : 5000);
        for (int k = 0; k < 3000; ++k)
            ae->channel(i)->setSample(
                k, qint8(k >= from && k < from + 50 ? (k - from) % 2 ? -30 : 30 : 0));
    }
    QCOMPARE(writeRaw(*ae, path("ae.raw")), 0);
    const Run run = tool({ "hits", path("ae.raw"), "--threshold-db", "40", "--spacing-m", "1",
        "--speed-mps", "1000" });
    QCOMPARE(run.status, 0);
    const QStringList lines = run.out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0],
        QString("file,channel,arrival_s,onset_s,amplitude_V,amplitude_dBAE,rise_s,duration_s,"
                "counts,energy_V2s,event,dt_s,position_m,clipped,peak_Hz,centroid_Hz"));
    const QStringList first = lines[1].split(',');
    QCOMPARE(first[1], QString("2"));
    QCOMPARE(first[2].toDouble(), 0.001);
    QCOMPARE(first[4].toDouble(), 30 * 5.0 / 1048576);
    QCOMPARE(first[8], QString("25"));
    const QStringList second = lines[2].split(',');
    QCOMPARE(second[10], QString("1"));
    QVERIFY(std::fabs(second[11].toDouble() - 0.0004) < 1e-12);
    QVERIFY(std::fabs(second[12].toDouble() - 0.7) < 1e-9);
    QCOMPARE(second[13], QString("0"));

    const Run fitted = tool({ "hits", path("ae.raw"), "--threshold-auto", "20", "--spacing-m", "1",
        "--calibrate", "0.7" });
    QCOMPARE(fitted.status, 0);
    const QStringList fit = fitted.out.split('\n')[1].split(',');
    QVERIFY2(std::fabs(fit[1].toDouble() - 1000) < 1e-6 && fit[3] == "1", qPrintable(fitted.out));
    const Run wrong = tool({ "hits", path("ae.raw"), "--threshold-auto", "20", "--spacing-m", "1",
        "--calibrate", "0.2" });
    QVERIFY2(
        wrong.status == 1 && wrong.err.contains("the onsets contradict a source at that place"),
        qPrintable(wrong.err));
    const Run low = tool({ "hits", path("ae.raw"), "--threshold-v", "2e-6", "--sensors",
        "0,0;1,0;0,1", "--speed-mps", "1000" });
    QVERIFY2(low.status == 0
            && low.err.contains("channel 1: the threshold of 2e-06 V is under one code"),
        qPrintable(low.err));
    QVERIFY(low.out.startsWith("file,channel,arrival_s,onset_s,amplitude_V,amplitude_dBAE,rise_s,"
                               "duration_s,counts,energy_V2s,event,dt_s,x_m,y_m,residual_m,zone,"));
}

// Each cause in words, the others still done, exit 1; usage errors exit 2; no output is left
// under a target name when a file fails.
void tst_Tool::failuresAndExitStatus()
{
    QVERIFY(testfiles::write(path("bad.raw"), "NOTARAW!and more"));
    QVERIFY(testfiles::write(path("short.raw"), "KORUNRAW" + QByteArray(92, 0)));
    QByteArray huge = QByteArray("KORUNRAW") + QByteArray(256, 0);
    huge[8] = 1;
    qToLittleEndian<qint32>(2147483647, huge.data() + 8 + 6);
    QVERIFY(testfiles::write(path("huge.raw"), huge));
    QDir().mkpath(path("out"));
    const Run run = tool({ "export", path("bad.raw"), path("short.raw"), path("huge.raw"),
        path("none.raw"), path("rec.raw"), "-o", path("out") });
    QCOMPARE(run.status, 1);
    for (const char* cause : { "bad.raw: not a record file (bad magic)",
             "short.raw: truncated: the header needs 256 bytes, the file has 100",
             "huge.raw: sample count 2147483647 is out of range",
             "none.raw: no such file or directory" })
        QVERIFY2(run.err.contains(cause), qPrintable(run.err));
    QCOMPARE(QDir(path("out")).entryList(QDir::Files), QStringList { "rec.csv" });

    // Folders the output cannot go to: the cause, and nothing under the name.
    const Run missing = tool({ "export", path("rec.raw"), "-o", path("nowhere/rec.csv") });
    QCOMPARE(missing.status, 1);
    QVERIFY2(missing.err.contains("nowhere/rec.csv: no such folder"), qPrintable(missing.err));
    if (::geteuid() == 0) {
        QDir().mkpath(path("full"));
        QProcess mount;
        mount.start("mount", { "-t", "tmpfs", "-o", "size=64k", "tmpfs", path("full") });
        if (mount.waitForFinished() && mount.exitCode() == 0) {
            const Run full = tool({ "export", path("rec.raw"), "-o", path("full/rec.csv") });
            const QStringList left = QDir(path("full")).entryList(QDir::Files | QDir::Hidden);
            QProcess::execute("umount", { path("full") });
            QCOMPARE(full.status, 1);
            QVERIFY2(full.err.contains("no space left on the device"), qPrintable(full.err));
            QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
        }
        if (!QStandardPaths::findExecutable("setpriv").isEmpty()) {
            QFile::setPermissions(dir.path(),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                    | QFileDevice::ReadOther | QFileDevice::ExeOther);
            const Run denied = tool({ "export", path("rec.raw"), "-o", path("rec.csv") }, "65534");
            QCOMPARE(denied.status, 1);
            QVERIFY2(denied.err.contains("permission denied"), qPrintable(denied.err));
        }
    }

    const Run json = tool({ "info", "--json", path("rec.raw") });
    QCOMPARE(json.status, 0);
    QVERIFY(json.out.contains("\"frequency_Hz\": 120000"));
    QVERIFY(tool({ "info", path("rec.raw") }).out.contains("duration_s: 0.04166666667\n"));
}

// A record written as WAV, 8-bit or float, and read back is the same record byte for byte
// apart from the display state: detector, synchronisation, inputs, gains 0/3/6/12, the exact
// frequency (12000 kHz / 7), the created count and reserved bytes come back from the comment.
void tst_Tool::wavRoundTrips()
{
    auto original = testrecords::make(4, 3000, 9);
    WaveHeader& h = original->header;
    h.detector = 1;
    h.syncExternal = 1;
    h.ticksPerSample = 7;
    h.createdCount = 4321;
    h.reserved2[10] = 0x5A;
    for (int i = 0; i < 4; ++i) {
        original->channelSlots[i].header.gainCode = quint8(i == 3 ? 12 : 3 * i);
        original->channelSlots[i].header.inputNumber = quint8(29 + i);
        original->channelSlots[i].header.reserved3[2] = quint8(i + 1);
    }
    QCOMPARE(writeRaw(*original, path("facts.raw")), 0);
    const auto withoutDisplay = [](QByteArray bytes) {
        for (int at = 28; at < 40; ++at) // smoothing, zoom, first and visible samples
            bytes[at] = 0;
        bytes[19] = 0; // the sine
        for (int i = 0; i < 4; ++i)
            std::memset(bytes.data() + 264 + i * (16 + 3000) + 4, 0, 4); // the cursor
        return bytes;
    };
    const QByteArray before = withoutDisplay(testfiles::read(path("facts.raw")));
    for (const char* kind : { "--format=wav", "--float" }) {
        QCOMPARE(tool({ "export", path("facts.raw"), "-o", path("facts.wav"), kind }).status, 0);
        QCOMPARE(tool({ "import", path("facts.wav"), "-o", path("back.raw") }).status, 0);
        QCOMPARE(withoutDisplay(testfiles::read(path("back.raw"))), before);
    }
    // Every channel count, with frames beyond whole blocks of sixteen: code c of channel i at
    // frame j is byte c + 128 at 44 + j * channels + i of the file.
    for (int channels = 1; channels <= 5; ++channels) {
        QVERIFY(writeRaw(*testrecords::make(channels, 37, quint32(channels)), path("n.raw")) == 0);
        QCOMPARE(tool({ "export", path("n.raw"), "-o", path("n.wav"), "--format=wav" }).status, 0);
        const QByteArray raw = testfiles::read(path("n.raw"));
        const QByteArray wav = testfiles::read(path("n.wav"));
        const int data = int(wav.indexOf("data")) + 8;
        for (int i = 0; i < channels; ++i)
            for (int j = 0; j < 37; ++j)
                QCOMPARE(quint8(wav[data + j * channels + i]),
                    quint8(raw[264 + i * (16 + 37) + 16 + j] ^ 0x80));
    }
}

// WAV files of other writers: WAVE_FORMAT_EXTENSIBLE, RF64 and Wave64 with 24-, 32- and 16-bit
// PCM; clipping counted and said, non-finite samples refused, an empty or a cut data chunk said;
// the frequency nearest to what a clock and ticks can express.
void tst_Tool::wavFilesOfOtherWriters()
{
    // 0.5 V and -0.25 V: codes 102 and -51 at gain 2 (5 x 1024 / 2^20 V a code), 96 kHz is
    // 12000 kHz / 125.
    for (const int format : { SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, SF_FORMAT_RF64 | SF_FORMAT_PCM_32,
             SF_FORMAT_W64 | SF_FORMAT_PCM_16 }) {
        QVERIFY(writeSound(path("other.wav"), format, 1, 96000, { 0.5f, -0.25f }));
        QCOMPARE(tool({ "import", path("other.wav"), "-o", path("other.raw") }).status, 0);
        WaveStore in(QRect(0, 0, 99, 99));
        QVERIFY(readRaw(in, path("other.raw")));
        QCOMPARE(int(in.channelSlots[0].header.gainCode), 2);
        QCOMPARE(int(in.channel(0)->sample(0)), 102);
        QCOMPARE(int(in.channel(0)->sample(1)), -51);
        QCOMPARE(in.header.ticksPerSample, 125);
    }
    // +-3 V at gain 0 (2.48 V at most) and 1e30 V clip to the ends of the codes, without a
    // change of sign, and the import says how many on which channels.
    QVERIFY(writeSound(path("loud.wav"), SF_FORMAT_FLOAT, 2, 8000, { 3.0f, 0.0f, -3.0f, 1e30f }));
    Run run = tool({ "import", path("loud.wav"), "-o", path("loud.raw"), "--gain", "0" });
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains("3 samples clipped on channel 1, 2"), qPrintable(run.err));
    WaveStore loud(QRect(0, 0, 99, 99));
    QVERIFY(readRaw(loud, path("loud.raw")));
    QCOMPARE(loud.channel(0)->sample(0), qint8(127));
    QCOMPARE(loud.channel(0)->sample(1), qint8(-128));
    QCOMPARE(loud.channel(1)->sample(1), qint8(127));
    for (const float bad : { NAN, INFINITY }) {
        QVERIFY(writeSound(path("bad.wav"), SF_FORMAT_FLOAT, 2, 8000, { 0.0f, 0.0f, 0.0f, bad }));
        run = tool({ "import", path("bad.wav"), "-o", path("nan.raw") });
        QCOMPARE(run.status, 1);
        QVERIFY2(
            run.err.contains("sample 1 of channel 2 is not a finite number"), qPrintable(run.err));
        QVERIFY(!QFile::exists(path("nan.raw")));
    }
    QVERIFY(writeSound(path("empty.wav"), SF_FORMAT_PCM_16, 1, 8000, {}));
    run = tool({ "import", path("empty.wav"), "-o", path("empty.raw") });
    QVERIFY2(run.status == 1 && run.err.contains("empty.wav: no samples"), qPrintable(run.err));
    QVERIFY(writeSound(path("cut.wav"), SF_FORMAT_PCM_U8, 1, 8000, std::vector<float>(1000)));
    QVERIFY(QFile::resize(path("cut.wav"), QFileInfo(path("cut.wav")).size() - 400));
    run = tool({ "import", path("cut.wav"), "-o", path("cut.raw") });
    QCOMPARE(run.status, 0);
    QVERIFY2(run.err.contains("announces 1000 samples, the file holds 600: 400 missing"),
        qPrintable(run.err));
    // A chunk that claims more bytes than follow never reaches the sound library, which would
    // loop over it for ever.
    run = tool({ "import", FUZZ_FINDINGS "/wav/list-past-the-end.wav", "-o", path("list.raw") });
    QVERIFY2(run.status == 1 && run.err.contains("chunk \"LIST\" runs past its end"),
        qPrintable(run.err));

    const struct
    {
        qint64 hertz;
        int clockKHz;
        int ticks;
        bool exact;
    } clocks[] = { { 96000, 12000, 125, true }, { 44100, 441, 10, true },
        { 65536000, 65535, 1, false }, { 65537, 34538, 527, false } };
    for (const auto& c : clocks) {
        quint16 clockKHz = 0;
        qint32 ticks = 0;
        QCOMPARE(nearestClock(c.hertz, clockKHz, ticks), c.exact);
        QCOMPARE(int(clockKHz), c.clockKHz);
        QCOMPARE(ticks, c.ticks);
    }
}

// "-" is the standard input and output; a FIFO without a writer is no data at once; an output
// that is an input, or outputs of a batch that would overwrite each other, are refused before
// anything is written; a full standard output fails, a closed pipe ends quietly; names that are
// not UTF-8 keep their bytes; hits go to -o with a quoted file name.
void tst_Tool::outputsAndStreams()
{
    Run run = tool({ "export", "-", "-o", "-", "--unit", "code", "--count=2" }, QString(),
        testfiles::read(path("rec.raw")));
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out.split('\n')[0], QString("time_s,ch1_code,ch2_code,ch3_code"));
    QCOMPARE(run.out.count('\n'), 3);
    QCOMPARE(::mkfifo(qPrintable(path("fifo")), 0600), 0);
    run = tool({ "info", path("fifo") });
    QVERIFY2(run.status == 1 && run.err.contains("fifo: no data"), qPrintable(run.err));

    QVERIFY(QFile::copy(path("rec.raw"), path("self.wav")));
    QVERIFY(QFile::link(path("self.wav"), path("link.wav")));
    for (const QStringList& args : { QStringList { "export", path("self.wav"), "--format", "wav" },
             QStringList { "export", path("self.wav"), "-o", path("link.wav") },
             QStringList { "import", path("link.wav"), "-o", path("self.wav") } }) {
        run = tool(args);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("link.wav is this input")
                || run.err.contains("self.wav is this input"),
            qPrintable(run.err));
    }
    QCOMPARE(testfiles::read(path("self.wav")), testfiles::read(path("rec.raw")));
    for (const char* folder : { "a", "b", "coll" })
        QVERIFY(QDir().mkpath(path(folder)));
    QVERIFY(QFile::copy(path("rec.raw"), path("a/x.raw"))
        && QFile::copy(path("det.raw"), path("b/x.raw")));
    run = tool({ "export", path("a/x.raw"), path("b/x.raw"), "-o", path("coll") });
    QCOMPARE(run.status, 2);
    QVERIFY2(run.err.contains("a/x.raw and " + path("b/x.raw")), qPrintable(run.err));
    QVERIFY(QDir(path("coll")).isEmpty());

    auto big = testrecords::make(1, 163840, 2);
    QCOMPARE(writeRaw(*big, path("big.raw")), 0);
    QProcess full;
    full.setStandardOutputFile("/dev/full");
    full.start(VOLTRIX_TOOL_BINARY, { "spectrum", path("big.raw"), "--channel", "1" });
    QVERIFY(full.waitForFinished(30000));
    QCOMPARE(full.exitCode(), 1);
    QVERIFY(full.readAllStandardError().contains("standard output: no space left on the device"));
    QProcess shell;
    const QString quoted = QString("'%1'").arg(VOLTRIX_TOOL_BINARY);
    shell.setProgram("sh");
    shell.setArguments({ "-c",
        quoted + " spectrum big.raw --channel 1 2>piped.err | head -c 1 >/dev/null; " + quoted
            + " export \"$(printf '\\340\\362')\".raw; " + quoted
            + " hits 'a,\"b.raw' --threshold-v 0.01 -o hits.csv" });
    shell.setWorkingDirectory(dir.path());
    const QByteArray cp1251 = QFile::encodeName(dir.path()) + "/\xe0\xf2"; // not UTF-8
    QCOMPARE(::link(qPrintable(path("rec.raw")), cp1251 + ".raw"), 0);
    QVERIFY(QFile::copy(path("rec.raw"), path("a,\"b.raw")));
    shell.start();
    QVERIFY(shell.waitForFinished(30000));
    QCOMPARE(testfiles::read(path("piped.err")), QByteArray());
    QCOMPARE(::access(cp1251 + ".csv", F_OK), 0);
    for (const char* suffix : { ".raw", ".csv" }) // names the temporary folder cannot remove
        ::unlink(cp1251 + suffix);
    QVERIFY2(testfiles::read(path("hits.csv")).contains("\n\"a,\"\"b.raw\",1,"),
        testfiles::read(path("hits.csv")).left(300).constData());
}

// SIGTERM in the middle of a batch: the temporary file being written is removed and the tool
// ends by the signal.
void tst_Tool::interruptedBatchLeavesNoTemporary()
{
    QVERIFY(QDir().mkpath(path("batch")) && QDir().mkpath(path("batchout")));
    auto big = testrecords::make(5, 163840, 3);
    for (int k = 0; k < 8; ++k)
        QCOMPARE(writeRaw(*big, path(QString("batch/r%1.raw").arg(k))), 0);
    QProcess process;
    process.start(VOLTRIX_TOOL_BINARY, { "export", path("batch"), "-o", path("batchout") });
    QStringList temporaries;
    while (temporaries.isEmpty() && !process.waitForFinished(1))
        temporaries = QDir(path("batchout")).entryList({ "*.tmp*" }, QDir::Files);
    QVERIFY(!temporaries.isEmpty());
    ::kill(pid_t(process.processId()), SIGTERM);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(QDir(path("batchout")).entryList({ "*.tmp*" }, QDir::Files), QStringList());
}

// Usage errors are one line naming the option and where to read more (exit 2); the
// conventions of peers ("--", --name=value, --version, a command's own --help, folders); files
// whose channels or numbers do not fit are exit 1 with the cause.
void tst_Tool::commandLine()
{
    const QString rec = path("rec.raw");
    const QStringList hits { "hits", rec, "--threshold-v", "1" };
    const std::pair<QStringList, const char*> wrong[] = {
        { { "export", rec, "-o", path("y.csv"), "--float" }, "--float is for WAV" },
        { { "export", rec, "-o", path("y.wav"), "--unit", "code" }, "--unit is for CSV" },
        { { "export", rec, "--format=wav", "-o", path("y.csv") }, "--format wav does not match" },
        { { "export", rec, "-o", path("y.csv"), "-o", path("z.csv") }, "-o is given twice" },
        { { "export", rec, "--count", "-1" }, "--count takes" },
        { { "export", rec, "--unit", "mV" }, "--unit is V, Q or code" },
        { { "hits", rec, "--threshold-v", "0" }, "--threshold-v takes" },
        { { "hits", rec, "--threshold-v", "nan" }, "--threshold-v takes" },
        { { "hits", rec, "--threshold-db", "inf" }, "--threshold-db takes" },
        { hits + QStringList { "--hdt-us", "-5" }, "--hdt-us takes" },
        { hits + QStringList { "--hlt-us", "2e10" }, "--hlt-us takes" },
        { hits + QStringList { "--spacing-m", "-1" }, "--spacing-m takes" },
        { hits + QStringList { "--spacing-m", "1", "--pair", "1,1" },
            "--pair takes two different" },
        { hits + QStringList { "--speed-mps", "5000" },
            "--speed-mps needs --spacing-m or --sensors" },
        { hits + QStringList { "--threshold-auto", "6" }, "one of --threshold-v, --threshold-db" },
        { hits + QStringList { "--sensors", "0,0;1,0" }, "--sensors takes three" },
        { hits + QStringList { "--sensors", "0,0;1,0;1,1;0" }, "--sensors takes three" },
        { hits + QStringList { "--sensors", "0,0;0,0;1,1" }, "two sensors stand at one place" },
        { hits + QStringList { "--sensors", "0,0;1,0;2,0" }, "the sensors stand on one line" },
        { hits + QStringList { "--sensors", "0,0;1,0;1,1", "--spacing-m", "1" },
            "one of --spacing-m" },
        { hits + QStringList { "--sensors", "0,0;1,0;1,1", "--pair", "1,2" }, "--pair needs" },
        { hits + QStringList { "--spacing-m", "1", "--calibrate", "x" }, "--calibrate takes" },
        { hits + QStringList { "--spacing-m", "1", "--speed-mps", "-5000" }, "--speed-mps takes" },
        { { "spectrum", rec }, "--channel N" },
        { { "info" }, "info needs a file" },
        { { "frobnicate", rec }, "unknown command 'frobnicate'" },
        { { "session", path("folder") }, "session takes one of --threshold-v" },
        { { "session", path("folder"), "--summary", "--threshold-v", "1" }, "takes no options" },
        { { "session", rec, rec, "--threshold-v", "1" }, "session takes one folder" },
    };
    for (const auto& [args, named] : wrong) {
        const Run run = tool(args);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(named) && run.err.count('\n') == 1
                && run.err.contains("try 'voltrix-tool"),
            qPrintable(run.err));
    }
    QVERIFY(tool({}).err.contains("usage: voltrix-tool"));
    QVERIFY(tool({ "--version" })
                .out.contains(QRegularExpression("^voltrix-tool \\d+\\.\\d+\\.\\d+\n$")));
    const Run help = tool({ "export", "--help" });
    QVERIFY(
        help.status == 0 && help.out.contains("--format csv|wav") && !help.out.contains("hits"));
    QVERIFY(tool({ "info", "--", "--json" }).err.contains("--json: no such file or directory"));
    QVERIFY(QDir().mkpath(path("folder")));
    for (const char* name : { "folder/2.raw", "folder/1.raw" })
        QVERIFY(QFile::copy(rec, path(name)));
    const Run folder = tool({ "info", path("folder") });
    QVERIFY(folder.status == 0 && folder.out.indexOf("1.raw") < folder.out.indexOf("2.raw"));

    QVERIFY(
        tool(hits + QStringList { "--channels", "9" }).err.contains("the record has no channel 9"));
    QCOMPARE(tool(hits + QStringList { "--spacing-m", "1", "--pair", "1,4" }).status, 1);
    auto odd = testrecords::make(1, 300, 1);
    odd->channelSlots[0].header.gainCode = 13;
    QCOMPARE(writeRaw(*odd, path("gain13.raw")), 0);
    for (const QStringList& args :
        { QStringList { "info", path("gain13.raw") }, QStringList { "export", path("gain13.raw") },
            QStringList { "spectrum", path("gain13.raw"), "--channel", "1" },
            QStringList { "hits", path("gain13.raw"), "--threshold-v", "1" } }) {
        const Run run = tool(args);
        QVERIFY2(run.status == 1 && run.err.contains("gain code 13 of channel 1 is out of range"),
            qPrintable(run.err));
    }
    odd->channelSlots[0].header.gainCode = 0;
    odd->header.ticksPerSample = -5;
    QCOMPARE(writeRaw(*odd, path("ticks.raw")), 0);
    QVERIFY(
        tool({ "info", path("ticks.raw") }).err.contains("ticks per sample -5 is out of range"));
    QVERIFY(tool({ "spectrum", rec, "--channel", "1", "--start", "4999" })
                .err.contains("from sample 4999 the record holds 1 samples; a spectrum needs 4"));
    QVERIFY(tool({ "spectrum", rec, "--channel", "1", "--length", "8192" })
                .err.contains("holds 5000 samples: a length of at most 4096 fits"));
}

namespace {

// The rows of a query through the sqlite3 shell, its columns joined by '|'.
QStringList sqliteRows(const QString& database, const QString& query)
{
    QProcess shell;
    shell.start("sqlite3", { database, query });
    shell.waitForFinished();
    return QString::fromUtf8(shell.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

// A folder of records as a session: the hits of each file in its database are those hits
// finds in it, with the same events; a rebuild with another threshold replaces them; the
// summary; a file that is not a database is refused as it was; a full disk keeps the old one.
void tst_Tool::sessionDatabase()
{
    const QString folder = path("session");
    const QString database = folder + "/session.sqlite";
    QVERIFY(QDir().mkpath(folder));
    for (const auto& [name, seed] : { std::pair("20240501-100000-0003.raw", 1),
             std::pair("20240501-100500-0005.raw", 2), std::pair("extra.raw", 3) })
        QCOMPARE(writeRaw(*testrecords::make(2, 5000, seed), folder + "/" + name), 0);
    // Numbered after the others, started when written: 2024-05-01 10:10:00 UTC.
    const timespec written[2] = { { 1714558200, 0 }, { 1714558200, 0 } };
    QCOMPARE(::utimensat(AT_FDCWD, qPrintable(folder + "/extra.raw"), written, 0), 0);
    QList<int> totals;
    for (const char* margin : { "12", "20" }) {
        const QStringList ae { "--threshold-auto", margin, "--spacing-m", "1" };
        const QStringList csv = tool(QStringList { "hits", folder } + ae).out.split('\n');
        std::map<QString, int> hits;
        QSet<QString> events;
        for (const QString& line : csv.mid(1, csv.size() - 2)) {
            const QStringList cells = line.split(',');
            ++hits[QFileInfo(cells[0]).fileName()];
            events << cells[0] + ' ' + cells[10];
        }
        const Run built = tool(QStringList { "session", folder } + ae);
        QCOMPARE(built.status, 0);
        totals << int(csv.size() - 2);
        QCOMPARE(built.out,
            QString("%1: 3 captures, %2 hits, %3 events\n")
                .arg(database)
                .arg(totals.last())
                .arg(events.size()));
        QStringList expected;
        for (const auto& [name, count] : hits)
            expected << QString("%1|%2").arg(name).arg(count);
        QCOMPARE(sqliteRows(database,
                     "SELECT file, count(h.id) FROM captures c JOIN hits h ON h.capture = c.id "
                     "GROUP BY c.id ORDER BY file"),
            expected);
    }
    QVERIFY(totals[0] > 0 && totals[1] > 0 && totals[0] != totals[1]);
    QCOMPARE(QDir(folder).entryList({ "session*" }, QDir::Files), QStringList("session.sqlite"));
    QCOMPARE(sqliteRows(database, "SELECT file, number, start_utc FROM captures ORDER BY number"),
        QStringList({ "20240501-100000-0003.raw|3|2024-05-01T10:00:00.000Z",
            "20240501-100500-0005.raw|5|2024-05-01T10:05:00.000Z",
            "extra.raw|6|2024-05-01T10:10:00.000Z" }));
    const Run summary = tool({ "session", folder, "--summary" });
    QCOMPARE(summary.status, 0);
    const QStringList lines = summary.out.split('\n');
    QCOMPARE(lines.mid(0, 8),
        QStringList({ "captures: 3", QString("hits: %1").arg(totals[1]),
            QString("events: %1").arg(sqliteRows(database, "SELECT count(*) FROM events")[0]),
            "first_utc: 2024-05-01T10:00:00.000Z", "last_utc: 2024-05-01T10:10:00.042Z",
            "span_s: 600.0416667", "recorded_s: 0.125", lines[7] }));
    // 5000 samples at 120 kHz last 1/24 s.
    QVERIFY(std::fabs(lines[7].mid(15).toDouble() - totals[1] * 3600 / (600 + 1 / 24.0)) < 1e-6);

    QVERIFY(QDir().mkpath(path("foreign")));
    QVERIFY(QFile::copy(folder + "/extra.raw", path("foreign/extra.raw")));
    const QByteArray text = "not a database, and longer than SQLite's header";
    QVERIFY(testfiles::write(path("foreign/session.sqlite"), text));
    const Run refused = tool({ "session", path("foreign"), "--threshold-auto", "20" });
    QVERIFY2(refused.status == 1
            && refused.err.contains("session.sqlite: not an SQLite database; nothing was changed"),
        qPrintable(refused.err));
    QCOMPARE(testfiles::read(path("foreign/session.sqlite")), text);

    QDir().mkpath(path("sfull"));
    QProcess mount;
    mount.start("mount", { "-t", "tmpfs", "-o", "size=96k", "tmpfs", path("sfull") });
    if (::geteuid() != 0 || !mount.waitForFinished() || mount.exitCode() != 0)
        return;
    QVERIFY(QFile::copy(folder + "/extra.raw", path("sfull/extra.raw")));
    const Run first = tool({ "session", path("sfull"), "--threshold-auto", "20" });
    const Run full = tool({ "session", path("sfull"), "--threshold-auto", "30" });
    const QStringList kept = sqliteRows(path("sfull/session.sqlite"), "SELECT count(*) FROM hits");
    const QStringList left = QDir(path("sfull")).entryList(QDir::Files);
    QProcess::execute("umount", { path("sfull") });
    QCOMPARE(first.status, 0);
    QVERIFY2(full.status == 1 && full.err.contains("no space left on the device; nothing"),
        qPrintable(full.err));
    QCOMPARE(kept, QStringList(first.out.section(' ', 3, 3)));
    QCOMPARE(left, QStringList({ "extra.raw", "session.sqlite" }));
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "test_tool.moc"
