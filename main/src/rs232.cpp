#include "rs232.h"

#include "data.h"
#include "korun_protocol.h"
#include "ustrings.h"
#include "wave_stor.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <optional>
#include <unistd.h>

// --- The real port ------------------------------------------------------------------------------

namespace {

constexpr qint64 napMs = 3;

} // namespace

SerialPortDevice::SerialPortDevice()
{
    clock.start();
}

int SerialPortDevice::open(const QString& name, qint32 rate)
{
    port.setPortName(name);
    if (!port.open(QIODevice::ReadWrite))
        return port.error();
    port.setReadBufferSize(SerialLink::readBufferSize);
    if (!port.setDataBits(QSerialPort::Data8) || !port.setParity(QSerialPort::NoParity)
        || !port.setStopBits(QSerialPort::OneStop)
        || !port.setFlowControl(QSerialPort::NoFlowControl) || !port.setRequestToSend(false))
        return port.error(); // the port stays open: a pseudo-terminal has no RTS line
    if (!port.setBaudRate(rate))
        return port.error();
    return 0;
}

void SerialPortDevice::close()
{
    port.close();
}

bool SerialPortDevice::isOpen() const
{
    return port.isOpen();
}

bool SerialPortDevice::clear()
{
    return port.clear(QSerialPort::AllDirections);
}

qint64 SerialPortDevice::write(const char* data, qint64 size)
{
    return port.write(data, size);
}

qint64 SerialPortDevice::bytesToWrite() const
{
    return port.bytesToWrite();
}

qint64 SerialPortDevice::bytesAvailable() const
{
    return port.bytesAvailable();
}

qint64 SerialPortDevice::read(char* data, qint64 size)
{
    if (!port.isOpen())
        return -1;
    if (port.error() != QSerialPort::NoError
        && port.error() != QSerialPort::UnsupportedOperationError)
        return -1;
    return port.read(data, size);
}

qint64 SerialPortDevice::nowMs() const
{
    return clock.elapsed();
}

