#include "fmain.h"

#include "ae_calibration.h"
#include "ae_panel.h"
#include "cause_texts.h"
#include "convert.h"
#include "data.h"
#include "errors.h"
#include "file_io.h"
#include "gain_advice.h"
#include "hgversion.h"
#include "measure_panel.h"
#include "print_dialog.h"
#include "record_export.h"
#include "rs232.h"
#include "series_run.h"
#include "set_record.h"
#include "settings.h"
#include "trend_dock.h"
#include "ui_aboutdialog.h"
#include "ui_infodialog.h"
#include "ui_mainwindow.h"
#include "ui_setuprs.h"
#include "ui_winfunc.h"
#include "umisc.h"
#include "ustrings.h"
#include "versioninfo.h"
#include "wav_file.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QtMisc/qtm_messager.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>

MainWnd* mainWnd = nullptr;

namespace {

constexpr auto uniqueConnection = Qt::ConnectionType(Qt::AutoConnection | Qt::UniqueConnection);

// Index 0-3 of a numbered colour action ("aSetGC1" ... "aSetGC4"); anything else counts as 0.
int colorActionIndex(const QObject* sender, const char* prefix)
{
    if (!sender)
        return 0;
    const QString name = sender->objectName();
    const QString stem = QLatin1String(prefix);
    if (name.size() != stem.size() + 1 || !name.startsWith(stem))
        return 0;
    const int number = name.back().digitValue();
    return (number >= 1 && number <= 4) ? number - 1 : 0;
}

QString statusText(const char* prefix, int channel, const QString& text)
{
    if (text.isEmpty())
        return text;
    return QLatin1String(prefix) + QString::number(channel + 1) + QLatin1Char('=') + text;
}

// The small modal dialogs of the main window: title, system menu, fixed size; null when it
// cannot be made.
std::unique_ptr<QDialog> smallDialog(QWidget* parent)
{
    return std::unique_ptr<QDialog>(new (std::nothrow) QDialog(
        parent, Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::MSWindowsFixedSizeDialogHint));
}

QString percentText(int value)
{
    return QString::number(value) + QLatin1Char('%');
}

} // namespace

CommandStates commandStatesFor(ActiveKind kind)
{
    switch (kind) {
    case ActiveKind::None:
        return { false, false, std::nullopt, std::nullopt, false, std::nullopt, false, true, true };
    case ActiveKind::Record:
        return { true, true, true, false, true, true, true, false, false };
    case ActiveKind::RecordWithSpectrum:
        return { true, true, true, false, false, false, false, false, false };
    case ActiveKind::Spectrum:
        return { true, false, false, true, false, false, false, true, false };
    }
    return commandStatesFor(ActiveKind::None);
}

int displayModeForCombination(int combination)
{
    static const int modes[] = { 0, 1, 2, 3, 0, 0, 0, 4, 5, 0, 6 };
    return (combination >= 0 && combination <= 10) ? modes[combination] : 0;
}

QString statusTimeText(bool spectrum, int channel, const QString& text)
{
    return statusText(spectrum ? "F" : "T", channel, text);
}

QString statusValueText(bool spectrum, int channel, const QString& text)
{
    return statusText(spectrum ? "A" : "Y", channel, text);
}

