#include "app/view_scale.h"

#include "settings/settings.h"

#include <algorithm>

namespace sonavik {

namespace {

struct AmplitudeRange {
    double bottom;
    double top;
    double size() const { return top - bottom; }
};

AmplitudeRange rangeOf(const SoundDocument& doc)
{
    if (doc.format.wBitsPerSample == 8)
        return {0.0, 256.0};
    return {-32768.0, 32768.0};
}

// A document of no frames still gets a finite scale.
double framesForScale(const SoundDocument& doc) { return doc.frameCount > 0 ? doc.frameCount : 1.0; }

} // namespace

PlotSize plotSizeOf(const Settings& s, int viewClientWidth, int viewClientHeight)
{
    const LayoutSizes sizes = layoutSizes(s);
    const double w = static_cast<double>(viewClientWidth) - sizes.leftMarginWidth;
    const double h = static_cast<double>(viewClientHeight) - sizes.alphaBandHeight - sizes.rulerHeight;
    return {std::max(1.0, w), std::max(1.0, h)};
}

void fitView(ViewState& view, const SoundDocument& doc, PlotSize plot)
{
    const AmplitudeRange range = rangeOf(doc);
    view.x0 = 0.0;
    view.sx = plot.width / framesForScale(doc);
    view.y0 = range.bottom;
    view.sy = plot.height / range.size();
}

void applyViewScale(ViewState& v, ViewScaleAction action, const SoundDocument& doc, PlotSize plot)
{
    const AmplitudeRange range = rangeOf(doc);
    const double n = framesForScale(doc);
    const double w = plot.width;
    const double h = plot.height;
    switch (action) {
    case ViewScaleAction::Fit:
        fitView(v, doc, plot);
        break;
    case ViewScaleAction::ZoomInY:
        v.y0 += (h * 0.25) / v.sy;
        v.sy *= 2.0;
        break;
    case ViewScaleAction::ZoomOutY:
        v.y0 -= (h * 0.5) / v.sy;
        v.sy /= 2.0;
        if (v.y0 < range.bottom)
            v.y0 = range.bottom;
        if (v.y0 + h / v.sy > range.top)
            v.y0 = range.top - h / v.sy;
        if (v.y0 < range.bottom) {
            v.y0 = range.bottom;
            v.sy = h / range.size();
        }
        break;
    case ViewScaleAction::CentreZero:
        v.y0 = -(h / v.sy) / 2.0;
        break;
    case ViewScaleAction::ZoomInX:
        v.x0 += (w * 0.25) / v.sx;
        v.sx *= 2.0;
        break;
    case ViewScaleAction::ZoomOutX:
        v.x0 -= (w * 0.5) / v.sx;
        v.sx /= 2.0;
        if (v.x0 < 0.0)
            v.x0 = 0.0;
        if (v.x0 + w / v.sx > n)
            v.x0 = n - w / v.sx;
        if (v.x0 < 0.0) {
            v.x0 = 0.0;
            v.sx = w / n;
        }
        break;
    }
}

} // namespace sonavik
