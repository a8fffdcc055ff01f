#include "korun_unit.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace korun {

void UnitProtocol::noteBytes(const char* direction, const std::vector<uint8_t>& bytes)
{
    std::string text = direction;
    char hex[4];
    for (const uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        text += hex;
    }
    note(text);
}

void UnitProtocol::forgetFrame()
{
    window.clear();
    frame.clear();
    frameLength = 0;
    synced = false;
}

void UnitProtocol::receive(uint8_t byte)
{
    if (synced && frameLength == 0) {
        // The command byte decides the frame's length: command, payload, checksum.
        const size_t lengths[] = { 1 + 13 + 1, 1 + 0 + 1, 1 + 5 + 1 };
        if (byte >= commandParameters && byte <= commandReadChannel) {
            frameLength = lengths[byte - commandParameters];
            frame.assign(1, byte);
            return;
        }
        synced = false;
    } else if (synced) {
        frame.push_back(byte);
        if (frame.size() == frameLength) {
            synced = false;
            frameLength = 0;
            command();
        }
        return;
    }
    window.push_back(byte);
    if (window.size() > 4)
        window.erase(window.begin());
    if (std::equal(window.begin(), window.end(), std::begin(syncBytes), std::end(syncBytes))) {
        window.clear();
        synchronised();
        noteBytes("<-", { std::begin(syncBytes), std::end(syncBytes) });
        const uint8_t answer = answersSyncWrongly() ? wrongSyncAnswer : syncAnswer;
        send(answer, 0);
        noteBytes("->", { answer });
        synced = answer == syncAnswer;
    }
}

bool UnitProtocol::acknowledge()
{
    const Ack ack = acknowledgement();
    if (ack == Ack::Withheld) {
        note("-> (no acknowledge)");
        return false;
    }
    const uint8_t byte = ack == Ack::Given ? ackGiven : ackWrong;
    send(byte, ackDelayUs());
    noteBytes("->", { byte });
    return ack == Ack::Given;
}

void UnitProtocol::command()
{
    noteBytes("<-", frame);
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < frame.size(); ++i)
        sum = uint8_t(sum + frame[i]);
    if (sum != frame.back()) {
        send(ackWrong, ackDelayUs());
        note("-> 01 (checksum wrong)");
        return;
    }
    if (!acknowledge())
        return;
    const uint8_t* p = frame.data() + 1;
    switch (frame[0]) {
    case commandParameters:
        params.halfCount = uint16_t(p[2] | (p[3] << 8));
        params.freqCode = uint16_t(p[4] | (p[5] << 8));
        std::copy(p + 6, p + 10, params.gains);
        params.mux = p[10];
        params.sync = p[11];
        params.detector = p[12];
        parametersSet();
        break;
    case commandStatus: {
        const uint8_t status = busy() ? 1 : 0;
        const uint8_t sumSent = uint8_t(status + statusSumError());
        send(status, 0);
        send(sumSent, 0);
        noteBytes("->", { status, sumSent });
        break;
    }
    case commandReadChannel:
        sendChannel(p[4], 2 * int(uint16_t(p[2] | (p[3] << 8))));
        break;
    }
}

void UnitProtocol::sendChannel(int index, int count)
{
    const std::vector<int8_t> codes = channelSamples(index, count);
    const int n = transfers++;
    uint8_t sum = 0;
    for (int k = 0; k < count; ++k) {
        uint8_t byte = uint8_t(codes[size_t(k)]);
        sum = uint8_t(sum + byte);
        int64_t delayUs = 0;
        if (sampleFault(n, k, count, byte, delayUs))
            send(byte, delayUs);
    }
    const uint8_t sumSent = uint8_t(sum + checksumError(n));
    send(sumSent, 0);
    char text[96];
    std::snprintf(text, sizeof text, "-> [%d samples of channel %d] %02X", count, index, sumSent);
    note(text);
    transferSent();
}

} // namespace korun
