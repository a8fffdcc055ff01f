// Records filled with repeatable signals, for tests, benchmarks and fuzzing seeds.
#pragma once

#include <QRect>
#include <QtGlobal>
#include <memory>

class WaveStore;

namespace testrecords {

// A laid-out record of the given shape whose channels hold decaying sine bursts with noise
// (seeded, so the same arguments give the same bytes), visible as a whole.
std::unique_ptr<WaveStore> make(
    int channels, int samples, quint32 seed = 1, const QRect& plot = QRect(0, 0, 640, 400));

// Fills channel i's samples with a repeatable signal without marking it modified.
void fill(WaveStore& record, int channel, quint32 seed);

} // namespace testrecords
