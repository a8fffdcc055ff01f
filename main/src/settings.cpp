#include "settings.h"

#include "convert.h"

#include <QtMisc/qtm_math.h>

#include <QDir>
#include <QLocale>
#include <QSettings>
#include <algorithm>
#include <cmath>

const char* const settingsFileName = "adc.ini";

HitQuery defaultAeQuery()
{
    HitQuery query;
    query.spacingMetres = 1;
    query.speedMps = 3000;
    return query;
}

HitQuery AeSettings::searched() const
{
    HitQuery searched = query;
    searched.settings.floatingDb = floating ? marginDb : -1;
    if (!plane)
        searched.sensors.clear();
    if (!location) {
        searched.spacingMetres = 0;
        searched.sensors.clear();
    }
    return searched;
}

namespace {

namespace key {
const char* const waveGroup = "WAVE_ADC";
const char* const yAxis = "YAxis";
const char* const forAll = "ForAll";
const char* const numItems = "NumItems";
const char* const waitA = "WaitA";
const char* const sync = "Sync";
const char* const detector = "Detector";
const char* const mux = "Mux";
const char* const gain = "Gain";
const char* const colorGroup = "COLOR";
const char* const graphColor = "GrColor";
const char* const cursorColor = "CursColor";
const char* const textColor = "TextColor";
const char* const backColor = "BackColor";
const char* const comGroup = "COM";
const char* const comName = "ComName";
const char* const port = "Port";
const char* const baud = "Baud";
const char* const fftGroup = "FFT";
const char* const winFun = "WinFun";
const char* const othersGroup = "OTHERS";
const char* const oldDir = "OldDir";
const char* const aeGroup = "AE";
const char* const threshold = "Threshold";
const char* const thresholdUnit = "ThresholdUnit";
const char* const hdt = "HDT";
const char* const hlt = "HLT";
const char* const pdt = "PDT";
const char* const spacing = "Spacing";
const char* const speed = "Speed";
const char* const window = "Window";
const char* const pair = "Pair";
const char* const floating = "FloatingThreshold";
const char* const margin = "FloatingMargin";
const char* const highPass = "HighPass";
const char* const preamp = "Preamp";
const char* const sensors = "Sensors";
const char* const plane = "Plane";
const char* const location = "Location";
const char* const viewGroup = "VIEW";
const char* const scales = "Scales";
const char* const printGroup = "PRINT";
const char* const labels = "Labels";
const char* const seriesGroup = "SERIES";
const char* const folder = "Folder";
const char* const captures = "Captures";
const char* const pause = "Pause";
const char* const onlyWithHits = "OnlyWithHits";
} // namespace key

// What the series dialog offers: up to a million captures, pauses up to a day.
constexpr qint64 maxSeriesCaptures = 1000000;
constexpr qint64 maxSeriesPause = 86400;

constexpr qint64 defaultNumItems = 100000;
constexpr qint64 defaultWaitA = 24;
constexpr qint64 defaultDetector = 1;
constexpr qint32 minBaud = 1200;
constexpr qint32 maxBaud = 115200;
constexpr qint64 windowFunctionCount = 6;
// What the unit can take: input groups 1-4 ... 29-32, a 16-bit half count (gains: maxGainCode).
constexpr int maxMuxGroup = 7;
// A settings file edited by hand gets what the parameters dialog can show and keep, so that the
// run sends what the dialog shows: half counts 1 ... 65534 (131068 samples), frequency codes
// 2 ... 65534 (1 MHz ... 45.8 Hz).
constexpr qint64 maxHalfCount = 65534;
constexpr qint64 minFreqCode = 2;
constexpr qint64 maxFreqCode = 65534;

QString indexed(const char* name, int index)
{
    return QLatin1String(name) + QString::number(index);
}

// The key's integer value, or the default when it is absent or not a number.
qint64 readInt(const QSettings& file, const QString& name, qint64 fallback)
{
    bool ok = false;
    const qint64 value = file.value(name).toLongLong(&ok);
    return ok ? value : fallback;
}

qint64 readInt(const QSettings& file, const char* name, qint64 fallback)
{
    return readInt(file, QLatin1String(name), fallback);
}

// The key's value brought to the nearest of low ... high, which is what the unit can take.
quint8 readInRange(const QSettings& file, const QString& name, qint64 fallback, int low, int high)
{
    return quint8(qtmisc::clampToRange(readInt(file, name, fallback), low, high));
}

// A switch of the unit: any non-zero value is on (1).
quint8 readSwitch(const QSettings& file, const char* name, qint64 fallback)
{
    return readInt(file, name, fallback) != 0 ? 1 : 0;
}

// The key's text as typed: an unquoted value with commas ("2,3", "0,5") comes back from the
// INI reader as a list, which is joined again.
QString keyText(const QSettings& file, const char* name)
{
    const QVariant value = file.value(QLatin1String(name));
    return value.userType() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                      : value.toString();
}

// The key's number brought into low ... high; the default when it is absent or not a finite
// number. A decimal comma, as operators type under their locale, counts as the point.
double readNumber(const QSettings& file, const char* name, double fallback, double low,
    double high)
{
    QString text = keyText(file, name);
    if (text.count(QLatin1Char(',')) == 1 && !text.contains(QLatin1Char('.')))
        text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::clamp(value, low, high) : fallback;
}

QString numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// One place "x,y" in metres, or "x,x,y,y" typed with decimal commas ("0,5,1,25" is 0.5, 1.25).
bool readPlace(const QString& item, QPointF& place)
{
    const QStringList parts = item.split(QLatin1Char(','));
    QString x;
    QString y;
    if (parts.size() == 2) {
        x = parts[0];
        y = parts[1];
    } else if (parts.size() == 4) {
        x = parts[0] + '.' + parts[1];
        y = parts[2] + '.' + parts[3];
    } else {
        return false;
    }
    bool xOk = false;
    bool yOk = false;
    place = QPointF(x.trimmed().toDouble(&xOk), y.trimmed().toDouble(&yOk));
    return xOk && yOk && std::fabs(place.x()) <= maxSensorMetres
        && std::fabs(place.y()) <= maxSensorMetres;
}

// The sensors' places "x1,y1;x2,y2;x3,y3[;x4,y4]"; none (the line) when the text is empty or
// not three or four distinct places.
QList<QPointF> readPlaces(const QString& text)
{
    QList<QPointF> places;
    for (const QString& item : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        QPointF place;
        if (!readPlace(item, place) || places.contains(place))
            return {};
        places << place;
    }
    return places.size() >= 3 && places.size() <= maxSensors ? places : QList<QPointF>();
}

QString placesText(const QList<QPointF>& places)
{
    QStringList items;
    for (const QPointF& place : places)
        items << numberText(place.x()) + ',' + numberText(place.y());
    return items.join(QLatin1Char(';'));
}

// The hit definitions and the threshold, within what the parameters dialog takes.
void readHitDefinitions(QSettings& file, AeSettings& settings)
{
    const AeSettings defaults;
    const HitSettings& fallback = defaults.query.settings;
    HitSettings& hits = settings.query.settings;
    hits.thresholdVolts = readNumber(
        file, key::threshold, fallback.thresholdVolts, minThresholdVolts, maxThresholdVolts);
    settings.decibels
        = file.value(QLatin1String(key::thresholdUnit)).toString() == QLatin1String("dB");
    hits.hdtMicros = readNumber(file, key::hdt, fallback.hdtMicros, 1, 1e6);
    hits.hltMicros = readNumber(file, key::hlt, fallback.hltMicros, 0, 1e6);
    hits.pdtMicros = readNumber(file, key::pdt, fallback.pdtMicros, 1, 1e6);
    hits.highPassKhz = readNumber(file, key::highPass, 0, 0, maxHighPassKhz);
    settings.floating = readSwitch(file, key::floating, defaults.floating) != 0;
    settings.marginDb = readNumber(file, key::margin, defaults.marginDb, 0, maxMarginDb);
    settings.query.preampDb = readNumber(file, key::preamp, 0, 0, maxPreampDb);
}

// Events and location: the spacing, speed, pair and window, the places in the plane.
void readLocation(QSettings& file, AeSettings& settings)
{
    const AeSettings defaults;
    const HitQuery& fallback = defaults.query;
    HitQuery& ae = settings.query;
    ae.spacingMetres = readNumber(file, key::spacing, fallback.spacingMetres, 1e-3, 1e3);
    ae.speedMps = readNumber(file, key::speed, fallback.speedMps, minSpeedMps, maxSpeedMps);
    // A negative window is the spacing over the speed.
    const double window = readNumber(file, key::window, -1, -1, 1e6);
    ae.windowSeconds = window < 0 ? -1 : window * 1e-6;
    const QStringList pair = keyText(file, key::pair).split(',');
    const int a = pair.value(0).toInt();
    const int b = pair.value(1).toInt();
    const bool valid = pair.size() == 2 && a >= 1 && b >= 1 && a <= 5 && b <= 5 && a != b;
    ae.pair[0] = valid ? a - 1 : fallback.pair[0];
    ae.pair[1] = valid ? b - 1 : fallback.pair[1];
    ae.sensors = readPlaces(keyText(file, key::sensors));
    settings.location = readSwitch(file, key::location, defaults.location) != 0;
    // Files written before the key locate in the plane whenever they hold places.
    settings.plane = !ae.sensors.isEmpty() && readSwitch(file, key::plane, 1) != 0;
}

void readAeGroup(QSettings& file, AeSettings& settings)
{
    file.beginGroup(QLatin1String(key::aeGroup));
    readHitDefinitions(file, settings);
    readLocation(file, settings);
    file.endGroup();
}

void writeAeGroup(QSettings& file, const AeSettings& settings)
{
    const HitQuery& ae = settings.query;
    file.beginGroup(QLatin1String(key::aeGroup));
    file.setValue(QLatin1String(key::threshold), numberText(ae.settings.thresholdVolts));
    file.setValue(QLatin1String(key::thresholdUnit), settings.decibels ? "dB" : "V");
    file.setValue(QLatin1String(key::hdt), numberText(ae.settings.hdtMicros));
    file.setValue(QLatin1String(key::hlt), numberText(ae.settings.hltMicros));
    file.setValue(QLatin1String(key::pdt), numberText(ae.settings.pdtMicros));
    file.setValue(QLatin1String(key::spacing), numberText(ae.spacingMetres));
    file.setValue(QLatin1String(key::speed), numberText(ae.speedMps));
    file.setValue(QLatin1String(key::window),
        numberText(ae.windowSeconds < 0 ? -1 : ae.windowSeconds * 1e6));
    file.setValue(QLatin1String(key::pair),
        QStringLiteral("%1,%2").arg(ae.pair[0] + 1).arg(ae.pair[1] + 1));
    file.setValue(QLatin1String(key::floating), settings.floating ? 1 : 0);
    file.setValue(QLatin1String(key::margin), numberText(settings.marginDb));
    file.setValue(QLatin1String(key::highPass), numberText(ae.settings.highPassKhz));
    file.setValue(QLatin1String(key::preamp), numberText(ae.preampDb));
    file.setValue(QLatin1String(key::sensors), placesText(ae.sensors));
    file.setValue(QLatin1String(key::location), settings.location ? 1 : 0);
    file.setValue(QLatin1String(key::plane), settings.plane ? 1 : 0);
    file.endGroup();
}

QString iniPath(const QString& dir)
{
    return dir + QLatin1String(settingsFileName);
}

void readWaveGroup(QSettings& file, SettingsValues& values)
{
    file.beginGroup(QLatin1String(key::waveGroup));
    values.yAxisVolts = readInt(file, key::yAxis, 0) != 0;
    values.forAll = readInt(file, key::forAll, 0) != 0;
    // The count the unit is asked for is a 16-bit half: a larger one is the largest, never
    // its low 16 bits; below one pair of samples the run would record nothing.
    values.acq.halfCount = quint16(
        qtmisc::clampToRange(readInt(file, key::numItems, defaultNumItems) / 2, 1, maxHalfCount));
    values.acq.freqCode = quint16(
        qtmisc::clampToRange(readInt(file, key::waitA, defaultWaitA), minFreqCode, maxFreqCode));
    values.acq.sync = readSwitch(file, key::sync, 0);
    values.acq.detector = readSwitch(file, key::detector, defaultDetector);
    values.acq.muxGroup = readInRange(file, QLatin1String(key::mux), 0, 0, maxMuxGroup);
    for (int i = 0; i < 4; ++i)
        values.acq.gains[i] = readInRange(file, indexed(key::gain, i), 0, 0, maxGainCode);
    file.endGroup();
}

void readColorGroup(QSettings& file, SettingsValues& values)
{
    file.beginGroup(QLatin1String(key::colorGroup));
    auto readColor = [&file](const char* name, int i, QColor& color) {
        color = unpackColor(readInt(file, indexed(name, i), packColor(color)));
    };
    for (int i = 0; i < 4; ++i) {
        readColor(key::graphColor, i, values.graphColors[i]);
        readColor(key::cursorColor, i, values.cursorColors[i]);
        readColor(key::textColor, i, values.textColors[i]);
        readColor(key::backColor, i, values.backColors[i]);
    }
    file.endGroup();
}

void readComGroup(QSettings& file, SettingsValues& values)
{
    file.beginGroup(QLatin1String(key::comGroup));
    values.comName = file.value(QLatin1String(key::comName)).toString();
    if (values.comName.isEmpty()) {
        const qint64 port = qMax<qint64>(readInt(file, key::port, 0), 1);
        values.comName = QLatin1String("COM") + QString::number(port);
    }
    const qint64 baud = readInt(file, key::baud, 0);
    values.baudRate = (baud < minBaud || baud > maxBaud) ? maxBaud : qint32(baud);
    values.replacedBaud
        = values.baudRate == baud || !file.contains(QLatin1String(key::baud)) ? 0 : baud;
    file.endGroup();
}

} // namespace

