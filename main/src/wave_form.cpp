#include "wave_form.h"

#include "convert.h"
#include "data.h"
#include "errors.h"
#include "fft_dialog.h"
#include "record_export.h"
#include "record_view.h"
#include "rs232.h"
#include "scales.h"
#include "selsig_dialog.h"
#include "ufft.h"
#include "ustrings.h"
#include "wav_file.h"
#include "wave_stor.h"

#include <QtMisc/qtm_messager.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStaticText>
#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr int initialWidth = 379;
constexpr int initialHeight = 294;
constexpr int initialPlotHeight = 273;
constexpr int scrollBarHeight = 17;

} // namespace

// --- Plot surface -------------------------------------------------------------------------------

TWFormInternalWidget::TWFormInternalWidget(TWForm* window)
    : QWidget(window)
    , window(window)
{
}

TWFormInternalWidget::~TWFormInternalWidget()
{
    delete painter;
}

bool TWFormInternalWidget::setup()
{
    QPalette black = palette();
    black.setColor(QPalette::All, QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setMouseTracking(true);
    painter = new (std::nothrow) QPainter;
    if (!painter) {
        QTM_REPORT(0xA702);
        return false;
    }
    return true;
}

// Every paint draws the whole record afresh into an off-screen image, shows the selection
// inverted on it, then shows the image.
void TWFormInternalWidget::paintEvent(QPaintEvent*)
{
    if (!painter)
        return;
    QImage frame(size(), QImage::Format_RGB32);
    frame.fill(Qt::black);
    if (window->record && painter->begin(&frame)) {
        window->record->draw(*painter);
        if (window->viewOptions().scales)
            drawRecordScales(*painter, *window->record, window->plotRect, window->viewOptions().volts,
                window->logScale);
        drawHitMarks(*painter);
        painter->end();
        invertSelection(frame);
        if (window->selecting && painter->begin(&frame)) {
            drawSelectionLength(*painter);
            painter->end();
        }
    }
    if (painter->begin(this)) {
        painter->drawImage(0, 0, frame);
        painter->end();
    }
}

QList<QRect> channelBands(const WaveStore& record, const QRect& plot)
{
    QList<int> order;
    for (int i = 0; i < record.channelCount(); ++i)
        if (record.channel(i) && record.channel(i)->hasData && record.channel(i)->scaleY > 0)
            order << i;
    std::sort(order.begin(), order.end(), [&record](int a, int b) {
        return record.channel(a)->baselineY < record.channel(b)->baselineY;
    });
    QList<QRect> bands(record.channelCount());
    for (int n = 0; n < int(order.size()); ++n) {
        const int i = order[n];
        const auto middle = [&](int other) {
            return (record.channel(i)->baselineY + record.channel(order[other])->baselineY) / 2;
        };
        bands[i] = QRect(QPoint(plot.left(), n > 0 ? middle(n - 1) : plot.top()),
            QPoint(plot.right(), n + 1 < int(order.size()) ? middle(n + 1) : plot.bottom()));
    }
    return bands;
}

// Dashed lines at the threshold (both polarities about the background mean, detector data one)
// of every channel searched, across the channel's band, but for a search through a filter; and
// a tick at each arrival.
void TWFormInternalWidget::drawHitMarks(QPainter& painter) const
{
    const HitMarks& marks = window->hitMarks;
    const WaveStore* record = window->record;
    if (!marks.shown)
        return;
    painter.save();
    painter.setPen(QPen(QColor(255, 200, 0), 1, Qt::DashLine));
    const QList<QRect> bands = channelBands(*record, record->plotRect);
    for (const int c : marks.channels) {
        const WaveChannel* channel = record->channel(c);
        if (!channel || !channel->hasData || c >= int(bands.size()) || bands[c].isNull())
            continue;
        const double perCode = sampleAmplitude(1, record->channelSlots[c].header.gainCode, false,
            true); // volts of one code of ordinary data; detector data count half
        if (perCode <= 0)
            continue;
        const QRect& area = bands[c];
        const double level = marks.thresholdVolts.value(c) / perCode;
        if (level <= 0)
            continue;
        const double mean = marks.meanVolts.value(c) / perCode;
        const QList<double> codes = channel->detectorOffset
            ? QList<double> { 2 * level - 128 }
            : QList<double> { mean + level, mean - level };
        for (const double code : codes) {
            // A line beyond the band stays at its edge, with an arrow pointing the way.
            const double exact = channel->baselineY - code * channel->scaleY;
            const int y
                = int(std::lround(std::clamp(exact, double(area.top()), double(area.bottom()))));
            painter.drawLine(area.left(), y, area.right(), y);
            if (exact < area.top() || exact > area.bottom()) {
                const int tip = exact < area.top() ? 6 : -6;
                const QPoint arrow[] = { { area.left() + 12, y }, { area.left() + 8, y + tip },
                    { area.left() + 16, y + tip } };
                painter.save();
                painter.setBrush(QColor(255, 200, 0));
                painter.setPen(Qt::NoPen);
                painter.drawPolygon(arrow, 3);
                painter.restore();
            }
        }
    }
    // Arrival ticks reach 12 pixels either side of the channel's zero level.
    painter.setPen(QPen(QColor(255, 0, 255), 2));
    for (const auto& [c, sample] : marks.arrivals) {
        const WaveChannel* channel = record->channel(c);
        if (!channel)
            continue;
        const int x = channel->sampleToX(sample);
        const QRect& area = channel->channelArea;
        const int zero = channel->baselineY - channel->zeroOffset;
        if (x >= area.left() && x <= area.right())
            painter.drawLine(
                x, std::max(area.top(), zero - 12), x, std::min(area.bottom(), zero + 12));
    }
    painter.restore();
}

namespace {

// The scales' colours: light on the black screen, black and grey on a white page.
struct ScaleStyle
{
    QColor grid;
    QColor text;
    QColor box;
};

ScaleStyle scaleStyle()
{
    if (printRendering)
        return { QColor(200, 200, 200), Qt::black, Qt::white };
    return { QColor(55, 55, 55), QColor(200, 200, 200), Qt::black };
}

// A linear axis: value v lies at pixel origin + v * perUnit (x to the right, y upwards).
struct Axis
{
    double origin = 0;
    double perUnit = 0;
    QString unit;
    bool prefixed = true;
};

// Along the record's samples: time in seconds, or for a spectrum the frequency of its bins (bin
// k holds (k + 1) times the bin width); sample numbers without a frequency.
Axis horizontalAxis(const WaveStore& record, const WaveChannel& first)
{
    const double origin = first.channelArea.left() - first.originX;
    const double period = record.samplePeriodMicros();
    if (first.isSpectrum && period > 0) {
        const double hzPerBin = 1e6 / (2.0 * period * std::max(1, record.sampleCount()));
        return { origin - first.scaleX, first.scaleX / hzPerBin, QStringLiteral("Hz") };
    }
    const double rate = sampleRateHz(record);
    return { origin, first.scaleX * (rate > 0 ? rate : 1.0),
        rate > 0 ? QStringLiteral("S") : QString() };
}

// Up a channel's band from its zero level: the readout's value in volts or coulombs; for a
// spectrum the bin's level in volts or decibels (the zero level then stands for -256 units).
Axis verticalAxis(const WaveStore& record, int i, bool volts, bool logarithmic)
{
    const WaveChannel& channel = *record.channelSlots[i].channel;
    const int gainCode = record.channelSlots[i].header.gainCode;
    const double zero = channel.baselineY - channel.zeroOffset;
    if (channel.isSpectrum && logarithmic) {
        const double perUnit = channel.scaleY / double(channel.valueUnit);
        return { zero - 256 * channel.valueUnit * perUnit, perUnit, QStringLiteral("dB"), false };
    }
    if (channel.isSpectrum) {
        const double perCode = channel.valueUnit * sampleAmplitude(1, gainCode, false, true);
        return { zero, channel.scaleY / perCode, QStringLiteral("V") };
    }
    // Detector data count half a code per step from the lowest level.
    const double perCode
        = sampleAmplitude(1, gainCode, false, volts) / 2 * (channel.detectorOffset ? 1 : 2);
    return { zero, channel.scaleY / perCode, volts ? QStringLiteral("V") : QStringLiteral("Q") };
}

// The scales of one drawing: its painter, the font's metrics, the colours and pens, set up once
// for all the ticks and labels.
class ScalePainter
{
public:
    explicit ScalePainter(QPainter& painter)
        : painter(painter)
        , metrics(painter.fontMetrics())
        , style(scaleStyle())
        , tickPen(linePen(style.text))
        , textPen(style.text)
    {
    }

    // Labels in the scale colour on a box of the background, left edges at x. On screen labels
    // repeat from one paint to the next: each is laid out once (in the screen's font) and kept,
    // a few hundred. A page has fonts of its own and is drawn once.
    void text(int x, int baseline, const QString& text)
    {
        const int top = baseline - metrics.ascent();
        painter.setPen(textPen);
        if (printRendering) {
            painter.fillRect(
                QRect(x - 1, top, metrics.horizontalAdvance(text) + 2, metrics.height()),
                style.box);
            painter.drawText(x, baseline, text);
            return;
        }
        static QHash<QString, QStaticText> laidOut;
        if (laidOut.size() > 2000)
            laidOut.clear();
        auto found = laidOut.find(text);
        if (found == laidOut.end()) {
            found = laidOut.insert(text, QStaticText(text));
            found->setTextFormat(Qt::PlainText);
            found->prepare(QTransform(), painter.font());
        }
        const int width = int(std::ceil(found->size().width()));
        painter.fillRect(QRect(x - 1, top, width + 2, metrics.height()), style.box);
        painter.drawStaticText(x, top, *found);
    }

    void horizontalAxis(const Axis& axis, const QRect& plot)
    {
        const double step = niceStep(
            (metrics.horizontalAdvance(QStringLiteral("-888.88kHz")) + 24) / axis.perUnit);
        const QList<double> ticks = ticksBetween((plot.left() - axis.origin) / axis.perUnit,
            (plot.right() - axis.origin) / axis.perUnit, step);
        painter.setPen(tickPen);
        for (const double v : ticks) {
            const int x = int(std::lround(axis.origin + v * axis.perUnit));
            // Grid lines as one-pixel rectangles: the raster engine fills those far faster.
            painter.fillRect(QRect(x, plot.top(), 1, plot.height()), style.grid);
            painter.drawLine(x, plot.bottom() - 4, x, plot.bottom());
        }
        for (const double v : ticks)
            text(int(std::lround(axis.origin + v * axis.perUnit)) + 2, plot.bottom() - 5,
                tickLabel(v, step, axis.unit));
    }

    // Ticks in the band, keeping its top line free for the channel's label (a tick's label
    // reaches half an ascent above it).
    void verticalAxis(const Axis& axis, const QRect& band)
    {
        const double step = niceStep((2 * metrics.height() + 8) / axis.perUnit);
        const double low = (axis.origin - band.bottom() + metrics.height() / 2) / axis.perUnit;
        const double high = (axis.origin - band.top() - metrics.height() - metrics.ascent() / 2 - 1)
            / axis.perUnit;
        const QList<double> ticks = ticksBetween(low, high, step);
        painter.setPen(tickPen);
        for (const double v : ticks) {
            const int y = int(std::lround(axis.origin - v * axis.perUnit));
            painter.fillRect(QRect(band.left(), y, band.width(), 1), style.grid);
            painter.drawLine(band.left(), y, band.left() + 4, y);
        }
        for (const double v : ticks)
            text(band.left() + 6,
                int(std::lround(axis.origin - v * axis.perUnit)) + metrics.ascent() / 2,
                tickLabel(v, step, axis.unit, axis.prefixed));
    }

    QPainter& painter;
    const QFontMetrics metrics;
    const ScaleStyle style;
    const QPen tickPen;
    const QPen textPen;
};

} // namespace

QString channelLabel(const WaveStore& record, int i)
{
    const ChannelHeader& header = record.channelSlots[i].header;
    return TWForm::tr("%1: вход %2, ×%3")
        .arg(i + 1)
        .arg(header.inputNumber)
        .arg(quint64(1) << (header.gainCode % 32));
}

void drawRecordScales(
    QPainter& painter, WaveStore& record, const QRect& plot, bool volts, bool logarithmic)
{
    const WaveChannel* first = record.channel(0);
    if (!first || first->scaleX <= 0)
        return;
    painter.save();
    ScalePainter scales(painter);
    const QFontMetrics& metrics = scales.metrics;
    scales.horizontalAxis(horizontalAxis(record, *first), plot);
    // The foot keeps a line for the axis' labels.
    const QList<QRect> bands = channelBands(record, plot.adjusted(0, 0, 0, -metrics.height()));
    for (int i = 0; i < int(bands.size()); ++i) {
        const QRect& band = bands[i];
        if (band.isNull())
            continue;
        const Axis axis = verticalAxis(record, i, volts, logarithmic);
        if (axis.perUnit > 0 && std::isfinite(axis.perUnit))
            scales.verticalAxis(axis, band);
        scales.text(band.left() + 6, band.top() + metrics.ascent() + 1, channelLabel(record, i));
    }
    painter.restore();
}

// While a selection is dragged, its length in samples and in time above its start.
void TWFormInternalWidget::drawSelectionLength(QPainter& painter) const
{
    const int count = std::abs(window->selEnd - window->selStart);
    if (count == 0)
        return;
    const double rate = sampleRateHz(*window->record);
    QString text = tr("%1 отсч.").arg(count);
    if (rate > 0)
        text += QStringLiteral(" = ") + engineeringText(count / rate, 7).trimmed()
            + QStringLiteral("S"); // as the time readouts write it
    const int x = std::max(window->plotRect.left(),
        window->record->sampleToX(std::min(window->selStart, window->selEnd)));
    const QRect box = painter.fontMetrics().boundingRect(text).adjusted(-3, -2, 3, 2);
    const QRect placed = box.translated(x - box.left() + 2, window->plotRect.top() - box.top() + 2);
    painter.fillRect(placed, Qt::black);
    painter.setPen(Qt::white);
    painter.drawText(placed, Qt::AlignCenter, text);
}

// The selected time span, columns sampleToX(start) up to sampleToX(end), in inverted colours.
void TWFormInternalWidget::invertSelection(QImage& frame) const
{
    const WaveStore* record = window->record;
    const QRect& plot = window->plotRect;
    if (window->selStart == window->selEnd || plot.isEmpty())
        return;
    int x1 = std::clamp(record->sampleToX(window->selStart), plot.left(), plot.right());
    int x2 = std::clamp(record->sampleToX(window->selEnd), plot.left(), plot.right());
    if (x1 > x2)
        std::swap(x1, x2);
    x1 = std::max(x1, 0);
    x2 = std::min(x2, frame.width());
    const int bottom = std::min(plot.bottom(), frame.height() - 1);
    for (int y = std::max(plot.top(), 0); y <= bottom; ++y) {
        auto* line = reinterpret_cast<quint32*>(frame.scanLine(y));
        for (int x = x1; x < x2; ++x)
            line[x] ^= 0x00FFFFFFu;
    }
}

void TWFormInternalWidget::mousePressEvent(QMouseEvent* event)
{
    eventPos = pressPos = event->position().toPoint();
    WaveStore* record = window->record;
    if (event->button() == Qt::LeftButton) {
        if (record) {
            window->grabbedCursor = record->cursorAt(pressPos.x(), pressPos.y());
            if (window->grabbedCursor < 0) {
                window->grabbedLevel = record->baselineAt(pressPos.x(), pressPos.y());
                record->startBaselineDrag();
            }
        }
        state = 0;
    } else if (event->button() == Qt::RightButton && !window->hasSpectrum) {
        state = 1;
    } else {
        return;
    }
    performState();
    update();
}

void TWFormInternalWidget::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    setPointerShape(at);
    const Qt::MouseButtons buttons = event->buttons();
    if (buttons == Qt::NoButton)
        return;
    const bool grabbed = window->grabbedCursor >= 0 || window->grabbedLevel >= 0;
    if (((buttons & Qt::LeftButton) && grabbed)
        || ((buttons & Qt::RightButton) && window->selecting)) {
        state = 2;
        eventPos = at;
    } else {
        state = 3;
        eventPos = pressPos;
    }
    performState();
    update();
}

