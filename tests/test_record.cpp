// The record model: block allocation, sample access, smoothing settings, layout, hit tests,
// the view brought into range, zeroing, maximum search and mean value on ordinary, detector
// and spectrum data; the readouts' number formats, a channel's status texts, the clipboard's
// table and the scales.
#include "convert.h"
#include "data.h"
#include "fmain.h"
#include "gain_advice.h"
#include "record_view.h"
#include "scales.h"
#include "support/records.h"
#include "support/reference_render.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QClipboard>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>
#include <climits>

class tst_Record : public QObject
{
    Q_OBJECT
private slots:
    void blocks();
    void smoothingRecomputation();
    void newRecordLayoutAndStoredView();
    void baselineHitTest();
    void displayedValues();
    void gainAdvice();
    void zeroing();
    void maximumAndMean();
    void numberTexts();
    void statusTexts();
    void clipboardText();
    void scaleTicks();
    void scalesFollowTheZoom();
    void spectrumScales();
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

    // Samples outside the channel read 0 and are not written.
    WaveChannel small(100);
    QVERIFY(small.allocate());
    small.setSample(99, -7);
    QVERIFY(small.modified);
    QCOMPARE(small.sample(99), qint8(-7));
    QCOMPARE(small.sample(-1), qint8(0));
    QCOMPARE(small.sample(100), qint8(0));
    small.setSample(100, 5); // ignored, no write past the block
    small.setSample(-1, 5);
    QCOMPARE(small.sample(0), qint8(0));
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

void tst_Record::newRecordLayoutAndStoredView()
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

    // A stored view outside the record is shown inside it; the stored bytes stay as they were.
    const std::array<int, 4> cases[] = { { 10, 100, 10, 100 }, { 5000, 100, 900, 100 },
        { -3, 100, 0, 100 }, { 0, 2000000, 0, 1000 }, { 5, -9, 5, 0 } };
    for (const auto& [first, visible, shownFirst, shownCount] : cases) {
        auto stored = testrecords::make(1, 1000);
        stored->header.firstVisible = first;
        stored->header.visibleCount = visible;
        QCOMPARE(stored->viewFirst(), shownFirst);
        QCOMPARE(stored->viewCount(), shownCount);
        stored->layout();
        QCOMPARE(stored->channel(0)->firstVisible, shownFirst);
        QCOMPARE(int(stored->header.firstVisible), first);
    }
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
    // In the parameters dialog's factors, and plainly where no gain can help.
    QCOMPARE(gainAdviceText({ { 0, true, false, 128, 5, 4 }, { 1, true, false, 128, 0, 0 },
                 { 2, false, true, 5, 5, 8 }, { 3, false, true, 5, 12, 12 } }),
        QString("канал 1: перегрузка — уменьшите усиление с ×32 до ×16\n"
                "канал 2: перегрузка при наименьшем усилении ×1 — усилением не помочь, ослабьте "
                "сигнал на входе\n"
                "канал 3: слабый сигнал (пик 5) — увеличьте усиление с ×32 до ×256\n"
                "канал 4: слабый сигнал (пик 5) при наибольшем усилении ×4096 — усилением не "
                "помочь"));
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

void tst_Record::maximumAndMean()
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

    record = testrecords::make(1, 10);
    c = record->channel(0);
    c->setSample(2, 2);
    c->setSample(3, -2);
    c->setSample(4, 4);
    QCOMPARE(record->meanValue(0, 2, 4), 2); // (2 + 2 + 4) / 3
    // As the readouts convert: 2 codes at gain 0 are 2 x 5 x 4096 / 2^20 V, or 2 x 3e-7 x 4096
    // / 2^20 C.
    record->channelSlots[0].header.gainCode = 0;
    QCOMPARE(meanText(*record, 2, 4, true), QString("Среднее значение:\nКанал 1: 39.06mV"));
    QCOMPARE(meanText(*record, 2, 4, false), QString("Среднее значение:\nКанал 1: 2.344nQ"));
    c->applyDetectorOffset();
    QCOMPARE(record->meanValue(0, 2, 4), 129); // (130 + 126 + 132) / 3
    QCOMPARE(meanText(*record, 2, 4, true), QString("Среднее значение:\nКанал 1: 1.260 V"));
}

