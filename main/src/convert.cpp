#include "convert.h"

#include <cmath>

double gainFactor(int gainCode)
{
    return gainCode >= 0 && gainCode < 13 ? double(4096 >> gainCode) : 0.0;
}

double sampleAmplitude(int value, int gainCode, bool detector, bool volts)
{
    const int units = detector ? value + 128 : 2 * value;
    const double perUnit = (volts ? 2.5 : 1.5e-7) * std::ldexp(1.0, -20) * gainFactor(gainCode);
    return units * perUnit;
}

double magnitudeDecibels(double magnitude)
{
    return 20.0 * std::log10(magnitude / 128.0);
}

QString engineeringText(double value, int width)
{
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e12)
        return QStringLiteral("#######");
    int group = 0;
    int digits = 1; // digits before the decimal point, 1 to 3
    double shown = 0;
    if (magnitude >= 1e-12) {
        if (magnitude >= 1) {
            const int exponent = int(std::floor(std::log10(magnitude)));
            group = exponent / 3;
            digits = exponent - 3 * group + 1;
        } else {
            const int inverse = int(std::floor(std::log10(1 / magnitude) + 0.9999999));
            static const int digitsByRest[] = { 1, 3, 2 };
            digits = digitsByRest[inverse % 3];
            group = (-2 - inverse) / 3;
        }
        shown = value / std::pow(10.0, 3 * group);
    }
    const int decimals = (width == 7 ? 5 : 4) - digits;
    static const char prefixes[] = "pnum KMG";
    return QString::number(shown, 'f', decimals).rightJustified(width, QLatin1Char(' '))
        + QLatin1Char(prefixes[group + 4]);
}

QString timeText(int index, double step, int width)
{
    const long long tenths = std::llround(step * index * 10);
    QString digits = QString::number(std::llabs(tenths));
    if (digits.size() == 1)
        digits.prepend(QLatin1Char('0'));
    digits.insert(digits.size() - 1, QLatin1Char('.'));
    if (tenths < 0)
        digits.prepend(QLatin1Char('-'));
    return digits.rightJustified(width, QLatin1Char(' '));
}
