#include <QtMisc/qtm_common_def.h>
#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_files_list.h>
#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_signals.h>
#include <QtMisc/qtm_strings.h>

#include <QCoreApplication>
#include <QLocale>
#include <QMetaType>
#include <QPointer>
#include <QStringConverter>
#include <QThread>
#include <QTranslator>
#include <QWidget>
#include <cstdio>
#include <new>

// Resources must be registered from the global namespace.
static void registerLibraryResources()
{
    Q_INIT_RESOURCE(qtmisc_resources);
}

namespace qtmisc {

InitHooks initHooks;
QLocale* locale = nullptr;
QThread* mainThread = nullptr;

namespace {

QTranslator* libraryTranslator = nullptr;
QPointer<QWidget> parentWidget;
int currentLanguage = 1;
bool initialised = false;

void registerTypes()
{
    qRegisterMetaType<unsigned short>("uint16");
    qRegisterMetaType<unsigned int>("uint32");
    qRegisterMetaType<quint64>("quint64");
    qRegisterMetaType<QMessageBox::StandardButtons>("QMessageBox::StandardButtons");
    qRegisterMetaType<QMessageBox::StandardButton>("QMessageBox::StandardButton");
}

bool startFaultDaemon()
{
    auto* daemon = new (std::nothrow) SignalsDaemon;
    if (!daemon || !daemon->init()) {
        delete daemon;
        return false;
    }
    faultDaemon = daemon;
    SignalsDaemon::installHandlers();
    return true;
}

void createRegistry()
{
    filesHash = new QHash<QString, int>;
    filesHash->insert(QString(), 0);
    registerSourceFiles(qtmFilesListArray, qtmFilesListCount);
}

bool startMessager()
{
    auto* daemon = new (std::nothrow) MessagerDaemon;
    if (!daemon || !daemon->init()) {
        delete daemon;
        return false;
    }
    mesDaemon = daemon;
    return true;
}

} // namespace

uint16 init(const InitHooks& hooks)
{
    initHooks = hooks;
    // File names, translations and 8-bit strings are UTF-8 throughout Qt 6; nothing to set.
    registerTypes();
    if (!startFaultDaemon())
        return resultNotCreated;
    if (!QStringConverter::encodingForName("UTF-8")) {
        QTM_REPORT(0xA404);
        return resultReported;
    }
    createRegistry();
    if (!startMessager())
        return resultNotCreated;
    registerLibraryResources();
    if (const uint16 result = setLanguage(currentLanguage))
        return result;
    mainThread = QThread::currentThread();
    if (!mainThread) {
        QTM_REPORT(0xA404);
        return resultReported;
    }
    initialised = true;
    return resultOk;
}

uint16 initGui(QWidget* mainWindow, int language)
{
    parentWidget = mainWindow;
    currentLanguage = language;
    return setLanguage(language);
}

uint16 setLanguage(int language)
{
    delete locale;
    locale = new (std::nothrow) QLocale(language ? QLocale(QLocale::English, QLocale::UnitedStates)
                                                 : QLocale(QLocale::Russian, QLocale::Russia));
    if (!locale) {
        QTM_REPORT(0xA404);
        return resultReported;
    }
    delete libraryTranslator; // also removes it from the application
    libraryTranslator = new (std::nothrow) QTranslator;
    if (!libraryTranslator) {
        QTM_REPORT(0xA404);
        return resultReported;
    }
    const bool loaded = libraryTranslator->load(
        language ? QStringLiteral(":/qtm_en.qm") : QStringLiteral(":/qt_ru.qm"));
    Q_UNUSED(loaded) // a missing translation leaves the source texts, which is not an error
    QCoreApplication::installTranslator(libraryTranslator);
    qtmSK.retranslate();
    currentLanguage = language;
    return resultOk;
}

void shutdown()
{
    delete libraryTranslator;
    libraryTranslator = nullptr;
    delete locale;
    locale = nullptr;
    delete mesDaemon;
    mesDaemon = nullptr;
    delete filesHash;
    filesHash = nullptr;
    delete faultDaemon;
    faultDaemon = nullptr;
    std::fflush(stdout);
    std::fflush(stderr);
}

bool isInitialised()
{
    return initialised;
}

int language()
{
    return currentLanguage;
}

QWidget* boxParent()
{
    return initialised ? parentWidget.data() : nullptr;
}

} // namespace qtmisc
