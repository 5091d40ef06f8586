#pragma once
// What a scroll bar's action asks of the core's view logic: a line back or forward, or the thumb
// dragged to a position; every other action (pages, ends) is Other and left to the core's own rules.
// And the other way: the core's range, page and position shown on a Qt bar.

#include "views/wave_views.h"

#include <QAbstractSlider>
#include <QScrollBar>

#include <algorithm>

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

// A Qt bar's range is the range of thumb positions: the last one is max - page + 1.
inline void showScrollBar(QScrollBar* bar, int min, int max, int page, int pos)
{
    page = std::max(0, page);
    bar->setRange(min, std::max(min, max - page + 1));
    bar->setPageStep(page);
    bar->setValue(pos);
}

} // namespace sonavik
