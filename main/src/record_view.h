// The drawing of records and channels on a painter, and the cursors' text on the clipboard: the
// views of the record model, built with the windows so that the record library paints nothing.
// Depends on wave_stor.h and wave_view.h, whose classes declare the drawing defined here.
#pragma once

#include <QColor>
#include <QPen>

class WaveStore;

// Set while drawing for a preview, a printer or an export: everything black, traces as
// full-resolution polylines.
extern bool printRendering;

// A line's pen, one pixel wide in its screen colour; on a page black and one device pixel wide
// whatever the page's scale (an SVG picture is drawn finer than its size).
QPen linePen(const QColor& screenColour);

// Puts the cursors' text (cursorValuesText) on the clipboard (nothing when there is none).
void copyCursorValues(const WaveStore& record);
