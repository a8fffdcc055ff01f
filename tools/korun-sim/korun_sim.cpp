// korun-sim: a simulated KORUN-77M acquisition unit on a pseudo-terminal.
//
// It publishes the terminal under a stable path (a symbolic link), answers the unit's protocol
// (korun_unit.h), produces signals of acoustic sensors on the four inputs of the chosen group,
// paces its output at the line rate (8N1: ten bits a byte) and can inject faults. Every frame
// it receives is logged. Sources may come at random times on the unit's clock, which runs in
// real time, and the link may vanish for a while as an unplugged adapter does.
#include "korun_unit.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options
{
    std::string link = "/tmp/korun77m";
    std::string log;
    std::string dump;
    std::string ready;
    long baud = 115200; // 0: no pacing
    long busyMs = 300;
    unsigned seed = 1;
    int badSync = 0;
    int noAck = 0;
    int badAck = 0;
    int corrupt = 0;
    int drop = 0;
    int badChecksum = 0;
    long stallMs = 0;
    int stallCount = 1;
    bool stuckBusy = false;
    bool finishTransfers = false; // a synchronisation waits for the output under way
    // An acoustic-emission source between the sensors of inputs 1 and 2 of the group.
    double sourceM = -1; // position from sensor 1, metres; negative: no source
    double spacingM = 1;
    double speedMps = 3000;
    std::string eventLog;
    // A source in the plane of up to four sensors on the group's inputs 1..4.
    std::string sensorsText; // "x1,y1;x2,y2;..."
    std::string sourceXyText; // "x,y"
    std::vector<std::pair<double, double>> sensors; // x, y in metres
    double sourceX = 0;
    double sourceY = 0;
    double echoUs = 0; // a reflection this long after each direct wave; 0: none
    double echoGain = 0.5;
    double dcCodes = 0; // added to input 1's codes
    double rate = 0; // sources a second at random times; 0: four bursts in every record
    int vanishAfter = 0; // captures sent before the link vanishes; 0: it stays
    double returnAfterS = -1; // how long it stays away; negative: for good
};

volatile std::sig_atomic_t quit = 0;

void onSignal(int)
{
    quit = 1;
}

void usage()
{
    std::fprintf(stderr,
        "usage: korun-sim [--link PATH] [--baud N] [--busy-ms N] [--log FILE] [--dump DIR]\n"
        "                 [--ready FILE] [--seed N] [--stuck-busy] [--bad-sync N] [--no-ack N]\n"
        "                 [--bad-ack N] [--corrupt N] [--drop N] [--bad-checksum N]\n"
        "                 [--stall-ms MS [--stall-count N]] [--finish-transfers]\n"
        "                 [--source-m X --spacing-m D --speed-mps C [--event-log FILE]]\n"
        "                 [--sensors \"x1,y1;...;x4,y4\" --source-xy X,Y [--speed-mps C]]\n"
        "                 [--echo-us T [--echo-gain G]] [--dc-codes N] [--rate R]\n"
        "                 [--vanish-after N [--return-after S]]\n"
        "Fault options act on the first N occurrences. --baud 0 sends without pacing.\n"
        "A command without its acknowledge (--no-ack) or with a wrong one (--bad-ack) is not\n"
        "carried out. --finish-transfers: output under way is sent to its end before a\n"
        "synchronisation is answered (by default a synchronisation drops it).\n"
        "--source-m: four bursts a record from X metres along the line of sensors 1 and 2,\n"
        "D metres apart, reach each sensor delayed by its distance / C and attenuated, over\n"
        "noise; the event log gets each burst's emission time, position and arrival samples.\n"
        "--sensors: 2 to 4 sensors of inputs 1..4 in metres; --source-xy puts the source in\n"
        "their plane (speed C, default 3000 m/s); inputs without a sensor carry noise only.\n"
        "The event log then starts with \"# emitted_s,x_m,y_m,arrival1,...\", a line a burst.\n"
        "--echo-us: each burst is echoed T microseconds after its direct wave, G times as\n"
        "strong (default 0.5). --dc-codes: N codes of offset on input 1.\n"
        "--rate: sources at random times, R a second on average (a Poisson process of\n"
        "--seed), each 0.1 to 1 V strong; a record holds those emitted within its span (the\n"
        "sample count / the sampling rate from its start). Each is a burst from the place\n"
        "--source-m or --source-xy gives, or with neither a burst at once on inputs 1..4 over\n"
        "noise. With external synchronisation the unit stays busy until the next source,\n"
        "which lies an eighth into the record. The event log is appended a line a source, with\n"
        ",amplitude_v,capture,utc_s after the usual columns (\"emission_s,arrival_sample\" with\n"
        "neither place). --vanish-after: once N captures have been sent in full, the terminal\n"
        "and the link disappear; S seconds later a terminal of another name appears under the\n"
        "link. It happens once.\n");
}

