// voltrix-tool as a process, without a display: its CSV read back by a parser of its own and
// compared with the conversion written out here, its WAV files read back by libsndfile and
// Python's wave module, imports and their refusals, the spectrum and the hit table, and every
// failure with its exit status.
#include "support/files.h"
#include "support/records.h"
#include "wave_stor.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <sndfile.h>
#include <unistd.h>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

// The tool with DISPLAY and QT_QPA_PLATFORM unset: it must need neither. As another user when
// asUser is given (through setpriv, as root).
Run tool(const QStringList& args, const QString& asUser = QString())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    environment.insert("LC_ALL", "de_DE.UTF-8"); // a decimal comma where the locale is there
    process.setProcessEnvironment(environment);
    if (asUser.isEmpty())
        process.start(VOLTRIX_TOOL_BINARY, args);
    else
        process.start("setpriv",
            QStringList {
                "--reuid", asUser, "--regid", asUser, "--clear-groups", VOLTRIX_TOOL_BINARY }
                + args);
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
    info.format = SF_FORMAT_WAV | format;
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
// channel 1 at 1400 us: two hits of one event, 0.7 m from sensor 1 of two 1 m apart (1000 m/s).
void tst_Tool::hitsCsv()
{
    auto ae = testrecords::make(2, 3000);
    ae->header.ticksPerSample = 12;
    for (int i = 0; i < 2; ++i) {
        ae->channelSlots[i].header.gainCode = 12;
        const int from = i ? 1000 : 1400;
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
                "counts,energy_V2s,event,dt_s,position_m"));
    const QStringList first = lines[1].split(',');
    QCOMPARE(first[1], QString("2"));
    QCOMPARE(first[2].toDouble(), 0.001);
    QCOMPARE(first[4].toDouble(), 30 * 5.0 / 1048576);
    QCOMPARE(first[8], QString("25"));
    const QStringList second = lines[2].split(',');
    QCOMPARE(second[10], QString("1"));
    QVERIFY(std::fabs(second[11].toDouble() - 0.0004) < 1e-12);
    QVERIFY(std::fabs(second[12].toDouble() - 0.7) < 1e-9);
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
    QVERIFY2(missing.err.contains("no such folder"), qPrintable(missing.err));
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

    for (const QStringList& wrong : { QStringList {}, QStringList { "frobnicate", "x" },
             QStringList { "export", path("rec.raw"), "--unit", "mV" }, QStringList { "info" },
             QStringList { "spectrum", path("rec.raw") } }) {
        const Run usage = tool(wrong);
        QCOMPARE(usage.status, 2);
        QVERIFY(usage.err.contains("usage: voltrix-tool"));
    }
    const Run help = tool({ "export", "--help" });
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.contains("--format csv|wav"));
    const Run json = tool({ "info", "--json", path("rec.raw") });
    QCOMPARE(json.status, 0);
    QVERIFY(json.out.contains("\"frequency_Hz\": 120000"));
}

QTEST_GUILESS_MAIN(tst_Tool)
#include "test_tool.moc"
