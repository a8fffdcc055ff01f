// Digitisation runs through the real serial port against the simulated unit on a
// pseudo-terminal: the frames on the line, the record the unit sent, the header, the faults,
// STOP, the main window's run command, sources at random times and a unit that vanishes.
#include "ae_hits.h"
#include "data.h"
#include "fmain.h"
#include "init.h"
#include "rs232.h"
#include "series_run.h"
#include "support/boxes.h"
#include "support/child.h"
#include "support/files.h"
#include "support/fixture.h"
#include "ustrings.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QtMisc/qtm_init.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QProcess>
#include <QSerialPort>
#include <QTableWidget>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sndfile.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class tst_Acquisition : public WindowTest
{
    Q_OBJECT
public:
    ~tst_Acquisition() override
    {
        unit.terminate();
        unit.waitForFinished(3000);
    }

private:
    void prepare() override
    {
        comPortName = dir.filePath("korun");
        comBaudRate = 115200;
        acqParams = { 0, 2048, 24, { 0, 1, 2, 3 }, 2, 0, 0 };
    }

private slots:
    void manualParameterFrame();
    void faultRecovers_data();
    void faultRecovers();
    void stopEndsTheRun();
    void runCommandFillsANewWindow();
    void runCannotBeDisturbed();
    void aeSourceIsFoundAndLocated();
    void randomSourcesFillTheirCaptures();
    void unitVanishesAndReturns();
    void seriesKeepsEveryCapture();
    void seriesUntilKilled();
    void portFailures();
    void shownTextsAreRussian();

private:
    bool startUnit(const QStringList& options);
    QByteArray log() const;
    QByteArray dumped(int channel) const;
    static QByteArray samplesOf(const WaveChannel& channel);
    std::unique_ptr<WaveStore> newRecord(int samples) const;
    qint64 runStoppedAfter(WaveStore& record, int ms);

    QProcess unit;
};

bool tst_Acquisition::startUnit(const QStringList& options)
{
    unit.terminate(); // the previous test's
    unit.waitForFinished(3000);
    QFile::remove(dir.filePath("log"));
    QFile::remove(dir.filePath("ready"));
    unit.start(KORUN_SIM_BINARY,
        QStringList { "--link", comPortName, "--log", dir.filePath("log"), "--dump", dir.path(),
            "--ready", dir.filePath("ready"), "--baud", "0", "--busy-ms", "150" }
            + options);
    if (!unit.waitForStarted(5000))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(dir.filePath("ready")) && clock.elapsed() < 5000)
        QTest::qWait(10);
    return QFile::exists(dir.filePath("ready"));
}

QByteArray tst_Acquisition::log() const
{
    return testfiles::read(dir.filePath("log"));
}

QByteArray tst_Acquisition::dumped(int channel) const
{
    return testfiles::read(dir.filePath(QString("channel%1.bin").arg(channel)));
}

QByteArray tst_Acquisition::samplesOf(const WaveChannel& channel)
{
    QByteArray bytes;
    for (int i = 0; i < channel.sampleCount; ++i)
        bytes.append(char(channel.sample(i)));
    return bytes;
}

std::unique_ptr<WaveStore> tst_Acquisition::newRecord(int samples) const
{
    auto record = std::make_unique<WaveStore>(QRect(0, 0, 639, 399));
    return record->initialise(4, samples) ? std::move(record) : nullptr;
}

// The parameter frame of the unit's manual, byte for byte, and a run of 100000 samples.
void tst_Acquisition::manualParameterFrame()
{
    acqParams = { 0, 50000, 24, { 0, 1, 2, 3 }, 2, 0, 1 };
    QVERIFY(startUnit({}));
    auto record = newRecord(100000);
    QVERIFY(runAcquisition(*record, nullptr, serialLink(), acqParams, comPortName, comBaudRate));
    QVERIFY(log().contains(
        "<- FF FF 55 AA\n-> A5\n<- 21 00 00 50 C3 18 00 00 01 02 03 02 00 01 55\n-> 00\n"));
    QCOMPARE(samplesOf(*record->channel(3)), dumped(3));
}

