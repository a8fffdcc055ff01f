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

bool checkRecordNumbers(const WaveStore& record, QString& cause)
{
    for (int i = 0; i < record.channelCount(); ++i) {
        const int gain = record.channelSlots[i].header.gainCode;
        if (gain > maxGainCode) {
            cause = QStringLiteral("gain code %1 of channel %2 is out of range (0 ... %3)")
                        .arg(gain)
                        .arg(i + 1)
                        .arg(maxGainCode);
            return false;
        }
    }
    if (record.header.ticksPerSample < 0) {
        cause = QStringLiteral("ticks per sample %1 is out of range")
                    .arg(record.header.ticksPerSample);
        return false;
    }
    return true;
}

bool resolveSpan(const WaveStore& record, SampleSpan& span, QString& cause)
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
    return checkRecordNumbers(record, cause);
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
    if (!resolveSpan(record, span, cause))
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
    if (!checkRecordNumbers(record, cause))
        return false;
    if (e < 2 || e > maxFftExponent) {
        cause = QStringLiteral("a spectrum takes 2^2 ... 2^%1 samples").arg(maxFftExponent);
        return false;
    }
    const int n = 1 << e;
    const int held = start < 0 ? 0 : std::max(0, record.sampleCount() - start);
    if (start < 0 || held < n) {
        int fits = 4;
        while (fits * 2 <= held && fits < (1 << maxFftExponent))
            fits *= 2;
        cause = held < 4
            ? QStringLiteral("from sample %1 the record holds %2 samples; a spectrum needs 4")
                  .arg(start)
                  .arg(held)
            : QStringLiteral("from sample %1 the record holds %2 samples: a length of at most %3 "
                             "fits")
                  .arg(start)
                  .arg(held)
                  .arg(fits);
        return false;
    }
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
            appendCsvNumber(text, m > 1e-10 ? magnitudeDecibels(m) : -HUGE_VAL);
        else
            appendCsvNumber(text, m * sampleAmplitude(1, gain, false, true));
        text += '\n';
    }
    return true;
}
