// The fatal path, in child processes: the box is shown once, the crash log starts with the
// signal and its code, and the process always ends, also when the handler faults or hangs.
#include "support/files.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

class tst_Fatal : public QObject
{
    Q_OBJECT
private slots:
    void fatalPath_data();
    void fatalPath();
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

QTEST_MAIN(tst_Fatal)
#include "test_fatal.moc"
