#pragma once
// The mouse wheel over a waveform view: it scrolls in time, with Ctrl it zooms in time about the
// pointer, with Shift it zooms the amplitude about the middle. Each notch does what one press of the
// matching view button does (twice or half the zoom), within the same limits: zooming out never shows
// more than the whole sound or the whole amplitude range.

#include "document/sound_document.h"

namespace sonavik {

enum class WheelAction { Scroll, ZoomTime, ZoomAmplitude };

// notches > 0: the wheel turned away from the user (back in time, or zoom in). plotWidth and
// plotHeight are the plot's size in pixels (at least 1); pointerColumn is the pointer's view column.
void applyWheel(ViewState& view, const SoundDocument& doc, WheelAction action, int notches, double pointerColumn,
                double plotWidth, double plotHeight);

} // namespace sonavik