// A whole finite number, nothing after it.
bool number(const std::string& text, double& value)
{
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && std::isfinite(value);
}

double numberOrNan(const char* text)
{
    double value = 0;
    return number(text, value) ? value : NAN;
}

bool point(const std::string& text, double& x, double& y)
{
    const size_t comma = text.find(',');
    return comma != std::string::npos && number(text.substr(0, comma), x)
        && number(text.substr(comma + 1), y);
}

// "x1,y1;x2,y2[;x3,y3[;x4,y4]]": two to four sensors.
bool parseSensors(const std::string& text, std::vector<std::pair<double, double>>& sensors)
{
    sensors.clear();
    size_t start = 0;
    while (sensors.size() < 5) {
        const size_t end = std::min(text.find(';', start), text.size());
        double x = 0;
        double y = 0;
        if (!point(text.substr(start, end - start), x, y))
            return false;
        sensors.emplace_back(x, y);
        if (end == text.size())
            break;
        start = end + 1;
    }
    return sensors.size() >= 2 && sensors.size() <= 4;
}

// Reads the planar source and checks the values of the options that take numbers; the first
// fault is told on one line.
bool checkValues(Options& o)
{
    const char* fault = nullptr;
    const bool planar = !o.sourceXyText.empty();
    if (!o.sensorsText.empty() && !parseSensors(o.sensorsText, o.sensors))
        fault = "--sensors wants 2 to 4 points \"x,y;x,y\" in metres";
    else if (planar && !point(o.sourceXyText, o.sourceX, o.sourceY))
        fault = "--source-xy wants X,Y in metres";
    else if (planar && o.sensors.empty())
        fault = "--source-xy needs --sensors";
    else if (!planar && !o.sensors.empty())
        fault = "--sensors needs --source-xy";
    else if (planar && o.sourceM >= 0)
        fault = "--source-xy and --source-m exclude each other";
    else if (planar && !(o.speedMps > 0))
        fault = "--speed-mps must be a positive number";
    else if (!(o.echoUs >= 0))
        fault = "--echo-us wants microseconds, 0 or more";
    else if (!std::isfinite(o.echoGain))
        fault = "--echo-gain wants a number";
    else if (!std::isfinite(o.dcCodes))
        fault = "--dc-codes wants a number";
    else if (!(o.rate >= 0))
        fault = "--rate wants sources a second, 0 or more";
    else if (o.vanishAfter < 0)
        fault = "--vanish-after wants a count of captures";
    else if (std::isnan(o.returnAfterS))
        fault = "--return-after wants seconds";
    else if (o.returnAfterS >= 0 && o.vanishAfter == 0)
        fault = "--return-after needs --vanish-after";
    if (fault)
        std::fprintf(stderr, "korun-sim: %s\n", fault);
    return !fault;
}

