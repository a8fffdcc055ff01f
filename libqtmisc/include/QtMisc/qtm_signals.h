// POSIX signals carried to the GUI thread over a socket pair watched by a socket notifier.
#pragma once

#include <QtMisc/qtm_fault.h>

class QSocketNotifier;

namespace qtmisc {

class SignalsDaemon : public FaultDaemon
{
    Q_OBJECT
public:
    // Marker of a fatal notice; the 8-byte error code follows it on the socket.
    static constexpr quint32 fatalMarker = 0xFE430A90u;
    // Element 0 is written by the handlers (non-blocking), element 1 read by the GUI thread.
    static int sigFdUsr1[2];

    ~SignalsDaemon() override;
    bool init() override;

    static void installHandlers();
    static void SIGUSR1HandlerWrapper(int signo);
    static void SIGsFAULTHandlerWrapper(int signo, siginfo_t* info, void* context);
    // Brings the fatal box up for a signal: here on the GUI thread, else through the socket.
    static void raiseFatal(int signo);

public slots:
    void handleSig_usr1(int socket);

private:
    QSocketNotifier* notifier = nullptr;
};

} // namespace qtmisc
