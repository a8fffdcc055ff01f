#include "trend_dock.h"

#include "cause_texts.h"
#include "record_export.h"
#include "umisc.h"

#include <QtMisc/qtm_messager.h>

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QSvgGenerator>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace {

const std::array<QColor, TrendDock::channelCount> channelColors { QColor(31, 119, 180),
    QColor(255, 127, 14), QColor(44, 160, 44), QColor(214, 39, 40) };
const QColor hitsColor(25, 70, 150);
const QColor energyColor(190, 60, 20);
const QColor barColor(70, 130, 180);

// Sources in the plane are counted in this many cells across the sensors and their spare.
constexpr int planeCells = 48;
// Positions on the line are counted in this many bins between the sensors.
constexpr int lineBins = 40;
constexpr double hour = 3600;
constexpr double day = 86400;

QString plotTitle(TrendDock::Plot which)
{
    switch (which) {
    case TrendDock::amplitudePlot:
        return TrendDock::tr("Амплитуды импульсов");
    case TrendDock::cumulativePlot:
        return TrendDock::tr("Накопленные импульсы и энергия");
    case TrendDock::distributionPlot:
        return TrendDock::tr("Распределение амплитуд");
    default:
        return TrendDock::tr("Локация источников");
    }
}

// Ticks of a count: whole numbers, however few the counts are; a step that is not whole (2.5)
// becomes the next of 1, 2, 5, 10, 20, 50 ... above it.
class CountTicker : public QCPAxisTicker
{
protected:
    double getTickStep(const QCPRange& range) override
    {
        const double step = QCPAxisTicker::getTickStep(range);
        if (!std::isfinite(step) || (step == std::floor(step) && step >= 1))
            return step;
        for (double decade = 1;; decade *= 10)
            for (const double nice : { 1.0, 2.0, 5.0 })
                if (nice * decade >= step)
                    return nice * decade;
    }
};

// Ticks of a small quantity (energies of V^2 s) written alike, as 5·10⁻⁵ and 1·10⁻⁴ with the
// locale's decimal point: the toolkit's plain format mixes 5E-05 with 0,0001.
class PowerTicker : public QCPAxisTicker
{
protected:
    QString getTickLabel(double tick, const QLocale& locale, QChar, int) override
    {
        if (tick == 0)
            return QStringLiteral("0");
        const int power = int(std::floor(std::log10(std::fabs(tick)) + 1e-9));
        static const QString superscripts = QStringLiteral("⁰¹²³⁴⁵⁶⁷⁸⁹");
        QString exponent = power < 0 ? QStringLiteral("⁻") : QString();
        for (const QChar digit : QString::number(std::abs(power)))
            exponent += superscripts[digit.digitValue()];
        return locale.toString(tick / std::pow(10.0, power), 'g', 3) + QStringLiteral("·10")
            + exponent;
    }
};

// A time axis in local time: seconds shown while the span is under a day, the date beside the
// hour beyond it, milliseconds when zoomed to seconds.
void makeTimeAxis(QCPAxis* axis)
{
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::LocalTime);
    ticker->setDateTimeFormat(QStringLiteral("HH:mm:ss"));
    ticker->setTickCount(5);
    axis->setTicker(ticker);
    axis->setLabel(TrendDock::tr("Время (местное)"));
    QObject::connect(axis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), axis,
        [ticker](const QCPRange& range) {
            ticker->setDateTimeFormat(range.size() > day ? QStringLiteral("dd.MM\nHH:mm")
                    : range.size() < 20                  ? QStringLiteral("HH:mm:ss.zzz")
                                                         : QStringLiteral("HH:mm:ss"));
        });
}

// A hit's mark: a disc 3 pixels across. On the screen and in pictures it is stamped as a
// small picture, ten times quicker than drawing each disc (a week's million hits leave tens of
// thousands after the plot's own thinning); in SVG files it is drawn as a disc.
QCPScatterStyle hitMark(const QColor& color, bool vector)
{
    constexpr int across = 3;
    if (vector)
        return QCPScatterStyle(QCPScatterStyle::ssDisc, color, across);
    QPixmap disc(across, across);
    disc.fill(Qt::transparent);
    QPainter painter(&disc);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0, 0, across, across));
    painter.end();
    return QCPScatterStyle(disc);
}