MainWnd::MainWnd(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
{
}

MainWnd::~MainWnd()
{
    // The docks report their hiding while the window is taken down: not to this object then.
    for (QDockWidget* dock : findChildren<QDockWidget*>())
        dock->disconnect(this);
    serialLink().closePort();
    delete exportAction;
    delete centerAction;
    delete selectModeAction;
    delete fltEdit;
    delete sbZYLabel;
    delete sbZXLabel;
    delete sbZY;
    delete sbZX;
    delete zoomPanel;
    delete mdiArea;
    delete ui;
    if (mainWnd == this)
        mainWnd = nullptr;
}

bool MainWnd::create(const QString& settingsFolder)
{
    settingsDir = settingsFolder;
    setAttribute(Qt::WA_DeleteOnClose);
    ui = new (std::nothrow) Ui::MainWindow;
    if (!ui) {
        QTM_REPORT(err::noForm);
        return false;
    }
    ui->setupUi(this);
    // «+» is a shifted key on the main keyboard: it zooms in there as on the keypad.
    ui->aZoomIn->setShortcuts({ QKeySequence(Qt::Key_Plus), QKeySequence(Qt::SHIFT | Qt::Key_Plus),
        QKeySequence(Qt::Key_Equal) });
    if (!connectCommands() || !createWorkspace() || !createZoomPanel() || !createToolBarItems()
        || !placeStatusLabels())
        return false;
    loadSettings();
    refreshCommandStates();
    return true;
}

bool MainWnd::connectCommands()
{
    using Slot = void (MainWnd::*)(bool);
    const struct
    {
        QAction* action;
        Slot slot;
    } commands[] = {
        { ui->aNew, &MainWnd::slot_aNewTriggered },
        { ui->aRead, &MainWnd::slot_aReadTriggered },
        { ui->aSave, &MainWnd::slot_aSaveTriggered },
        { ui->aInfo, &MainWnd::slot_aInfoTriggered },
        { ui->aPrint, &MainWnd::slot_aPrintTriggered },
        { ui->aExit, nullptr },
        { ui->aRunADC, &MainWnd::slot_aRunADCTriggered },
        { ui->aSeries, &MainWnd::slot_aSeriesTriggered },
        { ui->aADC, &MainWnd::slot_aADCTriggered },
        { ui->aSin, &MainWnd::slot_aSinTriggered },
        { ui->aCOM, &MainWnd::slot_aCOMTriggered },
        { ui->aCfgSave, &MainWnd::slot_aCfgSaveTriggered },
        { ui->aVolt, &MainWnd::slot_aVoltTriggered },
        { ui->aCoulomb, &MainWnd::slot_aCoulombTriggered },
        { ui->aZoomIn, &MainWnd::slot_aZoomInTriggered },
        { ui->aZoomOut, &MainWnd::slot_aZoomOutTriggered },
        { ui->aZoomSel, &MainWnd::slot_aZoomSelTriggered },
        { ui->aSetGC1, &MainWnd::slot_aSetGCTriggered },
        { ui->aSetGC2, &MainWnd::slot_aSetGCTriggered },
        { ui->aSetGC3, &MainWnd::slot_aSetGCTriggered },
        { ui->aSetGC4, &MainWnd::slot_aSetGCTriggered },
        { ui->aSetCC1, &MainWnd::slot_aSetCCTriggered },
        { ui->aSetCC2, &MainWnd::slot_aSetCCTriggered },
        { ui->aSetCC3, &MainWnd::slot_aSetCCTriggered },
        { ui->aSetCC4, &MainWnd::slot_aSetCCTriggered },
        { ui->aSetTC1, &MainWnd::slot_aSetTCTriggered },
        { ui->aSetTC2, &MainWnd::slot_aSetTCTriggered },
        { ui->aSetTC3, &MainWnd::slot_aSetTCTriggered },
        { ui->aSetTC4, &MainWnd::slot_aSetTCTriggered },
        { ui->aSetBC1, &MainWnd::slot_aSetBCTriggered },
        { ui->aSetBC2, &MainWnd::slot_aSetBCTriggered },
        { ui->aSetBC3, &MainWnd::slot_aSetBCTriggered },
        { ui->aSetBC4, &MainWnd::slot_aSetBCTriggered },
        { ui->aPower, &MainWnd::slot_aFilteringTriggered },
        { ui->aDetect, &MainWnd::slot_aFilteringTriggered },
        { ui->aFiltering, &MainWnd::slot_aFilteringTriggered },
        { ui->aDiff, &MainWnd::slot_aFilteringTriggered },
        { ui->aZeroSign, &MainWnd::slot_aZeroSignTriggered },
        { ui->aFFTView, &MainWnd::slot_aFFTViewTriggered },
        { ui->aDirectFFT, &MainWnd::slot_aDirectFFTTriggered },
        { ui->aReverseFFT, &MainWnd::slot_aReverseFFTTriggered },
        { ui->aSetFFT, &MainWnd::slot_aSetFFTTriggered },
        { ui->aSrcMax, &MainWnd::slot_aSrcMaxTriggered },
        { ui->aAverage, &MainWnd::slot_aAverageTriggered },
        { ui->aCascade, &MainWnd::slot_aCascadeTriggered },
        { ui->aTile, &MainWnd::slot_aTileTriggered },
        { ui->aNext, &MainWnd::slot_aNextTriggered },
        { ui->aPrev, &MainWnd::slot_aPrevTriggered },
        { ui->aClose, &MainWnd::slot_aCloseTriggered },
        { ui->aMin, &MainWnd::slot_aMinTriggered },
        { ui->aMinimizeAll, &MainWnd::slot_aMinimizeAllTriggered },
        { ui->aAbout, &MainWnd::slot_aAboutTriggered },
        { ui->aDataExport, &MainWnd::slot_aDataExportTriggered },
        { ui->aDataImport, &MainWnd::slot_aDataImportTriggered },
        { ui->aAeHits, &MainWnd::slot_aAeHitsTriggered },
        { ui->aAeParams, &MainWnd::slot_aAeParamsTriggered },
        { ui->aMeasure, &MainWnd::slot_aMeasureTriggered },
        { ui->aScales, &MainWnd::slot_aScalesTriggered },
        { ui->aAeCalibration, &MainWnd::slot_aAeCalibrationTriggered },
        { ui->aTrends, &MainWnd::slot_aTrendsTriggered },
    };
    int position = 0;
    for (const auto& command : commands) {
        ++position;
        const bool connected = command.slot ? bool(connect(command.action, &QAction::triggered,
                                   this, command.slot, uniqueConnection))
                                            : bool(connect(command.action, &QAction::triggered,
                                                this, &QWidget::close, uniqueConnection));
        if (!connected) {
            QTM_REPORT(quint16(err::commandConnect | (position << 8)));
            return false;
        }
    }
    return true;
}

bool MainWnd::createWorkspace()
{
    mdiArea = new (std::nothrow) QMdiArea;
    if (!mdiArea) {
        QTM_REPORT(err::noWorkspace);
        return false;
    }
    mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    if (!connect(mdiArea, &QMdiArea::subWindowActivated, this, &MainWnd::slot_subWindowActivated)) {
        QTM_REPORT(err::workspaceConnect);
        return false;
    }
    setCentralWidget(mdiArea);
    return true;
}

bool MainWnd::createZoomPanel()
{
    zoomPanel = new (std::nothrow) QWidget;
    sbZY = new (std::nothrow) QScrollBar(Qt::Horizontal, zoomPanel);
    sbZX = new (std::nothrow) QScrollBar(Qt::Horizontal, zoomPanel);
    sbZYLabel = new (std::nothrow) QLabel(zoomPanel);
    sbZXLabel = new (std::nothrow) QLabel(zoomPanel);
    if (!zoomPanel || !sbZY || !sbZX || !sbZYLabel || !sbZXLabel) {
        QTM_REPORT(err::noZoomPanel);
        return false;
    }
    zoomPanel->setFixedSize(139, 38);
    sbZY->setObjectName(QStringLiteral("sbZY"));
    sbZX->setObjectName(QStringLiteral("sbZX"));
    sbZYLabel->setObjectName(QStringLiteral("sbZYLabel"));
    sbZXLabel->setObjectName(QStringLiteral("sbZXLabel"));

    sbZY->setGeometry(2, 2, 95, 15);
    sbZY->setRange(4, 400);
    sbZY->setSingleStep(4);
    sbZY->setPageStep(40);
    sbZY->setValue(100);
    sbZY->setTracking(false);
    sbZY->setFocusPolicy(Qt::WheelFocus);
    sbZY->setToolTip(stringsKit.vertScaleText);
    sbZYLabel->setGeometry(98, 2, 40, 15);

    sbZX->setGeometry(2, 19, 95, 15);
    sbZX->setRange(1, 100);
    sbZX->setSingleStep(1);
    sbZX->setPageStep(10);
    sbZX->setValue(100);
    sbZX->setTracking(false);
    sbZX->setFocusPolicy(Qt::WheelFocus);
    sbZX->setToolTip(stringsKit.horzStretchText);
    sbZXLabel->setGeometry(98, 19, 40, 15);

    if (!connect(sbZY, &QScrollBar::valueChanged, this, &MainWnd::slot_sbZYValueChanged)
        || !connect(sbZY, &QScrollBar::sliderMoved, this, &MainWnd::slot_sbZYSliderMoved)
        || !connect(sbZX, &QScrollBar::valueChanged, this, &MainWnd::slot_sbZXValueChanged)
        || !connect(sbZX, &QScrollBar::sliderMoved, this, &MainWnd::slot_sbZXSliderMoved)) {
        QTM_REPORT(err::zoomConnect);
        return false;
    }
    refreshZoomLabels();
    return true;
}

bool MainWnd::createToolBarItems()
{
    QToolBar* bar = ui->toolBar;
    bar->addWidget(zoomPanel);
    bar->addAction(ui->aRunADC);
    bar->addAction(ui->aSeries);
    bar->addAction(ui->aADC);
    bar->addSeparator();

    fltEdit = new (std::nothrow) QSpinBox;
    if (!fltEdit) {
        QTM_REPORT(err::noToolItem);
        return false;
    }
    fltEdit->setRange(0, 125);
    fltEdit->setValue(1);
    fltEdit->setFixedHeight(24);
    fltEdit->setToolTip(stringsKit.smoothParamText);
    bar->addWidget(fltEdit);

    exportAction = bar->addAction(QIcon(QStringLiteral(":/export.png")), stringsKit.bufferText);
    centerAction = bar->addAction(QIcon(QStringLiteral(":/center.png")), QString());
    selectModeAction = bar->addAction(QIcon(QStringLiteral(":/monitor.png")), QString());
    bar->addAction(ui->aScales);
    if (!exportAction || !centerAction || !selectModeAction) {
        QTM_REPORT(err::noToolItem);
        return false;
    }
    exportAction->setObjectName(QStringLiteral("exportAction"));
    centerAction->setObjectName(QStringLiteral("centerAction"));
    selectModeAction->setObjectName(QStringLiteral("selectModeAction"));
    exportAction->setToolTip(stringsKit.saveTimesText);
    centerAction->setToolTip(stringsKit.centerCursorsText);
    selectModeAction->setToolTip(stringsKit.selectModeText);
    selectModeAction->setCheckable(true);

    if (!connect(fltEdit, &QSpinBox::valueChanged, this, &MainWnd::slot_FltEditValueChanged)
        || !connect(exportAction, &QAction::triggered, this, &MainWnd::slot_aExportTriggered)
        || !connect(centerAction, &QAction::triggered, this, &MainWnd::slot_aCenteringTriggered)
        || !connect(
            selectModeAction, &QAction::triggered, this, &MainWnd::slot_aSelectModeTriggered)) {
        QTM_REPORT(err::toolConnect);
        return false;
    }
    return true;
}

bool MainWnd::placeStatusLabels()
{
    QLabel* const times[] = { ui->tl1, ui->tl2, ui->tl3, ui->tl4 };
    QLabel* const values[] = { ui->yl1, ui->yl2, ui->yl3, ui->yl4 };
    if (!ui->frameSBar || !ui->statusbar) {
        QTM_REPORT(err::noStatusFrame);
        return false;
    }
    ui->frameSBar->setParent(ui->statusbar);
    for (int i = 0; i < 4; ++i) {
        timeLabels[i] = times[i];
        valueLabels[i] = values[i];
        timeLabels[i]->hide();
        valueLabels[i]->hide();
    }
    return true;
}

void MainWnd::closeEvent(QCloseEvent* event)
{
    // A series ends first, its capture under way let go; the program quits when it has.
    if (series) {
        quitAfterSeries = true;
        series->stopNow();
        event->ignore();
        return;
    }
    if (ProgressDialog::workInProgress() || !closeWaveForms()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

bool MainWnd::closeWaveForms()
{
    for (const bool spectra : { true, false })
        for (TWForm* form : waveForms())
            if (form->isSpectrum == spectra && !form->isHidden() && !form->close())
                return false;
    return true;
}

void MainWnd::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (ui && ui->frameSBar && ui->statusbar)
        ui->frameSBar->setGeometry(0, 0, ui->statusbar->width(), ui->statusbar->height());
}

QList<TWForm*> MainWnd::waveForms() const
{
    QList<TWForm*> forms;
    if (!mdiArea)
        return forms;
    for (QMdiSubWindow* window : mdiArea->subWindowList())
        if (auto* form = qobject_cast<TWForm*>(window))
            forms.append(form);
    return forms;
}

TWForm* MainWnd::activeWaveForm() const
{
    return mdiArea ? qobject_cast<TWForm*>(mdiArea->activeSubWindow()) : nullptr;
}

bool MainWnd::isSelectModeChecked() const
{
    return selectModeAction && selectModeAction->isChecked();
}

ActiveKind MainWnd::activeKind() const
{
    const TWForm* window = activeWaveForm();
    if (!window)
        return ActiveKind::None;
    if (window->isSpectrum)
        return ActiveKind::Spectrum;
    return window->hasSpectrum ? ActiveKind::RecordWithSpectrum : ActiveKind::Record;
}

void MainWnd::refreshCommandStates()
{
    if (!ui || !fltEdit || !selectModeAction)
        return;
    const CommandStates states = commandStatesFor(activeKind());
    for (QWidget* menu : { static_cast<QWidget*>(ui->mZoom), static_cast<QWidget*>(ui->mColor),
             static_cast<QWidget*>(ui->mProcessing), static_cast<QWidget*>(ui->mWindow) })
        menu->setEnabled(states.recordCommands);
    for (QAction* action : { ui->aPrint, selectModeAction, centerAction, exportAction })
        action->setEnabled(states.recordCommands);
    ui->aSin->setEnabled(states.sine);
    if (states.fftView)
        ui->aFFTView->setEnabled(*states.fftView);
    if (states.reverseFft)
        ui->aReverseFFT->setEnabled(*states.reverseFft);
    fltEdit->setEnabled(states.filters);
    ui->mFilters->setEnabled(states.filters);
    if (states.directFft)
        ui->aDirectFFT->setEnabled(*states.directFft);
    ui->aSave->setEnabled(states.saveAndInfo);
    ui->aInfo->setEnabled(states.saveAndInfo);
    const ActiveKind kind = activeKind();
    ui->aDataExport->setEnabled(
        kind == ActiveKind::Record || kind == ActiveKind::RecordWithSpectrum);
    if (states.clearSelectMode)
        selectModeAction->setChecked(false);
    if (states.hideStatusLabels) {
        for (int i = 0; i < 4; ++i) {
            timeLabels[i]->hide();
            valueLabels[i]->hide();
        }
    }
}

void MainWnd::syncControls(TWForm* window)
{
    if (!window || !fltEdit || !ui || !sbZY || !sbZX)
        return;
    spinBoxGuard = true;
    int mode = 0;
    if (window->record) {
        fltEdit->setValue(window->smoothParam());
        mode = window->displayMode();
    }
    spinBoxGuard = false;

    ui->aDetect->setChecked(mode == 1 || mode == 3 || mode == 4);
    ui->aFiltering->setChecked(mode == 2 || mode == 3 || mode == 4 || mode == 6);
    ui->aDiff->setEnabled(mode == 3 || mode == 4);
    ui->aDiff->setChecked(mode == 4);
    ui->aPower->setChecked(mode == 5 || mode == 6);
    ui->aPower->setEnabled(!ui->aDetect->isChecked());
    ui->aDetect->setEnabled(!ui->aPower->isChecked());

    zoomGuard = true;
    window->syncVScaleSlider(sbZY);
    window->syncStretchSlider(sbZX);
    zoomGuard = false;
    refreshZoomLabels();

    if (window->record)
        ui->aSin->setChecked(window->sineOverlay());
}

// Under the zoom guard: the bar has a resolution of one per cent, and letting its handler
// stretch the window again would round the width just set (a zoom in on a long record could
// even widen the view).
void MainWnd::refreshStretchBar(TWForm* window)
{
    if (!window || !sbZX)
        return;
    zoomGuard = true;
    window->syncStretchSlider(sbZX);
    zoomGuard = false;
    refreshZoomLabels();
}

void MainWnd::setChannelStatus(
    TWForm* window, int channel, const QString& timeText, const QString& valueText)
{
    if (channel < 0 || channel > 3 || !timeLabels[channel] || !valueLabels[channel])
        return;
    const bool spectrum = window && window->isSpectrum;
    const QString time = statusTimeText(spectrum, channel, timeText);
    const QString value = statusValueText(spectrum, channel, valueText);
    timeLabels[channel]->setText(time);
    timeLabels[channel]->setVisible(!time.isEmpty());
    valueLabels[channel]->setText(value);
    valueLabels[channel]->setVisible(!value.isEmpty());
}

void MainWnd::refreshZoomLabels()
{
    sbZYLabel->setText(percentText(sbZY->value()));
    sbZXLabel->setText(percentText(sbZX->value()));
}

// --- Settings ---------------------------------------------------------------------------------

void MainWnd::loadSettings()
{
    if (!qtmisc::mesDaemon)
        return;
    SettingsValues values;
    for (int i = 0; i < 4; ++i) {
        values.graphColors[i] = traceColors[i];
        values.cursorColors[i] = cursorColors[i];
        values.textColors[i] = labelTextColors[i];
        values.backColors[i] = labelBackColors[i];
    }
    readSettings(settingsDir, values);

    yAxisFlag = values.yAxisVolts;
    // The check marks show the unit the readouts use (the form alone would check Volts).
    if (ui) {
        ui->aVolt->setChecked(yAxisFlag);
        ui->aCoulomb->setChecked(!yAxisFlag);
    }
    applyToAll = values.forAll;
    acqParams.halfCount = values.acq.halfCount;
    acqParams.freqCode = values.acq.freqCode;
    acqParams.sync = values.acq.sync;
    acqParams.detector = values.acq.detector;
    acqParams.muxGroup = values.acq.muxGroup;
    std::copy(std::begin(values.acq.gains), std::end(values.acq.gains), acqParams.gains);
    for (int i = 0; i < 4; ++i) {
        traceColors[i] = values.graphColors[i];
        cursorColors[i] = values.cursorColors[i];
        setStatusLabelColor(i, QPalette::WindowText, values.textColors[i]);
        setStatusLabelColor(i, QPalette::Window, values.backColors[i]);
    }
    comPortName = values.comName;
    comBaudRate = values.baudRate;
    if (values.replacedBaud != 0 && qtmisc::mesDaemon)
        qtmisc::mesDaemon->showNotice(0x1403,
            tr("Скорость порта %1 из adc.ini вне 1200…115200: взята %2.")
                .arg(values.replacedBaud)
                .arg(values.baudRate));
    fftWindowFunction = values.windowFunction;
    lastDir = values.oldDir;
    ae = values.ae;
    scalesShown = values.scales;
    pageLabels = values.pageLabels;
    seriesPlan = values.series;
    if (ui)
        ui->aScales->setChecked(scalesShown);
}

void MainWnd::saveSettings()
{
    SettingsValues values;
    values.yAxisVolts = yAxisFlag;
    values.forAll = applyToAll;
    values.acq = acqParams;
    for (int i = 0; i < 4; ++i) {
        values.graphColors[i] = traceColors[i];
        values.cursorColors[i] = cursorColors[i];
        values.textColors[i] = labelTextColors[i];
        values.backColors[i] = labelBackColors[i];
    }
    values.comName = comPortName;
    values.baudRate = comBaudRate;
    values.windowFunction = fftWindowFunction;
    values.oldDir = lastDir;
    values.ae = ae;
    values.scales = scalesShown;
    values.pageLabels = pageLabels;
    values.series = seriesPlan;

    for (;;) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool written = writeSettings(settingsDir, values);
        QApplication::restoreOverrideCursor();
        if (written)
            return;
        QMessageBox::StandardButton answer = QMessageBox::NoButton;
        qtmisc::mesDaemon->showQuestion(0x1709, QString(), QString(), &answer, true, true,
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer != QMessageBox::Yes)
            return;
    }
}

void MainWnd::slot_aCfgSaveTriggered(bool)
{
    if (qtmisc::mesDaemon)
        saveSettings();
}

// --- Display mode and zoom ----------------------------------------------------------------------

void MainWnd::applyDisplayMode()
{
    if (!ui || !mdiArea || !fltEdit)
        return;
    int combination = 0;
    if (ui->aDetect->isChecked()) {
        combination = 1;
        ui->aPower->setChecked(false);
        ui->aPower->setEnabled(false);
    } else {
        ui->aPower->setEnabled(true);
    }
    if (ui->aFiltering->isChecked()) {
        if (combination == 1) {
            ui->aDiff->setEnabled(true);
            combination = 3;
        } else {
            combination = 2;
            ui->aDiff->setEnabled(false);
            ui->aDiff->setChecked(false);
        }
    } else {
        ui->aDiff->setEnabled(false);
        ui->aDiff->setChecked(false);
    }
    if (ui->aDiff->isChecked())
        combination += 4;
    if (ui->aPower->isChecked()) {
        combination += 8;
        ui->aDetect->setChecked(false);
        ui->aDetect->setEnabled(false);
    } else {
        ui->aDetect->setEnabled(true);
    }
    if (TWForm* window = activeWaveForm())
        window->setFilter(displayModeForCombination(combination), fltEdit->value());
}

void MainWnd::slot_aFilteringTriggered(bool)
{
    applyDisplayMode();
}

void MainWnd::slot_FltEditValueChanged(int)
{
    if (!spinBoxGuard)
        applyDisplayMode();
}

void MainWnd::slot_sbZYValueChanged(int value)
{
    if (zoomGuard)
        return;
    sbZYLabel->setText(percentText(value));
    if (TWForm* window = activeWaveForm())
        window->setVScale(true, 10 * value);
}

void MainWnd::slot_sbZYSliderMoved(int value)
{
    sbZYLabel->setText(percentText(value));
    if (TWForm* window = activeWaveForm())
        window->setVScale(false, 10 * value);
}

void MainWnd::slot_sbZXValueChanged(int value)
{
    if (zoomGuard)
        return;
    sbZXLabel->setText(percentText(value));
    if (TWForm* window = activeWaveForm())
        window->setStretch(true, 10 * value, 10 * sbZX->maximum());
}

void MainWnd::slot_sbZXSliderMoved(int value)
{
    sbZXLabel->setText(percentText(value));
    if (TWForm* window = activeWaveForm())
        window->setStretch(false, 10 * value, 10 * sbZX->maximum());
}

// --- Y unit and colours -------------------------------------------------------------------------

void MainWnd::setYUnit(bool volts)
{
    if (!ui || !mdiArea)
        return;
    yAxisFlag = volts;
    ui->aVolt->setChecked(volts);
    ui->aCoulomb->setChecked(!volts);
    // Every window's readouts and scales speak in the unit: they are drawn again in the new one.
    pushViewOptions();
    refreshMeasurements();
}

void MainWnd::slot_aVoltTriggered(bool)
{
    setYUnit(true);
}

void MainWnd::slot_aCoulombTriggered(bool)
{
    setYUnit(false);
}

int MainWnd::chooseColor(const char* actionPrefix, const QColor* table, QColor& chosen)
{
    const int index = colorActionIndex(sender(), actionPrefix);
    chosen = QColorDialog::getColor(table[index], this);
    return chosen.isValid() ? index : -1;
}

void MainWnd::slot_aSetGCTriggered(bool)
{
    QColor color;
    const int index = chooseColor("aSetGC", traceColors, color);
    if (index < 0)
        return;
    traceColors[index] = color; // the colour of the channel in every record to come
    for (TWForm* window : waveForms())
        window->setGraphColor(index, color);
}

void MainWnd::slot_aSetCCTriggered(bool)
{
    QColor color;
    const int index = chooseColor("aSetCC", cursorColors, color);
    if (index < 0)
        return;
    cursorColors[index] = color;
    for (TWForm* window : waveForms())
        window->setCursorColor(index, color);
}

void MainWnd::slot_aSetTCTriggered(bool)
{
    QColor color;
    const int index = chooseColor("aSetTC", labelTextColors, color);
    if (index >= 0)
        setStatusLabelColor(index, QPalette::WindowText, color);
}

void MainWnd::slot_aSetBCTriggered(bool)
{
    QColor color;
    const int index = chooseColor("aSetBC", labelBackColors, color);
    if (index >= 0)
        setStatusLabelColor(index, QPalette::Window, color);
}

void MainWnd::setStatusLabelColor(int index, QPalette::ColorRole role, const QColor& color)
{
    (role == QPalette::Window ? labelBackColors : labelTextColors)[index] = color;
    for (QLabel* label : { timeLabels[index], valueLabels[index] }) {
        if (!label)
            continue;
        QPalette palette = label->palette();
        palette.setColor(QPalette::All, role, color);
        label->setPalette(palette);
    }
}

// --- Window menu --------------------------------------------------------------------------------

namespace {

// The smallest a cascaded window is made: its traces and readouts stay readable.
constexpr QSize readableWindow(480, 320);

// How far each cascaded window lies from the one before: a title bar and a little more.
int cascadeStep(const QWidget* window)
{
    return window->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 6;
}

// How many offsets a cascade has before a window of the readable size would leave the area.
int cascadePositions(const QSize& area, int step)
{
    const int room = std::max(0,
        std::min(area.width() - readableWindow.width(), area.height() - readableWindow.height()));
    return room / step + 1;
}

// The place of the index-th of a cascade in an area: the offset goes back to the corner
// after the last position.
QRect cascadePlace(const QSize& area, int index, int step)
{
    const int offset = (index % cascadePositions(area, step)) * step;
    const QSize size(std::max(readableWindow.width(), area.width() - offset),
        std::max(readableWindow.height(), area.height() - offset));
    return QRect(QPoint(offset, offset), size);
}

} // namespace

void MainWnd::placeNewWindow(QMdiSubWindow* window)
{
    int others = 0;
    for (QMdiSubWindow* open : mdiArea->subWindowList())
        others += open != window && !open->isMinimized() ? 1 : 0;
    window->setGeometry(cascadePlace(mdiArea->viewport()->size(), others, cascadeStep(window)));
}

void MainWnd::slot_aCascadeTriggered(bool)
{
    int index = 0;
    const QList<QMdiSubWindow*> windows = mdiArea->subWindowList(QMdiArea::CreationOrder);
    const int shown = int(std::count_if(
        windows.begin(), windows.end(), [](const QMdiSubWindow* w) { return !w->isMinimized(); }));
    for (QMdiSubWindow* window : windows) {
        if (window->isMinimized())
            continue;
        if (window->isMaximized())
            window->showNormal();
        // Every window of the cascade has the size of the one furthest from the corner.
        const QSize area = mdiArea->viewport()->size();
        const int step = cascadeStep(window);
        const int furthest = std::min(shown, cascadePositions(area, step)) - 1;
        const QRect place = cascadePlace(area, index++, step);
        window->setGeometry(QRect(place.topLeft(), cascadePlace(area, furthest, step).size()));
        window->raise();
    }
}

void MainWnd::slot_aTileTriggered(bool)
{
    mdiArea->tileSubWindows();
}

void MainWnd::slot_aNextTriggered(bool)
{
    mdiArea->activateNextSubWindow();
}

void MainWnd::slot_aPrevTriggered(bool)
{
    mdiArea->activatePreviousSubWindow();
}

void MainWnd::slot_aCloseTriggered(bool)
{
    mdiArea->closeActiveSubWindow();
}

void MainWnd::slot_aMinTriggered(bool)
{
    if (QMdiSubWindow* window = mdiArea->activeSubWindow())
        window->showMinimized();
}

void MainWnd::slot_aMinimizeAllTriggered(bool)
{
    for (QMdiSubWindow* window : mdiArea->subWindowList())
        window->showMinimized();
}

// --- Record commands ----------------------------------------------------------------------------

void MainWnd::slot_aSinTriggered(bool checked)
{
    if (TWForm* window = activeWaveForm())
        window->setSineVisible(checked);
}

void MainWnd::slot_subWindowActivated(QMdiSubWindow*)
{
    refreshCommandStates();
    refreshAeHits();
    refreshMeasurements();
}

void MainWnd::slot_aZoomInTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->zoomIn();
}