bool parse(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--stuck-busy" || a == "--finish-transfers") {
            (a == "--stuck-busy" ? o.stuckBusy : o.finishTransfers) = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        const char* v = argv[++i];
        if (a == "--link")
            o.link = v;
        else if (a == "--log")
            o.log = v;
        else if (a == "--dump")
            o.dump = v;
        else if (a == "--ready")
            o.ready = v;
        else if (a == "--baud")
            o.baud = std::atol(v);
        else if (a == "--busy-ms")
            o.busyMs = std::atol(v);
        else if (a == "--seed")
            o.seed = unsigned(std::atol(v));
        else if (a == "--bad-sync")
            o.badSync = std::atoi(v);
        else if (a == "--no-ack")
            o.noAck = std::atoi(v);
        else if (a == "--bad-ack")
            o.badAck = std::atoi(v);
        else if (a == "--corrupt")
            o.corrupt = std::atoi(v);
        else if (a == "--drop")
            o.drop = std::atoi(v);
        else if (a == "--bad-checksum")
            o.badChecksum = std::atoi(v);
        else if (a == "--stall-ms")
            o.stallMs = std::atol(v);
        else if (a == "--stall-count")
            o.stallCount = std::atoi(v);
        else if (a == "--source-m")
            o.sourceM = std::atof(v);
        else if (a == "--spacing-m")
            o.spacingM = std::atof(v);
        else if (a == "--speed-mps")
            o.speedMps = std::atof(v);
        else if (a == "--event-log")
            o.eventLog = v;
        else if (a == "--sensors")
            o.sensorsText = v;
        else if (a == "--source-xy")
            o.sourceXyText = v;
        else if (a == "--echo-us")
            o.echoUs = numberOrNan(v);
        else if (a == "--echo-gain")
            o.echoGain = numberOrNan(v);
        else if (a == "--dc-codes")
            o.dcCodes = numberOrNan(v);
        else if (a == "--rate")
            o.rate = numberOrNan(v);
        else if (a == "--vanish-after")
            o.vanishAfter = std::atoi(v);
        else if (a == "--return-after")
            o.returnAfterS = numberOrNan(v);
        else
            return false;
    }
    return true;
}

// Bytes waiting to go out, each with the moment it is due on the line.
struct Output
{
    std::deque<std::pair<Clock::time_point, uint8_t>> queue;
    Clock::time_point lineFree = Clock::now();
    long baud = 0;

    void send(uint8_t byte, std::chrono::microseconds extraDelay = {})
    {
        const auto now = Clock::now();
        lineFree = std::max(lineFree, now) + extraDelay;
        if (baud > 0)
            lineFree += std::chrono::nanoseconds(10'000'000'000LL / baud);
        queue.emplace_back(lineFree, byte);
    }
    void clear()
    {
        queue.clear();
        lineFree = Clock::now();
    }
};

// The pseudo-terminal the unit serves, published under a stable path.
struct Terminal
{
    int master = -1;
    int slave = -1;
    std::string name;

