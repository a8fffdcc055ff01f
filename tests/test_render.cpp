// Trace rendering on offscreen images: the fast column drawing against the straightforward
// one, joins, points, baselines, cursors, print rendering, polyline batches and the sine.
#include "record_view.h"
#include "support/records.h"
#include "support/reference_render.h"
#include "support/svg.h"
#include "wave_stor.h"

#include <QBuffer>
#include <QPainter>
#include <QPixmap>
#include <QSvgGenerator>
#include <QtTest>
#include <cmath>

namespace {

// The plot rectangle from (0, 0) to (right, bottom) inclusive.
QRect plot(int right, int bottom)
{
    return QRect(QPoint(0, 0), QPoint(right, bottom));
}

QImage blackImage(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

QImage drawWithProgram(WaveStore& record, const QSize& size)
{
    QImage image = blackImage(size);
    QPainter painter(&image);
    for (int i = 0; i < record.channelCount(); ++i)
        record.channel(i)->drawTrace(painter, record.scaleX > 2.0);
    return image;
}

QImage drawWithReference(WaveStore& record, const QSize& size)
{
    QImage image = blackImage(size);
    QPainter painter(&image);
    for (int i = 0; i < record.channelCount(); ++i)
        reference::drawTrace(painter, *record.channel(i), record.scaleX > 2.0);
    return image;
}

int countColor(const QImage& image, QRgb color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == color;
    return count;
}

} // namespace

class tst_Render : public QObject
{
    Q_OBJECT
private slots:
    void columnsMatchTheStraightforwardDrawing();
    void baselinesAndPoints();
    void cursorLineAndMark();
    void printAndSine();
    void polylineBatches();
};

// Every display mode, at several samples per pixel and pixels per sample, scrolled, clipped by
// a tall zoom and past the record's end; on an image and on a pixmap the program cannot write
// into directly.
void tst_Render::columnsMatchTheStraightforwardDrawing()
{
    const QSize hd(1920, 1080);
    const QSize small(640, 400);
    const QSize flat(800, 300);
    const struct
    {
        int samples;
        int first;
        int visible;
        int zoom;
        QSize size;
        int mode;
        int halfWidth;
    } cases[] = { { 163840, 0, 163840, 1000, hd, 0, 0 }, { 5000, 0, 1277, 1000, small, 0, 0 },
        { 70000, 31000, 1915, 1000, small, 0, 0 }, { 40000, 100, 30000, 9000, flat, 0, 0 },
        { 32769, 30000, 20000, 1000, small, 0, 0 }, { 5000, 10, 1275, 1000, small, 0, 0 },
        { 5000, 7, 214, 1000, small, 0, 0 }, { 163840, 0, 163840, 3000, hd, 3, 126 },
        { 70000, 31000, 1915, 1000, small, 2, 17 }, { 40000, 100, 30000, 9000, flat, 6, 3 },
        { 32769, 30000, 20000, 1000, small, 1, 0 }, { 5000, 0, 1277, 1000, small, 5, 0 },
        { 20000, 0, 20000, 8000, small, 4, 9 }, { 5000, 7, 214, 1000, small, 2, 4 } };
    for (const auto& c : cases) {
        auto record
            = testrecords::make(4, c.samples, 3, plot(c.size.width() - 1, c.size.height() - 1));
        record->setSmoothing(c.mode, c.halfWidth);
        record->header.firstVisible = c.first;
        record->header.visibleCount = c.visible;
        record->header.verticalZoom = quint16(c.zoom);
        record->layout();
        const QImage expected = drawWithReference(*record, c.size);
        QVERIFY2(drawWithProgram(*record, c.size) == expected,
            qPrintable(QString("mode %1, %2 of %3 from %4")
                           .arg(c.mode)
                           .arg(c.visible)
                           .arg(c.samples)
                           .arg(c.first)));
        QPixmap pixmap(c.size);
        pixmap.fill(Qt::black);
        {
            QPainter painter(&pixmap);
            for (int i = 0; i < record->channelCount(); ++i)
                record->channel(i)->drawTrace(painter, record->scaleX > 2.0);
        }
        QVERIFY(pixmap.toImage().convertToFormat(QImage::Format_RGB32) == expected);
    }
}

// The record drawn as its window draws it: each baseline a light grey row across the plot, and
// the samples' points (white) only above two pixels per sample.
void tst_Render::baselinesAndPoints()
{
    const auto drawn = [](WaveStore& record, QSize size) {
        QImage image = blackImage(size);
        QPainter painter(&image);
        record.draw(painter);
        return image;
    };
    auto record = testrecords::make(2, 3000, 4, plot(300, 200));
    for (int i = 0; i < 2; ++i)
        record->channel(i)->cursorEnabled = false;
    const QImage image = drawn(*record, QSize(301, 201));
    QCOMPARE(record->channel(0)->baselineY, 50);
    QCOMPARE(record->channel(1)->baselineY, 150);
    for (int i = 0; i < 2; ++i)
        for (int x = 0; x <= 300; ++x)
            QCOMPARE(image.pixel(x, record->channel(i)->baselineY), QColor(Qt::lightGray).rgb());

    const QRgb white = qRgb(255, 255, 255);
    record = testrecords::make(1, 1000, 2, plot(400, 200));
    record->header.visibleCount = 200; // scaleX = 399 / 199, just above 2
    record->layout();
    QVERIFY(record->scaleX > 2.0);
    QVERIFY(countColor(drawn(*record, QSize(400, 200)), white) > 150);
    record->header.visibleCount = 201; // 399 / 200 is below 2
    record->layout();
    QCOMPARE(countColor(drawn(*record, QSize(400, 200)), white), 0);
}

void tst_Render::cursorLineAndMark()
{
    auto record = testrecords::make(1, 3000, 5, plot(300, 200));
    WaveChannel* channel = record->channel(0);
    channel->cursorColor = QColor(1, 2, 3);
    channel->cursorSample = 1500;
    QImage image = blackImage(QSize(301, 201));
    QPainter painter(&image);
    channel->drawCursor(painter);
    painter.end();
    const int x = channel->cursorX();
    const int y = channel->valueToY(channel->sample(1500));
    const QRgb cursor = qRgb(1, 2, 3);
    QCOMPARE(x, 150); // 1500 of 3000 samples across 0 ... 300
    for (int row = 0; row <= 200; ++row)
        QCOMPARE(image.pixel(x, row), cursor);
    for (int d = -5; d <= 5; ++d) {
        if (y + d < 0 || y + d > 200)
            continue;
        QCOMPARE(image.pixel(x + d, y + d), cursor);
        QCOMPARE(image.pixel(x - d, y + d), cursor);
    }
    QCOMPARE(image.pixel(x + 7, y + 6), qRgb(0, 0, 0));
    // Scrolled out of view, the cursor is not drawn at all.
    record->header.visibleCount = 1000;
    record->layout();
    channel->cursorSample = 2000;
    image.fill(Qt::black);
    painter.begin(&image);
    channel->drawCursor(painter);
    painter.end();
    QCOMPARE(countColor(image, cursor), 0);
}

void tst_Render::printAndSine()
{
    auto record = testrecords::make(4, 50000, 6, plot(400, 300));
    record->header.sineOverlay = 1;
    QImage image(401, 301, QImage::Format_RGB32);
    image.fill(Qt::white);
    printRendering = true;
    {
        QPainter painter(&image);
        record->draw(painter);
    }
    printRendering = false;
    const int blacks = countColor(image, qRgb(0, 0, 0));
    QVERIFY(blacks > 1000);
    QCOMPARE(blacks + countColor(image, qRgb(255, 255, 255)), 401 * 301);

    record = testrecords::make(1, 20000, 8, plot(400, 300));
    record->channel(0)->traceColor = Qt::red;
    record->channel(0)->baselineEnabled = false;
    record->channel(0)->cursorEnabled = false;
    record->header.sineOverlay = 1;
    record->header.firstVisible = 300;
    record->header.visibleCount = 10000;
    record->layout();
    image = blackImage(QSize(401, 301));
    {
        QPainter painter(&image);
        record->draw(painter);
    }
    const double phaseStep = 100.0 / 12000000.0 * 2 * M_PI * 50;
    const double amplitude = 0.45 * 300;
    auto yAt = [&](int x) {
        return 150
            - int(std::lround(amplitude * std::sin(phaseStep * 300 + x * phaseStep * 10000 / 400)));
    };
    const QRgb white = qRgb(255, 255, 255);
    QCOMPARE(image.pixel(0, yAt(0)), white);
    QCOMPARE(image.pixel(400, yAt(400)), white);
    QCOMPARE(image.pixel(200, yAt(200)), white);
}

void tst_Render::polylineBatches()
{
    auto record = testrecords::make(1, 8000, 7, plot(5999, 399));
    record->header.firstVisible = 1000;
    record->header.visibleCount = 5000;
    record->layout();
    QCOMPARE(record->scaleX, 5998.0 / 4999.0);
    QBuffer svg;
    QSvgGenerator device;
    device.setOutputDevice(&svg);
    device.setSize(QSize(6000, 400));
    printRendering = true;
    {
        QPainter painter(&device);
        record->channel(0)->drawTrace(painter, false);
    }
    printRendering = false;
    const QList<QPolygon> lines = testsvg::polylines(svg.data());
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0].size(), 2000);
    QCOMPARE(lines[1].size(), 2000);
    // 5001 points: the drawing stops after the first one at or beyond the right edge.
    QCOMPARE(lines[2].size(), 5001 - 2000 - 1999 + 1);
    QCOMPARE(lines[1].first(), lines[0].last());
    QCOMPARE(lines[2].first(), lines[1].last());
    QCOMPARE(lines[0].first().x(), 0); // the trace starts at the first visible sample
    QVERIFY(lines[2].last().x() >= 5998);
}

QTEST_MAIN(tst_Render)
#include "test_render.moc"