QCustomPlot* newPlot(TrendDock::Plot which, QWidget* parent)
{
    auto* plot = new QCustomPlot(parent);
    plot->setObjectName(QStringList {
        "amplitudePlot", "cumulativePlot", "distributionPlot", "sourcesPlot" }[which]);
    plot->setMinimumSize(320, 220);
    plot->plotLayout()->insertRow(0);
    QFont font = plot->font();
    font.setBold(true);
    plot->plotLayout()->addElement(0, 0, new QCPTextElement(plot, plotTitle(which), font));
    for (QCPAxis* axis : plot->axisRect()->axes()) {
        axis->grid()->setPen(QPen(QColor(215, 215, 215), 0, Qt::DotLine));
        axis->setLabelColor(QColor(40, 40, 40));
    }
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->setNoAntialiasingOnDrag(true);
    plot->setToolTip(TrendDock::tr("Колесо мыши — масштаб, левая кнопка — сдвиг, двойной "
                                   "щелчок — все данные, правая кнопка — экспорт"));
    return plot;
}

// The legend's items side by side from the left, each as wide as its name.
void packLegend(QCPLegend* legend)
{
    for (int i = 0; i < legend->itemCount(); ++i)
        legend->item(i)->setMaximumSize(legend->item(i)->minimumOuterSizeHint());
}

// The legend as one line centred under the plot, where it never covers the data.
void placeLegend(QCustomPlot* plot)
{
    plot->legend->setVisible(true);
    plot->legend->setBrush(Qt::NoBrush);
    plot->legend->setBorderPen(Qt::NoPen);
    plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    plot->legend->setMargins(QMargins(4, 0, 4, 2));
    plot->axisRect()->insetLayout()->take(plot->legend);
    auto* foot = new QCPLayoutGrid;
    plot->plotLayout()->addElement(2, 0, foot);
    plot->plotLayout()->setRowStretchFactor(2, 0.001);
    foot->addElement(0, 0, new QCPLayoutElement(plot));
    foot->addElement(0, 1, plot->legend);
    foot->addElement(0, 2, new QCPLayoutElement(plot));
    packLegend(plot->legend);
}

// The time span of a series: its first to last hit with a fiftieth (at least half a minute)
// to spare; the last hour up to now when it is empty.
QCPRange timeSpan(const QVector<double>& times)
{
    if (times.isEmpty()) {
        const double now = double(QDateTime::currentSecsSinceEpoch());
        return QCPRange(now - hour, now);
    }
    const double spare = std::max((times.last() - times.first()) / 50, 30.0);
    return QCPRange(times.first() - spare, times.last() + spare);
}

void appendUtc(std::string& line, double utcSeconds)
{
    line += QDateTime::fromMSecsSinceEpoch(qint64(std::llround(utcSeconds * 1000)), Qt::UTC)
                .toString(Qt::ISODateWithMs)
                .toStdString();
}

void appendRow(std::string& text, std::initializer_list<double> values)
{
    bool first = true;
    for (double value : values) {
        if (!first)
            text += ',';
        appendCsvNumber(text, value);
        first = false;
    }
    text += '\n';
}

// The sources beyond a histogram's bins or a grid's cells, as a last line with no place.
void appendBeyond(std::string& text, qint64 sources)
{
    if (sources > 0)
        text += ",," + std::to_string(sources) + '\n';
}

// Where bin i of a histogram starts, to twelve figures: as it would be typed, not as the sum
// of binary fractions it is worked out with (6 x 0.05 is 0.30000000000000004).
double binEdge(const Histogram& histogram, int i)
{
    return QString::number(histogram.binStart(i), 'g', 12).toDouble();
}

} // namespace

TrendDock::TrendDock(QWidget* parent)
    : QDockWidget(tr("Тренды"), parent)
{
    setObjectName(QStringLiteral("trendDock"));
    intervalTimer = new QTimer(this);
    intervalTimer->setObjectName(QStringLiteral("intervalTimer"));
    intervalTimer->setSingleShot(true);
    intervalTimer->setInterval(250);
    connect(intervalTimer, &QTimer::timeout, this, &TrendDock::slot_filterChanged);
    pages = new QStackedWidget(this);
    auto* empty = new QLabel(tr("Нет сеанса: тренды строятся по серии оцифровок"), pages);
    empty->setObjectName(QStringLiteral("emptyLabel"));
    empty->setAlignment(Qt::AlignCenter);
    empty->setWordWrap(true);
    empty->setEnabled(false);
    pages->addWidget(empty);

    auto* shown = new QWidget(pages);
    auto* column = new QVBoxLayout(shown);
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(makeControls());
    auto* grid = new QGridLayout;
    grid->setSpacing(4);
    for (int p = 0; p < plotCount; ++p) {
        plots[p] = newPlot(Plot(p), shown);
        grid->addWidget(plots[p], p / 2, p % 2);
        setUpInteraction(Plot(p));
    }
    column->addLayout(grid, 1);
    pages->addWidget(shown);
    setWidget(pages);

    setUpAmplitudePlot();
    setUpCumulativePlot();
    setUpDistributionPlot();
    setUpSourcesPlot();
    clear();
}

