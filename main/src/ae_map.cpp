#include "ae_map.h"

#include "scales.h"

#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Room around the plot, in pixels: the y labels at the left, the x labels at the foot, the
// legend at the right.
constexpr int leftRoom = 52;
constexpr int rightRoom = 64;
constexpr int topRoom = 16;
constexpr int bottomRoom = 34;
constexpr double dotRadius = 5;

QPointF placeOf(const HitRow& row)
{
    return row.inPlane ? QPointF(row.x, row.y) : QPointF(row.positionMetres, 0);
}

// The decimals a tick label needs at step.
int decimalsOf(double step)
{
    return std::max(0, int(std::ceil(-std::log10(step) - 1e-9)));
}

QString metresText(double value, double step)
{
    return QLocale().toString(value, 'f', decimalsOf(step));
}

} // namespace

MapContents mapOfRows(const QList<HitRow>& rows, const HitQuery& query)
{
    MapContents contents;
    if (!query.locates())
        return contents;
    contents.line = !query.planar();
    if (contents.line) {
        contents.sensors = { QPointF(0, 0), QPointF(query.spacingMetres, 0) };
        contents.channels = { query.pair[0], query.pair[1] };
    } else {
        contents.sensors = query.sensors;
        for (int c = 0; c < query.sensors.size(); ++c)
            contents.channels << c;
    }
    std::map<int, int> dotOfEvent;
    for (const HitRow& row : rows) {
        if (!row.located)
            continue;
        const double decibels = decibelsAe(row.hit.peakVolts, query.preampDb);
        const auto found = dotOfEvent.find(row.event);
        if (found == dotOfEvent.end()) {
            dotOfEvent[row.event] = int(contents.dots.size());
            contents.dots << MapDot { row.event, placeOf(row), decibels };
        } else {
            MapDot& dot = contents.dots[found->second];
            dot.decibels = std::max(dot.decibels, decibels);
        }
    }
    return contents;
}

bool amongSensors(const HitRow& row, const HitQuery& query)
{
    if (!row.inPlane) {
        const double spare = query.spacingMetres / 50;
        return row.positionMetres >= -spare && row.positionMetres <= query.spacingMetres + spare;
    }
    const QRectF box = boundingBox(query.sensors);
    const double spare = std::max(box.width(), box.height()) / 50;
    return row.x >= box.left() - spare && row.x <= box.right() + spare
        && row.y >= box.top() - spare && row.y <= box.bottom() + spare;
}

QColor amplitudeColor(double fraction)
{
    const double f = std::clamp(fraction, 0.0, 1.0);
    return QColor::fromHsvF(float((1 - f) * 240 / 360), 1.0f, 0.9f);
}

int scaleDecimals(double weakest, double strongest)
{
    const double span = strongest - weakest;
    return span >= 1 ? 0 : span >= 0.1 ? 1 : 2;
}

QPointF MapTransform::toPixels(QPointF place) const
{
    return QPointF(pixels.left() + (place.x() - metres.left()) / metres.width() * pixels.width(),
        pixels.bottom() - (place.y() - metres.top()) / metres.height() * pixels.height());
}

MapTransform mapTransform(const MapContents& contents, QSize size)
{
    MapTransform transform;
    transform.pixels = QRectF(leftRoom, topRoom, std::max(1, size.width() - leftRoom - rightRoom),
        std::max(1, size.height() - topRoom - bottomRoom));
    // The sensors' box, widened to the dots that lie no farther from it than its size.
    const QRectF box = boundingBox(contents.sensors);
    const double extent = std::max({ box.width(), box.height(), 1e-3 });
    const QRectF reach = box.adjusted(-extent, -extent, extent, extent);
    QList<QPointF> places = contents.sensors;
    for (const MapDot& dot : contents.dots)
        if (reach.contains(dot.place))
            places << dot.place;
    QRectF shown = boundingBox(places);
    const double margin = 0.08 * std::max({ shown.width(), shown.height(), 1e-3 });
    shown.adjust(-margin, -margin, margin, margin);
    // One scale for both axes: the shown part grows to the plot's shape about its centre.
    const QRectF& area = transform.pixels;
    const double scale = std::min(area.width() / shown.width(), area.height() / shown.height());
    const QSizeF metres(area.width() / scale, area.height() / scale);
    transform.metres
        = QRectF(shown.center() - QPointF(metres.width(), metres.height()) / 2, metres);
    return transform;
}

