// Printing a waveform window's record on one page, to a printer or a PDF file, and exporting
// the same picture as an SVG file, with a page-shaped preview.
#pragma once

#include <QDialog>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>
#include <memory>

class QPainter;
class QPrinter;
class QPaintDevice;
class TWForm;

namespace Ui {
class PrintDialog;
}

// The preview's place (left, top, width, height) in an image area of the size for a page of
// the size in device pixels: the page with its longer side normalised to 1000, scaled to fit
// and centred.
QRect previewRectFor(QSize page, QSize area);

// "name" with the extension appended unless it already ends in it (case-sensitive).
QString withSuffix(const QString& name, const QString& suffix);

// The page-shaped preview.
class TMyImg : public QWidget
{
    Q_OBJECT
public:
    explicit TMyImg(QWidget* parent);
    ~TMyImg() override;

    // A white page of the size outlined in black, with the record drawn in black (labelled
    // with its title, frequency, channels and scales when asked).
    void paintPage(QPaintDevice* device, QSize size);

    TWForm* window = nullptr;
    QPainter* painter = nullptr;
    bool labelled = false;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class TPrnDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TPrnDlg(QWidget* parent = nullptr);
    ~TPrnDlg() override;

    // Builds the form, the preview and the printer and connects the buttons; false (reported)
    // on a failure.
    bool initialise();
    void setWindow(TWForm* w);
    // Places the preview for the printer's page in the image area.
    void placePreview();
    // Prints the record on the printer, into the PDF file name (".pdf" appended when missing)
    // when name is not empty; false when the printer or file could not be started.
    bool printRecord(const QString& name);
    // Writes the preview's picture into the SVG file name (".svg" appended when missing), as
    // records are saved; false with the cause in words.
    bool exportSvg(const QString& name, QString& cause);
    // The page carries its labels («Подписи»).
    bool labelled() const;
    void setLabelled(bool on);

    // An SVG picture's grid is this many times finer than the preview's pixels.
    static constexpr int svgDetail = 10;

    std::unique_ptr<Ui::PrintDialog> form;
    TWForm* window = nullptr;
    QRect previewRect;
    QString fileName;
    TMyImg* preview = nullptr;
    std::unique_ptr<QPrinter> printer;

public slots:
    void slot_OkBtnReleased();
    void slot_CancelBtnReleased();
    void slot_SetupBtnReleased();
    void slot_ExportBtnReleased();
    void showLabels(bool on);

protected:
    void resizeEvent(QResizeEvent* event) override;
};