void tst_Acquisition::faultRecovers_data()
{
    QTest::addColumn<QStringList>("options");
    // The faults themselves are tried on the virtual clock (test_protocol); through a real
    // port a lost sample and a stall of a paced transfer must be got over as well.
    QTest::newRow("dropped sample") << QStringList { "--drop", "1" };
    // A unit that sends its paced transfer to the end before it answers a synchronisation.
    QTest::newRow("stall of 1.2 s, the unit finishes its transfer")
        << QStringList { "--baud", "115200", "--stall-ms", "1200", "--finish-transfers" };
}

void tst_Acquisition::faultRecovers()
{
    QFETCH(QStringList, options);
    QVERIFY(startUnit(options));
    auto record = newRecord(4096);
    QVERIFY(runAcquisition(*record, nullptr, serialLink(), acqParams, comPortName, comBaudRate));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(samplesOf(*record->channel(i)), dumped(i));
}

// Runs into the record and presses STOP after the given time; how long the run went on after
// it, or -1 when it succeeded or ended before STOP. How soon a run ends after STOP is measured
// on the virtual clock (test_protocol); here a real port only has to end the run at all.
qint64 tst_Acquisition::runStoppedAfter(WaveStore& record, int ms)
{
    QElapsedTimer clock;
    qint64 stoppedAt = -1;
    QTimer::singleShot(ms, [&] {
        stoppedAt = clock.elapsed();
        window->slot_tStopReleased();
    });
    clock.start();
    const bool done
        = runAcquisition(record, nullptr, serialLink(), acqParams, comPortName, comBaudRate);
    return done || stoppedAt < 0 ? -1 : clock.elapsed() - stoppedAt;
}

void tst_Acquisition::stopEndsTheRun()
{
    QVERIFY(startUnit({ "--stuck-busy" }));
    auto record = newRecord(4096);
    const qint64 after = runStoppedAfter(*record, 900);
    QVERIFY2(after >= 0 && after <= 5000, qPrintable(QString::number(after)));

    // Through the command: a STOP is no error, no box, no window.
    const int windows = window->workspace()->subWindowList().size();
    window->workspace()->setActiveSubWindow(nullptr);
    QTimer::singleShot(900, window, &MainWnd::slot_tStopReleased);
    window->findChild<QAction*>("aRunADC")->trigger();
    QCOMPARE(window->workspace()->subWindowList().size(), windows);
    QVERIFY(testboxes::texts.isEmpty());

    // And during a transfer at 19200 bit/s, with no attempt after STOP.
    QVERIFY(startUnit({ "--baud", "19200" }));
    acqParams.halfCount = 16384;
    record = newRecord(32768);
    const qint64 afterTransfer = runStoppedAfter(*record, 2500);
    QVERIFY2(
        afterTransfer >= 0 && afterTransfer <= 5000, qPrintable(QString::number(afterTransfer)));
    QCOMPARE(log().count("<- 23"), 1); // no attempt after STOP
}

void tst_Acquisition::runCommandFillsANewWindow()
{
    QVERIFY(startUnit({}));
    acqParams.halfCount = 512;
    const quint32 counter = window->windowCounter;
    window->findChild<QAction*>("aRunADC")->trigger();
    auto* form = qobject_cast<TWForm*>(window->workspace()->activeSubWindow());
    QVERIFY(form && form->record);
    QCOMPARE(form->windowTitle(), QString("NoName - %1").arg(counter));
    QCOMPARE(form->record->sampleCount(), 1024);
    QCOMPARE(samplesOf(*form->record->channel(2)), dumped(2));
    QVERIFY(window->findChild<QAction*>("aRunADC")->isEnabled());
    // The recording is unsaved until it is written.
    QVERIFY(form->record->isModified());
    QCOMPARE(form->saveFile(dir.filePath("run")), 0);
    QVERIFY(!form->record->isModified());

    window->findChild<QAction*>("aRunADC")->trigger(); // into the same, saved window
    QCOMPARE(window->workspace()->activeSubWindow(), form);
    QCOMPARE(samplesOf(*form->record->channel(2)), dumped(2));

    // That recording is not saved: the next one goes to a new window and it stays as it is.
    // At gain code 12 the noise of input 3 clips: a notice that blocks nothing says so, and
    // the next run's notice replaces it.
    const QByteArray kept = samplesOf(*form->record->channel(2));
    acqParams.gains[2] = 12;
    window->findChild<QAction*>("aRunADC")->trigger();
    QVERIFY(window->workspace()->activeSubWindow() != form);
    QCOMPARE(samplesOf(*form->record->channel(2)), kept);
    QVERIFY(testboxes::texts.isEmpty());
    window->findChild<QAction*>("aRunADC")->trigger();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the replaced notice
    QList<QMessageBox*> notices;
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->objectName() == "noticeBox" && widget->isVisible())
            notices << qobject_cast<QMessageBox*>(widget);
    QCOMPARE(notices.size(), 1);
    QVERIFY(!notices[0]->isModal() && !QApplication::activeModalWidget());
    QVERIFY2(notices[0]->text().contains("канал 3: перегрузка — уменьшите усиление с ×4096 до ×2048"),
        qPrintable(notices[0]->text()));
    notices[0]->close();
}

