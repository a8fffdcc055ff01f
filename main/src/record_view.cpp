#include "record_view.h"

#include "wave_stor.h"
#include "wave_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QPaintDevice>
#include <QPainter>
#include <QPolygon>
#include <algorithm>
#include <cmath>

bool printRendering = false;

namespace {

int roundToInt(double v)
{
    return int(std::lround(v));
}

} // namespace

// --- Channels -----------------------------------------------------------------------------------

// Writes the vertical runs of column mode. On an image device painted plainly (no transform,
// no clip, opaque pen, SourceOver) the pixels are written straight into the image; otherwise
// through the painter. Either way the pixels are those QPainter::drawLine gives.
class ColumnWriter
{
public:
    ColumnWriter(QPainter& painter, const QColor& color)
        : painter(painter)
    {
        QPaintDevice* device = painter.device();
        if (device->devType() != QInternal::Image || color.alpha() != 255
            || !painter.transform().isIdentity() || painter.hasClipping()
            || painter.compositionMode() != QPainter::CompositionMode_SourceOver
            || painter.testRenderHint(QPainter::Antialiasing))
            return;
        auto* target = static_cast<QImage*>(device);
        const QImage::Format format = target->format();
        if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32
            && format != QImage::Format_ARGB32_Premultiplied)
            return;
        bits = target->bits();
        bytesPerLine = target->bytesPerLine();
        width = target->width();
        height = target->height();
        pixel = color.rgba();
    }

    // A vertical line from top to bottom (inclusive), or a point when they are equal.
    void column(int x, int top, int bottom)
    {
        if (!bits) {
            if (top == bottom)
                painter.drawPoint(x, top);
            else
                painter.drawLine(x, bottom, x, top);
            return;
        }
        if (x < 0 || x >= width)
            return;
        const int from = std::max(top, 0);
        const int to = std::min(bottom, height - 1);
        uchar* line = bits + qsizetype(from) * bytesPerLine + qsizetype(x) * 4;
        for (int y = from; y <= to; ++y, line += bytesPerLine)
            *reinterpret_cast<QRgb*>(line) = pixel;
    }

private:
    QPainter& painter;
    uchar* bits = nullptr; // null: draw through the painter
    qsizetype bytesPerLine = 0;
    int width = 0;
    int height = 0;
    QRgb pixel = 0;
};

namespace {

struct Column
{
    int x = 0;
    int top = 0; // smallest y
    int bottom = 0; // largest y

    void start(int atX, int y)
    {
        x = atX;
        top = bottom = y;
    }
    void fold(int y)
    {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
    }
};

} // namespace

void WaveChannel::drawTrace(QPainter& painter, bool drawPoints)
{
    if (!painter.device() || scaleX == 0.0 || !hasData)
        return;
    if (printRendering) {
        drawPolylines(painter);
        return;
    }
    const int height = painter.device()->height();
    const int extent = roundToInt(128 * scaleY);
    if (baselineY + extent < 0 || baselineY - extent >= height)
        return;
    painter.setPen(QPen(traceColor, 1, Qt::SolidLine));
    const int first = std::clamp(firstVisible + roundToInt(-1.0 / scaleX), 0, maxSamples);
    if (scaleX <= 0.5)
        drawColumns(painter, first, drawPoints);
    else
        drawLines(painter, first, drawPoints);
}

int WaveChannel::runEnd(int start) const
{
    const long long column = std::llround(start * scaleX);
    long long end
        = std::max<long long>(start + 1, std::llround(std::ceil((column + 0.5) / scaleX)));
    while (end > start + 1 && std::llround((end - 1) * scaleX) != column)
        --end;
    while (end < sampleCount && std::llround(end * scaleX) == column)
        ++end;
    return int(std::min<long long>(end, sampleCount));
}

std::pair<int, int> WaveChannel::rawRange(int from, int to) const
{
    int low = 127;
    int high = -128;
    while (from <= to) {
        qint8* piece = nullptr;
        const int count = std::min(blockAt(from, &piece), to - from + 1);
        const auto [min, max] = std::minmax_element(piece, piece + count);
        low = std::min<int>(low, *min);
        high = std::max<int>(high, *max);
        from += count;
    }
    return { low, high };
}

