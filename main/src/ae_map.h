// The map of located acoustic-emission sources: the sensors, the plate they span (or the line
// between two of them), each event's source as a dot coloured by its amplitude, and axes in
// metres. Depends on ae_hits.h.
#pragma once

#include "ae_hits.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QWidget>

// An event's source on the map: its number (0-based), place (metres) and largest amplitude.
struct MapDot
{
    int event = 0;
    QPointF place;
    double decibels = 0;
};

// What a map shows: the sensors' places with their channels (0-based), whether they stand on
// a line (then only the line between them is drawn, with the dots along it), and the dots.
struct MapContents
{
    QList<QPointF> sensors;
    QList<int> channels;
    bool line = false;
    QList<MapDot> dots;
};

// The map of a query's located rows: one dot an event, at its source, with the event's
// largest amplitude in dB_AE at the sensor; empty sensors when the query locates nothing.
MapContents mapOfRows(const QList<HitRow>& rows, const HitQuery& query);

// Whether a located row's source lies among its sensors: within 0 ... D on the line, within
// the sensors' bounding box in the plane, with a fiftieth of their extent to spare (a source at
// a sensor is located within the onsets' uncertainty, a little to either side).
bool amongSensors(const HitRow& row, const HitQuery& query);

// A colour of the amplitude scale for a fraction 0 (weakest: blue) ... 1 (strongest: red).
QColor amplitudeColor(double fraction);

// The decimals of the scale's figures for amplitudes from weakest to strongest dB: as many as
// show the span (0 from a span of 1 dB, 1 from 0.1 dB, else 2).
int scaleDecimals(double weakest, double strongest);

// Where metres fall in pixels: the part of the plane shown, and the pixel rectangle it fills
// (y grows upwards in metres, downwards in pixels).
struct MapTransform
{
    QRectF metres;
    QRectF pixels;

    QPointF toPixels(QPointF place) const;
};

// The transform of a map drawn into a widget of size: the sensors' box and the dots near it
// with a margin, at one scale for both axes in the plane, in the room the axes and the legend
// leave.
MapTransform mapTransform(const MapContents& contents, QSize size);

// The dot within radius pixels of point that lies nearest, -1 when none does.
int dotAt(const QList<MapDot>& dots, const MapTransform& transform, QPointF point, double radius);

class AeMapWidget : public QWidget
{
    Q_OBJECT
public:
    explicit AeMapWidget(QWidget* parent = nullptr);

    void setContents(const MapContents& contents);
    const MapContents& contents() const { return shown; }
    // Rings the dot of event (-1: none).
    void setChosenEvent(int event);
    QSize sizeHint() const override;

signals:
    void eventClicked(int event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void drawAxes(QPainter& painter, const MapTransform& transform) const;
    void drawSensors(QPainter& painter, const MapTransform& transform) const;
    void drawDots(QPainter& painter, const MapTransform& transform) const;
    void drawLegend(QPainter& painter) const;

    MapContents shown;
    int chosen = -1;
    double weakest = 0; // dB_AE of the scale's ends
    double strongest = 0;
};
