#include "wave_stor.h"

#include "convert.h"
#include "data.h"
#include "errors.h"
#include "file_io.h"

#include <QFile>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr char magic[8] = { 'K', 'O', 'R', 'U', 'N', 'R', 'A', 'W' };
// Samples move between file and blocks in pieces of at most this many bytes.
constexpr int pieceSize = 64000;

int roundToInt(double v)
{
    return int(std::lround(v));
}

} // namespace

// --- Record -------------------------------------------------------------------------------------

WaveStore::WaveStore(const QRect& plot)
    : plotRect(plot)
{
}

WaveStore::~WaveStore()
{
    for (ChannelSlot& slot : channelSlots) {
        delete slot.channel;
        slot.channel = nullptr;
    }
}

bool WaveStore::initialise(int channelCount, int sampleCount)
{
    for (ChannelSlot& slot : channelSlots) {
        delete slot.channel;
        slot = ChannelSlot();
    }
    header = WaveHeader();
    header.channelCount = quint16(std::clamp(channelCount, 0, maxChannels));
    header.createdCount = quint32(sampleCount);
    header.sampleCount = sampleCount;
    header.bitsPerSample = 8;
    header.verticalZoom = 1000;
    header.versionMinor = 20;
    header.versionMajor = 1;
    header.clockKHz = 10000;
    header.ticksPerSample = 2;
    for (int i = 0; i < header.channelCount; ++i) {
        auto* channel = new (std::nothrow) WaveChannel(sampleCount);
        if (!channel || !channel->allocate()) {
            delete channel;
            QTM_REPORT(0xA602);
            return false;
        }
        channel->traceColor = traceColors[i];
        channel->cursorColor = cursorColors[i];
        channel->baselineColor = Qt::lightGray;
        channel->cursorEnabled = true;
        channel->baselineEnabled = true;
        channelSlots[i].channel = channel;
    }
    layout();
    return true;
}

int WaveStore::channelCount() const
{
    const int count
        = header.channelCount; // fields of the packed header are copied, never referenced
    return std::min(count, maxChannels);
}

WaveChannel* WaveStore::channel(int i) const
{
    return (i >= 0 && i < channelCount()) ? channelSlots[i].channel : nullptr;
}

int WaveStore::viewCount() const
{
    const int count = header.visibleCount;
    const int samples = header.sampleCount;
    return std::clamp(count, 0, std::max(samples, 0));
}

int WaveStore::viewFirst() const
{
    const int first = header.firstVisible;
    const int samples = header.sampleCount;
    return std::clamp(first, 0, std::max(samples - viewCount(), 0));
}

void WaveStore::refreshScaleY()
{
    if (header.verticalZoom == 0) {
        scaleY = 1.0;
        return;
    }
    const int bands = std::max(channelCount(), 1);
    scaleY = std::fabs(double(plotRect.bottom() - plotRect.top()) / (bands * 256)
        * (header.verticalZoom / 1000.0));
}

void WaveStore::refreshScaleX()
{
    const int count = viewCount();
    if (count > 1) {
        scaleX = double(plotRect.right() - 1 - plotRect.left()) / (count - 1);
        compressedX = scaleX < 1.0;
    } else {
        scaleX = 1.0;
    }
}

void WaveStore::applyScales()
{
    for (int i = 0; i < maxChannels && channelSlots[i].channel; ++i) {
        channelSlots[i].channel->setFirstVisible(viewFirst(), scaleX);
        channelSlots[i].channel->setScaleY(scaleY);
    }
}

void WaveStore::layout()
{
    refreshScaleY();
    refreshScaleX();
    const int bands = std::max(channelCount(), 1);
    const double height = plotRect.bottom() - plotRect.top();
    for (int i = 0; i < maxChannels && channelSlots[i].channel; ++i) {
        WaveChannel* channel = channelSlots[i].channel;
        channel->rescale(plotRect, scaleX, scaleY);
        channel->setFirstVisible(viewFirst(), scaleX);
        channel->baselineY = roundToInt(height * (double(i) / bands + 0.5 / bands));
    }
}

void WaveStore::setPlotRect(const QRect& rect)
{
    plotRect = rect;
    refreshScaleY();
    refreshScaleX();
    for (int i = 0; i < maxChannels && channelSlots[i].channel; ++i)
        channelSlots[i].channel->rescale(rect, scaleX, scaleY);
}

