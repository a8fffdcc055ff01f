// The record model: block allocation, sample access, smoothing settings, layout, hit tests,
// the view brought into range, and zeroing, maximum search and mean value on ordinary,
// detector and spectrum data.
#include "data.h"
#include "gain_advice.h"
#include "support/records.h"
#include "support/reference_render.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QRandomGenerator>
#include <QtTest>

class tst_Record : public QObject
{
    Q_OBJECT
private slots:
    void blocks();
    void sampleAccessOutsideTheChannel();
    void smoothingRecomputation();
    void newRecordLayout();
    void baselineHitTest();
    void viewBroughtIntoRange();
    void displayedValues();
    void gainAdvice();
    void zeroing();
    void maximum();
    void mean();
};

// Blocks of 32768 samples, at most five; nothing for a negative count.
void tst_Record::blocks()
{
    const std::pair<int, QList<int>> cases[] = { { 0, { 0 } }, { 32769, { 32768, 1 } },
        { 163840, { 32768, 32768, 32768, 32768, 32768 } },
        { 163841, { 32768, 32768, 32768, 32768, 32768 } }, { -5, { 0 } } };
    for (const auto& [requested, blockSizes] : cases) {
        WaveChannel channel(requested);
        QVERIFY(channel.allocate());
        int total = 0;
        for (int k = 0; k < WaveChannel::maxBlocks; ++k) {
            QCOMPARE(channel.blocks[k] != nullptr, k < blockSizes.size());
            total += blockSizes.value(k);
        }
        QCOMPARE(channel.sampleCount, total);
    }
}

void tst_Record::sampleAccessOutsideTheChannel()
{
    WaveChannel channel(100);
    QVERIFY(channel.allocate());
    channel.setSample(99, -7);
    QVERIFY(channel.modified);
    QCOMPARE(channel.sample(99), qint8(-7));
    QCOMPARE(channel.sample(-1), qint8(0));
    QCOMPARE(channel.sample(100), qint8(0));
    channel.setSample(100, 5); // ignored, no write past the block
    channel.setSample(-1, 5);
    QCOMPARE(channel.sample(0), qint8(0));
}

// Only a change that alters what the smoothing modes draw asks for a recomputation; the
// parameter is kept within a byte and the half-width within 126.
void tst_Record::smoothingRecomputation()
{
    const struct
    {
        int mode;
        int param;
        bool recompute;
    } cases[]
        = { { 5, 9, false }, { 3, 9, true }, { 6, 9, true }, { 1, 4, true }, { 3, 4, false } };
    for (const auto& c : cases) {
        auto record = testrecords::make(2, 100);
        record->setSmoothing(c.mode == 5 || c.mode == 6 ? c.mode : 3, 4);
        QCOMPARE(record->setSmoothing(c.mode, c.param), c.recompute);
        QCOMPARE(int(record->header.smoothMode), c.mode);
        QCOMPARE(int(record->channel(1)->smoothMode), c.mode);
        QCOMPARE(record->channel(1)->smoothHalfWidth, c.param);
    }
    auto record = testrecords::make(1, 100);
    record->setSmoothing(2, 300);
    QCOMPARE(int(record->header.smoothParam), 255);
    QCOMPARE(record->channel(0)->smoothHalfWidth, 126);
}

void tst_Record::newRecordLayout()
{
    WaveStore record(QRect(QPoint(0, 0), QPoint(299, 300)));
    QVERIFY(record.initialise(3, 1000));
    QCOMPARE(int(record.header.verticalZoom), 1000);
    QCOMPARE(int(record.header.versionMinor), 20);
    const int bands[] = { 50, 150, 250 };
    const QColor traces[] = { QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255) };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(record.channel(i)->baselineY, bands[i]);
        QCOMPARE(record.channel(i)->traceColor, traces[i]);
        QCOMPARE(record.channel(i)->baselineColor, QColor(Qt::lightGray));
        QVERIFY(record.channel(i)->cursorEnabled && record.channel(i)->baselineEnabled);
    }
    QVERIFY(!record.channel(3));
    QCOMPARE(record.scaleY, 300.0 / (3 * 256));

    // One visible sample of a squeezed record keeps the record squeezed.
    auto squeezed = testrecords::make(1, 10000, 1, QRect(QPoint(0, 0), QPoint(100, 100)));
    QVERIFY(squeezed->compressedX);
    squeezed->header.visibleCount = 1;
    squeezed->refreshScaleX();
    QCOMPARE(squeezed->scaleX, 1.0);
    QVERIFY(squeezed->compressedX);
}

void tst_Record::baselineHitTest()
{
    auto record = testrecords::make(2, 1000, 1, QRect(QPoint(0, 0), QPoint(200, 200)));
    record->channel(0)->baselineY = 100;
    record->channel(1)->baselineY = 108;
    QCOMPARE(record->baselineAt(50, 104), 0); // equal distances: the lower index
    QCOMPARE(record->grabY, 100);
    QCOMPARE(record->baselineAt(50, 107), 1);
    QCOMPARE(record->grabY, 108);
    QCOMPARE(record->baselineAt(50, 112), 1); // 4 from channel 1
    QCOMPARE(record->baselineAt(50, 113), -1); // 5 away
    record->channel(1)->baselineY = 120;
    QCOMPARE(record->baselineAt(50, 95), -1); // 5 away
    QCOMPARE(record->baselineAt(200, 100), -1); // the right edge is outside
}