void MainWnd::slot_aZoomOutTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->zoomOut();
}

void MainWnd::slot_aZoomSelTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->zoomSelection();
}

void MainWnd::slot_aZeroSignTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->zeroSelection();
}

void MainWnd::slot_aSrcMaxTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->findMaximum();
}

void MainWnd::slot_aAverageTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->showMean();
}

void MainWnd::slot_aSelectModeTriggered(bool checked)
{
    pushViewOptions();
    if (!checked)
        return;
    if (TWForm* window = activeWaveForm())
        window->snapSelection();
}

void MainWnd::slot_aCenteringTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->centreCursors();
}

void MainWnd::slot_aExportTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->exportTimes();
}

// --- File commands ------------------------------------------------------------------------------

namespace {

const char* const rawFilter = "Raw Data (*.raw)";

} // namespace

TWForm* MainWnd::newEmptyWindow()
{
    if (!mdiArea)
        return nullptr;
    auto* window = new (std::nothrow) TWForm;
    if (!adopt(window) || !window->initEmpty()) {
        delete window;
        return nullptr;
    }
    window->setWindowTitle(QStringLiteral("NoName - ") + QString::number(windowCounter));
    mdiArea->addSubWindow(window);
    placeNewWindow(window);
    window->show();
    ++windowCounter;
    return window;
}

