// A full repaint of 5 channels x 163840 samples, the whole record visible, into 1920 x 1080:
// the program's drawing, the straightforward per-sample drawing, and QCustomPlot's replot.
#include "ratio_reporter.h"
#include "support/records.h"
#include "support/reference_render.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <qcustomplot.h>

namespace {

constexpr int width = 1920;
constexpr int height = 1080;
constexpr int channels = 5;
constexpr int samples = 163840;

WaveStore& record()
{
    static auto shared = testrecords::make(
        channels, samples, 11, QRect(QPoint(0, 0), QPoint(width - 1, height - 1)));
    return *shared;
}

void BM_RepaintProgram(benchmark::State& state)
{
    WaveStore& r = record();
    QImage frame(width, height, QImage::Format_RGB32);
    for (auto _ : state) {
        frame.fill(Qt::black);
        QPainter painter(&frame);
        r.draw(painter);
    }
}

// The same repaint with the scales, grid and channel labels over it.
void BM_RepaintProgramScales(benchmark::State& state)
{
    WaveStore& r = record();
    QImage frame(width, height, QImage::Format_RGB32);
    const QRect plot(0, 0, width, height);
    for (auto _ : state) {
        frame.fill(Qt::black);
        QPainter painter(&frame);
        r.draw(painter);
        drawRecordScales(painter, r, plot, true);
    }
}

// The same repaint showing detection and smoothing over the widest window.
void BM_RepaintProgramSmoothed(benchmark::State& state)
{
    static auto smoothed = [] {
        auto r = testrecords::make(
            channels, samples, 11, QRect(QPoint(0, 0), QPoint(width - 1, height - 1)));
        r->setSmoothing(3, 126);
        return r;
    }();
    QImage frame(width, height, QImage::Format_RGB32);
    for (auto _ : state) {
        frame.fill(Qt::black);
        QPainter painter(&frame);
        smoothed->draw(painter);
    }
}

void BM_RepaintProgramOnPixmap(benchmark::State& state)
{
    WaveStore& r = record();
    QPixmap frame(width, height);
    for (auto _ : state) {
        frame.fill(Qt::black);
        QPainter painter(&frame);
        r.draw(painter);
    }
}

void BM_RepaintStraightforward(benchmark::State& state)
{
    WaveStore& r = record();
    QImage frame(width, height, QImage::Format_RGB32);
    for (auto _ : state) {
        frame.fill(Qt::black);
        QPainter painter(&frame);
        for (int i = 0; i < channels; ++i)
            reference::drawTrace(painter, *r.channel(i), false);
    }
}

void BM_RepaintQCustomPlot(benchmark::State& state)
{
    WaveStore& r = record();
    QCustomPlot plot;
    plot.resize(width, height);
    QVector<double> keys(samples);
    for (int k = 0; k < samples; ++k)
        keys[k] = k;
    for (int i = 0; i < channels; ++i) {
        QVector<double> values(samples);
        for (int k = 0; k < samples; ++k)
            values[k] = r.channel(i)->sample(k) - 256.0 * i;
        QCPGraph* graph = plot.addGraph();
        graph->setData(keys, values, true);
        graph->setPen(QPen(r.channel(i)->traceColor));
    }
    plot.xAxis->setRange(0, samples - 1);
    plot.yAxis->setRange(-256.0 * channels + 128, 128);
    plot.show();
    for (auto _ : state)
        plot.replot(QCustomPlot::rpImmediateRefresh);
}

} // namespace

BENCHMARK(BM_RepaintProgram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintProgramSmoothed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintProgramScales)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintProgramOnPixmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintStraightforward)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintQCustomPlot)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return runWithGoals(argc, argv,
        { { "BM_RepaintProgram", "BM_RepaintQCustomPlot", 0.5,
              "repaint 5 x 163840 into 1920 x 1080: program / QCustomPlot" },
            { "BM_RepaintProgramSmoothed", "BM_RepaintProgram", 1.5,
                "repaint in mode 3, half-width 126 / the same in mode 0" },
            { "BM_RepaintProgramScales", "BM_RepaintProgram", 1.2,
                "repaint with scales / without" },
            { "BM_RepaintStraightforward", "BM_RepaintQCustomPlot", 0,
                "straightforward per-sample drawing / QCustomPlot" },
            { "BM_RepaintProgramOnPixmap", "BM_RepaintQCustomPlot", 0,
                "program drawing through the painter / QCustomPlot" } });
}
