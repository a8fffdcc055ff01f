// A monitoring session's hits as its trend plots take them: one value per hit, in the order the
// hits were stored. Depends on nothing.
#pragma once

#include <QtGlobal>

struct TrendHit
{
    qint64 id = 0; // the hit's row in the session database, rising
    qint64 capture = 0; // the capture's row
    int channel = 0; // 0-based
    double utcSeconds = 0; // time of day of the arrival: seconds since 1970-01-01 UTC
    double amplitudeDb = 0; // dB_AE at the sensor
    double energy = 0; // V^2 s
    qint64 event = -1; // the event's row; -1 when the hit is not in a stored event
    bool located = false; // positionMetres (line) or x, y (plane) hold the event's source
    bool inPlane = false;
    double positionMetres = 0;
    double x = 0;
    double y = 0;
};
