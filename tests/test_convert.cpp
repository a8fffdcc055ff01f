// The readouts' number formats and the status texts of a channel.
#include "convert.h"
#include "scales.h"
#include "support/records.h"
#include "wave_form.h"
#include "wave_stor.h"

#include <QClipboard>
#include <QImage>
#include <QPainter>
#include <QtTest>
#include <climits>

class tst_Convert : public QObject
{
    Q_OBJECT
private slots:
    void numberTexts();
    void statusTexts();
    void clipboardText_data();
    void clipboardText();
    void scaleTicks();
    void scalesFollowTheZoom();
    void spectrumScales();
};

void tst_Convert::numberTexts()
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

void tst_Convert::statusTexts()
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

void tst_Convert::clipboardText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::newRow("C") << "C"
                       << "VLX_TIMES:250 0 992 \nVLX_AMP:-19531.250000 -4.768372 -2441.406250 ";
    QTest::newRow("Russian") << "ru_RU"
                             << QString("VLX_TIMES:250 0 992 \nVLX_AMP:-19\u00a0531,250000 "
                                        "-4,768372 -2\u00a0441,406250 ");
}

void tst_Convert::clipboardText()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
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
    QCOMPARE(cursorValuesText(*record, QLocale(locale)), text);
    // The command puts it on the clipboard in the program's locale.
    QLocale::setDefault(QLocale(locale));
    copyCursorValues(*record);
    QLocale::setDefault(QLocale::c());
    QCOMPARE(QGuiApplication::clipboard()->text(), text);

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
void tst_Convert::scaleTicks()
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
void tst_Convert::scalesFollowTheZoom()
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
void tst_Convert::spectrumScales()
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

QTEST_MAIN(tst_Convert)
#include "test_convert.moc"
