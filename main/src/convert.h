// Number formats of the status readouts. Pure functions.
#pragma once

#include <QString>

// value / 10^(3g) in fixed point, left-padded to width characters (6 or 7), then the SI prefix
// character ("pnum KMG", a space for none): 0.5 -> " 500.0m", 1.234 -> " 1.234 ".
// "#######" from 10^12 up; 0 below 10^-12.
QString engineeringText(double value, int width);

// The unit's gain codes are 0 ... 12, gain 2^g.
constexpr int maxGainCode = 12;

// The factor of gain code g, 4096 >> g (0 from 13 on, where the shift would run past the bits).
double gainFactor(int gainCode);

// The amplitude the readouts show for a displayed value: volts (or coulombs) of 2 x value units
// for ordinary data, of value + 128 units for detector data counted from -128.
double sampleAmplitude(int value, int gainCode, bool detector, bool volts);

// The decibel level of a spectrum magnitude: 20 log10(m / 128), a full-scale code being 0 dB.
double magnitudeDecibels(double magnitude);

// The time of sample index at step microseconds in tenths written with a decimal point,
// left-padded to width: index 1234 at 0.5 -> "  617.0".
QString timeText(int index, double step, int width);
