// The unit's protocol and the digitisation run against a scripted unit on a virtual clock:
// the exact frames, retries, time-outs, STOP, and thousands of runs over a faulty line.
#include "data.h"
#include "fmain.h"
#include "rs232.h"
#include "support/fakeunit.h"
#include "support/fixture.h"
#include "wave_stor.h"

#include <QProgressBar>
#include <QtTest>

namespace {

struct RunResult
{
    bool done = false;
    qint64 endMs = 0;
};

RunResult run(FakeUnit& unit, SerialLink& link, WaveStore& record)
{
    RunResult result;
    result.done = runAcquisition(record, nullptr, link, acqParams, QString(), comBaudRate);
    result.endMs = unit.nowMs();
    return result;
}

// Channel samples as the record holds them.
std::vector<qint8> samplesOf(const WaveChannel& channel)
{
    std::vector<qint8> out(size_t(channel.sampleCount));
    for (int i = 0; i < channel.sampleCount; ++i)
        out[size_t(i)] = channel.sample(i);
    return out;
}

// Every channel of the record holds what the unit meant to send.
bool holdsTheTruth(const WaveStore& record, const FakeUnit& unit)
{
    for (int i = 0; i < record.channelCount(); ++i)
        if (samplesOf(*record.channel(i)) != unit.truth[size_t(i)])
            return false;
    return true;
}

quint8 sum(const std::vector<qint8>& bytes)
{
    quint8 total = 0;
    for (qint8 b : bytes)
        total = quint8(total + quint8(b));
    return total;
}

} // namespace

Q_DECLARE_METATYPE(LinkFailure)

class tst_Protocol : public WindowTest
{
    Q_OBJECT
private:
    void prepare() override
    {
        acqParams = { 0, 256, 24, { 0, 1, 2, 3 }, 2, 0, 1 };
        comPortName = "fake";
        comBaudRate = 115200;
    }

private slots:
    void exampleFrames();
    void cleanRun();
    void unitNeverGoesAhead();
    void checksumRetryKeepsTheBar();
    void exchangeLimits();
    void retryAfterAStall();
    void faultyLine_data();
    void faultyLine();
};

void tst_Protocol::exampleFrames()
{
    FakeUnit unit(1);
    SerialLink link(unit);
    KorunProtocol protocol(link);
    quint8 status = 9;
    QVERIFY(protocol.readStatus(status));
    QCOMPARE(status, quint8(0));
    QCOMPARE(unit.written.toHex(' '), QByteArray("ff ff 55 aa 22 22"));
    QVERIFY(!unit.isOpen());

    unit.written.clear();
    const AcqParams frame = { 0, 50000, 24, { 0, 1, 2, 3 }, 2, 0, 1 };
    QVERIFY(protocol.sendParameters(frame));
    QCOMPARE(unit.written.toHex(' '),
        QByteArray("ff ff 55 aa 21 00 00 50 c3 18 00 00 01 02 03 02 00 01 55"));

    unit.written.clear();
    acqParams.halfCount = 2048;
    WaveChannel channel(4096);
    QVERIFY(channel.allocate());
    QVERIFY(protocol.readChannel(1, 4096, nullptr, channel));
    QCOMPARE(unit.written.toHex(' '), QByteArray("ff ff 55 aa 23 00 00 00 08 01 2c"));
    QVERIFY(samplesOf(channel) == unit.truth[1]);
    // A last sample alone in the line waits for the sum behind it.
    WaveChannel two(2);
    QVERIFY(two.allocate());
    QVERIFY(protocol.readChannel(0, 2, nullptr, two));
    QVERIFY(samplesOf(two) == unit.truth[0]);
}

void tst_Protocol::cleanRun()
{
    acqParams = { 0, 2048, 24, { 0, 1, 3, 12 }, 2, 1, 0 };
    FakeUnit unit(2);
    SerialLink link(unit);
    WaveStore record(QRect(0, 0, 639, 399));
    QVERIFY(record.initialise(4, 4096));
    QVERIFY(run(unit, link, record).done);
    QVERIFY(holdsTheTruth(record, unit));
    QCOMPARE(unit.lastProgress, 4 * 4096 + 20);
    QCOMPARE(int(record.header.clockKHz), 12000);
    QCOMPARE(int(record.header.ticksPerSample), 100);
    QCOMPARE(int(record.header.visibleCount), 4096);
    QCOMPARE(int(record.header.syncExternal), 1);
    QCOMPARE(int(record.header.detector), 0);
    const int gains[] = { 0, 1, 3, 12 };
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(int(record.channelSlots[i].header.gainCode), gains[i]);
        QCOMPARE(int(record.channelSlots[i].header.inputNumber), 9 + i);
        QCOMPARE(record.channel(i)->zeroOffset, 0);
        QVERIFY(record.channel(i)->hasData);
    }
    QVERIFY(!unit.isOpen());
}