bool MainWnd::openRecordFile(const QString& name)
{
    auto* window = new (std::nothrow) TWForm;
    QString cause;
    bool read = false;
    if (adopt(window)) {
        FileFaultsLogged logged;
        read = window->openFile(name, &cause);
    }
    if (!read) {
        delete window;
        qtmisc::mesDaemon->showWarnWithCause(
            0x1504, QStringLiteral("4"), QString(), false, true, fileCauseText(cause));
        return false;
    }
    zoomGuard = true;
    window->syncVScaleSlider(sbZY);
    window->syncStretchSlider(sbZX);
    zoomGuard = false;
    mdiArea->addSubWindow(window);
    placeNewWindow(window);
    window->show();
    lastDir = directoryOfFile(name);
    return true;
}

int MainWnd::saveActiveRecord(const QString& chosenName)
{
    TWForm* window = activeWaveForm();
    if (!window)
        return 100;
    const QString name = completedSaveName(chosenName, QStringLiteral(".raw"));
    if (name.isEmpty())
        return 1;
    const int result = window->saveFile(name);
    const int error = errno;
    if (result == -16) // the old file may not be replaced
        qtmisc::mesDaemon->showWarn(
            0xA502, QFileInfo(name).fileName(), QStringLiteral("01"), false, false);
    if (result != 0) {
        qtmisc::mesDaemon->showWarnWithCause(0x1505, QString::number(result), QString(), false,
            true, fileCauseText(saveCause(result, error)));
        return result;
    }
    lastDir = directoryOfFile(name);
    return 0;
}