// While a run goes on its progress dialog stays (Escape does nothing), its window cannot be
// closed nor the program quit, the parameters dialog does not open, and the record keeps the
// parameters the unit was sent.
void tst_Acquisition::runCannotBeDisturbed()
{
    QVERIFY(startUnit({ "--baud", "115200" }));
    acqParams.halfCount = 4096; // four channels of 8192 bytes: about three seconds
    window->workspace()->setActiveSubWindow(nullptr);
    bool seen = false, dialogStays = false, windowStays = false, programStays = false;
    int modalAfterParameters = -1;
    QTimer::singleShot(500, [&] {
        auto* progress = qobject_cast<ProgressDialog*>(QApplication::activeModalWidget());
        auto* form = qobject_cast<TWForm*>(window->workspace()->activeSubWindow());
        if (!progress || !form)
            return;
        seen = true;
        QTest::keyClick(progress, Qt::Key_Escape);
        dialogStays = progress->isVisible();
        windowStays = !form->close();
        programStays = !window->close();
        QTimer::singleShot(0, [&modalAfterParameters, progress] {
            modalAfterParameters = QApplication::activeModalWidget() == progress ? 0 : 1;
            if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                other && other != progress)
                other->reject();
        });
        window->findChild<QAction*>("aADC")->trigger();
        acqParams.muxGroup = 7; // what the dialog could have stored
    });
    window->findChild<QAction*>("aRunADC")->trigger();
    QVERIFY(seen);
    QVERIFY(dialogStays);
    QVERIFY(windowStays);
    QVERIFY(programStays);
    QCOMPARE(modalAfterParameters, 0); // the parameters dialog never opened
    auto* form = qobject_cast<TWForm*>(window->workspace()->activeSubWindow());
    QVERIFY(form && form->record && form->record->sampleCount() == 8192);
    QCOMPARE(int(form->record->channelSlots[0].header.inputNumber), 9);
    QCOMPARE(samplesOf(*form->record->channel(3)), dumped(3));
}

// A simulated source 0.6 m from sensor 1 of two 2 m apart (1500 m/s): its four bursts are
// found on both sensors and nothing else, the onsets lie within two samples of the true
// arrivals, and the located position within 2 % of the spacing.
void tst_Acquisition::aeSourceIsFoundAndLocated()
{
    const QString events = dir.filePath("events.csv");
    QVERIFY(startUnit(
        { "--source-m", "0.6", "--spacing-m", "2", "--speed-mps", "1500", "--event-log", events }));
    acqParams.halfCount = 8192;
    acqParams.gains[0] = acqParams.gains[1] = 2;
    auto record = newRecord(16384);
    QVERIFY(runAcquisition(*record, nullptr, serialLink(), acqParams, comPortName, comBaudRate));
    const QList<QByteArray> truth = testfiles::read(events).trimmed().split('\n').mid(1);
    QCOMPARE(truth.size(), 4);
    HitSettings settings;
    settings.thresholdVolts = 6 * 5.0 * 1024 / 1048576; // 6 codes at gain code 2
    const QList<Hit> first = findHits(*record, 0, 0, 16384, settings);
    const QList<Hit> second = findHits(*record, 1, 0, 16384, settings);
    QCOMPARE(first.size(), 4);
    QCOMPARE(second.size(), 4);
    const double rate = 120000;
    for (int b = 0; b < 4; ++b) {
        const QList<QByteArray> fields = truth[b].split(',');
        QVERIFY2(std::abs(first[b].onset - fields[2].toInt()) <= 2, truth[b].constData());
        QVERIFY2(std::abs(second[b].onset - fields[3].toInt()) <= 2, truth[b].constData());
        const double x = linearPosition(first[b].onset / rate, second[b].onset / rate, 2, 1500);
        QVERIFY2(std::fabs(x - 0.6) <= 0.04, qPrintable(QString::number(x)));
    }
}

