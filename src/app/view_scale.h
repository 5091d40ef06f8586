#pragma once
// The view buttons' zoom commands: fit, vertical and horizontal zoom about the centre, centre on 0.

#include "document/sound_document.h"

namespace sonavik {

struct Settings;

enum class ViewScaleAction { Fit = 0, ZoomInY = 1, ZoomOutY = 2, CentreZero = 3, ZoomInX = 4, ZoomOutX = 5 };

struct PlotSize {
    double width = 1;
    double height = 1;
};

// The part of a view's client area that shows samples; never smaller than one pixel each way.
PlotSize plotSizeOf(const Settings& settings, int viewClientWidth, int viewClientHeight);

void fitView(ViewState& view, const SoundDocument& doc, PlotSize plot);
void applyViewScale(ViewState& view, ViewScaleAction action, const SoundDocument& doc, PlotSize plot);

} // namespace sonavik