int dotAt(const QList<MapDot>& dots, const MapTransform& transform, QPointF point, double radius)
{
    int nearest = -1;
    double best = radius;
    for (int d = 0; d < dots.size(); ++d) {
        const QPointF offset = transform.toPixels(dots[d].place) - point;
        const double distance = std::hypot(offset.x(), offset.y());
        if (distance <= best) {
            best = distance;
            nearest = d;
        }
    }
    return nearest;
}

AeMapWidget::AeMapWidget(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(260, 200);
    setToolTip(tr("Места источников; щелчок по точке выбирает строки её события"));
}

void AeMapWidget::setContents(const MapContents& contents)
{
    shown = contents;
    chosen = -1;
    weakest = HUGE_VAL;
    strongest = -HUGE_VAL;
    for (const MapDot& dot : shown.dots) {
        weakest = std::min(weakest, dot.decibels);
        strongest = std::max(strongest, dot.decibels);
    }
    update();
}

void AeMapWidget::setChosenEvent(int event)
{
    chosen = event;
    update();
}

QSize AeMapWidget::sizeHint() const
{
    return QSize(340, 260);
}

void AeMapWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (shown.sensors.isEmpty())
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    const MapTransform transform = mapTransform(shown, size());
    drawAxes(painter, transform);
    drawSensors(painter, transform);
    drawDots(painter, transform);
    drawLegend(painter);
}

void AeMapWidget::mousePressEvent(QMouseEvent* event)
{
    const int dot
        = dotAt(shown.dots, mapTransform(shown, size()), event->position(), 2 * dotRadius);
    if (dot < 0)
        return;
    setChosenEvent(shown.dots[dot].event);
    emit eventClicked(shown.dots[dot].event);
}

// Grid lines and labels at 1-2-5 steps about 70 pixels apart; the plane's y axis too.
void AeMapWidget::drawAxes(QPainter& painter, const MapTransform& transform) const
{
    const QRectF& area = transform.pixels;
    const QRectF& metres = transform.metres;
    painter.setPen(QColor(120, 120, 120));
    painter.drawRect(area);
    const double xStep = niceStep(metres.width() / std::max(1.0, area.width() / 70));
    for (const double x : ticksBetween(metres.left(), metres.right(), xStep)) {
        const double px = transform.toPixels(QPointF(x, 0)).x();
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(px, area.top()), QPointF(px, area.bottom()));
        painter.setPen(Qt::black);
        painter.drawText(
            QRectF(px - 35, area.bottom() + 2, 70, 14), Qt::AlignHCenter, metresText(x, xStep));
    }
    painter.drawText(
        QRectF(area.left(), area.bottom() + 17, area.width(), 14), Qt::AlignRight, tr("X, м"));
    if (shown.line)
        return;
    const double yStep = niceStep(metres.height() / std::max(1.0, area.height() / 70));
    for (const double y : ticksBetween(metres.top(), metres.bottom(), yStep)) {
        const double py = transform.toPixels(QPointF(0, y)).y();
        painter.setPen(QColor(225, 225, 225));
        painter.drawLine(QPointF(area.left(), py), QPointF(area.right(), py));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(0, py - 7, leftRoom - 4, 14), Qt::AlignRight | Qt::AlignVCenter,
            metresText(y, yStep));
    }
    painter.drawText(
        QRectF(0, 0, leftRoom + 40, topRoom), Qt::AlignLeft | Qt::AlignVCenter, tr("Y, м"));
}

