// The KORUN-77M's side of the line, written once for the simulated unit on a pseudo-terminal
// and for the in-process unit of the tests: it spots the synchronisation 0xFF 0xFF 0x55 0xAA and
// answers 0xA5, takes a command frame (command byte, payload, byte-sum checksum), acknowledges
// it with 0x00 (0x01 for a wrong sum) and carries it out: 0x21 parameters, 0x22 status (the
// busy flag and its sum), 0x23 read channel (the samples and their sum). What the unit sends,
// how fast, and which faults it injects are left to the unit built on it. Plain C++.
#pragma once

#include "korun_protocol.h"

#include <cstdint>
#include <string>
#include <vector>

namespace korun {

// What the parameters frame set: the count of sample pairs, the frequency code (3 MHz / (code
// + 1)), the four gain codes, the input group, synchronisation and detector.
struct Parameters
{
    uint16_t halfCount = 0;
    uint16_t freqCode = 24;
    uint8_t gains[4] = {};
    uint8_t mux = 0;
    uint8_t sync = 0;
    uint8_t detector = 0;
};

enum class Ack { Given, Wrong, Withheld };

class UnitProtocol
{
public:
    virtual ~UnitProtocol() = default;

    // One byte from the program.
    void receive(uint8_t byte);
    // The program let go of the port: a frame half received is forgotten.
    void forgetFrame();

    Parameters params;
    int transfers = 0; // read commands carried out

protected:
    // One byte onto the line, delayUs after whatever is already going out.
    virtual void send(uint8_t byte, int64_t delayUs) = 0;
    // A line of the exchange for a log: "<- FF FF 55 AA", "-> A5", "-> (no acknowledge)".
    virtual void note(const std::string&) {}
    // A synchronisation arrived, before it is answered.
    virtual void synchronised() {}
    virtual bool answersSyncWrongly() { return false; }
    // How a frame with a right sum is acknowledged; a command not acknowledged is not done.
    virtual Ack acknowledgement() { return Ack::Given; }
    virtual int64_t ackDelayUs() { return 0; }
    virtual void parametersSet() {}
    virtual bool busy() = 0;
    virtual uint8_t statusSumError() { return 0; }
    // The samples of a channel about to be read.
    virtual std::vector<int8_t> channelSamples(int index, int count) = 0;
    // Sample k of a transfer (0-based count of transfers) as it goes out: false drops it, the
    // byte may be changed and a pause put before it.
    virtual bool sampleFault(int, int, int, uint8_t&, int64_t&) { return true; }
    virtual uint8_t checksumError(int) { return 0; }
    // After the last byte of a transfer, its sum included.
    virtual void transferSent() {}

private:
    void command();
    bool acknowledge();
    void sendChannel(int index, int count);
    void noteBytes(const char* direction, const std::vector<uint8_t>& bytes);

    std::vector<uint8_t> window; // the last bytes, for spotting a synchronisation
    std::vector<uint8_t> frame; // the command frame being received
    size_t frameLength = 0;
    bool synced = false;
};

} // namespace korun