void TWFormInternalWidget::mouseReleaseEvent(QMouseEvent* event)
{
    eventPos = event->position().toPoint();
    setPointerShape(eventPos);
    state = 3;
    performState();
    update();
}

// Split-horizontal over a time cursor, split-vertical over a baseline, the arrow elsewhere.
void TWFormInternalWidget::setPointerShape(const QPoint& at)
{
    WaveStore* record = window->record;
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (window->grabbedCursor >= 0 || (record && record->cursorAt(at.x(), at.y()) >= 0))
        shape = Qt::SplitHCursor;
    else if (window->grabbedLevel >= 0 || (record && record->baselineAt(at.x(), at.y()) >= 0))
        shape = Qt::SplitVCursor;
    if (cursor().shape() != shape)
        setCursor(shape);
}

// The state is carried out as soon as it is set, so that events arriving faster than the
// paints never lose a step (a press followed by a move before the next paint).
void TWFormInternalWidget::performState()
{
    WaveStore* record = window->record;
    const int performed = state;
    switch (state) {
    case 1:
        window->selecting = true;
        window->selStart = window->selEnd
            = record ? std::clamp(record->xToSample(eventPos.x()), 0, record->sampleCount()) : 0;
        break;
    case 2:
        followEventPos();
        break;
    case 3:
        state = 0;
        followEventPos();
        window->grabbedCursor = window->grabbedLevel = -1;
        window->selecting = false;
        break;
    case 4:
        state = 0;
        window->selEnd = pendingSelEnd;
        break;
    case 5:
        state = 0;
        break;
    default:
        break;
    }
    if (performed >= 1 && performed <= 4)
        emit window->selectionMoved(); // the selection's figures follow the drag
    if (performed == 1 || performed == 3 || performed == 4)
        emit window->contentsChanged(); // made, collapsed by a press, or finished
}