// The plate the sensors span (the line between two), each sensor a square with its channel.
void AeMapWidget::drawSensors(QPainter& painter, const MapTransform& transform) const
{
    const QRectF box = boundingBox(shown.sensors);
    const QPointF corner = transform.toPixels(box.topLeft());
    const QPointF opposite = transform.toPixels(box.bottomRight());
    painter.setPen(QPen(QColor(90, 90, 90), shown.line ? 3 : 1.5));
    painter.setBrush(QColor(235, 238, 242));
    if (shown.line)
        painter.drawLine(corner, opposite);
    else
        painter.drawRect(QRectF(corner, opposite).normalized());
    // Labels stand towards the plate's middle, so that none runs into the axes or the legend.
    const QPointF middle = transform.toPixels(box.center());
    for (int s = 0; s < shown.sensors.size(); ++s) {
        const QPointF at = transform.toPixels(shown.sensors[s]);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(40, 40, 40));
        painter.drawRect(QRectF(at - QPointF(5, 5), QSizeF(10, 10)));
        painter.setPen(Qt::black);
        const bool right = at.x() > middle.x();
        const bool below = at.y() > middle.y() || shown.line;
        painter.drawText(
            QRectF(right ? at.x() - 47 : at.x() + 7, below ? at.y() - 21 : at.y() + 7, 40, 14),
            right ? Qt::AlignRight : Qt::AlignLeft, tr("к%1").arg(shown.channels.value(s) + 1));
    }
}

void AeMapWidget::drawDots(QPainter& painter, const MapTransform& transform) const
{
    const double span = strongest - weakest;
    for (const MapDot& dot : shown.dots) {
        const QPointF at = transform.toPixels(dot.place);
        if (!transform.pixels.contains(at))
            continue;
        painter.setPen(QPen(QColor(60, 60, 60), 1));
        painter.setBrush(amplitudeColor(span > 0 ? (dot.decibels - weakest) / span : 0.5));
        painter.drawEllipse(at, dotRadius, dotRadius);
        if (dot.event == chosen) {
            painter.setPen(QPen(Qt::black, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, 2 * dotRadius, 2 * dotRadius);
        }
    }
    if (shown.dots.isEmpty()) {
        painter.setPen(QColor(100, 100, 100));
        // Above the sensors' line or plate, which the middle of the map holds.
        painter.drawText(transform.pixels.adjusted(0, 6, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
            tr("Нет событий с местом"));
    }
}

// The colour scale at the right: the strongest amplitude at its top, the weakest at its foot,
// with the decimals that show their span; of one colour and one figure when every dot has one
// amplitude.
void AeMapWidget::drawLegend(QPainter& painter) const
{
    if (shown.dots.isEmpty())
        return;
    const QRectF bar(
        width() - rightRoom + 12, topRoom + 16, 12, height() - topRoom - bottomRoom - 32);
    const bool one = !(strongest > weakest);
    painter.setPen(Qt::NoPen);
    for (int y = 0; y < int(bar.height()); ++y) {
        painter.setBrush(amplitudeColor(one ? 0.5 : 1 - y / std::max(1.0, bar.height() - 1)));
        painter.drawRect(QRectF(bar.left(), bar.top() + y, bar.width(), 1));
    }
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(bar);
    const QLocale locale;
    painter.drawText(QRectF(bar.left() - 12, 0, rightRoom, 14), Qt::AlignLeft, tr("дБАЭ"));
    const int digits = scaleDecimals(weakest, strongest);
    painter.drawText(QRectF(bar.left() - 12, bar.top() - 15, rightRoom, 14), Qt::AlignLeft,
        locale.toString(strongest, 'f', digits));
    if (!one)
        painter.drawText(QRectF(bar.left() - 12, bar.bottom() + 1, rightRoom, 14), Qt::AlignLeft,
            locale.toString(weakest, 'f', digits));
}
