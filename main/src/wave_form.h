// The waveform window: one record in a sub-window of the main window's workspace, shown on a
// plot surface with a horizontal scroll bar below it.
#pragma once

#include <QDateTime>
#include <QList>
#include <QMdiSubWindow>
#include <QPair>
#include <QPointer>
#include <QRect>
#include <functional>

class QImage;
class QMouseEvent;
class QPainter;
class QProgressBar;
class QScrollBar;
class TWForm;
class WaveStore;
struct AcqParams;
struct ImportNotes;

// The time and value readouts of channel i at its cursor ("  120.5uS", " 195.3mV"; for a
// spectrum the frequency and the level, in decibels when it was computed logarithmic); both
// empty when there is no such channel with data.
struct ChannelStatusTexts
{
    QString time;
    QString value;
};
ChannelStatusTexts channelStatusTexts(
    WaveStore& record, int i, bool volts, bool logarithmic = false);

// d rounded to a signed power of two: from 1.5 * 2^b upwards to 2^(b + 1), below that to 2^b
// (5 -> 4, 6 -> 8, -3 -> -4); exponent receives the power's log2. 0 stays 0 (exponent 0).
int roundToPowerOfTwo(int d, int& exponent);

// "Среднее значение:" and, per channel, "\nКанал n:" with the mean magnitude of samples a ... b
// as the readouts show values: in volts ("V") or coulombs ("Q").
QString meanText(WaveStore& record, int a, int b, bool volts);

// Channel i's number, input and gain: "1: вход 9, ×4096".
QString channelLabel(const WaveStore& record, int i);

// Over a record drawn on plot: the time axis (a spectrum's frequency axis) along the foot, and
// for every channel band (up to halfway to the neighbouring baselines) the amplitude ticks at
// its left edge in volts or coulombs (a spectrum's level in volts, or decibels when it is
// logarithmic), a grid and the channel's number, input and gain at its top; ticks at 1-2-5
// steps spaced so that no two labels meet. Grey and black on a page.
void drawRecordScales(
    QPainter& painter, WaveStore& record, const QRect& plot, bool volts, bool logarithmic = false);

// The band of each channel with data on the plot: it reaches halfway to the neighbouring
// channels' baselines (an empty rectangle for a channel without data).
QList<QRect> channelBands(const WaveStore& record, const QRect& plot);

// What the hits table marks on a window's traces while it shows that window's hits: the
// threshold of each channel searched and each hit's arrival.
struct HitMarks
{
    bool shown = false;
    QList<double> thresholdVolts; // by channel, as searched; 0: no lines
    QList<double> meanVolts; // by channel: ordinary data's lines lie either side of it
    QList<int> channels; // searched, 0-based
    QList<QPair<int, int>> arrivals; // channel, sample
};

// The drawing surface of a waveform window.
class TWFormInternalWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TWFormInternalWidget(TWForm* window);
    ~TWFormInternalWidget() override;

    // Creates the painter; false (reported as 0xA702) when it cannot be made.
    bool setup();

    // Carries out the interaction state the mouse handlers or the window set: 0 nothing more,
    // 1 begin a selection at the press, 2 follow eventPos with the grab or the selection,
    // 3 the same and end the grab, 4 take pendingSelEnd as the selection end, 5 the sine was
    // switched on. Every paint then shows the selection.
    void performState();

    QPainter* painter = nullptr;
    int state = 0; // interaction state of the mouse handling
    QPoint eventPos;
    QPoint pressPos;
    int pendingSelEnd = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setPointerShape(const QPoint& at);
    void followEventPos();
    void invertSelection(QImage& frame) const;
    void drawHitMarks(QPainter& painter) const;
    void drawSelectionLength(QPainter& painter) const;

    TWForm* window;
};

// What a window needs to know from the main window, handed down whenever it changes: the
// readouts' unit, whether scales are drawn over the record, and whether a selection snaps to a
// power-of-two length.
struct ViewOptions
{
    bool volts = true;
    bool scales = false;
    bool powerOfTwoSelection = false;
};

class TWForm : public QMdiSubWindow
{
    Q_OBJECT
public:
    explicit TWForm(QWidget* parent = nullptr, Qt::WindowFlags flags = {});
    ~TWForm() override;

    // A new empty record of 4 channels and no samples.
    bool initEmpty();
    // Reads a record file into a new record; the title becomes the file name. cause says why
    // it failed (the reader's words).
    bool openFile(const QString& name, QString* cause = nullptr);
    // Reads a WAV file into a new record, unsaved until written; the title becomes the file
    // name. cause says why it failed, notes what was approximated, clipped or missing.
    bool importFile(const QString& name, QString& cause, ImportNotes& notes);
    // Writes the record: 0, the writer's negative result, or 100 without a record; the title
    // then names the file.
    int saveFile(const QString& name);
    // The record as written to name by someone else (a series): saved, titled by it.
    void markSaved(const QString& name);
    // The record, not saved, titled by the file it is meant for.
    void nameUnsaved(const QString& name);
    // The title names the window's file; while the record differs from it (a run into the
    // window, zeroing, an unsaved import) it carries the toolkit's modified mark.
    void refreshTitle();
    // The title as texts name the window, with unsavedMark appended while it is marked modified.
    QString shownTitle(const QString& unsavedMark = QString()) const;
    // Fills a record of the shape from the unit on port at rate with the parameters; the window
    // takes it only when the run succeeds.
    bool acquire(int channels, int samples, const AcqParams& params, const QString& port,
        qint32 rate, QProgressBar* ownBar = nullptr);

