// The settings file "adc.ini": its keys, defaults and range rules. Depends on data.h and ae_hits.h.
#pragma once

#include "ae_hits.h"
#include "data.h"
#include "session_series.h"

#include <QColor>
#include <QString>

// What the AE settings can hold (the file and «Параметры АЭ» alike): the floating threshold's
// margin (dB), the high-pass cut-off (kHz, half the highest sampling frequency), the
// preamplifier's gain (dB), the wave speed (m/s), and up to four sensors' places.
constexpr double minSpeedMps = 1;
constexpr double maxSpeedMps = 20000;
constexpr double maxMarginDb = 60;
constexpr double maxHighPassKhz = 500;
constexpr double maxPreampDb = 100;
constexpr int maxSensors = 4;

// The hit definitions' customary values, two sensors 1 m apart on a path of 3000 m/s, and the
// coincidence window their spacing over the speed.
HitQuery defaultAeQuery();

// The acoustic-emission settings, where they are kept (the main window) and where they are
// stored alike: the hit definitions, events and location (the span and channels are the
// window's), whether the threshold is entered and shown in dB_AE, the floating threshold and
// its margin, and whether sources are located. The query's sensors hold the places in the
// plane (none: on the line of the spacing and pair); its floatingDb is left to searched().
struct AeSettings
{
    HitQuery query = defaultAeQuery();
    bool decibels = false;
    bool floating = true; // the threshold floats marginDb over each channel's background
    double marginDb = 16;
    bool location = true;
    bool plane = false; // located in the plane of the query's sensors (kept while on the line)

    // The query a search is made with: the margin as its floating threshold when that is on,
    // no sensors on the line, no sensors and no spacing when location is off.
    HitQuery searched() const;
};

// Everything the settings file holds, in memory.
struct SettingsValues
{
    bool yAxisVolts = false;
    bool forAll = false;
    AcqParams acq = {};
    QColor graphColors[4];
    QColor cursorColors[4];
    QColor textColors[4];
    QColor backColors[4];
    QString comName;
    qint32 baudRate = 0;
    qint64 replacedBaud = 0; // the file's rate when it was outside 1200 ... 115200 and replaced
    int windowFunction = 0;
    QString oldDir;
    AeSettings ae; // group "AE"
    bool scales = false; // group "VIEW": scales, grid and channel labels over the records
    bool pageLabels = false; // group "PRINT": printed pages carry titles and scales
    SeriesPlan series; // group "SERIES": the last series asked for
};

extern const char* const settingsFileName; // "adc.ini"

// The application directory in native separators ending in one separator; empty stays empty
// (the file is then looked up in the working directory).
QString settingsDirectory(const QString& applicationDir);

// A colour as red + green * 256 + blue * 65536; alpha is not stored.
qint64 packColor(const QColor& color);
QColor unpackColor(qint64 value);

// Reads the file in dir. The colours of values are the defaults of absent colour keys; every
// other absent or unreadable key takes its fixed default.
void readSettings(const QString& dir, SettingsValues& values);
// Writes every key; false when the file could not be written.
bool writeSettings(const QString& dir, const SettingsValues& values);
