// The main window: command states, display-mode combinations, zoom bars, status labels,
// Y unit, settings load and the save retry.
#include "data.h"
#include "fmain.h"
#include "init.h"
#include "support/boxes.h"
#include "support/files.h"
#include "support/fixture.h"
#include "support/windows.h"
#include "ustrings.h"
#include "wave_form.h"

#include <QtMisc/qtm_init.h>

#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>

class tst_MainWnd : public WindowTest
{
    Q_OBJECT
private slots:
    void noActiveWindow();
    void spectrumAndRecordActivation();
    void filterActionRules();
    void zoomLabelsAndStatusFrame();
    void channelStatus();
    void yUnitAndLoadedSettings();
    void saveRetriesWhileAsked();

private:
    QAction* action(const char* name) const { return window->findChild<QAction*>(name); }
    QMenu* menu(const char* name) const { return window->findChild<QMenu*>(name); }
    QLabel* label(const char* name) const { return window->findChild<QLabel*>(name); }
    TWForm* addForm(bool spectrum, bool hasSpectrum);
};

TWForm* tst_MainWnd::addForm(bool spectrum, bool hasSpectrum)
{
    auto* form = new TWForm;
    form->isSpectrum = spectrum;
    form->hasSpectrum = hasSpectrum;
    window->workspace()->addSubWindow(form);
    form->show();
    window->workspace()->setActiveSubWindow(form);
    return form;
}

void tst_MainWnd::noActiveWindow()
{
    for (const char* name : { "aSave", "aInfo", "aPrint", "aSin" })
        QVERIFY2(!action(name)->isEnabled(), name);
    for (const char* name : { "mZoom", "mColor", "mFilters", "mProcessing", "mWindow" })
        QVERIFY2(!menu(name)->isEnabled(), name);
    for (const char* name : { "aNew", "aRead", "aRunADC", "aADC", "aCOM", "aCfgSave", "aExit" })
        QVERIFY2(action(name)->isEnabled(), name);
    QVERIFY(!window->findChild<QSpinBox*>()->isEnabled());
    int toolActions = 0;
    for (QAction* a : window->findChild<QToolBar*>("toolBar")->actions()) {
        if (a->toolTip() == stringsKit.saveTimesText || a->toolTip() == stringsKit.centerCursorsText
            || a->toolTip() == stringsKit.selectModeText) {
            QVERIFY(!a->isEnabled());
            ++toolActions;
        }
    }
    QCOMPARE(toolActions, 3);
    for (const char* name : { "tl1", "tl2", "tl3", "tl4", "yl1", "yl2", "yl3", "yl4" })
        QVERIFY2(label(name)->isHidden(), name);
    QCOMPARE(
        window->windowTitle(), QString("Программа ввода и обработки информации для KORUN-77M"));
}

void tst_MainWnd::spectrumAndRecordActivation()
{
    addForm(false, false);
    QVERIFY(action("aSave")->isEnabled());
    QVERIFY(action("aDirectFFT")->isEnabled());
    QVERIFY(!action("aReverseFFT")->isEnabled());
    QVERIFY(menu("mFilters")->isEnabled());
    QVERIFY(window->findChild<QSpinBox*>()->isEnabled());
    for (QAction* a : window->findChild<QToolBar*>("toolBar")->actions())
        if (a->isCheckable())
            a->setChecked(true);
    QVERIFY(window->isSelectModeChecked());

    addForm(true, false);
    QVERIFY(!window->isSelectModeChecked());
    QVERIFY(!window->findChild<QSpinBox*>()->isEnabled());
    QVERIFY(!menu("mFilters")->isEnabled());
    for (const char* name : { "aDirectFFT", "aSave", "aInfo", "aSin", "aFFTView" })
        QVERIFY2(!action(name)->isEnabled(), name);
    QVERIFY(action("aReverseFFT")->isEnabled());
    QVERIFY(menu("mProcessing")->isEnabled());

    addForm(false, true);
    QVERIFY(action("aSin")->isEnabled());
    QVERIFY(action("aFFTView")->isEnabled());
    QVERIFY(!action("aSave")->isEnabled());
    QVERIFY(!action("aReverseFFT")->isEnabled());
}

