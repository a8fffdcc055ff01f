// The waveform window and the file commands: scroll bar, zoom, stretch, vertical scale, close
// rules, titles, counter, last directory, the zoom guard, the information dialog's values, the
// panels, and the record operations with their channel chooser and warnings.
#include "ae_map.h"
#include "ae_panel.h"
#include "fmain.h"
#include "init.h"
#include "measure_panel.h"
#include "selsig_dialog.h"
#include "support/boxes.h"
#include "support/files.h"
#include "support/fixture.h"
#include "support/records.h"
#include "support/windows.h"
#include "ustrings.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QtMisc/qtm_init.h>

#include <QCheckBox>
#include <QClipboard>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMdiArea>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QtTest>
#include <functional>
#include <unistd.h>

class tst_Waveform : public WindowTest
{
    Q_OBJECT
private slots:
    void scrollBar();
    void zoom();
    void zoomAndScaleBars();
    void closeRules();
    void quitAsksAboutEveryWindow();
    void newWindowTitles();
    void saveAndRead();
    void exportAndImport();
    void readFailureLeavesNoWindow();
    void informationValues();
    void aeHitsTableAndMarks();
    void aeLocationMapAndWarnings();
    void aeSpeedCalibration();
    void measurements();
    void selectionAndChosenChannels();
    void centringCursors();

private:
    // A window holding a record of the shape, added to the workspace and active.
    TWForm* addRecordWindow(int samples, int first, int visible);
    // A window of channels (two by default) at 1 MHz and gain code 12 (a code is 5 / 2^20 V)
    // whose samples are code(channel, sample).
    TWForm* addMegahertzWindow(
        int samples, const std::function<qint8(int, int)>& code, int channels = 2);
    QScrollBar* bar(const char* name) const { return window->findChild<QScrollBar*>(name); }
};

TWForm* tst_Waveform::addRecordWindow(int samples, int first, int visible)
{
    TWForm* form = testwindows::addRecordWindow(window, 4, samples, 9);
    form->setView(first, visible);
    window->syncControls(form);
    return form;
}

TWForm* tst_Waveform::addMegahertzWindow(
    int samples, const std::function<qint8(int, int)>& code, int channels)
{
    TWForm* form = testwindows::addRecordWindow(window, channels, samples, 1);
    WaveStore& record = *form->record;
    record.header.clockKHz = 12000;
    record.header.ticksPerSample = 12;
    for (int c = 0; c < channels; ++c) {
        record.channelSlots[c].header.gainCode = 12;
        for (int k = 0; k < samples; ++k)
            record.channel(c)->setSample(k, code(c, k));
    }
    return form;
}

// One step per sample while the record fits the bar's range, then as many samples a step as
// it takes; disabled when the whole record shows.
void tst_Waveform::scrollBar()
{
    const struct
    {
        int samples;
        int first;
        int visible;
        int maximum;
        int value;
    } cases[] = { { 1000, 0, 1000, 0, 0 }, { 1000, 300, 100, 900, 300 },
        { 100000, 5001, 1000, 24750, 1250 }, { 163840, 40000, 10, 32766, 8000 } };
    for (const auto& c : cases) {
        TWForm* form = addRecordWindow(c.samples, c.first, c.visible);
        QCOMPARE(int(form->record->header.visibleCount), c.visible);
        QCOMPARE(form->scrollBar->maximum(), c.maximum);
        QCOMPARE(form->scrollBar->value(), c.value);
        QCOMPARE(form->scrollBar->isEnabled(), c.maximum > 0);
    }
    TWForm* form = addRecordWindow(100000, 5001, 1000);
    form->scrollBar->setValue(1234); // four samples per step
    QCOMPARE(int(form->record->header.firstVisible), 4936);
    QCOMPARE(form->record->channel(2)->firstVisible, 4936);
    QCOMPARE(int(form->record->header.visibleCount), 1000);
}

// In halves the view around its middle, never below 2 samples; out doubles it, widened by the
// deficit near the left edge, pushed back near the right, the whole record at most.
void tst_Waveform::zoom()
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const struct
    {
        bool in;
        int first;
        int visible;
        int newFirst;
        int newVisible;
    } cases[] = { { true, 100, 400, 200, 200 }, { true, 10, 3, 10, 2 }, { true, 10, 2, 10, 2 },
        { false, 400, 100, 350, 200 }, { false, 10, 100, 0, 240 }, { false, 880, 100, 800, 200 },
        { false, 0, 1000, 0, 1000 }, { false, 300, 600, 0, 1000 } };
    for (const auto& c : cases) {
        TWForm* form = addRecordWindow(1000, c.first, c.visible);
        if (c.in) // «+» of the main keyboard (shifted "=") zooms in like the keypad's
            QTest::keyClick(form->plotWidget, Qt::Key_Plus, Qt::ShiftModifier);
        else
            window->findChild<QAction*>("aZoomOut")->trigger();
        QCOMPARE(int(form->record->header.firstVisible), c.newFirst);
        QCOMPARE(int(form->record->header.visibleCount), c.newVisible);
        QCOMPARE(bar("sbZX")->value(), std::max(1, 100 * c.newVisible / 1000));
    }
}

