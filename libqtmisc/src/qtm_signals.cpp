#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_messager.h>
#include <QtMisc/qtm_signals.h>

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qtmisc {

int SignalsDaemon::sigFdUsr1[2] = { -1, -1 };

namespace {

// The fatal signal being handled, 0 while none is. A second fault while this is set ends the
// process at once.
std::atomic<int> faultInProgress { 0 };

// A crash handler that has not brought its box up within this time is taken as deadlocked
// (for example a fault inside malloc, whose lock the handler then waits for).
constexpr unsigned watchdogSeconds = 5;

// Alternate stack for the handlers, so that a stack overflow still reaches them. The handler
// runs the fatal box's event loop on it, hence the size; pages are only used when touched.
constexpr size_t altStackSize = 8 * 1024 * 1024;

// Ends the process with the signal's default action; only async-signal-safe calls.
[[noreturn]] void endWithDefaultAction(int signo)
{
    struct sigaction action
    {
    };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signo, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signo);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signo);
    ::_exit(128 + signo);
}

void watchdogExpired(int)
{
    const int signo = faultInProgress.load();
    endWithDefaultAction(signo ? signo : SIGABRT);
}

void armWatchdog()
{
    struct sigaction action
    {
    };
    action.sa_handler = watchdogExpired;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK;
    ::sigaction(SIGALRM, &action, nullptr);
    ::alarm(watchdogSeconds);
}

// Once the fatal box runs its event loop the handler is alive: the operator may take his time.
void disarmWatchdogWhenBoxIsUp()
{
    QTimer::singleShot(0, [] { ::alarm(0); });
}

void installAltStack()
{
    static void* stack = nullptr;
    if (stack)
        return;
    void* memory = ::mmap(nullptr, altStackSize, PROT_READ | PROT_WRITE,
        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED)
        return;
    stack_t altStack {};
    altStack.ss_sp = memory;
    altStack.ss_size = altStackSize;
    if (::sigaltstack(&altStack, nullptr) == 0)
        stack = memory;
    else
        ::munmap(memory, altStackSize);
}

void install(int signo, void (*handler)(int, siginfo_t*, void*))
{
    struct sigaction action
    {
    };
    action.sa_sigaction = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    ::sigaction(signo, &action, nullptr);
}

bool setNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Writes all bytes to the non-blocking handler end, waiting for room; async-signal-safe.
bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            struct pollfd pfd
            {
                fd, POLLOUT, 0
            };
            ::poll(&pfd, 1, 100);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

// Reads exactly size bytes unless the socket has none ready or fails; errno tells why.
bool readAll(int fd, char* data, size_t size)
{
    while (size > 0) {
        errno = 0;
        const ssize_t n = ::read(fd, data, size);
        if (n > 0) {
            data += n;
            size -= size_t(n);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

void pauseBriefly()
{
    const struct timespec pause
    {
        0, 1000000
    }; // 1 ms
    ::nanosleep(&pause, nullptr);
}

} // namespace

bool SignalsDaemon::init()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sigFdUsr1) != 0) {
        QTM_REPORT_ERRNO(0xA4A2);
        QTM_REPORT(0xA602);
        sigFdUsr1[0] = sigFdUsr1[1] = -1;
        return false;
    }
    // A flood of signals must never block a handler, nor a stray wake-up the GUI thread.
    setNonBlocking(sigFdUsr1[0]);
    setNonBlocking(sigFdUsr1[1]);
    notifier = new (std::nothrow) QSocketNotifier(sigFdUsr1[1], QSocketNotifier::Read, this);
    if (!notifier) {
        QTM_REPORT(0xA702);
        return false;
    }
    if (!connect(notifier, &QSocketNotifier::activated, this, &SignalsDaemon::handleSig_usr1,
            Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection))) {
        QTM_REPORT(0xA502);
        return false;
    }
    return true;
}