void tst_Record::numberTexts()
{
    const struct
    {
        double value;
        int width;
        const char* text;
    } cases[] = { { 0.5, 6, " 500.0m" }, { 1.234, 6, " 1.234 " }, { 1.234, 7, " 1.2340 " },
        { 0.0, 6, " 0.000 " }, { 9e-13, 7, " 0.0000 " }, { 1e-12, 6, " 1.000p" },
        { -0.002, 6, "-2.000m" }, { 10e-6, 6, " 10.00u" }, { 1000.0, 6, " 1.000K" },
        { 999e9, 6, " 999.0G" }, { 1e12, 6, "#######" }, { -2e12, 7, "#######" } };
    for (const auto& c : cases)
        QCOMPARE(engineeringText(c.value, c.width), QString(c.text));

    // Tenths of the step's unit, rounded half away from zero.
    const struct
    {
        int index;
        double step;
        const char* text;
    } times[] = { { 1234, 0.5, "  617.0" }, { 0, 8.33, "    0.0" }, { 1, 0.5, "    0.5" },
        { 1, 0.05, "    0.1" }, { -1, 0.5, "   -0.5" }, { 163839, 1000.0, "163839000.0" } };
    for (const auto& c : times)
        QCOMPARE(timeText(c.index, c.step, 7), QString(c.text));
}

void tst_Record::statusTexts()
{
    auto record = testrecords::make(4, 1000);
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 100; // 8.33 us a sample
    WaveChannel* c = record->channel(0);
    c->cursorSample = 120;
    c->setSample(120, 10);
    record->channelSlots[0].header.gainCode = 0;
    ChannelStatusTexts texts = channelStatusTexts(*record, 0, true);
    QCOMPARE(texts.time, QString(" 1000.0uS")); // 120 x 8.333 us
    QCOMPARE(texts.value, QString(" 195.3mV")); // 2 x 10 x 2.5 x 2^-20 x 4096
    texts = channelStatusTexts(*record, 0, false);
    QCOMPARE(texts.value, QString(" 11.72nQ")); // 20 x 1.5e-7 x 2^-20 x 4096

    c->applyDetectorOffset(); // detector data count from -128
    QCOMPARE(channelStatusTexts(*record, 0, true).value, QString(" 1.348 V"));
    record->channelSlots[0].header.gainCode = 40; // no gain factor beyond 4096 >> 12
    QCOMPARE(channelStatusTexts(*record, 0, true).value, QString(" 0.000 V"));
    QCOMPARE(channelStatusTexts(*record, 4, true).time, QString());
    c->hasData = false;
    QCOMPARE(channelStatusTexts(*record, 0, true).value, QString());

    // Cursors as a record file may hold them are read at the nearest sample there is.
    const int cursors[] = { -5, 2000000000, INT_MIN };
    const char* const times[] = { "    0.0uS", " 8325.0uS", "    0.0uS" }; // 0, 999 x 8.333 us
    for (int i = 1; i < 4; ++i) {
        record->channel(i)->cursorSample = cursors[i - 1];
        QCOMPARE(channelStatusTexts(*record, i, true).time, QString(times[i - 1]));
    }
    QVERIFY(cursorValuesText(*record, QLocale::c()).startsWith("VLX_TIMES:1000 0 8325 0 \n"));
}

