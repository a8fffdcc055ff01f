// The real program as an operator drives it: the voltrix binary on its own X display (Xvfb),
// the simulated unit on a pseudo-terminal, keys sent with xdotool. Checks what the operator
// depends on: a run saved with Ctrl+W holds exactly the samples the unit sent under the header
// the run completed; a record read back with Ctrl+R shows the same information dialog; the
// settings written with Ctrl+S hold what the dialogs set. Every wait is on a condition.
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <functional>

namespace {

constexpr int waitMs = 30000;
constexpr int sampleCount = 6000; // NumItems: samples a channel

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = waitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(25);
    }
    return true;
}

// The pixels of an xwd image, without its header and colour map (they name the window and
// its place, which may differ).
QByteArray xwdPixels(const QByteArray& image)
{
    if (image.size() < 100)
        return {};
    const auto field = [&image](int index) {
        return qFromBigEndian<quint32>(
            reinterpret_cast<const uchar*>(image.constData()) + 4 * index);
    };
    const qint64 start = qint64(field(0)) + 12 * qint64(field(19));
    return start < image.size() ? image.mid(start) : QByteArray();
}

} // namespace

class tst_E2E : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void runIsSavedExactly();
    void readRecordShowsTheSameInformation();
    void settingsHoldWhatTheDialogsSet();
    void quitsCleanly();

private:
    QString run(const QString& program, const QStringList& args, int timeoutMs = 10000);
    // The id of the visible top-level window whose name matches the pattern, or empty.
    QString windowNamed(const QString& pattern);
    bool waitWindow(const QString& pattern, QString* id = nullptr);
    // Sends the keys to the window until a window matching the pattern shows: a key that
    // arrives while the focus is still moving is lost, not queued.
    bool keysUntilWindow(
        const QString& window, const QStringList& keys, const QString& pattern, QString* id);
    bool waitNoWindow(const QString& pattern);
    // Focuses the window and sends the keys to it, as typed on the keyboard.
    void keys(const QString& window, const QStringList& keys);
    void type(const QString& window, const QString& text);
    QByteArray capture(const QString& window);
    // The window's pixels once it has been drawn: two equal captures showing more than a
    // background.
    QByteArray settledPixels(const QString& window);
    // Waits for the condition while the X server runs; false at once when it has gone.
    bool waitWithDisplay(const std::function<bool()>& condition, int timeoutMs = waitMs);
    QString displayLog();

    QTemporaryDir dir;
    QByteArray xvfbLog;
    QProcessEnvironment environment;
    QProcess display;
    QProcess unit;
    QProcess program;
    QString mainWindow;
    QString savedRecord;
};