QWidget* TrendDock::makeControls()
{
    auto* controls = new QWidget(this);
    auto* row = new QHBoxLayout(controls);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(tr("Каналы:"), controls));
    for (int c = 0; c < channelCount; ++c) {
        QPixmap swatch(10, 10);
        swatch.fill(channelColors[c]);
        channelBoxes[c] = new QCheckBox(QString::number(c + 1), controls);
        channelBoxes[c]->setObjectName(QStringLiteral("channelBox%1").arg(c + 1));
        channelBoxes[c]->setIcon(swatch);
        channelBoxes[c]->setChecked(true);
        connect(channelBoxes[c], &QCheckBox::toggled, this, &TrendDock::slot_filterChanged);
        row->addWidget(channelBoxes[c]);
    }
    row->addSpacing(16);
    row->addWidget(new QLabel(tr("Время:"), controls));
    spanBox = new QComboBox(controls);
    spanBox->setObjectName(QStringLiteral("spanBox"));
    spanBox->addItems(
        { tr("весь сеанс"), tr("последний час"), tr("последние сутки"), tr("интервал") });
    row->addWidget(spanBox);
    fromEdit = new QDateTimeEdit(controls);
    toEdit = new QDateTimeEdit(controls);
    fromEdit->setObjectName(QStringLiteral("fromEdit"));
    toEdit->setObjectName(QStringLiteral("toEdit"));
    for (QDateTimeEdit* edit : { fromEdit, toEdit }) {
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
        connect(edit, &QDateTimeEdit::dateTimeChanged, intervalTimer, [this] {
            if (spanBox->currentIndex() == chosenInterval)
                intervalTimer->start();
        });
    }
    row->addWidget(new QLabel(tr("с"), controls));
    row->addWidget(fromEdit);
    row->addWidget(new QLabel(tr("по"), controls));
    row->addWidget(toEdit);
    connect(spanBox, &QComboBox::currentIndexChanged, this, &TrendDock::slot_spanChanged);
    row->addStretch(1);

    auto* exportButton = new QToolButton(controls);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    exportButton->setText(tr("Экспорт"));
    exportButton->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(exportButton);
    for (int p = 0; p < plotCount; ++p)
        menu->addAction(
            plotTitle(Plot(p)) + QStringLiteral("…"), this, [this, p] { askExport(Plot(p)); });
    exportButton->setMenu(menu);
    row->addWidget(exportButton);
    return controls;
}

void TrendDock::setUpAmplitudePlot()
{
    QCustomPlot* plot = plots[amplitudePlot];
    for (int c = 0; c < channelCount; ++c) {
        amplitudeGraphs[c] = plot->addGraph();
        amplitudeGraphs[c]->setName(tr("к%1").arg(c + 1));
        amplitudeGraphs[c]->setLineStyle(QCPGraph::lsNone);
        amplitudeGraphs[c]->setScatterStyle(hitMark(channelColors[c], false));
    }
    makeTimeAxis(plot->xAxis);
    plot->yAxis->setLabel(tr("Амплитуда, дБАЭ"));
    placeLegend(plot);
    updateLegend();
}

void TrendDock::setUpCumulativePlot()
{
    QCustomPlot* plot = plots[cumulativePlot];
    hitsGraph = plot->addGraph(plot->xAxis, plot->yAxis);
    hitsGraph->setName(tr("импульсы"));
    hitsGraph->setPen(QPen(hitsColor, 2));
    energyGraph = plot->addGraph(plot->xAxis, plot->yAxis2);
    energyGraph->setName(tr("энергия"));
    energyGraph->setPen(QPen(energyColor, 2));
    makeTimeAxis(plot->xAxis);
    plot->yAxis->setLabel(tr("Импульсы"));
    plot->yAxis->setLabelColor(hitsColor);
    plot->yAxis->setTicker(QSharedPointer<CountTicker>::create());
    plot->yAxis2->setVisible(true);
    plot->yAxis2->setLabel(tr("Энергия, В²·с"));
    plot->yAxis2->setLabelColor(energyColor);
    plot->yAxis2->setTicker(QSharedPointer<PowerTicker>::create());
    plot->axisRect()->setRangeDragAxes({ plot->xAxis }, { plot->yAxis, plot->yAxis2 });
    plot->axisRect()->setRangeZoomAxes({ plot->xAxis }, { plot->yAxis, plot->yAxis2 });
    placeLegend(plot);
}