// The stretch bar shows a zoomed width in whole per cent, yet the window keeps the exact one;
// the stretch and vertical bars; the zoom to the selection.
void tst_Waveform::zoomAndScaleBars()
{
    TWForm* form = addRecordWindow(163840, 0, 163840);
    for (int i = 0; i < 9; ++i)
        form->zoomIn();
    QCOMPARE(int(form->record->header.visibleCount), 320);
    QCOMPARE(bar("sbZX")->value(), 1);
    form->zoomOut();
    QCOMPARE(int(form->record->header.visibleCount), 640);

    // Stretching pushes the offset left; dragging changes only the label.
    form = addRecordWindow(1000, 900, 50);
    bar("sbZX")->setValue(50); // half the record
    QCOMPARE(int(form->record->header.visibleCount), 500);
    QCOMPARE(int(form->record->header.firstVisible), 500);
    QCOMPARE(bar("sbZX")->value(), 50);
    emit bar("sbZX")->sliderMoved(20);
    QCOMPARE(int(form->record->header.visibleCount), 500);

    // The vertical scale is kept within 0 ... 65535, set only when applied.
    form->setVScale(true, 70000);
    QCOMPARE(int(form->record->header.verticalZoom), 65535);
    form->setVScale(false, 2000); // not applied
    QCOMPARE(int(form->record->header.verticalZoom), 65535);
    form->setVScale(true, -5);
    QCOMPARE(int(form->record->header.verticalZoom), 0);
    QCOMPARE(form->record->scaleY, 1.0);
    bar("sbZY")->setValue(250);
    QCOMPARE(int(form->record->header.verticalZoom), 2500);

    // A selection becomes the view and is let go.
    form = addRecordWindow(1000, 0, 1000);
    form->selStart = 700;
    form->selEnd = 200;
    window->findChild<QAction*>("aZoomSel")->trigger();
    QCOMPARE(int(form->record->header.firstVisible), 200);
    QCOMPARE(int(form->record->header.visibleCount), 501);
    QCOMPARE(form->selStart, 0);
    QCOMPARE(form->selEnd, 0);
    form->selStart = 10;
    form->selEnd = 20;
    form->hasSpectrum = true; // the source of an open spectrum keeps its view
    form->zoomSelection();
    QCOMPARE(int(form->record->header.visibleCount), 501);
}

// A changed record asks (No and Cancel keep the window), a clean one closes quietly; the
// source of a spectrum is refused in the FFT tests.
void tst_Waveform::closeRules()
{
    TWForm* form = addRecordWindow(1000, 0, 1000);
    form->setWindowTitle("NoName - 7");
    form->record->channel(1)->setSample(5, 9);
    testboxes::answers = { QMessageBox::No };
    QVERIFY(!form->close());
    QCOMPARE(testboxes::texts, QStringList { "Данные в окне NoName - 7 изменены!\nЗакрыть окно?" });
    testboxes::answers = { QMessageBox::Cancel };
    QVERIFY(!form->close());
    testboxes::answers = { QMessageBox::Yes };
    QVERIFY(form->close());

    TWForm* clean = addRecordWindow(100, 0, 100);
    testboxes::reset();
    QVERIFY(clean->close());
    QVERIFY(testboxes::texts.isEmpty());
}

// Quitting closes the windows by their own rules, spectra first, and stops at a refusal.
void tst_Waveform::quitAsksAboutEveryWindow()
{
    window->setAttribute(Qt::WA_DeleteOnClose, false); // cleanup deletes it
    TWForm* source = addRecordWindow(1000, 0, 1000);
    source->setWindowTitle("NoName - 3");
    source->selStart = 0;
    source->selEnd = 64;
    TWForm* spectrum = window->openSpectrum(source);
    QVERIFY(spectrum);
    spectrum->processed = true;
    source->record->setUnsaved(true);

    testboxes::answers = { QMessageBox::No, QMessageBox::Cancel };
    QVERIFY(!window->close());
    QCOMPARE(testboxes::texts,
        QStringList({ "Выполнить обратное преобразование?",
            "Данные в окне NoName - 3 изменены!\nЗакрыть окно?" }));
    QVERIFY(window->isVisible());

    testboxes::answers = { QMessageBox::Yes };
    QVERIFY(window->close());
}