// Sources at random times (20 a second, no place given: at once on the four inputs): each
// record of 32768 samples at 120 kHz holds those the log puts within its span, emitted while
// it ran, with bursts where the log says and nowhere else. With external synchronisation the
// unit stays busy until a source comes, which lies an eighth into the record: that eighth may
// hold sources emitted before the run began.
void tst_Acquisition::randomSourcesFillTheirCaptures()
{
    const QString events = dir.filePath("events.csv");
    QVERIFY(startUnit({ "--rate", "20", "--busy-ms", "0", "--event-log", events }));
    acqParams.halfCount = 16384;
    std::fill(std::begin(acqParams.gains), std::end(acqParams.gains), 2); // 120 codes a volt
    const int count = 32768;
    const double rate = 120000;
    const double span = count / rate;
    auto record = newRecord(count);
    int sources = 0;
    for (int capture = 1; capture <= 3; ++capture) {
        acqParams.sync = capture == 3 ? 1 : 0;
        const double started = QDateTime::currentMSecsSinceEpoch() / 1000.0 - 0.005
            - (acqParams.sync ? span / 8 : 0);
        QVERIFY(
            runAcquisition(*record, nullptr, serialLink(), acqParams, comPortName, comBaudRate));
        const double ended = QDateTime::currentMSecsSinceEpoch() / 1000.0 + 0.005;
        QList<long> arrivals;
        bool triggered = false;
        for (const QByteArray& line : testfiles::read(events).trimmed().split('\n').mid(1)) {
            const QList<QByteArray> f = line.split(','); // emitted, arrival, volts, capture, utc
            if (f.size() != 5 || f[3].toInt() != capture)
                continue;
            const double emitted = f[0].toDouble();
            const double utc = f[4].toDouble();
            QVERIFY2(emitted >= 0 && emitted < span && utc >= started && utc <= ended, line);
            QCOMPARE(f[1].toLong(), std::lround(emitted * rate));
            arrivals << f[1].toLong();
            for (int c = 0; c < 4; ++c) {
                int peak = 0;
                for (long n = arrivals.last(); n < std::min<long>(count, arrivals.last() + 8); ++n)
                    peak = std::max(peak, std::abs(int(record->channel(c)->sample(int(n)))));
                QVERIFY2(peak >= 0.5 * 120 * f[2].toDouble() || arrivals.last() > count - 8, line);
            }
            if (std::fabs(emitted - span / 8) < 1 / rate) {
                triggered = true;
                QVERIFY2(utc + span * 7 / 8 <= ended, line); // busy until the record was full
            }
        }
        QCOMPARE(triggered, capture == 3);
        if (triggered) // the unit, busy for no time of its own, answered busy meanwhile
            QVERIFY(log().mid(log().lastIndexOf("<- 21")).contains("-> 01 01"));
        for (int c = 0; c < 4; ++c)
            for (int n = 0; n < count; ++n)
                if (std::abs(record->channel(c)->sample(n)) >= 10) // noise: 1.3 codes RMS
                    QVERIFY2(std::any_of(arrivals.begin(), arrivals.end(),
                                 [n](long a) { return n >= a && n < a + 600; }),
                        qPrintable(QString("channel %1, sample %2").arg(c + 1).arg(n)));
        sources += arrivals.size();
    }
    QVERIFY(sources >= 3);
}

