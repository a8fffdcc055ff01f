// One channel of a record: sample storage in 32768-byte blocks, scales, baseline, cursor,
// colours and the spectrum it may hold. Its drawing (trace, baseline, cursor) is defined with
// the windows, in record_view.cpp: the record library paints nothing.
#pragma once

#include <QColor>
#include <QRect>
#include <QtGlobal>

#include <utility>

class QPainter;
class ProgressSteps;
class ColumnWriter;

class WaveChannel
{
public:
    static constexpr int blockSize = 32768;
    static constexpr int maxBlocks = 5;
    static constexpr int maxSamples = blockSize * maxBlocks; // 163840
    // Points per polyline drawn under printRendering.
    static constexpr int polylineBatch = 2000;

    // Takes min(requestedCount, 163840) samples (a negative count takes 0).
    explicit WaveChannel(int requestedCount);
    ~WaveChannel();
    WaveChannel(const WaveChannel&) = delete;
    WaveChannel& operator=(const WaveChannel&) = delete;

    // Allocates the blocks, zero-filled unless the caller fills every sample at once (the file
    // reader); reports 0xA602 and returns false when one fails.
    bool allocate(bool zeroed = true);
    // Points *ptr at sample index and returns the samples left in its block (0 without ptr).
    int blockAt(int index, qint8** ptr) const;
    qint8 sample(int index) const;
    void setSample(int index, qint8 value);

    void setSmoothHalfWidth(int width);
    void applyDetectorOffset();
    void clearDetectorOffset();
    void setScaleY(double s);
    void setFirstVisible(int first, double sx);
    void rescale(const QRect& rect, double sx, double sy);

    int sampleToX(int s) const;
    int xToSample(int x) const;
    void setCursorFromX(int x);
    void moveBaseline(int y);
    // Pixel distances for the hit tests; 32767 when the channel cannot be hit there.
    int baselineDistance(int x, int y) const;
    int cursorDistance(int x, int y) const;
    int cursorX() const;
    // The cursor's sample, brought into the samples (a record file may hold any number).
    int cursorIndex() const;

    // The value drawn and measured for a sample under the display mode (0 raw, 1 detection,
    // 2 smoothing, 3 detection and smoothing, 4 derivative of 3, 5 square, 6 square and
    // smoothing; signed 8 bits): the full computation at one index, and the incremental one at
    // the index after the previous call's.
    int displayedValue(int index);
    int nextDisplayedValue(int index);
    int valueToY(int value) const;

    // The displayed values of count samples from start on (0 outside the samples).
    void displayedValues(int start, int count, float* out);
    // Makes this channel the spectrum of 2^e samples of source from start on (0 past its end),
    // weighted by window (null for none): keeps the coefficients, stores bin p + 1 of the
    // magnitudes at point p scaled so the largest is level 255 (linear) or in decibels, and
    // sets valueUnit. 0 on success, 1 when the channel already holds a spectrum or memory fails.
    int transformFrom(WaveChannel& source, int start, int e, ProgressSteps* progress,
        bool logarithmic, const float* window);
    // Writes the inverse transform of the kept coefficients into source from start on.
    int transformBack(WaveChannel& source, int start, int e, ProgressSteps* progress) const;
    // Zeroes the coefficients of bins a + 1 ... b + 1 and of their mirror bins.
    void zeroBins(int a, int b);
    // The magnitude of the kept coefficients of point p's bin (p + 1); 0 without them.
    float binMagnitude(int p) const;

    void drawTrace(QPainter& painter, bool drawPoints);
    void drawBaseline(QPainter& painter) const;
    void drawCursor(QPainter& painter);

    qint8* blocks[maxBlocks] = {};
    int sampleCount = 0;
    int firstVisible = 0;
    int originX = 0;
    int cursorSample = 0;
    double scaleX = 1.0;
    double scaleY = 1.0;
    int baselineY = 0;
    int zeroOffset = 0;
    float* spectrumBuffers[2] = {}; // a spectrum's real and imaginary coefficients
    float valueUnit = 0.0f; // a spectrum's size of one stored level
    QColor traceColor = Qt::white;
    QColor pointColor = Qt::white;
    QColor baselineColor = Qt::gray;
    QColor cursorColor = Qt::white;
    QRect channelArea { QPoint(0, 0), QPoint(1, 1) };
    int smoothHalfWidth = 0;
    int smoothWindow = 1;
    int smoothState[2] = {};
    bool hasData = false;
    bool cursorEnabled = false;
    bool baselineEnabled = false;
    quint8 smoothMode = 0;
    bool isSpectrum = false;
    bool modified = false;
    bool detectorOffset = false;

private:
    int modeTerm(int index) const;
    int termOf(int sample) const;
    int windowSum(int index) const;
    bool rawDisplay() const;
    int runEnd(int start) const;
    std::pair<int, int> rawRange(int from, int to) const;
    void drawRawColumns(QPainter& painter, int first, ColumnWriter& writer) const;
    void drawWindowColumns(QPainter& painter, int first, ColumnWriter& writer) const;
    void drawColumns(QPainter& painter, int first, bool drawPoints);
    void drawLines(QPainter& painter, int first, bool drawPoints);
    void drawPolylines(QPainter& painter);
};
