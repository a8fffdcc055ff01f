#include "wav_file.h"

#include "convert.h"
#include "file_io.h"
#include "wave_stor.h"

#include <QStringList>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <sndfile.h>
#include <utility>
#include <vector>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

const char factsMarker[] = "KORUN-77M record:";
// A WAV file of a record, whatever its sample format and chunks, stays well below this.
constexpr qint64 largestWavFile = 64 << 20;

// A file in memory for libsndfile: bytes read from a view, or written into a growing buffer.
struct MemoryFile
{
    const char* data = nullptr;
    sf_count_t size = 0;
    sf_count_t position = 0;
    QByteArray* written = nullptr; // grows without clearing what is to be overwritten
};

MemoryFile& memoryOf(void* user)
{
    return *static_cast<MemoryFile*>(user);
}

SF_VIRTUAL_IO memoryIo()
{
    SF_VIRTUAL_IO io {};
    io.get_filelen = [](void* user) { return memoryOf(user).size; };
    io.seek = [](sf_count_t offset, int whence, void* user) {
        MemoryFile& file = memoryOf(user);
        const sf_count_t base
            = whence == SEEK_SET ? 0 : (whence == SEEK_CUR ? file.position : file.size);
        if (base + offset < 0)
            return sf_count_t(-1);
        file.position = base + offset;
        return file.position;
    };
    io.read = [](void* to, sf_count_t count, void* user) {
        MemoryFile& file = memoryOf(user);
        const sf_count_t n = std::clamp<sf_count_t>(file.size - file.position, 0, count);
        if (n > 0)
            std::memcpy(to, file.data + file.position, size_t(n));
        file.position += n;
        return n;
    };
    io.write = [](const void* from, sf_count_t count, void* user) {
        MemoryFile& file = memoryOf(user);
        if (!file.written || count < 0)
            return sf_count_t(0);
        const sf_count_t end = file.position + count;
        if (end > file.written->size())
            file.written->resize(qsizetype(end));
        std::memcpy(file.written->data() + file.position, from, size_t(count));
        file.position = end;
        file.data = file.written->data();
        file.size = sf_count_t(file.written->size());
        return count;
    };
    io.tell = [](void* user) { return memoryOf(user).position; };
    return io;
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

// Interleaves frames 0 ... count - 1 of the channels' pieces into to: 8-bit PCM (code + 128) or
// volts through each channel's table. The channel count is a constant of each loop, so that
// the compiler unrolls and vectorises it.
template <int channels> void interleaveCodes(const qint8* const* pieces, int count, quint8* to)
{
    // Held locally: byte stores may alias anything, the pointers among it.
    const qint8* from[channels];
    std::copy(pieces, pieces + channels, from);
    for (int j = 0; j < count; ++j)
        for (int i = 0; i < channels; ++i)
            to[j * channels + i] = quint8(from[i][j]) ^ 0x80;
}

#if defined(__x86_64__) || defined(__i386__)
// Where byte t of the output's vector k comes from: frame (16k + t) / channels of channel
// (16k + t) % channels, or -1 (a zero) for the other channels' bytes.
template <int channels> struct ShuffleMasks
{
    std::array<std::array<std::array<qint8, 16>, channels>, channels> masks {};
    constexpr ShuffleMasks()
    {
        for (int k = 0; k < channels; ++k)
            for (int i = 0; i < channels; ++i)
                for (int t = 0; t < 16; ++t) {
                    const int b = 16 * k + t;
                    masks[size_t(k)][size_t(i)][size_t(t)]
                        = qint8(b % channels == i ? b / channels : -1);
                }
    }
};

// Sixteen frames at a time, each output vector gathered from every channel's sixteen codes by
// byte shuffles (SSSE3, which every x86-64 processor of this century has); the rest as above.
template <int channels>
__attribute__((target("ssse3"))) void interleaveShuffled(
    const qint8* const* pieces, int count, quint8* to)
{
    static constexpr ShuffleMasks<channels> shuffle;
    const __m128i flip = _mm_set1_epi8(char(0x80));
    int j = 0;
    for (; j + 16 <= count; j += 16) {
        __m128i codes[channels];
        for (int i = 0; i < channels; ++i)
            codes[i] = _mm_xor_si128(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(pieces[i] + j)), flip);
        for (int k = 0; k < channels; ++k) {
            __m128i out = _mm_setzero_si128();
            for (int i = 0; i < channels; ++i)
                out = _mm_or_si128(out,
                    _mm_shuffle_epi8(codes[i],
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(
                            shuffle.masks[size_t(k)][size_t(i)].data()))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + j * channels + 16 * k), out);
        }
    }
    const qint8* rest[channels];
    for (int i = 0; i < channels; ++i)
        rest[i] = pieces[i] + j;
    interleaveCodes<channels>(rest, count - j, to + j * channels);
}

