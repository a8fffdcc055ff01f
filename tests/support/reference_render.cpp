#include "reference_render.h"

#include "wave_view.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

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

    if (c.scaleX <= 0.5) {
        int colX = xOf(c, first);
        int top = yOf(c, c.displayedValue(first));
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
            const int y = yOf(c, c.nextDisplayedValue(i));
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

    QPoint from(xOf(c, first), yOf(c, c.displayedValue(first)));
    for (int i = first + 1; i < c.sampleCount; ++i) {
        const QPoint to(xOf(c, i), yOf(c, c.nextDisplayedValue(i)));
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
