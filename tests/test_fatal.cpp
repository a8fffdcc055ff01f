// The library's signal handling. The fatal path, in child processes: the box is shown once,
// the crash log starts with the signal and its code, and the process always ends, also when the
// handler faults or hangs. SIGUSR1 reaches the GUI thread once per signal, and a flood never
// blocks the process.
#include "init.h"
#include "support/files.h"

#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_signals.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace {

int usr1Calls = 0;
bool usr1OffGuiThread = false;

void onUsr1()
{
    ++usr1Calls;
    if (QThread::currentThread() != qtmisc::mainThread)
        usr1OffGuiThread = true;
}

// Processes events until the hook count stops changing.
void drain()
{
    int before = -1;
    while (before != usr1Calls) {
        before = usr1Calls;
        QTest::qWait(50);
    }
}

} // namespace

class tst_Fatal : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void fatalPath_data();
    void fatalPath();
    void oncePerSignalOnTheGuiThread();
    void floodDoesNotBlock();
    void wakeUpWithoutData();
};

void tst_Fatal::fatalPath_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("endSignal");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<QString>("codeSuffix"); // last digits of the error code in the box
    QTest::addColumn<QString>("firstLine"); // of the crash log
    QTest::addColumn<QString>("secondLine");
    QTest::addColumn<int>("seconds");

    const auto row
        = [](const char* name, const char* mode, int endSignal, int boxes, const char* codeSuffix,
              const char* firstLine, const char* secondLine, int seconds) {
              QTest::newRow(name) << QString(mode) << endSignal << boxes << QString(codeSuffix)
                                  << QString(firstLine) << QString(secondLine) << seconds;
          };
    const char* nullWrite = "SIGSEGV at address:0x0";
    const char* mapped = "code: SEGV_MAPERR";
    row("null write", "segv", SIGABRT, 1, "000b", nullWrite, mapped, 5);
    row("null write on a worker thread", "segv-thread", SIGABRT, 1, "000b", nullWrite, mapped, 5);
    row("division by zero", "fpe", SIGABRT, 1, "0008", "SIGFPE at address:0x", "code: FPE_INTDIV",
        5);
    row("SIGQUIT", "quit", SIGABRT, 1, "0003", "SIGQUIT", "code: SI_USER", 5);
    row("abort", "abort", SIGABRT, 1, "0006", "SIGABRT", "code: SI_TKILL", 5);
    row("stack overflow", "stack-overflow", SIGABRT, 1, "000b", "SIGSEGV at address:0x",
        "code: SEGV_", 5);
    row("fault inside the handler", "double-fault", SIGSEGV, 0, "", nullWrite, mapped, 5);
    row("box read for six seconds", "slow-reader", SIGABRT, 1, "000b", nullWrite, mapped, 12);
    row("handler hangs", "watchdog", SIGSEGV, 0, "", nullWrite, mapped, 10);
}

void tst_Fatal::fatalPath()
{
    QFETCH(QString, mode);
    QFETCH(int, endSignal);
    QFETCH(int, boxes);
    QFETCH(QString, codeSuffix);
    QFETCH(QString, firstLine);
    QFETCH(QString, secondLine);
    QFETCH(int, seconds);

    QTemporaryDir dir;
    const QString crashDir = dir.filePath("crash") + "/";
    const QByteArray out = dir.filePath("out").toLocal8Bit();
    const QByteArray modeArg = mode.toLocal8Bit();
    const QByteArray dirArg = crashDir.toLocal8Bit();
    char* const argv[] = { const_cast<char*>(CRASHCHILD_BINARY),
        const_cast<char*>(modeArg.constData()), const_cast<char*>(dirArg.constData()), nullptr };
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    QCOMPARE(::posix_spawn(&pid, CRASHCHILD_BINARY, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    QElapsedTimer clock;
    clock.start();
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (clock.elapsed() > seconds * 1000) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            QFAIL("the process did not end in time");
        }
        QTest::qSleep(20);
    }
    QVERIFY2(WIFSIGNALED(status), qPrintable(QString("exit status %1").arg(WEXITSTATUS(status))));
    QCOMPARE(WTERMSIG(status), endSignal);

    const QStringList lines = QString::fromUtf8(testfiles::read(QString::fromLocal8Bit(out)))
                                  .split('\n')
                                  .filter("FATAL_BOX");
    QCOMPARE(lines.size(), boxes);
    for (const QString& line : lines) {
        QVERIFY(
            line.contains("Обнаружена внутренняя фатальная ошибка,|дальнейшая работа невозможна."));
        QVERIFY2(line.endsWith(codeSuffix), qPrintable(line));
    }

    const QStringList logs = QDir(crashDir).entryList({ "crash_*.log" }, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QVERIFY(QRegularExpression("^crash_\\d\\d\\.\\d\\d\\.\\d{4}_\\d\\d_\\d\\d_\\d\\d\\.log$")
                .match(logs[0])
                .hasMatch());
    const QStringList logLines = QString::fromUtf8(testfiles::read(crashDir + logs[0])).split('\n');
    QVERIFY(logLines.size() > 3);
    QVERIFY2(logLines[0].startsWith(firstLine), qPrintable(logLines[0]));
    if (firstLine.endsWith("0x0"))
        QCOMPARE(logLines[0], firstLine);
    QVERIFY2(logLines[1].startsWith(secondLine), qPrintable(logLines[1]));
    QVERIFY(logLines[2].startsWith('\t')); // the backtrace follows
}

void tst_Fatal::initTestCase()
{
    qtmisc::InitHooks hooks = programInitHooks();
    hooks.onUsr1 = onUsr1;
    QCOMPARE(qtmisc::init(hooks), quint16(0));
}

void tst_Fatal::cleanupTestCase()
{
    qtmisc::shutdown();
    ::raise(SIGUSR1); // after shutdown the handler has nowhere to write and does nothing
}

void tst_Fatal::oncePerSignalOnTheGuiThread()
{
    usr1Calls = 0;
    for (int i = 1; i <= 3; ++i) {
        ::raise(SIGUSR1);
        QTRY_COMPARE(usr1Calls, i);
    }
    QTest::qWait(50);
    QCOMPARE(usr1Calls, 3);
    std::thread worker([] { ::raise(SIGUSR1); }); // handled on the worker, delivered to the GUI
    worker.join();
    QTRY_COMPARE(usr1Calls, 4);
    QVERIFY(!usr1OffGuiThread);
}

// The GUI thread is busy raising signals and reads nothing meanwhile: the socket fills up and
// the handler must drop notices instead of waiting for room.
void tst_Fatal::floodDoesNotBlock()
{
    usr1Calls = 0;
    const int flood = 100000;
    for (int i = 0; i < flood; ++i)
        ::raise(SIGUSR1);
    drain();
    QVERIFY(usr1Calls >= 1);
    QVERIFY(usr1Calls < flood);
    const int afterFlood = usr1Calls;
    ::raise(SIGUSR1);
    QTRY_COMPARE(usr1Calls, afterFlood + 1);
}

// A wake-up with nothing to read must not be taken for a notice, and must leave the
// notifier working.
void tst_Fatal::wakeUpWithoutData()
{
    drain();
    usr1Calls = 0;
    auto* daemon = static_cast<qtmisc::SignalsDaemon*>(qtmisc::faultDaemon);
    daemon->handleSig_usr1(qtmisc::SignalsDaemon::sigFdUsr1[1]);
    QCOMPARE(usr1Calls, 0);
    ::raise(SIGUSR1);
    QTRY_COMPARE(usr1Calls, 1);
}

QTEST_MAIN(tst_Fatal)
#include "test_fatal.moc"