void interleave(const qint8* const* pieces, int channels, int count, quint8* to)
{
    using Interleave = void (*)(const qint8* const*, int, quint8*);
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    static const Interleave plain[] = { interleaveCodes<1>, interleaveCodes<2>, interleaveCodes<3>,
        interleaveCodes<4>, interleaveCodes<5> };
    static const Interleave shuffled[] = { interleaveShuffled<1>, interleaveShuffled<2>,
        interleaveShuffled<3>, interleaveShuffled<4>, interleaveShuffled<5> };
    (shuffles ? shuffled : plain)[channels - 1](pieces, count, to);
}
#else
void interleave(const qint8* const* pieces, int channels, int count, quint8* to)
{
    static void (*const byCount[])(const qint8* const*, int, quint8*) = { interleaveCodes<1>,
        interleaveCodes<2>, interleaveCodes<3>, interleaveCodes<4>, interleaveCodes<5> };
    byCount[channels - 1](pieces, count, to);
}
#endif

void interleave(const qint8* const* pieces, int channels, int count,
    const std::array<float, 256>* tables, float* to)
{
    for (int j = 0; j < count; ++j)
        for (int i = 0; i < channels; ++i)
            *to++ = tables[i][size_t(pieces[i][j] + 128)];
}

// The WAV file of the span in memory: header, the facts as its comment, then the samples,
// interleaved a piece at a time into a buffer that stays in the cache.
bool wavBytes(const WaveStore& record, SampleSpan span, bool floatVolts, int rate, QByteArray& file)
{
    const int channels = record.channelCount();
    constexpr int framesAPiece = 4096;
    file.reserve(4096 + qsizetype(span.count) * channels * (floatVolts ? 4 : 1));
    MemoryFile memory;
    memory.written = &file;
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info {};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | (floatVolts ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_U8);
    SoundFile sound { sf_open_virtual(&io, SFM_WRITE, &info, &memory) };
    if (!sound.file
        || sf_set_string(sound.file, SF_STR_COMMENT, recordFactsText(record).constData()) != 0)
        return false;
    std::array<float, 256> tables[WaveStore::maxChannels];
    const WaveChannel* sources[WaveStore::maxChannels] = {};
    for (int i = 0; i < channels; ++i) {
        sources[i] = record.channel(i);
        if (!sources[i])
            return false;
        for (int code = -128; code < 128; ++code)
            tables[i][size_t(code + 128)] = float(sampleAmplitude(
                code, record.channelSlots[i].header.gainCode, sources[i]->detectorOffset, true));
    }
    std::vector<float> volts(floatVolts ? size_t(framesAPiece * channels) : 0);
    std::vector<quint8> bytes(floatVolts ? 0 : size_t(framesAPiece * channels));
    for (int k = 0; k < span.count;) {
        // Every channel's blocks break at the same samples.
        int count = std::min(framesAPiece, span.count - k);
        const qint8* pieces[WaveStore::maxChannels] = {};
        for (int i = 0; i < channels; ++i) {
            qint8* piece = nullptr;
            count = std::min(count, sources[i]->blockAt(span.start + k, &piece));
            pieces[i] = piece;
        }
        if (count <= 0)
            return false;
        if (floatVolts)
            interleave(pieces, channels, count, tables, volts.data());
        else
            interleave(pieces, channels, count, bytes.data());
        const sf_count_t values = sf_count_t(count) * channels;
        if ((floatVolts ? sf_writef_float(sound.file, volts.data(), count) != count
                        : sf_write_raw(sound.file, bytes.data(), values) != values))
            return false;
        k += count;
    }
    return sf_close(std::exchange(sound.file, nullptr)) == 0;
}

} // namespace