void MainWnd::slot_aNewTriggered(bool)
{
    newEmptyWindow();
}

void MainWnd::slot_aReadTriggered(bool)
{
    if (!mdiArea || !qtmisc::mesDaemon || !sbZY || !sbZX)
        return;
    const QString name
        = QFileDialog::getOpenFileName(this, QString(), lastDir, QLatin1String(rawFilter));
    if (!name.isEmpty())
        openRecordFile(name);
}

void MainWnd::slot_aSaveTriggered(bool)
{
    if (!mdiArea || !qtmisc::mesDaemon || !activeWaveForm())
        return;
    const QString name
        = QFileDialog::getSaveFileName(this, QString(), lastDir, QLatin1String(rawFilter));
    if (!name.isEmpty())
        saveActiveRecord(name);
}

bool MainWnd::exportActiveRecord(const QString& chosenName, bool wavFilter, bool selectionOnly)
{
    TWForm* window = activeWaveForm();
    if (!window || !window->record)
        return false;
    // A name's own suffix decides the format; a name without one takes the filter's, and one
    // with another suffix is written as it stands.
    const QString suffix = QFileInfo(chosenName).suffix().toLower();
    const bool wav
        = suffix == QLatin1String("wav") || (suffix != QLatin1String("csv") && wavFilter);
    const QString name = suffix.isEmpty()
        ? completedSaveName(chosenName, wav ? QStringLiteral(".wav") : QStringLiteral(".csv"))
        : chosenName;
    if (name.isEmpty())
        return false;
    SampleSpan span;
    if (selectionOnly && window->selStart != window->selEnd) {
        span.start = std::min(window->selStart, window->selEnd);
        span.count = std::abs(window->selEnd - window->selStart);
    }
    QString cause;
    const bool done = wav
        ? exportWav(*window->record, name, false, span, cause)
        : exportCsv(*window->record, name,
            yAxisFlag ? AmplitudeUnit::Volts : AmplitudeUnit::Coulombs, span, cause);
    if (!done) {
        qtmisc::mesDaemon->showWarn(
            0x1512, QFileInfo(name).fileName(), fileCauseText(cause), false, false);
        return false;
    }
    lastDir = directoryOfFile(name);
    return true;
}

bool MainWnd::importRecordFile(const QString& name)
{
    auto* window = new (std::nothrow) TWForm;
    QString cause;
    ImportNotes notes;
    if (!adopt(window) || !window->importFile(name, cause, notes)) {
        delete window;
        qtmisc::mesDaemon->showWarn(
            0x1513, QFileInfo(name).fileName(), fileCauseText(cause), false, false);
        return false;
    }
    mdiArea->addSubWindow(window);
    placeNewWindow(window);
    window->show();
    lastDir = directoryOfFile(name);
    const QString notice = importNotesText(notes);
    if (!notice.isEmpty())
        qtmisc::mesDaemon->showInfo(0x1401, notice, QString(), false, false);
    return true;
}

void MainWnd::slot_aDataExportTriggered(bool)
{
    TWForm* window = activeWaveForm();
    if (!window || !window->record || !qtmisc::mesDaemon)
        return;
    QFileDialog dialog(this, tr("Экспорт"), lastDir);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({ QStringLiteral("CSV (*.csv)"), QStringLiteral("WAV (*.wav)") });
    QCheckBox selectionOnly(tr("Только выделение"));
    selectionOnly.setObjectName(QStringLiteral("selectionOnlyBox"));
    selectionOnly.setEnabled(window->selStart != window->selEnd);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(&selectionOnly, grid->rowCount(), 0, 1, -1);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    exportActiveRecord(dialog.selectedFiles().first(),
        dialog.selectedNameFilter().startsWith(QLatin1String("WAV")), selectionOnly.isChecked());
}

void MainWnd::slot_aDataImportTriggered(bool)
{
    if (!mdiArea || !qtmisc::mesDaemon)
        return;
    const QString name = QFileDialog::getOpenFileName(
        this, tr("Импорт"), lastDir, QStringLiteral("WAV (*.wav);;All files (*)"));
    if (!name.isEmpty())
        importRecordFile(name);
}