// Column mode over raw samples: the extent of each column is found once, from the smallest
// and largest stored byte of its run, instead of folding every sample's pixel position. The
// columns are the same as drawColumns draws sample by sample.
void WaveChannel::drawRawColumns(QPainter& painter, int first, ColumnWriter& writer) const
{
    const int lastX = painter.device()->width() - 1;
    int start = first;
    int x = sampleToX(start);
    for (;;) {
        const int end = runEnd(start);
        const auto [low, high] = rawRange(start, std::min(end, sampleCount - 1));
        writer.column(x, valueToY(high), valueToY(low));
        if (end >= sampleCount)
            break;
        x = sampleToX(end);
        if (x > lastX)
            break; // the one-sample column that would follow lies beyond the device
        start = end;
    }
}

// Column mode for detection, square and the smoothing modes: the running window's sum walks
// the samples byte by byte with a table of the mode's terms, and since the truncated mean is
// monotonic in the sum, a column's extent follows from the smallest and largest sum of its run.
// The columns are the same as drawColumns draws sample by sample.
void WaveChannel::drawWindowColumns(QPainter& painter, int first, ColumnWriter& writer) const
{
    int terms[256];
    for (int byte = 0; byte < 256; ++byte)
        terms[byte] = termOf(qint8(byte));
    const bool windowed = smoothMode == 2 || smoothMode == 3 || smoothMode == 6;
    const int k = windowed ? smoothHalfWidth : 0;
    const int length = windowed ? smoothWindow : 1;
    auto term = [&](int j) {
        return (j < 0 || j >= sampleCount) ? 0
                                           : terms[quint8(blocks[j / blockSize][j % blockSize])];
    };
    int sum = 0;
    for (int j = first - k; j <= first + k; ++j)
        sum += term(j);
    const int lastX = painter.device()->width() - 1;
    int start = first;
    int x = sampleToX(start);
    for (;;) {
        const int end = runEnd(start);
        const int last = std::min(end, sampleCount - 1);
        int low = sum;
        int high = sum;
        for (int i = start + 1; i <= last; ++i) {
            sum += term(i + k) - term(i - k - 1);
            low = std::min(low, sum);
            high = std::max(high, sum);
        }
        writer.column(x, valueToY(high / length), valueToY(low / length));
        if (end >= sampleCount)
            break;
        x = sampleToX(end);
        if (x > lastX)
            break;
        start = end; // the sum now belongs to the first sample of the next column
    }
}

// Column mode: every pixel column gets one vertical line over the values that fall in it,
// including the first value of the next column, so that adjacent columns touch.
void WaveChannel::drawColumns(QPainter& painter, int first, bool drawPoints)
{
    if (first >= sampleCount)
        return;
    const int lastX = painter.device()->width() - 1;
    ColumnWriter writer(painter, traceColor);
    if (scaleX > 0.0 && !drawPoints) {
        if (rawDisplay()) {
            drawRawColumns(painter, first, writer);
            return;
        }
        if (smoothMode != 4) {
            drawWindowColumns(painter, first, writer);
            return;
        }
    }
    auto finish = [&](const Column& column) {
        writer.column(column.x, column.top, column.bottom);
        if (drawPoints) {
            painter.setPen(QPen(pointColor, 1, Qt::SolidLine));
            painter.drawPoint(column.x, column.top);
            painter.drawPoint(column.x, column.bottom);
            painter.setPen(QPen(traceColor, 1, Qt::SolidLine));
        }
    };
    Column column;
    column.start(sampleToX(first), valueToY(displayedValue(first)));
    for (int i = first + 1; i < sampleCount; ++i) {
        const int x = sampleToX(i);
        const int y = valueToY(nextDisplayedValue(i));
        column.fold(y);
        if (x != column.x) {
            finish(column);
            column.start(x, y);
            if (x > lastX)
                break;
        }
    }
    finish(column);
}

// Line mode: a line from each point to the next.
void WaveChannel::drawLines(QPainter& painter, int first, bool drawPoints)
{
    if (first >= sampleCount)
        return;
    const int lastX = painter.device()->width() - 1;
    const QPen tracePen(traceColor, 1, Qt::SolidLine);
    const QPen pointPen(pointColor, 1, Qt::SolidLine);
    QPoint from(sampleToX(first), valueToY(displayedValue(first)));
    for (int i = first + 1; i < sampleCount; ++i) {
        const QPoint to(sampleToX(i), valueToY(nextDisplayedValue(i)));
        painter.drawLine(from, to);
        if (drawPoints) {
            painter.setPen(pointPen);
            painter.drawPoint(from);
            painter.setPen(tracePen);
        }
        from = to;
        if (to.x() > lastX)
            break;
    }
    if (drawPoints) {
        painter.setPen(pointPen);
        painter.drawPoint(from);
    }
}

