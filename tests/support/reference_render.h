// The straightforward trace drawing, sample by sample with one painter call per column or
// segment, as an oracle for the program's faster drawing (tests and benchmarks).
#pragma once

class QPainter;
class WaveChannel;

namespace reference {

// Draws the channel's trace of raw samples as WaveChannel::drawTrace does, screen mode only.
void drawTrace(QPainter& painter, const WaveChannel& channel, bool drawPoints);

} // namespace reference