// The display modes of combinations 0 ... 10 of the filter commands and outside the table,
// and which commands go together.
void tst_MainWnd::filterActionRules()
{
    const int modes[] = { 0, 1, 2, 3, 0, 0, 0, 4, 5, 0, 6 };
    for (int c = 0; c <= 10; ++c)
        QCOMPARE(displayModeForCombination(c), modes[c]);
    QCOMPARE(displayModeForCombination(11), 0);
    QCOMPARE(displayModeForCombination(-1), 0);
    addForm(false, false);
    QAction* power = action("aPower");
    QAction* detect = action("aDetect");
    QAction* smooth = action("aFiltering");
    QAction* diff = action("aDiff");

    power->trigger();
    QVERIFY(power->isChecked());
    QVERIFY(!detect->isEnabled());
    power->trigger();
    QVERIFY(detect->isEnabled());

    detect->trigger();
    QVERIFY(!power->isEnabled());
    QVERIFY(!diff->isEnabled());
    smooth->trigger();
    QVERIFY(diff->isEnabled());
    diff->trigger();
    QVERIFY(diff->isChecked());

    smooth->trigger(); // unchecking smoothing clears the derivative
    QVERIFY(!diff->isChecked());
    QVERIFY(!diff->isEnabled());
    smooth->trigger();
    diff->trigger();
    detect->trigger(); // and so does unchecking detection
    QVERIFY(!diff->isChecked());
    QVERIFY(!diff->isEnabled());
    QVERIFY(power->isEnabled());

    // A window without a record shows mode 0.
    TWForm* form = addForm(false, false);
    action("aDetect")->trigger();
    action("aPower")->setChecked(true);
    window->syncControls(form); // a window without a record shows mode 0
    for (const char* name : { "aDetect", "aFiltering", "aDiff", "aPower" })
        QVERIFY2(!action(name)->isChecked(), name);
    QVERIFY(action("aPower")->isEnabled());
    QVERIFY(action("aDetect")->isEnabled());
    QVERIFY(!action("aDiff")->isEnabled());
    QVERIFY(!window->isZoomGuardSet());
}

void tst_MainWnd::zoomLabelsAndStatusFrame()
{
    auto* zy = window->findChild<QScrollBar*>("sbZY");
    auto* zx = window->findChild<QScrollBar*>("sbZX");
    QVERIFY(zy && zx);
    QCOMPARE(window->findChild<QLabel*>("sbZYLabel")->text(), QString("100%"));
    QCOMPARE(window->findChild<QLabel*>("sbZXLabel")->text(), QString("100%"));
    emit zx->sliderMoved(37);
    QCOMPARE(window->findChild<QLabel*>("sbZXLabel")->text(), QString("37%"));
    zy->setValue(212);
    QCOMPARE(window->findChild<QLabel*>("sbZYLabel")->text(), QString("212%"));
    zy->setValue(401);
    QCOMPARE(window->findChild<QLabel*>("sbZYLabel")->text(), QString("400%"));
    // The frame of the labels covers the status bar whatever the window's size.
    window->resize(900, 500);
    QCoreApplication::processEvents();
    auto* frame = window->findChild<QFrame*>("frameSBar");
    QCOMPARE(frame->parentWidget(), window->statusBar());
    QCOMPARE(frame->geometry(), window->statusBar()->rect());
}