// Titles count up; the first window fills the workspace, the next are cascaded from the
// corner, and «Каскад» never makes one smaller than 480 x 320 even in a small workspace.
void tst_Waveform::newWindowTitles()
{
    QList<TWForm*> forms;
    for (int i = 1; i <= 3; ++i) {
        forms << window->newEmptyWindow();
        QCOMPARE(forms.last()->windowTitle(), QString("NoName - %1").arg(i));
    }
    QCOMPARE(window->windowCounter, 4u);
    QCOMPARE(window->workspace()->subWindowList().size(), 3);
    const QSize area = window->workspace()->viewport()->size();
    QCOMPARE(forms[0]->geometry(), QRect(QPoint(0, 0), area));
    const int step = forms[2]->x() / 2;
    QVERIFY(step >= 10 && step <= 60);
    QCOMPARE(forms[1]->geometry(), QRect(QPoint(step, step), area - QSize(step, step)));

    window->resize(560, 480);
    QApplication::processEvents();
    window->findChild<QAction*>("aCascade")->trigger();
    for (TWForm* form : forms)
        QVERIFY(form->width() >= 480 && form->height() >= 320);
}

void tst_Waveform::saveAndRead()
{
    TWForm* form = addRecordWindow(500, 0, 500);
    QCOMPARE(window->saveActiveRecord(dir.filePath("run")), 0);
    QCOMPARE(form->windowTitle(), dir.filePath("run.raw"));
    QCOMPARE(window->lastDir, dir.path());
    QVERIFY(QFile::exists(dir.filePath("run.raw")));

    QCOMPARE(window->saveActiveRecord(dir.filePath("run.RAW")), 0);
    QVERIFY(QFile::exists(dir.filePath("run.RAW.raw")));

    // "run" became "run.raw", which exists: the dialog never asked about it, so this does.
    form->record->channel(0)->setSample(0, 99);
    testboxes::answers = { QMessageBox::No };
    QCOMPARE(window->saveActiveRecord(dir.filePath("run")), 1);
    QCOMPARE(testboxes::texts.last(), QString("Файл run.raw уже существует.\nЗаменить его?"));
    QVERIFY(testfiles::read(dir.filePath("run.raw")).at(8 + 256 + 16) != 99);
    testboxes::answers = { QMessageBox::Yes };
    QCOMPARE(window->saveActiveRecord(dir.filePath("run")), 0);
    const int asked = int(testboxes::texts.size());
    QCOMPARE(window->saveActiveRecord(dir.filePath("run.raw")), 0); // the dialog asked already
    QCOMPARE(int(testboxes::texts.size()), asked);

    // A record without samples has nothing to save, and says so.
    addRecordWindow(0, 0, 0);
    QCOMPARE(window->saveActiveRecord(dir.filePath("empty")), -1);
    QCOMPARE(testboxes::causes.last(), QString("в записи нет отсчётов"));
    window->workspace()->setActiveSubWindow(form);

    const QString before = form->windowTitle();
    window->lastDir = "/elsewhere";
    QCOMPARE(window->saveActiveRecord(dir.filePath("missing/run")), -1);
    QCOMPARE(testboxes::texts.last(), QString("Ошибка записи файла -1"));
    QCOMPARE(form->windowTitle(), before);
    QCOMPARE(window->lastDir, QString("/elsewhere"));

    QVERIFY(window->openRecordFile(dir.filePath("run.raw")));
    TWForm* read = qobject_cast<TWForm*>(window->workspace()->subWindowList().last());
    QCOMPARE(read->windowTitle(), dir.filePath("run.raw"));
    QCOMPARE(read->record->sampleCount(), 500);
    // Samples changed after reading: the title keeps the name with the modified mark, and the
    // hits' CSV says its rows are not the file's; saved again, the mark goes.
    read->selStart = 10;
    read->selEnd = 20;
    testwindows::answerChooser({ 0 });
    window->findChild<QAction*>("aZeroSign")->trigger();
    QVERIFY(read->isWindowModified());
    QCOMPARE(read->windowTitle(), dir.filePath("run.raw") + "[*]");
    window->ae.floating = false;
    window->findChild<QAction*>("aAeHits")->trigger();
    QString cause;
    QVERIFY(window->findChild<AeHitsPanel*>()->saveCsv(dir.filePath("rows.csv"), cause));
    QVERIFY(testfiles::read(dir.filePath("rows.csv")).contains("run.raw (unsaved)"));
    window->findChild<QAction*>("aAeHits")->trigger();
    QCOMPARE(window->saveActiveRecord(dir.filePath("run.raw")), 0);
    QVERIFY(!read->isWindowModified());
    QCOMPARE(read->windowTitle(), dir.filePath("run.raw"));

    // The bars take the new window's zoom under the guard, so the active window keeps its own.
    auto stored = testrecords::make(2, 1000);
    stored->header.verticalZoom = 3000;
    stored->header.visibleCount = 250;
    QCOMPARE(writeRaw(*stored, dir.filePath("zoomed.raw")), 0);

    TWForm* active = addRecordWindow(1000, 0, 1000);
    QCOMPARE(int(active->record->header.verticalZoom), 1000);
    QVERIFY(window->openRecordFile(dir.filePath("zoomed.raw")));
    QCOMPARE(bar("sbZY")->value(), 300);
    QCOMPARE(bar("sbZX")->value(), 25);
    QCOMPARE(int(active->record->header.verticalZoom), 1000);
    QCOMPARE(int(active->record->header.visibleCount), 1000);
}