// Moves the grabbed cursor or baseline to eventPos, or extends the selection to it.
void TWFormInternalWidget::followEventPos()
{
    WaveStore* record = window->record;
    if (!record || !painter)
        return;
    pressPos = eventPos;
    const int x = eventPos.x();
    if (window->grabbedCursor >= 0) {
        record->setCursorFromX(window->grabbedCursor, x);
        window->refreshStatus(window->grabbedCursor);
        return;
    }
    if (window->grabbedLevel >= 0) {
        record->moveBaseline(window->grabbedLevel, x, eventPos.y());
        return;
    }
    if (!window->selecting)
        return;
    const int n = record->sampleCount();
    int exponent = 1;
    int end = std::clamp(record->xToSample(x), 0, n);
    if (window->viewOptions().powerOfTwoSelection) {
        end = window->selStart
            + roundToPowerOfTwo(record->xToSample(x) - window->selStart, exponent);
        if (end < 0 || end > n)
            return;
    }
    if (end == window->selEnd)
        return;
    window->fftExponent = exponent;
    window->selEnd = end;
}

// --- Window -------------------------------------------------------------------------------------

TWForm::TWForm(QWidget* parent, Qt::WindowFlags flags)
    : QMdiSubWindow(parent, flags)
{
}

TWForm::~TWForm()
{
    // The workspace activates another window while the sub-window part of this one goes: what
    // shows this window lets go of it first, and its surface is not drawn on any more.
    emit goingAway();
    plotWidget = nullptr;
    if (linkedWindow) {
        if (isSpectrum)
            linkedWindow->hasSpectrum = false;
        if (linkedWindow->plotWidget)
            linkedWindow->plotWidget->update();
    }
    delete record;
    record = nullptr;
    delete scrollBar;
    scrollBar = nullptr;
}

