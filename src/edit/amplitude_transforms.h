#pragma once
// Two in-place amplitude edits with their own dialogs: every sample sent through the drawn transfer
// curve (40109), and every sample rounded to a coarser amplitude grid (40115). Also the rules the two
// dialogs follow, so that the windows only call them.

#include "edit/edit_commands.h"
#include "settings/settings.h"

#include <cstdint>
#include <string>

namespace sonavik {

struct EditRegion;
struct SoundDocument;

// 40109. The curve's x is the input level and 1 - y the output level. nonlinearMode 0 maps the
// magnitude and keeps the sign (odd-symmetric); any other value maps the whole signed range, bottom
// of the range at the left edge. The frame's alpha is the degree at which the curve is evaluated
// (0 the grey curve, 1 the edited one), not a blend of output and input.
void nonlinearRegion(EditContext& context, const EditRegion& region, int channelCount);
// The same for frames [from, to) of the region only: each frame comes out as the whole region's edit
// gives it.
void nonlinearFrames(EditContext& context, const EditRegion& region, int channelCount, std::int64_t from, std::int64_t to);

// 40115. Each sample moves toward step x floor(x / step + 0.5), weighted by alpha like every
// sample-wise edit.
void coarsenRegion(EditContext& context, const EditRegion& region, int channelCount);

// Bits per sample the coarsening counts from: 8 for an 8-bit sound, 16 for anything else.
int coarsenWidth(const SoundDocument& doc);
// 2^(width - bits). A bit count from a damaged settings file is taken within [1, width] first: width
// or more keeps every sample, 0 or less coarsens as far as one bit does.
int coarseningStep(int coarseBits, int width);
// The dialog's read-out, " 4 bits / 16 bits", or " 1 bit / 8 bits" for one bit.
std::string coarseBitsText(int bits, int width);

// What the nonlinear dialog does to the curve block when it opens: the mode becomes 0 or 1 (anything
// but 0 meaning the whole range) and the editor draws it as the transfer curve.
void prepareNonlinearCurve(CurveData& curve);
// "リセット": the identity through (0, 1), (0.5, 0.5) and (1, 0), grey and edited positions equal,
// every other point inactive.
void resetNonlinearCurve(CurveData& curve);
// "灰色の丸リセット": every active point's grey position moves onto the identity line at its grey x;
// the edited positions stay.
void resetNonlinearGreyPoints(CurveData& curve);

} // namespace sonavik
