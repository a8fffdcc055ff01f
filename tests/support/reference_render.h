// The straightforward trace drawing, sample by sample with one painter call per column or
// segment, as an oracle for the program's faster drawing (tests and benchmarks).
#pragma once

class QPainter;
class WaveChannel;

namespace reference {

// Draws the channel's trace as WaveChannel::drawTrace does, screen mode only, sample by sample,
// through displayed values it works out itself from the samples and the display mode.
void drawTrace(QPainter& painter, WaveChannel& channel, bool drawPoints);

} // namespace reference
