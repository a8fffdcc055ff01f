// The WAV import of any bytes, through libsndfile's virtual I/O from memory: whatever the bytes,
// the import refuses them with a cause, or gives a record that the program can show, convert
// and write (1 ... 5 channels of 1 ... 163840 samples, gains 0 ... 12, a frequency).
#include "record_export.h"
#include "wav_file.h"
#include "wave_stor.h"

#include <QByteArray>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const int gain : { -1, 7 }) {
        WaveStore record(QRect(0, 0, 639, 399));
        ImportNotes notes;
        QString cause;
        if (!importWavBytes(bytes, gain, record, notes, cause)) {
            if (cause.isEmpty())
                std::abort();
            continue;
        }
        QString problem;
        const WaveHeader& h = record.header;
        if (record.channelCount() < 1 || record.channelCount() > WaveStore::maxChannels
            || h.sampleCount < 1 || h.sampleCount > WaveChannel::maxSamples || h.clockKHz == 0
            || h.ticksPerSample < 1 || !checkRecordNumbers(record, problem))
            std::abort();
        for (int i = 0; i < record.channelCount(); ++i)
            if (!record.channel(i) || !record.channel(i)->hasData
                || record.channel(i)->sampleCount != h.sampleCount
                || (gain >= 0 && record.channelSlots[i].header.gainCode != gain))
                std::abort();
        notes.warning();
    }
    return 0;
}
