// The acquisition parameters dialog, the AE parameters dialog, the port dialog and the about
// box's version line.
#include "ae_panel.h"
#include "data.h"
#include "fmain.h"
#include "init.h"
#include "set_record.h"
#include "support/boxes.h"
#include "support/fixture.h"
#include "ustrings.h"

#include <QtMisc/qtm_init.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

class tst_Dialogs : public WindowTest
{
    Q_OBJECT
private slots:
    void typedFrequency_data();
    void typedFrequency();
    void loadAndStore();
    void countSteps();
    void gainsAndInputs();
    void cancelChangesNothing();
    void aeParameters();
    void portDialog();
    void aboutVersion();

private:
    void prepare() override
    {
        dialog = new TSetRecord(window);
        QVERIFY(dialog->initialise());
        acqParams = { 0, 50000, 24, { 0, 1, 2, 3 }, 2, 0, 1 };
        dialog->load(acqParams, false);
    }
    template <typename T> T* child(const char* name) const { return dialog->findChild<T*>(name); }

    TSetRecord* dialog = nullptr;
};

// Typed text is hertz and becomes the nearest code; Return on the text shown keeps the code,
// also where neighbouring codes show the same whole hertz.
void tst_Dialogs::typedFrequency_data()
{
    QTest::addColumn<int>("loadedCode");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("code");
    QTest::newRow("Return on 5587 Hz") << 536 << "" << 536;
    QTest::newRow("Return on 46 Hz") << 65533 << "" << 65533;
    QTest::newRow("100000 Hz") << 536 << "100000" << 29;
    QTest::newRow("50000 Hz") << 536 << "50000" << 59;
    QTest::newRow("5587 Hz typed") << 24 << "5587" << 536;
    QTest::newRow("above the highest") << 536 << "9000000" << 2;
    QTest::newRow("below the lowest") << 536 << "3" << 65534;
}

void tst_Dialogs::typedFrequency()
{
    QFETCH(int, loadedCode);
    QFETCH(QString, typed);
    QFETCH(int, code);
    acqParams.freqCode = quint16(loadedCode);
    dialog->load(acqParams, false);
    auto* box = child<QSpinBox>("frequencyBox");
    dialog->show();
    box->setFocus();
    if (!typed.isEmpty()) {
        box->selectAll();
        QTest::keyClicks(box, typed);
    }
    QTest::keyClick(box, Qt::Key_Return);
    bool forAll = false;
    dialog->store(acqParams, forAll);
    QCOMPARE(int(acqParams.freqCode), code);
    box->stepBy(1);
    dialog->store(acqParams, forAll);
    QCOMPARE(int(acqParams.freqCode), std::max(code - 1, 2));
}

void tst_Dialogs::loadAndStore()
{
    auto* frequency = child<QSpinBox>("frequencyBox");
    QCOMPARE(frequency->value(), 65512);
    QCOMPARE(frequency->text(), QString("120000"));
    QCOMPARE(child<QSpinBox>("countBox")->value(), 100000);
    QVERIFY(child<QRadioButton>("rb9_12")->isChecked());
    QVERIFY(child<QRadioButton>("rbInternal")->isChecked());
    QVERIFY(child<QCheckBox>("detCB")->isChecked());
    QVERIFY(!child<QCheckBox>("allBox")->isChecked());
    QCOMPARE(child<QComboBox>("gBox4")->currentText(), QString("8"));
    QCOMPARE(child<QComboBox>("gBox4")->count(), 13);
    QCOMPARE(child<QComboBox>("gBox4")->itemText(12), QString("4096"));
    QCOMPARE(child<QLabel>("chl1")->text(), QString("Вход 1")); // relabelled only by the buttons

    // What is loaded is stored again, the "for all" box included.
    const AcqParams in = { 0, 777, 1000, { 12, 0, 5, 7 }, 7, 1, 0 };
    dialog->load(in, true);
    AcqParams out = {};
    bool forAll = false;
    dialog->store(out, forAll);
    QVERIFY(forAll);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&out), sizeof out).toHex(),
        QByteArray(reinterpret_cast<const char*>(&in), sizeof in).toHex());
}

