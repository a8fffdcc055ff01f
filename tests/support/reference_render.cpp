#include "reference_render.h"

#include "wave_view.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <vector>

namespace reference {

namespace {

int xOf(const WaveChannel& c, int i)
{
    return int(std::lround(i * c.scaleX)) + c.channelArea.left() - c.originX;
}

int yOf(const WaveChannel& c, int value)
{
    return c.baselineY - int(std::lround(value * c.scaleY));
}

} // namespace

// The mode's term of each sample (detection:
// magnitude, -128 showing 127; square: s * s / 129), averaged over 2h + 1 samples (0 outside
// the record) for the smoothing modes, the difference of successive averages for the
// derivative, each kept to 8 signed bits.
std::vector<int> displayedValues(const WaveChannel& c)
{
    const int mode = c.smoothMode;
    const int h = c.smoothHalfWidth;
    const auto term = [&](int i) {
        const int s = i >= 0 && i < c.sampleCount ? c.sample(i) : 0;
        if (mode == 1 || mode == 3 || mode == 4)
            return s == -128 ? 127 : std::abs(s);
        return mode == 5 || mode == 6 ? s * s / 129 : s;
    };
    const auto mean = [&](int i) {
        int sum = 0;
        for (int j = i - h; j <= i + h; ++j)
            sum += term(j);
        return sum / (2 * h + 1);
    };
    std::vector<int> values(size_t(c.sampleCount));
    for (int i = 0; i < c.sampleCount; ++i) {
        int v = term(i);
        if (mode == 2 || mode == 3 || mode == 6)
            v = mean(i);
        else if (mode == 4)
            v = mean(i) - mean(i - 1);
        values[size_t(i)] = qint8(v);
    }
    return values;
}

void drawTrace(QPainter& painter, WaveChannel& c, bool drawPoints)
{
    if (!painter.device() || c.scaleX == 0 || !c.hasData)
        return;
    const int width = painter.device()->width();
    const int height = painter.device()->height();
    const int extent = int(std::lround(128 * c.scaleY));
    if (c.baselineY + extent < 0 || c.baselineY - extent >= height)
        return;
    const QPen tracePen(c.traceColor, 1, Qt::SolidLine);
    const QPen pointPen(c.pointColor, 1, Qt::SolidLine);
    painter.setPen(tracePen);
    const int first = std::clamp(c.firstVisible + int(std::lround(-1.0 / c.scaleX)), 0, 163840);
    if (first >= c.sampleCount)
        return;
    const std::vector<int> shown = displayedValues(c);

    if (c.scaleX <= 0.5) {
        int colX = xOf(c, first);
        int top = yOf(c, shown[size_t(first)]);
        int bottom = top;
        auto drawColumn = [&]() {
            if (top == bottom)
                painter.drawPoint(colX, top);
            else
                painter.drawLine(colX, bottom, colX, top);
            if (drawPoints) {
                painter.setPen(pointPen);
                painter.drawPoint(colX, top);
                painter.drawPoint(colX, bottom);
                painter.setPen(tracePen);
            }
        };
        for (int i = first + 1; i < c.sampleCount; ++i) {
            const int x = xOf(c, i);
            const int y = yOf(c, shown[size_t(i)]);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
            if (x != colX) {
                drawColumn();
                colX = x;
                top = bottom = y;
                if (x > width - 1)
                    break;
            }
        }
        drawColumn();
        return;
    }

    QPoint from(xOf(c, first), yOf(c, shown[size_t(first)]));
    for (int i = first + 1; i < c.sampleCount; ++i) {
        const QPoint to(xOf(c, i), yOf(c, shown[size_t(i)]));
        painter.drawLine(from, to);
        if (drawPoints) {
            painter.setPen(pointPen);
            painter.drawPoint(from);
            painter.setPen(tracePen);
        }
        from = to;
        if (to.x() > width - 1)
            break;
    }
    if (drawPoints) {
        painter.setPen(pointPen);
        painter.drawPoint(from);
    }
}

} // namespace reference