bool WaveStore::setSmoothing(int mode, int param)
{
    bool recompute = mode != header.smoothMode;
    if (!recompute && param != header.smoothParam)
        recompute = mode == 2 || mode == 3 || mode == 4 || mode == 6;
    header.smoothMode = quint8(mode);
    header.smoothParam = quint8(std::min(param, 255));
    for (int i = 0; i < maxChannels && channelSlots[i].channel; ++i) {
        channelSlots[i].channel->smoothMode = quint8(mode);
        channelSlots[i].channel->setSmoothHalfWidth(std::min(param, 255));
    }
    return recompute;
}

bool WaveStore::isModified() const
{
    for (const ChannelSlot& slot : channelSlots)
        if (slot.channel && slot.channel->modified)
            return true;
    return false;
}

void WaveStore::setUnsaved(bool unsaved)
{
    for (const ChannelSlot& slot : channelSlots)
        if (slot.channel)
            slot.channel->modified = unsaved;
}

double WaveStore::samplePeriodMicros() const
{
    return header.clockKHz == 0 ? 0.0 : header.ticksPerSample * 1000.0 / header.clockKHz;
}

void WaveStore::setTraceColor(int i, const QColor& color)
{
    if (WaveChannel* c = channel(i))
        c->traceColor = color;
}

void WaveStore::setCursorColor(int i, const QColor& color)
{
    if (WaveChannel* c = channel(i))
        c->cursorColor = color;
}

bool WaveStore::setCursorFromX(int i, int x)
{
    WaveChannel* c = channel(i);
    if (!c)
        return false;
    c->setCursorFromX(x);
    return true;
}

bool WaveStore::moveBaseline(int i, int, int y)
{
    WaveChannel* c = channel(i);
    if (!c)
        return false;
    c->moveBaseline(y);
    return true;
}

int WaveStore::xToSample(int x) const
{
    const WaveChannel* c = channel(0);
    return c ? c->xToSample(x) : x;
}

int WaveStore::sampleToX(int sample) const
{
    const WaveChannel* c = channel(0);
    return c ? c->sampleToX(sample) : sample;
}

// The channel nearest to (x, y) by the given distance, the lower index on a tie, when it lies
// within 4 pixels; -1 otherwise. found receives the first channel of the smallest distance.
template <typename Distance>
int WaveStore::nearestChannel(Distance distance, const WaveChannel*& found) const
{
    int best = -1;
    int bestDistance = 32767;
    found = nullptr;
    for (int i = 0; i < channelCount(); ++i) {
        const WaveChannel* c = channelSlots[i].channel;
        if (!c)
            continue;
        const int d = distance(*c);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            found = c;
        }
    }
    return bestDistance <= 4 ? best : -1;
}

int WaveStore::baselineAt(int x, int y)
{
    const WaveChannel* found = nullptr;
    const int index
        = nearestChannel([x, y](const WaveChannel& c) { return c.baselineDistance(x, y); }, found);
    if (found)
        grabY = found->baselineY;
    return index;
}

int WaveStore::cursorAt(int x, int y) const
{
    const WaveChannel* found = nullptr;
    return nearestChannel([x, y](const WaveChannel& c) { return c.cursorDistance(x, y); }, found);
}

namespace {

int measure(const WaveChannel& channel, int value)
{
    if (channel.isSpectrum)
        return value;
    return channel.detectorOffset ? value + 128 : std::abs(value);
}

// Brings a ... b into the channel's samples (a selection may end just past the last one);
// false when none of them is left.
bool intoSamples(const WaveChannel& channel, int& a, int& b)
{
    a = std::max(a, 0);
    b = std::min(b, channel.sampleCount - 1);
    return a <= b;
}

// The displayed values of samples a ... b in order: in full at a, incrementally after.
template <typename Visit> void walkDisplayed(WaveChannel& channel, int a, int b, Visit visit)
{
    for (int j = a; j <= b; ++j)
        visit(j, j == a ? channel.displayedValue(j) : channel.nextDisplayedValue(j));
}

} // namespace

void WaveStore::zeroRange(int i, int a, int b)
{
    WaveChannel* c = channel(i);
    if (!c)
        return;
    const qint8 lowest = c->isSpectrum ? qint8(-128) : qint8(0);
    for (int j = std::max(a, 0); j <= std::min(b, c->sampleCount - 1); ++j)
        c->setSample(j, lowest);
    if (c->isSpectrum)
        c->zeroBins(a, b);
}

int WaveStore::maxIndex(int i, int a, int b)
{
    WaveChannel* c = channel(i);
    if (!c || !intoSamples(*c, a, b))
        return c ? c->cursorIndex() : a;
    int best = a;
    int greatest = INT_MIN;
    walkDisplayed(*c, a, b, [&](int j, int value) {
        if (measure(*c, value) > greatest) {
            greatest = measure(*c, value);
            best = j;
        }
    });
    return best;
}