// The sub-window's own menu closes it with Ctrl+F4 and, on this platform, Ctrl+W too, which is
// the save command's key: with both bound the key did neither. The window keeps Ctrl+F4.
void TWForm::releaseSaveShortcut()
{
    const QKeySequence save(Qt::CTRL | Qt::Key_W);
    if (QMenu* menu = systemMenu())
        for (QAction* action : menu->actions()) {
            QList<QKeySequence> keys = action->shortcuts();
            if (keys.removeAll(save) > 0)
                action->setShortcuts(keys);
        }
}

bool TWForm::setupWindow()
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QIcon(QStringLiteral(":/wform.ico")));
    releaseSaveShortcut();
    if (!connect(this, &QMdiSubWindow::aboutToActivate, this, &TWForm::slot_aboutToActivate)) {
        QTM_REPORT(0xA602);
        return false;
    }
    resize(initialWidth, initialHeight);
    plotWidget = new (std::nothrow) TWFormInternalWidget(this);
    if (!plotWidget || !plotWidget->setup()) {
        QTM_REPORT(0xA702);
        return false;
    }
    plotWidget->setGeometry(0, 0, width(), initialPlotHeight);
    scrollBar = new (std::nothrow) QScrollBar(Qt::Horizontal, this);
    if (!scrollBar) {
        QTM_REPORT(0xA602);
        return false;
    }
    scrollBar->setMaximum(100);
    scrollBar->setToolTip(tr("Положение временного окна"));
    if (!connect(scrollBar, &QScrollBar::valueChanged, this, &TWForm::slot_SBarValueChanged)) {
        QTM_REPORT(0xAC02);
        return false;
    }
    setWidget(plotWidget);
    if (layout())
        layout()->setAlignment(plotWidget, Qt::AlignTop);
    return true;
}

bool TWForm::initEmpty()
{
    if (!setupWindow()) {
        QTM_REPORT(0xA602);
        return false;
    }
    record = new (std::nothrow) WaveStore(plotRect);
    if (!record || !record->initialise(4, 0)) {
        QTM_REPORT(0xAF02);
        return false;
    }
    relayout(height());
    setupScrollBar();
    return true;
}

bool TWForm::loadRecord(const QString& name, const std::function<bool(WaveStore&)>& fill)
{
    if (!setupWindow())
        return false;
    delete record;
    record = new (std::nothrow) WaveStore(plotRect);
    if (!record || !fill(*record))
        return false;
    fileName = name;
    refreshTitle();
    relayout(height());
    setupScrollBar();
    emit controlsChanged();
    refreshAllStatus();
    return true;
}

bool TWForm::openFile(const QString& name, QString* cause)
{
    fileTime = QFileInfo(name).lastModified();
    return loadRecord(
        name, [&name, cause](WaveStore& fresh) { return readRaw(fresh, name, cause); });
}

bool TWForm::importFile(const QString& name, QString& cause, ImportNotes& notes)
{
    return loadRecord(name, [&](WaveStore& fresh) {
        if (!importWav(name, -1, fresh, notes, cause))
            return false;
        fresh.setUnsaved(true); // not a record file until it is written as one
        return true;
    });
}

int TWForm::saveFile(const QString& name)
{
    if (!record)
        return 100;
    const int result = writeRaw(*record, name);
    if (result == 0)
        markSaved(name);
    return result;
}

void TWForm::nameUnsaved(const QString& name)
{
    fileName = name;
    refreshTitle();
}

void TWForm::markSaved(const QString& name)
{
    if (!record)
        return;
    record->setUnsaved(false);
    fileName = name;
    refreshTitle();
}

void TWForm::refreshTitle()
{
    if (fileName.isEmpty())
        return; // a new window keeps its own title
    const bool differs = record && record->isModified();
    setWindowTitle(QDir::toNativeSeparators(fileName) + (differs ? QStringLiteral("[*]") : QString()));
    setWindowModified(differs);
}

QString TWForm::shownTitle(const QString& unsavedMark) const
{
    QString title = windowTitle();
    title.remove(QStringLiteral("[*]"));
    return isWindowModified() ? title + unsavedMark : title;
}

