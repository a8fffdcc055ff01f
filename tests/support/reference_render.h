// The straightforward trace drawing, sample by sample with one painter call per column or
// segment, as an oracle for the program's faster drawing (tests and benchmarks).
#pragma once

#include <vector>

class QPainter;
class WaveChannel;

namespace reference {

// The displayed value of every sample, worked out from the samples and the display mode alone.
std::vector<int> displayedValues(const WaveChannel& channel);

// Draws the channel's trace as WaveChannel::drawTrace does, screen mode only, sample by sample,
// through displayed values it works out itself from the samples and the display mode.
void drawTrace(QPainter& painter, WaveChannel& channel, bool drawPoints);

} // namespace reference