// After a capture sent in full the link vanishes as an unplugged adapter: whoever holds the
// terminal gets a hang-up and a run finds no port; a second later a run succeeds again under
// the same name, now a terminal numbered anew.
void tst_Acquisition::unitVanishesAndReturns()
{
    QVERIFY(startUnit({ "--vanish-after", "1", "--return-after", "1" }));
    acqParams.halfCount = 512;
    auto record = newRecord(1024);
    const int held = ::open(qPrintable(comPortName), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(held >= 0);
    const QString terminal = QFileInfo(comPortName).symLinkTarget();
    QVERIFY(runAcquisition(*record, nullptr, serialLink(), acqParams, comPortName, comBaudRate));
    pollfd hangUp { held, POLLIN, 0 };
    QVERIFY(::poll(&hangUp, 1, 2000) == 1 && (hangUp.revents & POLLHUP));
    ::close(held);
    QVERIFY(!QFileInfo(comPortName).isSymLink());
    QVERIFY(!runAcquisition(*record, nullptr, serialLink(), acqParams, comPortName, comBaudRate));
    QCOMPARE(serialLink().failure, LinkFailure::PortMissing);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(comPortName), 3000);
    QVERIFY(QFileInfo(comPortName).symLinkTarget() != terminal);
    QVERIFY(runAcquisition(*record, nullptr, serialLink(), acqParams, comPortName, comBaudRate));
    QCOMPARE(samplesOf(*record->channel(1)), dumped(1));
    QVERIFY(log().contains("== " + comPortName.toUtf8() + " gone after 1 captures\n"));
    QVERIFY(log().contains("== KORUN-77M back on " + comPortName.toUtf8()));
}