// «Экспорт…» writes the selection or the whole record by the name's suffix or the chosen
// filter's, and asks before a name it completed replaces a file; «Импорт…» opens a WAV file in
// a new window that counts as unsaved.
void tst_Waveform::exportAndImport()
{
    TWForm* form = addRecordWindow(500, 0, 500);
    form->selStart = 300;
    form->selEnd = 200;
    QVERIFY(testfiles::write(dir.filePath("part.csv"), "old"));
    testboxes::answers = { QMessageBox::No };
    QVERIFY(!window->exportActiveRecord(dir.filePath("part"), false, true));
    QCOMPARE(testboxes::texts.last(), QString("Файл part.csv уже существует.\nЗаменить его?"));
    QCOMPARE(testfiles::read(dir.filePath("part.csv")), QByteArray("old"));
    testboxes::answers = { QMessageBox::Yes };
    QVERIFY(window->exportActiveRecord(dir.filePath("part"), false, true));
    const QList<QByteArray> lines = testfiles::read(dir.filePath("part.csv")).trimmed().split('\n');
    QCOMPARE(lines.size(), 101);
    QCOMPARE(lines[0], QByteArray("time_s,ch1_Q,ch2_Q,ch3_Q,ch4_Q")); // the readouts' unit
    QVERIFY(lines[1].startsWith("0.0016666666666666668,")); // sample 200 at 120 kHz
    QVERIFY(window->exportActiveRecord(dir.filePath("all.wav"), false, false));
    QVERIFY(window->exportActiveRecord(dir.filePath("x.txt"), false, false));
    QVERIFY(testfiles::read(dir.filePath("x.txt")).startsWith("time_s,"));
    QVERIFY(!QFile::exists(dir.filePath("x.txt.csv")));

    const int windows = int(window->workspace()->subWindowList().size());
    QVERIFY(window->importRecordFile(dir.filePath("all.wav")));
    auto* read = qobject_cast<TWForm*>(window->workspace()->subWindowList().last());
    QCOMPARE(window->workspace()->subWindowList().size(), windows + 1);
    QCOMPARE(read->record->sampleCount(), 500);
    QCOMPARE(read->record->channel(2)->sample(123), form->record->channel(2)->sample(123));
    QVERIFY(read->record->isModified());

    QVERIFY(!window->importRecordFile(dir.filePath("part.csv")));
    QVERIFY(testboxes::texts.last().startsWith("Файл part.csv не импортирован:\n"));
}

// A file that cannot be read leaves no window, and the box under «Ошибка чтения файла 4» says
// why; so does a save that fails (in a missing folder, on a full or a read-only file system).
void tst_Waveform::readFailureLeavesNoWindow()
{
    window->newEmptyWindow();
    window->lastDir = "/kept";
    QVERIFY(testfiles::write(dir.filePath("notes.raw"), "just some words, no record"));
    QVERIFY(testfiles::write(dir.filePath("cut.raw"), "KORUNRAW" + QByteArray(92, 1)));
    const qsizetype earlier = testboxes::texts.size();
    for (const char* name : { "nothing.raw", "notes.raw", "cut.raw" })
        QVERIFY(!window->openRecordFile(dir.filePath(name)));
    QApplication::processEvents(); // an internal error's box would come from the event loop
    // A user's bad file is not an internal error: the warning alone, each time.
    QCOMPARE(testboxes::texts.mid(earlier), QStringList(3, "Ошибка чтения файла 4"));
    QCOMPARE(window->workspace()->subWindowList().size(), 1);
    QVERIFY2(testboxes::causes.contains("файл не найден"), qPrintable(testboxes::causes.join('|')));
    QVERIFY(testboxes::causes.contains("не файл записи (неверная сигнатура)"));
    QVERIFY(testboxes::causes.contains("файл обрезан на байте 100: заголовку нужно 256 байт"));
    QCOMPARE(window->lastDir, QString("/kept"));

    addRecordWindow(5000, 0, 5000); // 20 kB: more than the full file system holds
    const auto saveCauseIn = [this](const QString& name) {
        testboxes::reset();
        window->saveActiveRecord(name);
        return testboxes::texts.value(0).startsWith("Ошибка записи") ? testboxes::causes.value(0)
                                                                     : QString();
    };
    QCOMPARE(saveCauseIn(dir.filePath("nowhere/run.raw")), QString("папка не найдена"));
    if (::geteuid() != 0)
        return;
    for (const auto& [options, cause] : { std::pair { "size=4k", "нет места на диске" },
             std::pair { "ro", "файловая система только для чтения" } }) {
        QDir().mkpath(dir.filePath("mounted"));
        if (QProcess::execute(
                "mount", { "-t", "tmpfs", "-o", options, "tmpfs", dir.filePath("mounted") })
            != 0)
            QSKIP("tmpfs cannot be mounted here");
        const QString got = saveCauseIn(dir.filePath("mounted/run.raw"));
        QProcess::execute("umount", { dir.filePath("mounted") });
        QCOMPARE(got, QString(cause));
    }
}

