// The waveform window: one record in a sub-window of the main window's workspace.
#pragma once

#include <QMdiSubWindow>

class QScrollBar;
class WaveStore;

class TWForm : public QMdiSubWindow
{
    Q_OBJECT
public:
    explicit TWForm(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~TWForm() override;

    WaveStore* record = nullptr;
    int fftExponent = 1; // log2 of the power-of-two selection length
    int windowFunction = 0; // spectrum window: window function in force when computed
    TWForm* linkedWindow = nullptr; // spectrum window: its source
    bool isSpectrum = false; // this window holds a spectrum
    bool hasSpectrum = false; // this window is the source of an open spectrum window
    bool logScale = false;
    bool processed = false;

    // Display state of the record, as the main window's controls show it.
    int displayMode() const;
    int smoothParam() const;
    bool sineOverlay() const;

    void setVScale(bool apply, int value);
    void setStretch(bool apply, int value, int maximum);
    void syncVScaleSlider(QScrollBar* slider) const;
    void syncStretchSlider(QScrollBar* slider) const;
    void setFilter(int mode, int param);
    void setSineVisible(bool visible);
    void setGraphColor(int channel, const QColor& color);
    void setCursorColor(int channel, const QColor& color);
    void refreshAllStatus();
};
