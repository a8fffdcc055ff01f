// The spectrum view: the amplitude spectrum of a short block of one channel, slid through the
// visible part of a record, with a frequency cursor.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QtGlobal>
#include <memory>

class QPainter;
class TFFTDlg;
class WaveChannel;

namespace Ui {
class FFTDlg;
}

// Bar heights of bins 1 ... 2^(e-1) of the 2^e displayed values of channel from start on (0
// outside its samples): twice the bin's amplitude, at most 255; no window function.
void blockSpectrum(WaveChannel& channel, int start, int e, quint8* bars);

// The plot of the spectrum view.
class FFTPBox : public QFrame
{
    Q_OBJECT
public:
    FFTPBox(TFFTDlg* dialog, QWidget* parent);
    ~FFTPBox() override;

    QPainter* painter = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TFFTDlg* dialog;
};

class TFFTDlg : public QDialog
{
    Q_OBJECT
public:
    explicit TFFTDlg(QWidget* parent = nullptr);
    ~TFFTDlg() override;

    // Builds the form and the plot and connects the controls; false (reported) on a failure.
    bool setUp();
    // False when the visible width is 514 samples or less, too narrow for a 512-sample block.
    bool init(int channelCount, int first, int visible, double step);
    // Block length, scroll step and scroll range from the length buttons.
    void computeBlockSizes();
    // The spectrum of the chosen channel's block at the scroll position, plot and time label.
    void recompute();
    // Draws the spectrum and the frequency cursor on a plot of the size; the first paint also
    // computes the first spectrum.
    void paintPlot(QPainter& painter, int w, int h);
    void setFrequencyLabel();
    // The channel of the first checked channel button (0 ... 3).
    int chosenChannel() const;

    std::unique_ptr<Ui::FFTDlg> form;
    FFTPBox* plot = nullptr;
    WaveChannel* channels[4] = {};
    int offset = 0;
    int width = 0;
    double timeStep = 0.0;
    int blockLength = 256;
    int exponent = 8;
    int half = 128;
    int scrollStep = 1;
    int lastScrollValue = -1;
    quint8 spectrum[256] = {};
    int cursorX = 0;
    double pixelsPerBin = 1.0;
    bool dragging = false;
    bool painted = false;

public slots:
    void slot_sBarValueChanged(int value);
    void slot_rB1Released();
    void slot_rBSampleSizeReleased();

private:
    void computeBars();
};