// The count is even: an odd one goes down, and the unit is sent half of it.
void tst_Dialogs::countSteps()
{
    for (const auto& [value, count] :
        { std::pair { 65537, 65536 }, { 131067, 131066 }, { 4096, 4096 } }) {
        child<QSpinBox>("countBox")->setValue(value);
        QCOMPARE(child<QSpinBox>("countBox")->value(), count);
        bool forAll = true;
        dialog->store(acqParams, forAll);
        QCOMPARE(int(acqParams.halfCount), count / 2);
    }
    QCOMPARE(TSetRecord::evenCount(1), 2);
    QCOMPARE(TSetRecord::evenCount(200000), 131068);

    // A typed count below the least is refused with a box and the least taken.
    auto* box = child<QSpinBox>("countBox");
    dialog->show();
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, "1");
    QTest::keyClick(box, Qt::Key_Enter);
    QCOMPARE(testboxes::texts, QStringList { "Неправильное число!" });
    QCOMPARE(box->value(), 2);
    bool forAll = false;
    dialog->store(acqParams, forAll);
    QCOMPARE(int(acqParams.halfCount), 1);

    testboxes::reset();
    box->selectAll();
    QTest::keyClicks(box, "500");
    QTest::keyClick(box, Qt::Key_Enter);
    QVERIFY(testboxes::texts.isEmpty());
    QCOMPARE(box->value(), 500);
}

void tst_Dialogs::gainsAndInputs()
{
    child<QCheckBox>("allBox")->setChecked(true);
    QCOMPARE(child<QComboBox>("gBox4")->currentIndex(), 0); // all take the first box's gain
    child<QComboBox>("gBox3")->setCurrentIndex(6);
    for (const char* name : { "gBox1", "gBox2", "gBox3", "gBox4" })
        QCOMPARE(child<QComboBox>(name)->currentText(), QString("64"));
    child<QCheckBox>("allBox")->setChecked(false);
    child<QComboBox>("gBox2")->setCurrentIndex(3);
    QCOMPARE(child<QComboBox>("gBox1")->currentIndex(), 6);

    // A group relabels the inputs.
    child<QRadioButton>("rb13_16")->click();
    const char* labels[] = { "chl1", "chl2", "chl3", "chl4" };
    for (int k = 0; k < 4; ++k)
        QCOMPARE(child<QLabel>(labels[k])->text(), QString("Вход %1").arg(13 + k));
}

void tst_Dialogs::cancelChangesNothing()
{
    const AcqParams before = acqParams;
    window->applyToAll = false;
    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<TSetRecord*>(QApplication::activeModalWidget());
        QVERIFY(shown);
        shown->findChild<QCheckBox*>("allBox")->setChecked(true);
        shown->findChild<QSpinBox*>("countBox")->setValue(10);
        shown->findChild<QRadioButton*>("rb29_32")->click();
        shown->reject();
    });
    window->findChild<QAction*>("aADC")->trigger();
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&acqParams), sizeof acqParams),
        QByteArray(reinterpret_cast<const char*>(&before), sizeof before));
    QVERIFY(!window->applyToAll);

    QTimer::singleShot(0, [] {
        auto* shown = qobject_cast<TSetRecord*>(QApplication::activeModalWidget());
        shown->findChild<QRadioButton*>("rb29_32")->click();
        shown->accept();
    });
    window->findChild<QAction*>("aADC")->trigger();
    QCOMPARE(int(acqParams.muxGroup), 7);
}

