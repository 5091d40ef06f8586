#pragma once
// What a view shows on top of its cached render: the alpha band of the channel's numbered selections
// with their dotted edge lines, and the red selection, drawn in exclusive-or.

#include "document/selection.h"
#include "raster/pixel_image.h"
#include "views/view_geometry.h"

#include <cstdint>

namespace sonavik {

// The band of every occupied slot, combined by bitwise OR below the waveform area, then the dotted edge
// lines. False, with nothing drawn, when the band's buffer cannot be had (the caller beeps).
bool drawSelectionBand(PixelImage& image, const ViewGeometry& geometry, const SelectionTable& table);

// Exclusive-or of red over the columns of [redStart, redEnd] from the top row to the separator below the
// waveform area; drawing the same range twice leaves the image as it was.
void drawRedSelection(PixelImage& image, const ViewGeometry& geometry, std::int32_t redStart, std::int32_t redEnd);

// A copy of the cached render with the band and, when it belongs to this channel, the red selection.
// Empty when even the copy cannot be had; overlayFailed (if given) is set when the band could not be
// drawn or the copy failed, so the caller can beep.
PixelImage composeView(const PixelImage& cached, const ViewGeometry& geometry, const SelectionTable& table,
                       const RedSelection& red, int channel, bool* overlayFailed = nullptr);

// After only alpha levels or colours changed: the band rows of `shown` are taken again from `cached` and
// the band drawn anew; the rest of `shown` (the red selection included) is left alone. False as for
// drawSelectionBand, or when the two images differ in size.
bool repaintAlphaBand(PixelImage& shown, const PixelImage& cached, const ViewGeometry& geometry,
                      const SelectionTable& table);

} // namespace sonavik
