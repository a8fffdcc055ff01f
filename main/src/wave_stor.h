// A multi-channel record: its header (the exact byte image a record file stores), channels,
// layout, mappings and hit tests, and the record file format. Depends on wave_view.h. Its
// drawing is defined with the windows, in record_view.cpp.
#pragma once

#include "wave_view.h"

#include <QRect>
#include <QString>
#include <QtGlobal>

class QIODevice;
class QLocale;
class QPainter;

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "record images are little-endian");

#pragma pack(push, 1)
// Bytes 8 to 263 of a record file; offsets below are from the start of this header.
struct WaveHeader
{
    quint16 channelCount; // 0: 0 to 5
    quint32 createdCount; // 2: written, never read
    qint32 sampleCount; // 6: samples per channel
    quint8 bitsPerSample; // 10: 8
    quint8 sineOverlay; // 11: draw the 50 Hz reference sine
    quint16 clockKHz; // 12
    qint32 ticksPerSample; // 14: sampling frequency = clockKHz * 1000 / ticksPerSample
    quint8 runFlag; // 18
    quint8 syncExternal; // 19
    quint8 smoothMode; // 20: display mode
    quint8 smoothParam; // 21
    quint16 verticalZoom; // 22: thousandths, 0 = one pixel per code
    qint32 firstVisible; // 24
    qint32 visibleCount; // 28
    quint8 reserved1[8]; // 32
    quint8 versionMinor; // 40: 20
    quint8 versionMajor; // 41: 1
    quint8 detector; // 42
    quint8 reserved2[213]; // 43
};

struct ChannelHeader
{
    quint8 gainCode; // gain factor 2^gainCode
    quint8 reserved1;
    quint8 reserved2;
    quint8 inputNumber; // physical input 1 to 32
    qint32 cursorSample;
    quint8 reserved3[8];
};
#pragma pack(pop)
static_assert(sizeof(WaveHeader) == 256, "the record header is 256 bytes");
static_assert(sizeof(ChannelHeader) == 16, "a channel header is 16 bytes");

struct ChannelSlot
{
    WaveChannel* channel = nullptr;
    ChannelHeader header = {};
};

class WaveStore
{
public:
    static constexpr int maxChannels = 5;

    // An empty record laid out on the plot rectangle (left, top, right, bottom).
    explicit WaveStore(const QRect& plot);
    ~WaveStore();
    WaveStore(const WaveStore&) = delete;
    WaveStore& operator=(const WaveStore&) = delete;

    bool initialise(int channelCount, int sampleCount);
    void layout();
    void setPlotRect(const QRect& rect);
    void refreshScaleX();
    void refreshScaleY();
    void applyScales();
    bool setSmoothing(int mode, int param);
    bool isModified() const;
    // Marks every channel as holding unsaved samples, or as saved.
    void setUnsaved(bool unsaved);
    double samplePeriodMicros() const;
    void setTraceColor(int i, const QColor& color);
    void setCursorColor(int i, const QColor& color);

    // Channel i, or null outside 0 .. channelCount - 1 or for an empty slot.
    WaveChannel* channel(int i) const;
    int channelCount() const;
    int sampleCount() const { return header.sampleCount; }
    // The view as it can be shown: the stored first sample and width brought into the record.
    int viewCount() const;
    int viewFirst() const;

    bool setCursorFromX(int i, int x);
    bool moveBaseline(int i, int x, int y);
    int xToSample(int x) const;
    int sampleToX(int sample) const;
    int baselineAt(int x, int y);
    int cursorAt(int x, int y) const;
    void startBaselineDrag();
    void baselineDragRect(int i, QRect& rect) const;

    // Record operations over samples a ... b of channel i (a <= b): zeroing (the lowest level
    // for a spectrum), the first index of the greatest measure, and the mean measure (truncated);
    // the measure is the displayed value for a spectrum, its magnitude for ordinary data and
    // value + 128 for detector data.
    void zeroRange(int i, int a, int b);
    int maxIndex(int i, int a, int b);
    int meanValue(int i, int a, int b);

    void draw(QPainter& painter);
    void drawSine(QPainter& painter) const;

    QRect plotRect;
    int dragY = 0;
    int grabY = 0;
    bool compressedX = false;
    WaveHeader header = {};
    ChannelSlot channelSlots[maxChannels];
    double scaleX = 1.0;
    double scaleY = 1.0;

private:
    template <typename Distance>
    int nearestChannel(Distance distance, const WaveChannel*& found) const;
};

// The clipboard text of the cursors: "VLX_TIMES:" and each channel's cursor time in
// microseconds, then "\nVLX_AMP:" and each channel's amplitude there, every value followed by
// a space, in the locale's notation. Null when a channel slot before the count is empty.
QString cursorValuesText(const WaveStore& record, const QLocale& locale);

// Record files: "KORUNRAW", the 256-byte header, then per channel its 16-byte header and
// samples. The reader fills a freshly created record and reports its failures (cause, when
// given, receives what was wrong in words); "-" reads the standard input, and any other stream
// is read to its end. The writer saves as saveThroughTemporary does (file_io.h) and returns its
// results: 0, -1 (nothing written), -16 (an existing file cannot be replaced), -17 (the final
// rename failed) or -18 (a block device); the old file stays intact on any failure.
bool readRaw(WaveStore& record, const QString& name, QString* cause = nullptr);
bool readRaw(WaveStore& record, QIODevice& file);
// The header and the channel headers only (no channels are made), checked and reported as the
// reader does; for telling what a file holds without reading its samples.
bool readRawHeader(WaveStore& record, const QString& name, QString* cause);
int writeRaw(WaveStore& record, const QString& name);
