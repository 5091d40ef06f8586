#pragma once
// The edits that keep the length of the sound, region by region and in place: the sample-wise loop with
// its per-sample edits, and reversal. Every sample becomes nearest((1 - a) x + a e) at the frame's
// weight a, with nearest(v) = floor(v + 0.5), clipped to the sample range.

#include "document/sample_summary.h"
#include "document/selection.h"
#include "document/sound_document.h"
#include "edit/edit_commands.h"
#include "edit/edit_dispatcher.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace sonavik {

// Checks the region against the document ("選択領域が不正です" when it does not lie inside the sound or
// names a channel the sound lacks), then applies the command's in-place edit to it. Commands without an
// in-place edit leave the region as it is.
void editRegion(EditContext& context, int commandId, const EditRegion& region);

// The per-sample edits e(x, t) of the sample-wise loop.
namespace sample_edits {
inline double silence(double, double) { return 0.0; }
inline double halve(double x, double) { return 0.5 * x; }
inline double twice(double x, double) { return 2.0 * x; }
inline double fadeInLinear(double x, double t) { return t * x; }
inline double fadeOutLinear(double x, double t) { return (1.0 - t) * x; }
inline double fadeInCos(double x, double t) { return (1.0 - (std::cos(std::numbers::pi * t) + 1.0) / 2.0) * x; }
inline double fadeOutCos(double x, double t) { return ((std::cos(std::numbers::pi * t) + 1.0) / 2.0) * x; }
inline double invert(double x, double) { return -x; }
} // namespace sample_edits

// 40113: frame pairs from both ends swap places, each frame weighted by its own alpha.
void reverseRegion(EditContext& context, const EditRegion& region, int channelCount);

// nearest(v) limited to [lo, hi]; a value that is not a number gives 0 (silence).
inline int nearestClipped(double v, int lo, int hi)
{
    const double w = v + 0.5;
    if (w >= lo && w < hi + 1.0) {
        const int r = static_cast<int>(w);  // toward zero; one step down for negative fractions
        return r - (static_cast<double>(r) > w ? 1 : 0);
    }
    if (w >= hi + 1.0)
        return hi;
    if (w < lo)
        return lo;
    return 0;
}

namespace edit_detail {

inline constexpr int kBlockFrames = 256;

// Whether the vector paths use AVX2 and FMA (where the processor has them); tests switch it off to check
// the SSE2 and scalar paths give the same.
bool& wideVectors();

// The region's envelope as a selection, for alphaAt.
Selection envelopeOf(const EditRegion& region);
// A Linear envelope with both levels 1 weighs every frame fully: alpha is exactly 1, as for whole channels
// and the red selection, and need not be evaluated.
bool fullWeight(const EditRegion& region);

// Frames [first, first + count) of channels [channel, channel + channelCount) as signed values, frame by frame.
void loadSigned(const SoundDocument& doc, int channel, int channelCount, std::int64_t first, int count, double* out);
// The same samples back, each nearest() and clipped.
void storeNearest(SoundDocument& doc, int channel, int channelCount, std::int64_t first, int count,
                  const double* values);
// The same for one channel, touching no byte of the other channel of a stereo sound, so that two
// threads may store the two channels of the same frames at once.
void storeNearestOwn(SoundDocument& doc, int channel, std::int64_t first, int count, const double* values);
// t of frames fromStart, fromStart + 1, ... of a region of span + 1 frames (0.5 for a one-frame region).
void fillPositions(std::int64_t fromStart, std::int64_t span, int count, double* out);
// alphaAt of frames first, first + 1, ... (count at most kBlockFrames). A slowly turning Cos envelope is
// interpolated from two exact values per block instead; the result is then a bound on how far any value
// may lie from alphaAt, and 0 when the values are alphaAt's own.
double fillAlpha(const Selection& envelope, std::int64_t first, int count, double* out);
// Whether w lies within margin of a whole number, where floor() could come out either way.
inline bool nearWhole(double w, double margin)
{
    if (!(std::fabs(w) < 1e9))
        return true;
    const double fraction = std::fabs(w - static_cast<double>(static_cast<std::int64_t>(w)));  // exact
    return fraction < margin || 1.0 - fraction < margin;
}
// The rounding of the blend itself, far above the few units in the last place of |v| <= 2^17 it may add.
inline constexpr double kBlendSlack = 1e-9;

// One pass over the region that loads, edits, rounds and stores eight samples at a time, for the
// sample_edits above (each a factor of the frame times x); false, with nothing done, for any other edit
// or where the processor lacks the vector instructions.
bool fusedSampleWiseEdit(SoundDocument& doc, const EditRegion& region, int channelCount, SampleEdit edit);

// A fully weighted edit that ignores t maps every sample value the same way: worth a table of all values
// once the region has enough samples.
bool tablePays(const SoundDocument& doc, const EditRegion& region, int channelCount);
void applyByTable(SoundDocument& doc, const EditRegion& region, int channelCount, SampleEdit edit);

} // namespace edit_detail