// A stored view outside the record is shown inside it; the stored bytes stay as they were.
void tst_Record::viewBroughtIntoRange()
{
    const std::array<int, 4> cases[] = { { 10, 100, 10, 100 }, { 5000, 100, 900, 100 },
        { -3, 100, 0, 100 }, { 0, 2000000, 0, 1000 }, { 5, -9, 5, 0 } };
    for (const auto& [first, visible, shownFirst, shownCount] : cases) {
        auto record = testrecords::make(1, 1000);
        record->header.firstVisible = first;
        record->header.visibleCount = visible;
        QCOMPARE(record->viewFirst(), shownFirst);
        QCOMPARE(record->viewCount(), shownCount);
        record->layout();
        QCOMPARE(record->channel(0)->firstVisible, shownFirst);
        QCOMPARE(int(record->header.firstVisible), first);
    }
}

// Every mode and every half-width: walking a record incrementally gives, at every index and up
// to both ends, the values worked out independently from the samples; a few of them by hand.
void tst_Record::displayedValues()
{
    WaveChannel c(300);
    QVERIFY(c.allocate());
    QRandomGenerator random(77);
    for (int i = 0; i < c.sampleCount; ++i) // -128 and 127 among them
        c.setSample(i, qint8(i % 97 == 0 ? -128 : (i % 89 == 0 ? 127 : random.bounded(-128, 128))));
    for (quint8 mode = 0; mode <= 7; ++mode) {
        for (int k = 0; k <= 126; ++k) {
            c.smoothMode = mode;
            c.setSmoothHalfWidth(k);
            const std::vector<int> expected = reference::displayedValues(c);
            QCOMPARE(c.displayedValue(0), expected[0]);
            for (int i = 1; i < c.sampleCount; ++i)
                if (c.nextDisplayedValue(i) != expected[size_t(i)])
                    QFAIL(qPrintable(
                        QString("mode %1, half-width %2, index %3").arg(mode).arg(k).arg(i)));
        }
    }
    c.setSample(0, -128);
    for (const quint8 mode : { 1, 5 }) { // detection shows -128 as 127; so does its square / 129
        c.smoothMode = mode;
        QCOMPARE(c.displayedValue(0), 127);
    }
    for (int i = 0; i < c.sampleCount; ++i)
        c.setSample(i, qint8(i % 2 ? -40 : 40));
    c.smoothMode = 2;
    c.setSmoothHalfWidth(1);
    QCOMPARE(c.displayedValue(100), -13); // (-40 + 40 - 40) / 3
    c.smoothMode = 3; // detection and smoothing average the magnitudes
    QCOMPARE(c.displayedValue(100), 40);
    c.smoothMode = 2;
    c.setSmoothHalfWidth(10);
    QCOMPARE(c.displayedValue(0), 40 / 21); // samples 0 ... 10 sum to 40, -10 ... -1 count 0
}

// A 10000-sample channel at gain code 5 holding a sine of the peak, and limit codes at the
// given places: clipped at 3 in a row or above 10 (0.1 %) in all, weak below a peak of 8 (16
// for detector data, where -128 is no signal), with the gain that brings the peak to about half
// the range: peak 5 -> 5 + floor(log2(64 / 5)) = 8.
void tst_Record::gainAdvice()
{
    const auto apart = [](int count) {
        QList<int> places;
        for (int k = 0; k < count; ++k)
            places << 900 * k;
        return places;
    };
    const struct
    {
        bool detector;
        int peak;
        QList<int> limits;
        int marks; // 0 in range, 1 clipped, 2 weak
        int gain;
    } cases[] = { { false, 100, {}, 0, 0 }, { false, 100, { 10, 11 }, 0, 0 },
        { false, 100, { 10, 11, 12 }, 1, 4 }, { false, 100, apart(11), 1, 4 },
        { false, 100, apart(10), 0, 0 }, { false, 5, {}, 2, 8 }, { false, 8, {}, 0, 0 },
        { false, 0, {}, 2, 12 }, { true, 10, {}, 2, 8 } };
    for (const auto& c : cases) {
        auto record = testrecords::make(1, 10000);
        record->header.detector = c.detector ? 1 : 0;
        record->channelSlots[0].header.gainCode = 5;
        WaveChannel* channel = record->channel(0);
        for (int k = 0; k < 10000; ++k) {
            const int wave = int(std::lround(c.peak * std::sin(k * 0.01)));
            channel->setSample(k, qint8(c.detector ? std::abs(wave) - 128 : wave));
        }
        for (const int k : c.limits)
            channel->setSample(k, k % 2 ? 127 : -128);
        const QList<GainAdvice> advice = adviseGains(*record);
        QCOMPARE(advice.size(), c.marks ? 1 : 0);
        if (c.marks) {
            QCOMPARE(advice[0].clipped, c.marks == 1);
            QCOMPARE(advice[0].weak, c.marks == 2);
            QCOMPARE(advice[0].suggestedGain, c.gain);
        }
    }
}

void tst_Record::zeroing()
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

void tst_Record::maximum()
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

void tst_Record::mean()
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

QTEST_MAIN(tst_Record)
#include "test_record.moc"
