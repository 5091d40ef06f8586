#pragma once
// The regions of a waveform view and the rules that turn frames into columns and amplitudes into rows
// and back. Every rule carries the same small offset (0.001) so that a frame that starts exactly on a
// column boundary lands in the column to its right.

#include "document/sound_document.h"

#include <cstdint>

namespace sonavik {

struct Settings;

inline constexpr double kViewEpsilon = 0.001;

struct ViewGeometry {
    int width = 0;         // client width W
    int height = 0;        // client height H
    int margin = 64;       // left margin M
    int band = 32;         // alpha band height A
    int ruler = 32;        // ruler height R
    ViewState state;       // x0 = scrollX, y0 = scrollY, sx = zoomX, sy = zoomY

    static ViewGeometry of(const Settings& settings, int width, int height, const ViewState& state);

    int viewWidth() const { return width - margin; }              // VW
    int waveHeight() const { return height - band - ruler; }      // WH

    // Columns are view columns (pixel column minus the margin). Results are clamped far outside any
    // screen, so huge zooms or scroll positions never overflow.
    std::int64_t firstColumnOfFrame(double frame) const;
    std::int64_t lastColumnOfFrame(double frame) const;   // for zoomX > 1
    // The last column a range ending at frame shows: the frame's last column when zoomX > 1, its first otherwise.
    std::int64_t lastColumnOfRangeEnd(double frame) const;
    std::int64_t firstFrameOfColumn(double column) const;  // for zoomX <= 1
    std::int64_t lastFrameOfColumn(double column) const;
    std::int64_t frameUnderColumn(double column) const;    // for zoomX > 1
    std::int64_t rowOfAmplitude(double amplitude) const;
    bool zoomedIn() const { return state.sx > 1.0; }
};

// floor/ceil into a 64-bit integer, saturating instead of overflowing (and 0 for NaN).
std::int64_t floorToInt(double value);
std::int64_t ceilToInt(double value);

} // namespace sonavik