void tst_Waveform::informationValues()
{
    auto record = testrecords::make(4, 700);
    record->header.versionMajor = 1;
    record->header.versionMinor = 5;
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 7;
    record->header.syncExternal = 1;
    record->header.detector = 0;
    const int gains[] = { 0, 1, 3, 7 };
    for (int i = 0; i < 4; ++i) {
        record->channelSlots[i].header.gainCode = quint8(gains[i]);
        record->channelSlots[i].header.inputNumber = quint8(9 + i);
    }
    QCOMPARE(recordInfoValues(*record),
        QStringList(
            { "1.05", "4", "700", "1714286 Гц", "9 10 11 12 ", "внешняя", "вык ", "1 2 8 128 " }));

    record->header.versionMinor = 20;
    record->header.ticksPerSample = 0; // a file may hold it: no infinite frequency
    record->channelSlots[0].header.gainCode = 40; // taken modulo 32
    const QStringList values = recordInfoValues(*record);
    QCOMPARE(values[0], QString("1.20"));
    QCOMPARE(values[3], QString("0 Гц"));
    QVERIFY(values[7].startsWith("256 "));

    // The dialog's added rows for a read file: 700 samples at 12 MHz / 7, the file's time, and
    // the levels (the repeatable signals stay within 110 of 128).
    record->header.ticksPerSample = 7;
    QCOMPARE(writeRaw(*record, dir.filePath("info.raw")), 0);
    QVERIFY(window->openRecordFile(dir.filePath("info.raw")));
    QStringList rows;
    QTimer::singleShot(0, [&rows] {
        QWidget* dialog = QApplication::activeModalWidget();
        for (const char* name : { "durL", "timeL", "levelL" })
            rows << dialog->findChild<QLabel*>(name)->text();
        dialog->close();
    });
    window->findChild<QAction*>("aInfo")->trigger();
    const QString written
        = QFileInfo(dir.filePath("info.raw")).lastModified().toString("dd.MM.yyyy hh:mm:ss");
    QCOMPARE(rows,
        QStringList({ "Длительность: 0.000408333 с", "Файл изменён: " + written,
            "Сигнал: в пределах шкалы" }));

    // Four clipped channels: every mark is in the row, and the row shows all of its text.
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 700; ++k)
            window->activeWaveForm()->record->channel(i)->setSample(k, qint8(k % 2 ? 127 : -128));
    bool whole = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* levels = dialog->findChild<QLabel*>("levelL");
        rows = { levels->text() };
        const int needed = levels->fontMetrics()
                               .boundingRect(QRect(0, 0, levels->width(), 1000), Qt::TextWordWrap,
                                   levels->text())
                               .height();
        whole = needed <= levels->height() && (levels->wordWrap() || needed < 20)
            && levels->mapTo(dialog, QPoint(0, levels->height())).y() < dialog->height();
        dialog->close();
    });
    window->findChild<QAction*>("aInfo")->trigger();
    QCOMPARE(rows[0],
        QString("Сигнал: к. 1 перегружен; к. 2 перегружен; к. 3 перегружен; к. 4 перегружен"));
    QVERIFY(whole);
}