// What is set comes back; a dB_AE threshold is the sensor's: 80 dB_AE at the input (0.01 V)
// is 40 at the sensor behind 40 dB of gain, and 46 typed there is 1 uV x 10^(86/20) =
// 19.95 mV at the input. The plane needs three places in a row from channel 1; a pair of one
// channel is refused; Escape changes nothing.
void tst_Dialogs::aeParameters()
{
    AeSettings in;
    in.decibels = true;
    in.floating = false;
    in.marginDb = 12;
    in.location = false;
    in.query.settings = { 0.01, 150, 0, 37.5, -1, 20 };
    in.query.preampDb = 40;
    in.query.sensors = { { 0, 0 }, { 1.5, 0 }, { 1.5, 0.75 }, { 0, 0.75 } };
    in.plane = true;
    AeParamsDialog params;
    params.setValues(in);
    auto* threshold = params.findChild<QDoubleSpinBox*>("thresholdBox");
    QCOMPARE(threshold->value(), 40.0);
    params.show();
    params.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&params));
    auto* highPass = params.findChild<QDoubleSpinBox*>("highPassBox");
    // A decimal point typed as a comma or a point, whatever the locale's is.
    for (const auto& [box, typed] : { std::pair { threshold, "46,0" }, { highPass, "12.5" } }) {
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, typed);
        QTest::keyClick(box, Qt::Key_Tab);
    }
    AeSettings out;
    params.takeValues(out);
    QVERIFY(std::fabs(out.query.settings.thresholdVolts - 0.0199526) < 1e-7);
    QCOMPARE(out.query.settings.highPassKhz, 12.5);
    QCOMPARE(out.query.settings.hdtMicros, 150.0);
    QCOMPARE(out.query.preampDb, 40.0);
    QCOMPARE(out.query.sensors, in.query.sensors);
    QVERIFY(out.decibels && !out.floating && !out.location);
    QCOMPARE(out.marginDb, 12.0);

    QPushButton* ok = params.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    auto* third = params.findChild<QCheckBox*>("sensorBox3");
    third->setChecked(false); // channels 1, 2 and 4
    QVERIFY(!ok->isEnabled() && params.findChild<QLabel*>("setupNoteLabel")->isVisible());
    third->setChecked(true);
    QVERIFY(ok->isEnabled());
    params.findChild<QRadioButton*>("lineButton")->setChecked(true);
    AeSettings onLine;
    params.takeValues(onLine);
    QVERIFY(!onLine.plane && onLine.query.sensors == in.query.sensors); // kept for the plane
    params.findChild<QSpinBox*>("pairSecondBox")->setValue(1);
    QVERIFY(!ok->isEnabled());

    window->ae = in;
    QTimer::singleShot(0, [] {
        QWidget* shown = QApplication::activeModalWidget();
        shown->findChild<QRadioButton*>("floatingButton")->setChecked(true);
        QTest::keyClick(shown, Qt::Key_Escape);
    });
    window->findChild<QAction*>("aAeParams")->trigger();
    QVERIFY(!window->ae.floating);
}

// A name the list does not hold and a rate without a button are shown and kept; a chosen rate
// and a typed name are stored.
void tst_Dialogs::portDialog()
{
    comPortName = dir.filePath("not-a-port");
    comBaudRate = 9600;
    QStringList checked;
    QString shownName;
    QString shownRate;
    QTimer::singleShot(0, [&] {
        QWidget* shown = QApplication::activeModalWidget();
        for (auto* button : shown->findChildren<QRadioButton*>())
            if (button->isChecked())
                checked << button->text();
        shownName = shown->findChild<QComboBox*>("portCB")->currentText();
        shownRate = shown->findChild<QGroupBox*>("groupBox")->title();
        qobject_cast<QDialog*>(shown)->accept();
    });
    window->findChild<QAction*>("aCOM")->trigger();
    QVERIFY(checked.isEmpty());
    QCOMPARE(shownRate, QString("Скорость (9600)"));
    QCOMPARE(shownName, comPortName);
    QCOMPARE(comPortName, dir.filePath("not-a-port"));
    QCOMPARE(comBaudRate, 9600);

    comPortName = dir.filePath("port");
    comBaudRate = 115200;
    QTimer::singleShot(0, [&] {
        QWidget* shown = QApplication::activeModalWidget();
        QVERIFY(shown->findChild<QRadioButton*>("rb115200")->isChecked());
        shown->findChild<QRadioButton*>("rb38400")->setChecked(true);
        shown->findChild<QComboBox*>("portCB")->setEditText("/dev/ttyS7");
        qobject_cast<QDialog*>(shown)->accept();
    });
    window->findChild<QAction*>("aCOM")->trigger();
    QCOMPARE(comBaudRate, 38400);
    QCOMPARE(comPortName, QString("/dev/ttyS7"));
}

void tst_Dialogs::aboutVersion()
{
    const QString text = aboutVersionText();
    QVERIFY2(
        QRegularExpression("^Ver\\. 0\\.2\\.3 beta  \\d\\d/\\d\\d/\\d{4}$").match(text).hasMatch(),
        qPrintable(text));
}

QTEST_MAIN(tst_Dialogs)
#include "test_dialogs.moc"