// Record readouts are T and Y, spectrum readouts F and A, numbered by channel; an empty value
// hides its label; there is no fifth readout.
void tst_MainWnd::channelStatus()
{
    const struct
    {
        bool spectrum;
        int channel;
        const char* time;
        const char* value;
        QString timeLabel;
        QString valueLabel;
    } cases[] = { { false, 0, "000120.5uS", "+1.25mV", "T1=000120.5uS", "Y1=+1.25mV" },
        { true, 3, "1000Hz", "20dB", "F4=1000Hz", "A4=20dB" },
        { false, 2, "5uS", "", "T3=5uS", "" } };
    for (const auto& c : cases) {
        TWForm* form = addForm(c.spectrum, false);
        window->setChannelStatus(form, c.channel, c.time, c.value);
        QLabel* t = label(qPrintable(QString("tl%1").arg(c.channel + 1)));
        QLabel* y = label(qPrintable(QString("yl%1").arg(c.channel + 1)));
        QCOMPARE(t->text(), c.timeLabel);
        QCOMPARE(y->text(), c.valueLabel);
        QCOMPARE(t->isVisible(), !c.timeLabel.isEmpty());
        QCOMPARE(y->isVisible(), !c.valueLabel.isEmpty());
        window->setChannelStatus(form, 4, "x", "y");
        QCOMPARE(t->text(), c.timeLabel);
    }
}

// "YAxis" absent: Coulombs, and the menu says so; the commands check one unit each. Loaded
// settings colour the labels and set the unit, the last folder and the line rate.
void tst_MainWnd::yUnitAndLoadedSettings()
{
    const auto volts = [this](bool on) {
        return window->yAxisVolts() == on && action("aVolt")->isChecked() == on
            && action("aCoulomb")->isChecked() == !on;
    };
    QVERIFY(volts(false));
    action("aCoulomb")->trigger();
    QVERIFY(volts(false));
    // With scales over the records, a window that is not active draws them again too.
    TWForm* other = testwindows::addRecordWindow(window, 1, 100, 1);
    testwindows::addRecordWindow(window, 1, 100, 2);
    action("aScales")->trigger();
    QApplication::processEvents();
    struct Paints : QObject
    {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            count += event->type() == QEvent::Paint;
            return false;
        }
    } paints;
    other->plotWidget->installEventFilter(&paints);
    action("aVolt")->trigger();
    QVERIFY(volts(true));
    QApplication::processEvents();
    QVERIFY(paints.count > 0);
    action("aScales")->trigger();

    delete window;
    QVERIFY(testfiles::write(dir.filePath("adc.ini"),
        "[COLOR]\nTextColor0=65280\nBackColor2=16777215\n[OTHERS]\nOldDir=/"
        "data\n[WAVE_ADC]\nYAxis=1\n[COM]\nBaud=230400\n"));
    window = new MainWnd;
    QVERIFY(window->create(settingsDirectory(applicationDir)));
    // A rate the program cannot take is replaced, and the operator is told.
    QStringList notices;
    for (QWidget* shown : QApplication::allWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(shown); box && box->objectName() == "noticeBox")
            notices << box->text();
    QCOMPARE(
        notices, QStringList { "Скорость порта 230400 из adc.ini вне 1200…115200: взята 115200." });
    QCOMPARE(label("tl1")->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    QCOMPARE(
        label("yl1")->palette().color(QPalette::Inactive, QPalette::WindowText), QColor(0, 255, 0));
    QCOMPARE(
        label("tl3")->palette().color(QPalette::Disabled, QPalette::Window), QColor(255, 255, 255));
    QCOMPARE(window->lastDir, QString("/data"));
    QVERIFY(window->yAxisVolts());
    QCOMPARE(window->settingsDir, dir.path() + "/");
}

void tst_MainWnd::saveRetriesWhileAsked()
{
    QVERIFY(testfiles::write(dir.filePath("plain"), QByteArray()));
    window->settingsDir = dir.filePath("plain") + "/";
    testboxes::answers = { QMessageBox::Yes, QMessageBox::No };
    action("aCfgSave")->trigger();
    QCOMPARE(testboxes::texts.size(), 2);
    QCOMPARE(testboxes::texts[0], QString("Ошибка сохранения ini-файла.\nПовторить?"));

    testboxes::reset();
    window->settingsDir = dir.path() + "/";
    comPortName = "/dev/ttyS3";
    action("aCfgSave")->trigger();
    QVERIFY(testboxes::texts.isEmpty());
    QCOMPARE(
        QSettings(dir.filePath("adc.ini"), QSettings::IniFormat).value("COM/ComName").toString(),
        QString("/dev/ttyS3"));
}

QTEST_MAIN(tst_MainWnd)
#include "test_mainwnd.moc"
