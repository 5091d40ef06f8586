#pragma once
// What a scroll bar's action asks of the core's view logic: a line back or forward, or the thumb
// dragged to a position; every other action (pages, ends) is Other and left to the core's own rules.

#include "views/wave_views.h"

#include <QAbstractSlider>
#include <QScrollBar>

namespace sonavik {

inline ScrollRequest scrollRequestOf(const QScrollBar* bar, int action, int& thumb)
{
    thumb = 0;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        return ScrollRequest::LineBack;
    case QAbstractSlider::SliderSingleStepAdd:
        return ScrollRequest::LineForward;
    case QAbstractSlider::SliderMove:
        thumb = bar->sliderPosition();
        return ScrollRequest::Thumb;
    default:
        return ScrollRequest::Other;
    }
}

} // namespace sonavik
