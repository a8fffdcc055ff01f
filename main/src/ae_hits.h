// Acoustic-emission hits in a record: threshold crossings grouped by the hit definition time,
// their features, onsets refined by an Akaike picker, events across channels and the linear
// location of a source between two sensors. Depends on the record model only.
#pragma once

#include <QList>
#include <QString>
#include <string>

class WaveStore;

// The thresholds that can be set: 1 uV (0 dB_AE) ... 10 V (140 dB_AE).
constexpr double minThresholdVolts = 1e-6;
constexpr double maxThresholdVolts = 10;

// The customary hit definitions, in microseconds, and the threshold in volts (of the values the
// readouts show: detector data counted from -128, without polarity).
struct HitSettings
{
    double thresholdVolts = 0.001;
    double hdtMicros = 800; // a hit ends when no crossing came for this long
    double hltMicros = 1000; // after a hit, crossings this long start no new one
    double pdtMicros = 200; // a peak stands when no larger one came this long after it
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
};

// dB_AE of a voltage: 20 log10(V / 1 uV).
double decibelsAe(double volts);
double voltsOfDecibelsAe(double decibels);

// Whether the threshold lies beyond what channel's codes can reach at its gain (128 codes of
// ordinary data, 255 units of detector data): such a channel never registers a hit.
bool thresholdBeyondScale(const WaveStore& record, int channel, double thresholdVolts);

// The hits of channel over samples first ... first + count - 1, in order of arrival.
QList<Hit> findHits(
    const WaveStore& record, int channel, int first, int count, const HitSettings& settings);

// The onset k + 1 in x[0 .. n-1], at most latest, minimising
// k log var(x[0..k]) + (n - k - 1) log var(x[k+1 .. n-1]).
int akaikeOnset(const double* x, int n, int latest);

// Hits on different channels whose arrivals lie within window seconds of an event's first hit
// belong to that event (one hit a channel); the events' numbers, 0-based, hit by hit, for hits
// sorted by arrival.
QList<int> groupEvents(const QList<Hit>& hits, double window, double rate);

// The source position from sensor a (metres) of an event whose first hits on a and b came at
// ta and tb: (D - c (tb - ta)) / 2; inside the sensors when 0 <= x <= D.
double linearPosition(double ta, double tb, double spacing, double speed);

// What is asked of a record's hits: the definitions, the channels (0-based; empty for all),
// the span, and for events and location the coincidence window, the sensors' spacing, the
// wave speed and the pair of channels located between.
struct HitQuery
{
    HitSettings settings;
    QList<int> channels;
    int first = 0;
    int count = -1; // -1: to the end of the record
    double windowSeconds = -1; // negative: the spacing over the speed
    double spacingMetres = 0; // 0: no location
    double speedMps = 3000;
    int pair[2] = { 0, 1 };

    bool locates() const { return spacingMetres > 0 && speedMps > 0; }
};

// A hit as tables show it: its event, its onset after the event's first, and the event's
// source position from the pair's first sensor (when both sensors were hit).
struct HitRow
{
    Hit hit;
    int event = 0; // 0-based
    double dtSeconds = 0;
    bool located = false;
    double positionMetres = 0;
};

// The hits of the asked channels in order of arrival, with their events and positions; false
// with the cause in words when the record has no sampling frequency or the span is not in it.
bool tabulateHits(
    const WaveStore& record, const HitQuery& query, QList<HitRow>& rows, QString& cause);

// The CSV of the rows: with header, the line
// file,channel,arrival_s,onset_s,amplitude_V,amplitude_dBAE,rise_s,duration_s,counts,energy_V2s
// (then event,dt_s,position_m when locating); then a line a hit.
std::string hitsCsv(const QString& file, const QList<HitRow>& rows, double rate, bool locate,
    bool header);