void TrendDock::setUpDistributionPlot()
{
    QCustomPlot* plot = plots[distributionPlot];
    distributionBars = new QCPBars(plot->xAxis, plot->yAxis);
    distributionBars->setWidth(1);
    distributionBars->setPen(QPen(barColor.darker(140)));
    distributionBars->setBrush(barColor);
    plot->xAxis->setLabel(tr("Амплитуда, дБАЭ"));
    plot->yAxis->setLabel(tr("Импульсов на 1 дБАЭ"));
    plot->yAxis->setScaleType(QCPAxis::stLogarithmic);
    plot->yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
    plot->yAxis->setNumberFormat(QStringLiteral("gb"));
}

void TrendDock::setUpSourcesPlot()
{
    QCustomPlot* plot = plots[sourcesPlot];
    lineBars = new QCPBars(plot->xAxis, plot->yAxis);
    lineBars->setPen(QPen(barColor.darker(140)));
    lineBars->setBrush(barColor);
    densityMap = new QCPColorMap(plot->xAxis, plot->yAxis);
    QCPColorGradient gradient;
    gradient.setColorStopAt(0, QColor(198, 219, 239));
    gradient.setColorStopAt(0.5, QColor(49, 130, 189));
    gradient.setColorStopAt(1, QColor(8, 48, 107));
    gradient.setNanHandling(QCPColorGradient::nhTransparent);
    densityScale = new QCPColorScale(plot);
    densityScale->setBarWidth(10);
    densityScale->setDataScaleType(QCPAxis::stLogarithmic);
    densityScale->setGradient(gradient);
    densityScale->axis()->setTicker(QSharedPointer<QCPAxisTickerLog>::create());
    densityScale->axis()->setNumberFormat(QStringLiteral("gb"));
    densityScale->axis()->setLabel(tr("Источников в ячейке"));
    densityMap->setColorScale(densityScale);
    densityMap->setInterpolate(false);
    densityScale->setVisible(false);
    pointsGraph = plot->addGraph();
    pointsGraph->setLineStyle(QCPGraph::lsNone);
    pointsGraph->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(49, 130, 189, 170), 5));
    sensorsGraph = plot->addGraph();
    sensorsGraph->setLineStyle(QCPGraph::lsNone);
    sensorsGraph->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssTriangle, QPen(Qt::black, 1.5), Qt::yellow, 10));
    // The plane keeps one scale on both axes whatever the plot's shape.
    connect(plot, &QCustomPlot::afterLayout, this, [this] {
        if (planar && following[sourcesPlot])
            followPlot(sourcesPlot);
    });
    showSensors();
}

void TrendDock::setUpInteraction(Plot which)
{
    QCustomPlot* plot = plots[which];
    connect(plot, &QCustomPlot::mouseMove, this, [this, which](QMouseEvent* event) {
        if (event->buttons() & Qt::LeftButton)
            following[which] = false;
    });
    connect(plot, &QCustomPlot::mouseWheel, this, [this, which] { following[which] = false; });
    connect(plot, &QCustomPlot::mouseDoubleClick, this, [this, which] {
        following[which] = true;
        followPlot(which);
        plots[which]->replot();
    });
    plot->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(plot, &QWidget::customContextMenuRequested, this, [this, which](const QPoint& at) {
        QMenu menu;
        menu.addAction(tr("Показать все данные"), this, [this, which] {
            following[which] = true;
            followPlot(which);
            plots[which]->replot();
        });
        menu.addAction(tr("Экспорт…"), this, [this, which] { askExport(which); });
        menu.exec(plots[which]->mapToGlobal(at));
    });
}

void TrendDock::setHits(const QVector<TrendHit>& batch)
{
    hits.clear();
    mergeByTime(hits, batch);
    session = true;
    pages->setCurrentIndex(1);
    rebuild();
    updateSpanFields();
    follow();
    replotAll();
}

void TrendDock::appendHits(const QVector<TrendHit>& batch)
{
    if (!session) {
        setHits(batch);
        return;
    }
    const qsizetype kept = hits.size();
    const bool after = mergeByTime(hits, batch);
    const TrendFilter next = currentFilter();
    if (after && next.from == filter.from && next.to == filter.to)
        extend(kept);
    else
        rebuild();
    updateSpanFields();
    follow();
    replotAll();
}

