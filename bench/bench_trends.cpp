// The trend plots at a week of monitoring: with a million hits in the dock (4 channels, 2000
// captures of 500 hits over seven days, amplitudes 30-100 dB_AE, a third of the hits in events
// located in the plane of four sensors), one more capture's 500 hits appended and every plot
// redrawn at 900 x 600, against the transfer of the shortest capture at 115200 bit/s.
#include "ratio_reporter.h"
#include "trend_dock.h"

#include <QApplication>
#include <cmath>
#include <qcustomplot.h>

namespace {

constexpr int hitsPerCapture = 500;
constexpr int captures = 2000;
constexpr double start = 1.7e9; // UTC seconds
constexpr double capturePeriod = 7 * 86400.0 / captures;

// The shortest capture: 4 channels x 4096 one-byte samples, each byte 10 bits on the line
// (start, 8 data, stop) at 115200 bit/s.
constexpr double transferSeconds = 4 * 4096 * 10 / 115200.0;

// Capture n's hits: arrivals within its first 16 ms, channels in turn; every third group of
// four is an event located on the 1 m square of the sensors.
QVector<TrendHit> capture(int n)
{
    QVector<TrendHit> hits(hitsPerCapture);
    quint32 noise = quint32(n) * 2654435761u + 1;
    auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return (noise >> 8) / double(1 << 24);
    };
    for (int k = 0; k < hitsPerCapture; ++k) {
        TrendHit& hit = hits[k];
        hit.id = qint64(n) * hitsPerCapture + k;
        hit.capture = n;
        hit.channel = k % 4;
        hit.utcSeconds = start + n * capturePeriod + 0.016 * next();
        hit.amplitudeDb = 30 + 70 * next() * next();
        hit.energy = 1e-12 * std::pow(10.0, (hit.amplitudeDb - 30) / 20);
        const qint64 group = hit.id / 4;
        if (group % 3 == 0) {
            hit.event = group;
            hit.located = true;
            hit.inPlane = true;
            hit.x = 0.1 + 0.8 * next();
            hit.y = 0.1 + 0.8 * next();
        }
    }
    return hits;
}

void BM_AppendAndReplot(benchmark::State& state)
{
    TrendDock dock;
    dock.setLocationLayout(true, { { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } }, 1);
    QVector<TrendHit> session;
    session.reserve(qsizetype(captures) * hitsPerCapture);
    for (int n = 0; n < captures; ++n)
        session.append(capture(n));
    dock.setHits(session);
    dock.resize(900, 600);
    dock.show();
    QApplication::processEvents();
    QVector<QVector<TrendHit>> batches;
    for (qint64 n = 0; n < state.max_iterations; ++n)
        batches.append(capture(captures + int(n)));
    int n = 0;
    for (auto _ : state) {
        dock.appendHits(batches[n++]);
        for (int p = 0; p < TrendDock::plotCount; ++p)
            dock.plot(TrendDock::Plot(p))->replot(QCustomPlot::rpImmediateRefresh);
    }
    state.counters["hits"] = double(captures + n) * hitsPerCapture;
}

} // namespace

// Each repetition starts from the million; its 20 appends bring it to 1.01 million.
BENCHMARK(BM_AppendAndReplot)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Goal goal { "BM_AppendAndReplot/iterations:20", "", 0.05,
        "append 500 hits to 10^6, replot 4 plots / capture transfer" };
    goal.fixedSeconds = transferSeconds;
    goal.fixedFormula = "4 channels x 4096 bytes x 10 bits / 115200 bit/s";
    return runWithGoals(argc, argv, { goal });
}