// The sample-wise loop for one per-sample edit: one pass over the region in blocks, alpha evaluated once
// per frame (not at all under full weight), no allocation per sample.
template <SampleEdit Edit, bool UsesPosition>
void sampleWiseEdit(EditContext& context, const EditRegion& region, int channelCount)
{
    using namespace edit_detail;
    SoundDocument& doc = context.document;
    if (fusedSampleWiseEdit(doc, region, channelCount, Edit)) {
        noteSamplesChanged(doc, region.start, region.end);
        return;
    }
    const bool full = fullWeight(region);
    if constexpr (!UsesPosition) {
        if (full && tablePays(doc, region, channelCount)) {
            applyByTable(doc, region, channelCount, Edit);
            noteSamplesChanged(doc, region.start, region.end);
            return;
        }
    }
    const Selection envelope = envelopeOf(region);
    const std::int64_t span = static_cast<std::int64_t>(region.end) - region.start;
    alignas(16) double values[kBlockFrames * 2];
    alignas(16) double alpha[kBlockFrames];
    alignas(16) double position[kBlockFrames];
    alignas(16) double original[kBlockFrames * 2];
    const int cc = channelCount == 2 ? 2 : 1;
    for (std::int64_t first = region.start; first <= region.end; first += kBlockFrames) {
        const int count = static_cast<int>(std::min<std::int64_t>(kBlockFrames, region.end - first + 1));
        loadSigned(doc, region.channel, cc, first, count, values);
        if constexpr (UsesPosition)
            fillPositions(first - region.start, span, count, position);
        const double alphaError = full ? 0.0 : fillAlpha(envelope, first, count, alpha);
        if (alphaError > 0.0)
            std::copy(values, values + count * cc, original);
        // Under full weight (1 - 1) x + 1 e is e exactly. Separate loops for one and two channels and for
        // full and varying weight keep each one simple enough to vectorise.
        auto at = [&](int i) { return UsesPosition ? position[i] : 0.0; };
        if (cc == 1 && full) {
            for (int i = 0; i < count; ++i)
                values[i] = Edit(values[i], at(i));
        } else if (cc == 1) {
            for (int i = 0; i < count; ++i)
                values[i] = (1.0 - alpha[i]) * values[i] + alpha[i] * Edit(values[i], at(i));
        } else if (full) {
            for (int i = 0; i < count; ++i) {
                values[2 * i] = Edit(values[2 * i], at(i));
                values[2 * i + 1] = Edit(values[2 * i + 1], at(i));
            }
        } else {
            for (int i = 0; i < count; ++i) {
                values[2 * i] = (1.0 - alpha[i]) * values[2 * i] + alpha[i] * Edit(values[2 * i], at(i));
                values[2 * i + 1] = (1.0 - alpha[i]) * values[2 * i + 1] + alpha[i] * Edit(values[2 * i + 1], at(i));
            }
        }
        if (alphaError > 0.0) {
            // An interpolated weight can only move a value across a rounding edge it lies very close to:
            // such values are worked out again with alphaAt itself.
            for (int i = 0; i < count; ++i)
                for (int c = 0; c < cc; ++c) {
                    const int k = i * cc + c;
                    const double x = original[k];
                    const double e = Edit(x, at(i));
                    if (nearWhole(values[k] + 0.5, std::fabs(e - x) * alphaError + kBlendSlack)) {
                        const double a = alphaAt(envelope, first + i);
                        values[k] = (1.0 - a) * x + a * e;
                    }
                }
        }
        storeNearest(doc, region.channel, cc, first, count, values);
    }
    noteSamplesChanged(doc, region.start, region.end);
}

} // namespace sonavik