QString tst_E2E::run(const QString& name, const QStringList& args, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(name, args);
    if (!process.waitForFinished(timeoutMs))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString tst_E2E::windowNamed(const QString& pattern)
{
    return run("xdotool", { "search", "--onlyvisible", "--name", pattern }).section('\n', 0, 0);
}

bool tst_E2E::waitWithDisplay(const std::function<bool()>& condition, int timeoutMs)
{
    bool gone = false;
    const bool met = waitUntil(
        [&] {
            gone = display.state() == QProcess::NotRunning;
            return gone || condition();
        },
        timeoutMs);
    return met && !gone;
}

QString tst_E2E::displayLog()
{
    xvfbLog += display.readAllStandardError();
    return QString::fromLocal8Bit(xvfbLog);
}

bool tst_E2E::waitWindow(const QString& pattern, QString* id)
{
    QString found;
    const bool seen = waitWithDisplay([&] { return !(found = windowNamed(pattern)).isEmpty(); });
    if (id)
        *id = found;
    return seen;
}

bool tst_E2E::keysUntilWindow(
    const QString& window, const QStringList& sequence, const QString& pattern, QString* id)
{
    for (int tries = 0; tries < 10; ++tries) {
        keys(window, sequence);
        if (waitWithDisplay([&] { return !(*id = windowNamed(pattern)).isEmpty(); }, 3000))
            return true;
    }
    return false;
}

bool tst_E2E::waitNoWindow(const QString& pattern)
{
    return waitWithDisplay([&] { return windowNamed(pattern).isEmpty(); });
}

void tst_E2E::keys(const QString& window, const QStringList& sequence)
{
    run("xdotool", { "windowfocus", "--sync", window });
    run("xdotool", QStringList { "key", "--clearmodifiers" } + sequence);
}

void tst_E2E::type(const QString& window, const QString& text)
{
    run("xdotool", { "windowfocus", "--sync", window });
    run("xdotool", { "type", "--delay", "5", text });
}

QByteArray tst_E2E::capture(const QString& window)
{
    QProcess xwd;
    xwd.setProcessEnvironment(environment);
    xwd.start("xwd", { "-silent", "-id", window });
    return xwd.waitForFinished(10000) ? xwd.readAllStandardOutput() : QByteArray();
}

QByteArray tst_E2E::settledPixels(const QString& window)
{
    QByteArray last;
    QByteArray settled;
    waitUntil([&] {
        const QByteArray pixels = xwdPixels(capture(window));
        QSet<QByteArray> colours;
        for (qsizetype i = 0; i + 4 <= pixels.size() && colours.size() <= 8; i += 4)
            colours.insert(pixels.mid(i, 4));
        const bool drawn = colours.size() > 8 && pixels == last;
        last = pixels;
        if (drawn)
            settled = pixels;
        return drawn;
    });
    return settled;
}

void tst_E2E::initTestCase()
{
    for (const char* tool : { "Xvfb", "xdotool", "xwd" })
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QFAIL(qPrintable(QString("%1 is missing: scripts/install-deps installs it").arg(tool)));
    QVERIFY(dir.isValid());
    // A display of our own: Xvfb picks a free number under its own lock and writes it to its
    // standard output once it accepts connections.
    display.start(
        "Xvfb", { "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp" });
    QVERIFY(display.waitForStarted());
    QByteArray number;
    const bool ready = waitWithDisplay([&] {
        number += display.readAllStandardOutput();
        return number.endsWith('\n');
    });
    QVERIFY2(ready, qPrintable("Xvfb did not start:\n" + displayLog()));
    environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", QString(":%1").arg(QString::fromLatin1(number.trimmed())));
    environment.remove("QT_QPA_PLATFORM");
    // Window names are Russian: the program writes them and xdotool matches them in the
    // character type's encoding, which must be UTF-8 whatever the rest of the locale.
    if (environment.contains("LC_ALL")) {
        environment.insert("LANG", environment.value("LC_ALL"));
        environment.remove("LC_ALL");
    }
    environment.insert("LC_CTYPE", "C.UTF-8");

    const QString link = dir.filePath("korun");
    QDir().mkpath(dir.filePath("dump"));
    unit.start(KORUN_SIM_BINARY,
        { "--link", link, "--baud", "0", "--busy-ms", "50", "--dump", dir.filePath("dump"),
            "--ready", dir.filePath("ready"), "--seed", "11" });
    QVERIFY(unit.waitForStarted());
    QVERIFY2(waitUntil([&] { return QFile::exists(dir.filePath("ready")); }), "no simulated unit");

    // The program runs from a folder of its own, where it finds and writes adc.ini.
    QDir().mkpath(dir.filePath("app"));
    QVERIFY(QFile::copy(VOLTRIX_BINARY, dir.filePath("app/voltrix")));
    QVERIFY(testfiles::write(dir.filePath("app/adc.ini"),
        QString("[WAVE_ADC]\nNumItems=%1\nWaitA=24\nGain0=0\nGain1=1\nGain2=2\nGain3=1\n"
                "Detector=0\n\n[COM]\nComName=%2\nBaud=115200\n")
            .arg(sampleCount)
            .arg(link)
            .toUtf8()));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(dir.filePath("app"));
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(dir.filePath("app/voltrix"), {});
    QVERIFY(program.waitForStarted());
    QVERIFY2(waitWindow("KORUN-77M", &mainWindow),
        qPrintable("the main window did not appear; the X server said:\n" + displayLog()));
}

void tst_E2E::cleanupTestCase()
{
    for (QProcess* process : { &program, &unit, &display }) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(5000);
    }
}

