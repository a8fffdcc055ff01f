#include "data.h"

AcqParams acqParams = {};

QColor traceColors[colorTableSize] = { QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255),
    QColor(160, 160, 0), QColor(0, 160, 160) };
QColor cursorColors[colorTableSize] = { QColor(255, 64, 64), QColor(64, 255, 64),
    QColor(64, 64, 255), QColor(255, 255, 64), QColor(64, 255, 255) };

QColor labelTextColors[statusLabelCount] = { Qt::black, Qt::black, Qt::black, Qt::black };
QColor labelBackColors[statusLabelCount]
    = { QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0) };

QString comPortName;
qint32 comBaudRate = 0;

int fftWindowFunction = 0;
bool fftLogScale = false;
