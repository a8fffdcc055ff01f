#include "print_dialog.h"

#include "cause_texts.h"
#include "convert.h"
#include "file_io.h"
#include "record_export.h"
#include "record_view.h"
#include "ui_printdialog.h"
#include "umisc.h"
#include "versioninfo.h"
#include "wave_form.h"
#include "wave_stor.h"
#include "wave_view.h"

#include <QtMisc/qtm_errors.h>
#include <QtMisc/qtm_messager.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSvgGenerator>
#include <cmath>
#include <new>

QRect previewRectFor(QSize page, QSize area)
{
    if (page.width() <= 0 || page.height() <= 0 || area.width() <= 0 || area.height() <= 0)
        return {};
    QSizeF normal;
    if (page.width() <= page.height())
        normal = QSizeF(std::round(1000.0 * page.width() / page.height()), 1000.0);
    else
        normal = QSizeF(1000.0, std::round(1000.0 * page.height() / page.width()));
    const double s = std::max(normal.width() / area.width(), normal.height() / area.height());
    const double pw = normal.width() / s;
    const double ph = normal.height() / s;
    const int left = int(std::floor((area.width() - pw) / 2));
    const int top = int(std::floor((area.height() - ph) / 2));
    return QRect(left, top, int(std::floor(pw)), int(std::floor(ph)));
}

QString withSuffix(const QString& name, const QString& suffix)
{
    return name.endsWith(suffix) ? name : name + suffix;
}

namespace {

// A labelled page's text: the window's title and when it was printed; the record's frequency,
// length and duration; each channel's input and gain.
QStringList pageTitleLines(TWForm& window)
{
    const WaveStore& record = *window.record;
    const double rate = sampleRateHz(record);
    QString counts
        = TPrnDlg::tr("Частота %1 Гц, %2 отсч.").arg(std::llround(rate)).arg(record.sampleCount());
    if (rate > 0)
        counts += QStringLiteral(" = ") + engineeringText(record.sampleCount() / rate, 7).trimmed()
            + QStringLiteral("S");
    QStringList channels;
    for (int i = 0; i < record.channelCount(); ++i)
        channels << channelLabel(record, i);
    return { window.shownTitle(TPrnDlg::tr(" (не сохранено)")) + QStringLiteral("    ")
            + TPrnDlg::tr("напечатано %1")
                  .arg(QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"))),
        counts, TPrnDlg::tr("Каналы: ") + channels.join(QStringLiteral("; ")) };
}

// Inside a margin: the title lines, then the record in a frame with its scales. Text is sized
// by the page (a ninetieth of its height), so the preview, the paper and the SVG look alike.
void drawLabelledPage(TWForm& window, QPainter& painter, const QRect& rect)
{
    const int margin = rect.width() / 25;
    const QRect inner = rect.adjusted(margin, margin, -margin, -margin);
    QFont font = painter.font();
    font.setPixelSize(std::max(4, rect.height() / 90));
    painter.setFont(font);
    const QFontMetrics metrics = painter.fontMetrics();
    painter.setPen(Qt::black);
    int y = inner.top();
    for (const QString& line : pageTitleLines(window)) {
        painter.drawText(inner.left(), y + metrics.ascent(),
            metrics.elidedText(line, Qt::ElideRight, inner.width()));
        y += metrics.lineSpacing();
    }
    const QRect plot(QPoint(inner.left(), y + metrics.lineSpacing() / 2), inner.bottomRight());
    // A trace beyond its band (a strong signal, a high zoom) stays inside the record's frame.
    painter.save();
    painter.setClipRect(plot);
    window.renderTo(painter, plot, true);
    painter.restore();
    painter.setPen(linePen(Qt::black));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);
}

// Draws the window's record in black into rect of a page, labelled when asked.
void drawForPrint(TWForm& window, QPainter& painter, const QRect& rect, bool labelled)
{
    printRendering = true;
    if (labelled && window.record)
        drawLabelledPage(window, painter, rect);
    else
        window.renderTo(painter, rect);
    printRendering = false;
}

} // namespace