    bool open(const std::string& link)
    {
        char path[256] = {};
        struct termios raw
        {
        };
        cfmakeraw(&raw);
        if (::openpty(&master, &slave, path, &raw, nullptr) != 0) {
            std::perror("korun-sim: openpty");
            return false;
        }
        name = path;
        // The unit keeps its own end of the terminal open, so that the program may close and
        // reopen the port between exchanges.
        ::unlink(link.c_str());
        if (::symlink(path, link.c_str()) != 0) {
            std::perror("korun-sim: symlink");
            return false;
        }
        return true;
    }
    // As an adapter plugged in again, which the system numbers anew: the new terminal never
    // takes the name of the one before, which a spare terminal holds meanwhile.
    bool reopen(const std::string& link)
    {
        const std::string old = name;
        if (!open(link))
            return false;
        if (name != old)
            return true;
        const Terminal spare = *this;
        const bool opened = open(link);
        ::close(spare.slave);
        ::close(spare.master);
        return opened;
    }
    // As an unplugged adapter: the link goes, and whoever holds the terminal gets a hang-up.
    void close(const std::string& link)
    {
        if (master < 0)
            return;
        ::unlink(link.c_str());
        ::close(slave);
        ::close(master);
        master = slave = -1;
    }
    // Bytes the unit sent that the program has not read yet.
    int unread() const
    {
        int bytes = 0;
        return ::ioctl(slave, FIONREAD, &bytes) == 0 ? bytes : 0;
    }
};

void writeReady(const std::string& path, const std::string& name)
{
    if (path.empty())
        return;
    if (FILE* f = std::fopen(path.c_str(), "w")) {
        std::fprintf(f, "%s\n", name.c_str());
        std::fclose(f);
    }
}

// A source at a random time: when it was emitted, in seconds on the unit's clock, and how
// strong it is at the source, in volts.
struct Source
{
    double at = 0;
    double volts = 0;
};

// Sources as a Poisson process: exponential gaps of mean 1 / rate, amplitudes log-uniform over
// 20 dB up to 1 V. They are drawn as far as they are asked for, and forgotten once no record
// can reach back to them.
class SourceTimes
{
public:
    SourceTimes(double rate, unsigned seed)
        : random(seed)
        , gap(rate > 0 ? rate : 1)
    {
    }

    // The first source emitted at or after t.
    Source next(double t)
    {
        drawUntil(t);
        return *std::find_if(made.begin(), made.end(), [t](const Source& s) { return s.at >= t; });
    }
    // The sources emitted in [from, to).
    std::vector<Source> between(double from, double to)
    {
        drawUntil(to);
        std::vector<Source> found;
        for (const Source& s : made)
            if (s.at >= from && s.at < to)
                found.push_back(s);
        return found;
    }
    void forgetBefore(double t)
    {
        while (!made.empty() && made.front().at < t)
            made.pop_front();
    }

private:
    // Until a source at or after t has been drawn.
    void drawUntil(double t)
    {
        while (made.empty() || made.back().at < t) {
            last += gap(random);
            made.push_back({ last, std::pow(10.0, decibels(random) / 20.0) });
        }
    }

    std::mt19937 random;
    std::exponential_distribution<double> gap;
    std::uniform_real_distribution<double> decibels { -20.0, 0.0 };
    std::deque<Source> made;
    double last = 0;
};

// A burst in the record being read: emitted this long after its first sample, in seconds,
// and this strong at the source, in volts.
struct Burst
{
    double emitted = 0;
    double volts = 0;
};

// What a parameters frame started when sources come at random times: the record's span on the
// unit's clock and the sources emitted within it.
struct Capture
{
    int number = 0; // counts from 1
    double start = 0; // seconds on the unit's clock
    std::vector<Source> sources;
    bool logged = false;
};

class Unit : public korun::UnitProtocol
{
public:
    Unit(const Options& options, Terminal& terminal)
        : o(options)
        , terminal(terminal)
        , sources(options.rate, options.seed)
        , startedUtc(
              std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                  .count())
    {
        out.baud = o.baud;
        if (!o.log.empty())
            logFile = std::fopen(o.log.c_str(), "a");
        if (o.rate > 0 && !o.eventLog.empty()) {
            eventFile = std::fopen(o.eventLog.c_str(), "w");
            if (eventFile)
                writeEventHeader(eventFile);
        }
    }
    ~Unit() override
    {
        if (logFile)
            std::fclose(logFile);
        if (eventFile)
            std::fclose(eventFile);
    }