int WaveStore::meanValue(int i, int a, int b)
{
    WaveChannel* c = channel(i);
    if (!c || !intoSamples(*c, a, b))
        return 0;
    qint64 sum = 0;
    walkDisplayed(*c, a, b, [&](int, int value) { sum += measure(*c, value); });
    return int(sum / (b - a + 1));
}

void WaveStore::startBaselineDrag()
{
    dragY = grabY;
}

void WaveStore::baselineDragRect(int i, QRect& rect) const
{
    const WaveChannel* c = channel(i);
    if (!c)
        return;
    const int y1 = std::min(dragY, c->baselineY);
    const int y2 = std::max(dragY, c->baselineY);
    if (y1 == y2) {
        rect.setCoords(0, 0, 0, 0);
        return;
    }
    rect.setTop(y1 - 6 - roundToInt(127 * scaleY));
    rect.setBottom(y2 + roundToInt(128 * scaleY) + 6);
}

// --- Clipboard ----------------------------------------------------------------------------------

QString cursorValuesText(const WaveStore& record, const QLocale& locale)
{
    const double period = record.samplePeriodMicros();
    const int count = record.channelCount();
    QString text = QStringLiteral("VLX_TIMES:");
    for (int i = 0; i < count; ++i) {
        const WaveChannel* channel = record.channelSlots[i].channel;
        if (!channel)
            return QString();
        text += locale.toString(channel->cursorIndex() * period, 'f', 0) + QLatin1Char(' ');
    }
    text += QStringLiteral("\nVLX_AMP:");
    for (int i = 0; i < count; ++i) {
        const WaveChannel* channel = record.channelSlots[i].channel;
        // Microvolts of the stored code, whatever the display mode and the detector.
        const double amplitude = sampleAmplitude(channel->sample(channel->cursorIndex()),
                                     record.channelSlots[i].header.gainCode, false, true)
            * 1000000;
        text += locale.toString(amplitude, 'f', 6) + QLatin1Char(' ');
    }
    return text;
}

// --- Moving sections
// ------------------------------------------------------------------------------

namespace {

// A channel section, its header and then its samples, as the pieces it moves in: the samples
// block by block, never more than pieceSize bytes at once.
std::vector<iovec> channelPieces(ChannelHeader& header, const WaveChannel& channel, int count)
{
    std::vector<iovec> pieces { { &header, sizeof header } };
    for (int done = 0; done < count;) {
        qint8* piece = nullptr;
        const int size = std::min({ channel.blockAt(done, &piece), pieceSize, count - done });
        pieces.push_back({ piece, size_t(size) });
        done += size;
    }
    return pieces;
}

qint64 totalSize(const std::vector<iovec>& pieces)
{
    qint64 total = 0;
    for (const iovec& piece : pieces)
        total += qint64(piece.iov_len);
    return total;
}

// Drops the first n bytes from the pieces (after a partial transfer).
void consume(std::vector<iovec>& pieces, size_t& first, size_t n)
{
    while (n > 0 && first < pieces.size()) {
        const size_t taken = std::min(n, pieces[first].iov_len);
        pieces[first].iov_base = static_cast<char*>(pieces[first].iov_base) + taken;
        pieces[first].iov_len -= taken;
        n -= taken;
        if (pieces[first].iov_len == 0)
            ++first;
    }
}

// Where the reader takes its bytes from.
class RecordInput
{
public:
    virtual ~RecordInput() = default;
    // Fills the pieces in order; the number of bytes read (fewer at the end of the data).
    virtual qint64 read(std::vector<iovec> pieces) = 0;
};

// A file: all the pieces of a section in one system call.
class FileInput : public RecordInput
{
public:
    explicit FileInput(int fd)
        : fd(fd)
    {
    }
    qint64 read(std::vector<iovec> pieces) override
    {
        qint64 got = 0;
        size_t first = 0;
        while (first < pieces.size()) {
            const int count = int(std::min<size_t>(pieces.size() - first, IOV_MAX));
            const ssize_t n = ::readv(fd, pieces.data() + first, count);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
            consume(pieces, first, size_t(n));
        }
        return got;
    }

private:
    int fd;
};

class DeviceInput : public RecordInput
{
public:
    explicit DeviceInput(QIODevice& device)
        : device(device)
    {
    }
    qint64 read(std::vector<iovec> pieces) override
    {
        qint64 got = 0;
        for (const iovec& piece : pieces) {
            const qint64 n = device.read(static_cast<char*>(piece.iov_base), qint64(piece.iov_len));
            if (n > 0)
                got += n;
            if (n != qint64(piece.iov_len))
                break;
        }
        return got;
    }

private:
    QIODevice& device;
};

// Sets a channel whose samples have been read up for showing, as channel i of the record.
void prepareReadChannel(WaveStore& record, WaveChannel& channel, int i)
{
    const ChannelSlot& slot = record.channelSlots[i];
    if (record.header.detector)
        channel.applyDetectorOffset();
    channel.cursorSample = slot.header.cursorSample;
    channel.hasData = true;
    channel.cursorEnabled = true;
    channel.baselineEnabled = true;
    channel.traceColor = traceColors[i];
    channel.cursorColor = cursorColors[i];
    channel.baselineColor = Qt::gray;
    channel.smoothMode = record.header.smoothMode;
    channel.setSmoothHalfWidth(record.header.smoothParam);
}

// Reads every channel's header and samples in one go (one system call for a file) into new
// channels; those read in full are placed in their slots, the first incomplete one and all
// after it are dropped. False when a channel could not be made or read whole.
bool readChannels(WaveStore& record, RecordInput& input)
{
    const int count = record.header.channelCount;
    std::vector<std::unique_ptr<WaveChannel>> channels;
    std::vector<iovec> pieces;
    std::vector<qint64> ends; // where each channel's section ends in the data
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<WaveChannel> channel(
            new (std::nothrow) WaveChannel(record.header.sampleCount));
        // Every sample is read at once below: the blocks need no clearing first.
        if (!channel || !channel->allocate(false))
            return false;
        const std::vector<iovec> section
            = channelPieces(record.channelSlots[i].header, *channel, channel->sampleCount);
        pieces.insert(pieces.end(), section.begin(), section.end());
        ends.push_back((ends.empty() ? 0 : ends.back()) + totalSize(section));
        channels.push_back(std::move(channel));
    }
    const qint64 got = input.read(pieces);
    for (int i = 0; i < count; ++i) {
        if (got < ends[size_t(i)])
            return false;
        prepareReadChannel(record, *channels[size_t(i)], i);
        record.channelSlots[i].channel = channels[size_t(i)].release();
    }
    return true;
}