namespace {

// A record of the same shape carries the window's display over to the new one.
void keepDisplay(const WaveStore& old, WaveStore& fresh)
{
    if (old.channelCount() != fresh.channelCount() || old.sampleCount() != fresh.sampleCount())
        return;
    fresh.header.verticalZoom = old.header.verticalZoom;
    fresh.header.sineOverlay = old.header.sineOverlay;
    fresh.setSmoothing(old.header.smoothMode, old.header.smoothParam);
    fresh.refreshScaleY();
    fresh.applyScales();
    for (int i = 0; i < fresh.channelCount(); ++i) {
        const WaveChannel* from = old.channel(i);
        WaveChannel* to = fresh.channel(i);
        if (!from || !to)
            continue;
        to->baselineY = from->baselineY;
        to->cursorSample = from->cursorSample;
        to->traceColor = from->traceColor;
        to->cursorColor = from->cursorColor;
        to->baselineColor = from->baselineColor;
    }
}

} // namespace

bool TWForm::acquire(int channels, int samples, const AcqParams& params, const QString& port,
    qint32 rate, QProgressBar* ownBar)
{
    auto* fresh = new (std::nothrow) WaveStore(plotRect);
    if (!fresh || !fresh->initialise(channels, samples)) {
        delete fresh;
        return false;
    }
    const bool sameShape = record && record->channelCount() == fresh->channelCount()
        && record->sampleCount() == fresh->sampleCount();
    if (record)
        keepDisplay(*record, *fresh);
    if (!runAcquisition(*fresh, this, serialLink(), params, port, rate, ownBar)) {
        delete fresh;
        setupScrollBar();
        return false;
    }
    delete record;
    record = fresh;
    runEnded = QDateTime::currentDateTime();
    fileTime = QDateTime();
    // A recording nobody has saved yet is not to be lost by closing its window unasked.
    record->setUnsaved(true);
    if (!sameShape) {
        laidOut = false;
        relayout(height());
    }
    setupScrollBar();
    repaintPlot();
    refreshAllStatus();
    refreshTitle();
    emit contentsChanged();
    return true;
}

void TWForm::repaintPlot()
{
    if (plotWidget)
        plotWidget->repaint();
}

// --- Layout -------------------------------------------------------------------------------------

void TWForm::resizeEvent(QResizeEvent* event)
{
    if (resizing) {
        QMdiSubWindow::resizeEvent(event);
        return;
    }
    resizing = true;
    int h = event->size().height();
    if (!laidOut && plotWidget) {
        // Before the first layout the plot keeps its height below the title bar.
        const int grow = plotWidget->y() - 1;
        plotWidget->resize(plotWidget->width(), plotWidget->height() + grow);
        resize(width(), height() + grow);
        h = height();
    }
    QMdiSubWindow::resizeEvent(event);
    resizing = false;
    relayout(h);
}

// Places the plot and the scroll bar below it inside the window's frame (the title bar and
// the borders are the style's), then lays the record out on the plot; the first layout also
// places the channels' baselines.
void TWForm::relayout(int h)
{
    if (!plotWidget || !scrollBar || resizing)
        return;
    resizing = true;
    const QRect inside = contentsRect();
    const int top = inside.top();
    const int bottomGap = std::max(0, h - 1 - inside.bottom());
    if (isMinimized()) {
        plotWidget->hide();
        scrollBar->hide();
    } else if (h - bottomGap - scrollBarHeight - 2 <= top) {
        scrollBar->hide();
        plotWidget->setFixedHeight(std::max(1, h - bottomGap - top));
    } else {
        const int barY = h - bottomGap - scrollBarHeight;
        scrollBar->setGeometry(inside.left(), barY, inside.width(), scrollBarHeight);
        scrollBar->show();
        plotWidget->setFixedHeight(std::max(1, barY - 1 - top));
        plotWidget->show();
    }
    plotRect = QRect(QPoint(0, 0), QPoint(plotWidget->width() - 1, plotWidget->height() - 1));
    if (record) {
        record->setPlotRect(plotRect);
        if (!laidOut) {
            laidOut = true;
            record->layout();
        }
    }
    resizing = false;
}

void TWForm::setupScrollBar()
{
    if (!scrollBar)
        return;
    const QSignalBlocker quiet(scrollBar);
    const int n = record ? record->sampleCount() : 0;
    const int w = record ? record->viewCount() : 0;
    if (n <= 0 || w <= 0) {
        scrollStep = 1;
        scrollBar->setRange(0, 0);
        scrollBar->setValue(0);
        scrollBar->setEnabled(false);
        return;
    }
    const int first = record->viewFirst();
    scrollStep = (n - w) / 32768 + 1;
    scrollBar->setRange(0, (n - w) / scrollStep);
    scrollBar->setValue(first / scrollStep);
    const double quarter = (plotRect.right() - plotRect.left()) / 4.0;
    const int quarterSamples = record->scaleX > 0 ? int(quarter / record->scaleX) : 0;
    scrollBar->setPageStep(std::max(1, quarterSamples / scrollStep));
    scrollBar->setEnabled(first != 0 || w != n);
}

void TWForm::setView(int first, int count)
{
    record->header.firstVisible = first;
    record->header.visibleCount = count;
    record->refreshScaleX();
    record->applyScales();
    setupScrollBar();
}

// --- View ---------------------------------------------------------------------------------------

void TWForm::slot_SBarValueChanged(int value)
{
    if (!record || !plotWidget)
        return;
    const int first = record->viewFirst();
    if (value == first / scrollStep)
        return;
    const int oldX = record->sampleToX(first);
    const int newFirst = value * scrollStep;
    const int newX = record->sampleToX(newFirst);
    record->header.firstVisible = newFirst;
    record->applyScales();
    if (oldX != newX)
        plotWidget->scroll(oldX - newX, 0);
}

void TWForm::setStretch(bool apply, int value, int maximum)
{
    if (!apply || !record || !plotWidget || maximum == 0)
        return;
    const int n = record->sampleCount();
    const int width = int(qint64(n) * value / maximum);
    if (width == record->header.visibleCount)
        return;
    int first = record->viewFirst();
    if (first + width > n)
        first = std::max(n - width, 0);
    setView(first, width);
    repaintPlot();
}

