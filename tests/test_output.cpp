// Printing and export: the page-shaped preview, a PDF page printed through QPrinter and looked
// at with poppler, the SVG export, the file-name rules and the dialog's cancel paths.
#include "fmain.h"
#include "init.h"
#include "print_dialog.h"
#include "support/boxes.h"
#include "support/files.h"
#include "support/fixture.h"
#include "support/svg.h"
#include "support/windows.h"
#include "wave_form.h"
#include "wave_stor.h"
#include "wave_view.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSvgRenderer>
#include <QtTest>

namespace {

// The share of pixels of the image that are dark, and of those that are white.
struct Ink
{
    double dark = 0;
    double white = 0;
};

Ink inkOf(const QImage& image)
{
    qint64 dark = 0, white = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(image.pixel(x, y));
            dark += grey < 64;
            white += grey > 240;
        }
    const double all = double(image.width()) * image.height();
    return { dark / all, white / all };
}

// Cancels the next file dialog, or answers it with the name.
void cancelFileDialog(const QString& name = QString())
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, name] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        if (name.isEmpty())
            return dialog->reject();
        dialog->selectFile(name);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    timer->start(5);
}

} // namespace

class tst_Output : public WindowTest
{
    Q_OBJECT
private:
    void prepare() override { form = testwindows::addRecordWindow(window, 4, 20000, 6); }

private slots:
    void previewAndSuffixes();
    void pageLeavesTheBaselines();
    void pdfAndSvg();
    void cancelPaths();

private:
    TWForm* form = nullptr;
};

void tst_Output::previewAndSuffixes()
{
    // A4 at 600 dpi: 707 x 1000 after normalising.
    QCOMPARE(previewRectFor(QSize(4961, 7016), QSize(442, 297)), QRect(116, 0, 209, 297));
    QCOMPARE(previewRectFor(QSize(7016, 4961), QSize(442, 297)), QRect(10, 0, 420, 297));
    QCOMPARE(previewRectFor(QSize(100, 100), QSize(600, 200)), QRect(200, 0, 200, 200));
    QCOMPARE(previewRectFor(QSize(100, 100), QSize(0, 200)), QRect());
    // A file name gets the suffix unless it ends in it already, in that case.
    QCOMPARE(withSuffix("a", ".pdf"), QString("a.pdf"));
    QCOMPARE(withSuffix("a.pdf", ".pdf"), QString("a.pdf"));
    QCOMPARE(withSuffix("a.PDF", ".pdf"), QString("a.PDF.pdf"));
    QCOMPARE(withSuffix("b.svg.x", ".svg"), QString("b.svg.x.svg"));
}

namespace {

QList<int> baselinesOf(const WaveStore& record)
{
    QList<int> lines;
    for (int i = 0; i < record.channelCount(); ++i)
        lines << record.channel(i)->baselineY;
    return lines;
}

} // namespace

// Drawn on a preview-sized page and on a printer-sized one, the record's baselines come back to
// the window's pixels whatever its size (scaling there and back rounds them otherwise).
void tst_Output::pageLeavesTheBaselines()
{
    for (int height = 600; height <= 800; height += 7) {
        form->resize(1400, height);
        const QList<int> baselines = baselinesOf(*form->record);
        QImage page(209, 297, QImage::Format_RGB32);
        QPainter painter(&page);
        form->renderTo(painter, QRect(0, 0, 207, 295));
        form->renderTo(painter, QRect(-10, -10, 4960, 7015));
        painter.end();
        QCOMPARE(baselinesOf(*form->record), baselines);
    }
}

namespace {

// The text poppler finds in a PDF file.
QString pdfText(const QString& pdf)
{
    QProcess text;
    text.start("pdftotext", { "-layout", pdf, "-" });
    if (!text.waitForFinished(20000) || text.exitCode() != 0)
        return QStringLiteral("(pdftotext failed)");
    return QString::fromUtf8(text.readAllStandardOutput());
}

} // namespace