void tst_E2E::runIsSavedExactly()
{
    keys(mainWindow, { "F9" });
    // The unit has sent every channel once its dumps are there; the run is over when its
    // progress dialog has gone.
    QVERIFY2(waitUntil([&] {
        for (int i = 0; i < 4; ++i)
            if (!QFile::exists(dir.filePath(QString("dump/channel%1.bin").arg(i))))
                return false;
        return true;
    }),
        "the unit was not asked for four channels");
    QVERIFY(waitNoWindow("^Загрузка$"));

    savedRecord = dir.filePath("run.raw");
    QString dialog;
    QVERIFY2(
        keysUntilWindow(mainWindow, { "ctrl+w" }, "^Сохранить как$", &dialog), "no save dialog");
    type(dialog, dir.filePath("run"));
    keys(dialog, { "Return" });
    QVERIFY2(waitUntil([&] { return QFile::exists(savedRecord); }), "nothing saved");
    QVERIFY(waitNoWindow("^Сохранить как$"));

    const QByteArray bytes = testfiles::read(savedRecord);
    const int samples = sampleCount;
    QCOMPARE(bytes.size(), 8 + 256 + 4 * (16 + samples));
    QCOMPARE(bytes.left(8), QByteArray("KORUNRAW"));
    const auto* header = reinterpret_cast<const uchar*>(bytes.constData()) + 8;
    QCOMPARE(int(qFromLittleEndian<quint16>(header)), 4);
    QCOMPARE(int(qFromLittleEndian<qint32>(header + 6)), samples);
    QCOMPARE(int(header[10]), 8); // bits per sample
    QVERIFY(qFromLittleEndian<quint16>(header + 12) != 0); // clock
    QVERIFY(qFromLittleEndian<qint32>(header + 14) != 0); // ticks per sample
    const int gains[] = { 0, 1, 2, 1 };
    for (int i = 0; i < 4; ++i) {
        const qsizetype at = 8 + 256 + qsizetype(i) * (16 + samples);
        QCOMPARE(int(quint8(bytes[at])), gains[i]);
        const QByteArray sent = testfiles::read(dir.filePath(QString("dump/channel%1.bin").arg(i)));
        QVERIFY2(!sent.isEmpty() && bytes.mid(at + 16, samples) == sent,
            qPrintable(QString("channel %1 differs from what the unit sent").arg(i + 1)));
    }
}

void tst_E2E::readRecordShowsTheSameInformation()
{
    QVERIFY(!savedRecord.isEmpty());
    QString info;
    QVERIFY2(
        keysUntilWindow(mainWindow, { "ctrl+i" }, "^Информация$", &info), "no information dialog");
    const QByteArray first = settledPixels(info);
    QVERIFY2(!first.isEmpty(), "the information dialog was never drawn");
    keys(info, { "Escape" });
    QVERIFY(waitNoWindow("^Информация$"));

    QString dialog;
    QVERIFY2(keysUntilWindow(mainWindow, { "ctrl+r" }, "^Открыть$", &dialog), "no open dialog");
    type(dialog, savedRecord);
    keys(dialog, { "Return" });
    QVERIFY(waitNoWindow("^Открыть$"));

    QVERIFY2(keysUntilWindow(mainWindow, { "ctrl+i" }, "^Информация$", &info),
        "no information dialog for the read record");
    const QByteArray second = settledPixels(info);
    keys(info, { "Escape" });
    QVERIFY(waitNoWindow("^Информация$"));
    // The record's rows (the top 198 of the 316-pixel dialog) are the same; the rows below
    // tell a run's end from a file's time.
    const qsizetype recordRows = first.size() / 316 * 198;
    QCOMPARE(second.size(), first.size());
    QVERIFY2(
        second.left(recordRows) == first.left(recordRows), "the read record's information differs");
}

void tst_E2E::settingsHoldWhatTheDialogsSet()
{
    const QString port = dir.filePath("another-port");
    QString dialog;
    QVERIFY2(keysUntilWindow(mainWindow, { "ctrl+p" }, "^Настройка COM-порта$", &dialog),
        "no port dialog");
    keys(dialog, { "ctrl+a" });
    type(dialog, port);
    keys(dialog, { "Return" });
    QVERIFY(waitNoWindow("^Настройка COM-порта$"));

    keys(mainWindow, { "ctrl+s" });
    QVERIFY2(waitUntil([&] {
        return QSettings(dir.filePath("app/adc.ini"), QSettings::IniFormat)
                   .value("COM/ComName")
                   .toString()
            == port;
    }),
        "adc.ini does not name the port chosen");
    QSettings ini(dir.filePath("app/adc.ini"), QSettings::IniFormat);
    QCOMPARE(ini.value("WAVE_ADC/NumItems").toInt(), sampleCount);
    QCOMPARE(ini.value("WAVE_ADC/Gain2").toInt(), 2);
    QCOMPARE(ini.value("COM/Baud").toInt(), 115200);
    QCOMPARE(QDir::cleanPath(ini.value("OTHERS/OldDir").toString()), QDir::cleanPath(dir.path()));
}

void tst_E2E::quitsCleanly()
{
    keys(mainWindow, { "alt+x" });
    QVERIFY2(program.waitForFinished(waitMs), "the program did not end");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(tst_E2E)
#include "test_e2e.moc"
