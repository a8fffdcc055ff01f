// The operator's hands on a waveform window: grabbing and dragging cursors and baselines,
// free and power-of-two selections, snapping, the inverted selection and the pointer shapes.
#include "fmain.h"
#include "init.h"
#include "support/boxes.h"
#include "support/fixture.h"
#include "support/windows.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

class tst_Mouse : public WindowTest
{
    Q_OBJECT
private:
    void prepare() override
    {
        form = testwindows::addRecordWindow(window, 4, 200, 3, QSize(700, 500));
    }

private slots:
    void powerOfTwoRounding();
    void grabbingACursor();
    void cursorDragStopsAtTheRightEdge();
    void lastColumnStaysInTheRecord();
    void baselineDragAndPointerShapes();
    void freeSelection();
    void powerOfTwoEndBeyondTheRecord();
    void snapping();
    void overlayInvertsTheSelectedColumns();
    void windowStandsAlone();

private:
    QWidget* plot() const { return form->plotWidget; }
    int xOf(int sample) const { return form->record->sampleToX(sample); }
    void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held);
    void press(QPoint at, Qt::MouseButton b) { send(QEvent::MouseButtonPress, at, b, b); }
    void move(QPoint at, Qt::MouseButtons held) { send(QEvent::MouseMove, at, Qt::NoButton, held); }
    void release(QPoint at, Qt::MouseButton b) { send(QEvent::MouseButtonRelease, at, b, {}); }
    // A right-button drag from sample a to sample b on the middle line of the plot.
    void select(int a, int b);
    void setPowerOfTwo(bool on);

    TWForm* form = nullptr;
};

void tst_Mouse::send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, at, plot()->mapToGlobal(at), button, held, {});
    QCoreApplication::sendEvent(plot(), &event);
}

void tst_Mouse::select(int a, int b)
{
    const int y = form->plotRect.center().y();
    press(QPoint(xOf(a), y), Qt::RightButton);
    move(QPoint(xOf(b), y), Qt::RightButton);
    release(QPoint(xOf(b), y), Qt::RightButton);
}

void tst_Mouse::setPowerOfTwo(bool on)
{
    auto* action = window->findChild<QAction*>("selectModeAction");
    QVERIFY(action);
    if (action->isChecked() != on)
        action->trigger();
}

void tst_Mouse::powerOfTwoRounding()
{
    const QList<std::array<int, 3>> cases = { { 0, 0, 0 }, { 1, 1, 0 }, { 2, 2, 1 }, { 3, 4, 2 },
        { 5, 4, 2 }, { 6, 8, 3 }, { -3, -4, 2 }, { -5, -4, 2 }, { 11, 8, 3 }, { 12, 16, 4 },
        { 163840, 131072, 17 }, { 98304, 131072, 17 }, { 98303, 65536, 16 } };
    for (const auto& c : cases) {
        int exponent = -1;
        QCOMPARE(roundToPowerOfTwo(c[0], exponent), c[1]);
        QCOMPARE(exponent, c[2]);
    }
}

void tst_Mouse::grabbingACursor()
{
    WaveStore& record = *form->record;
    for (int i = 0; i < 4; ++i)
        record.channel(i)->cursorSample = 20 * (i + 1);
    const int x = record.channel(1)->cursorX();
    const int y = 3; // clear of every baseline
    for (const int offset : { 4, -4 }) {
        press(QPoint(x + offset, y), Qt::LeftButton);
        QCOMPARE(form->grabbedCursor, 1);
        release(QPoint(x + offset, y), Qt::LeftButton);
        QCOMPARE(form->grabbedCursor, -1);
        // The pointer's column back to a sample: cursor 40 drawn at lround(40 s), moved.
        const double s = record.channel(1)->scaleX;
        QCOMPARE(
            record.channel(1)->cursorSample, int(std::lround((std::lround(40 * s) + offset) / s)));
        record.channel(1)->cursorSample = 40;
    }
    press(QPoint(x + 5, y), Qt::LeftButton);
    QCOMPARE(form->grabbedCursor, -1);
    QCOMPARE(form->grabbedLevel, -1);
    release(QPoint(x + 5, y), Qt::LeftButton);
    QCOMPARE(record.channel(1)->cursorSample, 40);

    // Ties go to the lower channel, also where two cursors lie equally far on either side.
    record.channel(0)->cursorSample = 10;
    record.channel(1)->cursorSample = 100;
    record.channel(2)->cursorSample = 104;
    record.channel(3)->cursorSample = 100;
    press(QPoint(xOf(100), 3), Qt::LeftButton);
    QCOMPARE(form->grabbedCursor, 1);
    release(QPoint(xOf(100), 3), Qt::LeftButton);
    // Channel 2's cursor lies as far to the right as channel 1's to the left.
    record.channel(3)->cursorSample = 10;
    int left = 100;
    while ((xOf(left + 1) - xOf(left)) % 2 != 0)
        ++left;
    QVERIFY(xOf(left + 1) - xOf(left) <= 8);
    record.channel(1)->cursorSample = left;
    record.channel(2)->cursorSample = left + 1;
    const int middle = (xOf(left) + xOf(left + 1)) / 2;
    press(QPoint(middle, 3), Qt::LeftButton);
    QCOMPARE(form->grabbedCursor, 1);
    release(QPoint(middle, 3), Qt::LeftButton);
}

