#include "record_export.h"

#include "convert.h"
#include "file_io.h"
#include "ufft.h"
#include "wave_stor.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <numeric>
#include <sndfile.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool save(const QString& name, const std::function<bool(int fd)>& write, QString& cause)
{
    errno = 0;
    const int result = saveThroughTemporary(name, write);
    if (result != 0)
        cause = saveCause(result, errno);
    return result == 0;
}

// The samples of the span, or false with a cause when it leaves the record.
bool resolve(const WaveStore& record, SampleSpan& span, QString& cause)
{
    const int n = record.sampleCount();
    if (span.count < 0)
        span.count = n - span.start;
    if (span.start < 0 || span.count < 0 || span.start > n || span.count > n - span.start) {
        cause = QStringLiteral("samples %1 ... %2 are outside the record's 0 ... %3")
                    .arg(span.start)
                    .arg(qint64(span.start) + span.count - 1)
                    .arg(n - 1);
        return false;
    }
    if (record.channelCount() == 0) {
        cause = QStringLiteral("the record has no channels");
        return false;
    }
    return true;
}

void appendNumber(std::string& out, long long value)
{
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

const char* unitSuffix(AmplitudeUnit unit)
{
    switch (unit) {
    case AmplitudeUnit::Volts:
        return "_V";
    case AmplitudeUnit::Coulombs:
        return "_Q";
    default:
        return "_code";
    }
}

// The value written for a sample code of channel i: the readout's amplitude, or the code.
double valueOf(const WaveStore& record, int i, int code, AmplitudeUnit unit)
{
    if (unit == AmplitudeUnit::Code)
        return code;
    return sampleAmplitude(code, record.channelSlots[i].header.gainCode,
        record.channel(i)->detectorOffset, unit == AmplitudeUnit::Volts);
}

bool writeBytes(int fd, const char* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    // The disk starts on what is written while the next piece is made, so that the final
    // flush has less to wait for (a hint: where it is not supported nothing changes).
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    return true;
}

// The codes of every channel over the span, channel by channel, copied block by block.
std::vector<std::vector<qint8>> codesOf(const WaveStore& record, SampleSpan span)
{
    std::vector<std::vector<qint8>> codes(size_t(record.channelCount()));
    for (int i = 0; i < record.channelCount(); ++i) {
        const WaveChannel* c = record.channel(i);
        std::vector<qint8>& out = codes[size_t(i)];
        out.resize(size_t(span.count));
        for (int k = 0; c && k < span.count;) {
            qint8* piece = nullptr;
            const int size = std::min(c->blockAt(span.start + k, &piece), span.count - k);
            if (size <= 0)
                break;
            std::memcpy(out.data() + k, piece, size_t(size));
            k += size;
        }
    }
    return codes;
}

// An open sound file, closed when it goes unless closed already.
struct SoundFile
{
    SNDFILE* file = nullptr;
    ~SoundFile()
    {
        if (file)
            sf_close(file);
    }
};

} // namespace