void TWForm::setVScale(bool apply, int value)
{
    if (!apply || !record || !plotWidget)
        return;
    const auto zoom = quint16(std::clamp(value, 0, 65535));
    if (zoom == record->header.verticalZoom)
        return;
    record->header.verticalZoom = zoom;
    record->refreshScaleY();
    record->applyScales();
    repaintPlot();
}

void TWForm::syncVScaleSlider(QScrollBar* slider) const
{
    if (slider && record)
        slider->setValue(record->header.verticalZoom / 10);
}

void TWForm::syncStretchSlider(QScrollBar* slider) const
{
    if (slider && record && record->sampleCount() >= 1)
        slider->setValue(
            int(qint64(slider->maximum()) * record->viewCount() / record->sampleCount()));
}

void TWForm::zoomIn()
{
    if (!record || record->sampleCount() < 2)
        return;
    const int n = record->sampleCount();
    const int w = record->viewCount();
    const int width = std::min(std::max(w / 2, 2), n);
    const int first = std::clamp(record->viewFirst() + w / 4, 0, n - width);
    zoomTo(first, width);
}

void TWForm::zoomTo(int first, int width)
{
    if (width == record->viewCount() && first == record->viewFirst())
        return;
    setView(first, width);
    emit stretchChanged();
    repaintPlot();
}

void TWForm::zoomOut()
{
    if (!record || record->sampleCount() < 1)
        return;
    const int n = record->sampleCount();
    const int w = record->viewCount();
    int width = 2 * w;
    int first = record->viewFirst() - w / 2;
    if (first < 0) {
        width -= first; // grows by the part that would lie before the record
        first = 0;
    }
    if (first + width > n) {
        if (width < n) {
            first = n - width;
        } else {
            first = 0;
            width = n;
        }
    }
    zoomTo(first, width);
}

void TWForm::zoomSelection()
{
    if (hasSpectrum || !record || selStart == selEnd)
        return;
    const int n = record->sampleCount();
    const int a = std::clamp(std::min(selStart, selEnd), 0, std::max(n - 1, 0));
    const int b = std::clamp(std::max(selStart, selEnd), 0, std::max(n - 1, 0));
    selStart = selEnd = 0;
    zoomTo(a, b - a + 1);
    emit contentsChanged();
}

// --- Display ------------------------------------------------------------------------------------

void TWForm::setGraphColor(int channel, const QColor& color)
{
    if (record)
        record->setTraceColor(channel, color);
    repaintPlot();
}

void TWForm::setCursorColor(int channel, const QColor& color)
{
    if (record)
        record->setCursorColor(channel, color);
    repaintPlot();
}

void TWForm::setSineVisible(bool visible)
{
    if (isSpectrum || !record)
        return;
    record->header.sineOverlay = visible ? 1 : 0;
    if (visible && plotWidget) {
        plotWidget->state = 5;
        plotWidget->performState();
        plotWidget->update();
    } else {
        repaintPlot();
    }
}

void TWForm::renderTo(QPainter& painter, const QRect& rect, bool withScales)
{
    if (!record)
        return;
    // Baselines follow a change of plot size in whole pixels: laid out on the page and back
    // they would move by rounding, so the window's own are put back as they were.
    int baselines[WaveStore::maxChannels] = {};
    for (int i = 0; i < WaveStore::maxChannels; ++i)
        if (const WaveChannel* c = record->channelSlots[i].channel)
            baselines[i] = c->baselineY;
    record->setPlotRect(rect);
    record->draw(painter);
    if (withScales)
        drawRecordScales(painter, *record, rect, options.volts, logScale);
    record->setPlotRect(plotRect);
    for (int i = 0; i < WaveStore::maxChannels; ++i)
        if (WaveChannel* c = record->channelSlots[i].channel)
            c->baselineY = baselines[i];
}

void TWForm::setFilter(int mode, int param)
{
    if (record && record->setSmoothing(mode, param)) {
        repaintPlot();
        refreshAllStatus();
    }
}

int TWForm::displayMode() const
{
    return record ? record->header.smoothMode : 0;
}

int TWForm::smoothParam() const
{
    return record ? record->header.smoothParam : 0;
}

bool TWForm::sineOverlay() const
{
    return record && record->header.sineOverlay;
}

namespace {

// A decibel level as stored, or for a bin at the top (0 dB and above, where the stored byte no
// longer tells the level) from its kept coefficients.
double decibelLevel(const WaveChannel& channel, int stored)
{
    const float m = channel.binMagnitude(channel.cursorIndex());
    if (stored == 127 && m > 0.0f)
        return magnitudeDecibels(m);
    return (stored - 128) * double(channel.valueUnit);
}

ChannelStatusTexts spectrumStatusTexts(
    WaveStore& record, const WaveChannel& channel, int gainCode, bool logarithmic)
{
    const double points = record.sampleCount();
    const double hertz
        = (channel.cursorIndex() + 1) * 1e6 / (2.0 * record.samplePeriodMicros() * points);
    const int stored = channel.sample(channel.cursorIndex());
    QString value;
    if (!logarithmic)
        value = engineeringText(
                    sampleAmplitude(stored + 128, gainCode, false, true) * channel.valueUnit, 6)
            + QLatin1Char('V');
    else if (stored == -128)
        value = QStringLiteral("-???? dB");
    else
        value = QString::number(decibelLevel(channel, stored), 'f', 1) + QStringLiteral(" dB");
    return { engineeringText(hertz, 7) + QStringLiteral("Hz"), value };
}

} // namespace

ChannelStatusTexts channelStatusTexts(WaveStore& record, int i, bool volts, bool logarithmic)
{
    WaveChannel* channel = record.channel(i);
    if (!channel || !channel->hasData)
        return {};
    if (channel->isSpectrum)
        return spectrumStatusTexts(
            record, *channel, record.channelSlots[i].header.gainCode, logarithmic);
    const int shown = channel->displayedValue(channel->cursorIndex());
    const double amplitude = sampleAmplitude(
        shown, record.channelSlots[i].header.gainCode, channel->detectorOffset, volts);
    return { timeText(channel->cursorIndex(), record.samplePeriodMicros(), 7)
            + QStringLiteral("uS"),
        engineeringText(amplitude, 6) + (volts ? QStringLiteral("V") : QStringLiteral("Q")) };
}