void tst_Mouse::cursorDragStopsAtTheRightEdge()
{
    form->setView(50, 100);
    WaveStore& record = *form->record;
    WaveChannel& channel = *record.channel(2);
    channel.cursorSample = 120;
    auto* timeLabel = window->findChild<QLabel*>("tl3");
    QVERIFY(timeLabel);
    form->refreshAllStatus();
    const QString before = timeLabel->text();
    const int y = form->plotRect.height() / 3;
    press(QPoint(channel.cursorX(), y), Qt::LeftButton);
    QCOMPARE(form->grabbedCursor, 2);
    move(QPoint(channel.cursorX() - 40, y), Qt::LeftButton);
    const int afterMove = channel.cursorSample;
    const double s = channel.scaleX;
    QCOMPARE(afterMove, int(std::lround((std::lround(120 * s) - 40) / s)));
    QVERIFY(timeLabel->text() != before);
    QVERIFY(timeLabel->text().startsWith("T3="));
    move(QPoint(form->plotRect.right() + 200, y), Qt::LeftButton);
    release(QPoint(form->plotRect.right() + 200, y), Qt::LeftButton);
    QCOMPARE(channel.cursorSample, 149);
    QCOMPARE(form->grabbedCursor, -1);
    // The cursor stays put after the button is up.
    move(QPoint(10, y), Qt::NoButton);
    QCOMPARE(channel.cursorSample, 149);
}

// On a record squeezed into the plot the last columns map past its end: whatever the pointer
// points at, selections, cursors and the operations on them keep to samples that exist.
void tst_Mouse::lastColumnStaysInTheRecord()
{
    form = testwindows::addRecordWindow(window, 2, 163840, 5, QSize(700, 500));
    WaveStore& record = *form->record;
    const int right = form->plotRect.right();
    const int y = form->plotRect.height() / 4;
    QVERIFY(record.xToSample(right) > 163840);
    press(QPoint(right, y), Qt::RightButton);
    QCOMPARE(form->selStart, 163840);
    release(QPoint(right, y), Qt::RightButton);

    WaveChannel& channel = *record.channel(0);
    channel.cursorSample = 1000;
    press(QPoint(channel.cursorX(), y), Qt::LeftButton);
    move(QPoint(right + 100, y), Qt::LeftButton);
    release(QPoint(right + 100, y), Qt::LeftButton);
    QCOMPARE(channel.cursorSample, 163839);

    // The mean and, on detector data (measured as value + 128), the greatest value over
    // 163830 ... 163840 see the ten samples there are, and no eleventh of value 0.
    WaveChannel& detector = *record.channel(1);
    detector.applyDetectorOffset();
    for (int j = 163830; j < 163840; ++j) {
        channel.setSample(j, qint8(j == 163839 ? -100 : 10));
        detector.setSample(j, qint8(j == 163839 ? -100 : -120));
    }
    QCOMPARE(record.meanValue(0, 163830, 163840), (9 * 10 + 100) / 10);
    QCOMPARE(record.maxIndex(1, 163830, 163840), 163839);
}