AeHitsPanel* MainWnd::aeHitsPanel()
{
    if (auto* panel = findChild<AeHitsPanel*>())
        return panel;
    auto* panel = new AeHitsPanel(this);
    addDockWidget(Qt::BottomDockWidgetArea, panel);
    connect(panel, &AeHitsPanel::refreshRequested, this, &MainWnd::refreshAeHits);
    connect(
        panel, &AeHitsPanel::parametersRequested, this, [this] { slot_aAeParamsTriggered(false); });
    connect(panel, &AeHitsPanel::calibrationRequested, this,
        [this] { slot_aAeCalibrationTriggered(false); });
    connect(panel, &QDockWidget::visibilityChanged, this, [this, panel](bool visible) {
        if (ui && !panel->isHidden() == visible)
            ui->aAeHits->setChecked(visible);
    });
    if (auto* trends = findChild<TrendDock*>())
        tabifyDockWidget(trends, panel);
    return panel;
}

TrendDock* MainWnd::trendDock()
{
    if (auto* dock = findChild<TrendDock*>())
        return dock;
    auto* dock = new TrendDock(this);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    if (auto* hitsPanel = findChild<AeHitsPanel*>())
        tabifyDockWidget(hitsPanel, dock);
    connect(dock, &QDockWidget::visibilityChanged, this, [this, dock](bool visible) {
        if (ui && !dock->isHidden() == visible)
            ui->aTrends->setChecked(visible);
    });
    return dock;
}

namespace {

// The trend plots show a series' sources the way the AE settings it began with locate them
// (settings changed later leave them so).
void showLocationLayout(TrendDock* dock, const AeSettings& ae)
{
    const HitQuery located = ae.searched();
    dock->setLocationLayout(!located.sensors.isEmpty(), located.sensors, located.spacingMetres);
}

} // namespace

void MainWnd::slot_aTrendsTriggered(bool checked)
{
    TrendDock* dock = trendDock();
    dock->setVisible(checked);
    if (checked)
        dock->raise();
}

void MainWnd::refreshAeHits()
{
    auto* panel = findChild<AeHitsPanel*>();
    if (panel && panel->isVisible())
        panel->showHits(activeWaveForm(), ae.searched(), ae.decibels);
}

void MainWnd::slot_aAeHitsTriggered(bool checked)
{
    AeHitsPanel* panel = aeHitsPanel();
    panel->setVisible(checked);
    refreshAeHits();
}

void MainWnd::slot_aScalesTriggered(bool checked)
{
    scalesShown = checked;
    pushViewOptions();
}

ViewOptions MainWnd::viewOptions() const
{
    ViewOptions options;
    options.volts = yAxisFlag;
    options.scales = scalesShown;
    options.powerOfTwoSelection = isSelectModeChecked();
    return options;
}

void MainWnd::pushViewOptions()
{
    if (mdiArea)
        for (QMdiSubWindow* window : mdiArea->subWindowList())
            if (auto* form = qobject_cast<TWForm*>(window))
                form->setViewOptions(viewOptions());
}

bool MainWnd::adopt(TWForm* window)
{
    if (!window)
        return false;
    // What the window tells goes to the status labels, the controls, the stretch bar and the
    // command states; what it needs from here is handed down.
    if (!connect(window, &TWForm::channelStatusChanged, this,
            [this, window](int channel, const QString& time, const QString& value) {
                setChannelStatus(window, channel, time, value);
            })
        || !connect(window, &TWForm::controlsChanged, this, [this, window] { syncControls(window); })
        || !connect(window, &TWForm::stretchChanged, this, [this, window] { refreshStretchBar(window); })
        || !connect(window, &TWForm::commandStatesChanged, this, &MainWnd::refreshCommandStates)) {
        QTM_REPORT(err::windowConnect);
        return false;
    }
    window->setViewOptions(viewOptions());
    return true;
}

void MainWnd::refreshMeasurements()
{
    auto* panel = findChild<MeasurePanel*>();
    if (panel && panel->isVisible())
        panel->showMeasurements(activeWaveForm());
}

void MainWnd::slot_aMeasureTriggered(bool checked)
{
    auto* panel = findChild<MeasurePanel*>();
    if (!panel) {
        panel = new MeasurePanel(this);
        addDockWidget(Qt::BottomDockWidgetArea, panel);
        connect(panel, &QDockWidget::visibilityChanged, this, [this, panel](bool visible) {
            if (ui && !panel->isHidden() == visible)
                ui->aMeasure->setChecked(visible);
        });
    }
    panel->setVisible(checked);
    refreshMeasurements();
}

void MainWnd::slot_aAeParamsTriggered(bool)
{
    AeParamsDialog dialog(this);
    dialog.setValues(ae);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.takeValues(ae);
    refreshAeHits();
}

