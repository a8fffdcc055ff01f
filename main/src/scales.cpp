#include "scales.h"

#include <algorithm>
#include <cmath>

double niceStep(double minimum)
{
    if (!(minimum > 0) || !std::isfinite(minimum))
        return 1;
    const double decade = std::pow(10.0, std::floor(std::log10(minimum)));
    for (const double factor : { 1.0, 2.0, 5.0, 10.0 })
        if (factor * decade >= minimum * (1 - 1e-12))
            return factor * decade;
    return 10 * decade;
}

QList<double> ticksBetween(double low, double high, double step)
{
    QList<double> ticks;
    if (!(step > 0) || !(high >= low) || (high - low) / step > 10000)
        return ticks;
    for (double k = std::ceil(low / step - 1e-9); k * step <= high + step * 1e-9; ++k)
        ticks << (k == 0 ? 0.0 : k * step);
    return ticks;
}

QString tickLabel(double value, double step, const QString& unit, bool prefixed)
{
    static const char prefixes[] = "pnum kMG"; // 10^-12 ... 10^9
    // The largest prefix in which the step is still half a unit or more: 1.5mS, not 1500uS,
    // and 100nQ, not 0.1uQ.
    const int group
        = prefixed ? std::clamp(int(std::floor(std::log10(step / 0.5) / 3)), -4, 3) : 0;
    const double scale = std::pow(1000.0, group);
    const int decimals = std::max(0, -int(std::floor(std::log10(step / scale) + 1e-9)));
    QString text = QString::number(value / scale, 'f', decimals);
    if (text.startsWith(QLatin1Char('-')) && text.toDouble() == 0) // no "-0.0"
        text.remove(0, 1);
    const char prefix = prefixes[group + 4];
    return text + (prefix == ' ' ? QString() : QString(QLatin1Char(prefix))) + unit;
}
