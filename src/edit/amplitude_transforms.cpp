#include "edit/amplitude_transforms.h"

#include "curve/curve.h"
#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "edit/time_domain_edits.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <utility>
#include <vector>

namespace sonavik {
namespace {

// The new value of one signed sample x through the curve at degree a, before rounding.
double transferred(CurveEvaluator& curve, double a, double x, bool eightBit, bool wholeRange)
{
    if (wholeRange) {
        const double full = eightBit ? 256.0 : 65536.0;
        return (0.5 - curve.valueAt(a, x / full + 0.5)) * full;
    }
    if (!eightBit) {
        if (x > 0.0)
            return (1.0 - curve.valueAt(a, x / 32768.0)) * 32768.0;
        return (1.0 - curve.valueAt(a, -x / 32768.0)) * -32768.0;
    }
    // 8 bits work out the stored byte around 128; taking the 128 off again is exact, so the store
    // rounds exactly as rounding the byte would.
    if (x > 0.0)
        return ((1.0 - curve.valueAt(a, x / 128.0)) * 128.0 + 128.0) - 128.0;
    return (128.0 - (1.0 - curve.valueAt(a, -x / 128.0)) * 128.0) - 128.0;
}

template <int Shift>
double coarsened(double x, double)
{
    constexpr double step = static_cast<double>(1 << Shift);
    return step * std::floor(x / step + 0.5);
}

// The sample-wise loop once per possible step, 2^0 to 2^15.
template <std::size_t... Shift>
constexpr std::array<RegionEdit, sizeof...(Shift)> coarseningLoops(std::index_sequence<Shift...>)
{
    return {&sampleWiseEdit<&coarsened<static_cast<int>(Shift)>, false>...};
}

void setIdentityPoint(CurvePoint& p, double x)
{
    p = CurvePoint{};
    p.state = 1;
    p.xGray = p.x = x;
    p.yGray = p.y = 1.0 - x;
}

} // namespace

void nonlinearRegion(EditContext& context, const EditRegion& region, int channelCount)
{
    nonlinearFrames(context, region, channelCount, region.start, static_cast<std::int64_t>(region.end) + 1);
}

void nonlinearFrames(EditContext& context, const EditRegion& region, int channelCount, std::int64_t from, std::int64_t to)
{
    using namespace edit_detail;
    from = std::max<std::int64_t>(from, region.start);
    to = std::min<std::int64_t>(to, static_cast<std::int64_t>(region.end) + 1);
    if (from >= to)
        return;
    SoundDocument& doc = context.document;
    const bool eight = doc.format.wBitsPerSample == 8;
    const bool wholeRange = context.settings.nonlinearMode() != 0;
    const int cc = channelCount == 2 ? 2 : 1;
    const bool full = fullWeight(region);
    CurveEvaluator curve(context.settings.nonlinear);

    // At full weight every sample value maps one way; once the region is big enough a table of all of
    // them is cheaper than evaluating the curve sample by sample.
    const int lowest = eight ? -128 : -32768;
    std::vector<double> byValue;
    if (full && tablePays(doc, region, cc)) {
        byValue.resize(eight ? 256 : 65536);
        for (std::size_t i = 0; i < byValue.size(); ++i)
            byValue[i] = transferred(curve, 1.0, lowest + static_cast<int>(i), eight, wholeRange);
    }

    const Selection envelope = envelopeOf(region);
    alignas(16) double values[kBlockFrames * 2];
    alignas(16) double alpha[kBlockFrames];
    for (std::int64_t first = from; first < to; first += kBlockFrames) {
        const int count = static_cast<int>(std::min<std::int64_t>(kBlockFrames, to - first));
        loadSigned(doc, region.channel, cc, first, count, values);
        if (!byValue.empty()) {
            for (int k = 0; k < count * cc; ++k)
                values[k] = byValue[static_cast<std::size_t>(static_cast<int>(values[k]) - lowest)];
        } else {
            if (full) {
                std::fill(alpha, alpha + count, 1.0);
            } else if (fillAlpha(envelope, first, count, alpha) > 0.0) {
                // The weight is the curve's degree here, not a blend whose rounding could be checked
                // afterwards: an interpolated one would bend the curve, so every frame gets alphaAt.
                for (int i = 0; i < count; ++i)
                    alpha[i] = alphaAt(envelope, first + i);
            }
            for (int i = 0; i < count; ++i)
                for (int c = 0; c < cc; ++c)
                    values[i * cc + c] = transferred(curve, alpha[i], values[i * cc + c], eight, wholeRange);
        }
        storeNearest(doc, region.channel, cc, first, count, values);
    }
    noteSamplesChanged(doc, static_cast<std::int32_t>(from), static_cast<std::int32_t>(to - 1));
}

int coarsenWidth(const SoundDocument& doc) { return doc.format.wBitsPerSample == 8 ? 8 : 16; }

int coarseningStep(int coarseBits, int width)
{
    if (width < 1)
        return 1;
    const int bits = std::clamp(coarseBits, 1, width);
    int step = 1;
    for (int i = 0; i < width - bits; ++i)
        step *= 2;
    return step;
}

void coarsenRegion(EditContext& context, const EditRegion& region, int channelCount)
{
    const int step = coarseningStep(context.settings.coarseBits, coarsenWidth(context.document));
    // A step of 1 rounds every sample to itself.
    if (step == 1)
        return;
    static constexpr auto loops = coarseningLoops(std::make_index_sequence<16>{});
    loops[static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(step)))](context, region, channelCount);
}

std::string coarseBitsText(int bits, int width)
{
    return " " + std::to_string(bits) + (bits == 1 ? " bit / " : " bits / ") + std::to_string(width) + " bits";
}

void prepareNonlinearCurve(CurveData& curve)
{
    curve.kindValue = curve.kindValue != 0 ? 1 : 0;
    curve.displayKind = 2;
}

void resetNonlinearCurve(CurveData& curve)
{
    for (CurvePoint& p : curve.points)
        p = CurvePoint{};
    setIdentityPoint(curve.points[0], 0.0);
    setIdentityPoint(curve.points[1], 0.5);
    setIdentityPoint(curve.points[2], 1.0);
}

void resetNonlinearGreyPoints(CurveData& curve)
{
    for (CurvePoint& p : curve.points)
        if (p.state != 0)
            p.yGray = 1.0 - p.xGray;
}

} // namespace sonavik
