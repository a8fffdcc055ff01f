// The trend plots: the series behind them (filter, time order, cumulative counts and energy,
// bins and cells of sources) with values worked out here, and the dock that shows them: its
// plots filled and extended, the channel filter and time span, the exports, and its place
// beside the hits table.
#include "ae_panel.h"
#include "fmain.h"
#include "support/fixture.h"
#include "support/windows.h"
#include "trend_dock.h"
#include "trend_series.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <qcustomplot.h>

namespace {

constexpr double t0 = 1700000000; // 2023-11-14 22:13:20 UTC

TrendHit hit(double t, int channel, double db = 50, double energy = 0)
{
    TrendHit h;
    h.utcSeconds = t;
    h.channel = channel;
    h.amplitudeDb = db;
    h.energy = energy;
    return h;
}

TrendHit located(double t, int channel, qint64 event, QPointF place, bool inPlane = true)
{
    TrendHit h = hit(t, channel);
    h.event = event;
    h.located = true;
    h.inPlane = inPlane;
    h.positionMetres = place.x();
    h.x = place.x();
    h.y = place.y();
    return h;
}

QList<double> times(const QVector<TrendHit>& hits)
{
    QList<double> out;
    for (const TrendHit& h : hits)
        out << h.utcSeconds;
    return out;
}

QByteArray fileBytes(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_Trends : public WindowTest
{
    Q_OBJECT
private slots:
    void filterAndTimeOrder();
    void cumulativeSeries();
    void histogramBins();
    void densityGrid();
    void sourcesOncePerEvent();
    void dockFillsAndExtends();
    void channelsAndSpan();
    void sourcesPlot();
    void exports();
    void besideHitsTable();
};

void tst_Trends::filterAndTimeOrder()
{
    TrendFilter filter;
    filter.channels = 0b0101;
    filter.from = 10;
    filter.to = 20;
    QVERIFY(filter.accepts(hit(10, 0)) && filter.accepts(hit(20, 2)));
    QVERIFY(!filter.accepts(hit(15, 1)) && !filter.accepts(hit(15, 3)));
    QVERIFY(!filter.accepts(hit(9.999, 0)) && !filter.accepts(hit(20.001, 0)));
    QVERIFY(!filter.accepts(hit(15, -1)) && !filter.accepts(hit(15, 40)));

    QVector<TrendHit> hits;
    QVERIFY(mergeByTime(hits, { hit(5, 0), hit(3, 1), hit(3, 2) }));
    QCOMPARE(times(hits), QList<double>({ 3, 3, 5 }));
    QCOMPARE(hits[0].channel, 1); // equal times keep their order
    QVERIFY(mergeByTime(hits, { hit(7, 0), hit(5, 3) }));
    QCOMPARE(times(hits), QList<double>({ 3, 3, 5, 5, 7 }));
    QVERIFY(!mergeByTime(hits, { hit(8, 0), hit(4, 0) }));
    QCOMPARE(times(hits), QList<double>({ 3, 3, 4, 5, 5, 7, 8 }));
    QCOMPARE(firstAtOrAfter(hits, 5), 3);
    QCOMPARE(firstAtOrAfter(hits, 4.5), 3);
    QCOMPARE(firstAtOrAfter(hits, -1e300), 0);
    QCOMPARE(firstAtOrAfter(hits, 9), 7);
}

void tst_Trends::cumulativeSeries()
{
    const QVector<TrendHit> hits { hit(10, 0, 50, 1), hit(20, 1, 50, 2), hit(30, 0, 50, 4),
        hit(40, 0, 50, 8), hit(50, 1, 50, 16) };
    TrendFilter channelOne;
    channelOne.channels = 1;
    CumulativeSeries series;
    QCOMPARE(extendCumulative(series, hits.mid(0, 3), 0, channelOne), 2);
    // Only the new hits are read: the series goes on from its totals.
    QCOMPARE(extendCumulative(series, hits, 3, channelOne), 1);
    QCOMPARE(series.times, QVector<double>({ 10, 30, 40 }));
    QCOMPARE(series.hits, QVector<double>({ 1, 2, 3 }));
    QCOMPARE(series.energy, QVector<double>({ 1, 5, 13 }));

    TrendFilter span;
    span.from = 20;
    span.to = 40;
    CumulativeSeries inSpan;
    QCOMPARE(extendCumulative(inSpan, hits, 0, span), 3);
    QCOMPARE(inSpan.energy, QVector<double>({ 2, 6, 14 }));
}

void tst_Trends::histogramBins()
{
    Histogram decibels;
    for (double v : { 30.0, 30.999, 31.0, 28.2 })
        decibels.add(v);
    QCOMPARE(decibels.first, 28);
    QCOMPARE(decibels.counts, QVector<double>({ 1, 0, 2, 1 }));
    QCOMPARE(decibels.binStart(4), 32.0);
    decibels.add(qQNaN());
    decibels.add(28 + Histogram::maxBins); // one bin too many
    decibels.add(1e300);
    QCOMPARE(decibels.outside, qint64(3));
    decibels.add(27 + Histogram::maxBins);
    QCOMPARE(decibels.counts.size(), Histogram::maxBins);

    Histogram halves;
    halves.origin = 0.25;
    halves.width = 0.5;
    for (double v : { 0.25, 0.74, 0.75, 0.2, -0.26 })
        halves.add(v);
    QCOMPARE(halves.first, -2);
    QCOMPARE(halves.counts, QVector<double>({ 1, 1, 2, 1 }));
    QCOMPARE(halves.binStart(0), -0.75);

    Histogram amplitudes;
    TrendFilter notTwo;
    notTwo.channels = 0b1101;
    QCOMPARE(
        extendAmplitudes(amplitudes, { hit(1, 0, 40.5), hit(2, 1, 60), hit(3, 2, 42) }, 0, notTwo),
        2);
    QCOMPARE(amplitudes.first, 40);
    QCOMPARE(amplitudes.counts, QVector<double>({ 1, 0, 1 }));
}

void tst_Trends::densityGrid()
{
    // A 1 m square: a quarter metre spare all round, 6 cells of 0.25 m across 1.5 m.
    DensityGrid grid = planeGrid({ { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } }, 6);
    QCOMPARE(grid.area, QRectF(-0.25, -0.25, 1.5, 1.5));
    QCOMPARE(grid.columns, 6);
    QCOMPARE(grid.rows, 6);
    for (QPointF p : { QPointF(0, 0), QPointF(0.01, 0.2), QPointF(-0.25, -0.25),
             QPointF(1.25, 1.25), QPointF(1.0, 0.0), QPointF(1.3, 0), QPointF(0, qQNaN()) })
        grid.add(p);
    QCOMPARE(grid.count(1, 1), 2.0);
    QCOMPARE(grid.count(0, 0), 1.0);
    QCOMPARE(grid.count(5, 5), 1.0); // the far edges belong to the last cells
    QCOMPARE(grid.count(5, 1), 1.0);
    QCOMPARE(grid.outside, qint64(2));
    QCOMPARE(grid.centre(0, 0), QPointF(-0.125, -0.125));

    // 2 m x 1 m: 0.5 m spare, cells of 3 m / 10; 2.1 m take 7 rows, centred on the sensors.
    const DensityGrid strip = planeGrid({ { 0, 0 }, { 2, 0 }, { 2, 1 }, { 0, 1 } }, 10);
    QCOMPARE(strip.columns, 10);
    QCOMPARE(strip.rows, 7);
    QCOMPARE(strip.area.top(), -0.55);
    QCOMPARE(strip.counts.size(), 70);
    // One place: a metre around it.
    QCOMPARE(planeGrid({ { 3, 4 } }, 4).area, QRectF(2.5, 3.5, 1, 1));
}

void tst_Trends::sourcesOncePerEvent()
{
    SourceSeries sources;
    sources.grid = planeGrid({ { 0, 0 }, { 1, 0 }, { 1, 1 }, { 0, 1 } }, 6);
    sources.line.width = 0.5;
    sources.pointLimit = 2;
    const QVector<TrendHit> hits { located(1, 0, 7, { 0.1, 0.1 }), located(1, 1, 7, { 0.1, 0.1 }),
        located(2, 1, 8, { 0.6, 0.6 }), located(3, 2, -1, { 0.9, 0.9 }),
        located(4, 3, -1, { 0.9, 0.9 }), located(5, 0, 9, { 1.2, 0 }, false), hit(6, 0) };
    TrendFilter notOne;
    notOne.channels = 0b1110;
    // Event 7 counts once, from its second hit when the first is not taken.
    QCOMPARE(extendSources(sources, hits, 0, notOne), 4);
    QCOMPARE(sources.planeSources, qint64(4));
    QCOMPARE(sources.points, QVector<QPointF>({ { 0.1, 0.1 }, { 0.6, 0.6 } }));
    QCOMPARE(sources.grid.count(1, 1), 1.0);
    QCOMPARE(sources.grid.count(4, 4), 2.0);
    QVERIFY(sources.line.counts.isEmpty());
    // Taken again, known events are not counted twice; the line gets its source.
    QCOMPARE(extendSources(sources, hits, 0, TrendFilter()), 3);
    QCOMPARE(sources.line.first, 2);
    QCOMPARE(sources.line.counts, QVector<double>({ 1 }));
}

void tst_Trends::dockFillsAndExtends()
{
    TrendDock dock;
    auto* empty = dock.findChild<QLabel*>("emptyLabel");
    QVERIFY(empty->text().startsWith("Нет сеанса"));
    QVERIFY(empty->isVisibleTo(&dock));
    dock.setHits({ hit(t0 + 5, 0, 41, 1), hit(t0, 0, 40.5, 2), hit(t0 + 9, 1, 60, 4),
        hit(t0 + 3, 2, 43, 8), hit(t0 + 4, 0, 42, 16) });
    QVERIFY(!empty->isVisibleTo(&dock));
    QCustomPlot* amplitude = dock.plot(TrendDock::amplitudePlot);
    QCustomPlot* cumulative = dock.plot(TrendDock::cumulativePlot);
    auto counts = [amplitude] {
        QList<int> n;
        for (int c = 0; c < 4; ++c)
            n << amplitude->graph(c)->dataCount();
        return n;
    };
    QCOMPARE(counts(), QList<int>({ 3, 1, 1, 0 }));
    QCOMPARE(cumulative->graph(0)->dataCount(), 5);
    QCOMPARE((cumulative->graph(0)->data()->constEnd() - 1)->value, 5.0);
    QCOMPARE((cumulative->graph(1)->data()->constEnd() - 1)->value, 31.0);
    // The energy at each time: 2, then 8, 16, 1, 4 added in time order.
    QCOMPARE(cumulative->graph(1)->data()->at(2)->value, 26.0);
    auto* bars = qobject_cast<QCPBars*>(dock.plot(TrendDock::distributionPlot)->plottable(0));
    QCOMPARE(bars->dataCount(), 21); // 40 ... 60 dB_AE
    QCOMPARE(bars->data()->at(0)->value, 1.0);
    QCOMPARE(bars->data()->at(0)->key, 40.5);

    dock.appendHits({ hit(t0 + 12, 3, 50, 32), hit(t0 + 11, 3, 50, 64) });
    QCOMPARE(counts(), QList<int>({ 3, 1, 1, 2 }));
    QCOMPARE((cumulative->graph(1)->data()->constEnd() - 1)->value, 127.0);
    QCOMPARE(cumulative->graph(1)->data()->at(5)->key, t0 + 11);
    // A late hit of an earlier time goes where it belongs.
    dock.appendHits({ hit(t0 + 1, 1, 50, 128) });
    QCOMPARE(cumulative->graph(1)->data()->at(1)->value, 130.0);
    QCOMPARE(cumulative->graph(0)->dataCount(), 8);
    dock.clear();
    QVERIFY(empty->isVisibleTo(&dock));
    QCOMPARE(counts(), QList<int>({ 0, 0, 0, 0 }));
}

void tst_Trends::channelsAndSpan()
{
    TrendDock dock;
    QVector<TrendHit> hits;
    for (int k = 0; k <= 120; ++k) // every minute for two hours, channels in turn
        hits << hit(t0 + 60 * k, k % 4);
    dock.setHits(hits);
    QCPGraph* total = dock.plot(TrendDock::cumulativePlot)->graph(0);
    QCOMPARE(total->dataCount(), 121);
    dock.findChild<QCheckBox*>("channelBox1")->setChecked(false);
    QCOMPARE(dock.plot(TrendDock::amplitudePlot)->graph(0)->dataCount(), 0);
    QCOMPARE(total->dataCount(), 121 - 31);
    QCOMPARE(dock.plot(TrendDock::amplitudePlot)->legend->itemCount(), 3);

    auto* span = dock.findChild<QComboBox*>("spanBox");
    span->setCurrentIndex(TrendDock::lastHour); // minutes 60 ... 120, channel 1 left out
    QCOMPARE(total->dataCount(), 61 - 16);
    QCOMPARE(total->data()->at(0)->key, t0 + 61 * 60);
    auto* from = dock.findChild<QDateTimeEdit*>("fromEdit");
    QCOMPARE(from->dateTime().toSecsSinceEpoch(), qint64(t0) + 3600);
    QVERIFY(!from->isEnabled());
    // The last hour follows the session.
    dock.appendHits({ hit(t0 + 150 * 60, 1) });
    QCOMPARE(total->data()->at(0)->key, t0 + 90 * 60);
    QCOMPARE(total->dataCount(), 31 - 8 + 1);

    span->setCurrentIndex(TrendDock::chosenInterval);
    const qint64 start = qint64(t0);
    from->setDateTime(QDateTime::fromSecsSinceEpoch(start + 600));
    dock.findChild<QDateTimeEdit*>("toEdit")->setDateTime(
        QDateTime::fromSecsSinceEpoch(start + 1200));
    // Minutes 10 ... 20 on channels 2-4: 11 less the 3 of channel 1.
    QTRY_COMPARE(total->dataCount(), 8);
    // The same interval typed the other way round.
    from->setDateTime(QDateTime::fromSecsSinceEpoch(start + 1200));
    dock.findChild<QDateTimeEdit*>("toEdit")->setDateTime(
        QDateTime::fromSecsSinceEpoch(start + 600));
    QTRY_VERIFY(!dock.findChild<QTimer*>("intervalTimer")->isActive());
    QCOMPARE(total->dataCount(), 8);

    // A new session is shown whole and on every channel.
    dock.clear();
    dock.appendHits({ hit(t0 - 86400, 0), hit(t0 - 86300, 1) });
    QCOMPARE(span->currentIndex(), int(TrendDock::wholeSession));
    QVERIFY(dock.findChild<QCheckBox*>("channelBox1")->isChecked());
    QCOMPARE(total->dataCount(), 2);

    // Counts up to 12: whole-number ticks (not 2.5, 5, 7.5 ...).
    QCustomPlot* counts = dock.plot(TrendDock::cumulativePlot);
    counts->yAxis->setRange(0, 12);
    counts->replot();
    QVERIFY(counts->yAxis->tickVector().size() >= 2);
    for (const double tick : counts->yAxis->tickVector())
        QCOMPARE(tick, std::round(tick));
    // Energies written alike: 1·10⁻⁴ beside 5·10⁻⁵, not 0,0001 beside 5E-05.
    counts->yAxis2->setRange(0, 1.2e-4);
    counts->replot();
    const QVector<double> ticks = counts->yAxis2->tickVector();
    const QVector<QString> labels = counts->yAxis2->tickVectorLabels();
    QVERIFY(ticks.contains(1e-4) && ticks.contains(0));
    QCOMPARE(labels[ticks.indexOf(1e-4)], QString("1·10⁻⁴"));
    QCOMPARE(labels[ticks.indexOf(0)], QString("0"));
    for (const QString& label : labels)
        QVERIFY2(
            label == "0" || label.contains("·10⁻⁵") || label.contains("·10⁻⁴"), qPrintable(label));
}

void tst_Trends::sourcesPlot()
{
    TrendDock dock;
    QCustomPlot* plot = dock.plot(TrendDock::sourcesPlot);
    dock.setLocationLayout(true, { { 0, 0 }, { 2, 0 }, { 2, 2 } }, 0);
    dock.setHits({ located(t0, 0, 1, { 1, 1 }), located(t0, 1, 1, { 1, 1 }),
        located(t0 + 1, 0, 2, { 0.5, 1.5 }), hit(t0 + 2, 0) });
    QCOMPARE(plot->graph(0)->dataCount(), 2); // the sources
    QCOMPARE(plot->graph(1)->dataCount(), 3); // the sensors
    QVERIFY(plot->graph(0)->visible());

    QVector<TrendHit> many;
    for (int e = 0; e < 6000; ++e)
        many << located(t0 + e, e % 4, 100 + e, { 0.5 + (e % 7) * 0.1, 1 });
    dock.appendHits(many);
    auto* density = qobject_cast<QCPColorMap*>(plot->plottable(1));
    QVERIFY(density && density->visible() && !plot->graph(0)->visible());
    // 3 m from -0.5 in 48 cells of 0.0625 m: x = 1.0 (every seventh of the many, and event 1)
    // and y = 1 fall in cell 24, 24; empty cells stay clear.
    QCOMPARE(density->data()->cell(24, 24), 857.0 + 1);
    QVERIFY(qIsNaN(density->data()->cell(0, 0)));
    // A source far beyond the cells is counted, in the title and in the CSV's last line.
    dock.appendHits({ located(t0 + 7000, 0, 7000, { 10, 10 }) });
    auto* title = qobject_cast<QCPTextElement*>(plot->plotLayout()->element(0, 0));
    QCOMPARE(title->text(), QString("Локация источников (вне графика: 1)"));
    QString cause;
    const QString cells = dir.filePath("cells.csv");
    QVERIFY(dock.exportPlot(TrendDock::sourcesPlot, cells, TrendDock::csvFormat, cause));
    QVERIFY(fileBytes(cells).endsWith("\n,,1\n"));

    dock.setLocationLayout(false, {}, 2);
    dock.setHits({ located(t0, 0, 1, { 0.3, 0 }, false), located(t0, 1, 1, { 0.3, 0 }, false),
        located(t0, 1, 2, { 1.0, 0 }, false) });
    auto* bars = qobject_cast<QCPBars*>(plot->plottable(0));
    QVERIFY(bars->visible());
    QCOMPARE(bars->width(), 0.05); // 2 m in 40 bins
    QCOMPARE(bars->dataCount(), 15); // 0.30 ... 1.05 m
    QCOMPARE(bars->data()->at(0)->value, 1.0);
    // Sources are counted in whole numbers, and so are the axis' ticks.
    plot->replot();
    QVERIFY(plot->yAxis->tickVector().size() >= 2);
    for (const double tick : plot->yAxis->tickVector())
        QCOMPARE(tick, std::round(tick));
    // Bin edges as they would be typed, not as sums of binary fractions (6 x 0.05 m).
    const QString csv = dir.filePath("sources.csv");
    QVERIFY(dock.exportPlot(TrendDock::sourcesPlot, csv, TrendDock::csvFormat, cause));
    QCOMPARE(fileBytes(csv).split('\n').value(1), QByteArray("0.3,0.35,1"));
}

void tst_Trends::exports()
{
    TrendDock dock;
    dock.setHits({ hit(t0 + 0.5, 1, 45.25, 0.25), hit(t0 + 2, 0, 60, 0.5), hit(t0 + 3, 3, 70) });
    dock.findChild<QCheckBox*>("channelBox4")->setChecked(false);
    const QString png = dir.filePath("amplitudes.png");
    const QString svg = dir.filePath("cumulative.svg");
    const QString csv = dir.filePath("amplitudes.csv");
    QString cause;
    QVERIFY2(dock.exportPlot(TrendDock::amplitudePlot, png, TrendDock::pngFormat, cause),
        qPrintable(cause));
    QImage image(png);
    QVERIFY(!image.isNull() && image.width() >= 800 && image.height() >= 500);
    QVERIFY(dock.exportPlot(TrendDock::cumulativePlot, svg, TrendDock::svgFormat, cause));
    const QByteArray svgText = fileBytes(svg);
    QVERIFY(svgText.startsWith("<?xml") && svgText.contains("<svg"));
    QVERIFY(svgText.contains("Накопленные импульсы"));

    QVERIFY(dock.exportPlot(TrendDock::amplitudePlot, csv, TrendDock::csvFormat, cause));
    QCOMPARE(fileBytes(csv),
        QByteArray("time_utc,channel,amplitude_dB\n2023-11-14T22:13:20.500Z,2,45.25\n"
                   "2023-11-14T22:13:22.000Z,1,60\n"));
    QVERIFY(dock.exportPlot(TrendDock::cumulativePlot, csv, TrendDock::csvFormat, cause));
    QCOMPARE(fileBytes(csv).split('\n').value(2), QByteArray("2023-11-14T22:13:22.000Z,2,0.75"));
    QVERIFY(dock.exportPlot(TrendDock::distributionPlot, csv, TrendDock::csvFormat, cause));
    QCOMPARE(fileBytes(csv).count('\n'), 1 + 16); // 45 ... 60 dB_AE
    QVERIFY(!dock.exportPlot(
        TrendDock::amplitudePlot, dir.filePath("none/x.png"), TrendDock::pngFormat, cause));
    QVERIFY(!cause.isEmpty());

    // The export dialog opens in the session's folder.
    dock.setExportFolder(dir.path());
    QString opened;
    QTimer::singleShot(0, [&opened] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            opened = dialog->directory().absolutePath();
            dialog->reject();
        }
    });
    dock.findChild<QToolButton*>("exportButton")->menu()->actions().value(0)->trigger();
    QCOMPARE(opened, QDir(dir.path()).absolutePath());
}

void tst_Trends::besideHitsTable()
{
    testwindows::addRecordWindow(window, 4, 4096, 3);
    window->findChild<QAction*>("aAeHits")->trigger();
    QAction* command = window->findChild<QAction*>("aTrends");
    QVERIFY(command->isCheckable() && command->isEnabled());
    command->trigger();
    auto* dock = window->findChild<TrendDock*>();
    QVERIFY(dock && dock->isVisible() && command->isChecked());
    QCOMPARE(dock->windowTitle(), QString("Тренды"));
    QVERIFY(window->tabifiedDockWidgets(window->findChild<AeHitsPanel*>()).contains(dock));
    QVERIFY(dock->findChild<QLabel*>("emptyLabel")->isVisible());
    command->trigger();
    QVERIFY(!dock->isVisible() && !command->isChecked());

    // A session's sources stay on its own plane when the location set now is a line.
    dock->setLocationLayout(true, { { 0, 0 }, { 1, 0 }, { 1, 1 } }, 0);
    window->ae.plane = false;
    command->trigger();
    QCOMPARE(dock->plot(TrendDock::sourcesPlot)->xAxis->label(), QString("X, м"));
}

QTEST_MAIN(tst_Trends)
#include "test_trends.moc"
