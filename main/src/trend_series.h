// The series that a monitoring session's trend plots show, built from its hits and extended as
// captures add hits: which hits a plot takes, cumulative hits and energy against time, counts in
// bins (amplitudes, positions on the line) and in cells (places in the plane). Depends on
// trend_data.h.
#pragma once

#include "trend_data.h"

#include <QPointF>
#include <QRectF>
#include <QSet>
#include <QVector>
#include <limits>

// The hits a plot takes: channels as bits (bit c for 0-based channel c) and arrival times
// from ... to (UTC seconds, both included).
struct TrendFilter
{
    quint32 channels = 0xF;
    double from = -std::numeric_limits<double>::infinity();
    double to = std::numeric_limits<double>::infinity();

    bool accepts(const TrendHit& hit) const;
};

// Adds batch to hits kept in time order (hits of equal times in the order they came). True when
// the batch only lengthened them (none of it earlier than the last hit kept); false when some
// went in among them, so that series built from them must be built anew.
bool mergeByTime(QVector<TrendHit>& hits, QVector<TrendHit> batch);

// The index of the first of hits (in time order) at or after utcSeconds; hits.size() for none.
qsizetype firstAtOrAfter(const QVector<TrendHit>& hits, double utcSeconds);

// The running count and energy at each hit taken, in time order.
struct CumulativeSeries
{
    QVector<double> times; // UTC seconds
    QVector<double> hits;
    QVector<double> energy; // V^2 s
};

// Extends series by the hits of hits[begin ...] that filter takes; they are in time order and
// none is earlier than the series' last. Returns how many were taken.
int extendCumulative(CumulativeSeries& series, const QVector<TrendHit>& hits, qsizetype begin,
    const TrendFilter& filter);

// Counts in bins [origin + k * width, origin + (k + 1) * width), k = first ... first +
// counts.size() - 1, grown to either side as values come, at most maxBins of them; a value
// that would need more, and one that is not a number, is counted as outside.
struct Histogram
{
    static constexpr int maxBins = 10000;

    double origin = 0;
    double width = 1;
    int first = 0;
    QVector<double> counts;
    qint64 outside = 0;

    void add(double value);
    // Where bin i of counts starts.
    double binStart(int i) const { return origin + (first + i) * width; }
};

// Extends amplitudes (bins of 1 dB_AE from 0) by the amplitudes of the hits of hits[begin ...]
// that filter takes; returns how many were taken.
int extendAmplitudes(Histogram& amplitudes, const QVector<TrendHit>& hits, qsizetype begin,
    const TrendFilter& filter);

// Counts in columns x rows square cells over area (left to right, then rows from area.top(),
// the lowest y, up); places outside it are counted as outside. The right and top edges belong
// to the last cells.
struct DensityGrid
{
    QRectF area;
    int columns = 0;
    int rows = 0;
    QVector<double> counts;
    qint64 outside = 0;

    void add(QPointF place);
    double count(int column, int row) const { return counts[row * columns + column]; }
    // The centre of a cell.
    QPointF centre(int column, int row) const;
};

// The grid the plane's sources are counted in: the sensors' bounding box with a quarter of its
// longer side to spare all round (sources a little outside the sensors show), in square cells,
// cellsAcross of them along that longer side with its spare; 1 m across around the place when
// the places span nothing.
DensityGrid planeGrid(const QList<QPointF>& sensors, int cellsAcross);

// The located sources of the hits taken: each event once, from the first of its hits that is
// taken (a located hit without an event counts alone). Positions on the line go into a
// histogram; places in the plane into the grid, and as points while there are no more than
// pointLimit of them.
struct SourceSeries
{
    QSet<qint64> events;
    Histogram line;
    DensityGrid grid;
    QVector<QPointF> points;
    qint64 planeSources = 0;
    int pointLimit = 5000;
};

// Extends sources by the located hits of hits[begin ...] that filter takes; returns how many
// sources were added.
int extendSources(SourceSeries& sources, const QVector<TrendHit>& hits, qsizetype begin,
    const TrendFilter& filter);