void setCause(QString* cause, const QString& text)
{
    if (cause)
        *cause = text;
}

// The magic and the header just read (got bytes of them): false, reported, when they are not a
// record's.
bool checkHeader(WaveStore& record, const char* head, qint64 got, QString* cause)
{
    if (got < qint64(sizeof magic)) {
        setCause(cause,
            got <= 0 ? QStringLiteral("no data")
                     : QStringLiteral("truncated: a record starts with 8 bytes, the file has %1")
                           .arg(got));
        QTM_REPORT(0xA702);
        return false;
    }
    if (std::memcmp(head, magic, sizeof magic) != 0) {
        setCause(cause, QStringLiteral("not a record file (bad magic)"));
        QTM_REPORT(0xAC02);
        return false;
    }
    if (got < qint64(sizeof magic + sizeof record.header)) {
        setCause(cause,
            QStringLiteral("truncated: the header needs 256 bytes, the file has %1").arg(got));
        QTM_REPORT(0xAF02);
        return false;
    }
    // A count outside what a channel can hold is as inconsistent as a sixth channel; it is
    // refused before anything is allocated.
    const int channels = record.header.channelCount;
    const int samples = record.header.sampleCount;
    if (channels > WaveStore::maxChannels || samples < 0 || samples > WaveChannel::maxSamples) {
        setCause(cause,
            channels > WaveStore::maxChannels
                ? QStringLiteral("channel count %1 is out of range").arg(channels)
                : QStringLiteral("sample count %1 is out of range").arg(samples));
        QTM_REPORT(0xAC02);
        return false;
    }
    return true;
}

bool readRecord(WaveStore& record, RecordInput& input, QString* cause)
{
    char head[sizeof magic];
    const qint64 got
        = input.read({ { head, sizeof head }, { &record.header, sizeof record.header } });
    if (!checkHeader(record, head, got, cause))
        return false;
    const int channels = record.header.channelCount;
    const int samples = record.header.sampleCount;
    if (!readChannels(record, input)) {
        setCause(cause,
            QStringLiteral("truncated: %1 channels of %2 samples do not fit in the file")
                .arg(channels)
                .arg(samples));
        QTM_REPORT(0xAD02);
        return false;
    }
    record.layout();
    return true;
}

} // namespace

