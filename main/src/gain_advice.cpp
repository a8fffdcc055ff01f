#include "gain_advice.h"

#include "convert.h"
#include "wave_stor.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int clippedRun = 3;

// A channel's peak and clipping: ordinary data clips at both limits, detector data (no
// polarity, -128 is no signal) at the top one only.
GainAdvice measure(const WaveChannel& channel, bool detector)
{
    GainAdvice advice;
    int atLimit = 0;
    int run = 0;
    bool longRun = false;
    for (int done = 0; done < channel.sampleCount;) {
        qint8* codes = nullptr;
        const int n = std::min(channel.blockAt(done, &codes), channel.sampleCount - done);
        for (int k = 0; k < n; ++k) {
            const int code = codes[k];
            const bool limit = code == 127 || (!detector && code == -128);
            atLimit += limit ? 1 : 0;
            run = limit ? run + 1 : 0;
            longRun = longRun || run >= clippedRun;
            advice.peak = std::max(advice.peak, detector ? code + 128 : std::abs(code));
        }
        done += n;
    }
    advice.clipped = longRun || atLimit * 1000LL > channel.sampleCount;
    return advice;
}

} // namespace

QList<GainAdvice> adviseGains(const WaveStore& record)
{
    QList<GainAdvice> advice;
    const bool detector = record.header.detector != 0;
    const int range = detector ? 256 : 128; // the peak's full scale
    for (int i = 0; i < record.channelCount(); ++i) {
        const WaveChannel* channel = record.channel(i);
        if (!channel || !channel->hasData || channel->sampleCount == 0)
            continue;
        GainAdvice a = measure(*channel, detector);
        a.channel = i;
        a.weak = !a.clipped && a.peak * 16 < range;
        if (!a.clipped && !a.weak)
            continue;
        // Each gain step doubles the peak: the largest that keeps it within half the range.
        const int gain = record.channelSlots[i].header.gainCode;
        a.currentGain = gain;
        const int steps = a.clipped ? -1
            : a.peak == 0           ? maxGainCode
                                    : int(std::floor(std::log2(range / 2.0 / a.peak)));
        a.suggestedGain = std::clamp(gain + steps, 0, maxGainCode);
        advice.append(a);
    }
    return advice;
}