// A series of 22 captures while the unit vanishes after the eighth and comes back: every
// capture is kept as its file and its rows, and the database holds the hits the tool finds
// in the files. A series killed at a random moment leaves a sound database whose rows all
// have their files; the next start takes in a file left without rows.
void tst_Acquisition::seriesKeepsEveryCapture()
{
    QVERIFY(
        startUnit({ "--rate", "40", "--seed", "5", "--vanish-after", "8", "--return-after", "1" }));
    acqParams.halfCount = 1024;
    SeriesSetup setup;
    setup.plan.folder = dir.filePath("series");
    setup.plan.captures = 22;
    setup.query.settings.floatingDb = 16;
    setup.params = acqParams;
    setup.samples = 2048;
    setup.port = comPortName;
    setup.rate = comBaudRate;
    QVERIFY(QDir().mkpath(setup.plan.folder));
    SeriesRun run(setup);
    QString cause;
    QVERIFY2(run.run(window->newEmptyWindow(), cause), qPrintable(cause));
    QCOMPARE(run.progress().kept, 22);
    const QStringList files = QDir(setup.plan.folder).entryList({ "*.raw" }, QDir::Files);
    QCOMPARE(files.size(), 22);
    const QByteArray log = testfiles::read(setup.plan.folder + "/session.log");
    QVERIFY(log.contains("the unit vanished") && log.contains("the unit is back"));
    qint64 toolHits = 0;
    for (const QString& file : files) {
        QProcess tool;
        tool.start(VOLTRIX_TOOL_BINARY,
            { "hits", "--threshold-auto", "16", setup.plan.folder + "/" + file });
        QVERIFY(tool.waitForFinished(10000) && tool.exitCode() == 0);
        toolHits += tool.readAllStandardOutput().count('\n') - 1; // less the header
    }
    QVERIFY(toolHits > 0);
    SessionDb session;
    SessionSummary summary;
    QVERIFY(session.openForReading(setup.plan.folder, cause) && session.summary(summary, cause));
    QCOMPARE(summary.captures, 22);
    QCOMPARE(summary.hits, toolHits);
    session.close();
    sqlite3* db = nullptr;
    sqlite3_stmt* row = nullptr;
    QCOMPARE(sqlite3_open(qPrintable(setup.plan.folder + "/session.sqlite"), &db), SQLITE_OK);
    sqlite3_prepare_v2(db, "SELECT acquisition FROM session", -1, &row, nullptr);
    QCOMPARE(sqlite3_step(row), SQLITE_ROW);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(row, 0))),
        "channels=4 inputs=9,10,11,12 gains=0,1,2,3 rate_Hz=120000 samples=2048 detector=off "
        "sync=internal");
    sqlite3_finalize(row);
    sqlite3_close(db);

    QVERIFY(startUnit({ "--rate", "40", "--seed", "6" }));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("VOLTRIX_SERIES_FOLDER", dir.filePath("killed"));
    environment.insert("VOLTRIX_SERIES_PORT", comPortName);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), { "seriesUntilKilled" });
    QVERIFY(child.waitForStarted(5000));
    QThread::msleep(QRandomGenerator::global()->bounded(1000, 2500));
    child.kill();
    QVERIFY(child.waitForFinished(5000));
    setup.plan.folder = dir.filePath("killed");
    QCOMPARE(sqlite3_open(qPrintable(setup.plan.folder + "/session.sqlite"), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    QCOMPARE(sqlite3_step(check), SQLITE_ROW);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
    QVERIFY(session.open(setup.plan.folder, cause));
    const QStringList stored = session.captureFiles();
    QVERIFY(!stored.isEmpty());
    QStringList onDisk = QDir(setup.plan.folder).entryList({ "*.raw" }, QDir::Files, QDir::Name);
    for (const QString& file : stored)
        QVERIFY2(onDisk.contains(file), qPrintable(file));
    QVERIFY(onDisk.size() - stored.size() <= 1);
    QStringList unreadable;
    QCOMPARE(takeInStrayCaptures(session, setup.query, unreadable, cause),
        int(onDisk.size() - stored.size()));
    QCOMPARE(session.captureFiles(), onDisk);
    session.close();

    // With external synchronisation the capture starts at its trigger, an eighth of the record
    // before the source, not when the run began.
    QVERIFY(startUnit({ "--rate", "0.5", "--seed", "4", "--event-log", dir.filePath("events") }));
    setup.plan.folder = dir.filePath("triggered");
    setup.plan.captures = 1;
    setup.params.sync = 1;
    QVERIFY(QDir().mkpath(setup.plan.folder));
    SeriesRun triggered(setup);
    const double began = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    QVERIFY2(triggered.run(window->newEmptyWindow(), cause), qPrintable(cause));
    const QList<QByteArray> events = testfiles::read(dir.filePath("events")).split('\n');
    QVERIFY(events.size() > 2);
    const double sourceUtc = events[1].split(',').last().toDouble();
    QVERIFY2(sourceUtc - began > 0.5, qPrintable(QString::number(sourceUtc - began)));
    QVERIFY(session.openForReading(setup.plan.folder, cause) && session.summary(summary, cause));
    QVERIFY2(std::fabs(summary.firstUtcSeconds + 2048 / 8 / 120000.0 - sourceUtc) < 0.3,
        qPrintable(QString::number(summary.firstUtcSeconds - sourceUtc)));
}

// Run by seriesKeepsEveryCapture as a program of its own, killed at a random moment: a series
// without end into the folder it names, on the port it names.
void tst_Acquisition::seriesUntilKilled()
{
    const QString folder = qEnvironmentVariable("VOLTRIX_SERIES_FOLDER");
    if (folder.isEmpty())
        QSKIP("started by seriesKeepsEveryCapture");
    SeriesSetup setup;
    setup.plan.folder = folder;
    setup.plan.captures = 0;
    setup.query.settings.floatingDb = 16;
    acqParams.halfCount = 1024;
    setup.params = acqParams;
    setup.samples = 2048;
    setup.port = qEnvironmentVariable("VOLTRIX_SERIES_PORT");
    setup.rate = comBaudRate;
    QVERIFY(QDir().mkpath(folder));
    SeriesRun run(setup);
    QString cause;
    QVERIFY2(run.run(window->newEmptyWindow(), cause), qPrintable(cause));
}

// A missing port fails the run without a window; a port another program holds, and one the
// user may not open (root's pseudo-terminal with mode 0600, tried as nobody), each name their
// cause, the refused one with the dialout hint.
void tst_Acquisition::portFailures()
{
    comPortName = dir.filePath("nothing-there");
    const int windows = window->workspace()->subWindowList().size();
    window->workspace()->setActiveSubWindow(nullptr);
    window->findChild<QAction*>("aRunADC")->trigger();
    QCOMPARE(window->workspace()->subWindowList().size(), windows);
    QCOMPARE(testboxes::texts, QStringList { "Ошибка загрузки!" });
    QCOMPARE(testboxes::causes, QStringList { QString("Порт %1 не найден.").arg(comPortName) });
    QVERIFY(window->findChild<QAction*>("aRunADC")->isEnabled());

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QByteArray slave = ::ptsname(master);
    const auto failureOf = [&slave] {
        SerialPortDevice device;
        SerialLink link(device);
        KorunProtocol protocol(link);
        link.portName = QString::fromLocal8Bit(slave);
        quint8 status = 0;
        protocol.readStatus(status);
        return link.failure;
    };
    {
        QSerialPort holder(QString::fromLocal8Bit(slave));
        QVERIFY(holder.open(QIODevice::ReadWrite));
        QCOMPARE(failureOf(), LinkFailure::PortBusy);
    }
    if (::geteuid() != 0) {
        ::close(master);
        QSKIP("needs root to become another user");
    }
    QCOMPARE(::chmod(slave.constData(), 0600), 0);
    const int result = testchild::run([&failureOf] {
        const uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setregid(nobody, nobody) != 0
            || ::setreuid(nobody, nobody) != 0)
            return 100;
        return int(failureOf());
    });
    ::close(master);
    QCOMPARE(result, int(LinkFailure::PortDenied));
    QVERIFY(linkFailureText(LinkFailure::PortDenied, "/dev/ttyS0").contains("группу dialout"));
    // The box counts the tries that were made, each with what it ran into.
    QCOMPARE(linkFailureText(LinkFailure::Stalled, "/dev/ttyS0",
                 { LinkFailure::Stalled, LinkFailure::WrongSyncAnswer }),
        QString("Передача данных от блока остановилась.\nПопыток: 2 (передача остановилась, "
                "неверный ответ на синхронизацию)."));
}

