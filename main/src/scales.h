// Axis ticks at 1-2-5 steps and their labels, for the scales drawn over records. Depends on
// QtCore only.
#pragma once

#include <QList>
#include <QString>

// The smallest of 1, 2 and 5 times a power of ten that is at least minimum (> 0).
double niceStep(double minimum);

// The multiples of step from low to high, both ends included when a multiple falls on them.
QList<double> ticksBetween(double low, double high, double step);

// A tick's label: the value with the SI prefix that suits the step ("u" for micro, as the
// readouts write it) and as many decimals as the step needs, then the unit: 0.0015 at a step of
// 0.0005 in "S" is "1.5mS", 4e-5 at 2e-5 is "40uS", -0.2 at 0.1 in "V" is "-200mV". Without
// prefixes (decibels) the value stays as it is: -2.5 at 0.5 in "dB" is "-2.5dB".
QString tickLabel(double value, double step, const QString& unit, bool prefixed = true);