// The page and the picture: a PDF of one page, black on white, whose text is nothing without
// «Подписи» and the title, the frequency, the channels and the scales with it; the window's own
// layout back to the pixel afterwards; an SVG that draws every sample of a 1 kHz sine at its
// own place.
void tst_Output::pdfAndSvg()
{
    form->setWindowTitle("запись 7.raw");
    const QList<int> baselines = baselinesOf(*form->record);
    TPrnDlg dialog(window);
    QVERIFY(dialog.initialise());
    dialog.setWindow(form);
    dialog.show();
    // The preview keeps the page's shape inside the image area.
    const QRect shown = dialog.preview->geometry();
    const double pageShape = double(dialog.printer->width()) / dialog.printer->height();
    QVERIFY(shown.height() > 0);
    QVERIFY(std::abs(double(shown.width()) / shown.height() - pageShape) < 0.01);
    QVERIFY(!dialog.labelled());
    QVERIFY(dialog.printRecord(dir.filePath("plain")));
    const QString pdf = dir.filePath("plain.pdf");
    QProcess info;
    info.start("pdfinfo", { pdf });
    QVERIFY2(info.waitForFinished(20000), "pdfinfo (poppler-utils) did not run");
    QVERIFY(QString::fromUtf8(info.readAllStandardOutput())
                .contains(QRegularExpression("Pages:\\s+1\\n")));
    QCOMPARE(pdfText(pdf).trimmed(), QString());
    QProcess render;
    render.start("pdftoppm", { "-r", "40", "-png", "-singlefile", pdf, dir.filePath("page") });
    QVERIFY(render.waitForFinished(20000) && render.exitCode() == 0);
    const QImage image(dir.filePath("page.png"));
    const Ink ink = inkOf(image);
    QVERIFY2(ink.white > 0.5 && ink.dark > 0.01,
        qPrintable(QString("%1 %2").arg(ink.white).arg(ink.dark)));
    for (int y = 0; y < image.height(); y += 3) // nothing coloured
        for (int x = 0; x < image.width(); x += 3) {
            const QColor c = image.pixelColor(x, y);
            QVERIFY(std::abs(c.red() - c.green()) < 40 && std::abs(c.green() - c.blue()) < 40);
        }

    dialog.setLabelled(true);
    QVERIFY(dialog.printRecord(dir.filePath("labelled")));
    const QString text = pdfText(dir.filePath("labelled.pdf"));
    // 12 MHz / 100 ticks = 120 kHz; 20000 samples last 166.67 ms.
    for (const QString& expected :
        { QString("запись 7.raw"), "напечатано " + QDate::currentDate().toString("dd.MM.yyyy"),
            QString("Частота 120000 Гц, 20000 отсч."), QString("3: вход 3, ×4"), QString("100mS"),
            QString("Каналы: 1: вход 1, ×1; 2: вход 2, ×2") })
        QVERIFY2(text.contains(expected), qPrintable(expected + " not in:\n" + text));
    QCOMPARE(form->record->plotRect, form->plotRect);
    QCOMPARE(baselinesOf(*form->record), baselines);
    // A trace far beyond its band stays in the record's frame: the margin above the title
    // stays blank.
    for (int k = 0; k < 20000; ++k)
        form->record->channel(0)->setSample(k, qint8(k / 50 % 2 ? 127 : -128));
    form->record->header.verticalZoom = 8000;
    form->record->refreshScaleY();
    QImage page(600, 800, QImage::Format_RGB32);
    page.fill(Qt::white);
    dialog.preview->labelled = true;
    dialog.preview->paintPage(&page, page.size());
    QCOMPARE(inkOf(page.copy(2, 2, 596, 600 / 25 - 4)).dark, 0.0);

    // One period of 1 kHz is 120 samples; ten periods, amplitude 100 codes.
    TWForm* sine = testwindows::addRecordWindow(window, 1, 1200, 1);
    WaveChannel* channel = sine->record->channel(0);
    for (int n = 0; n < 1200; ++n)
        channel->setSample(n, qint8(std::lround(100 * std::sin(2 * M_PI * n / 120.0))));
    dialog.setLabelled(false);
    dialog.setWindow(sine);
    dialog.resize(600, 500);
    QString cause;
    QVERIFY(dialog.exportSvg(dir.filePath("sine"), cause));
    QSvgRenderer rendered(dir.filePath("sine.svg"));
    QVERIFY(rendered.isValid());
    QImage drawn(dialog.preview->size(), QImage::Format_RGB32);
    drawn.fill(Qt::white);
    QPainter painter(&drawn);
    rendered.render(&painter);
    painter.end();
    QVERIFY(inkOf(drawn).dark > 0.01);
    // The trace: a column of its own for every sample, and ±100 codes a thousand units apart
    // or more, so that rounding to whole units moves no point by a visible step.
    QPolygon trace;
    for (const QPolygon& line : testsvg::polylines(testfiles::read(dir.filePath("sine.svg"))))
        if (line.size() > trace.size())
            trace = line;
    QCOMPARE(trace.size(), 1200);
    QSet<int> columns;
    int top = trace[0].y(), bottom = trace[0].y();
    for (const QPoint& p : trace) {
        columns.insert(p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    QCOMPARE(columns.size(), 1200);
    QVERIFY2(bottom - top >= 1000, qPrintable(QString::number(bottom - top)));
    // The preview shows the record again on the screen afterwards.
    QVERIFY(inkOf(dialog.preview->grab().toImage()).dark > 0.01);
}

void tst_Output::cancelPaths()
{
    TPrnDlg dialog(window);
    QVERIFY(dialog.initialise());
    dialog.setWindow(form);
    QTimer::singleShot(0, [&dialog] { dialog.findChild<QPushButton*>("cancelBtn")->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    // Printing to a file whose name the operator does not give closes without printing.
    dialog.findChild<QCheckBox*>("toFileBox")->setChecked(true);
    cancelFileDialog();
    QTimer::singleShot(0, [&dialog] { dialog.findChild<QPushButton*>("okBtn")->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(dialog.printer->outputFileName().isEmpty());
    // A cancelled export writes nothing.
    const int files = QDir(dir.path()).entryList(QDir::Files).size();
    cancelFileDialog();
    dialog.findChild<QPushButton*>("exportBtn")->click();
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), files);
    // Without a name of its own the print goes to the file the printer set-up chose; a print
    // that cannot start says so and leaves the dialog open.
    dialog.findChild<QCheckBox*>("toFileBox")->setChecked(false);
    dialog.printer->setOutputFileName(dir.filePath("setup.pdf"));
    QTimer::singleShot(0, [&dialog] { dialog.findChild<QPushButton*>("okBtn")->click(); });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(QFile::exists(dir.filePath("setup.pdf")));
    dialog.printer->setOutputFileName(dir.filePath("no-such-folder/setup.pdf"));
    bool stayedOpen = false;
    QTimer::singleShot(0, [&] {
        dialog.findChild<QPushButton*>("okBtn")->click();
        stayedOpen = dialog.isVisible();
        dialog.findChild<QPushButton*>("cancelBtn")->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(stayedOpen);
    QCOMPARE(testboxes::texts.last(), QString("Печать не удалась: принтер или файл недоступен."));
    // After a failure the dialog prints again, to a file or where the set-up sends it.
    dialog.printer->setOutputFileName(QString());
    QVERIFY(!dialog.printRecord(QString()));
    QVERIFY(dialog.printRecord(dir.filePath("again")));
    QVERIFY(QFile::exists(dir.filePath("again.pdf")));
    // «Подписи» opens as the operator left it last time, through the print command.
    window->pageLabels = true;
    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<TPrnDlg*>(QApplication::activeModalWidget());
        QVERIFY(shown && shown->labelled());
        shown->setLabelled(false);
        shown->reject();
    });
    window->findChild<QAction*>("aPrint")->trigger();
    QVERIFY(!window->pageLabels);
    // A name that gets ".pdf" or ".svg" and then names a file is asked about; the file stays
    // when the answer is no, and the dialog with it. A picture into a missing folder says why.
    dialog.findChild<QCheckBox*>("toFileBox")->setChecked(true);
    for (const auto& [button, name] : { std::pair { "okBtn", "pr" }, { "exportBtn", "pic" } }) {
        const QString completed = name + QString(button[0] == 'o' ? ".pdf" : ".svg");
        QVERIFY(testfiles::write(dir.filePath(completed), "old"));
        testboxes::answers = { QMessageBox::No };
        cancelFileDialog(dir.filePath(name));
        dialog.findChild<QPushButton*>(button)->click();
        QCOMPARE(testboxes::texts.last(),
            QString("Файл %1 уже существует.\nЗаменить его?").arg(completed));
        QCOMPARE(testfiles::read(dir.filePath(completed)), QByteArray("old"));
    }
    cancelFileDialog(dir.filePath("missing/pic"));
    dialog.findChild<QPushButton*>("exportBtn")->click();
    QCOMPARE(
        testboxes::texts.last(), QString("Экспорт в файл pic.svg не выполнен:\nпапка не найдена"));
    // Without a window OK just closes.
    TPrnDlg empty(window);
    QVERIFY(empty.initialise());
    empty.setWindow(nullptr);
    QTimer::singleShot(0, [&empty] { empty.findChild<QPushButton*>("okBtn")->click(); });
    QCOMPARE(empty.exec(), int(QDialog::Accepted));
}

QTEST_MAIN(tst_Output)
#include "test_output.moc"