int wavRate(const WaveStore& record, QString& cause)
{
    const double rate = sampleRateHz(record);
    if (rate >= 0.5 && rate < 2147483647.5)
        return int(std::lround(rate));
    cause = QStringLiteral("the record has no sampling frequency a WAV file can hold");
    return 0;
}

bool exportWav(
    const WaveStore& record, const QString& name, bool floatVolts, SampleSpan span, QString& cause)
{
    const int rate = resolveSpan(record, span, cause) ? wavRate(record, cause) : 0;
    if (rate == 0)
        return false;
    QByteArray file;
    if (!wavBytes(record, span, floatVolts, rate, file)) {
        cause = QStringLiteral("the sound library could not make the file (%1)")
                    .arg(QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    errno = 0;
    const int result = saveThroughTemporary(
        name, [&file](int fd) { return writeBytes(fd, file.constData(), size_t(file.size())); });
    if (result != 0)
        cause = saveCause(result, errno);
    return result == 0;
}

// --- The record's facts -------------------------------------------------------------------------

namespace {

// The reserved bytes of the header and of each channel header, in that order, without the
// zeros at the end.
QByteArray reservedBytes(const WaveStore& record)
{
    const WaveHeader& h = record.header;
    QByteArray bytes(reinterpret_cast<const char*>(h.reserved1), sizeof h.reserved1);
    bytes.append(reinterpret_cast<const char*>(h.reserved2), sizeof h.reserved2);
    for (int i = 0; i < record.channelCount(); ++i) {
        const ChannelHeader& c = record.channelSlots[i].header;
        bytes.append(char(c.reserved1)).append(char(c.reserved2));
        bytes.append(reinterpret_cast<const char*>(c.reserved3), sizeof c.reserved3);
    }
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return bytes;
}

void setReservedBytes(WaveStore& record, const QByteArray& bytes)
{
    QByteArray all = bytes;
    all.resize(sizeof record.header.reserved1 + sizeof record.header.reserved2
            + 10 * record.channelCount(),
        '\0');
    const char* from = all.constData();
    const auto take = [&from](void* to, size_t size) {
        std::memcpy(to, from, size);
        from += size;
    };
    take(record.header.reserved1, sizeof record.header.reserved1);
    take(record.header.reserved2, sizeof record.header.reserved2);
    for (int i = 0; i < record.channelCount(); ++i) {
        ChannelHeader& c = record.channelSlots[i].header;
        take(&c.reserved1, 1);
        take(&c.reserved2, 1);
        take(c.reserved3, sizeof c.reserved3);
    }
}

QString numberList(const WaveStore& record, quint8 ChannelHeader::*field)
{
    QStringList words;
    for (int i = 0; i < record.channelCount(); ++i)
        words << QString::number(record.channelSlots[i].header.*field);
    return words.join(QLatin1Char(','));
}

// The facts of a comment as key and value, and readers of them that say what is wrong.
class Facts
{
public:
    explicit Facts(const QByteArray& text)
    {
        for (const QByteArray& word : text.mid(qsizetype(sizeof factsMarker) - 1).split(' ')) {
            const qsizetype equals = word.indexOf('=');
            if (equals > 0)
                values[word.left(equals)] = word.mid(equals + 1);
        }
    }
    bool number(const char* key, qint64 least, qint64 most, qint64& value, QString& problem,
        qint64 fallback = -1) const
    {
        const auto it = values.find(key);
        bool ok = it == values.end() && fallback >= 0;
        value = ok ? fallback : (it == values.end() ? 0 : it->second.toLongLong(&ok));
        if (ok && value >= least && value <= most)
            return true;
        problem = QStringLiteral("%1 is missing or out of range").arg(QLatin1String(key));
        return false;
    }
    bool numbers(const char* key, int count, int most, QList<int>& list, QString& problem) const
    {
        const auto it = values.find(key);
        const QList<QByteArray> words
            = it == values.end() ? QList<QByteArray>() : it->second.split(',');
        list.clear();
        for (const QByteArray& word : words) {
            bool ok = false;
            const int value = word.toInt(&ok);
            if (!ok || value < 0 || value > most)
                break;
            list << value;
        }
        if (list.size() == count && words.size() == count)
            return true;
        problem = QStringLiteral("%1 is missing, out of range or not one a channel")
                      .arg(QLatin1String(key));
        return false;
    }
    bool word(const char* key, const char* no, const char* yes, bool& value, QString& problem) const
    {
        const auto it = values.find(key);
        value = it != values.end() && it->second == yes;
        if (it != values.end() && (it->second == no || it->second == yes))
            return true;
        problem = QStringLiteral("%1 is neither %2 nor %3")
                      .arg(QLatin1String(key), QLatin1String(no), QLatin1String(yes));
        return false;
    }
    QByteArray text(const char* key) const
    {
        const auto it = values.find(key);
        return it == values.end() ? QByteArray() : it->second;
    }

private:
    std::map<QByteArray, QByteArray> values;
};

} // namespace

QByteArray recordFactsText(const WaveStore& record)
{
    const WaveHeader& h = record.header;
    QString text = QStringLiteral("%1 channels=%2 clock_kHz=%3 ticks=%4 sync=%5 detector=%6 "
                                  "inputs=%7 gains=%8 created=%9")
                       .arg(QLatin1String(factsMarker))
                       .arg(record.channelCount())
                       .arg(h.clockKHz)
                       .arg(h.ticksPerSample)
                       .arg(QLatin1String(h.syncExternal ? "external" : "internal"))
                       .arg(QLatin1String(h.detector ? "on" : "off"))
                       .arg(numberList(record, &ChannelHeader::inputNumber))
                       .arg(numberList(record, &ChannelHeader::gainCode))
                       .arg(h.createdCount);
    if (h.bitsPerSample != 8)
        text += QStringLiteral(" bits=%1").arg(h.bitsPerSample);
    if (h.runFlag != 0)
        text += QStringLiteral(" run=%1").arg(h.runFlag);
    const QByteArray reserved = reservedBytes(record);
    if (!reserved.isEmpty())
        text += QStringLiteral(" reserved=") + QString::fromLatin1(reserved.toHex());
    return text.toLatin1();
}

bool applyRecordFacts(const QByteArray& text, int rateHz, WaveStore& record, QString& problem)
{
    if (!text.startsWith(factsMarker)) {
        problem = QStringLiteral("not a record's facts");
        return false;
    }
    const Facts facts(text);
    const int channels = record.channelCount();
    qint64 count = 0, clock = 0, ticks = 0, created = 0, bits = 0, run = 0;
    bool external = false;
    bool detector = false;
    QList<int> inputs;
    QList<int> gains;
    const QByteArray hex = facts.text("reserved");
    const QByteArray reserved = QByteArray::fromHex(hex);
    if (!facts.number("channels", channels, channels, count, problem)
        || !facts.number("clock_kHz", 1, 65535, clock, problem)
        || !facts.number("ticks", 1, 2147483647, ticks, problem)
        || !facts.number("created", 0, 4294967295LL, created, problem)
        || !facts.number("bits", 0, 255, bits, problem, 8)
        || !facts.number("run", 0, 255, run, problem, 0)
        || !facts.word("sync", "internal", "external", external, problem)
        || !facts.word("detector", "off", "on", detector, problem)
        || !facts.numbers("inputs", channels, 255, inputs, problem)
        || !facts.numbers("gains", channels, maxGainCode, gains, problem))
        return false;
    if (std::lround(clock * 1000.0 / ticks) != rateHz) {
        problem = QStringLiteral("%1 kHz / %2 is not the file's %3 Hz")
                      .arg(clock)
                      .arg(ticks)
                      .arg(rateHz);
        return false;
    }
    if (reserved.toHex() != hex.toLower() || reserved.size() > 221 + 10 * channels) {
        problem = QStringLiteral("reserved is not the hexadecimal bytes of a record");
        return false;
    }
    WaveHeader& h = record.header;
    h.clockKHz = quint16(clock);
    h.ticksPerSample = qint32(ticks);
    h.createdCount = quint32(created);
    h.bitsPerSample = quint8(bits);
    h.runFlag = quint8(run);
    h.syncExternal = external ? 1 : 0;
    h.detector = detector ? 1 : 0;
    for (int i = 0; i < channels; ++i) {
        record.channelSlots[i].header.inputNumber = quint8(inputs[i]);
        record.channelSlots[i].header.gainCode = quint8(gains[i]);
    }
    setReservedBytes(record, reserved);
    return true;
}

// --- Frequencies --------------------------------------------------------------------------------

bool nearestClock(qint64 hertz, quint16& clockKHz, qint32& ticks)
{
    if (hertz <= 0)
        return false;
    if (12000000 % hertz == 0) {
        clockKHz = 12000;
        ticks = qint32(12000000 / hertz);
        return true;
    }
    // For each clock the two whole tick counts around clock / hertz; the error of clock c and
    // ticks t is |c 1000 - hertz t| / t, compared as fractions without rounding.
    __int128 bestError = -1;
    qint64 bestTicks = 1;
    for (qint64 c = 1; c <= 65535; ++c) {
        const qint64 below = c * 1000 / hertz;
        for (const qint64 t : { below, below + 1 }) {
            if (t < 1 || t > 2147483647)
                continue;
            const __int128 error = c * 1000 - __int128(hertz) * t;
            const __int128 magnitude = error < 0 ? -error : error;
            if (bestError < 0 || magnitude * bestTicks < bestError * t) {
                bestError = magnitude;
                bestTicks = t;
                clockKHz = quint16(c);
                ticks = qint32(t);
            }
        }
    }
    return bestError == 0;
}

// --- Reading ------------------------------------------------------------------------------------

QString ImportNotes::warning() const
{
    QStringList parts;
    if (!factsProblem.isEmpty())
        parts
            << QStringLiteral("the record's facts in the file were not used: %1").arg(factsProblem);
    if (askedHz > 0)
        parts << QStringLiteral("%1 Hz is not a frequency a record can hold: %2 Hz taken")
                     .arg(askedHz)
                     .arg(takenHz, 0, 'g', 10);
    if (clippedSamples > 0) {
        QStringList numbers;
        for (const int c : clippedChannels)
            numbers << QString::number(c + 1);
        parts << QStringLiteral("%1 samples clipped on channel %2")
                     .arg(clippedSamples)
                     .arg(numbers.join(QStringLiteral(", ")));
    }
    if (announcedFrames > heldFrames)
        parts << QStringLiteral("the data chunk announces %1 samples, the file holds %2: %3 "
                                "missing")
                     .arg(announcedFrames)
                     .arg(heldFrames)
                     .arg(announcedFrames - heldFrames);
    return parts.join(QStringLiteral("; "));
}

namespace {

// The bytes of sample data a RIFF or RF64 file announces; -1 for other containers or a size
// left open (0 or 0xFFFFFFFF, as streaming writers leave it).
qint64 announcedDataBytes(const QByteArray& bytes)
{
    const auto u32
        = [&bytes](qsizetype at) { return qFromLittleEndian<quint32>(bytes.constData() + at); };
    if (bytes.size() >= 36 && bytes.startsWith("RF64") && bytes.mid(12, 4) == "ds64")
        return qint64(qFromLittleEndian<quint64>(bytes.constData() + 28));
    if (!bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return -1;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const quint32 size = u32(at + 4);
        if (bytes.mid(at, 4) == "data")
            return size == 0 || size == 0xFFFFFFFFu ? -1 : qint64(size);
        at += 8 + qsizetype(size) + qsizetype(size & 1);
    }
    return -1;
}

int bytesPerSample(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    case SF_FORMAT_DOUBLE:
        return 8;
    default:
        return 0;
    }
}

// Whether libsndfile opened a file this import takes; false with the cause.
bool acceptable(const SF_INFO& info, QString& cause)
{
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX && container != SF_FORMAT_RF64
        && container != SF_FORMAT_W64)
        cause = QStringLiteral("not a WAV file");
    else if (bytesPerSample(info.format & SF_FORMAT_SUBMASK) == 0)
        cause = QStringLiteral("only PCM and float WAV files are read");
    else if (info.channels > WaveStore::maxChannels)
        cause = QStringLiteral("%1 channels: a record holds at most %2")
                    .arg(info.channels)
                    .arg(WaveStore::maxChannels);
    else if (info.frames > WaveChannel::maxSamples)
        cause = QStringLiteral("%1 samples a channel: a record holds at most %2")
                    .arg(info.frames)
                    .arg(WaveChannel::maxSamples);
    else if (info.frames <= 0)
        cause = QStringLiteral("no samples");
    return cause.isEmpty();
}

// The code of a value in volts at a gain (detector data counted from -128), before clipping.
double codeOfVolts(double volts, int gain, bool detector)
{
    const double perUnit = sampleAmplitude(1, gain, false, true) / 2.0;
    return std::nearbyint(detector ? volts / perUnit - 128.0 : volts / perUnit / 2.0);
}

// The largest gain whose codes hold every value of channel i (volts, interleaved).
int largestUnclippedGain(const std::vector<float>& volts, int channels, int i, bool detector)
{
    float low = 0.0f;
    float high = 0.0f;
    for (size_t k = size_t(i); k < volts.size(); k += size_t(channels)) {
        low = std::min(low, volts[k]);
        high = std::max(high, volts[k]);
    }
    for (int gain = maxGainCode; gain > 0; --gain)
        if (codeOfVolts(high, gain, detector) <= 127 && codeOfVolts(low, gain, detector) >= -128)
            return gain;
    return 0;
}

// The first value that is not a finite number, as the cause; empty when all are.
QString nonFinite(const std::vector<float>& volts, int channels)
{
    const auto bad
        = std::find_if(volts.begin(), volts.end(), [](float v) { return !std::isfinite(v); });
    if (bad == volts.end())
        return QString();
    const qint64 at = bad - volts.begin();
    return QStringLiteral("sample %1 of channel %2 is not a finite number (%3)")
        .arg(at / channels)
        .arg(at % channels + 1)
        .arg(std::isnan(*bad) ? QStringLiteral("NaN") : QStringLiteral("infinite"));
}

// Sets the clock, inputs and gains of a record that came without its facts.
void setDefaultFacts(WaveStore& record, int rate, ImportNotes& notes)
{
    quint16 clockKHz = 12000;
    qint32 ticks = 1;
    const bool exact = nearestClock(rate, clockKHz, ticks);
    record.header.clockKHz = clockKHz;
    record.header.ticksPerSample = ticks;
    if (!exact) {
        notes.askedHz = rate;
        notes.takenHz = sampleRateHz(record);
    }
    for (int i = 0; i < record.channelCount(); ++i)
        record.channelSlots[i].header.inputNumber = quint8(i + 1);
}

// Whether the bytes begin as a WAV-family file does: RIFF/WAVE, RF64/WAVE or Wave64's "riff"
// GUID. Nothing else is handed to the sound library, which would try its other decoders on it.
bool wavFamily(const QByteArray& bytes)
{
    static const QByteArray wave64("riff\x2e\x91\xcf\x11\xa5\xd6\x28\xdb\x04\xc1\x00\x00", 16);
    return ((bytes.startsWith("RIFF") || bytes.startsWith("RF64")) && bytes.mid(8, 4) == "WAVE")
        || bytes.startsWith(wave64);
}

// The name of the first chunk whose size runs past the end of the bytes, other than a cut-off
// data chunk (said as missing frames later); empty when every chunk fits. The sound library
// loops for ever over some such chunks (a LIST of 0xFFFFFFFF bytes), so none reaches it.
// RIFF and RF64 chunks have a 4-byte name and size, padded to even sizes; Wave64 chunks a
// 16-byte name and an 8-byte size that counts their header, padded to multiples of 8.
QByteArray chunkPastTheEnd(const QByteArray& bytes)
{
    const bool wave64 = !bytes.startsWith("RIFF") && !bytes.startsWith("RF64");
    const qint64 header = wave64 ? 24 : 8;
    for (qint64 at = wave64 ? 40 : 12; at + header <= bytes.size();) {
        const char* chunk = bytes.constData() + at;
        const QByteArray name(chunk, 4);
        const quint64 size = wave64 ? qFromLittleEndian<quint64>(chunk + 16)
                                    : qFromLittleEndian<quint32>(chunk + 4) + quint64(header);
        if (size < quint64(header) || size > quint64(bytes.size() - at))
            return name == "data" ? QByteArray() : name;
        at += qint64(wave64 ? (size + 7) & ~quint64(7) : size + (size & 1));
    }
    return QByteArray();
}

} // namespace

