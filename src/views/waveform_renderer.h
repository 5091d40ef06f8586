#pragma once
// The full picture of one waveform view: background, silence line, waveform, sample and time rulers and
// frame lines, drawn into the view's cached image from the samples and the view state.

#include "raster/pixel_image.h"
#include "views/view_geometry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sonavik {

struct SoundDocument;

struct ScrollBarValues {
    int hMin = 0;
    int hMax = 0;
    int hPage = 0;
    int hPos = 0;
    int vMin = 0;
    int vMax = 0;
    int vPage = 0;
    int vPos = 0;
    friend bool operator==(const ScrollBarValues&, const ScrollBarValues&) = default;
};

// How the extremes of each column are found when several frames share a column. Both give the same
// pixels; Summary falls back to reading every frame while the document's summary does not describe its
// samples (call ensureSummary first).
enum class ColumnExtremes { Summary, EveryFrame };

// Draws the whole image for channel 0 (left view, blue background) or 1 (right view, red background).
// The image's own size is the client size; the geometry gives the layout and the view state. Returns
// the scroll-bar values, or nothing for a document without data (checkerboard; bars left as they are).
std::optional<ScrollBarValues> renderWaveform(PixelImage& image, const ViewGeometry& geometry, const SoundDocument& doc,
                                              int channel, Rgb waveColour,
                                              ColumnExtremes extremes = ColumnExtremes::Summary);

// A COLORREF-style setting: red in the low byte, then green, then blue.
Rgb colourFromSetting(std::uint32_t colorref);

// Frames between sample-ruler labels while zoomX <= 1, and the labelled frame interval while zoomX > 1.
std::int64_t sampleRulerStep(double zoomX);
int frameRulerInterval(double zoomX);
// A time-ruler label: "%lf" without trailing zeros and point, then "s".
std::string timeLabel(double seconds);

} // namespace sonavik