// --- Preview ------------------------------------------------------------------------------------

TMyImg::TMyImg(QWidget* parent)
    : QWidget(parent)
    , painter(new (std::nothrow) QPainter)
{
}

TMyImg::~TMyImg()
{
    delete painter;
}

void TMyImg::paintEvent(QPaintEvent*)
{
    paintPage(this, size());
}

void TMyImg::paintPage(QPaintDevice* device, QSize size)
{
    if (!window || !painter || !painter->begin(device))
        return;
    const QRect page(QPoint(0, 0), QPoint(size.width() - 2, size.height() - 2));
    painter->setBrush(Qt::white);
    painter->setPen(Qt::black);
    painter->drawRect(page);
    drawForPrint(*window, *painter, page, labelled);
    painter->end();
}

// --- Dialog -------------------------------------------------------------------------------------

TPrnDlg::TPrnDlg(QWidget* parent)
    : QDialog(parent,
        Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
            | Qt::WindowCloseButtonHint)
{
}

TPrnDlg::~TPrnDlg() = default;

bool TPrnDlg::initialise()
{
    form = std::make_unique<Ui::PrintDialog>();
    form->setupUi(this);
    if (!form->imageWidget) {
        QTM_REPORT(0xA702);
        return false;
    }
    preview = new (std::nothrow) TMyImg(form->imageWidget);
    if (!preview) {
        QTM_REPORT(0xA602);
        return false;
    }
    if (!preview->painter) {
        QTM_REPORT(0xA502);
        return false;
    }
    printer.reset(new (std::nothrow) QPrinter(QPrinter::HighResolution));
    if (!printer) {
        QTM_REPORT(0xA702);
        return false;
    }
    printer->setCreator(QStringLiteral("voltrix ") + versioninfo::numberText());
    const struct
    {
        QPushButton* button;
        void (TPrnDlg::*slot)();
        int missing;
        int refused;
    } buttons[] = {
        { form->okBtn, &TPrnDlg::slot_OkBtnReleased, 0xAD02, 0xAC02 },
        { form->cancelBtn, &TPrnDlg::slot_CancelBtnReleased, 0xAF02, 0xAC02 },
        { form->setupBtn, &TPrnDlg::slot_SetupBtnReleased, 0xAE02, 0xB402 },
        { form->exportBtn, &TPrnDlg::slot_ExportBtnReleased, 0xAE02, 0xB502 },
    };
    connect(form->labelsBox, &QCheckBox::toggled, this, &TPrnDlg::showLabels);
    for (const auto& b : buttons) {
        if (!b.button) {
            QTM_REPORT(b.missing);
            return false;
        }
        if (!connect(b.button, &QPushButton::released, this, b.slot, Qt::UniqueConnection)) {
            QTM_REPORT(b.refused);
            return false;
        }
    }
    return true;
}

void TPrnDlg::setWindow(TWForm* w)
{
    window = w;
    if (preview)
        preview->window = w;
}

bool TPrnDlg::labelled() const
{
    return form && form->labelsBox->isChecked();
}

void TPrnDlg::setLabelled(bool on)
{
    if (form)
        form->labelsBox->setChecked(on);
}

void TPrnDlg::showLabels(bool on)
{
    if (!preview)
        return;
    preview->labelled = on;
    preview->update();
}

void TPrnDlg::placePreview()
{
    if (!printer || !preview || !form)
        return;
    const QRect area = form->imageWidget->rect();
    previewRect = previewRectFor(QSize(printer->width(), printer->height()),
        QSize(area.right() - area.left(), area.bottom() - area.top()));
    preview->setGeometry(previewRect);
}

void TPrnDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    placePreview();
}

