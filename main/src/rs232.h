// The serial link to the KORUN-77M and its command protocol: synchronisation, command frames
// with byte-sum checksums, the three exchanges and the digitisation run.
// Depends on QtCore, QtSerialPort, the record model and the progress dialog form.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QSerialPort>
#include <QString>
#include <QtGlobal>

struct AcqParams;
class QProgressBar;
class QWidget;
class WaveChannel;
class WaveStore;

// What the link needs of a serial port, and the clock and waiting it runs on. The program
// uses QSerialPort; a test can script a unit in-process behind it.
class PortDevice
{
public:
    virtual ~PortDevice() = default;
    // 0, or the port's error value (the port may stay open after a setting that failed).
    virtual int open(const QString& name, qint32 rate) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual bool clear() = 0;
    virtual qint64 write(const char* data, qint64 size) = 0;
    virtual qint64 bytesToWrite() const = 0;
    virtual qint64 bytesAvailable() const = 0;
    // Bytes read, 0 when none are waiting, -1 on an error.
    virtual qint64 read(char* data, qint64 size) = 0;
    // Milliseconds on a monotonic clock.
    virtual qint64 nowMs() const = 0;
    // Serves the user interface until data, a timer or input arrives, for at most ms.
    virtual void waitForActivity(qint64 ms) = 0;
};

// The real port: QSerialPort, a monotonic clock, and the event loop slept in between.
class SerialPortDevice : public PortDevice
{
public:
    SerialPortDevice();
    int open(const QString& name, qint32 rate) override;
    void close() override;
    bool isOpen() const override;
    bool clear() override;
    qint64 write(const char* data, qint64 size) override;
    qint64 bytesToWrite() const override;
    qint64 bytesAvailable() const override;
    qint64 read(char* data, qint64 size) override;
    qint64 nowMs() const override;
    void waitForActivity(qint64 ms) override;

private:
    QSerialPort port;
    QElapsedTimer clock;
};

// What went wrong last in a run, for the operator to read.
enum class LinkFailure {
    None,
    PortMissing,
    PortDenied,
    PortBusy,
    PortError,
    NoSyncAnswer,
    WrongSyncAnswer,
    NoAcknowledge,
    WrongAcknowledge,
    NoReply,
    BadChecksum,
    Stalled,
    ReadError,
    Stopped,
};

// A port that would not open: missing (QSerialPort's DeviceNotFoundError), refused (its
// PermissionError) to a user without access or busy with another program for one with it, or
// another fault.
LinkFailure openFailure(int portError, bool accessible);

class SerialLink
{
public:
    // The unit's output buffer is taken as this many bytes.
    static constexpr qint64 outputCapacity = 32765;
    static constexpr qint32 readBufferSize = 64511;

    explicit SerialLink(PortDevice& device);

    int openPort(const QString& name, qint32 rate);
    int reopenPort(const QString& name, qint32 rate);
    void closePort();
    // STOP: the current run ends at its next wait, and no attempt of it starts any more.
    void requestStop();
    bool writeBlock(const quint8* data, int size);
    bool writeByte(quint8 byte);
    // A byte within ms, or 0 with timedOut set (also on a read error), or 0 after STOP.
    quint8 readByte(int ms);
    qint64 nowMs() const;
    void waitMs(int ms);
    // Waits until the output has left, at most for the time the bytes need on the line and a
    // second more; false on STOP or when the deadline passes.
    bool drainOutput(qint32 rate);
    // Reads and drops what arrives until the line has been quiet for quietMs, at most for
    // limitMs; false on STOP, a read error or when the limit passes.
    bool drainInput(int quietMs, qint64 limitMs);

    PortDevice& device;
    QString portName; // the port the protocol opens, and its line rate
    qint32 rate = 115200;
    bool timedOut = false;
    bool stopped = false;
    quint8 checksum = 0;
    LinkFailure failure = LinkFailure::None; // the last thing that went wrong in this run
    // How each try of the last exchange that was retried failed, in order.
    QList<LinkFailure> attempts;
    // When the unit last answered that its record was complete (nowMs).
    qint64 readyAtMs = 0;

private:
    bool waitForRoom(qint64 size);
};

// The program-wide link on the serial port.
SerialLink& serialLink();

// The unit's command protocol over a link; each exchange opens the link's port at its rate if
// needed and closes it before returning.
class KorunProtocol
{
public:
    explicit KorunProtocol(SerialLink& link);

    bool sendParameters(const AcqParams& frame);
    bool readStatus(quint8& status);
    // Asks for count samples (count / 2 in the frame) of channel index; the bar goes on from
    // its value, and is put back there when the transfer fails.
    bool readChannel(int index, int count, QProgressBar* bar, WaveChannel& target);
    // Before an exchange is tried again: whatever the unit still sends of the failed one is
    // let go by, so that the synchronisation is answered by a quiet unit.
    bool settleLine();

private:
    bool synchronise();
    bool sendCommand(quint8 command, const quint8* payload, int size, int ackMs);
    // Opens the port if need be; false (the failure noted) when it cannot be used.
    bool begin();
    bool finish(bool success);
    // Reads the sum byte after what the checksum holds: true when it matches.
    bool checkSum(int ms);
    // Notes why an exchange failed (a STOP whatever else went wrong) and returns false.
    bool fail(LinkFailure why);

    SerialLink& link;
};

// Fills an initialised record from the unit on port at rate: the parameters, status polling,
// every channel, then the header from the parameters sent. Shows the progress dialog (parent:
// the window that will own the record), whose STOP stops the link; or, given a bar of its own
// (a series'), shows the progress there and leaves the interface free.
bool runAcquisition(WaveStore& record, QWidget* parent, SerialLink& link, const AcqParams& params,
    const QString& port, qint32 rate, QProgressBar* ownBar = nullptr);