void TrendDock::clear()
{
    session = false;
    hits.clear();
    // A new session is shown whole, on every channel: an interval or a channel left out for
    // the last one would show it empty.
    {
        const QSignalBlocker spanBlocker(spanBox);
        spanBox->setCurrentIndex(wholeSession);
        fromEdit->setEnabled(false);
        toEdit->setEnabled(false);
        intervalTimer->stop();
        for (QCheckBox* box : channelBoxes) {
            const QSignalBlocker boxBlocker(box);
            box->setChecked(true);
        }
    }
    slot_filterChanged();
    pages->setCurrentIndex(0);
}

void TrendDock::setLocationLayout(bool inPlane, const QList<QPointF>& places, double spacingMetres)
{
    planar = inPlane;
    sensors = places;
    spacing = spacingMetres > 0 ? spacingMetres : 1;
    rebuild();
    showSensors();
    follow();
    replotAll();
}

void TrendDock::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    replotAll();
}

void TrendDock::slot_filterChanged()
{
    rebuild();
    updateSpanFields();
    updateLegend();
    follow();
    replotAll();
}

void TrendDock::slot_spanChanged(int span)
{
    const bool interval = span == chosenInterval;
    fromEdit->setEnabled(interval);
    toEdit->setEnabled(interval);
    intervalTimer->stop();
    slot_filterChanged();
}

TrendFilter TrendDock::currentFilter() const
{
    TrendFilter chosen;
    chosen.channels = 0;
    for (int c = 0; c < channelCount; ++c)
        if (channelBoxes[c]->isChecked())
            chosen.channels |= 1u << c;
    const double last = hits.isEmpty() ? 0 : hits.last().utcSeconds;
    switch (spanBox->currentIndex()) {
    case lastHour:
        chosen.from = last - hour;
        break;
    case lastDay:
        chosen.from = last - day;
        break;
    case chosenInterval: {
        // The fields show whole seconds: the last one is taken whole; an interval typed the
        // other way round is the same interval.
        const qint64 a = fromEdit->dateTime().toSecsSinceEpoch();
        const qint64 b = toEdit->dateTime().toSecsSinceEpoch();
        chosen.from = double(std::min(a, b));
        chosen.to = double(std::max(a, b)) + 0.999999;
        break;
    }
    default:
        break;
    }
    return chosen;
}

void TrendDock::rebuild()
{
    filter = currentFilter();
    cumulative = CumulativeSeries();
    amplitudes = Histogram();
    sources = SourceSeries();
    sources.line.width = spacing / lineBins;
    sources.grid = planeGrid(planar ? sensors : QList<QPointF>(), planeCells);
    for (QCPGraph* graph : amplitudeGraphs)
        graph->data()->clear();
    hitsGraph->data()->clear();
    energyGraph->data()->clear();
    extend(firstAtOrAfter(hits, filter.from));
    showSources();
    following.fill(true);
}

void TrendDock::extend(qsizetype begin)
{
    const qsizetype before = cumulative.times.size();
    extendCumulative(cumulative, hits, begin, filter);
    extendAmplitudes(amplitudes, hits, begin, filter);
    const int newSources = extendSources(sources, hits, begin, filter);

    std::array<QVector<QCPGraphData>, channelCount> points;
    for (qsizetype i = begin; i < hits.size(); ++i) {
        const TrendHit& hit = hits[i];
        if (hit.channel < channelCount && filter.accepts(hit))
            points[hit.channel].append(QCPGraphData(hit.utcSeconds, hit.amplitudeDb));
    }
    for (int c = 0; c < channelCount; ++c)
        amplitudeGraphs[c]->data()->add(points[c], true);

    const qsizetype added = cumulative.times.size() - before;
    QVector<QCPGraphData> counts(added);
    QVector<QCPGraphData> energies(added);
    for (qsizetype k = 0; k < added; ++k) {
        const double t = cumulative.times[before + k];
        counts[k] = QCPGraphData(t, cumulative.hits[before + k]);
        energies[k] = QCPGraphData(t, cumulative.energy[before + k]);
    }
    hitsGraph->data()->add(counts, true);
    energyGraph->data()->add(energies, true);
    showDistribution();
    if (newSources > 0)
        showSources();
}

void TrendDock::showDistribution()
{
    QVector<double> keys(amplitudes.counts.size());
    for (int i = 0; i < keys.size(); ++i)
        keys[i] = amplitudes.binStart(i) + amplitudes.width / 2;
    distributionBars->setData(keys, amplitudes.counts, true);
}