void tst_Mouse::baselineDragAndPointerShapes()
{
    WaveStore& record = *form->record;
    for (int i = 0; i < 4; ++i)
        record.channel(i)->cursorSample = 0;
    WaveChannel& channel = *record.channel(1);
    const int x = form->plotRect.width() / 2;
    const int y = channel.baselineY - channel.zeroOffset;
    press(QPoint(x, y + 3), Qt::LeftButton);
    QCOMPARE(form->grabbedCursor, -1);
    QCOMPARE(form->grabbedLevel, 1);
    QCOMPARE(record.dragY, channel.baselineY);
    move(QPoint(x, y - 20), Qt::LeftButton);
    QCOMPARE(channel.baselineY, y - 20);
    move(QPoint(x, -50), Qt::LeftButton);
    release(QPoint(x, -50), Qt::LeftButton);
    QCOMPARE(channel.baselineY, form->plotRect.top());
    QCOMPARE(form->grabbedLevel, -1);
    // A detector channel's baseline is its lowest line: the drag keeps the offset.
    WaveChannel& detector = *record.channel(2);
    detector.applyDetectorOffset();
    QVERIFY(detector.zeroOffset != 0);
    const int line = detector.baselineY - detector.zeroOffset;
    press(QPoint(x, line), Qt::LeftButton);
    QCOMPARE(form->grabbedLevel, 2);
    release(QPoint(x, line - 10), Qt::LeftButton);
    QCOMPARE(detector.baselineY - detector.zeroOffset, line - 10);

    // The pointer shows what a press would grab; a grabbed baseline keeps its shape.
    record.channel(0)->cursorSample = 100;
    const int baseline = record.channel(3)->baselineY;
    const int cx = xOf(100);
    move(QPoint(cx + 4, baseline), Qt::NoButton);
    QCOMPARE(plot()->cursor().shape(), Qt::SplitHCursor);
    move(QPoint(cx + 30, baseline + 4), Qt::NoButton);
    QCOMPARE(plot()->cursor().shape(), Qt::SplitVCursor);
    move(QPoint(cx + 30, baseline + 12), Qt::NoButton);
    QCOMPARE(plot()->cursor().shape(), Qt::ArrowCursor);
    // A grabbed baseline keeps its shape wherever the pointer goes.
    press(QPoint(cx + 30, baseline), Qt::LeftButton);
    move(QPoint(cx + 30, baseline + 30), Qt::LeftButton);
    QCOMPARE(plot()->cursor().shape(), Qt::SplitVCursor);
    release(QPoint(cx + 30, baseline + 30), Qt::LeftButton);
    move(QPoint(cx + 30, baseline + 60), Qt::NoButton);
    QCOMPARE(plot()->cursor().shape(), Qt::ArrowCursor);
}

void tst_Mouse::freeSelection()
{
    select(100, 105);
    QCOMPARE(form->selStart, 100);
    QCOMPARE(form->selEnd, 105);
    QCOMPARE(form->fftExponent, 1);
    QVERIFY(!form->selecting);
    // Backwards and past the end: the end is kept within 0 ... N.
    const int y = form->plotRect.center().y();
    press(QPoint(xOf(150), y), Qt::RightButton);
    QCOMPARE(form->selStart, 150);
    QCOMPARE(form->selEnd, 150);
    move(QPoint(xOf(120), y), Qt::RightButton);
    QCOMPARE(form->selEnd, 120);
    move(QPoint(form->plotRect.right() + 100, y), Qt::RightButton);
    release(QPoint(form->plotRect.right() + 100, y), Qt::RightButton);
    QCOMPARE(form->selEnd, 200);
    // The source of an open spectrum keeps its selection.
    select(10, 30);
    form->hasSpectrum = true;
    select(100, 150);
    QCOMPARE(form->selStart, 10);
    QCOMPARE(form->selEnd, 30);
    QVERIFY(!form->selecting);
}

void tst_Mouse::powerOfTwoEndBeyondTheRecord()
{
    setPowerOfTwo(true);
    const int y = form->plotRect.center().y();
    press(QPoint(xOf(193), y), Qt::RightButton);
    move(QPoint(xOf(195), y), Qt::RightButton);
    QCOMPARE(form->selEnd, 195);
    move(QPoint(xOf(199), y), Qt::RightButton); // 6 -> 8 would end at 201 of 200
    QCOMPARE(form->selEnd, 195);
    QCOMPARE(form->fftExponent, 1);
    release(QPoint(xOf(199), y), Qt::RightButton);
    QCOMPARE(form->selStart, 193);
    QCOMPARE(form->selEnd, 195);
}

