#include "views/view_wheel.h"

#include <algorithm>
#include <cmath>

namespace sonavik {

namespace {

// A turn of many notches at once still moves a bounded way.
constexpr int kMaxNotches = 16;
// One notch scrolls a tenth of what is in view.
constexpr double kScrollShare = 0.1;

void keepTimeInSound(ViewState& v, double frames, double width)
{
    if (v.x0 + width / v.sx > frames)
        v.x0 = frames - width / v.sx;
    if (v.x0 < 0.0) {
        v.x0 = 0.0;
        if (width / v.sx > frames)
            v.sx = width / frames;  // never more than the whole sound
    }
}

} // namespace

void applyWheel(ViewState& v, const SoundDocument& doc, WheelAction action, int notches, double pointerColumn,
                double plotWidth, double plotHeight)
{
    notches = std::clamp(notches, -kMaxNotches, kMaxNotches);
    if (notches == 0 || !(v.sx > 0.0) || !(v.sy > 0.0))
        return;
    const double w = std::max(1.0, plotWidth);
    const double h = std::max(1.0, plotHeight);
    const double frames = doc.frameCount > 0 ? doc.frameCount : 1.0;
    switch (action) {
    case WheelAction::Scroll: {
        const double span = w / v.sx;
        v.x0 -= notches * std::max(1.0, span * kScrollShare);
        v.x0 = std::clamp(v.x0, 0.0, std::max(0.0, frames - span));
        break;
    }
    case WheelAction::ZoomTime: {
        // The frame under the pointer stays under it.
        const double column = std::clamp(pointerColumn, 0.0, w);
        const double anchor = v.x0 + column / v.sx;
        v.sx *= std::ldexp(1.0, notches);
        v.x0 = anchor - column / v.sx;
        keepTimeInSound(v, frames, w);
        break;
    }
    case WheelAction::ZoomAmplitude: {
        const bool eightBit = doc.format.wBitsPerSample == 8;
        const double bottom = eightBit ? 0.0 : -32768.0;
        const double top = eightBit ? 256.0 : 32768.0;
        const double middle = v.y0 + h / v.sy / 2.0;
        v.sy *= std::ldexp(1.0, notches);
        v.y0 = middle - h / v.sy / 2.0;
        if (notches < 0) {
            if (v.y0 < bottom)
                v.y0 = bottom;
            if (v.y0 + h / v.sy > top)
                v.y0 = top - h / v.sy;
            if (v.y0 < bottom) {
                v.y0 = bottom;
                v.sy = h / (top - bottom);
            }
        }
        break;
    }
    }
}

} // namespace sonavik
