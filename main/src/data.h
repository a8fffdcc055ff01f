// Program-wide data: the acquisition parameter set, colour tables, serial and FFT settings.
// Depends on QtGui only.
#pragma once

#include <QColor>
#include <QString>
#include <QtGlobal>

// The acquisition parameter set, sent to the unit as this exact 13-byte image
// (little-endian, as on every machine the program runs on).
#pragma pack(push, 1)
struct AcqParams
{
    quint16 reserved; // always 0
    quint16 halfCount; // samples per channel / 2
    quint16 freqCode; // sampling frequency = 3000000 / (freqCode + 1) Hz
    quint8 gains[4]; // gain exponents of the group's inputs 1-4 (factor 2^g)
    quint8 muxGroup; // inputs 4*g+1 ... 4*g+4
    quint8 sync; // 1 external, 0 internal synchronisation
    quint8 detector; // 1 detector on
};
#pragma pack(pop)
static_assert(sizeof(AcqParams) == 13, "AcqParams is the unit's 13-byte frame");

extern AcqParams acqParams;

constexpr int colorTableSize = 5;
// Default trace and cursor colours by channel index; the colour commands and the settings
// file change entries 0 to 3.
extern QColor traceColors[colorTableSize];
extern QColor cursorColors[colorTableSize];

constexpr int statusLabelCount = 4;
// Text and background colours of the status labels of cursors 1 to 4.
extern QColor labelTextColors[statusLabelCount];
extern QColor labelBackColors[statusLabelCount];

// Serial device and line rate (bit/s).
extern QString comPortName;
extern qint32 comBaudRate;

// Window function of the forward transform (0 none ... 5) and its logarithmic Y flag.
extern int fftWindowFunction;
extern bool fftLogScale;