// The cursors' times and values in the C locale and in the Russian one.
void tst_Record::clipboardText()
{
    const std::pair<const char*, QString> cases[] = {
        { "C", "VLX_TIMES:250 0 992 \nVLX_AMP:-19531.250000 -4.768372 -2441.406250 " },
        { "ru_RU",
            "VLX_TIMES:250 0 992 \nVLX_AMP:-19\u00a0531,250000 -4,768372 -2\u00a0441,406250 " }
    };
    auto record = testrecords::make(3, 120);
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 100;
    const int gains[] = { 0, 12, 3 };
    const int cursors[] = { 30, 0, 120 }; // the last one lies past the samples: 119 is read
    for (int i = 0; i < 3; ++i) {
        record->channelSlots[i].header.gainCode = quint8(gains[i]);
        record->channel(i)->cursorSample = cursors[i];
        record->channel(i)->setSample(std::min(cursors[i], 119), -1);
    }
    for (const auto& [locale, text] : cases) {
        QCOMPARE(cursorValuesText(*record, QLocale(locale)), text);
        // The command puts it on the clipboard in the program's locale.
        QLocale::setDefault(QLocale(locale));
        copyCursorValues(*record);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(QGuiApplication::clipboard()->text(), text);
    }

    WaveStore empty(QRect(0, 0, 99, 99));
    QCOMPARE(cursorValuesText(empty, QLocale::c()), QString("VLX_TIMES:\nVLX_AMP:"));

    delete record->channelSlots[0].channel; // a slot missing before the count: nothing copied
    record->channelSlots[0].channel = nullptr;
    QGuiApplication::clipboard()->setText("kept");
    copyCursorValues(*record);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("kept"));
}

// Steps of 1, 2 and 5 times a power of ten; the multiples between two ends; labels with the
// prefix the step suits.
void tst_Record::scaleTicks()
{
    const QList<std::pair<double, double>> steps = { { 0.7, 1 }, { 1, 1 }, { 1.1, 2 }, { 2.5, 5 },
        { 6, 10 }, { 1.3e-4, 2e-4 }, { 0.05, 0.05 } };
    for (const auto& [minimum, step] : steps)
        QCOMPARE(niceStep(minimum), step);
    QCOMPARE(ticksBetween(-0.3, 1.05, 0.5), (QList<double> { 0, 0.5, 1 }));
    QCOMPARE(ticksBetween(0.001, 0.0029, 0.001), (QList<double> { 0.001, 0.002 }));
    QCOMPARE(tickLabel(0.0015, 0.0005, "S"), QString("1.5mS"));
    QCOMPARE(tickLabel(4e-5, 2e-5, "S"), QString("40uS"));
    QCOMPARE(tickLabel(-0.2, 0.1, "V"), QString("-200mV"));
    QCOMPARE(tickLabel(2e-7, 1e-7, "Q"), QString("200nQ"));
    QCOMPARE(tickLabel(0, 0.02, "S"), QString("0mS"));
    QCOMPARE(tickLabel(1.5, 0.5, "V"), QString("1.5V"));
    QCOMPARE(tickLabel(-1e-17, 1e-3, "V"), QString("0mV"));
    QCOMPARE(tickLabel(-2.5, 0.5, "dB", false), QString("-2.5dB"));
}