    void run();

private:
    void send(uint8_t byte, int64_t delayUs) override
    {
        out.send(byte, std::chrono::microseconds(delayUs));
    }
    void note(const std::string& text) override;
    void synchronised() override
    {
        if (!o.finishTransfers)
            out.clear(); // a new exchange: whatever was still going out is dropped
    }
    bool answersSyncWrongly() override { return syncs++ < o.badSync; }
    // The first --no-ack commands go without an acknowledge, the next --bad-ack get a wrong one.
    korun::Ack acknowledgement() override
    {
        const int n = commands++;
        return n < o.noAck ? korun::Ack::Withheld
            : n < o.noAck + o.badAck ? korun::Ack::Wrong
                                     : korun::Ack::Given;
    }
    void parametersSet() override
    {
        readyAt = Clock::now() + std::chrono::milliseconds(o.busyMs);
        ++acquisitions;
        channelsSent = 0;
        if (o.rate > 0)
            startCapture();
    }
    bool busy() override { return o.stuckBusy || Clock::now() < readyAt; }
    std::vector<int8_t> channelSamples(int index, int count) override;
    // The first transfers lose, spoil or hold back the sample in their middle.
    bool sampleFault(int transfer, int k, int count, uint8_t& byte, int64_t& delayUs) override;
    uint8_t checksumError(int transfer) override { return transfer < o.badChecksum ? 1 : 0; }
    void transferSent() override;

    double samplingRate() const { return 3000000.0 / (params.freqCode + 1); }
    double secondsNow() const
    {
        return std::chrono::duration<double>(Clock::now() - started).count();
    }
    void startCapture();
    std::vector<int8_t> samples(int index, int count);
    // How far input index's sensor is from the source, in metres; negative: no sensor.
    double sensorDistance(int index) const;
    // The sensors whose arrivals the event log gives.
    int loggedSensors() const;
    std::vector<Burst> bursts(double rate, int count) const;
    // The bursts as a sensor that far away receives them, in volts.
    std::vector<double> sourceWave(double distance, double rate, int count) const;
    void logEvents(double rate, int count);
    void writeEventHeader(FILE* log) const;
    void writeEvents(FILE* log, double rate, int count) const;
    // Whether the link is to vanish now: enough captures have gone out, and been read.
    bool vanishDue();
    void vanish();
    // While the link is away: false when it cannot come back.
    bool awayOrBack();
    void tell(const std::string& text);

    Options o;
    Terminal& terminal;
    Output out;
    SourceTimes sources;
    Capture capture;
    const Clock::time_point started = Clock::now();
    const double startedUtc; // the unit's clock at 0, in seconds since 1970 (UTC)
    FILE* logFile = nullptr;
    FILE* eventFile = nullptr; // with sources at random times, written as captures are read
    Clock::time_point readyAt = Clock::now();
    int syncs = 0;
    int commands = 0;
    int acquisitions = 0;
    int sending = -1; // the channel of the transfer going out
    unsigned channelsSent = 0; // bit i: channel i of the capture went out in full
    int capturesSent = 0;
    enum class Link { Present, Away, Back } link = Link::Present; // it vanishes once
    Clock::time_point lastSentAt; // the last byte of the capture after which the link vanishes
    Clock::time_point heardAt; // the last byte from the program
    bool taken = false; // the program has that capture
    Clock::time_point takenAt;
    Clock::time_point returnAt;
};

void Unit::note(const std::string& text)
{
    if (!logFile)
        return;
    std::fprintf(logFile, "%s\n", text.c_str());
    std::fflush(logFile);
}

void Unit::tell(const std::string& text)
{
    std::fprintf(stderr, "korun-sim: %s\n", text.c_str());
    note("== " + text);
}

// A record of the parameters' length starts now; with external synchronisation it starts an
// eighth of a record before the next source, as a unit's pre-trigger keeps it. The unit is busy
// until the record ends (at least for --busy-ms). A record reaches back at most an eighth of
// the longest one (131070 samples at 45.8 Hz), so older sources are let go.
void Unit::startCapture()
{
    const double now = secondsNow();
    const double seconds = 2.0 * params.halfCount / samplingRate();
    sources.forgetBefore(now - 360);
    const double start = params.sync ? sources.next(now).at - seconds / 8 : now;
    capture = Capture { acquisitions, start, sources.between(start, start + seconds), false };
    readyAt = std::max(readyAt,
        started
            + std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(start + seconds)));
}

