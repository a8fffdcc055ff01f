// The main window: command vocabulary, workspace, zoom bars and status readouts.
#pragma once

#include "gain_advice.h"
#include "rs232.h"
#include "session_series.h"
#include "settings.h"
#include "wave_form.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <optional>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QResizeEvent;
class QScrollBar;
class QSpinBox;
class AeHitsPanel;
class SeriesRun;
class TrendDock;
class TWForm;
class WaveStore;

namespace Ui {
class MainWindow;
}

// What the workspace's active sub-window is, as far as the commands care.
enum class ActiveKind {
    None, // no waveform window active
    Record, // a record with no spectrum window open
    RecordWithSpectrum, // a record whose spectrum window is open
    Spectrum, // a window holding a spectrum
};

// Enabled states of the commands for one kind of active window; an empty value leaves the
// command as it is (it sits in a menu that is disabled then).
struct CommandStates
{
    bool recordCommands; // aPrint, zoom, colour, processing and window menus, tool-bar actions
    bool sine; // aSin
    std::optional<bool> fftView; // aFFTView
    std::optional<bool> reverseFft; // aReverseFFT
    bool filters; // smoothing spin box and filter menu
    std::optional<bool> directFft; // aDirectFFT
    bool saveAndInfo; // aSave, aInfo
    bool clearSelectMode; // uncheck the select-mode action
    bool hideStatusLabels;
};

CommandStates commandStatesFor(ActiveKind kind);

// Display mode (0-6) of a combination of the filter actions: detection 1, smoothing 2,
// derivative 4, square 8. Combinations the actions cannot form give 0.
int displayModeForCombination(int combination);

// Prefixes a channel status text: "T1=" ... for a record, "F1=" ... for a spectrum (time),
// "Y1=" ... or "A1=" ... (value); empty texts stay empty.
QString statusTimeText(bool spectrum, int channel, const QString& text);
QString statusValueText(bool spectrum, int channel, const QString& text);

// The values the record-information dialog shows after its labels: version, channels,
// samples, frequency, input numbers, synchronisation, detector, gains.
QStringList recordInfoValues(const WaveStore& record);

// What the operator reads of why a run failed on port (empty when nothing is known).
// With the exchange's tries, each one's failure in a few words.
QString linkFailureText(
    LinkFailure failure, const QString& port, const QList<LinkFailure>& attempts = {});

// What the operator reads of the channels' levels: the advice after a run (a line a channel:
// clipped or weak, and the gain code to take) and the marks «Информация» shows.
QString gainAdviceText(const QList<GainAdvice>& advice);
QString levelMarks(const QList<GainAdvice>& advice);

// The about box's version line: "Ver. 0.2.3 beta  dd/MM/yyyy" with the build date.
QString aboutVersionText();