    void setGraphColor(int channel, const QColor& color);
    void setCursorColor(int channel, const QColor& color);
    void setSineVisible(bool visible);
    // Draws the record into any painter, laid out on rect (with the scales over it when asked),
    // then lays it out on the plot again.
    void renderTo(QPainter& painter, const QRect& rect, bool withScales = false);
    void setFilter(int mode, int param);
    void setVScale(bool apply, int value);
    void setStretch(bool apply, int value, int maximum);
    void syncVScaleSlider(QScrollBar* slider) const;
    void syncStretchSlider(QScrollBar* slider) const;
    void zoomIn();
    void zoomOut();
    void zoomSelection();
    // The cursors' times and amplitudes to the clipboard.
    void exportTimes();
    // Record operations over the selection, on the channels chosen in a TSelSigDlg.
    void zeroSelection();
    // Sets the chosen channels' cursors to the middle of the plot.
    void centreCursors();
    // Rounds the selection's length to a power of two (halved when it would leave the record).
    void snapSelection();
    void findMaximum();
    void showMean();
    // Fills this freshly made window with the spectrum of source's power-of-two selection;
    // 0 on success, non-zero on failure (the caller then deletes the window).
    int computeSpectrum(TWForm* source);
    // Writes this spectrum back into its source's samples after the operator's questions;
    // 1 when a close of this window may go on, 0 when it must not.
    int inverseTransform();
    // The block-wise spectrum view of the record (a warning when the view is too narrow).
    void showSpectrumView();
    // Moves channel's cursor to sample and scrolls it into view when it is not.
    void showSample(int channel, int sample);
    void refreshStatus(int channel);
    void refreshAllStatus();
    void repaintPlot();
    // Shows count samples from first on and sets the scroll bar up for them.
    void setView(int first, int count);

    // Display state of the record, as the main window's controls show it.
    int displayMode() const;
    int smoothParam() const;
    bool sineOverlay() const;

    TWFormInternalWidget* plotWidget = nullptr;
    QScrollBar* scrollBar = nullptr;
    WaveStore* record = nullptr;
    QRect plotRect { QPoint(0, 0), QPoint(-1, -1) };
    bool resizing = false;
    bool laidOut = false;
    int scrollStep = 1;
    int grabbedCursor = -1;
    int grabbedLevel = -1;
    int selStart = 0;
    int selEnd = 0;
    bool selecting = false;
    int fftExponent = 1; // log2 of the power-of-two selection length
    int windowFunction = 0; // spectrum window: window function in force when computed
    QPointer<TWForm> linkedWindow; // spectrum window: its source (null once it is gone)
    int spectrumStart = 0; // spectrum window: the source sample its transform began at
    bool isSpectrum = false; // this window holds a spectrum
    bool hasSpectrum = false; // this window is the source of an open spectrum window
    bool logScale = false;
    bool processed = false;
    HitMarks hitMarks;
    QString fileName; // the file the title names; empty for a new window
    QDateTime fileTime; // a read record: its file's modification time
    QDateTime runEnded; // a digitised record: when its run ended

    // What the main window hands down; the record is drawn and read out by it from then on.
    void setViewOptions(const ViewOptions& options);
    const ViewOptions& viewOptions() const { return options; }

signals:
    // The record was replaced or its samples changed (a run, zeroing, an inverse transform), or
    // the selection was made or cleared: whatever was worked out of them is stale.
    void contentsChanged();
    // A step of a selection's drag, or a cursor moved: the figures of the selection and the
    // cursors follow.
    void selectionMoved();
    // Channel's readouts (0-based, up to 4 shown): its cursor time and value (empty: none).
    void channelStatusChanged(int channel, const QString& time, const QString& value);
    // The display mode, smoothing, zoom or sine changed: the controls showing them follow.
    void controlsChanged();
    // The visible span changed: the stretch bar follows.
    void stretchChanged();
    // Something that decides which commands may run changed (a spectrum window closed).
    void commandStatesChanged();
    // The window is being destroyed: nothing may use it after this.
    void goingAway();

public slots:
    void slot_SBarValueChanged(int value);
    void slot_aboutToActivate();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    ViewOptions options;
    void acceptClose(QCloseEvent* event);
    void releaseSaveShortcut();
    bool setupWindow();
    // A new record filled from the file name, laid out and shown under its name.
    bool loadRecord(const QString& name, const std::function<bool(WaveStore&)>& fill);
    void relayout(int height);
    void setupScrollBar();
    // Shows the samples and lets the main window's stretch bar follow; nothing when unchanged.
    void zoomTo(int first, int width);
};