// Bursts of +-30 codes (gain code 12, 1 MHz) on channel 2 at 1000 and channel 1 at 1400: one
// event, the source (1 + 1000 x 0.0004) / 2 = 0.7 m from sensor 1 of two 1 m apart on a
// 1000 m/s path. The table lists it, sorted rows still bring the right cursor, the window
// marks the arrivals while the table is open and no longer once it is closed.
void tst_Waveform::aeHitsTableAndMarks()
{
    TWForm* form = addMegahertzWindow(3000, [](int c, int k) {
        const int from = c ? 1000 : 1400;
        return qint8(k >= from && k < from + 50 ? (k - from) % 2 ? -30 : 30 : 0);
    });
    WaveStore& record = *form->record;
    window->ae.floating = false;
    window->ae.query.settings.thresholdVolts = 10 * 5.0 / 1048576;
    window->ae.query.spacingMetres = 1;
    window->ae.query.speedMps = 1000;
    QAction* command = window->findChild<QAction*>("aAeHits");
    command->trigger();
    auto* table = window->findChild<QTableWidget*>("aeHitsTable");
    QVERIFY(table && table->isVisible());
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, AeHitsPanel::channelColumn)->text(), QString("2"));
    QCOMPARE(table->item(1, AeHitsPanel::arrivalColumn)->text(), QString("1400")); // us
    QCOMPARE(table->item(1, AeHitsPanel::countsColumn)->text(), QString("25"));
    // In the locale's own writing (a decimal comma in Russian), for a spreadsheet to paste.
    QCOMPARE(table->item(1, AeHitsPanel::positionColumn)->text(), QLocale().toString(0.7));

    table->sortItems(AeHitsPanel::channelColumn);
    table->selectRow(0);
    QCOMPARE(record.channel(0)->cursorSample, 1400);

    const QImage frame = form->plotWidget->grab().toImage();
    const WaveChannel* first = record.channel(0);
    const int zero = first->baselineY - first->zeroOffset;
    QCOMPARE(frame.pixelColor(first->sampleToX(1400), zero + 10), QColor(255, 0, 255));

    window->findChild<QPushButton*>("copyButton")->click();
    const QStringList lines = QGuiApplication::clipboard()->text().split('\n');
    QCOMPARE(lines.size(), 4); // header, two hits, the closing line break
    QCOMPARE(lines[0].split('\t').size(), 16);
    QVERIFY(lines[1].startsWith("1\t1400\t"));

    // The table follows the record and its selection: channel 1's burst zeroed over a selection
    // leaves no hit there; the selection cleared, channel 2's hit over the whole record.
    form->selStart = 1300;
    form->selEnd = 1500;
    testwindows::answerChooser({ 0 });
    window->findChild<QAction*>("aZeroSign")->trigger();
    QCOMPARE(table->rowCount(), 0);
    form->zoomSelection();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, AeHitsPanel::channelColumn)->text(), QString("2"));
    QVERIFY(window->findChild<QLabel*>("summaryLabel")->text().endsWith("вся запись"));

    // A threshold beyond a channel's full scale (0.1 V is 328 codes at x64, 20972 at x4096):
    // each line stays at its own band's edges, and the table says no hit can come there.
    record.channelSlots[0].header.gainCode = 6;
    window->ae.query.settings.thresholdVolts = 0.1;
    window->refreshAeHits();
    QCOMPARE(window->findChild<QLabel*>("warningLabel")->text(),
        QString("Внимание: порог выше шкалы (каналы 1, 2): импульсов там не будет"));
    const QImage dashed = form->plotWidget->grab().toImage();
    const auto orangeRow = [&dashed](int y) {
        for (int x = 0; x < dashed.width(); ++x)
            if (dashed.pixelColor(x, y) == QColor(255, 200, 0))
                return true;
        return false;
    };
    // The bands meet halfway between the baselines.
    const int middle = (record.channel(0)->baselineY + record.channel(1)->baselineY) / 2;
    for (const auto& [top, bottom] :
        { std::pair { record.plotRect.top(), middle }, { middle, record.plotRect.bottom() } }) {
        QVERIFY(orangeRow(top) && orangeRow(bottom));
        for (int y = top + 8; y < bottom - 8; ++y)
            QVERIFY2(!orangeRow(y),
                qPrintable(QString("row %1 of %2 ... %3").arg(y).arg(top).arg(bottom)));
    }

    // Searched through a high-pass filter, the threshold is not of the trace shown: no lines,
    // and the line above the table says why.
    window->ae.query.settings.thresholdVolts = 10 * 5.0 / 1048576;
    window->ae.query.settings.highPassKhz = 20;
    window->refreshAeHits();
    QVERIFY(window->findChild<QLabel*>("summaryLabel")
                ->text()
                .contains("за фильтром высоких частот 20 кГц, его линии не показаны"));
    const QImage filtered = form->plotWidget->grab().toImage();
    for (int y = 0; y < filtered.height(); ++y)
        for (int x = 0; x < filtered.width(); ++x)
            QVERIFY(filtered.pixelColor(x, y) != QColor(255, 200, 0));

    command->trigger();
    QVERIFY(!form->hitMarks.shown);
    const QImage after = form->plotWidget->grab().toImage();
    QVERIFY(after.pixelColor(first->sampleToX(1400), zero + 10) != QColor(255, 0, 255));
}

