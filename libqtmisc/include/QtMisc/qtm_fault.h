// Fault handling: the crash handler and the crash log.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <csignal>

namespace qtmisc {

struct FaultInfo
{
    siginfo_t* info = nullptr;
    int signo = 0;
};

class FaultDaemon : public QObject
{
    Q_OBJECT
public:
    // Set when the crash handler starts; never cleared.
    static std::atomic<bool> crashOccuried;

    // Room backtraceText needs: 100 frames of at most 270 bytes, and the NUL.
    static constexpr int maxFrames = 100;
    static constexpr int frameTextSize = 270;
    static constexpr int backtraceBufferSize = maxFrames * frameTextSize + 1;

    virtual bool init() = 0;

    // Runs inside the signal handler: crash log, fatal box, the application's last word.
    static void crashHandler(const FaultInfo& fault);
    // The signal line and the code line of the log.
    static void describeFault(const FaultInfo& fault, QString& text);
    // One "\t<frame>\n" line per frame, innermost first; maxFrames -1 for all.
    static void backtraceText(char* buffer, int maxFrames);
    static QString crashLogName();
    static QString crashLogDir();
    static void appendToFile(const QString& text, const QString& path);
};

extern FaultDaemon* faultDaemon;

} // namespace qtmisc
