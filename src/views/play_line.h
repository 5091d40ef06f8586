#pragma once
// The line that follows playback across a waveform view. It is drawn on the picture shown, never on the
// cached render, in exclusive-or so that it stays visible over the sound, the grid and the red selection.

#include "raster/pixel_image.h"
#include "views/view_geometry.h"

#include <cstdint>

namespace sonavik {

// Flips one column, the first column of the frame, from the top row to the separator below the waveform
// area. Nothing is drawn when the frame's column lies outside the view.
void drawPlayLine(PixelImage& image, const ViewGeometry& geometry, std::int64_t frame);

} // namespace sonavik
