// What an SVG picture drew, read back for the drawing tests.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPolygon>

namespace testsvg {

// The polylines of the picture, in order, each as its points.
QList<QPolygon> polylines(const QByteArray& svg);

} // namespace testsvg