// Three sensors at (0, 0), (1, 0) and (0, 1) m, 1000 m/s: a source at (0.3, 0.4) m is 500,
// 806 and 671 us from them, one at (0.8, 0.7) m 1063, 728 and 854 us. On a quiet record the
// floating threshold is 1.5 codes (7.15 uV); the table gives the onsets' differences in us and
// the places, a click on the second dot chooses its three rows, and a fixed threshold under
// one code (4.77 uV) is named.
void tst_Waveform::aeLocationMapAndWarnings()
{
    const int onsets[2][3] = { { 1500, 1806, 1671 }, { 7063, 6728, 6854 } };
    addMegahertzWindow(
        10000,
        [&onsets](int c, int k) {
            for (const auto& event : onsets)
                if (k >= event[c] && k < event[c] + 50)
                    return qint8((k - event[c]) % 2 ? -30 : 30);
            return qint8(0);
        },
        3);
    AeSettings& ae = window->ae;
    ae.query.sensors = { { 0, 0 }, { 1, 0 }, { 0, 1 } };
    ae.plane = true;
    ae.query.speedMps = 1000;
    window->findChild<QAction*>("aAeHits")->trigger();
    auto* summary = window->findChild<QLabel*>("summaryLabel");
    QCOMPARE(summary->text(),
        QString("Порог плавающий +16 дБ: к1 %1 мкВ, к2 %1 мкВ, к3 %1 мкВ; импульсов: 6; вся запись")
            .arg(QLocale().toString(7.15)));
    auto* table = window->findChild<QTableWidget*>("aeHitsTable");
    QCOMPARE(table->horizontalHeaderItem(AeHitsPanel::dtColumn)->text(), QString("Δt, мкс"));
    QVERIFY(table->isColumnHidden(AeHitsPanel::positionColumn));
    const struct
    {
        const char* channel;
        const char* dt;
        double x;
        double y;
        const char* zone;
    } expected[] = { { "1", "0", 0.3, 0.4, "1" }, { "3", "171", 0.3, 0.4, "1" },
        { "2", "306", 0.3, 0.4, "1" }, { "2", "0", 0.8, 0.7, "2" }, { "3", "126", 0.8, 0.7, "2" },
        { "1", "335", 0.8, 0.7, "2" } };
    QCOMPARE(table->rowCount(), 6);
    for (int r = 0; r < 6; ++r) {
        // Numbers as the locale writes them: the decimal comma read as a point.
        const auto cell = [&](int column) {
            return table->item(r, column)->text().replace(QChar(u','), QChar(u'.'));
        };
        QCOMPARE(cell(AeHitsPanel::channelColumn), QString(expected[r].channel));
        QCOMPARE(cell(AeHitsPanel::dtColumn), QString(expected[r].dt));
        QVERIFY(std::fabs(cell(AeHitsPanel::xColumn).toDouble() - expected[r].x) < 0.005);
        QVERIFY(std::fabs(cell(AeHitsPanel::yColumn).toDouble() - expected[r].y) < 0.005);
        QVERIFY(cell(AeHitsPanel::residualColumn).toDouble() < 0.005);
        QCOMPARE(cell(AeHitsPanel::zoneColumn), QString(expected[r].zone));
    }

    auto* map = window->findChild<AeMapWidget*>("aeMap");
    QVERIFY(map->isVisible());
    QCOMPARE(map->contents().dots.size(), 2);
    // Both events are as strong: the colour scale is of their one colour, not a span of two.
    const QImage drawn = map->grab().toImage();
    const auto near = [](QRgb pixel, QColor colour) {
        const QColor c = colour.toRgb();
        return std::abs(qRed(pixel) - c.red()) + std::abs(qGreen(pixel) - c.green())
            + std::abs(qBlue(pixel) - c.blue())
            < 24;
    };
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            for (const double end : { 0.0, 1.0 })
                QVERIFY(!near(drawn.pixel(x, y), amplitudeColor(end)));
    // Its figures tell the ends apart: 126.16 and 126.24 dB are not both "126,2", nor 127.47
    // and 127.54 "127" and "128".
    for (const auto& [weakest, strongest, decimals] : { std::tuple { 126.155, 126.238, 2 },
             { 127.47, 127.54, 2 }, { 118.28, 118.48, 1 }, { 60.4, 61.4, 0 }, { 45.0, 90.0, 0 } })
        QCOMPARE(scaleDecimals(weakest, strongest), decimals);
    const QPointF dot
        = mapTransform(map->contents(), map->size()).toPixels(map->contents().dots[1].place);
    QTest::mouseClick(map, Qt::LeftButton, {}, dot.toPoint());
    const QModelIndexList chosen = table->selectionModel()->selectedRows();
    QCOMPARE(chosen.size(), 3);
    for (const QModelIndex& row : chosen)
        QCOMPARE(table->item(row.row(), AeHitsPanel::eventColumn)->text(), QString("2"));

    ae.floating = false;
    ae.location = false;
    ae.query.settings.thresholdVolts = 2e-6;
    window->refreshAeHits();
    auto* warning = window->findChild<QLabel*>("warningLabel");
    QVERIFY(warning->isVisible() && !map->isVisible());
    QCOMPARE(warning->text(), QString("Внимание: порог ниже одного кода (каналы 1, 2, 3)"));

    // Four sensors for a record of three channels: its hits are shown, and why none is located.
    ae.floating = ae.location = true;
    ae.query.sensors << QPointF(1, 1);
    window->refreshAeHits();
    QCOMPARE(table->rowCount(), 6);
    QCOMPARE(warning->text(), QString("Локация не выполнена: в записи нет канала 4."));

    // A source at a sensor, found a few millimetres beyond it, is among the sensors.
    HitRow atSensor;
    HitQuery line;
    line.spacingMetres = 1;
    for (const auto& [position, among] : { std::pair { -0.004, true }, { 1.015, true },
             { -0.03, false }, { 1.03, false } }) {
        atSensor.positionMetres = position;
        QCOMPARE(amongSensors(atSensor, line), among);
    }
}