// The speed is fitted on the active record (its selection) with the sensors as set, also while
// location is off; a speed kept is used from then on.
void MainWnd::slot_aAeCalibrationTriggered(bool)
{
    TWForm* window = activeWaveForm();
    if (!window || !window->record || window->isSpectrum)
        return;
    AeSettings located = ae;
    located.location = true;
    AeCalibrationDialog dialog(*window->record, selectionQuery(*window, located.searched()), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ae.query.speedMps = dialog.speed();
    refreshAeHits();
}

namespace {

// What a try of an exchange ran into, in a few words.
QString attemptText(LinkFailure failure)
{
    switch (failure) {
    case LinkFailure::NoSyncAnswer:
        return MainWnd::tr("нет ответа на синхронизацию");
    case LinkFailure::WrongSyncAnswer:
        return MainWnd::tr("неверный ответ на синхронизацию");
    case LinkFailure::NoAcknowledge:
        return MainWnd::tr("нет подтверждения команды");
    case LinkFailure::WrongAcknowledge:
        return MainWnd::tr("неверное подтверждение");
    case LinkFailure::NoReply:
        return MainWnd::tr("нет ответа");
    case LinkFailure::BadChecksum:
        return MainWnd::tr("ошибка контрольной суммы");
    case LinkFailure::Stalled:
        return MainWnd::tr("передача остановилась");
    default:
        return MainWnd::tr("ошибка порта");
    }
}

} // namespace

QString linkFailureText(
    LinkFailure failure, const QString& port, const QList<LinkFailure>& attempts)
{
    QString text;
    switch (failure) {
    case LinkFailure::PortMissing:
        return MainWnd::tr("Порт %1 не найден.").arg(port);
    case LinkFailure::PortDenied:
        return MainWnd::tr("Нет доступа к порту %1. Добавьте пользователя в группу dialout "
                           "(sudo usermod -aG dialout $USER) и войдите в систему заново.")
            .arg(port);
    case LinkFailure::PortBusy:
        return MainWnd::tr("Порт %1 занят другой программой.").arg(port);
    case LinkFailure::PortError:
        return MainWnd::tr("Порт %1 не открывается или не передаёт данные.").arg(port);
    case LinkFailure::ReadError:
        return MainWnd::tr("Ошибка чтения порта %1.").arg(port);
    case LinkFailure::NoSyncAnswer:
        text = MainWnd::tr("Блок не ответил на синхронизацию: проверьте кабель, питание блока и "
                           "скорость порта.");
        break;
    case LinkFailure::WrongSyncAnswer:
        text = MainWnd::tr("Блок ответил на синхронизацию неверным байтом: проверьте скорость "
                           "порта.");
        break;
    case LinkFailure::NoAcknowledge:
        text = MainWnd::tr("Блок не подтвердил команду.");
        break;
    case LinkFailure::WrongAcknowledge:
        text = MainWnd::tr("Блок ответил на команду неверным подтверждением.");
        break;
    case LinkFailure::NoReply:
        text = MainWnd::tr("Блок не прислал ответ.");
        break;
    case LinkFailure::BadChecksum:
        text = MainWnd::tr("Ошибка контрольной суммы.");
        break;
    case LinkFailure::Stalled:
        text = MainWnd::tr("Передача данных от блока остановилась.");
        break;
    default:
        return QString();
    }
    // What each try ran into, as it happened.
    QStringList tries;
    for (const LinkFailure attempt : attempts)
        tries << attemptText(attempt);
    if (!tries.isEmpty())
        text += MainWnd::tr("\nПопыток: %1 (%2).")
                    .arg(tries.size())
                    .arg(tries.join(QStringLiteral(", ")));
    return text;
}

QString gainAdviceText(const QList<GainAdvice>& advice)
{
    // Gains as the parameters dialog lists them: x1 ... x4096.
    const auto factor
        = [](int code) { return QStringLiteral("×%1").arg(1 << std::clamp(code, 0, maxGainCode)); };
    QStringList lines;
    for (const GainAdvice& a : advice) {
        const QString from = factor(a.currentGain);
        const QString to = factor(a.suggestedGain);
        if (a.clipped && a.suggestedGain < a.currentGain)
            lines << MainWnd::tr("канал %1: перегрузка — уменьшите усиление с %2 до %3")
                         .arg(a.channel + 1)
                         .arg(from, to);
        else if (a.clipped)
            lines << MainWnd::tr("канал %1: перегрузка при наименьшем усилении %2 — усилением "
                                 "не помочь, ослабьте сигнал на входе")
                         .arg(a.channel + 1)
                         .arg(from);
        else if (a.suggestedGain > a.currentGain)
            lines << MainWnd::tr("канал %1: слабый сигнал (пик %2) — увеличьте усиление с %3 до %4")
                         .arg(a.channel + 1)
                         .arg(a.peak)
                         .arg(from, to);
        else
            lines << MainWnd::tr("канал %1: слабый сигнал (пик %2) при наибольшем усилении %3 — "
                                 "усилением не помочь")
                         .arg(a.channel + 1)
                         .arg(a.peak)
                         .arg(from);
    }
    return lines.join('\n');
}

QString levelMarks(const QList<GainAdvice>& advice)
{
    if (advice.isEmpty())
        return MainWnd::tr("в пределах шкалы");
    QStringList marks;
    for (const GainAdvice& a : advice)
        marks << (a.clipped ? MainWnd::tr("к. %1 перегружен") : MainWnd::tr("к. %1 слабый"))
                     .arg(a.channel + 1);
    return marks.join(QStringLiteral("; "));
}

QStringList recordInfoValues(const WaveStore& record)
{
    const WaveHeader& h = record.header;
    const qint64 frequency = (h.clockKHz == 0 || h.ticksPerSample == 0)
        ? 0
        : std::llround(h.clockKHz * 1000.0 / h.ticksPerSample);
    QString inputs;
    QString gains;
    for (int i = 0; i < record.channelCount(); ++i) {
        inputs += QString::number(record.channelSlots[i].header.inputNumber) + QLatin1Char(' ');
        gains += QString::number(quint64(1) << (record.channelSlots[i].header.gainCode % 32))
            + QLatin1Char(' ');
    }
    return {
        QStringLiteral("%1.%2").arg(h.versionMajor).arg(h.versionMinor, 2, 10, QLatin1Char('0')),
        QString::number(h.channelCount),
        QString::number(h.sampleCount),
        QString::number(frequency) + MainWnd::tr(" Гц"),
        inputs,
        h.syncExternal ? MainWnd::tr("внешняя") : MainWnd::tr("внутренняя"),
        h.detector ? MainWnd::tr("вкл ") : MainWnd::tr("вык "),
        gains,
    };
}

void MainWnd::slot_aInfoTriggered(bool)
{
    TWForm* window = activeWaveForm();
    if (!window || !window->record)
        return;
    const std::unique_ptr<QDialog> dialog = smallDialog(this);
    if (!dialog)
        return;
    Ui::InfoDialog form;
    form.setupUi(dialog.get());
    QLabel* const labels[] = { form.verL, form.numWL, form.wSizeL, form.frqL, form.muxL, form.syncL,
        form.detL, form.gainL };
    const QStringList values = recordInfoValues(*window->record);
    for (int i = 0; i < values.size(); ++i)
        labels[i]->setText(labels[i]->text() + values[i]);
    const double rate = sampleRateHz(*window->record);
    form.durL->setText(form.durL->text()
        + (rate > 0 ? tr("%1 с").arg(window->record->sampleCount() / rate, 0, 'g', 6)
                    : QStringLiteral("—")));
    const QString when = QStringLiteral("dd.MM.yyyy hh:mm:ss");
    form.timeL->setText(window->fileTime.isValid()
            ? tr("Файл изменён: %1").arg(window->fileTime.toString(when))
            : window->runEnded.isValid() ? tr("Оцифровка: %1").arg(window->runEnded.toString(when))
                                         : QString());
    form.levelL->setText(form.levelL->text() + levelMarks(adviseGains(*window->record)));
    // Every channel's mark is shown: the levels wrap, and the dialog grows by what they take.
    form.levelL->setWordWrap(true);
    const int extra
        = std::max(0, form.levelL->heightForWidth(form.levelL->width()) - form.levelL->height());
    form.levelL->resize(form.levelL->width(), form.levelL->height() + extra);
    form.groupBox->resize(form.groupBox->width(), form.groupBox->height() + extra);
    form.pushButton->move(form.pushButton->x(), form.pushButton->y() + extra);
    dialog->resize(dialog->width(), dialog->height() + extra);
    dialog->exec();
}

// --- Acquisition --------------------------------------------------------------------------------

void MainWnd::slot_aRunADCTriggered(bool)
{
    if (!mdiArea || !qtmisc::mesDaemon)
        return;
    ui->aRunADC->setEnabled(false);
    TWForm* target = activeWaveForm();
    TWForm* created = nullptr;
    // A record nobody has saved is never replaced by a new recording: that goes to a new window.
    if (!target || target->isSpectrum || target->hasSpectrum
        || (target->record && target->record->isModified())) {
        target = created = newEmptyWindow();
    }
    const bool done = target
        && target->acquire(
            channelCount, 2 * int(acqParams.halfCount), acqParams, comPortName, comBaudRate);
    const LinkFailure failure = serialLink().failure;
    if (!done && failure == LinkFailure::Stopped) {
        delete created; // the operator's STOP: the partial run is let go without a word
    } else if (!done) {
        delete created;
        qtmisc::mesDaemon->showWarnWithCause(0x1507, QString(), QString(), true, true,
            linkFailureText(failure, comPortName, serialLink().attempts));
    } else if (const QList<GainAdvice> advice = adviseGains(*target->record); !advice.isEmpty()) {
        qtmisc::mesDaemon->showNotice(0x1402, gainAdviceText(advice));
    }
    ui->aRunADC->setEnabled(true);
}

void MainWnd::slot_aSeriesTriggered(bool)
{
    if (!mdiArea || !qtmisc::mesDaemon || series || ProgressDialog::workInProgress())
        return;
    if (seriesPlan.folder.isEmpty())
        seriesPlan.folder = QDir(lastDir.isEmpty() ? QDir::homePath() : lastDir)
                                .filePath(QStringLiteral("session"));
    if (!askSeriesPlan(this, seriesPlan))
        return;
    TWForm* window = newEmptyWindow();
    if (!window)
        return;
    SeriesSetup setup;
    setup.plan = seriesPlan;
    setup.query = ae.searched();
    setup.params = acqParams;
    setup.channels = channelCount;
    setup.samples = 2 * int(acqParams.halfCount);
    setup.port = comPortName;
    setup.rate = comBaudRate;
    SeriesRun run(setup);
    series = &run;
    connect(window, &QObject::destroyed, &run, &SeriesRun::stop);
    // The trend plots follow the session from what its database held.
    TrendDock* dock = trendDock();
    dock->clear();
    dock->setExportFolder(seriesPlan.folder);
    showLocationLayout(dock, ae);
    connect(&run, &SeriesRun::sessionOpened, dock, &TrendDock::setHits);
    connect(&run, &SeriesRun::hitsStored, dock, &TrendDock::appendHits);
    dock->show();
    dock->raise();
    ui->aRunADC->setEnabled(false);
    ui->aSeries->setEnabled(false);
    QToolBar* bar = seriesBar(run);
    QString cause;
    const QPointer<TWForm> kept = window;
    const bool done = run.run(window, cause);
    series = nullptr;
    delete bar;
    if (kept && !kept->record)
        delete kept; // nothing was digitised into it
    ui->aRunADC->setEnabled(true);
    ui->aSeries->setEnabled(true);
    if (!done)
        qtmisc::mesDaemon->showWarnWithCause(0x1514, QString(), QString(), true, true,
            cause.isEmpty() ? linkFailureText(run.failure(), setup.port, run.attempts()) : cause);
    if (quitAfterSeries)
        QTimer::singleShot(0, this, &QWidget::close);
}

QToolBar* MainWnd::seriesBar(SeriesRun& run)
{
    auto* bar = new QToolBar(tr("Серия"), this);
    bar->setObjectName(QStringLiteral("seriesBar"));
    bar->setMovable(false);
    auto* label = new QLabel(bar);
    label->setObjectName(QStringLiteral("seriesStatus"));
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 70);
    bar->addWidget(label);
    auto* transfer = new QProgressBar(bar);
    transfer->setObjectName(QStringLiteral("seriesTransfer"));
    transfer->setMaximumWidth(160);
    bar->addWidget(transfer);
    run.setTransferBar(transfer);
    // The first STOP ends the series after the capture under way; the second lets that go
    // too (a capture waiting for its trigger).
    QAction* stop = bar->addAction(tr("Стоп серии"));
    stop->setObjectName(QStringLiteral("seriesStop"));
    stop->setToolTip(tr("Закончить серию после текущего снимка"));
    connect(stop, &QAction::triggered, &run, [&run, stop] {
        if (run.isStopping()) {
            run.stopNow();
            return;
        }
        run.stop();
        stop->setText(tr("Прервать снимок"));
        stop->setToolTip(tr("Закончить серию, не дожидаясь текущего снимка"));
    });
    const int planned = run.setup().plan.captures;
    connect(&run, &SeriesRun::progressChanged, label,
        [&run, label, planned] { label->setText(seriesStatusText(run.progress(), planned)); });
    addToolBar(Qt::BottomToolBarArea, bar);
    bar->show();
    return bar;
}