void TWForm::exportTimes()
{
    if (record)
        copyCursorValues(*record);
}

namespace {

// The chooser for the record's channels; the channels chosen, or none when it was cancelled.
QList<int> chooseChannels(QWidget* parent, int count, const QString& title)
{
    TSelSigDlg dialog(parent);
    if (!title.isEmpty())
        dialog.setWindowTitle(title);
    dialog.setChannelCount(count);
    QList<int> chosen;
    if (dialog.exec() != QDialog::Accepted)
        return chosen;
    for (int i = 0; i < count; ++i)
        if (dialog.isSelected(i))
            chosen.append(i);
    return chosen;
}

void warn(int code)
{
    if (qtmisc::mesDaemon)
        qtmisc::mesDaemon->showWarn(code, QString(), QString(), true, true);
}

} // namespace

void TWForm::zeroSelection()
{
    if (!record || !plotWidget)
        return;
    if (selStart == selEnd) {
        warn(0x150D);
        return;
    }
    const QList<int> channels = chooseChannels(this, record->channelCount(), QString());
    if (channels.isEmpty())
        return;
    processed = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (int i : channels) {
        record->zeroRange(i, std::min(selStart, selEnd), std::max(selStart, selEnd));
        repaintPlot();
        refreshAllStatus();
    }
    QApplication::restoreOverrideCursor();
    refreshTitle();
    emit contentsChanged();
}

void TWForm::centreCursors()
{
    if (!record || !plotWidget)
        return;
    const QList<int> channels
        = chooseChannels(this, record->channelCount(), tr("Установка курсоров"));
    const int middle = (plotRect.right() + 1 - plotRect.left()) / 2;
    for (int i : channels) {
        record->setCursorFromX(i, middle);
        refreshStatus(i);
    }
    repaintPlot();
}

int roundToPowerOfTwo(int d, int& exponent)
{
    exponent = 0;
    const qint64 magnitude = std::abs(qint64(d));
    if (magnitude == 0)
        return 0;
    int b = 0;
    while ((magnitude >> (b + 1)) != 0)
        ++b;
    exponent = (b > 0 && (magnitude >> (b - 1) & 1)) ? b + 1 : b;
    const int power = 1 << exponent;
    return d < 0 ? -power : power;
}

void TWForm::snapSelection()
{
    // While a spectrum is open its source's selection is where the inverse transform writes.
    if (!record || !plotWidget || hasSpectrum || selStart == selEnd)
        return;
    const int n = record->sampleCount();
    int exponent = 0;
    const int d = roundToPowerOfTwo(selEnd - selStart, exponent);
    int end = selStart + d;
    if (end < 0 || end > n) {
        end = selStart + d / 2;
        --exponent;
    }
    // A selection that already has a power-of-two length keeps it, and its exponent is known.
    fftExponent = exponent;
    if (end == selEnd)
        return;
    plotWidget->pendingSelEnd = end;
    plotWidget->state = 4;
    plotWidget->performState();
    plotWidget->update();
}

void TWForm::findMaximum()
{
    if (!record || !plotWidget)
        return;
    if (selStart == selEnd) {
        warn(0x150C);
        return;
    }
    const QList<int> channels = chooseChannels(this, record->channelCount(), tr("Преобразование"));
    if (channels.isEmpty())
        return;
    processed = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (int i : channels) {
        record->channel(i)->cursorSample
            = record->maxIndex(i, std::min(selStart, selEnd), std::max(selStart, selEnd));
        refreshStatus(i);
    }
    QApplication::restoreOverrideCursor();
    repaintPlot();
}

QString meanText(WaveStore& record, int a, int b, bool volts)
{
    QString text = TWForm::tr("Среднее значение:");
    for (int c = 0; c < record.channelCount(); ++c) {
        const WaveChannel* channel = record.channel(c);
        const int gain = record.channelSlots[c].header.gainCode;
        const int mean = record.meanValue(c, a, b);
        // The mean of magnitudes in the readouts' conversion and unit (detector data count
        // from -128); a spectrum's mean level in volts, as its levels are stored.
        const bool spectrum = channel && channel->isSpectrum;
        const double value = spectrum
            ? sampleAmplitude(mean, gain, false, true) / 2
            : sampleAmplitude(channel && channel->detectorOffset ? mean - 128 : mean, gain,
                channel && channel->detectorOffset, volts);
        text += TWForm::tr("\nКанал ") + QString::number(c + 1) + QLatin1Char(':')
            + engineeringText(value, 6) + QLatin1Char(spectrum || volts ? 'V' : 'Q');
    }
    return text;
}