// Signals of the group's inputs: decaying bursts of 10 kHz, a 50 Hz hum, noise, and a sine of
// 1 kHz, each scaled by its input's gain; with the detector on, the rectified signal.
std::vector<int8_t> Unit::samples(int index, int count)
{
    const double rate = samplingRate();
    const int input = 4 * params.mux + index + 1;
    const double gain = std::ldexp(1.0, std::min<int>(index < 4 ? params.gains[index] : 0, 12));
    const double distance = sensorDistance(index);
    const std::vector<double> wave
        = distance >= 0 ? sourceWave(distance, rate, count) : std::vector<double>();
    std::mt19937 noise(o.seed * 7919u + unsigned(acquisitions) * 31u + unsigned(index));
    std::normal_distribution<double> gauss(0.0, 1.0);
    std::vector<int8_t> codes(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n) {
        const double t = n / rate;
        double volts = 0;
        switch (input % 4) {
        case 1: { // bursts of 10 kHz, four a record, decaying
            const double since = std::fmod(t, std::max(count / rate / 4, 1e-6));
            volts = std::exp(-since * 150.0) * std::sin(2 * M_PI * 10000.0 * t);
            break;
        }
        case 2:
            volts = 0.6 * std::sin(2 * M_PI * 50.0 * t) + 0.2 * std::sin(2 * M_PI * 150.0 * t);
            break;
        case 3:
            volts = 0.25 * gauss(noise);
            break;
        default:
            volts = 0.8 * std::sin(2 * M_PI * 1000.0 * t);
            break;
        }
        if (distance >= 0)
            volts = wave[size_t(n)] + 0.01 * gauss(noise);
        else if (!o.sensors.empty())
            volts = 0.01 * gauss(noise); // an input without a sensor in the plane
        double code = 30.0 * gain * volts + 0.5 * gauss(noise);
        if (params.detector)
            code = -128.0 + 2.0 * std::fabs(code);
        if (index == 0)
            code += o.dcCodes; // the converter's offset, after the detector
        codes[size_t(n)] = int8_t(std::clamp<long>(std::lround(code), -128, 127));
    }
    return codes;
}

// Sources at random times with no place given reach inputs 1..4 at once, as from a sensor's
// own spot.
double Unit::sensorDistance(int index) const
{
    if (o.sourceM >= 0 && index < 2)
        return std::fabs(index == 0 ? o.sourceM : o.spacingM - o.sourceM);
    if (o.rate > 0 && o.sourceM < 0 && o.sensors.empty())
        return index < 4 ? 0 : -1;
    if (o.sensors.empty() || index >= int(o.sensors.size()))
        return -1;
    const auto& [x, y] = o.sensors[size_t(index)];
    return std::hypot(o.sourceX - x, o.sourceY - y);
}

int Unit::loggedSensors() const
{
    return !o.sensors.empty() ? int(o.sensors.size()) : o.sourceM >= 0 ? 2 : 1;
}

// The capture's sources, or four bursts of 0.5 V a record emitted at 1/8, 3/8, 5/8 and 7/8 of
// it.
std::vector<Burst> Unit::bursts(double rate, int count) const
{
    std::vector<Burst> found;
    if (o.rate > 0) {
        for (const Source& s : capture.sources)
            found.push_back({ s.at - capture.start, s.volts });
        return found;
    }
    for (int b = 0; b < 4; ++b)
        found.push_back({ (2 * b + 1) * count / 8.0 / rate, 0.5 });
    return found;
}

