// Library start-up and shutdown: the start-up record, both stages, the language.
#pragma once

#include <QtMisc/qtm_types.h>

#include <QMessageBox>
#include <QString>
#include <memory>

class QLocale;
class QThread;
class QWidget;

namespace qtmisc {

// What a before-hook returns and the matching after-hook receives.
using HookHandle = std::shared_ptr<void>;

// The hooks and texts an application plugs into the library. Entries not set stay null.
struct InitHooks
{
    void (*onReport)() = nullptr;
    void (*afterCritical)(HookHandle) = nullptr;
    HookHandle (*beforeCritical)() = nullptr;
    void (*afterInfo)(HookHandle) = nullptr;
    HookHandle (*beforeInfo)() = nullptr;
    void (*afterWarn)(HookHandle) = nullptr;
    HookHandle (*beforeWarn)() = nullptr;
    void (*afterQuestionEmit)(QMessageBox::StandardButton*) = nullptr;
    void (*afterQuestion)(HookHandle) = nullptr;
    HookHandle (*beforeQuestion)() = nullptr;
    void (*afterFatal)(HookHandle) = nullptr;
    HookHandle (*beforeFatal)() = nullptr;
    QString (*okButtonText)() = nullptr; // must be set
    QString (*boxTitle)() = nullptr; // must be set
    QString (*infoText)(int) = nullptr;
    QString (*warnText)(int) = nullptr;
    QString (*questionText)(int) = nullptr;
    void (*onUsr1)() = nullptr;
    void (*onFatalSignal)(int) = nullptr;
    QString (*crashDir)() = nullptr;
    QString (*crashFileName)() = nullptr;
    int maxLineLength = 0;
};

// The library's copy of the record given to init().
extern InitHooks initHooks;
extern QLocale* locale;
extern QThread* mainThread;

// First stage: daemons, signal handlers, registry, language 1, GUI thread.
uint16 init(const InitHooks& hooks);
// Second stage: the parent of the message boxes and the language (0 Russian, 1 English).
uint16 initGui(QWidget* mainWindow, int language);
uint16 setLanguage(int language);
void shutdown();

bool isInitialised();
int language();
// Parent of the information, warning, question and critical boxes (null before initGui).
QWidget* boxParent();

} // namespace qtmisc
