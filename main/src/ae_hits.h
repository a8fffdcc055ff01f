// Acoustic-emission hits in a record: threshold crossings grouped by the hit definition time,
// their features, onsets refined by an Akaike picker, events across channels, the location of
// a source between two sensors or in the plane of three or four, and the wave speed fitted to
// sources at a known point. Depends on the record model only.
#pragma once

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <string>

class WaveStore;

// The thresholds that can be set: 1 uV (0 dB_AE) ... 10 V (140 dB_AE).
constexpr double minThresholdVolts = 1e-6;
constexpr double maxThresholdVolts = 10;

// The floating threshold never lies under this many codes.
constexpr double floatingFloorCodes = 1.5;

// The customary hit definitions, in microseconds, and the threshold in volts (of the values the
// readouts show: detector data counted from -128, without polarity), fixed or floating over
// each channel's background. Ordinary data is searched with its background mean taken off,
// and through a high-pass filter when one is set; the stored samples stay as they are.
struct HitSettings
{
    double thresholdVolts = 0.001;
    double hdtMicros = 800; // a hit ends when no crossing came for this long
    double hltMicros = 1000; // after a hit's end, crossings this long start no new one
    double pdtMicros = 200; // a peak stands when no larger one came this long after it
    double floatingDb = -1; // 0 or more: the threshold lies this far over the background RMS
    double highPassKhz = 0; // 0: no filter
};

// A channel's background, measured where no hit is (the quietest of its stretches), and
// the threshold its hits were searched with; with a fixed threshold, what misleads about it.
struct ChannelBackground
{
    enum Warning { belowOneCode = 1, belowNoise = 2, aboveFullScale = 4 };
    double meanVolts = 0;
    double rmsVolts = 0; // about the mean
    double thresholdVolts = 0;
    int warnings = 0;
};

struct Hit
{
    int channel = 0; // 0-based
    int arrival = 0; // sample of the first crossing
    int onset = 0; // refined onset (Akaike picker), at or before the arrival
    int peak = 0; // sample of the peak
    int last = 0; // sample of the last crossing
    double peakVolts = 0;
    int counts = 0; // positive-going crossings of the threshold
    double energy = 0; // sum of v^2 dt over arrival ... last, V^2 s
    double backgroundRms = 0; // volts, over the samples before the arrival
    bool clipped = false; // a sample of the hit lies at the end of the codes
    double peakHz = -1; // of the hit's samples' spectrum; negative when not worked out
    double centroidHz = -1;
};

// dB_AE of a voltage at the unit's input, referred to the sensor ahead of a preamplifier of
// preampDb: 20 log10(V / 1 uV) - preampDb; and its inverse.
double decibelsAe(double volts, double preampDb = 0);
double voltsOfDecibelsAe(double decibels, double preampDb = 0);

// Whether the threshold lies beyond what channel's codes can reach at its gain (128 codes of
// ordinary data, 255 units of detector data): such a channel never registers a hit.
bool thresholdBeyondScale(const WaveStore& record, int channel, double thresholdVolts);

// The hits of channel over samples first ... first + count - 1, in order of arrival; the
// channel's background and threshold into background when given.
QList<Hit> findHits(const WaveStore& record, int channel, int first, int count,
    const HitSettings& settings, ChannelBackground* background = nullptr);

// The peak and centroid frequencies of samples first ... last of channel, through the
// spectrum's transform of at most 4096 of them with their mean taken off.
void hitFrequencies(const WaveStore& record, int channel, int first, int last, double& peakHz,
    double& centroidHz);

// The onset k + 1 in codes[0 .. n-1], at most latest, minimising
// k log var(x[0..k]) + (n - k - 1) log var(x[k+1 .. n-1]); of the first maxAkaikeSamples codes
// when there are more.
constexpr int maxAkaikeSamples = 65536;
int akaikeOnset(const qint8* codes, int n, int latest);

// Hits on different channels whose onsets lie within window seconds of an event's first hit's
// belong to that event (one hit a channel); the events' numbers, 0-based, hit by hit, for hits
// sorted by arrival.
QList<int> groupEvents(const QList<Hit>& hits, double window, double rate);

// The source position from sensor a (metres) of an event whose first hits on a and b came at
// ta and tb: (D - c (tb - ta)) / 2; inside the sensors when 0 <= x <= D.
double linearPosition(double ta, double tb, double spacing, double speed);