// What the operator reads after a run (notice, readouts, hits table), a failed run, an import
// (a clipped file, a file that is not a sound), an export that fails and a hits search that
// cannot be made is Russian: no English word, only the program's own Latin names and units.
void tst_Acquisition::shownTextsAreRussian()
{
    QStringList shown;
    QVERIFY(startUnit({}));
    acqParams.halfCount = 512;
    acqParams.gains[2] = 12;
    window->findChild<QAction*>("aRunADC")->trigger();
    for (QWidget* widget : QApplication::allWidgets())
        if (auto* label = qobject_cast<QLabel*>(widget))
            shown << label->text();
        else if (auto* box = qobject_cast<QMessageBox*>(widget))
            shown << box->text();
    window->findChild<QAction*>("aAeHits")->trigger();
    auto* table = window->findChild<QTableWidget*>("aeHitsTable");
    for (int c = 0; c < table->columnCount(); ++c) {
        shown << table->horizontalHeaderItem(c)->text();
        for (int r = 0; r < table->rowCount(); ++r)
            shown << (table->item(r, c) ? table->item(r, c)->text() : QString());
    }
    auto* form = qobject_cast<TWForm*>(window->workspace()->activeSubWindow());
    form->record->header.clockKHz = 0; // no frequency: no hits, and the table says why
    window->refreshAeHits();
    shown << window->findChild<QLabel*>("summaryLabel")->text();
    QVERIFY(!window->exportActiveRecord(dir.filePath("нет/з.wav"), true, false));

    const float loud[] = { 3.0f, -3.0f };
    SF_INFO info { 0, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0 };
    SNDFILE* sound = sf_open(qPrintable(dir.filePath("громко.wav")), SFM_WRITE, &info);
    QVERIFY(sound && sf_writef_float(sound, loud, 2) == 2 && sf_close(sound) == 0);
    QVERIFY(window->importRecordFile(dir.filePath("громко.wav")));
    QVERIFY(testfiles::write(dir.filePath("слова.wav"), "just words"));
    QVERIFY(!window->importRecordFile(dir.filePath("слова.wav")));
    comPortName = dir.filePath("порт");
    window->findChild<QAction*>("aRunADC")->trigger();
    shown << testboxes::texts << testboxes::causes;

    QVERIFY(shown.join(' ').contains("не файл WAV")); // every kind of text was there
    QVERIFY(shown.join(' ').contains("ограничены"));
    // The program's Latin names, file types (also as suffixes of the names shown) and the port
    // group; the paths the operator gave are his.
    const QStringList ours { "noname", "fft", "korun", "csv", "wav", "raw", "aic", "dialout" };
    const QRegularExpression english("[A-Za-z]{3,}");
    for (QString text : shown)
        for (const QRegularExpressionMatch& word :
            english.globalMatch(text.remove(QRegularExpression("(/[^\\s/]+)+")))) // paths
            QVERIFY2(ours.contains(word.captured().toLower()),
                qPrintable(word.captured() + ": " + text));
}

QTEST_MAIN(tst_Acquisition)
#include "test_acquisition.moc"