void MainWnd::slot_tStopReleased()
{
    serialLink().requestStop();
}

void MainWnd::slot_aADCTriggered(bool)
{
    if (ProgressDialog::workInProgress())
        return;
    auto* dialog = new (std::nothrow) TSetRecord(this);
    if (!dialog)
        return;
    if (dialog->initialise()) {
        dialog->load(acqParams, applyToAll);
        if (dialog->exec() == QDialog::Accepted)
            dialog->store(acqParams, applyToAll);
    }
    delete dialog;
}

// --- Port, about
// ----------------------------------------------------------------------------------

namespace {

constexpr qint32 portRates[] = { 19200, 38400, 57600, 115200 };

} // namespace

void MainWnd::slot_aCOMTriggered(bool)
{
    const std::unique_ptr<QDialog> dialog = smallDialog(this);
    if (!dialog)
        return;
    Ui::SetupRS form;
    form.setupUi(dialog.get());
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts())
        form.portCB->addItem(port.portName());
    // A port the library does not list (a pseudo-terminal, an unplugged adapter) still shows,
    // so that OK never replaces the configured name by another.
    if (!comPortName.isEmpty()
        && form.portCB->findText(comPortName, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
        form.portCB->addItem(comPortName);
    form.portCB->setCurrentIndex(
        form.portCB->findText(comPortName, Qt::MatchExactly | Qt::MatchCaseSensitive));
    QRadioButton* const buttons[] = { form.rb19200, form.rb38400, form.rb57600, form.rb115200 };
    bool listed = false;
    for (int i = 0; i < 4; ++i) {
        buttons[i]->setChecked(portRates[i] == comBaudRate);
        listed = listed || portRates[i] == comBaudRate;
    }
    // A rate from the settings file that no button offers is shown, and kept unless the
    // operator chooses another: the port never runs at a rate the settings do not hold.
    if (!listed)
        form.groupBox->setTitle(form.groupBox->title() + QStringLiteral(" (%1)").arg(comBaudRate));
    if (dialog->exec() != QDialog::Accepted)
        return;
    for (int i = 0; i < 4; ++i)
        if (buttons[i]->isChecked())
            comBaudRate = portRates[i];
    comPortName = form.portCB->currentText();
    serialLink().reopenPort(comPortName, comBaudRate);
}

QString aboutVersionText()
{
    const QDate built
        = QLocale(QLocale::English, QLocale::UnitedStates)
              .toDate(QStringLiteral(VOLTRIX_BUILD_DATE), QStringLiteral("MMM dd yyyy"));
    const QString version = versioninfo::numberText() + QLatin1String(versioninfo::suffix);
    return QStringLiteral("Ver. %1  %2").arg(version, built.toString(QStringLiteral("dd/MM/yyyy")));
}

void MainWnd::slot_aAboutTriggered(bool)
{
    const std::unique_ptr<QDialog> dialog = smallDialog(this);
    if (!dialog)
        return;
    Ui::AboutDialog form;
    form.setupUi(dialog.get());
    form.lVersion->setText(aboutVersionText());
    dialog->exec();
}

void MainWnd::slot_aPrintTriggered(bool)
{
    TPrnDlg dialog(this);
    if (!dialog.initialise())
        return;
    dialog.setWindow(activeWaveForm());
    dialog.setLabelled(pageLabels);
    dialog.exec();
    pageLabels = dialog.labelled();
}

void MainWnd::slot_aFFTViewTriggered(bool)
{
    if (TWForm* window = activeWaveForm())
        window->showSpectrumView();
}

TWForm* MainWnd::openSpectrum(TWForm* source)
{
    if (!source || !mdiArea)
        return nullptr;
    if (!isSelectModeChecked())
        source->snapSelection();
    if (source->fftExponent < 2 || source->selStart == source->selEnd) {
        if (qtmisc::mesDaemon)
            qtmisc::mesDaemon->showWarn(0x150A, QString(), QString(), true, true);
        return nullptr;
    }
    auto* spectrum = new (std::nothrow) TWForm;
    if (!adopt(spectrum)) {
        delete spectrum;
        return nullptr;
    }
    spectrum->setWindowTitle(QStringLiteral("FFT: ") + source->shownTitle());
    if (spectrum->computeSpectrum(source) != 0) {
        delete spectrum;
        return nullptr;
    }
    mdiArea->addSubWindow(spectrum);
    spectrum->show();
    refreshCommandStates();
    return spectrum;
}

void MainWnd::slot_aDirectFFTTriggered(bool)
{
    openSpectrum(activeWaveForm());
}

void MainWnd::slot_aReverseFFTTriggered(bool)
{
    TWForm* window = activeWaveForm();
    if (window && window->isSpectrum)
        window->inverseTransform();
}

void MainWnd::slot_aSetFFTTriggered(bool)
{
    const std::unique_ptr<QDialog> dialog = smallDialog(this);
    if (!dialog)
        return;
    Ui::WinFunc form;
    form.setupUi(dialog.get());
    QRadioButton* const buttons[] = { form.rbNone, form.rbParzen, form.rbHanning, form.rbHamming,
        form.rbExactBlackman, form.rbWelch };
    buttons[std::clamp(fftWindowFunction, 0, 5)]->setChecked(true);
    form.logCB->setChecked(fftLogScale);
    if (dialog->exec() != QDialog::Accepted)
        return;
    for (int i = 0; i < 6; ++i)
        if (buttons[i]->isChecked())
            fftWindowFunction = i;
    fftLogScale = form.logCB->isChecked();
}