bool readRaw(WaveStore& record, const QString& name, QString* cause)
{
    if (name.isEmpty()) {
        setCause(cause, QStringLiteral("no file name"));
        QTM_REPORT(0xA502);
        return false;
    }
    // A regular file's size is known before it is opened; a stream's only once it is read.
    struct stat st;
    const bool stream = name == QLatin1String(standardStreamName);
    if (!stream && ::stat(pathBytes(name).constData(), &st) != 0) {
        setCause(cause, readCause(errno));
        QTM_REPORT(0xA702);
        return false;
    }
    if (!stream && S_ISREG(st.st_mode) && st.st_size < qint64(sizeof magic)) {
        setCause(cause,
            QStringLiteral("truncated: a record starts with 8 bytes, the file has %1")
                .arg(st.st_size));
        QTM_REPORT(0xA402);
        return false;
    }
    const bool folder = !stream && S_ISDIR(st.st_mode);
    const int fd = folder ? -1 : openForReading(name, st);
    if (fd < 0) {
        setCause(cause, readCause(folder ? EISDIR : errno));
        QTM_REPORT(0xA602);
        return false;
    }
    FileInput input(fd);
    const bool done = readRecord(record, input, cause);
    ::close(fd);
    return done;
}

bool readRawHeader(WaveStore& record, const QString& name, QString* cause)
{
    struct stat st;
    const int fd = openForReading(name, st);
    if (fd < 0 || S_ISDIR(st.st_mode)) {
        setCause(cause, readCause(fd < 0 ? errno : EISDIR));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) { // a stream is read through: its length is known at its end
        FileInput input(fd);
        const bool done = readRecord(record, input, cause);
        ::close(fd);
        return done;
    }
    // The first channel's header follows the record's: one read takes both.
    char head[sizeof magic];
    iovec pieces[] = { { head, sizeof head }, { &record.header, sizeof record.header },
        { &record.channelSlots[0].header, sizeof(ChannelHeader) } };
    const qint64 got = ::readv(fd, pieces, 3);
    bool done = checkHeader(record, head, std::min<qint64>(got, 264), cause);
    const qint64 section = qint64(sizeof(ChannelHeader)) + record.header.sampleCount;
    const qint64 first = qint64(sizeof magic + sizeof record.header);
    if (done && st.st_size < first + record.header.channelCount * section) {
        setCause(cause,
            QStringLiteral("truncated: %1 channels of %2 samples do not fit in the file")
                .arg(record.header.channelCount)
                .arg(record.header.sampleCount));
        done = false;
    }
    for (int i = 1; done && i < record.header.channelCount; ++i)
        done = ::pread(
                   fd, &record.channelSlots[i].header, sizeof(ChannelHeader), first + i * section)
            == qint64(sizeof(ChannelHeader));
    ::close(fd);
    return done;
}

bool readRaw(WaveStore& record, QIODevice& file)
{
    DeviceInput input(file);
    return readRecord(record, input, nullptr);
}

// --- Writing ------------------------------------------------------------------------------------

namespace {

// Writes all the pieces, in as few system calls as the system allows.
bool writeAll(int fd, std::vector<iovec> pieces)
{
    size_t first = 0;
    while (first < pieces.size()) {
        const int count = int(std::min<size_t>(pieces.size() - first, IOV_MAX));
        const ssize_t n = ::writev(fd, pieces.data() + first, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        consume(pieces, first, size_t(n));
    }
    return true;
}

// The whole record in one gathered write (the system splits it only past IOV_MAX pieces).
bool writeRecord(WaveStore& record, int fd)
{
    record.header.versionMinor = 20;
    record.header.versionMajor = 1;
    std::vector<iovec> pieces { { const_cast<char*>(magic), sizeof magic },
        { &record.header, sizeof record.header } };
    for (int i = 0; i < record.header.channelCount; ++i) {
        ChannelSlot& slot = record.channelSlots[i];
        WaveChannel* channel = i < WaveStore::maxChannels ? slot.channel : nullptr;
        const int count = record.header.sampleCount;
        if (!channel || count > channel->sampleCount)
            return false;
        slot.header.cursorSample = channel->cursorSample;
        const std::vector<iovec> section = channelPieces(slot.header, *channel, count);
        pieces.insert(pieces.end(), section.begin(), section.end());
    }
    return writeAll(fd, pieces);
}

} // namespace

int writeRaw(WaveStore& record, const QString& name)
{
    if (name.isEmpty() || record.header.sampleCount <= 0) {
        errno = name.isEmpty() ? ENOENT : ENODATA; // so that the cause is not a stale one
        return -1;
    }
    return saveThroughTemporary(name, [&record](int fd) { return writeRecord(record, fd); });
}