// Each burst is a decaying sine of an eighth of the sampling frequency, starting at the sample
// the wave reaches the sensor and losing 30 % a metre; with --echo-us it has an echo echoUs
// later. A burst has died away (below e^-50) 2000 samples after it arrived.
std::vector<double> Unit::sourceWave(double distance, double rate, int count) const
{
    const long burstSamples = 2000;
    const double delay = distance / o.speedMps;
    const double loss = std::pow(0.7, distance);
    std::vector<double> volts(size_t(count), 0.0);
    for (const Burst& burst : bursts(rate, count)) {
        const double direct = burst.volts * loss;
        for (int wave = 0; wave < (o.echoUs > 0 ? 2 : 1); ++wave) {
            const long arrival
                = std::lround((burst.emitted + delay + wave * o.echoUs * 1e-6) * rate);
            const double amplitude = wave == 0 ? direct : o.echoGain * direct;
            const long end = std::min<long>(count, arrival + burstSamples);
            for (long n = std::max(arrival, 0L); n < end; ++n) {
                const double since = (n - arrival) / rate;
                volts[size_t(n)] += amplitude * std::exp(-since * rate / 40.0)
                    * std::sin(2 * M_PI * (n - arrival) / 8.0);
            }
        }
    }
    return volts;
}

// Without sources at random times the log holds the record just read; with them it gains the
// sources of each capture once, as its first channel is read.
void Unit::logEvents(double rate, int count)
{
    if (o.rate > 0) {
        if (eventFile && !capture.logged) {
            writeEvents(eventFile, rate, count);
            std::fflush(eventFile);
        }
        capture.logged = true;
        return;
    }
    if (o.sourceM < 0 && o.sensors.empty())
        return;
    FILE* log = std::fopen(o.eventLog.c_str(), "w");
    if (!log)
        return;
    writeEventHeader(log);
    writeEvents(log, rate, count);
    std::fclose(log);
}

void Unit::writeEventHeader(FILE* log) const
{
    if (!o.sensors.empty()) {
        std::fprintf(log, "# emitted_s,x_m,y_m");
        for (size_t i = 1; i <= o.sensors.size(); ++i)
            std::fprintf(log, ",arrival%zu", i);
    } else if (o.sourceM >= 0) {
        std::fprintf(log, "emission_s,position_m,arrival_sample_1,arrival_sample_2");
    } else {
        std::fprintf(log, "emission_s,arrival_sample");
    }
    std::fprintf(log, o.rate > 0 ? ",amplitude_v,capture,utc_s\n" : "\n");
}

// A line a burst: its emission time, the source's place and the sample each sensor receives
// it at; with sources at random times also its strength, the capture and the moment it was
// emitted.
void Unit::writeEvents(FILE* log, double rate, int count) const
{
    for (const Burst& burst : bursts(rate, count)) {
        std::fprintf(log, "%.9g", burst.emitted);
        if (!o.sensors.empty())
            std::fprintf(log, ",%.9g,%.9g", o.sourceX, o.sourceY);
        else if (o.sourceM >= 0)
            std::fprintf(log, ",%.9g", o.sourceM);
        for (int i = 0; i < loggedSensors(); ++i) {
            const double arrival = burst.emitted + sensorDistance(i) / o.speedMps;
            std::fprintf(log, ",%ld", std::lround(arrival * rate));
        }
        if (o.rate > 0)
            std::fprintf(log, ",%.9g,%d,%.6f", burst.volts, capture.number,
                startedUtc + capture.start + burst.emitted);
        std::fprintf(log, "\n");
    }
}

std::vector<int8_t> Unit::channelSamples(int index, int count)
{
    if (!o.eventLog.empty() && index == 0)
        logEvents(samplingRate(), count);
    sending = index;
    std::vector<int8_t> codes = samples(index, count);
    if (!o.dump.empty()) {
        const std::string path = o.dump + "/channel" + std::to_string(index) + ".bin";
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(codes.data(), 1, codes.size(), f);
            std::fclose(f);
        }
    }
    return codes;
}

bool Unit::sampleFault(int transfer, int k, int count, uint8_t& byte, int64_t& delayUs)
{
    if (k != count / 2)
        return true;
    if (transfer < o.drop)
        return false;
    if (transfer < o.corrupt)
        byte ^= 0x10;
    if (transfer < o.stallCount && o.stallMs > 0)
        delayUs = 1000LL * o.stallMs;
    return true;
}