// A unit that answers the synchronisation wrongly, and one that stays busy.
void tst_Protocol::unitNeverGoesAhead()
{
    UnitFaults faults;
    faults.wrongSync = 1.0;
    FakeUnit unit(3, faults);
    SerialLink link(unit);
    WaveStore record(QRect(0, 0, 639, 399));
    QVERIFY(record.initialise(4, 512));
    QVERIFY(!run(unit, link, record).done);
    // Nothing but the three synchronisations goes out: a wrong answer is no go-ahead.
    QCOMPARE(unit.written, QByteArray("\xFF\xFF\x55\xAA", 4).repeated(3));
    QCOMPARE(unit.statusPolls, 0);
    QCOMPARE(link.failure, LinkFailure::WrongSyncAnswer);

    // A unit that stays busy is polled until STOP, which ends the run within 200 ms with nothing
    // sent after it.
    UnitFaults busy;
    busy.stuckBusy = true;
    FakeUnit busyUnit(4, busy);
    SerialLink busyLink(busyUnit);
    busyUnit.stopAt(&busyLink, 7777);
    WaveStore busyRecord(QRect(0, 0, 639, 399));
    QVERIFY(busyRecord.initialise(4, 512));
    const RunResult result = run(busyUnit, busyLink, busyRecord);
    QVERIFY(!result.done);
    QVERIFY(busyUnit.statusPolls > 20);
    QVERIFY(result.endMs - busyUnit.stoppedAtMs <= 200);
    QCOMPARE(busyUnit.bytesAfterStop, 0);
    QCOMPARE(busyLink.failure, LinkFailure::Stopped);
}

// A channel whose checksum is wrong is read again from where the channels before it ended: the
// bar is at 20 + i * N whenever channel i is asked for, and full only with the last byte.
void tst_Protocol::checksumRetryKeepsTheBar()
{
    UnitFaults faults;
    faults.badChecksums = 1;
    FakeUnit unit(5, faults);
    SerialLink link(unit);
    WaveStore record(QRect(0, 0, 639, 399));
    QVERIFY(record.initialise(4, 512));
    QVERIFY(run(unit, link, record).done);
    QCOMPARE(unit.progressAtReads, (QList<int> { 20, 20, 532, 1044, 1556 }));
    QCOMPARE(unit.lastProgress, 2068);
    QVERIFY(holdsTheTruth(record, unit));
}

// The limits of the waits, each on its own exchange: acknowledges after 100 ms (parameters)
// and 500 ms (status) are too late, a status reply must carry its sum, and a transfer may
// pause up to a second. A failure says what went wrong.
void tst_Protocol::exchangeLimits()
{
    const LinkFailure none = LinkFailure::None;
    const struct
    {
        const char* exchange;
        int ackDelayMs; // -1: acknowledged with 0x01
        bool badStatusSum;
        int stallMs;
        LinkFailure failure;
    } cases[] = { { "parameters", 90, false, 0, none },
        { "parameters", 110, false, 0, LinkFailure::NoAcknowledge },
        { "status", 450, false, 0, none }, { "status", 550, false, 0, LinkFailure::NoAcknowledge },
        { "status", 0, true, 0, LinkFailure::BadChecksum }, { "channel", 0, false, 600, none },
        { "channel", 0, false, 1100, LinkFailure::Stalled },
        { "parameters", -1, false, 0, LinkFailure::WrongAcknowledge } };
    for (const auto& c : cases) {
        const QByteArray exchange = c.exchange;
        const bool done = c.failure == LinkFailure::None;
        UnitFaults faults;
        faults.ackDelayMs = std::max(c.ackDelayMs, 0);
        faults.wrongAck = c.ackDelayMs < 0 ? 1.0 : 0.0;
        faults.badStatusSum = c.badStatusSum;
        faults.stallAt = 1000;
        faults.stallMs = c.stallMs;
        FakeUnit unit(8, faults);
        SerialLink link(unit);
        KorunProtocol protocol(link);
        WaveChannel channel(2048);
        QVERIFY(channel.allocate());
        QProgressBar bar;
        bar.setRange(0, 100000);
        bar.setValue(500);
        quint8 status = 9;
        bool result = false;
        if (exchange == "parameters")
            result = protocol.sendParameters(acqParams);
        else if (exchange == "status")
            result = protocol.readStatus(status);
        else
            result = protocol.readChannel(0, 2048, &bar, channel);
        QCOMPARE(result, done);
        QCOMPARE(link.failure, c.failure);
        if (exchange == "channel")
            QCOMPARE(bar.value(), done ? 2548 : 500); // a failed transfer gives its progress back
    }
}