class MainWnd : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWnd(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~MainWnd() override;

    // Builds the window (form, connections, workspace, tool bar, status labels), loads the
    // settings from settingsFolder (its adc.ini; "" the working directory) and sets the
    // command states; false when any part fails (reported).
    bool create(const QString& settingsFolder);

    void refreshCommandStates();
    // Takes a window's display mode, smoothing parameter, zoom and sine state into the controls.
    void syncControls(TWForm* window);
    // Lets a window put its visible width into the stretch bar, without stretching it again.
    void refreshStretchBar(TWForm* window);
    // Shows (non-empty) or hides the time and value readouts of channel 0-3.
    void setChannelStatus(
        TWForm* window, int channel, const QString& timeText, const QString& valueText);

    TWForm* activeWaveForm() const;
    // The forward transform of source's selection (snapped first unless the select-mode
    // switch is on) into a new spectrum window in the workspace; null when there is none.
    TWForm* openSpectrum(TWForm* source);
    QMdiArea* workspace() const { return mdiArea; }
    bool yAxisVolts() const { return yAxisFlag; }
    bool isZoomGuardSet() const { return zoomGuard; }
    bool isSelectModeChecked() const;
    // What every waveform window is handed down (the readouts' unit, scales, selection mode),
    // and handing it to every one after a change.
    ViewOptions viewOptions() const;
    void pushViewOptions();
    // Connects a new window's signals to the status labels, controls, stretch bar, command
    // states and measurements and hands it the view options; false (reported) when a
    // connection fails.
    bool adopt(TWForm* window);

    void loadSettings();

    // The file commands after their dialogs: a new empty window, a record file opened in a new
    // window (false after warning 0x1504), the active record written (its result; warning
    // 0x1505 when non-zero; 1 when ".raw" had to be added, that file exists and the operator
    // would not replace it).
    TWForm* newEmptyWindow();
    // Sizes and places a window just added to the workspace: the first fills it, the others
    // are cascaded from the corner, never smaller than a readable size.
    void placeNewWindow(QMdiSubWindow* window);
    bool openRecordFile(const QString& name);
    int saveActiveRecord(const QString& name);
    // The active record, or only its selection, into a CSV or WAV file by the name's suffix,
    // or the chosen filter's for a name with another suffix or none (which then gets the
    // filter's, asked about when it exists), in the readouts' unit; false when called off or
    // after warning 0x1512.
    bool exportActiveRecord(const QString& name, bool wavFilter, bool selectionOnly);
    // A WAV file in a new window (unsaved until written as a record); false after warning
    // 0x1513.
    bool importRecordFile(const QString& name);

    // The hits table of the active record, shown when «Импульсы АЭ» is checked (made at the
    // first use), refreshed when another window becomes active.
    AeHitsPanel* aeHitsPanel();
    void refreshAeHits();
    // The session's trend plots, shown when «Тренды» is checked (made at the first use) in a
    // tab beside the hits table.
    TrendDock* trendDock();
    // The measurements of the active record, shown when «Измерения» is checked; refreshed when
    // a cursor moves, the selection changes or another window becomes active.
    void refreshMeasurements();

    bool scalesShown = false; // scales, grid and channel labels drawn over every record
    bool pageLabels = false; // printed pages and SVG pictures carry titles and scales
    AeSettings ae; // the hits' definitions and location, as «Параметры АЭ…» set them
    SeriesPlan seriesPlan; // the last series asked for
    quint16 channelCount = 4;
    quint32 windowCounter = 1;
    bool applyToAll = true;
    QString settingsDir;
    QString lastDir;

public slots:
    void slot_aNewTriggered(bool checked);
    void slot_aReadTriggered(bool checked);
    void slot_aSaveTriggered(bool checked);
    void slot_aInfoTriggered(bool checked);
    void slot_aPrintTriggered(bool checked);
    void slot_aRunADCTriggered(bool checked);
    void slot_aSeriesTriggered(bool checked);
    void slot_aADCTriggered(bool checked);
    void slot_aSinTriggered(bool checked);
    void slot_aCOMTriggered(bool checked);
    void slot_aCfgSaveTriggered(bool checked);
    void slot_aVoltTriggered(bool checked);
    void slot_aCoulombTriggered(bool checked);
    void slot_aZoomInTriggered(bool checked);
    void slot_aZoomOutTriggered(bool checked);
    void slot_aZoomSelTriggered(bool checked);
    void slot_aSetGCTriggered(bool checked);
    void slot_aSetCCTriggered(bool checked);
    void slot_aSetTCTriggered(bool checked);
    void slot_aSetBCTriggered(bool checked);
    void slot_aFilteringTriggered(bool checked);
    void slot_aZeroSignTriggered(bool checked);
    void slot_aFFTViewTriggered(bool checked);
    void slot_aDirectFFTTriggered(bool checked);
    void slot_aReverseFFTTriggered(bool checked);
    void slot_aSetFFTTriggered(bool checked);
    void slot_aSrcMaxTriggered(bool checked);
    void slot_aAverageTriggered(bool checked);
    void slot_aCascadeTriggered(bool checked);
    void slot_aTileTriggered(bool checked);
    void slot_aNextTriggered(bool checked);
    void slot_aPrevTriggered(bool checked);
    void slot_aCloseTriggered(bool checked);
    void slot_aMinTriggered(bool checked);
    void slot_aMinimizeAllTriggered(bool checked);
    void slot_aAboutTriggered(bool checked);
    void slot_aExportTriggered(bool checked);
    void slot_aCenteringTriggered(bool checked);
    void slot_aSelectModeTriggered(bool checked);
    void slot_aDataExportTriggered(bool checked);
    void slot_aDataImportTriggered(bool checked);
    void slot_aAeHitsTriggered(bool checked);
    void slot_aAeParamsTriggered(bool checked);
    void slot_aAeCalibrationTriggered(bool checked);
    void slot_aMeasureTriggered(bool checked);
    void slot_aScalesTriggered(bool checked);
    void slot_aTrendsTriggered(bool checked);
    void slot_sbZYValueChanged(int value);
    void slot_sbZYSliderMoved(int value);
    void slot_sbZXValueChanged(int value);
    void slot_sbZXSliderMoved(int value);
    void slot_FltEditValueChanged(int value);
    void slot_subWindowActivated(QMdiSubWindow* window);
    void slot_tStopReleased();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Quitting closes every waveform window by its own rules first, spectra before their
    // sources; a window that stays open, or work in progress, keeps the program running.
    void closeEvent(QCloseEvent* event) override;

private:
    bool closeWaveForms();
    bool connectCommands();
    bool createWorkspace();
    bool createZoomPanel();
    bool createToolBarItems();
    bool placeStatusLabels();
    QList<TWForm*> waveForms() const;
    ActiveKind activeKind() const;
    void applyDisplayMode();
    void refreshZoomLabels();
    void setStatusLabelColor(int index, QPalette::ColorRole role, const QColor& color);
    void setYUnit(bool volts);
    // The colour dialog for the numbered colour action that sent the signal, starting from the
    // table's entry; the index 0-3, or -1 when cancelled.
    int chooseColor(const char* actionPrefix, const QColor* table, QColor& chosen);
    void saveSettings();
    // The bar that shows a running series and its STOP, made at the series' start.
    QToolBar* seriesBar(SeriesRun& run);

    SeriesRun* series = nullptr; // the series running, if any
    bool quitAfterSeries = false;
    bool spinBoxGuard = false;
    bool zoomGuard = false;
    Ui::MainWindow* ui = nullptr;
    QMdiArea* mdiArea = nullptr;
    QScrollBar* sbZY = nullptr;
    QScrollBar* sbZX = nullptr;
    QLabel* sbZYLabel = nullptr;
    QLabel* sbZXLabel = nullptr;
    QWidget* zoomPanel = nullptr;
    QSpinBox* fltEdit = nullptr;
    QAction* exportAction = nullptr;
    QAction* centerAction = nullptr;
    QAction* selectModeAction = nullptr;
    bool yAxisFlag = false;
    QLabel* timeLabels[4] = {};
    QLabel* valueLabels[4] = {};
};

// The one main window; null until created.
extern MainWnd* mainWnd;