qint64 TrendDock::sourcesBeyond() const
{
    if (!planar)
        return sources.line.outside;
    return sources.planeSources > sources.pointLimit ? sources.grid.outside : 0;
}

void TrendDock::showSources()
{
    const bool density = planar && sources.planeSources > sources.pointLimit;
    lineBars->setVisible(!planar);
    pointsGraph->setVisible(planar && !density);
    densityMap->setVisible(density);
    QCustomPlot* plot = plots[sourcesPlot];
    // The colour scale stands right of the plane while the density is shown.
    QCPLayoutGrid* layout = plot->plotLayout();
    if (density && !densityScale->layout())
        layout->addElement(1, 1, densityScale);
    else if (!density && densityScale->layout() && layout->take(densityScale))
        layout->simplify();
    densityScale->setVisible(density);
    plot->xAxis->setLabel(planar ? tr("X, м") : tr("Положение на линии, м"));
    plot->yAxis->setLabel(planar ? tr("Y, м") : tr("Источники"));
    // Sources beyond the bins or cells are not drawn: the title counts them.
    const qint64 beyond = sourcesBeyond();
    if (auto* title = qobject_cast<QCPTextElement*>(plot->plotLayout()->element(0, 0)))
        title->setText(beyond > 0
                ? tr("%1 (вне графика: %2)").arg(plotTitle(sourcesPlot), QString::number(beyond))
                : plotTitle(sourcesPlot));
    if (planar == bool(plot->yAxis->ticker().dynamicCast<CountTicker>()))
        plot->yAxis->setTicker(planar ? QSharedPointer<QCPAxisTicker>::create()
                                      : QSharedPointer<QCPAxisTicker>(new CountTicker));
    if (!planar) {
        const Histogram& line = sources.line;
        QVector<double> keys(line.counts.size());
        for (int i = 0; i < keys.size(); ++i)
            keys[i] = line.binStart(i) + line.width / 2;
        lineBars->setWidth(line.width);
        lineBars->setData(keys, line.counts, true);
        return;
    }
    if (!density) {
        QVector<double> xs;
        QVector<double> ys;
        for (const QPointF& place : sources.points) {
            xs.append(place.x());
            ys.append(place.y());
        }
        pointsGraph->setData(xs, ys);
        return;
    }
    const DensityGrid& grid = sources.grid;
    QCPColorMapData* cells = densityMap->data();
    cells->setSize(grid.columns, grid.rows);
    const QPointF low = grid.centre(0, 0);
    const QPointF high = grid.centre(grid.columns - 1, grid.rows - 1);
    cells->setRange(QCPRange(low.x(), high.x()), QCPRange(low.y(), high.y()));
    double most = 1;
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.columns; ++c) {
            const double count = grid.count(c, r);
            // Empty cells are left clear on the logarithmic colour scale.
            cells->setCell(c, r, count > 0 ? count : qQNaN());
            most = std::max(most, count);
        }
    densityMap->setDataRange(QCPRange(0.9, std::max(most, 2.0)));
}

