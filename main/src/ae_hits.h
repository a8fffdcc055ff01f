// Acoustic-emission hits in a record: threshold crossings grouped by the hit definition time,
// their features, onsets refined by an Akaike picker, events across channels and the linear
// location of a source between two sensors. Depends on the record model only.
#pragma once

#include <QList>

class WaveStore;

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