void TWForm::showMean()
{
    if (!qtmisc::mesDaemon || !record)
        return;
    if (selStart == selEnd) {
        warn(0x1501);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const QString text = meanText(
        *record, std::min(selStart, selEnd), std::max(selStart, selEnd), options.volts);
    QApplication::restoreOverrideCursor();
    qtmisc::mesDaemon->showInfo(0x1401, text, QString(), false, false);
}

void TWForm::showSample(int channel, int sample)
{
    WaveChannel* c = record ? record->channel(channel) : nullptr;
    if (!c || sample < 0 || sample >= record->sampleCount())
        return;
    c->cursorSample = sample;
    const int first = record->viewFirst();
    const int count = std::max(1, record->viewCount());
    if (sample < first || sample >= first + count)
        setView(
            std::clamp(sample - count / 2, 0, std::max(0, record->sampleCount() - count)), count);
    refreshStatus(channel);
    repaintPlot();
}

void TWForm::refreshStatus(int channel)
{
    if (!record || channel < 0 || channel > 3)
        return;
    const ChannelStatusTexts texts = channelStatusTexts(*record, channel, options.volts, logScale);
    emit channelStatusChanged(channel, texts.time, texts.value);
}

void TWForm::refreshAllStatus()
{
    if (!record)
        return;
    for (int i = 0; i < 4; ++i) {
        if (i < record->channelCount())
            refreshStatus(i);
        else
            emit channelStatusChanged(i, QString(), QString());
    }
}

void TWForm::slot_aboutToActivate()
{
    emit controlsChanged();
    refreshAllStatus();
}

void TWForm::setViewOptions(const ViewOptions& given)
{
    const bool redraw = given.volts != options.volts || given.scales != options.scales;
    options = given;
    if (redraw) {
        if (plotWidget)
            plotWidget->update();
        refreshAllStatus();
    }
}

// --- Spectrum -----------------------------------------------------------------------------------

int TWForm::computeSpectrum(TWForm* source)
{
    if (!source || !source->record || !setupWindow()) {
        QTM_REPORT(0xA602);
        return 1;
    }
    const int e = source->fftExponent;
    const int start = std::min(source->selStart, source->selEnd);
    const int channels = source->record->channelCount();
    if (e < 2 || e > maxFftExponent) {
        QTM_REPORT(0xA402);
        return 1;
    }
    const int n = 1 << e;
    record = new (std::nothrow) WaveStore(plotRect);
    if (!record || !record->initialise(channels, n / 2)) {
        QTM_REPORT(0xA402);
        return 1;
    }
    relayout(height());
    logScale = fftLogScale;
    // The window function's values, shared by the channels; none for the rectangular window.
    std::vector<float> window;
    if (fftWindowFunction != 0) {
        window.resize(size_t(n));
        for (int k = 0; k < n; ++k)
            window[size_t(k)] = windowValue(k, n, fftWindowFunction);
    }
    {
        ProgressDialog progress(this, tr("Идет преобразование..."), channels * (e + 5));
        ProgressSteps steps = progress.steps();
        for (int i = 0; i < channels; ++i) {
            WaveChannel* from = source->record->channel(i);
            WaveChannel* to = record->channel(i);
            if (!from || !to
                || to->transformFrom(
                       *from, start, e, &steps, logScale, window.empty() ? nullptr : window.data())
                    != 0) {
                QTM_REPORT(0xAC02);
                return 1;
            }
            to->hasData = true;
            record->channelSlots[i].header = source->record->channelSlots[i].header;
        }
    }
    linkedWindow = source;
    source->hasSpectrum = true;
    isSpectrum = true;
    spectrumStart = start;
    record->header.firstVisible = 0;
    record->header.visibleCount = n / 2;
    record->header.clockKHz = source->record->header.clockKHz;
    record->header.ticksPerSample = source->record->header.ticksPerSample;
    windowFunction = fftWindowFunction;
    record->refreshScaleX();
    record->refreshScaleY();
    record->applyScales();
    repaintPlot();
    emit controlsChanged();
    setupScrollBar();
    refreshAllStatus();
    return 0;
}

int TWForm::inverseTransform()
{
    if (!record || !isSpectrum || !linkedWindow || !linkedWindow->plotWidget
        || !linkedWindow->record)
        return 1;
    if (windowFunction != 0) {
        auto answer = QMessageBox::Cancel;
        if (qtmisc::mesDaemon)
            qtmisc::mesDaemon->showQuestion(0x1707, QString(), QString(), &answer, true, true,
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
        if (answer == QMessageBox::No)
            return 1;
        if (answer != QMessageBox::Yes)
            return 0;
    }
    // The spectrum's own size and start: the source's selection may not be what it was.
    const int points = record->sampleCount();
    int e = 1;
    while (e < maxFftExponent && (1 << e) < 2 * points)
        ++e;
    const QList<int> channels = chooseChannels(this, 4, tr("Преобразование"));
    if (channels.isEmpty())
        return 1;
    WaveStore& target = *linkedWindow->record;
    {
        ProgressDialog progress(this, tr("Идет преобразование..."), int(channels.size()) * (e + 3));
        ProgressSteps steps = progress.steps();
        for (int i : channels) {
            const WaveChannel* from = record->channel(i);
            WaveChannel* to = target.channel(i);
            if (from && to)
                from->transformBack(*to, spectrumStart, e, &steps);
        }
    }
    linkedWindow->plotWidget->update();
    linkedWindow->refreshTitle();
    emit linkedWindow->contentsChanged();
    return 1;
}

void TWForm::showSpectrumView()
{
    if (!record)
        return;
    TFFTDlg dialog(this);
    for (int i = 0; i < 4; ++i)
        dialog.channels[i] = i < record->channelCount() ? record->channel(i) : nullptr;
    if (!dialog.setUp())
        return;
    if (dialog.init(record->channelCount(), record->viewFirst(), record->viewCount(),
            record->samplePeriodMicros()))
        dialog.exec();
    else
        warn(0x1510);
}

// --- Closing ------------------------------------------------------------------------------------

// A closing spectrum window frees its source at once, so that the window activated next shows
// the source's commands as they are without a spectrum.
void TWForm::acceptClose(QCloseEvent* event)
{
    event->accept();
    if (isSpectrum && linkedWindow) {
        linkedWindow->hasSpectrum = false;
        emit commandStatesChanged();
    }
}

void TWForm::closeEvent(QCloseEvent* event)
{
    if (ProgressDialog::workInProgress()) {
        event->ignore();
        return;
    }
    if (hasSpectrum) {
        if (qtmisc::mesDaemon)
            qtmisc::mesDaemon->showWarn(0x1502, QString(), QString(), true, true);
        event->ignore();
        return;
    }
    if (isSpectrum && processed) {
        auto answer = QMessageBox::Cancel;
        if (qtmisc::mesDaemon)
            qtmisc::mesDaemon->showQuestion(0x1702, QString(), QString(), &answer, true, true,
                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
        const bool close
            = answer == QMessageBox::No || (answer == QMessageBox::Yes && inverseTransform() == 1);
        if (close)
            acceptClose(event);
        else
            event->ignore();
        return;
    }
    if (!record || !record->isModified()) {
        acceptClose(event);
        return;
    }
    auto answer = QMessageBox::NoButton;
    if (qtmisc::mesDaemon)
        qtmisc::mesDaemon->showQuestion(0x1705, shownTitle(), QString(), &answer, false, true,
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    if (answer == QMessageBox::Yes)
        acceptClose(event);
    else
        event->ignore();
}