void TrendDock::showSensors()
{
    QCustomPlot* plot = plots[sourcesPlot];
    plot->clearItems();
    QVector<double> xs;
    QVector<double> ys;
    if (planar) {
        for (int s = 0; s < sensors.size(); ++s) {
            xs.append(sensors[s].x());
            ys.append(sensors[s].y());
            auto* label = new QCPItemText(plot);
            label->position->setCoords(sensors[s]);
            label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
            label->setPadding(QMargins(6, 0, 0, 6));
            label->setText(tr("к%1").arg(s + 1));
        }
    } else {
        const QStringList names { tr("1-й датчик"), tr("2-й датчик") };
        for (int s = 0; s < 2; ++s) {
            auto* mark = new QCPItemStraightLine(plot);
            mark->point1->setCoords(s * spacing, 0);
            mark->point2->setCoords(s * spacing, 1);
            mark->setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
            auto* label = new QCPItemText(plot);
            label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
            label->position->setCoords(s * spacing, 0);
            label->setPositionAlignment((s == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignTop);
            label->setPadding(QMargins(4, 2, 4, 2));
            label->setText(names[s]);
        }
    }
    sensorsGraph->setData(xs, ys);
}

void TrendDock::updateLegend()
{
    QCPLegend* legend = plots[amplitudePlot]->legend;
    legend->clearItems();
    for (int c = 0; c < channelCount; ++c)
        if (channelBoxes[c]->isChecked()) {
            amplitudeGraphs[c]->addToLegend();
            legend->itemWithPlottable(amplitudeGraphs[c])->setTextColor(channelColors[c]);
        }
    packLegend(legend);
}

void TrendDock::updateSpanFields()
{
    if (spanBox->currentIndex() == chosenInterval)
        return;
    const double now = double(QDateTime::currentSecsSinceEpoch());
    const double last = hits.isEmpty() ? now : hits.last().utcSeconds;
    const double first = hits.isEmpty() ? now : std::max(hits.first().utcSeconds, filter.from);
    const QSignalBlocker fromBlocker(fromEdit);
    const QSignalBlocker toBlocker(toEdit);
    fromEdit->setDateTime(QDateTime::fromSecsSinceEpoch(qint64(std::floor(first))));
    toEdit->setDateTime(QDateTime::fromSecsSinceEpoch(qint64(std::floor(last))));
}

void TrendDock::follow()
{
    for (int p = 0; p < plotCount; ++p)
        if (following[p])
            followPlot(Plot(p));
}

void TrendDock::followPlot(Plot which)
{
    QCustomPlot* plot = plots[which];
    const int bins = int(amplitudes.counts.size());
    const double most
        = bins > 0 ? *std::max_element(amplitudes.counts.begin(), amplitudes.counts.end()) : 1;
    switch (which) {
    case amplitudePlot:
        plot->xAxis->setRange(timeSpan(cumulative.times));
        plot->yAxis->setRange(bins > 0
                ? QCPRange(amplitudes.binStart(0) - 2, amplitudes.binStart(bins) + 2)
                : QCPRange(20, 100));
        break;
    case cumulativePlot:
        plot->xAxis->setRange(timeSpan(cumulative.times));
        plot->yAxis->setRange(0, cumulative.hits.isEmpty() ? 1 : cumulative.hits.last() * 1.05);
        plot->yAxis2->setRange(0,
            cumulative.energy.isEmpty() || cumulative.energy.last() <= 0
                ? 1
                : cumulative.energy.last() * 1.05);
        break;
    case distributionPlot:
        plot->xAxis->setRange(bins > 0
                ? QCPRange(amplitudes.binStart(0) - 1, amplitudes.binStart(bins) + 1)
                : QCPRange(20, 100));
        plot->yAxis->setRange(0.5, std::max(most * 2, 10.0));
        break;
    default:
        followSources();
        break;
    }
}

void TrendDock::replotAll()
{
    if (!isVisible())
        return;
    for (QCustomPlot* plot : plots)
        plot->replot(QCustomPlot::rpQueuedReplot);
}

// On the line: the sensors and every bin; in the plane: the grid (the sensors and their spare)
// at one scale on both axes, as wide and high as the plot leaves room for.
void TrendDock::followSources()
{
    QCustomPlot* plot = plots[sourcesPlot];
    if (!planar) {
        const Histogram& line = sources.line;
        const int bins = int(line.counts.size());
        const double low = bins > 0 ? std::min(0.0, line.binStart(0)) : 0;
        const double high = bins > 0 ? std::max(spacing, line.binStart(bins)) : spacing;
        const double spare = (high - low) / 20;
        const double most
            = bins > 0 ? *std::max_element(line.counts.begin(), line.counts.end()) : 1;
        plot->xAxis->setRange(low - spare, high + spare);
        // Room above the highest bar for the sensors' names.
        plot->yAxis->setRange(0, most * 1.2);
        return;
    }
    const QRectF area = sources.grid.area;
    const QRect room = plot->axisRect()->rect();
    const double scale = room.width() > 0 && room.height() > 0
        ? std::max(area.width() / room.width(), area.height() / room.height())
        : 0;
    const double halfWidth = scale > 0 ? scale * room.width() / 2 : area.width() / 2;
    const double halfHeight = scale > 0 ? scale * room.height() / 2 : area.height() / 2;
    plot->xAxis->setRange(area.center().x() - halfWidth, area.center().x() + halfWidth);
    plot->yAxis->setRange(area.center().y() - halfHeight, area.center().y() + halfHeight);
}

void TrendDock::askExport(Plot which)
{
    QString chosenFilter;
    const QString chosen = QFileDialog::getSaveFileName(this, tr("Экспорт графика"), exportFolder,
        QStringLiteral("PNG (*.png);;SVG (*.svg);;CSV (*.csv)"), &chosenFilter);
    if (chosen.isEmpty())
        return;
    // The name's own suffix decides; a name without one gets the chosen type's (asked about
    // when that file exists), one with another suffix is written as it stands.
    const QStringList suffixes { QStringLiteral("png"), QStringLiteral("svg"),
        QStringLiteral("csv") };
    const QString suffix = QFileInfo(chosen).suffix();
    int format = int(suffixes.indexOf(suffix.toLower()));
    QString name = chosen;
    if (format < 0) {
        format = chosenFilter.startsWith(QLatin1String("SVG")) ? svgFormat
            : chosenFilter.startsWith(QLatin1String("CSV"))    ? csvFormat
                                                               : pngFormat;
        if (suffix.isEmpty())
            name = completedSaveName(chosen, QLatin1Char('.') + suffixes[format]);
    }
    QString cause;
    if (!name.isEmpty() && !exportPlot(which, name, Format(format), cause) && qtmisc::mesDaemon)
        qtmisc::mesDaemon->showWarn(
            0x1512, QFileInfo(name).fileName(), fileCauseText(cause), false, false);
}

bool TrendDock::exportPlot(Plot which, const QString& name, Format format, QString& cause) const
{
    if (format == csvFormat)
        return saveText(name, csvOf(which), cause);
    QCustomPlot* plot = plots[which];
    const int width = std::max(plot->width(), 800);
    const int height = std::max(plot->height(), 500);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    bool drawn = false;
    if (format == pngFormat) {
        drawn = plot->toPixmap(width, height).save(&buffer, "PNG");
    } else {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(QSize(width, height));
        svg.setViewBox(QRect(0, 0, width, height));
        svg.setTitle(plotTitle(which));
        QCPPainter painter;
        drawn = painter.begin(&svg);
        if (drawn) {
            painter.setMode(QCPPainter::pmVectorized);
            for (int c = 0; c < channelCount; ++c)
                amplitudeGraphs[c]->setScatterStyle(hitMark(channelColors[c], true));
            plot->toPainter(&painter, width, height);
            painter.end();
            for (int c = 0; c < channelCount; ++c)
                amplitudeGraphs[c]->setScatterStyle(hitMark(channelColors[c], false));
        }
    }
    if (!drawn) {
        cause = tr("изображение не построено");
        return false;
    }
    return saveText(name, bytes.toStdString(), cause);
}

// What a plot shows, with "." as the decimal point whatever the locale and times in UTC.
std::string TrendDock::csvOf(Plot which) const
{
    std::string text;
    switch (which) {
    case amplitudePlot:
        text = "time_utc,channel,amplitude_dB\n";
        for (qsizetype i = firstAtOrAfter(hits, filter.from); i < hits.size(); ++i) {
            const TrendHit& hit = hits[i];
            if (hit.channel >= channelCount || !filter.accepts(hit))
                continue;
            appendUtc(text, hit.utcSeconds);
            text += ',' + std::to_string(hit.channel + 1) + ',';
            appendRow(text, { hit.amplitudeDb });
        }
        break;
    case cumulativePlot:
        text = "time_utc,hits,energy_V2s\n";
        for (qsizetype i = 0; i < cumulative.times.size(); ++i) {
            appendUtc(text, cumulative.times[i]);
            text += ',';
            appendRow(text, { cumulative.hits[i], cumulative.energy[i] });
        }
        break;
    case distributionPlot:
        text = "from_dB,to_dB,hits\n";
        for (int i = 0; i < amplitudes.counts.size(); ++i)
            appendRow(
                text, { binEdge(amplitudes, i), binEdge(amplitudes, i + 1), amplitudes.counts[i] });
        break;
    default:
        if (!planar) {
            const Histogram& line = sources.line;
            text = "from_m,to_m,sources\n";
            for (int i = 0; i < line.counts.size(); ++i)
                appendRow(text, { binEdge(line, i), binEdge(line, i + 1), line.counts[i] });
            appendBeyond(text, sourcesBeyond());
        } else if (sources.planeSources <= sources.pointLimit) {
            text = "x_m,y_m\n";
            for (const QPointF& place : sources.points)
                appendRow(text, { place.x(), place.y() });
        } else {
            const DensityGrid& grid = sources.grid;
            text = "x_m,y_m,sources\n";
            for (int r = 0; r < grid.rows; ++r)
                for (int c = 0; c < grid.columns; ++c)
                    if (grid.count(c, r) > 0)
                        appendRow(text,
                            { grid.centre(c, r).x(), grid.centre(c, r).y(), grid.count(c, r) });
            appendBeyond(text, sourcesBeyond());
        }
        break;
    }
    return text;
}
