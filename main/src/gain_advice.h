// Whether a record's channels used the 8-bit range well: clipped or weak, and the gain code
// that would bring each such channel's peak to about half the range. Depends on the record
// model only.
#pragma once

#include <QList>

class WaveStore;

struct GainAdvice
{
    int channel = 0; // 0-based
    bool clipped = false; // 3 samples in a row at a limit, or more than 0.1 % of them
    bool weak = false; // the peak stays below a sixteenth of the range
    int peak = 0; // largest |code|, or code + 128 on a detector record
    int currentGain = 0; // the channel's gain code
    int suggestedGain = 0; // the same as currentGain when no gain can help
};

// The clipped and weak channels of the record, in channel order; the others are in range.
QList<GainAdvice> adviseGains(const WaveStore& record);