// Sleeps in the event loop: data on the port, written bytes, the timer or the operator's input
// wake it, so waiting costs no processor time. A short nap first lets a fast line deliver its
// bytes in pieces of some size rather than one wake-up per byte or two.
void SerialPortDevice::waitForActivity(qint64 ms)
{
    QThread::msleep(quint64(std::clamp<qint64>(ms, 0, napMs)));
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(int(std::clamp<qint64>(ms, 0, 1000)));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// --- Link ---------------------------------------------------------------------------------------

SerialLink::SerialLink(PortDevice& device)
    : device(device)
{
}

SerialLink& serialLink()
{
    static SerialPortDevice port;
    static SerialLink link(port);
    return link;
}

int SerialLink::openPort(const QString& name, qint32 rate)
{
    const int error = device.open(name, rate);
    if (error == 0)
        timedOut = false; // a stop request stays: it belongs to the run, not to the port
    return error;
}

int SerialLink::reopenPort(const QString& name, qint32 rate)
{
    closePort();
    return openPort(name, rate);
}

void SerialLink::closePort()
{
    device.close();
}

void SerialLink::requestStop()
{
    stopped = true;
    closePort();
}

qint64 SerialLink::nowMs() const
{
    return device.nowMs();
}

void SerialLink::waitMs(int ms)
{
    if (ms <= 0)
        return;
    const qint64 deadline = nowMs() + ms;
    while (nowMs() < deadline && !stopped)
        device.waitForActivity(deadline - nowMs());
}

// Room in the output buffer for size bytes, at most for the time a full buffer needs at the
// slowest line rate.
bool SerialLink::waitForRoom(qint64 size)
{
    const qint64 deadline = nowMs() + 30000;
    while (outputCapacity - device.bytesToWrite() < size) {
        if (stopped || !device.isOpen() || nowMs() > deadline)
            return false;
        device.waitForActivity(deadline - nowMs());
    }
    return true;
}

bool SerialLink::writeBlock(const quint8* data, int size)
{
    if (!data || size < 0 || size > outputCapacity || !waitForRoom(size))
        return false;
    for (int i = 0; i < size; ++i)
        checksum = quint8(checksum + data[i]);
    return device.write(reinterpret_cast<const char*>(data), size) == size;
}

bool SerialLink::writeByte(quint8 byte)
{
    if (!waitForRoom(1))
        return false;
    checksum = quint8(checksum + byte);
    const char data = char(byte);
    return device.write(&data, 1) == 1;
}

quint8 SerialLink::readByte(int ms)
{
    timedOut = false;
    const qint64 deadline = nowMs() + ms;
    for (;;) {
        char byte = 0;
        const qint64 read = device.read(&byte, 1);
        if (read == 1)
            return quint8(byte);
        if (read < 0 || deadline < nowMs()) {
            timedOut = true; // a read error is no byte: it fails like a time-out
            return 0;
        }
        if (stopped)
            return 0;
        device.waitForActivity(deadline - nowMs() + 1);
    }
}

bool SerialLink::drainInput(int quietMs, qint64 limitMs)
{
    const qint64 deadline = nowMs() + limitMs;
    qint64 quietSince = nowMs();
    char dropped[512];
    for (;;) {
        const qint64 read = device.read(dropped, sizeof dropped);
        if (read < 0 || stopped)
            return false;
        if (read > 0)
            quietSince = nowMs();
        else if (nowMs() - quietSince >= quietMs)
            return true;
        if (nowMs() > deadline)
            return false;
        if (read == 0)
            device.waitForActivity(quietMs - (nowMs() - quietSince));
    }
}

bool SerialLink::drainOutput(qint32 rate)
{
    const qint64 bits = device.bytesToWrite() * 10 * 1000;
    const qint64 deadline = nowMs() + bits / std::max(rate, 1200) + 1000;
    while (device.bytesToWrite() > 0) {
        if (stopped || nowMs() > deadline)
            return false;
        device.waitForActivity(deadline - nowMs());
    }
    return true;
}

// --- Protocol -----------------------------------------------------------------------------------

namespace {

using korun::commandParameters;
using korun::commandReadChannel;
using korun::commandStatus;
using korun::syncAnswer;
using korun::syncBytes;
constexpr int syncTimeoutMs = 500;
constexpr int parametersAckMs = 100;
constexpr int parametersPauseMs = 100;
constexpr int statusAckMs = 500;
constexpr int statusByteMs = 500;
constexpr int statusSumMs = 100;
constexpr int channelAckMs = 500;
constexpr int channelSumMs = 500;
constexpr int stallMs = 1000;
constexpr int pieceSize = 32000;
constexpr int attempts = 3;
// A line without a byte for this long has nothing more of a failed exchange to deliver: longer
// than the unit may pause within a transfer, so that a unit that finishes a stalled transfer
// is heard out before the next try.
constexpr int quietLineMs = stallMs + 300;
// The longest reply: a channel of 2 x 65535 samples and its checksum.
constexpr qint64 longestReplyBytes = 2 * 65535 + 1;

} // namespace

KorunProtocol::KorunProtocol(SerialLink& link)
    : link(link)
{
}

LinkFailure openFailure(int portError, bool accessible)
{
    switch (portError) {
    case QSerialPort::DeviceNotFoundError:
        return LinkFailure::PortMissing;
    case QSerialPort::PermissionError:
        return accessible ? LinkFailure::PortBusy : LinkFailure::PortDenied;
    default:
        return LinkFailure::PortError;
    }
}

bool KorunProtocol::begin()
{
    if (link.device.isOpen())
        return true;
    const int error = link.openPort(link.portName, link.rate);
    if (link.device.isOpen()) // a setting a pseudo-terminal lacks leaves it usable
        return true;
    const QByteArray path = QFile::encodeName(link.portName);
    return fail(openFailure(error, ::access(path.constData(), R_OK | W_OK) == 0));
}

bool KorunProtocol::fail(LinkFailure why)
{
    link.failure = link.stopped ? LinkFailure::Stopped : why;
    return false;
}

bool KorunProtocol::finish(bool success)
{
    link.closePort();
    return success;
}

bool KorunProtocol::synchronise()
{
    if (!link.drainOutput(link.rate) || !link.device.clear() || !link.writeBlock(syncBytes, 4))
        return fail(LinkFailure::PortError);
    const quint8 answer = link.readByte(syncTimeoutMs);
    if (link.stopped || link.timedOut)
        return fail(LinkFailure::NoSyncAnswer);
    return answer == syncAnswer || fail(LinkFailure::WrongSyncAnswer);
}

bool KorunProtocol::settleLine()
{
    if (!begin())
        return false;
    const qint64 lineMs = longestReplyBytes * 10 * 1000 / std::max(link.rate, 1200) + 1000;
    return link.drainInput(quietLineMs, lineMs);
}

bool KorunProtocol::sendCommand(quint8 command, const quint8* payload, int size, int ackMs)
{
    link.checksum = 0;
    if (!link.writeByte(command) || (size > 0 && !link.writeBlock(payload, size)))
        return fail(LinkFailure::PortError);
    const quint8 sum = link.checksum;
    if (!link.writeByte(sum))
        return fail(LinkFailure::PortError);
    const quint8 ack = link.readByte(ackMs);
    if (link.stopped || link.timedOut)
        return fail(LinkFailure::NoAcknowledge);
    return ack == 0 || fail(LinkFailure::WrongAcknowledge);
}

bool KorunProtocol::sendParameters(const AcqParams& frame)
{
    if (!begin() || !synchronise()
        || !sendCommand(commandParameters, reinterpret_cast<const quint8*>(&frame), sizeof frame,
            parametersAckMs))
        return finish(false);
    link.waitMs(parametersPauseMs);
    return finish(!link.stopped || fail(LinkFailure::Stopped));
}

bool KorunProtocol::readStatus(quint8& status)
{
    if (!begin() || !synchronise() || !sendCommand(commandStatus, nullptr, 0, statusAckMs))
        return finish(false);
    link.checksum = 0;
    status = link.readByte(statusByteMs);
    if (link.timedOut || link.stopped)
        return finish(fail(LinkFailure::NoReply));
    link.checksum = quint8(link.checksum + status);
    return finish(checkSum(statusSumMs));
}

bool KorunProtocol::checkSum(int ms)
{
    const quint8 expected = link.checksum;
    const quint8 sum = link.readByte(ms);
    if (link.timedOut || link.stopped)
        return fail(LinkFailure::NoReply);
    return sum == expected || fail(LinkFailure::BadChecksum);
}

bool KorunProtocol::readChannel(int index, int count, QProgressBar* bar, WaveChannel& target)
{
    const auto half = quint16(std::clamp(count / 2, 0, 65535));
    const quint8 request[5]
        = { 0, 0, quint8(half & 0xFF), quint8(half >> 8), quint8(std::clamp(index, 0, 255)) };
    if (!begin() || !synchronise()
        || !sendCommand(commandReadChannel, request, sizeof request, channelAckMs))
        return finish(false);

    link.checksum = 0;
    const int base = bar ? bar->value() : 0;
    int received = 0;
    qint64 idleSince = link.nowMs();
    count = std::min(count, target.sampleCount);
    while (received < count) {
        const qint64 waiting = link.device.bytesAvailable();
        if (waiting > 1) {
            qint8* piece = nullptr;
            const int room
                = std::min({ target.blockAt(received, &piece), pieceSize, count - received });
            const qint64 got = link.device.read(reinterpret_cast<char*>(piece), room);
            if (got < 0)
                return finish(fail(LinkFailure::ReadError));
            for (qint64 k = 0; k < got; ++k)
                link.checksum = quint8(link.checksum + quint8(piece[k]));
            received += int(got);
            idleSince = link.nowMs();
        } else if (link.nowMs() - idleSince > stallMs) {
            if (bar)
                bar->setValue(base);
            return finish(fail(LinkFailure::Stalled));
        }
        if (bar)
            bar->setValue(base + received);
        if (link.stopped)
            return finish(fail(LinkFailure::Stopped));
        if (waiting <= 1 && received < count)
            link.device.waitForActivity(stallMs - (link.nowMs() - idleSince) + 1);
        else
            QCoreApplication::processEvents();
    }
    return finish(checkSum(channelSumMs));
}

// --- Digitisation run ---------------------------------------------------------------------------

namespace {

// Runs an exchange up to three times, letting the line settle before each new try; a STOP
// ends the tries.
template <typename Exchange>
bool withAttempts(SerialLink& link, KorunProtocol& protocol, Exchange exchange)
{
    link.attempts.clear();
    for (int attempt = 0; attempt < attempts && !link.stopped; ++attempt) {
        if ((attempt == 0 || protocol.settleLine()) && exchange())
            return true;
        link.attempts << link.failure;
    }
    return false;
}

// The header of a completed run, from the parameters the unit was sent.
void completeHeader(WaveStore& record, const AcqParams& sent)
{
    WaveHeader& h = record.header;
    h.ticksPerSample = 4 * qint32(sent.freqCode) + 4;
    h.clockKHz = 12000;
    h.firstVisible = 0;
    h.visibleCount = h.sampleCount;
    h.runFlag = 0;
    h.syncExternal = sent.sync;
    for (int i = 0; i < record.channelCount(); ++i) {
        ChannelHeader& ch = record.channelSlots[i].header;
        ch.gainCode = i < 4 ? sent.gains[i] : 0;
        ch.reserved1 = 0;
        ch.reserved2 = 0;
        ch.inputNumber = quint8(4 * sent.muxGroup + i + 1);
        if (sent.detector)
            record.channel(i)->applyDetectorOffset();
        else
            record.channel(i)->clearDetectorOffset();
    }
    h.detector = sent.detector ? 1 : 0;
    record.refreshScaleX();
    record.applyScales();
    for (int i = 0; i < record.channelCount(); ++i) {
        if (sent.detector)
            record.channel(i)->applyDetectorOffset();
        record.channel(i)->hasData = true;
    }
}

bool transfer(WaveStore& record, SerialLink& link, QProgressBar* bar, const AcqParams& sent)
{
    KorunProtocol protocol(link);
    if (!withAttempts(link, protocol, [&] { return protocol.sendParameters(sent); }))
        return false;
    for (;;) {
        quint8 status = 1;
        if (!withAttempts(link, protocol, [&] { return protocol.readStatus(status); }))
            return false;
        const qint64 answered = link.nowMs();
        link.waitMs(100);
        if (link.stopped)
            return false;
        if (status == 0) {
            link.readyAtMs = answered;
            break;
        }
    }
    bar->setValue(20);
    QCoreApplication::processEvents();
    const int samples = record.sampleCount();
    for (int i = 0; i < record.channelCount(); ++i) {
        WaveChannel* channel = record.channel(i);
        // Every try of a channel starts the bar where the channels before it ended.
        const auto readOnce = [&] {
            bar->setValue(20 + i * samples);
            return protocol.readChannel(i, samples, bar, *channel);
        };
        if (!channel || !withAttempts(link, protocol, readOnce))
            return false;
    }
    completeHeader(record, sent);
    return true;
}

} // namespace

bool runAcquisition(WaveStore& record, QWidget* parent, SerialLink& link, const AcqParams& params,
    const QString& port, qint32 rate, QProgressBar* ownBar)
{
    const int steps = record.channelCount() * record.sampleCount() + 20;
    std::optional<ProgressDialog> dialog;
    std::optional<ProgressDialog::Hold> hold;
    QProgressBar* bar = ownBar;
    if (ownBar) {
        hold.emplace();
        ownBar->setRange(0, steps);
        ownBar->setValue(0);
    } else {
        dialog.emplace(parent, QString(), steps);
        if (!QObject::connect(dialog->stopButton(), &QToolButton::released, &*dialog,
                [&link] { link.requestStop(); }))
            return false;
        bar = dialog->bar();
    }
    link.stopped = false;
    link.failure = LinkFailure::None;
    link.portName = port;
    link.rate = rate;
    // The run records what it sent, whatever the parameters become meanwhile.
    const AcqParams sent = params;
    const bool done = transfer(record, link, bar, sent);
    if (!done && link.stopped) // whatever went wrong before, the operator stopped the run
        link.failure = LinkFailure::Stopped;
    link.closePort();
    return done;
}