void appendCsvNumber(std::string& out, double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

SpanStats spanStats(WaveStore& record, int i, int first, int count, bool volts)
{
    SpanStats stats;
    WaveChannel* channel = record.channel(i);
    if (!channel || !channel->hasData || first < 0 || count <= 0
        || count > channel->sampleCount - first)
        return stats;
    std::vector<float> shown(size_t(count), 0.0f);
    channel->displayedValues(first, count, shown.data());
    const int gain = record.channelSlots[i].header.gainCode;
    double sum = 0;
    double squares = 0;
    stats.minimum = HUGE_VAL;
    stats.maximum = -HUGE_VAL;
    for (const float value : shown) {
        const double a = sampleAmplitude(int(value), gain, channel->detectorOffset, volts);
        stats.minimum = std::min(stats.minimum, a);
        stats.maximum = std::max(stats.maximum, a);
        sum += a;
        squares += a * a;
    }
    stats.count = count;
    stats.mean = sum / count;
    stats.rms = std::sqrt(squares / count);
    return stats;
}

double sampleRateHz(const WaveStore& record)
{
    const double clock = record.header.clockKHz;
    const double ticks = record.header.ticksPerSample;
    return (clock == 0 || ticks == 0) ? 0.0 : clock * 1000.0 / ticks;
}

bool exportCsv(const WaveStore& record, const QString& name, AmplitudeUnit unit, SampleSpan span,
    QString& cause)
{
    if (!resolve(record, span, cause))
        return false;
    const double rate = sampleRateHz(record);
    const int channels = record.channelCount();
    std::string text = rate > 0 ? "time_s" : "sample";
    for (int i = 0; i < channels; ++i)
        text += ",ch" + std::to_string(i + 1) + unitSuffix(unit);
    text += '\n';
    // A channel's 256 codes have 256 texts, ",value", made once: a line copies them whole
    // (a fixed 32 bytes, of which size count) into a buffer of its own.
    struct CodeText
    {
        char text[31];
        quint8 size;
    };
    std::vector<CodeText> texts(size_t(channels) * 256);
    for (int i = 0; i < channels; ++i)
        for (int code = -128; code < 128; ++code) {
            std::string entry = ",";
            if (unit == AmplitudeUnit::Code)
                appendNumber(entry, (long long)code);
            else
                appendCsvNumber(entry, valueOf(record, i, code, unit));
            CodeText& slot = texts[size_t(i) * 256 + size_t(code + 128)];
            std::memcpy(slot.text, entry.data(), entry.size());
            slot.size = quint8(entry.size());
        }
    const std::vector<std::vector<qint8>> codes = codesOf(record, span);
    // The lines go out in pieces of about a mebibyte through one reused buffer: no 10 MB of
    // fresh memory to fault in, and the disk gets the first piece while the next is made.
    constexpr size_t piece = 1 << 20;
    const size_t line = 32 + size_t(channels) * sizeof(CodeText) + 1; // the longest a line needs
    return save(
        name,
        [&](int fd) {
            std::vector<char> buffer(piece + line + text.size());
            char* out = std::copy(text.begin(), text.end(), buffer.data());
            for (int k = 0; k < span.count; ++k) {
                const int index = span.start + k;
                out = rate > 0 ? std::to_chars(out, out + 32, index / rate).ptr
                               : std::to_chars(out, out + 32, index).ptr;
                for (int i = 0; i < channels; ++i) {
                    const CodeText& entry
                        = texts[size_t(i) * 256 + size_t(codes[size_t(i)][size_t(k)] + 128)];
                    std::memcpy(out, entry.text, sizeof entry.text);
                    out += entry.size;
                }
                *out++ = '\n';
                if (size_t(out - buffer.data()) >= piece) {
                    if (!writeBytes(fd, buffer.data(), size_t(out - buffer.data())))
                        return false;
                    out = buffer.data();
                }
            }
            return writeBytes(fd, buffer.data(), size_t(out - buffer.data()));
        },
        cause);
}

bool exportWav(
    const WaveStore& record, const QString& name, bool floatVolts, SampleSpan span, QString& cause)
{
    if (!resolve(record, span, cause))
        return false;
    const double rate = sampleRateHz(record);
    if (rate < 1.0 || rate > 2147483647.0) {
        cause = QStringLiteral("the record has no sampling frequency a WAV file can hold");
        return false;
    }
    const int channels = record.channelCount();
    const std::vector<std::vector<qint8>> codes = codesOf(record, span);
    return save(
        name,
        [&](int fd) {
            SF_INFO info {};
            info.samplerate = int(std::lround(rate));
            info.channels = channels;
            info.format = SF_FORMAT_WAV | (floatVolts ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_U8);
            SoundFile sound;
            sound.file = sf_open_fd(fd, SFM_WRITE, &info, 0);
            if (!sound.file)
                return false;
            const size_t values = size_t(span.count) * size_t(channels);
            std::vector<float> volts(floatVolts ? values : 0);
            // 8-bit PCM is unsigned: the byte of a sample is its code + 128, written as it is.
            std::vector<quint8> bytes(floatVolts ? 0 : values);
            for (int i = 0; i < channels; ++i) {
                // Pointers held locally: byte stores could alias anything the loop reads.
                const qint8* from = codes[size_t(i)].data();
                const size_t step = size_t(channels);
                const int count = span.count;
                if (floatVolts) {
                    float table[256];
                    for (int code = -128; code < 128; ++code)
                        table[code + 128] = float(valueOf(record, i, code, AmplitudeUnit::Volts));
                    float* to = volts.data() + i;
                    for (int k = 0; k < count; ++k)
                        to[size_t(k) * step] = table[from[k] + 128];
                } else {
                    quint8* to = bytes.data() + i;
                    for (int k = 0; k < count; ++k)
                        to[size_t(k) * step] = quint8(from[k] + 128);
                }
            }
            const bool written = floatVolts
                ? sf_writef_float(sound.file, volts.data(), span.count) == span.count
                : sf_write_raw(sound.file, bytes.data(), sf_count_t(values)) == sf_count_t(values);
            return written && sf_close(std::exchange(sound.file, nullptr)) == 0;
        },
        cause);
}

namespace {

// Clock (kHz) and ticks per sample giving hertz exactly where they can: the unit's 12000 kHz
// clock when it divides, else the smallest ticks that make the clock whole; false when neither
// fits the header's fields.
bool exactClock(qint64 hertz, quint16& clockKHz, qint32& ticks)
{
    if (hertz <= 0)
        return false;
    if (12000000 % hertz == 0) {
        clockKHz = 12000;
        ticks = qint32(12000000 / hertz);
        return true;
    }
    const qint64 t = 1000 / std::gcd(hertz, qint64(1000));
    if (hertz * t / 1000 > 65535)
        return false;
    clockKHz = quint16(hertz * t / 1000);
    ticks = qint32(t);
    return true;
}

// The largest gain code whose scale holds every value (volts) within the 8-bit codes.
int largestUnclippedGain(const std::vector<float>& volts)
{
    float peak = 0.0f;
    for (float v : volts)
        peak = std::max(peak, std::fabs(v));
    for (int gain = 12; gain > 0; --gain)
        if (std::lround(peak / sampleAmplitude(1, gain, false, true)) <= 127)
            return gain;
    return 0;
}

} // namespace

bool importWav(
    const QString& name, int gainCode, WaveStore& record, ImportNotes& notes, QString& cause)
{
    SF_INFO info {};
    SoundFile sound;
    sound.file = sf_open(QFile::encodeName(name).constData(), SFM_READ, &info);
    if (!sound.file) {
        cause = QStringLiteral("not a sound file the library can read (%1)")
                    .arg(QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    if ((info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAV) {
        cause = QStringLiteral("not a WAV file");
        return false;
    }
    if (info.channels > WaveStore::maxChannels) {
        cause = QStringLiteral("%1 channels: a record holds at most %2")
                    .arg(info.channels)
                    .arg(WaveStore::maxChannels);
        return false;
    }
    if (info.frames > WaveChannel::maxSamples) {
        cause = QStringLiteral("%1 samples a channel: a record holds at most %2")
                    .arg(info.frames)
                    .arg(WaveChannel::maxSamples);
        return false;
    }
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool eightBit = subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_S8;
    const bool supported = eightBit || subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_FLOAT
        || subtype == SF_FORMAT_DOUBLE;
    if (!supported) {
        cause = QStringLiteral("only 8- and 16-bit PCM and float WAV files are read");
        return false;
    }
    const int channels = info.channels;
    const int frames = int(info.frames);
    std::vector<int> words(eightBit ? size_t(frames) * size_t(channels) : 0);
    std::vector<float> volts(eightBit ? 0 : size_t(frames) * size_t(channels));
    const sf_count_t got = eightBit ? sf_readf_int(sound.file, words.data(), frames)
                                    : sf_readf_float(sound.file, volts.data(), frames);
    if (got != frames) {
        cause = QStringLiteral("the file ends after %1 of its %2 samples").arg(got).arg(frames);
        return false;
    }
    int gain = gainCode;
    if (gain < 0)
        gain = eightBit ? 0 : largestUnclippedGain(volts);
    if (!record.initialise(channels, frames)) {
        cause = QStringLiteral("not enough memory");
        return false;
    }
    const double perCode = sampleAmplitude(1, gain, false, true);
    for (int i = 0; i < channels; ++i) {
        WaveChannel* c = record.channel(i);
        for (int k = 0; k < frames; ++k) {
            const size_t at = size_t(k) * size_t(channels) + size_t(i);
            const long code = eightBit ? long(words[at] >> 24) : std::lround(volts[at] / perCode);
            c->setSample(k, qint8(std::clamp(code, -128L, 127L)));
        }
        c->hasData = true;
        c->modified = false;
        record.channelSlots[i].header.gainCode = quint8(gain);
        record.channelSlots[i].header.inputNumber = quint8(i + 1);
    }
    record.header.visibleCount = frames;
    // The packed header's fields are set from copies, never bound to references.
    quint16 clockKHz = 12000;
    qint32 ticks = 1;
    const bool exact = exactClock(info.samplerate, clockKHz, ticks);
    if (!exact) {
        clockKHz = 12000;
        ticks = qint32(std::max<long>(1, std::lround(12000000.0 / info.samplerate)));
    }
    record.header.clockKHz = clockKHz;
    record.header.ticksPerSample = ticks;
    if (!exact) {
        notes.warning = QStringLiteral("%1 Hz is not a frequency a record can hold: %2 Hz taken")
                            .arg(info.samplerate)
                            .arg(sampleRateHz(record), 0, 'g', 10);
    }
    record.layout();
    notes.gainCode = gain;
    return true;
}

bool saveText(const QString& name, const std::string& text, QString& cause)
{
    return save(
        name, [&text](int fd) { return writeBytes(fd, text.data(), text.size()); }, cause);
}

bool spectrumTable(const WaveStore& record, int channel, int start, int e, int window,
    bool decibels, std::string& text, QString& cause)
{
    WaveChannel* source = record.channel(channel);
    if (!source) {
        cause = QStringLiteral("the record has no channel %1").arg(channel + 1);
        return false;
    }
    if (e < 2 || e > maxFftExponent || start < 0 || start >= record.sampleCount()) {
        cause = QStringLiteral("a spectrum needs 2^2 ... 2^%1 samples from one of the record's")
                    .arg(maxFftExponent);
        return false;
    }
    const int n = 1 << e;
    std::vector<float> weights;
    if (window != 0) {
        weights.resize(size_t(n));
        for (int k = 0; k < n; ++k)
            weights[size_t(k)] = windowValue(k, n, window);
    }
    WaveChannel spectrum(n / 2);
    if (!spectrum.allocate()
        || spectrum.transformFrom(
               *source, start, e, nullptr, decibels, weights.empty() ? nullptr : weights.data())
            != 0) {
        cause = QStringLiteral("not enough memory");
        return false;
    }
    const double rate = sampleRateHz(record);
    const int gain = record.channelSlots[channel].header.gainCode;
    text = decibels ? "frequency_Hz,amplitude_dB\n" : "frequency_Hz,amplitude_V\n";
    for (int p = 0; p < n / 2; ++p) {
        const double m = spectrum.binMagnitude(p);
        appendCsvNumber(text, (p + 1) * rate / n);
        text += ',';
        if (decibels)
            appendCsvNumber(text, m > 1e-10 ? 20.0 * std::log10(m / 128.0) : -HUGE_VAL);
        else
            appendCsvNumber(text, m * sampleAmplitude(1, gain, false, true));
        text += '\n';
    }
    return true;
}