// Print rendering: full-resolution polylines in batches, each starting at the last point of
// the one before.
void WaveChannel::drawPolylines(QPainter& painter)
{
    if (firstVisible >= sampleCount)
        return;
    painter.setPen(linePen(Qt::black));
    QPolygon points;
    points.reserve(polylineBatch);
    for (int i = firstVisible; i < sampleCount; ++i) {
        const int value = i == firstVisible ? displayedValue(i) : nextDisplayedValue(i);
        const QPoint point(sampleToX(i), valueToY(value));
        points.append(point);
        if (points.size() == polylineBatch) {
            painter.drawPolyline(points);
            points.clear();
            points.append(point);
        }
        if (point.x() >= channelArea.right())
            break;
    }
    if (points.size() >= 2)
        painter.drawPolyline(points);
}

QPen linePen(const QColor& screenColour)
{
    QPen pen(printRendering ? QColor(Qt::black) : screenColour, 1, Qt::SolidLine);
    pen.setCosmetic(printRendering);
    return pen;
}

void WaveChannel::drawBaseline(QPainter& painter) const
{
    if (!hasData || !baselineEnabled)
        return;
    painter.setPen(linePen(baselineColor));
    const int y = baselineY - zeroOffset;
    painter.drawLine(channelArea.left(), y, channelArea.right(), y);
}

void WaveChannel::drawCursor(QPainter& painter)
{
    if (!hasData || !cursorEnabled)
        return;
    const int x = cursorX();
    if (x < channelArea.left() || x > channelArea.right())
        return;
    painter.setPen(linePen(cursorColor));
    painter.drawLine(x, channelArea.top(), x, channelArea.bottom());
    const int y = valueToY(displayedValue(cursorIndex()));
    const int s = printRendering ? roundToInt(10 * scaleY) : 5;
    painter.drawLine(x - s, y - s, x + s, y + s);
    painter.drawLine(x + s, y - s, x - s, y + s);
}

// --- Records ------------------------------------------------------------------------------------

void WaveStore::draw(QPainter& painter)
{
    if (!channelSlots[0].channel)
        return;
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const bool drawPoints = scaleX > 2.0;
    for (int i = 0; i < maxChannels && channelSlots[i].channel; ++i)
        channelSlots[i].channel->drawTrace(painter, drawPoints);
    if (header.sineOverlay)
        drawSine(painter);
    for (int i = 0; i < maxChannels && channelSlots[i].channel; ++i)
        channelSlots[i].channel->drawBaseline(painter);
    for (int i = 0; i < maxChannels && channelSlots[i].channel; ++i)
        channelSlots[i].channel->drawCursor(painter);
}

// The 50 Hz reference: one sine period per 20 ms of the visible samples, across the plot.
void WaveStore::drawSine(QPainter& painter) const
{
    const int width = plotRect.right() - plotRect.left();
    if (viewCount() == 0 || width <= 0 || header.clockKHz == 0)
        return;
    painter.setPen(linePen(Qt::white));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const double secondsPerSample = header.ticksPerSample / (header.clockKHz * 1000.0);
    const double phaseStep = secondsPerSample * 2 * M_PI * 50;
    const double perPixel = phaseStep * viewCount() / width;
    const double start = phaseStep * viewFirst();
    const double amplitude = 0.45 * (plotRect.bottom() - plotRect.top());
    const int centre = (plotRect.bottom() - plotRect.top()) / 2;
    QPoint from(plotRect.left(), centre - roundToInt(amplitude * std::sin(start)));
    for (int i = 1; i <= width; ++i) {
        const QPoint to(
            plotRect.left() + i, centre - roundToInt(amplitude * std::sin(start + i * perPixel)));
        painter.drawLine(from, to);
        from = to;
    }
}

// --- Clipboard ----------------------------------------------------------------------------------

void copyCursorValues(const WaveStore& record)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    const QString text = cursorValuesText(record, QLocale());
    if (clipboard && !text.isNull())
        clipboard->setText(text);
}