QString settingsDirectory(const QString& applicationDir)
{
    QString dir = QDir::toNativeSeparators(applicationDir);
    if (!dir.isEmpty() && !dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    return dir;
}

qint64 packColor(const QColor& color)
{
    return qint64(color.red()) + qint64(color.green()) * 256 + qint64(color.blue()) * 65536;
}

QColor unpackColor(qint64 value)
{
    const auto bits = quint64(value);
    return QColor(int(bits & 255), int((bits >> 8) & 255), int((bits >> 16) & 255), 255);
}

void readSettings(const QString& dir, SettingsValues& values)
{
    QSettings file(iniPath(dir), QSettings::IniFormat);
    readWaveGroup(file, values);
    readColorGroup(file, values);
    readComGroup(file, values);

    file.beginGroup(QLatin1String(key::fftGroup));
    const qint64 winFun = readInt(file, key::winFun, 0);
    values.windowFunction = (winFun >= 0 && winFun < windowFunctionCount) ? int(winFun) : 0;
    file.endGroup();

    file.beginGroup(QLatin1String(key::othersGroup));
    values.oldDir = file.value(QLatin1String(key::oldDir)).toString();
    file.endGroup();

    readAeGroup(file, values.ae);
    file.beginGroup(QLatin1String(key::viewGroup));
    values.scales = readSwitch(file, key::scales, 0) != 0;
    file.endGroup();
    file.beginGroup(QLatin1String(key::printGroup));
    values.pageLabels = readSwitch(file, key::labels, 0) != 0;
    file.endGroup();
    file.beginGroup(QLatin1String(key::seriesGroup));
    values.series.folder
        = QDir::fromNativeSeparators(file.value(QLatin1String(key::folder)).toString());
    values.series.captures = int(qtmisc::clampToRange(
        readInt(file, key::captures, SeriesPlan().captures), 0, maxSeriesCaptures));
    values.series.pauseSeconds
        = int(qtmisc::clampToRange(readInt(file, key::pause, 0), 0, maxSeriesPause));
    values.series.onlyWithHits = readSwitch(file, key::onlyWithHits, 0) != 0;
    file.endGroup();
}

bool writeSettings(const QString& dir, const SettingsValues& values)
{
    QSettings file(iniPath(dir), QSettings::IniFormat);

    file.beginGroup(QLatin1String(key::waveGroup));
    file.setValue(QLatin1String(key::yAxis), values.yAxisVolts ? 1 : 0);
    file.setValue(QLatin1String(key::forAll), values.forAll ? 1 : 0);
    file.setValue(QLatin1String(key::numItems), 2 * int(values.acq.halfCount));
    file.setValue(QLatin1String(key::waitA), int(values.acq.freqCode));
    file.setValue(QLatin1String(key::sync), int(values.acq.sync));
    file.setValue(QLatin1String(key::detector), int(values.acq.detector));
    file.setValue(QLatin1String(key::mux), int(values.acq.muxGroup));
    for (int i = 0; i < 4; ++i)
        file.setValue(indexed(key::gain, i), int(values.acq.gains[i]));
    file.endGroup();

    file.beginGroup(QLatin1String(key::colorGroup));
    for (int i = 0; i < 4; ++i) {
        file.setValue(indexed(key::graphColor, i), packColor(values.graphColors[i]));
        file.setValue(indexed(key::cursorColor, i), packColor(values.cursorColors[i]));
        file.setValue(indexed(key::textColor, i), packColor(values.textColors[i]));
        file.setValue(indexed(key::backColor, i), packColor(values.backColors[i]));
    }
    file.endGroup();

    file.beginGroup(QLatin1String(key::comGroup));
    file.setValue(QLatin1String(key::comName), values.comName);
    file.setValue(QLatin1String(key::baud), values.baudRate);
    file.endGroup();

    file.beginGroup(QLatin1String(key::fftGroup));
    file.setValue(QLatin1String(key::winFun), values.windowFunction);
    file.endGroup();

    file.beginGroup(QLatin1String(key::othersGroup));
    file.setValue(QLatin1String(key::oldDir), QDir::toNativeSeparators(values.oldDir));
    file.endGroup();

    writeAeGroup(file, values.ae);
    file.beginGroup(QLatin1String(key::viewGroup));
    file.setValue(QLatin1String(key::scales), values.scales ? 1 : 0);
    file.endGroup();
    file.beginGroup(QLatin1String(key::printGroup));
    file.setValue(QLatin1String(key::labels), values.pageLabels ? 1 : 0);
    file.endGroup();
    file.beginGroup(QLatin1String(key::seriesGroup));
    file.setValue(QLatin1String(key::folder), QDir::toNativeSeparators(values.series.folder));
    file.setValue(QLatin1String(key::captures), values.series.captures);
    file.setValue(QLatin1String(key::pause), values.series.pauseSeconds);
    file.setValue(QLatin1String(key::onlyWithHits), values.series.onlyWithHits ? 1 : 0);
    file.endGroup();

    file.sync();
    return file.status() == QSettings::NoError;
}
