#include "svg.h"

#include <QStringList>
#include <QXmlStreamReader>

namespace testsvg {

QList<QPolygon> polylines(const QByteArray& svg)
{
    QList<QPolygon> lines;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement
            || xml.name() != QLatin1String("polyline"))
            continue;
        QPolygon line;
        const QString points = xml.attributes().value("points").toString();
        for (const QString& pair : points.split(' ', Qt::SkipEmptyParts)) {
            const QStringList xy = pair.split(',');
            line << QPoint(xy.value(0).toInt(), xy.value(1).toInt());
        }
        lines << line;
    }
    return lines;
}

} // namespace testsvg
