#pragma once
// The curve editor ("Wnd") without a toolkit: plot geometry, hit tests, adding and dragging points,
// and the picture as a list of drawing operations. It edits the dialog's CurveData in place, so the
// dialog and the edit that follows see every change at once.

#include "platform/ui.h"
#include "raster/pixel_image.h"
#include "settings/settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sonavik {

enum class CurveKind : std::int32_t { Equaliser = 1, Nonlinear = 2, Reverb = 3 };

// Used for the axis labels while no sound is open.
inline constexpr std::uint32_t kCurveFallbackSampleRate = 44100;

// Margins of 15 % on the left and at the bottom; the plot takes the rest of the client area.
struct CurvePlot {
    int width = 0;       // W
    int height = 0;      // H
    int left = 0;        // L
    int bottom = 0;      // B
    int plotWidth = 0;   // PW = W - L
    int plotHeight = 0;  // PH = H - B

    static CurvePlot of(int width, int height);

    int column(double x) const;  // pixel column of a horizontal position
    int row(double y) const;     // pixel row of a vertical position
    double xAt(int px) const;    // not limited: the margins lie outside [0, 1]
    double yAt(int py) const;
    bool inMargin(int px, int py) const { return px < left || py > plotHeight - 1; }
};

// Makes a block fit for editing: states 0 or 1, coordinates in [0, 1], active points first in
// ascending x, and grey positions in the order of the edited ones.
void normaliseCurve(CurveData& data);

enum class MouseCapture { Keep, Take, Release };

// What the window has to do after a mouse message. Beeps go straight to the Ui.
struct EditorResponse {
    bool repaint = false;
    std::optional<CursorKind> cursor;  // Arrow, C203 (over the plot) or C204 (over a circle, dragging)
    MouseCapture capture = MouseCapture::Keep;
};

class CurveEditor {
public:
    // Normalises the block.
    CurveEditor(CurveData& data, Ui& ui);

    EditorResponse leftPress(int px, int py, int width, int height);
    EditorResponse mouseMove(int px, int py, int width, int height);
    EditorResponse leftRelease();

    bool dragging() const { return dragging_; }
    CurveData& data() { return data_; }
    const CurveData& data() const { return data_; }

private:
    CurveData& data_;
    Ui& ui_;
    bool dragging_ = false;
};

namespace curve_colour {
inline constexpr Rgb kBackground{0, 0, 0};
inline constexpr Rgb kGrid{102, 102, 102};
inline constexpr Rgb kCentreCross{255, 255, 255};
inline constexpr Rgb kAxis{221, 221, 221};
inline constexpr Rgb kJoin{34, 102, 204};
inline constexpr Rgb kGreyCurve{170, 170, 170};     // degrees 0 and 0.5
inline constexpr Rgb kEditedCurve{255, 255, 34};    // degree 1
inline constexpr Rgb kGreyCircle{136, 136, 136};
inline constexpr Rgb kWhiteCircle{255, 255, 255};
inline constexpr Rgb kOutline{0, 0, 0};
inline constexpr Rgb kText{255, 255, 255};
inline constexpr Rgb kTextBackground{0, 0, 0};
} // namespace curve_colour

struct PixelPoint {
    int x = 0, y = 0;
    friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

// A pen moved from one pixel to another: the end pixel itself is not drawn.
struct DrawLine {
    PixelPoint from, to;
    Rgb colour;
};
// Joined lines through every point, the last pixel included.
struct DrawPolyline {
    std::vector<PixelPoint> points;
    Rgb colour;
};
// An ellipse filling the box [left, right) x [top, bottom), outlined in black.
struct DrawCircle {
    int left = 0, top = 0, right = 0, bottom = 0;
    Rgb fill;
};
// Text in the UI font, white on an opaque black cell whose top-left corner is (x, y).
struct DrawText {
    PixelPoint at;
    std::string text;  // UTF-8
};

using DrawItem = std::variant<DrawLine, DrawPolyline, DrawCircle, DrawText>;

// Everything the window shows, in painting order, over a black client area.
struct CurvePicture {
    int width = 0;
    int height = 0;
    std::vector<DrawItem> items;
};

// samplesPerSec is the open sound's rate, or 0 without a sound (the labels then use 44100).
CurvePicture drawCurveEditor(const CurveData& data, int width, int height, std::uint32_t samplesPerSec);

// printf's "%.Nf" in the C locale, whatever the process locale is.
std::string formatFixed(double value, int decimals);

} // namespace sonavik
