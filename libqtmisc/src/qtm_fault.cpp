#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_fault.h>
#include <QtMisc/qtm_init.h>
#include <QtMisc/qtm_io.h>
#include <QtMisc/qtm_signals.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>

namespace qtmisc {

FaultDaemon* faultDaemon = nullptr;
std::atomic<bool> FaultDaemon::crashOccuried { false };

namespace {

constexpr int maxFrameChars = 268;

QString signalLine(const FaultInfo& fault)
{
    const auto address = quintptr(fault.info ? fault.info->si_addr : nullptr);
    const QString at = QStringLiteral(" at address:0x%1\n").arg(address, 0, 16);
    switch (fault.signo) {
    case SIGSEGV:
        return QStringLiteral("SIGSEGV") + at;
    case SIGFPE:
        return QStringLiteral("SIGFPE") + at;
    case SIGILL:
        return QStringLiteral("SIGILL") + at;
    case SIGBUS:
        return QStringLiteral("SIGBUS") + at;
    case SIGQUIT:
        return QStringLiteral("SIGQUIT\n");
    case SIGABRT:
        return QStringLiteral("SIGABRT\n");
    default:
        return QStringLiteral("SIG%1\n").arg(fault.signo);
    }
}

const char* generalCodeName(int code)
{
    switch (code) {
    case SI_USER:
        return "SI_USER";
    case SI_KERNEL:
        return "SI_KERNEL";
    case SI_QUEUE:
        return "SI_QUEUE";
    case SI_TIMER:
        return "SI_TIMER";
    case SI_MESGQ:
        return "SI_MESGQ";
    case SI_ASYNCIO:
        return "SI_ASYNCIO";
    case SI_SIGIO:
        return "SI_SIGIO";
    case SI_TKILL:
        return "SI_TKILL";
    default:
        return nullptr;
    }
}

// Names of a signal's own codes 1, 2, 3, ...
const char* signalCodeName(int signo, int code)
{
    static const char* const segv[] = { "SEGV_MAPERR", "SEGV_ACCERR" };
    static const char* const fpe[] = { "FPE_INTDIV", "FPE_INTOVF", "FPE_FLTDIV", "FPE_FLTOVF",
        "FPE_FLTUND", "FPE_FLTRES", "FPE_FLTINV", "FPE_FLTSUB" };
    static const char* const ill[] = { "ILL_ILLOPC", "ILL_ILLOPN", "ILL_ILLADR", "ILL_ILLTRP",
        "ILL_PRVOPC", "ILL_PRVREG", "ILL_COPROC", "ILL_BADSTK" };
    static const char* const bus[] = { "BUS_ADRALN", "BUS_ADRERR", "BUS_OBJERR" };
    auto pick = [code](const char* const* names, int count) -> const char* {
        return (code >= 1 && code <= count) ? names[code - 1] : nullptr;
    };
    switch (signo) {
    case SIGSEGV:
        return pick(segv, 2);
    case SIGFPE:
        return pick(fpe, 8);
    case SIGILL:
        return pick(ill, 8);
    case SIGBUS:
        return pick(bus, 3);
    default:
        return nullptr;
    }
}

} // namespace

void FaultDaemon::describeFault(const FaultInfo& fault, QString& text)
{
    text = signalLine(fault);
    const int code = fault.info ? fault.info->si_code : 0;
    const char* name = generalCodeName(code);
    if (!name)
        name = signalCodeName(fault.signo, code);
    text += QStringLiteral("code: %1\n")
                .arg(name ? QString::fromLatin1(name) : QString::number(code));
}

void FaultDaemon::backtraceText(char* buffer, int maxFrames)
{
    buffer[0] = '\0';
    void* frames[FaultDaemon::maxFrames];
    int count = ::backtrace(frames, FaultDaemon::maxFrames);
    char** symbols = ::backtrace_symbols(frames, count);
    if (!symbols)
        return;
    if (maxFrames != -1 && maxFrames < count)
        count = maxFrames;
    char* out = buffer;
    for (int i = 0; i < count; ++i) {
        if (!symbols[i])
            continue;
        const size_t length = qMin(std::strlen(symbols[i]), size_t(maxFrameChars));
        *out++ = '\t';
        std::memcpy(out, symbols[i], length);
        out += length;
        *out++ = '\n';
    }
    *out = '\0';
    std::free(symbols);
}

QString FaultDaemon::crashLogName()
{
    if (initHooks.crashFileName) {
        const QString name = initHooks.crashFileName();
        if (!name.isEmpty())
            return name;
    }
    return QStringLiteral("crash_")
        + QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy_hh_mm_ss"))
        + QStringLiteral(".log");
}

QString FaultDaemon::crashLogDir()
{
    if (initHooks.crashDir)
        return initHooks.crashDir();
    return QDir::toNativeSeparators(QDir::tempPath()) + QDir::separator()
        + QCoreApplication::applicationName() + QDir::separator();
}

void FaultDaemon::appendToFile(const QString& text, const QString& path)
{
    std::FILE* file = std::fopen(path.toUtf8().constData(), "a");
    if (!file) {
        QTM_REPORT_ERRNO(0xA408);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    if (std::fprintf(file, "%s", bytes.constData()) != bytes.size())
        QTM_REPORT_ERRNO(0xA409);
    if (std::fclose(file) != 0)
        QTM_REPORT_ERRNO(0xA40A);
}

void FaultDaemon::crashHandler(const FaultInfo& fault)
{
    crashOccuried = true;
    QString text;
    describeFault(fault, text);
    char frames[backtraceBufferSize];
    backtraceText(frames, -1);
    text += QString::fromUtf8(frames);

    const QString dir = crashLogDir();
    if (!dir.isEmpty() && ensureDirectory(dir))
        appendToFile(text, dir + crashLogName());

    SignalsDaemon::raiseFatal(fault.signo);
    if (initHooks.onFatalSignal)
        initHooks.onFatalSignal(fault.signo);
}

} // namespace qtmisc
