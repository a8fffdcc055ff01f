// Start-up order and its failure codes, the quit hook run twice, the process entry, and the
// effective-id helpers and a shutdown with nothing started.
#include "files_list.h"
#include "fmain.h"
#include "init.h"
#include "support/child.h"
#include "support/files.h"
#include "umisc.h"

#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_fault.h>
#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_misc.h>
#include <QtMisc/qtm_strings.h>

#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr uid_t nobody = 65534;

// Starts the program binary with the given argument vector; its output goes to outPath.
pid_t spawnProgram(char* const argv[], const QString& outPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, 1, outPath.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (outPath + ".err").toLocal8Bit().constData(),
        O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT
private slots:
    void effectiveIds();
    void shutdownTwiceAndApplicationDirectory();
    void entry();
    void failuresArePassedOn();
    void startupAndQuitHook();
};

// Root needs both effective ids. Without the right to change ids the first call fails and
// nothing else is tried: the real group id, which a later setregid would have touched, stays.
void tst_Startup::effectiveIds()
{
    if (::geteuid() != 0)
        QSKIP("needs root to change its ids");
    QVERIFY(qtmisc::isRoot());
    QCOMPARE(testchild::run([] { return ::setegid(nobody) == 0 && !qtmisc::isRoot() ? 0 : 1; }), 0);
    QCOMPARE(testchild::run([] { return ::seteuid(nobody) == 0 && !qtmisc::isRoot() ? 0 : 1; }), 0);
    QCOMPARE(testchild::run([] {
        if (::setregid(nobody, nobody) != 0 || ::setreuid(nobody, nobody) != 0)
            return 1;
        return !qtmisc::switchToRoot() && ::geteuid() == nobody && ::getgid() == nobody ? 0 : 1;
    }),
        0);
}

void tst_Startup::shutdownTwiceAndApplicationDirectory()
{
    qtmisc::shutdown();
    qtmisc::shutdown();
    QVERIFY(!qtmisc::locale);
    QCOMPARE(applicationDirFromPath("/opt/voltrix/bin/voltrix"), QString("/opt/voltrix/bin/"));
    QCOMPARE(applicationDirFromPath("./voltrix"), QString("./"));
    QCOMPARE(applicationDirFromPath("voltrix"), QString());
    QCOMPARE(applicationDirFromPath("/voltrix"), QString("/"));
}

// Without arguments the entry refuses; the program prints its start and runs its event loop,
// having looked for its platform plugin beside itself first.
void tst_Startup::entry()
{
    char* noArguments[] = { nullptr };
    QCOMPARE(runProgram(0, noArguments), 1);
    QCOMPARE(runProgram(1, nullptr), 1);
    QTemporaryDir dir;
    const QByteArray program = QFile::encodeName(dir.filePath("voltrix"));
    QVERIFY(QFile::copy(VOLTRIX_BINARY, dir.filePath("voltrix")) && QDir(dir.path()).mkdir("plugins"));
    char* const arguments[] = { const_cast<char*>(program.constData()), nullptr };
    ::setenv("QT_DEBUG_PLUGINS", "1", 1);
    const pid_t pid = spawnProgram(arguments, dir.filePath("out"));
    ::unsetenv("QT_DEBUG_PLUGINS");
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        testfiles::read(dir.filePath("out")).endsWith("created application\n\n"), 20000);
    QTest::qWait(200); // still running in its event loop
    int status = 0;
    const pid_t running = ::waitpid(pid, &status, WNOHANG);
    ::kill(pid, SIGTERM);
    QCOMPARE(::waitpid(pid, &status, 0), pid);
    QCOMPARE(running, 0);
    const QByteArray searched = testfiles::read(dir.filePath("out.err"));
    const QByteArray beside
        = QFileInfo(dir.path()).canonicalFilePath().toUtf8() + "/plugins/platforms";
    const qsizetype first = searched.indexOf("checking directory path");
    QVERIFY2(first >= 0 && searched.indexOf(beside) > first
            && searched.indexOf(beside) < searched.indexOf('\n', first),
        searched.left(600).constData());
}

// A signal socket that cannot be made fails the library's first stage with 0xA008; a missing
// application object fails with 0xA00B.
void tst_Startup::failuresArePassedOn()
{
    const int missing = testchild::run([]() {
        QTemporaryDir dir;
        applicationDir = dir.path() + "/";
        application = nullptr;
        return startup(QStringList()) == 0xA00B ? 0 : 1;
    });
    QCOMPARE(missing, 0);
#ifdef VOLTRIX_SANITIZED
    QSKIP("the sanitizers' own memory checks need descriptors this test takes away");
#endif
    const int code = testchild::run([]() {
        const int lowestFree = ::dup(0);
        ::close(lowestFree);
        const rlimit limit { rlim_t(lowestFree), rlim_t(lowestFree) };
        ::setrlimit(RLIMIT_NOFILE, &limit);
        return startup(QStringList()) == 0xA008 && !mainWnd && !qtmisc::faultDaemon ? 0 : 1;
    });
    QCOMPARE(code, 0);
}

void tst_Startup::startupAndQuitHook()
{
    QTemporaryDir dir;
    applicationDir = dir.path() + "/";
    application = qApp;
    QCOMPARE(startup(QStringList()), quint16(0));

    QVERIFY(qtmisc::filesHash);
    // The library's 21 files and the program's 37, each followed by the files added since.
    QCOMPARE(qtmisc::filesHash->size(), 1 + 22 + 75);
    QCOMPARE(qtmisc::filesHash->value("main/src/init.cpp"), 4);
    QCOMPARE(qtmisc::filesHash->value("main/src/record_export.cpp"), 38);
    QCOMPARE(qtmisc::filesHash->value("main/src/ae_panel.cpp"), 42);
    QCOMPARE(qtmisc::filesHash->value("main/src/file_io.cpp"), 50);
    QCOMPARE(qtmisc::filesHash->value("libqtmisc/src/qtm_report.cpp"), 22);
    QCOMPARE(qtmisc::filesHash->value("libqtmisc/src/qtm_init.cpp"), 1);
    QCOMPARE(QCoreApplication::organizationName(), QString("Korun"));
    QCOMPARE(QCoreApplication::applicationName(), QString("voltrix"));
    QVERIFY(programTranslator && programTranslator->isEmpty()); // installed, nothing loaded
    QVERIFY(mainWnd && mainWnd->isVisible());
    QVERIFY(mainWnd->windowState() & Qt::WindowMaximized);
    QCOMPARE(qtmisc::boxParent(), mainWnd);
    QCOMPARE(qtmisc::language(), 0);
    QVERIFY(qtmisc::qtmSK.criticalText.startsWith("Обнаружена внутренняя ошибка"));
    QVERIFY(!QApplication::windowIcon().isNull());
    QCOMPARE(mainWnd->settingsDir, dir.path() + "/");

    emit qApp->lastWindowClosed();
    QVERIFY(!programTranslator);
    QVERIFY(!qtmisc::mesDaemon && !qtmisc::filesHash && !qtmisc::faultDaemon && !qtmisc::locale);
    emit qApp->lastWindowClosed(); // a second run finds nothing left to delete
    QVERIFY(!qtmisc::mesDaemon);

    delete mainWnd;
    QVERIFY(!mainWnd);
    QVERIFY(!QFile::exists(dir.filePath("adc.ini"))); // nothing is written at shutdown
}

QTEST_MAIN(tst_Startup)
#include "test_startup.moc"