// 1000 samples at 1 MHz on 639 pixels: a time tick every 200 us (128 pixels); zoomed to 500
// samples from 250 on, every 100 us from 300 us (again 128 pixels): labels never come closer.
void tst_Record::scalesFollowTheZoom()
{
    auto record = testrecords::make(1, 1000, 3, QRect(0, 0, 639, 399));
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 12;
    record->channelSlots[0].header.gainCode = 12;
    const QRect plot(0, 0, 640, 400);
    const auto tickColumns = [&](int first, int count) {
        record->header.firstVisible = first;
        record->header.visibleCount = count;
        record->layout();
        QImage frame(640, 400, QImage::Format_RGB32);
        frame.fill(Qt::black);
        QPainter painter(&frame);
        drawRecordScales(painter, *record, plot, true);
        painter.end();
        QList<int> columns;
        for (int x = 0; x < 640; ++x)
            if (frame.pixelColor(x, 398) == QColor(200, 200, 200)
                && frame.pixelColor(x, 396) == QColor(200, 200, 200))
                columns << x;
        return columns;
    };
    // The record's plot is 639 pixels wide: the visible samples span its 638 steps, 0.638
    // pixels a sample, 1.276 zoomed.
    const auto near = [](const QList<int>& columns, double start, double spacing, int count) {
        bool all = columns.size() == count;
        for (int k = 0; all && k < count; ++k)
            all = std::abs(columns[k] - (start + k * spacing)) <= 1;
        return all;
    };
    QVERIFY(near(tickColumns(0, 1000), 0, 200 * 0.638, 6));
    QVERIFY(near(tickColumns(250, 500), 50 * 1.276, 100 * 1.276, 5));
    // Without a frequency the axis counts samples, every 200 of them.
    record->header.clockKHz = 0;
    QVERIFY(near(tickColumns(0, 1000), 0, 200 * 0.638, 6));
}

namespace {

// The columns (along row y) or rows (down column x) where the frame holds the tick colour.
QList<int> tickPixels(const QImage& frame, bool columns, int at)
{
    QList<int> found;
    for (int i = 0; i < (columns ? frame.width() : frame.height()); ++i)
        if (frame.pixelColor(columns ? i : at, columns ? at : i) == QColor(200, 200, 200))
            found << i;
    return found;
}

} // namespace

// 1024 samples at 1 MHz give 512 bins 976.5625 Hz apart, bin k at (k + 1) of them, on 639
// pixels: 100 kHz ticks. In decibels every tick row is a 1-2-5 step of
// whole decibels from the channel's bottom level of -256 units.
void tst_Record::spectrumScales()
{
    auto source = testrecords::make(1, 1024, 5);
    for (const bool logarithmic : { false, true }) {
        auto spectrum = testrecords::make(1, 512, 1, QRect(0, 0, 639, 399));
        spectrum->header.clockKHz = 12000;
        spectrum->header.ticksPerSample = 12;
        WaveChannel* bins = spectrum->channel(0);
        QCOMPARE(bins->transformFrom(*source->channel(0), 0, 10, nullptr, logarithmic, nullptr), 0);
        spectrum->layout();
        QImage frame(640, 400, QImage::Format_RGB32);
        frame.fill(Qt::black);
        QPainter painter(&frame);
        drawRecordScales(painter, *spectrum, QRect(0, 0, 640, 400), true, logarithmic);
        painter.end();
        const QList<int> columns = tickPixels(frame, true, 398);
        QCOMPARE(columns.size(), 5);
        for (int k = 0; k < 5; ++k)
            QVERIFY(std::abs(columns[k] - ((k + 1) * 102.4 - 1) * bins->scaleX) <= 1);
        if (!logarithmic)
            continue;
        // The tick marks at the left edge, four pixels long: column 2 holds them.
        const QList<int> rows = tickPixels(frame, false, 2);
        QVERIFY(rows.size() >= 2);
        const double unit = bins->valueUnit;
        const double bottom = bins->baselineY - bins->zeroOffset;
        const double spacing = (rows[1] - rows[0]) * unit / bins->scaleY;
        const double decade = std::pow(10.0, std::floor(std::log10(spacing) + 1e-9));
        const double mantissa = std::round(spacing / decade);
        QVERIFY2(
            mantissa == 1 || mantissa == 2 || mantissa == 5, qPrintable(QString::number(spacing)));
        for (const int y : rows) {
            const double level = (bottom - y) * unit / bins->scaleY - 256 * unit;
            const double steps = level / (mantissa * decade);
            QVERIFY2(std::abs(steps - std::round(steps)) < 0.1, qPrintable(QString::number(level)));
        }
    }
}

QTEST_MAIN(tst_Record)
#include "test_record.moc"