// Selections of a power of two: there when the mode is switched on (rounded to the nearer
// power, halved where it would leave the record), or dragged with the mode on. Switching the
// mode off leaves the selection alone. An empty selection, first, keeps the exponent 1.
void tst_Mouse::snapping()
{
    const struct
    {
        bool dragged;
        int from;
        int to;
        int end;
        int exponent;
    } cases[] = { { false, 100, 105, 104, 2 }, { false, 100, 106, 108, 3 },
        { false, 100, 108, 108, 3 }, { false, 20, 14, 12, 3 }, { false, 0, 200, 128, 7 },
        { false, 72, 199, 200, 7 }, { false, 100, 0, 36, 6 }, { true, 100, 105, 104, 2 },
        { true, 100, 101, 101, 0 }, { true, 100, 97, 96, 2 }, { true, 72, 200, 200, 7 } };
    for (const auto& c : cases) {
        if (c.dragged) {
            setPowerOfTwo(true);
            select(c.from, c.to);
        } else {
            form->selStart = c.from;
            form->selEnd = c.to;
            setPowerOfTwo(true);
        }
        QCOMPARE(form->selStart, c.from);
        QCOMPARE(form->selEnd, c.end);
        QCOMPARE(form->fftExponent, c.exponent);
        setPowerOfTwo(false);
        QCOMPARE(form->selEnd, c.end);
    }
}

namespace {

QImage shot(QWidget* widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Columns x1 ... x2 - 1 of shown are those of plain inverted, every other column unchanged.
bool invertedExactly(const QImage& plain, const QImage& shown, int x1, int x2)
{
    if (plain.size() != shown.size())
        return false;
    for (int y = 0; y < plain.height(); ++y)
        for (int x = 0; x < plain.width(); ++x) {
            const QRgb p = plain.pixel(x, y);
            const bool inside = x >= x1 && x < x2;
            if (shown.pixel(x, y) != (inside ? (p ^ 0x00FFFFFFu) : p))
                return false;
        }
    return true;
}

} // namespace

void tst_Mouse::overlayInvertsTheSelectedColumns()
{
    form->setView(40, 120);
    const QImage plain = shot(plot());
    select(60, 90);
    QVERIFY(xOf(90) - xOf(60) > 20);
    QVERIFY(invertedExactly(plain, shot(plot()), xOf(60), xOf(90)));
    // A selection reaching past the view is clipped to the plot.
    select(100, 170);
    QVERIFY(invertedExactly(plain, shot(plot()), xOf(100), form->plotRect.right()));
    // An empty selection shows nothing.
    form->selEnd = form->selStart;
    QVERIFY(invertedExactly(plain, shot(plot()), 0, 0));

    // While it is dragged, the selection's length stands in a black box over its start; the
    // released selection shows the columns alone.
    const int y = form->plotRect.center().y();
    press(QPoint(xOf(60), y), Qt::RightButton);
    move(QPoint(xOf(90), y), Qt::RightButton);
    const QImage dragged = shot(plot());
    QCOMPARE(dragged.pixelColor(xOf(60) + 3, form->plotRect.top() + 3), QColor(Qt::black));
    QVERIFY(!invertedExactly(plain, dragged, xOf(60), xOf(90)));
    release(QPoint(xOf(90), y), Qt::RightButton);
    QVERIFY(invertedExactly(plain, shot(plot()), xOf(60), xOf(90)));
}

// A record window stands alone: made and read without the main window, it tells its readouts
// (in the unit handed down to it) and its selection through its signals.
void tst_Mouse::windowStandsAlone()
{
    QCOMPARE(writeRaw(*form->record, dir.filePath("alone.raw")), 0);
    TWForm alone;
    QVERIFY(alone.openFile(dir.filePath("alone.raw")));
    alone.resize(700, 500);
    alone.show();
    QSignalSpy readouts(&alone, &TWForm::channelStatusChanged);
    QSignalSpy moved(&alone, &TWForm::selectionMoved);
    QSignalSpy changed(&alone, &TWForm::contentsChanged);
    // Sample 40 at 12 MHz / 100 is 333.3 us; the readout is in volts until coulombs are handed
    // down.
    alone.showSample(1, 40);
    QCOMPARE(readouts.last().at(0).toInt(), 1);
    QCOMPARE(readouts.last().at(1).toString(), QString("  333.3uS"));
    QVERIFY(readouts.last().at(2).toString().endsWith('V'));
    ViewOptions coulombs;
    coulombs.volts = false;
    alone.setViewOptions(coulombs);
    QVERIFY(readouts.last().at(2).toString().endsWith('Q'));
    TWForm* kept = std::exchange(form, &alone);
    select(10, 30);
    form = kept;
    QCOMPARE(std::min(alone.selStart, alone.selEnd), 10);
    QCOMPARE(std::max(alone.selStart, alone.selEnd), 30);
    QVERIFY(moved.count() >= 2 && changed.count() >= 2);
}

QTEST_MAIN(tst_Mouse)
#include "test_mouse.moc"
