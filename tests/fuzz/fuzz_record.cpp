// Fuzz target: reads a record from the input, lays it out, paints it on screen and for print,
// and computes what the information dialog shows. No input may crash, hang or corrupt memory.
#include "fmain.h"
#include "record_view.h"
#include "wave_stor.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_record";
    static char* argv[] = { name, nullptr };
    static QGuiApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    WaveStore record(QRect(QPoint(0, 0), QPoint(319, 199)));
    if (!readRaw(record, buffer))
        return 0;
    QImage screen(320, 200, QImage::Format_RGB32);
    screen.fill(Qt::black);
    {
        QPainter painter(&screen);
        record.draw(painter);
    }
    printRendering = true;
    {
        QImage paper(160, 100, QImage::Format_RGB32);
        QPainter painter(&paper);
        record.setPlotRect(QRect(QPoint(0, 0), QPoint(159, 99)));
        record.draw(painter);
    }
    printRendering = false;
    const QStringList values = recordInfoValues(record);
    return values.size() == 8 ? 0 : 1;
}
