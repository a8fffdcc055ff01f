// A KORUN-77M scripted in-process behind the port interface, on a virtual clock: waiting
// advances time to the next byte due instead of sleeping, so thousands of runs take seconds.
// Faults are injected per byte of the unit's output with seeded randomness.
#pragma once

#include "korun_unit.h"
#include "rs232.h"

#include <QList>
#include <QPointer>
#include <QProgressBar>
#include <deque>
#include <random>
#include <vector>

class SerialLink;

struct UnitFaults
{
    double corrupt = 0; // per output byte: one bit pattern flipped
    double drop = 0; // per output byte: not sent
    double insert = 0; // per output byte: an extra byte before it
    double delay = 0; // per output byte: a pause before it (one of the delays below)
    std::vector<int> delaysMs { 60, 150, 600, 1100 };
    double readError = 0; // per read call: the port reports an error
    double wrongAck = 0; // per command: acknowledged with 0x01
    double wrongSync = 0; // per synchronisation: answered with 0x5A
    bool stuckBusy = false;
    int busyMs = 300;
    // Deterministic faults: the first stallCount transfers pause stallMs before sample stallAt; the
    // first badChecksums transfers end in a wrong sum; every acknowledge comes ackDelayMs late; the
    // status reply's sum is wrong.
    int stallAt = -1;
    int stallMs = 0;
    int stallCount = 1;
    int badChecksums = 0;
    int ackDelayMs = 0;
    bool badStatusSum = false;
    // A synchronisation is answered after the output under way, instead of dropping it.
    bool finishesTransfers = false;
};

class FakeUnit : public PortDevice, private korun::UnitProtocol
{
public:
    explicit FakeUnit(quint32 seed, UnitFaults faults = UnitFaults());

    int open(const QString& name, qint32 rate) override;
    void close() override;
    bool isOpen() const override { return opened; }
    bool clear() override;
    qint64 write(const char* data, qint64 size) override;
    qint64 bytesToWrite() const override { return 0; }
    qint64 bytesAvailable() const override;
    qint64 read(char* data, qint64 size) override;
    qint64 nowMs() const override { return nowUs / 1000; }
    void waitForActivity(qint64 ms) override;

    // STOP as the operator would press it, at a virtual moment.
    void stopAt(SerialLink* link, qint64 ms);

    // The samples the unit meant to send for each channel index (the last transfer of each),
    // and the bytes that went on the line after the faults, checksum included.
    std::vector<std::vector<qint8>> truth = std::vector<std::vector<qint8>>(8);
    std::vector<QByteArray> delivered = std::vector<QByteArray>(8);
    QByteArray written; // every byte the program sent
    qint64 stoppedAtMs = -1;
    qint64 bytesAfterStop = 0;
    int lastProgress = -1;
    int statusPolls = 0;
    QList<int> progressAtReads; // the bar's value as each channel was asked for

private:
    struct Pending
    {
        qint64 dueUs;
        char byte;
    };
    // The unit's side of the exchange; every byte it sends may meet the line's faults.
    void send(uint8_t byte, int64_t delayUs) override { reply(byte, true, delayUs); }
    void synchronised() override;
    bool answersSyncWrongly() override;
    korun::Ack acknowledgement() override;
    int64_t ackDelayUs() override { return 1000LL * faults.ackDelayMs; }
    void parametersSet() override { busyUntilUs = nowUs + qint64(faults.busyMs) * 1000; }
    bool busy() override;
    uint8_t statusSumError() override { return faults.badStatusSum ? 1 : 0; }
    std::vector<int8_t> channelSamples(int index, int count) override;
    bool sampleFault(int transfer, int k, int count, uint8_t& byte, int64_t& delayUs) override;
    uint8_t checksumError(int transfer) override { return transfer < faults.badChecksums; }
    void transferSent() override { transferring = -1; }

    void reply(quint8 byte, bool faulty, qint64 extraGapUs);
    void deliverDue();
    void dropOutput();
    qint64 nextDueUs() const;
    void checkStop();
    void noteProgress();

    std::mt19937 random;
    UnitFaults faults;
    bool opened = false;
    qint64 nowUs = 0;
    qint64 lineFreeUs = 0;
    std::deque<Pending> pending;
    QByteArray arrived;
    qint64 busyUntilUs = 0;
    int transferring = -1; // the channel whose samples are going out
    SerialLink* stopLink = nullptr;
    qint64 stopAtMs = -1;
    QPointer<QProgressBar> progressBar;
};
