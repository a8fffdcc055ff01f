#include "init.h"

#include "errors.h"
#include "files_list.h"
#include "fmain.h"
#include "settings.h"
#include "umisc.h"
#include "ustrings.h"

#include <QtMisc/qtm_common_def.h>

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTranslator>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>

QApplication* application = nullptr;
QString applicationDir;
QTranslator* programTranslator = nullptr;
int languageSelector = 0;

namespace {

void doNothing() { }

QString okButtonText()
{
    return stringsKit.okText.isEmpty() ? QStringLiteral("Ok") : stringsKit.okText;
}

QString boxTitle()
{
    return QStringLiteral("VOLTRIX");
}

QString infoText(int code)
{
    return stringsKit.infoText(code);
}

QString warnText(int code)
{
    return stringsKit.warnText(code);
}

QString questionText(int code)
{
    return stringsKit.questionText(code);
}

QString noCrashDir()
{
    return QString();
}

} // namespace

void programOnFatalSignal(int signo)
{
    if (signo == SIGABRT)
        return;
    struct sigaction action
    {
    };
    action.sa_handler = SIG_DFL;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGABRT, &action, nullptr);
    std::abort();
}

qtmisc::InitHooks programInitHooks()
{
    qtmisc::InitHooks hooks;
    hooks.onReport = doNothing;
    hooks.okButtonText = okButtonText;
    hooks.boxTitle = boxTitle;
    hooks.infoText = infoText;
    hooks.warnText = warnText;
    hooks.questionText = questionText;
    hooks.onFatalSignal = programOnFatalSignal;
    hooks.crashDir = noCrashDir;
    hooks.maxLineLength = 100;
    return hooks;
}

quint16 startup(const QStringList&)
{
    if (const quint16 result = qtmisc::init(programInitHooks()))
        return result;
    std::fputs("\n", stdout);
    std::fflush(stdout);
    qtmisc::registerSourceFiles(filesListArray, filesListCount);
    QCoreApplication::setOrganizationName(QStringLiteral("Korun"));
    QCoreApplication::setApplicationName(QStringLiteral("voltrix"));

    programTranslator = new (std::nothrow) QTranslator;
    if (!programTranslator) {
        QTM_REPORT(err::noTranslator);
        return qtmisc::resultReported;
    }
    if (languageSelector == 1) {
        const bool loaded = programTranslator->load(QStringLiteral(":/build/qm/en.qm"));
        Q_UNUSED(loaded) // without it the texts stay Russian
    }
    QCoreApplication::installTranslator(programTranslator);
    stringsKit.retranslate();

    mainWnd = new (std::nothrow) MainWnd(nullptr,
        Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
            | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    if (!mainWnd || !mainWnd->create(settingsDirectory(applicationDir))) {
        delete mainWnd;
        mainWnd = nullptr;
        return qtmisc::resultNotCreated;
    }
    mainWnd->showMaximized();

    if (const quint16 result = qtmisc::initGui(mainWnd, languageSelector))
        return result;
    // Beside the program wherever it was started from (through PATH argv[0] names no folder).
    QCoreApplication::addLibraryPath(
        QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"));
    if (!application) {
        QTM_REPORT(err::noTranslator);
        return qtmisc::resultReported;
    }
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/voltrix.ico")));
    // The quit hook: whichever comes first shuts the program down (harmless the second time).
    if (!QObject::connect(application, &QCoreApplication::aboutToQuit, mainWnd, shutdownProgram)
        || !QObject::connect(
            application, &QGuiApplication::lastWindowClosed, mainWnd, shutdownProgram))
        return qtmisc::resultNotConnected;
    return qtmisc::resultOk;
}

void shutdownProgram()
{
    delete programTranslator;
    programTranslator = nullptr;
    qtmisc::shutdown();
}

int runProgram(int argc, char** argv)
{
    if (argc == 0 || !argv)
        return 1;
    // The plugins beside the program come first, before the application object loads its
    // platform, style and image plugins from anywhere else.
    QCoreApplication::addLibraryPath(
        QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath() + QStringLiteral("/plugins"));
    application = new (std::nothrow) QApplication(argc, argv);
    if (!application)
        return qtmisc::resultReported;
    std::fputs("created application\n", stdout);
    std::fflush(stdout);
    applicationDir = applicationDirFromPath(QString::fromLocal8Bit(argv[0]));

    if (const quint16 result = startup(QCoreApplication::arguments()))
        return result;
    if (mainWnd)
        mainWnd->update();
    const int code = QApplication::exec();
    delete mainWnd; // still there when the loop ended before its deferred deletion
    delete application;
    application = nullptr;
    return code;
}