// A source in the plane from its arrival times at sensors (three or more, seconds and metres):
// least squares on the times' differences, by damped Gauss-Newton descents from the best
// points of a grid over the sensors' surroundings, then once more from the best fix with each
// time weighed by weights (none: alike); the residual is the speed times the (weighted) RMS
// of the times' misfit, in metres. A descent whose fix lies on the grid and misses the onsets
// by enoughSeconds RMS or less ends the grid's search.
struct PlanarFix
{
    QPointF position;
    double residualMetres = 0;
};
PlanarFix planarPosition(const QList<QPointF>& sensors, const QList<double>& times, double speed,
    double enoughSeconds = 0, const QList<double>& weights = {});

// The smallest rectangle holding the places (of no size for one place; y grows with top()).
QRectF boundingBox(const QList<QPointF>& places);

// Sensors' places lie within this many metres of 0.
constexpr double maxSensorMetres = 1000;

// What keeps places from serving planar location, in words; empty when they serve: three or
// more within maxSensorMetres of 0, no two at one place, not all on one line.
QString planarProblem(const QList<QPointF>& places);

// What is asked of a record's hits: the definitions, the channels (0-based; empty for all),
// the span, and for events and location the coincidence window, the wave speed, and either
// the sensors' spacing and the pair of channels located between, or the sensors' places in the
// plane (three or four: channel 1's first).
struct HitQuery
{
    HitSettings settings;
    QList<int> channels;
    int first = 0;
    int count = -1; // -1: to the end of the record
    double windowSeconds = -1; // negative: the sensors' farthest distance over the speed, and
                               // a margin for the onsets and the sampling
    double spacingMetres = 0; // 0: no linear location
    double speedMps = 3000;
    int pair[2] = { 0, 1 };
    QList<QPointF> sensors; // three or more: planar location
    double preampDb = 0; // dB_AE refer to the sensor ahead of this gain
    bool frequencies = true; // peak and centroid frequency of every hit

    bool planar() const { return sensors.size() >= 3 && speedMps > 0; }
    bool locates() const { return planar() || (spacingMetres > 0 && speedMps > 0); }
};

// The coincidence window of a query at rate: the one asked for, or the time the wave takes
// between the farthest sensors with a tenth more and ten samples for the onsets' uncertainty.
double coincidenceWindow(const HitQuery& query, double rate);

// A hit as tables show it: its event, its onset after the event's earliest, and the event's
// source: on the line from the pair's first sensor (when both were hit), or in the plane (with
// three or more sensors hit; with two, on the line between them), and its zone, the channel of
// the event's first-hit sensor.
struct HitRow
{
    Hit hit;
    int event = 0; // 0-based
    double dtSeconds = 0;
    bool located = false;
    double positionMetres = 0; // linear location
    bool inPlane = false; // planar location: x and y hold the source
    double x = 0;
    double y = 0;
    double residualMetres = -1; // negative: none (two sensors)
    int zone = -1; // 0-based channel; -1 when no located sensor was hit
};

// What a search found besides its rows: each channel's background and threshold (by channel;
// channels not searched hold zeros).
struct HitFacts
{
    QList<ChannelBackground> channels;
    bool detector = false; // some channel holds detector data: its counts are of the envelope
};

// The hits of the asked channels in order of arrival, with their events and positions; false
// with the cause in words when the record has no sampling frequency or the span is not in it.
bool tabulateHits(const WaveStore& record, const HitQuery& query, QList<HitRow>& rows,
    QString& cause, HitFacts* facts = nullptr);

// The hits of record over query's span for a calibration: grouped into events with the
// automatic coincidence window doubled, as the speed is not known yet (query takes that
// window); false with the cause in words.
bool calibrationHits(const WaveStore& record, HitQuery& query, QList<HitRow>& rows, QString& cause);

// The wave speed that best explains the onsets' differences in events from a source at a known
// point (metres; on the line, from the pair's first sensor), over every event with two or more
// located sensors hit; its spread is the standard deviation of the events' own fits, and its
// residual the RMS of what the distance differences miss by at that speed (large when the
// point is not where the source was).
struct SpeedFit
{
    double speedMps = 0;
    double spreadMps = 0;
    int events = 0;
    double residualMetres = 0;
};
bool fitSpeed(const QList<HitRow>& rows, const HitQuery& query, QPointF source, double rate,
    SpeedFit& fit, QString& cause);

// The CSV of the rows: with header, the line
// file,channel,arrival_s,onset_s,amplitude_V,amplitude_dBAE,rise_s,duration_s,counts,energy_V2s
// (then event,dt_s,position_m when locating on a line, or event,dt_s,x_m,y_m,residual_m,zone in
// the plane), then clipped,peak_Hz,centroid_Hz; then a line a hit. Counts of detector data (the
// envelope's crossings) and what was not worked out are left empty.
std::string hitsCsv(const QString& file, const QList<HitRow>& rows, double rate,
    const HitQuery& query, bool detector, bool header);