// A capture counts as sent once each of the four channels has gone out in full; the one after
// which the link vanishes has gone when its last byte is due on the line.
void Unit::transferSent()
{
    if (sending < 0 || sending > 3 || channelsSent == 0xF)
        return;
    channelsSent |= 1u << sending;
    if (channelsSent == 0xF && ++capturesSent == o.vanishAfter)
        lastSentAt = out.lineFree;
}

// The link goes once the program has taken that capture (none of its bytes waits unread) and
// had 50 ms to check the sum and let go of the port, or at once when the program has spoken
// since, and so moved on.
bool Unit::vanishDue()
{
    if (o.vanishAfter == 0 || link != Link::Present || capturesSent < o.vanishAfter)
        return false;
    const auto now = Clock::now();
    if (!taken && now >= lastSentAt && (terminal.unread() == 0 || heardAt > lastSentAt)) {
        taken = true;
        takenAt = now;
    }
    return taken && (heardAt > lastSentAt || now - takenAt >= std::chrono::milliseconds(50));
}

void Unit::vanish()
{
    terminal.close(o.link);
    forgetFrame();
    out.clear();
    link = Link::Away;
    returnAt = Clock::now()
        + std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::max(o.returnAfterS, 0.0)));
    tell(o.link + " gone after " + std::to_string(capturesSent) + " captures");
}

bool Unit::awayOrBack()
{
    const auto now = Clock::now();
    if (o.returnAfterS < 0 || now < returnAt) {
        const auto wait = o.returnAfterS < 0
            ? std::chrono::microseconds(200000)
            : std::chrono::duration_cast<std::chrono::microseconds>(returnAt - now);
        ::usleep(useconds_t(std::clamp<long long>(wait.count(), 1000, 200000)));
        return true;
    }
    if (!terminal.reopen(o.link))
        return false;
    link = Link::Back;
    tell("KORUN-77M back on " + o.link + " (" + terminal.name + ")");
    writeReady(o.ready, terminal.name);
    return true;
}

void Unit::run()
{
    std::vector<uint8_t> chunk;
    while (!quit) {
        if (link == Link::Away) {
            if (!awayOrBack())
                return;
            continue;
        }
        auto now = Clock::now();
        chunk.clear();
        while (!out.queue.empty() && out.queue.front().first <= now) {
            chunk.push_back(out.queue.front().second);
            out.queue.pop_front();
        }
        for (size_t done = 0; done < chunk.size();) {
            const ssize_t n = ::write(terminal.master, chunk.data() + done, chunk.size() - done);
            if (n > 0)
                done += size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
            else
                ::usleep(1000);
        }
        int timeout = 200;
        if (!out.queue.empty()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                out.queue.front().first - Clock::now());
            timeout = int(std::clamp<long long>(wait.count(), 0, 200));
        }
        if (o.vanishAfter > 0 && capturesSent >= o.vanishAfter && link == Link::Present)
            timeout = std::min(timeout, 10); // to see the capture taken
        struct pollfd p
        {
            terminal.master, POLLIN, 0
        };
        if (::poll(&p, 1, timeout) > 0 && (p.revents & POLLIN)) {
            uint8_t buffer[512];
            const ssize_t n = ::read(terminal.master, buffer, sizeof buffer);
            if (n > 0)
                heardAt = Clock::now();
            for (ssize_t i = 0; i < n; ++i)
                receive(buffer[i]);
        }
        if (vanishDue())
            vanish();
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        usage();
        return 2;
    }
    if (!checkValues(options))
        return 2;
    Terminal terminal;
    if (!terminal.open(options.link))
        return 1;
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    std::fprintf(
        stderr, "korun-sim: KORUN-77M on %s (%s)\n", options.link.c_str(), terminal.name.c_str());
    writeReady(options.ready, terminal.name);
    Unit unit(options, terminal);
    unit.run();
    terminal.close(options.link);
    return 0;
}
