#include "fakeunit.h"

#include <QApplication>
#include <QProgressBar>
#include <algorithm>

namespace {

constexpr qint64 byteTimeUs = 87; // ten bits at 115200 bit/s

double uniform(std::mt19937& random)
{
    return std::uniform_real_distribution<double>(0.0, 1.0)(random);
}

} // namespace

FakeUnit::FakeUnit(quint32 seed, UnitFaults faults)
    : random(seed)
    , faults(std::move(faults))
{
}

int FakeUnit::open(const QString&, qint32)
{
    opened = true;
    return 0;
}

void FakeUnit::close()
{
    opened = false;
    if (!faults.finishesTransfers)
        dropOutput();
    arrived.clear();
    synced = false;
    frameLength = 0;
}

bool FakeUnit::clear()
{
    if (!opened)
        return false;
    deliverDue();
    arrived.clear();
    return true;
}

void FakeUnit::dropOutput()
{
    pending.clear();
    lineFreeUs = nowUs;
}

void FakeUnit::stopAt(SerialLink* link, qint64 ms)
{
    stopLink = link;
    stopAtMs = ms;
}

void FakeUnit::checkStop()
{
    if (stopLink && stoppedAtMs < 0 && nowMs() >= stopAtMs) {
        stoppedAtMs = nowMs();
        stopLink->requestStop();
    }
}

qint64 FakeUnit::write(const char* data, qint64 size)
{
    if (!opened)
        return -1;
    if (stoppedAtMs >= 0)
        bytesAfterStop += size;
    written.append(data, size);
    for (qint64 i = 0; i < size; ++i)
        receive(quint8(data[i]));
    return size;
}

void FakeUnit::deliverDue()
{
    while (!pending.empty() && pending.front().dueUs <= nowUs) {
        arrived.append(pending.front().byte);
        pending.pop_front();
    }
}

qint64 FakeUnit::bytesAvailable() const
{
    qint64 count = arrived.size();
    for (const Pending& p : pending) {
        if (p.dueUs > nowUs)
            break;
        ++count;
    }
    return count;
}

void FakeUnit::noteProgress()
{
    if (!progressBar) {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* bar = widget->findChild<QProgressBar*>(QStringLiteral("progressBar")))
                progressBar = bar;
    }
    if (progressBar)
        lastProgress = progressBar->value();
}

qint64 FakeUnit::read(char* data, qint64 size)
{
    noteProgress();
    if (!opened)
        return -1;
    if (faults.readError > 0 && uniform(random) < faults.readError)
        return -1;
    deliverDue();
    const qint64 n = std::min<qint64>(size, arrived.size());
    std::copy(arrived.constData(), arrived.constData() + n, data);
    arrived.remove(0, n);
    return n;
}

qint64 FakeUnit::nextDueUs() const
{
    for (const Pending& p : pending)
        if (p.dueUs > nowUs)
            return p.dueUs;
    return -1;
}

void FakeUnit::waitForActivity(qint64 ms)
{
    qint64 target = nowUs + std::max<qint64>(ms, 1) * 1000;
    const qint64 due = nextDueUs();
    if (due > nowUs)
        target = std::min(target, std::max(due, nowUs + 1000)); // a port hands data on in pieces
    if (stopLink && stoppedAtMs < 0)
        target = std::min(target, std::max(nowUs + 1, stopAtMs * 1000));
    nowUs = std::max(target, nowUs + 1);
    noteProgress();
    checkStop();
    QCoreApplication::processEvents();
}

void FakeUnit::reply(quint8 byte, bool faulty, qint64 extraGapUs)
{
    qint64 gapUs = extraGapUs;
    if (faulty) {
        if (faults.drop > 0 && uniform(random) < faults.drop)
            return;
        if (faults.corrupt > 0 && uniform(random) < faults.corrupt)
            byte ^= quint8(1 + std::uniform_int_distribution<int>(0, 254)(random));
        if (faults.insert > 0 && uniform(random) < faults.insert)
            reply(quint8(random()), false);
        if (faults.delay > 0 && uniform(random) < faults.delay)
            gapUs = 1000LL
                * faults.delaysMs[std::uniform_int_distribution<size_t>(
                    0, faults.delaysMs.size() - 1)(random)];
    }
    lineFreeUs = std::max(lineFreeUs, nowUs) + gapUs + byteTimeUs;
    pending.push_back({ lineFreeUs, char(byte) });
    if (transferring >= 0)
        delivered[size_t(transferring)].append(char(byte));
}

void FakeUnit::receive(quint8 byte)
{
    if (synced) {
        if (frameLength == 0) {
            const int lengths[] = { 15, 2, 7 };
            if (byte < 0x21 || byte > 0x23) {
                synced = false;
                return;
            }
            frameLength = lengths[byte - 0x21];
            frame.clear();
        }
        frame.append(char(byte));
        if (frame.size() == frameLength) {
            synced = false;
            frameLength = 0;
            command(frame);
        }
        return;
    }
    window.append(char(byte));
    if (window.size() > 4)
        window.remove(0, 1);
    if (window == QByteArray("\xFF\xFF\x55\xAA", 4)) {
        window.clear();
        transferring = -1;
        if (!faults.finishesTransfers)
            dropOutput(); // a new exchange: the rest of an old reply is dropped
        const bool wrong = faults.wrongSync > 0 && uniform(random) < faults.wrongSync;
        reply(wrong ? 0x5A : 0xA5);
        synced = !wrong;
    }
}

void FakeUnit::command(const QByteArray& received)
{
    commandsReceived.append(received);
    quint8 sum = 0;
    for (int i = 0; i + 1 < received.size(); ++i)
        sum = quint8(sum + quint8(received[i]));
    const bool wrongAck = quint8(received.back()) != sum
        || (faults.wrongAck > 0 && uniform(random) < faults.wrongAck);
    reply(wrongAck ? 0x01 : 0x00, true, 1000LL * faults.ackDelayMs);
    if (wrongAck)
        return;
    const auto* p = reinterpret_cast<const quint8*>(received.constData()) + 1;
    switch (quint8(received[0])) {
    case 0x21:
        halfCount = quint16(p[2] | (p[3] << 8));
        busyUntilUs = nowUs + qint64(faults.busyMs) * 1000;
        break;
    case 0x22: {
        ++statusPolls;
        const quint8 status = (faults.stuckBusy || nowUs < busyUntilUs) ? 1 : 0;
        reply(status);
        reply(quint8(status + (faults.badStatusSum ? 1 : 0)));
        break;
    }
    case 0x23: {
        const int index = p[4];
        const int count = 2 * int(quint16(p[2] | (p[3] << 8)));
        noteProgress();
        progressAtReads.append(lastProgress);
        const bool first = transfers++ == 0;
        std::vector<qint8>& samples = truth[size_t(std::min(index, 7))];
        samples.resize(size_t(count));
        transferring = std::min(index, 7);
        delivered[size_t(transferring)].clear();
        quint8 total = 0;
        for (int k = 0; k < count; ++k) {
            qint8& s = samples[size_t(k)];
            s = qint8(std::uniform_int_distribution<int>(-128, 127)(random));
            total = quint8(total + quint8(s));
            const bool stall = first && k == faults.stallAt;
            reply(quint8(s), true, stall ? 1000LL * faults.stallMs : 0);
        }
        reply(quint8(total + (transfers <= faults.badChecksums ? 1 : 0)));
        transferring = -1;
        break;
    }
    }
}
