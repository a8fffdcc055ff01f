// Small arithmetic helpers with fixed rules.
#pragma once

#include <QtGlobal>
#include <cmath>

namespace qtmisc {

// Clamps v into lo ... hi.
inline qint64 clampToRange(qint64 v, qint64 lo, qint64 hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// Rounds half away from zero (2.5 -> 3, -2.5 -> -3).
inline int roundHalfAway(double v)
{
    return int(std::lround(v));
}

} // namespace qtmisc