bool importWavBytes(
    const QByteArray& bytes, int gainCode, WaveStore& record, ImportNotes& notes, QString& cause)
{
    if (!wavFamily(bytes)) {
        cause = QStringLiteral("not a WAV file");
        return false;
    }
    const QByteArray broken = chunkPastTheEnd(bytes);
    if (!broken.isEmpty()) {
        QString name = QString::fromLatin1(broken);
        for (QChar& c : name)
            c = c.unicode() >= 0x20 && c.unicode() < 0x7f ? c : QChar(u'?');
        cause = QStringLiteral("the WAV file's chunk \"%1\" runs past its end").arg(name);
        return false;
    }
    MemoryFile memory;
    memory.data = bytes.constData();
    memory.size = bytes.size();
    SF_VIRTUAL_IO io = memoryIo();
    SF_INFO info {};
    SoundFile sound { sf_open_virtual(&io, SFM_READ, &info, &memory) };
    if (!sound.file) {
        cause = QStringLiteral("not a sound file the library can read (%1)")
                    .arg(QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    if (!acceptable(info, cause))
        return false;
    const int channels = info.channels;
    const int frames = int(info.frames);
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const bool eightBit = bytesPerSample(subtype) == 1;
    std::vector<int> words(eightBit ? size_t(frames) * size_t(channels) : 0);
    std::vector<float> volts(eightBit ? 0 : size_t(frames) * size_t(channels));
    const sf_count_t got = eightBit ? sf_readf_int(sound.file, words.data(), frames)
                                    : sf_readf_float(sound.file, volts.data(), frames);
    if (got != frames) {
        cause = QStringLiteral("the file ends after %1 of its %2 samples").arg(got).arg(frames);
        return false;
    }
    cause = nonFinite(volts, channels);
    if (!cause.isEmpty())
        return false;
    if (!record.initialise(channels, frames)) {
        cause = QStringLiteral("not enough memory");
        return false;
    }
    const char* comment = sf_get_string(sound.file, SF_STR_COMMENT);
    if (comment && QByteArray(comment).startsWith(factsMarker))
        notes.restored = applyRecordFacts(comment, info.samplerate, record, notes.factsProblem);
    if (!notes.restored)
        setDefaultFacts(record, info.samplerate, notes);
    const bool detector = record.header.detector != 0;
    for (int i = 0; i < channels; ++i) {
        quint8& gain = record.channelSlots[i].header.gainCode;
        if (gainCode >= 0)
            gain = quint8(gainCode);
        else if (!notes.restored && !eightBit)
            gain = quint8(largestUnclippedGain(volts, channels, i, detector));
        WaveChannel* c = record.channel(i);
        qint64 clipped = 0;
        for (int k = 0; k < frames; ++k) {
            const size_t at = size_t(k) * size_t(channels) + size_t(i);
            const double code
                = eightBit ? double(words[at] >> 24) : codeOfVolts(volts[at], gain, detector);
            clipped += code < -128 || code > 127;
            c->setSample(k, qint8(std::clamp(code, -128.0, 127.0)));
        }
        if (clipped > 0) {
            notes.clippedChannels << i;
            notes.clippedSamples += clipped;
        }
        if (detector)
            c->applyDetectorOffset();
        c->hasData = true;
        c->modified = false;
    }
    const qint64 announced = announcedDataBytes(bytes) / (bytesPerSample(subtype) * channels);
    if (announced > frames) {
        notes.announcedFrames = announced;
        notes.heldFrames = frames;
    }
    record.header.visibleCount = frames;
    record.layout();
    return true;
}

bool importWav(
    const QString& name, int gainCode, WaveStore& record, ImportNotes& notes, QString& cause)
{
    QByteArray bytes;
    return readWhole(name, largestWavFile, bytes, cause)
        && importWavBytes(bytes, gainCode, record, notes, cause);
}
