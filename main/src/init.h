// Start-up and shutdown of the program.
#pragma once

#include <QtMisc/qtm_init.h>

#include <QStringList>

class QApplication;
class QTranslator;

extern QApplication* application;
// Directory of the program, ending in a separator (empty: the working directory).
extern QString applicationDir;
extern QTranslator* programTranslator;
// 1 selects the English translation; the program starts with 0 and keeps it.
extern int languageSelector;

// What the program hands to the support library.
qtmisc::InitHooks programInitHooks();
// Last word on a fatal signal: anything but SIGABRT ends the process through abort().
void programOnFatalSignal(int signo);

// The process entry: 1 without an argument vector, a start-up failure code, or the event
// loop's exit code.
int runProgram(int argc, char** argv);
// Brings up the library, the texts and the main window; 0 or the failure code.
quint16 startup(const QStringList& arguments);
// Deletes the program translator and shuts the library down; harmless when run again.
void shutdownProgram();
