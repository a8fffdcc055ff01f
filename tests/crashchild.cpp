// crashchild MODE CRASHDIR: starts the support library as the program does, then faults in
// the way MODE says. Each fatal box it is shown is answered and printed as a FATAL_BOX line.
#include "init.h"
#include "ustrings.h"

#include <QtMisc/qtm_init.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

QString mode;
QString crashDirectory;

QString crashDir()
{
    return crashDirectory;
}

void answerFatalBox()
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box)
        return;
    std::printf("FATAL_BOX %s\n", qPrintable(box->text().replace('\n', '|')));
    std::fflush(stdout);
    box->buttons().first()->click();
}

__attribute__((no_sanitize_address, no_sanitize_undefined, noinline)) void writeToNull()
{
    volatile int* volatile pointer = nullptr;
    *pointer = 1;
}

__attribute__((no_sanitize_undefined, noinline)) int divide(volatile int a, volatile int b)
{
    return a / b;
}

volatile bool endRecursion = false; // never set: the recursion ends in a stack overflow

__attribute__((no_sanitize_address, noinline)) int recurse(int depth)
{
    if (endRecursion)
        return depth;
    volatile char frame[4096];
    frame[0] = char(depth);
    return recurse(depth + 1) + frame[0];
}

qtmisc::HookHandle beforeFatal()
{
    if (mode == "double-fault")
        writeToNull();
    if (mode == "watchdog")
        ::sleep(60); // the handler hangs before its box is up
    // An operator reading the box for six seconds: the watchdog is off once it is up.
    QTimer::singleShot(mode == "slow-reader" ? 6000 : 0, answerFatalBox);
    return {};
}

void fault()
{
    if (mode == "segv" || mode == "double-fault" || mode == "watchdog" || mode == "slow-reader")
        writeToNull();
    else if (mode == "segv-thread")
        std::thread(writeToNull).detach(); // the GUI thread goes on with its event loop
    else if (mode == "fpe")
        std::printf("%d\n", divide(1, 0));
    else if (mode == "quit")
        ::kill(::getpid(), SIGQUIT);
    else if (mode == "abort")
        std::abort();
    else if (mode == "stack-overflow")
        std::printf("%d\n", recurse(0));
}

} // namespace

int main(int argc, char** argv)
{
    const rlimit noCore { 0, 0 };
    ::setrlimit(RLIMIT_CORE, &noCore);
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    mode = QString::fromLocal8Bit(argv[1]);
    crashDirectory = QString::fromLocal8Bit(argv[2]);

    qtmisc::InitHooks hooks = programInitHooks();
    hooks.crashDir = crashDir;
    hooks.beforeFatal = beforeFatal;
    if (qtmisc::init(hooks) != 0)
        return 3;
    stringsKit.retranslate();
    QWidget window;
    qtmisc::initGui(&window, 0);
    QTimer::singleShot(0, fault);
    return app.exec();
}