// A stall of 1.2 s makes the first try of a channel fail; before trying again the program lets
// the line go quiet, so that it works whether the unit drops the rest of its transfer on the
// next synchronisation or sends it to the end first.
void tst_Protocol::retryAfterAStall()
{
    // A unit that drops its output or finishes it, after one stall or two long ones: the next
    // try waits until the line is quiet longer than the unit may pause.
    for (const auto& [finishes, stalls, stallMs] :
        { std::tuple { false, 1, 1200 }, { true, 1, 1200 }, { true, 2, 2000 } }) {
        UnitFaults faults;
        faults.finishesTransfers = finishes;
        faults.stallAt = 30000;
        faults.stallMs = stallMs;
        faults.stallCount = stalls;
        FakeUnit unit(9, faults);
        SerialLink link(unit);
        acqParams.halfCount = 30000;
        WaveStore record(QRect(0, 0, 639, 399));
        QVERIFY(record.initialise(4, 60000));
        QVERIFY(run(unit, link, record).done);
        QVERIFY(holdsTheTruth(record, unit));
    }
}

void tst_Protocol::faultyLine_data()
{
    QTest::addColumn<double>("perByte");
    QTest::addColumn<int>("runs");
    QTest::newRow("1e-5 per byte") << 1e-5 << 700;
    QTest::newRow("1e-4 per byte") << 1e-4 << 700;
    QTest::newRow("1e-3 per byte") << 1e-3 << 700;
}

// Every kind of fault at the rate given, STOP at random moments in a third of the runs: every
// run ends in bounded time, STOP ends it within 200 ms with nothing sent afterwards, and a run
// that succeeds holds exactly the bytes that arrived, whose sum is the checksum byte that
// followed them: the checksum could not have told a corruption there.
void tst_Protocol::faultyLine()
{
    QFETCH(double, perByte);
    QFETCH(int, runs);
    std::mt19937 dice(quint32(perByte * 1e9));
    int succeeded = 0;
    for (int n = 0; n < runs; ++n) {
        UnitFaults faults;
        faults.corrupt = perByte;
        faults.drop = perByte;
        faults.insert = perByte;
        faults.delay = perByte;
        faults.readError = perByte;
        faults.wrongAck = perByte * 100;
        faults.wrongSync = perByte * 100;
        faults.busyMs = int(dice() % 400);
        FakeUnit unit(dice(), faults);
        SerialLink link(unit);
        const bool stop = n % 3 == 0;
        if (stop)
            unit.stopAt(&link, qint64(dice() % 3000));
        acqParams.halfCount = quint16(64 + dice() % 512);
        const int samples = 2 * acqParams.halfCount;
        WaveStore record(QRect(0, 0, 639, 399));
        QVERIFY(record.initialise(4, samples));
        const RunResult result = run(unit, link, record);
        QVERIFY2(result.endMs < 60000,
            qPrintable(QString("run %1 took %2 ms").arg(n).arg(result.endMs)));
        QVERIFY(!unit.isOpen());
        if (unit.stoppedAtMs >= 0) {
            QVERIFY(!result.done);
            QVERIFY2(result.endMs - unit.stoppedAtMs <= 200, qPrintable(QString("run %1").arg(n)));
            QCOMPARE(unit.bytesAfterStop, 0);
            QCOMPARE(link.failure, LinkFailure::Stopped);
        } else if (!result.done) {
            QVERIFY(link.failure != LinkFailure::None && link.failure != LinkFailure::Stopped);
        }
        if (!result.done)
            continue;
        ++succeeded;
        for (int i = 0; i < 4; ++i) {
            const std::vector<qint8> got = samplesOf(*record.channel(i));
            const QByteArray& line = unit.delivered[size_t(i)];
            QVERIFY(line.size() > samples);
            QVERIFY(std::equal(
                got.begin(), got.end(), reinterpret_cast<const qint8*>(line.constData())));
            QCOMPARE(sum(got), quint8(line[samples]));
        }
    }
    qInfo("%d of %d runs succeeded", succeeded, runs);
    QVERIFY(succeeded >= 1);
}

QTEST_MAIN(tst_Protocol)
#include "test_protocol.moc"