SignalsDaemon::~SignalsDaemon()
{
    delete notifier;
    notifier = nullptr;
    for (int& fd : sigFdUsr1) {
        if (fd < 0)
            continue;
        const int closing = fd;
        fd = -1; // handlers stop writing before the descriptor can be reused
        if (::close(closing) != 0)
            QTM_REPORT_ERRNO(0xA4A5);
    }
}

void SignalsDaemon::installHandlers()
{
    installAltStack();
    struct sigaction action
    {
    };
    action.sa_handler = SIGUSR1HandlerWrapper;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_ONSTACK;
    ::sigaction(SIGUSR1, &action, nullptr);
    for (int signo : { SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGQUIT, SIGABRT })
        install(signo, SIGsFAULTHandlerWrapper);
}

void SignalsDaemon::SIGUSR1HandlerWrapper(int)
{
    const int savedErrno = errno;
    const int fd = sigFdUsr1[0];
    if (faultDaemon && fd >= 0) {
        // A full socket drops the notice: the GUI thread has plenty still to read.
        const quint32 notice = 0;
        const ssize_t written = ::write(fd, &notice, sizeof notice);
        Q_UNUSED(written)
    }
    errno = savedErrno;
}

void SignalsDaemon::SIGsFAULTHandlerWrapper(int signo, siginfo_t* info, void*)
{
    int idle = 0;
    if (!faultInProgress.compare_exchange_strong(idle, signo))
        endWithDefaultAction(signo);
    armWatchdog();
    if (info)
        crashHandler(FaultInfo { info, signo });
    endWithDefaultAction(signo);
}

void SignalsDaemon::raiseFatal(int signo)
{
    if (!mainThread || QThread::currentThread() == mainThread) {
        const ErrorCode value = QTM_ERROR_ERRNO(uint16(signo));
        disarmWatchdogWhenBoxIsUp();
        MessagerDaemon::showFatal(value);
        return;
    }
    const int fd = sigFdUsr1[0];
    if (!faultDaemon || fd < 0)
        return;
    const ErrorCode value = QTM_ERROR_ERRNO(uint16(signo));
    char notice[sizeof(quint32) + sizeof(ErrorCode)];
    std::memcpy(notice, &fatalMarker, sizeof(quint32));
    std::memcpy(notice + sizeof(quint32), &value, sizeof(ErrorCode));
    // Counted before sending, so that the GUI thread cannot lower it first.
    ++MessagerDaemon::crashDialogShowedCounter;
    if (!writeAll(fd, notice, sizeof notice)) {
        --MessagerDaemon::crashDialogShowedCounter;
        QTM_REPORT_ERRNO(0xA4A4);
        return;
    }
    while (MessagerDaemon::crashDialogShowedCounter.load() != 0)
        pauseBriefly();
}

void SignalsDaemon::handleSig_usr1(int socket)
{
    if (QThread::currentThread() != mainThread || !notifier || socket != sigFdUsr1[1])
        return;
    notifier->setEnabled(false);
    quint32 word = 0;
    if (!readAll(socket, reinterpret_cast<char*>(&word), sizeof word)) {
        if (errno != EAGAIN && errno != EINTR)
            QTM_REPORT_ERRNO(0xA4A3);
        notifier->setEnabled(true);
        return;
    }
    if (word == fatalMarker) {
        ErrorCode value = 0;
        if (!readAll(socket, reinterpret_cast<char*>(&value), sizeof value)) {
            if (errno != EAGAIN && errno != EINTR)
                QTM_REPORT_ERRNO(0xA4A3);
            --MessagerDaemon::crashDialogShowedCounter; // release the waiting thread
            notifier->setEnabled(true);
            return;
        }
        disarmWatchdogWhenBoxIsUp();
        MessagerDaemon::showFatal(value);
        if (initHooks.onFatalSignal)
            initHooks.onFatalSignal(int(value & 0xFFFF));
        --MessagerDaemon::crashDialogShowedCounter;
    } else if (initHooks.onUsr1) {
        initHooks.onUsr1();
    }
    notifier->setEnabled(true);
}

} // namespace qtmisc
