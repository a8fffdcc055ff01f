#include "trend_series.h"

#include "ae_hits.h"

#include <algorithm>
#include <cmath>

bool TrendFilter::accepts(const TrendHit& hit) const
{
    return hit.channel >= 0 && hit.channel < 32 && (channels >> hit.channel & 1u) != 0
        && hit.utcSeconds >= from && hit.utcSeconds <= to;
}

namespace {

bool earlier(const TrendHit& a, const TrendHit& b)
{
    return a.utcSeconds < b.utcSeconds;
}

} // namespace

bool mergeByTime(QVector<TrendHit>& hits, QVector<TrendHit> batch)
{
    std::stable_sort(batch.begin(), batch.end(), earlier);
    const bool after = hits.isEmpty() || batch.isEmpty() || !earlier(batch.first(), hits.last());
    const qsizetype kept = hits.size();
    hits.append(std::move(batch));
    if (!after)
        std::inplace_merge(hits.begin(), hits.begin() + kept, hits.end(), earlier);
    return after;
}

qsizetype firstAtOrAfter(const QVector<TrendHit>& hits, double utcSeconds)
{
    const auto found = std::lower_bound(hits.begin(), hits.end(), utcSeconds,
        [](const TrendHit& hit, double t) { return hit.utcSeconds < t; });
    return found - hits.begin();
}

int extendCumulative(CumulativeSeries& series, const QVector<TrendHit>& hits, qsizetype begin,
    const TrendFilter& filter)
{
    double count = series.hits.isEmpty() ? 0 : series.hits.last();
    double energy = series.energy.isEmpty() ? 0 : series.energy.last();
    int taken = 0;
    for (qsizetype i = begin; i < hits.size(); ++i) {
        const TrendHit& hit = hits[i];
        if (!filter.accepts(hit))
            continue;
        energy += hit.energy;
        series.times.append(hit.utcSeconds);
        series.hits.append(++count);
        series.energy.append(energy);
        ++taken;
    }
    return taken;
}

void Histogram::add(double value)
{
    // A value a rounding error short of an edge (0.3 m over bins of 0.05 m gives 5.999...)
    // belongs to the bin the edge starts.
    const double k = std::floor((value - origin) / width + 1e-9);
    const double low = counts.isEmpty() ? k : std::min(k, double(first));
    const double high = counts.isEmpty() ? k : std::max(k, double(first) + counts.size() - 1);
    // Bins stay well inside int so that first + i never overflows.
    if (!(high - low < maxBins) || !(std::abs(k) < 1e9)) {
        ++outside;
        return;
    }
    const int bin = int(k);
    if (counts.isEmpty()) {
        first = bin;
        counts.append(0);
    } else if (bin < first) {
        counts.insert(0, first - bin, 0.0);
        first = bin;
    } else if (bin - first >= counts.size()) {
        counts.resize(bin - first + 1);
    }
    counts[bin - first] += 1;
}

int extendAmplitudes(Histogram& amplitudes, const QVector<TrendHit>& hits, qsizetype begin,
    const TrendFilter& filter)
{
    int taken = 0;
    for (qsizetype i = begin; i < hits.size(); ++i)
        if (filter.accepts(hits[i])) {
            amplitudes.add(hits[i].amplitudeDb);
            ++taken;
        }
    return taken;
}

void DensityGrid::add(QPointF place)
{
    const double column = (place.x() - area.left()) / area.width() * columns;
    const double row = (place.y() - area.top()) / area.height() * rows;
    if (columns <= 0 || rows <= 0 || !(column >= 0 && column <= columns)
        || !(row >= 0 && row <= rows)) {
        ++outside;
        return;
    }
    counts[std::min(int(row), rows - 1) * columns + std::min(int(column), columns - 1)] += 1;
}

QPointF DensityGrid::centre(int column, int row) const
{
    return { area.left() + (column + 0.5) * area.width() / columns,
        area.top() + (row + 0.5) * area.height() / rows };
}

DensityGrid planeGrid(const QList<QPointF>& sensors, int cellsAcross)
{
    const QRectF box = boundingBox(sensors);
    const double longer = std::max(box.width(), box.height());
    const double spare = longer > 0 ? longer / 4 : 0.5;
    const double cell = (longer + 2 * spare) / cellsAcross;
    DensityGrid grid;
    grid.columns = std::max(1, int(std::ceil((box.width() + 2 * spare) / cell - 1e-9)));
    grid.rows = std::max(1, int(std::ceil((box.height() + 2 * spare) / cell - 1e-9)));
    const QPointF centre = box.center();
    grid.area = QRectF(centre.x() - grid.columns * cell / 2, centre.y() - grid.rows * cell / 2,
        grid.columns * cell, grid.rows * cell);
    grid.counts.fill(0, grid.columns * grid.rows);
    return grid;
}

int extendSources(SourceSeries& sources, const QVector<TrendHit>& hits, qsizetype begin,
    const TrendFilter& filter)
{
    int added = 0;
    for (qsizetype i = begin; i < hits.size(); ++i) {
        const TrendHit& hit = hits[i];
        if (!hit.located || !filter.accepts(hit))
            continue;
        if (hit.event >= 0) {
            const qsizetype known = sources.events.size();
            sources.events.insert(hit.event);
            if (sources.events.size() == known)
                continue;
        }
        if (hit.inPlane) {
            sources.grid.add({ hit.x, hit.y });
            if (sources.points.size() < sources.pointLimit)
                sources.points.append({ hit.x, hit.y });
            ++sources.planeSources;
        } else {
            sources.line.add(hit.positionMetres);
        }
        ++added;
    }
    return added;
}
