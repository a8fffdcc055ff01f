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
    forgetFrame();
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
            reply(quint8(random()), false, 0);
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

void FakeUnit::synchronised()
{
    transferring = -1;
    if (!faults.finishesTransfers)
        dropOutput(); // a new exchange: the rest of an old reply is dropped
}

bool FakeUnit::answersSyncWrongly()
{
    return faults.wrongSync > 0 && uniform(random) < faults.wrongSync;
}

korun::Ack FakeUnit::acknowledgement()
{
    return faults.wrongAck > 0 && uniform(random) < faults.wrongAck ? korun::Ack::Wrong
                                                                     : korun::Ack::Given;
}

// Asked only for a status command: each is a poll.
bool FakeUnit::busy()
{
    ++statusPolls;
    return faults.stuckBusy || nowUs < busyUntilUs;
}

// Random samples, kept as the truth of their channel.
std::vector<int8_t> FakeUnit::channelSamples(int index, int count)
{
    noteProgress();
    progressAtReads.append(lastProgress);
    transferring = std::min(index, 7);
    delivered[size_t(transferring)].clear();
    std::vector<qint8>& samples = truth[size_t(transferring)];
    samples.resize(size_t(count));
    for (qint8& s : samples)
        s = qint8(std::uniform_int_distribution<int>(-128, 127)(random));
    return { samples.begin(), samples.end() };
}

// The first stallCount transfers pause before sample stallAt.
bool FakeUnit::sampleFault(int transfer, int k, int, uint8_t&, int64_t& delayUs)
{
    if (transfer < faults.stallCount && k == faults.stallAt)
        delayUs = 1000LL * faults.stallMs;
    return true;
}
