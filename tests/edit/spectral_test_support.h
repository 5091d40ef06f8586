#pragma once
// Shared by the equaliser, reverb and convolution tests: a Ui that keeps every progress text, and
// one region edit run the way the dispatcher runs it.

#include "document/workspace.h"
#include "edit/edit_commands.h"
#include "edit/edit_dispatcher.h"
#include "edit/time_domain_edits.h"
#include "support/scripted_ui.h"

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace sonavik::test {

class ProgressUi : public ScriptedUi {
public:
    std::vector<std::string> progress;
    void setStatusText(int part, const std::string& text) override
    {
        if (part == 1)
            progress.push_back(text);
        ScriptedUi::setStatusText(part, text);
    }
};

inline void runRegionEdit(Workspace& ws, Ui& ui, int commandId, const EditRegion& region)
{
    EditContext context{ws.document, ui, ws.settings};
    editRegion(context, commandId, region);
}

inline EditRegion wholeRegion(int channel, std::int32_t start, std::int32_t end, double a0 = 1.0, double a1 = 1.0)
{
    EditRegion r;
    r.channel = channel;
    r.start = start;
    r.end = end;
    r.alphaStart = a0;
    r.alphaEnd = a1;
    return r;
}

// amplitude x sin(2 pi p / period), rounded symmetrically so that every whole period sums to zero.
inline int sineAt(std::int64_t p, double amplitude, double period)
{
    return static_cast<int>(std::lround(amplitude * std::sin(2.0 * std::numbers::pi * static_cast<double>(p) / period)));
}

// Sets point k of a curve block, grey and edited position given separately.
inline void setCurvePoint(CurveData& curve, int k, double x, double y, double xGray, double yGray)
{
    CurvePoint& p = curve.points[k];
    p = CurvePoint{};
    p.state = 1;
    p.x = x;
    p.y = y;
    p.xGray = xGray;
    p.yGray = yGray;
}

} // namespace sonavik::test