bool TPrnDlg::printRecord(const QString& name)
{
    if (!window || !printer)
        return false;
    // Without a name of its own the print goes where the printer set-up sends it, a file too.
    if (!name.isEmpty())
        printer->setOutputFileName(withSuffix(name, QStringLiteral(".pdf")));
    const QRect target
        = printer->paperRect(QPrinter::DevicePixel).toRect().adjusted(-10, -10, -10, -10);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QPainter painter;
    const bool started = painter.begin(printer.get());
    if (started) {
        drawForPrint(*window, painter, target, labelled());
        painter.end();
    }
    QApplication::restoreOverrideCursor();
    // A printer that could not start stays "active" and refuses every later change (another
    // file, another printer): the dialog goes on with a fresh one of the same set-up.
    if (!started) {
        auto* fresh = new (std::nothrow) QPrinter(QPrinter::HighResolution);
        if (fresh) {
            fresh->setCreator(printer->creator());
            fresh->setPrinterName(printer->printerName());
            fresh->setPageLayout(printer->pageLayout());
            fresh->setOutputFileName(printer->outputFileName());
            printer.reset(fresh);
        }
    }
    return started;
}

bool TPrnDlg::exportSvg(const QString& name, QString& cause)
{
    if (!preview || name.isEmpty())
        return false;
    // The picture keeps the preview's size on paper, drawn on a grid svgDetail times finer so
    // that curves are not stepped by whole units of the preview. It is made in memory and saved
    // as records are, so that a failure leaves nothing half-written and says why.
    QBuffer picture;
    picture.open(QIODevice::WriteOnly);
    {
        const QSize fine = preview->size() * svgDetail;
        QSvgGenerator generator;
        generator.setOutputDevice(&picture);
        generator.setSize(fine);
        generator.setViewBox(QRect(QPoint(0, 0), fine));
        generator.setResolution(generator.resolution() * svgDetail);
        preview->paintPage(&generator, fine);
    }
    preview->update();
    return saveText(withSuffix(name, QStringLiteral(".svg")), picture.data().toStdString(), cause);
}

void TPrnDlg::slot_OkBtnReleased()
{
    if (!window || !form || !printer) {
        accept();
        return;
    }
    bool printed = true;
    if (form->toFileBox->isChecked()) {
        const QString chosen = QFileDialog::getSaveFileName(
            this, QString(), QString(), QStringLiteral("Printer file (*.pdf);;All file (*.*)"));
        const QString name
            = chosen.isEmpty() ? chosen : completedSaveName(chosen, QStringLiteral(".pdf"));
        if (name.isEmpty() && !chosen.isEmpty())
            return; // replacing the file was declined: the dialog stays for another name
        if (!name.isEmpty())
            printed = printRecord(name);
    } else {
        printed = printRecord(QString());
    }
    // A print that could not start leaves the dialog open for another printer or file.
    if (!printed) {
        if (qtmisc::mesDaemon)
            qtmisc::mesDaemon->showWarn(0x1511, QString(), QString(), true, true);
        return;
    }
    accept();
}

void TPrnDlg::slot_CancelBtnReleased()
{
    reject();
}

void TPrnDlg::slot_SetupBtnReleased()
{
    if (!printer)
        return;
    QPrintDialog dialog(printer.get(), this);
    dialog.exec();
    placePreview();
}

void TPrnDlg::slot_ExportBtnReleased()
{
    if (!preview)
        return;
    fileName = QFileDialog::getSaveFileName(this, QString(), QString(), tr("Файлы svg (*.svg)"));
    const QString name
        = fileName.isEmpty() ? fileName : completedSaveName(fileName, QStringLiteral(".svg"));
    QString cause;
    if (!name.isEmpty() && !exportSvg(name, cause) && qtmisc::mesDaemon)
        qtmisc::mesDaemon->showWarn(
            0x1512, QFileInfo(name).fileName(), fileCauseText(cause), false, false);
}
