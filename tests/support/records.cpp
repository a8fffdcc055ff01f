#include "records.h"

#include "wave_stor.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>

namespace testrecords {

void fill(WaveStore& record, int i, quint32 seed)
{
    WaveChannel* channel = record.channel(i);
    QRandomGenerator random(seed * 7919u + quint32(i));
    const double period = 200.0 + 150.0 * i;
    for (int done = 0; done < channel->sampleCount;) {
        qint8* piece = nullptr;
        const int size = std::min(channel->blockAt(done, &piece), channel->sampleCount - done);
        for (int k = 0; k < size; ++k) {
            const int n = done + k;
            const double burst = std::exp(-double(n % 20000) / 6000.0);
            const double value
                = 110.0 * burst * std::sin(2 * M_PI * n / period) + random.bounded(-12, 13);
            piece[k] = qint8(std::clamp(int(std::lround(value)), -128, 127));
        }
        done += size;
    }
    channel->hasData = true;
    channel->cursorSample = channel->sampleCount / (i + 2);
    record.channelSlots[i].header.gainCode = quint8(i);
    record.channelSlots[i].header.inputNumber = quint8(i + 1);
}

std::unique_ptr<WaveStore> make(int channels, int samples, quint32 seed, const QRect& plot)
{
    auto record = std::make_unique<WaveStore>(plot);
    if (!record->initialise(channels, samples))
        return nullptr;
    for (int i = 0; i < record->channelCount(); ++i)
        fill(*record, i, seed);
    record->header.clockKHz = 12000;
    record->header.ticksPerSample = 4 * 25;
    record->header.visibleCount = samples;
    record->layout();
    return record;
}

} // namespace testrecords
