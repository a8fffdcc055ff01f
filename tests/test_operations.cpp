// Record operations: zeroing, maximum search and mean value, on ordinary, detector and
// spectrum data, with their channel chooser and warnings.
#include "fmain.h"
#include "init.h"
#include "selsig_dialog.h"
#include "support/boxes.h"
#include "support/fixture.h"
#include "support/records.h"
#include "support/windows.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QCheckBox>
#include <QPushButton>
#include <QtTest>

class tst_Operations : public WindowTest
{
    Q_OBJECT
private slots:
    void zeroing();
    void maximum();
    void mean();
    void emptySelectionWarns_data();
    void emptySelectionWarns();
    void chosenChannelsOnly();
    void cancelChangesNothing();
    void centringCursors();

private:
};

void tst_Operations::zeroing()
{
    auto record = testrecords::make(3, 100);
    WaveChannel* c = record->channel(0);
    c->setSample(9, 33);
    c->setSample(21, -33);
    c->modified = false;
    record->zeroRange(0, 10, 20);
    for (int j = 10; j <= 20; ++j)
        QCOMPARE(c->sample(j), qint8(0));
    QCOMPARE(c->sample(9), qint8(33));
    QCOMPARE(c->sample(21), qint8(-33));
    QVERIFY(c->modified);
    record->zeroRange(1, 95, 400); // clipped to the samples
    QCOMPARE(record->channel(1)->sample(99), qint8(0));
    record->channel(2)->isSpectrum = true;
    record->zeroRange(2, 0, 3);
    QCOMPARE(record->channel(2)->sample(3), qint8(-128)); // the lowest level
    record->zeroRange(7, 0, 3); // no such channel: nothing
}

void tst_Operations::maximum()
{
    auto record = testrecords::make(2, 100);
    WaveChannel* c = record->channel(0);
    for (int j = 0; j < 100; ++j)
        c->setSample(j, qint8(j % 7));
    c->setSample(40, -90);
    c->setSample(60, 90);
    QCOMPARE(record->maxIndex(0, 0, 99), 40); // magnitude: the first of the two
    c->applyDetectorOffset();
    QCOMPARE(record->maxIndex(0, 0, 99), 60); // detector data: value + 128
    QCOMPARE(record->maxIndex(5, 3, 9), 3);
}

void tst_Operations::mean()
{
    auto record = testrecords::make(1, 10);
    WaveChannel* c = record->channel(0);
    c->setSample(2, 2);
    c->setSample(3, -2);
    c->setSample(4, 4);
    QCOMPARE(record->meanValue(0, 2, 4), 2); // (2 + 2 + 4) / 3
    c->applyDetectorOffset();
    QCOMPARE(record->meanValue(0, 2, 4), 129); // (130 + 126 + 132) / 3
    record->channelSlots[0].header.gainCode = 0;
    QCOMPARE(meanText(*record, 2, 4), QString("Среднее значение:\nКанал 1: 1.260 V"));
}

void tst_Operations::emptySelectionWarns_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    QTest::newRow("zeroing") << "aZeroSign"
                             << "Необходимо выделить участок для обнуления.";
    QTest::newRow("maximum") << "aSrcMax"
                             << "Необходимо выделить участок для поиска максимума.";
    QTest::newRow("mean") << "aAverage"
                          << "Необходимо выделить участок\nдля расчета среднего значения";
}

void tst_Operations::emptySelectionWarns()
{
    QFETCH(QString, action);
    QFETCH(QString, text);
    TWForm* form = testwindows::addRecordWindow(window, 4, 200, 5);
    form->selStart = form->selEnd = 50;
    window->findChild<QAction*>(action)->trigger();
    QCOMPARE(testboxes::texts, QStringList { text });
}

void tst_Operations::chosenChannelsOnly()
{
    TWForm* form = testwindows::addRecordWindow(window, 4, 200, 5);
    form->selStart = 120;
    form->selEnd = 80;
    testwindows::answerChooser({ 1 });
    window->findChild<QAction*>("aZeroSign")->trigger();
    QCOMPARE(form->record->channel(1)->sample(100), qint8(0));
    QVERIFY(
        form->record->channel(0)->sample(100) != 0 || form->record->channel(0)->sample(101) != 0);
    QVERIFY(form->processed);
}

void tst_Operations::cancelChangesNothing()
{
    TWForm* form = testwindows::addRecordWindow(window, 4, 200, 5);
    form->selStart = 10;
    form->selEnd = 30;
    const int cursor = form->record->channel(0)->cursorSample;
    QTimer::singleShot(0, [] {
        auto* chooser = qobject_cast<TSelSigDlg*>(QApplication::activeModalWidget());
        QVERIFY(chooser);
        QCOMPARE(chooser->windowTitle(), QString("Преобразование"));
        chooser->findChild<QPushButton*>("allOn")->click();
        chooser->findChild<QPushButton*>("cancelBtn")->click();
    });
    window->findChild<QAction*>("aSrcMax")->trigger();
    QCOMPARE(form->record->channel(0)->cursorSample, cursor);
    QVERIFY(!form->processed);
}

void tst_Operations::centringCursors()
{
    TWForm* form = testwindows::addRecordWindow(window, 4, 200, 5);
    form->record->channel(0)->cursorSample = 3;
    form->record->channel(2)->cursorSample = 7;
    QTimer::singleShot(0, [] {
        auto* chooser = qobject_cast<TSelSigDlg*>(QApplication::activeModalWidget());
        QVERIFY(chooser);
        QCOMPARE(chooser->windowTitle(), QString("Установка курсоров"));
        chooser->findChild<QCheckBox*>("selBox3")->setChecked(true);
        chooser->findChild<QPushButton*>("okBtn")->click();
    });
    form->centreCursors();
    // The sample under the plot's middle column: (x - left + origin) / pixels per sample.
    const WaveChannel& c = *form->record->channel(2);
    const int middle = (form->plotRect.right() + 1 - form->plotRect.left()) / 2;
    QCOMPARE(c.cursorSample,
        int(std::lround((middle - c.channelArea.left() + c.originX) / c.scaleX)));
    QCOMPARE(form->record->channel(0)->cursorSample, 3);
}

QTEST_MAIN(tst_Operations)
#include "test_operations.moc"
