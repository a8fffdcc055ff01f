#include "fft_dialog.h"

#include "convert.h"
#include "ufft.h"
#include "ui_fftdlg.h"
#include "wave_view.h"

#include <QtMisc/qtm_errors.h>

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

void blockSpectrum(WaveChannel& channel, int start, int e, quint8* bars)
{
    const int n = 1 << e;
    std::vector<float> values(static_cast<size_t>(n));
    channel.displayedValues(start, n, values.data());
    std::vector<double> re(values.begin(), values.end());
    std::vector<double> im(size_t(n), 0.0);
    fftDouble(e, re.data(), im.data());
    for (int i = 1; i <= n / 2; ++i) {
        const double p = 2.0 * re[size_t(i)] / n;
        const double q = 2.0 * im[size_t(i)] / n;
        bars[i - 1] = quint8(std::min(255L, std::lround(2.0 * std::sqrt(p * p + q * q))));
    }
}

// --- Plot ---------------------------------------------------------------------------------------

FFTPBox::FFTPBox(TFFTDlg* dialog, QWidget* parent)
    : QFrame(parent)
    , painter(new (std::nothrow) QPainter)
    , dialog(dialog)
{
}

FFTPBox::~FFTPBox()
{
    delete painter;
}

void FFTPBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (!painter || !painter->begin(this))
        return;
    dialog->paintPlot(*painter, width(), height());
    painter->end();
}

void FFTPBox::mousePressEvent(QMouseEvent* event)
{
    if (std::abs(event->position().toPoint().x() - dialog->cursorX) < 5)
        dialog->dragging = true;
}

void FFTPBox::mouseMoveEvent(QMouseEvent* event)
{
    const int x = event->position().toPoint().x();
    if (!dialog->dragging || x < 0 || x > width())
        return;
    dialog->cursorX = x;
    update();
    dialog->setFrequencyLabel();
}

void FFTPBox::mouseReleaseEvent(QMouseEvent*)
{
    dialog->dragging = false;
}

// --- Dialog -------------------------------------------------------------------------------------

TFFTDlg::TFFTDlg(QWidget* parent)
    : QDialog(parent)
{
}

TFFTDlg::~TFFTDlg() = default;

bool TFFTDlg::setUp()
{
    form = std::make_unique<Ui::FFTDlg>();
    form->setupUi(this);
    plot = new (std::nothrow) FFTPBox(this, this);
    if (!plot || !plot->painter) {
        QTM_REPORT(0xA402);
        return false;
    }
    const QRect bar = form->sBar->geometry();
    plot->setGeometry(QRect(QPoint(6, 8), QPoint(6 + bar.width() - 1, 264)));
    plot->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    cursorX = plot->width() / 2;
    if (!connect(form->sBar, &QScrollBar::valueChanged, this, &TFFTDlg::slot_sBarValueChanged)) {
        QTM_REPORT(0xA502);
        return false;
    }
    for (QRadioButton* button : { form->rB1, form->rB2, form->rB3, form->rB4 })
        if (!connect(button, &QRadioButton::released, this, &TFFTDlg::slot_rB1Released)) {
            QTM_REPORT(0xA602);
            return false;
        }
    for (QRadioButton* button : { form->rB128, form->rB256, form->rB512 })
        if (!connect(button, &QRadioButton::released, this, &TFFTDlg::slot_rBSampleSizeReleased)) {
            QTM_REPORT(0xA702);
            return false;
        }
    return true;
}

bool TFFTDlg::init(int channelCount, int first, int visible, double step)
{
    if (visible <= 514)
        return false;
    timeStep = step;
    width = visible;
    offset = first;
    computeBlockSizes();
    form->rB4->setVisible(channelCount > 3);
    form->rB3->setVisible(channelCount > 2);
    form->rB2->setVisible(channelCount > 1);
    return true;
}

void TFFTDlg::computeBlockSizes()
{
    if (form->rB128->isChecked()) {
        blockLength = 128;
        exponent = 7;
    } else if (form->rB256->isChecked()) {
        blockLength = 256;
        exponent = 8;
    } else {
        blockLength = 512;
        exponent = 9;
    }
    half = blockLength / 2;
    const int rest = std::max(width - blockLength, 0);
    scrollStep = rest / 32767 + 1;
    form->sBar->setMaximum(rest / scrollStep);
}

int TFFTDlg::chosenChannel() const
{
    if (form->rB1->isChecked())
        return 0;
    if (form->rB2->isChecked())
        return 1;
    return form->rB3->isChecked() ? 2 : 3;
}

void TFFTDlg::computeBars()
{
    WaveChannel* channel = channels[chosenChannel()];
    const int start = offset + form->sBar->value() * scrollStep;
    if (channel)
        blockSpectrum(*channel, start, exponent, spectrum);
    form->tLabel->setText(QStringLiteral("T= ") + timeText(start + blockLength / 2, timeStep, 7)
        + QStringLiteral(" uS"));
}

void TFFTDlg::recompute()
{
    computeBars();
    if (plot)
        plot->update();
}

void TFFTDlg::paintPlot(QPainter& painter, int w, int h)
{
    if (!painted) {
        painted = true;
        computeBlockSizes();
        computeBars();
    }
    const int bottom = h - 5;
    pixelsPerBin = half > 0 ? double(w) / half : 1.0;
    const double factor = bottom / 256.0;
    if (half > 0) {
        QPolygon line(half);
        line.setPoint(0, 0, bottom - int(std::lround(spectrum[0] * factor)));
        for (int i = 1; i < half; ++i)
            line.setPoint(i, int(std::lround(i * pixelsPerBin)),
                bottom - int(std::lround(spectrum[i] * factor)));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(QPen(Qt::black, 1));
        painter.drawPolyline(line);
    }
    // The cursor inverts what lies under it, so it shows on the background and on the trace.
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::gray, 1));
    painter.drawLine(cursorX, 0, cursorX, h - 2);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    // The label follows the block length as well as the cursor.
    setFrequencyLabel();
}

void TFFTDlg::setFrequencyLabel()
{
    const double span = blockLength * timeStep;
    if (span < 1e-9)
        return;
    const double hertz = (cursorX / pixelsPerBin + 1.0) * 1e6 / span;
    form->fLabel->setText(QStringLiteral("F=") + engineeringText(hertz, 7) + QStringLiteral("Hz"));
}

void TFFTDlg::slot_sBarValueChanged(int value)
{
    if (value == lastScrollValue)
        return;
    lastScrollValue = value;
    recompute();
}

void TFFTDlg::slot_rB1Released()
{
    if (form->rB2->isHidden())
        form->rB1->setChecked(true);
    recompute();
}

void TFFTDlg::slot_rBSampleSizeReleased()
{
    computeBlockSizes();
    recompute();
}