// Three pencil-lead breaks 0.25 m from sensor 1 of two 1 m apart reach sensor 2 200 us later:
// the wave runs 0.5 m in 200 us, 2500 m/s. Escape keeps the speed set, OK takes the fitted one.
void tst_Waveform::aeSpeedCalibration()
{
    addMegahertzWindow(12000, [](int c, int k) {
        const int from = k / 4000 * 4000 + 1000 + 200 * c;
        return qint8(k >= from && k < from + 50 ? (k - from) % 2 ? -30 : 30 : 0);
    });
    window->ae.query.spacingMetres = 1;
    window->ae.query.speedMps = 3000;
    QAction* command = window->findChild<QAction*>("aAeCalibration");
    QTimer::singleShot(
        0, [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
    command->trigger();
    QCOMPARE(window->ae.query.speedMps, 3000.0);
    QString result;
    QTimer::singleShot(0, [&result] {
        QWidget* dialog = QApplication::activeModalWidget();
        dialog->findChild<QDoubleSpinBox*>("sourceXBox")->setValue(0.25);
        result = dialog->findChild<QLabel*>("resultLabel")->text();
        qobject_cast<QDialog*>(dialog)->accept();
    });
    command->trigger();
    QVERIFY2(result.contains("разброс 0 м/с, событий: 3"), qPrintable(result));
    QVERIFY(std::fabs(window->ae.query.speedMps - 2500) < 1e-3);
}

// Channel 1 holds codes k mod 10 at gain code 12 (a code is 5 / 2^20 V = 4.768 uV) and 1 MHz;
// over samples 10 ... 29 they are 0 ... 9 twice: minimum 0, maximum 42.92 uV, mean 4.5 codes =
// 21.46 uV, RMS sqrt(28.5) codes = 25.46 uV. Cursors at 40 and 50: 10 us apart, values 0 and
// 0. The table follows a new selection.
void tst_Waveform::measurements()
{
    TWForm* form = addMegahertzWindow(100, [](int, int k) { return qint8(k % 10); });
    WaveStore& record = *form->record;
    record.channel(0)->cursorSample = 40;
    record.channel(1)->cursorSample = 50;
    form->selStart = 10;
    form->selEnd = 30;
    window->findChild<QAction*>("aVolt")->trigger();
    window->findChild<QAction*>("aMeasure")->trigger();
    auto* table = window->findChild<QTableWidget*>("measureTable");
    QVERIFY(table && table->isVisible());
    QCOMPARE(table->rowCount(), 2);
    const auto row = [table](int r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->item(r, c)->text();
        return cells;
    };
    QCOMPARE(row(0),
        QStringList({ "1", "40.00uS", "0.000V", "0.000S", "0.000V", "20", "20.00uS", "0.000V",
            "42.92uV", "42.92uV", "21.46uV", "25.46uV" }));
    QCOMPARE(row(1)[MeasurePanel::timeToFirstColumn], QString("10.00uS"));

    form->selStart = 0;
    form->selEnd = 5; // codes 0 ... 4
    form->plotWidget->state = 4;
    form->plotWidget->pendingSelEnd = 5;
    form->plotWidget->performState();
    QCOMPARE(row(0)[MeasurePanel::maximumColumn], QString("19.07uV"));
}

// Each operation warns about an empty selection; it changes the chosen channels only, and
// nothing when the choice is cancelled.
void tst_Waveform::selectionAndChosenChannels()
{
    const std::pair<const char*, const char*> cases[]
        = { { "aZeroSign", "Необходимо выделить участок для обнуления." },
              { "aSrcMax", "Необходимо выделить участок для поиска максимума." },
              { "aAverage", "Необходимо выделить участок\nдля расчета среднего значения" } };
    for (const auto& [action, text] : cases) {
        testboxes::reset();
        TWForm* form = testwindows::addRecordWindow(window, 4, 200, 5);
        form->selStart = form->selEnd = 50;
        window->findChild<QAction*>(action)->trigger();
        QCOMPARE(testboxes::texts, QStringList { text });
    }

    TWForm* form = testwindows::addRecordWindow(window, 4, 200, 5);
    form->selStart = 120;
    form->selEnd = 80;
    testwindows::answerChooser({ 1 });
    window->findChild<QAction*>("aZeroSign")->trigger();
    QCOMPARE(form->record->channel(1)->sample(100), qint8(0));
    QVERIFY(
        form->record->channel(0)->sample(100) != 0 || form->record->channel(0)->sample(101) != 0);
    QVERIFY(form->processed);

    form = testwindows::addRecordWindow(window, 4, 200, 5);
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

void tst_Waveform::centringCursors()
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
    QCOMPARE(
        c.cursorSample, int(std::lround((middle - c.channelArea.left() + c.originX) / c.scaleX)));
    QCOMPARE(form->record->channel(0)->cursorSample, 3);
}

QTEST_MAIN(tst_Waveform)
#include "test_waveform.moc"
