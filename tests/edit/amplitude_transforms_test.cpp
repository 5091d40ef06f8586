#include "edit/amplitude_transforms.h"

#include "curve/curve.h"
#include "document/sample_summary.h"
#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "edit/time_domain_edits.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace sonavik {
namespace {

using test::sampleOf;
using S = SelectionShape;

EditRegion region(int channel, std::int32_t start, std::int32_t end, double a0 = 1.0, double a1 = 1.0,
                  S shape = S::Linear, double parameter = 0.0)
{
    return {channel, start, end, a0, a1, shape, parameter};
}

// One command on one region; channelCount 2 takes a whole stereo sound in one pass, as target 0 does.
std::vector<unsigned char> edited(SoundDocument& doc, const Settings& settings, int commandId, const EditRegion& r,
                                  int channelCount = 1)
{
    test::ScriptedUi ui;
    EditContext context{doc, ui, settings};
    if (channelCount == 2)
        findEditCommand(commandId)->regionEdit(context, r, 2);
    else
        editRegion(context, commandId, r);
    EXPECT_TRUE(ui.beeps.empty() && ui.messages.empty());
    return test::bytesOf(doc);
}

SoundDocument withSamples(int bits, const std::vector<int>& raw)
{
    return test::makeDocument(bits, 1, static_cast<std::int32_t>(raw.size()),
                              [&](std::int64_t i, int) { return raw[static_cast<std::size_t>(i)]; });
}

Settings defaults()
{
    Settings s;
    applyDefaultSettings(s);
    return s;
}

void setPoint(CurvePoint& p, double xGray, double yGray, double x, double y) { p = {1, 0, xGray, yGray, x, y}; }

// Grey points away from the edited ones in both directions.
void bend(CurveData& c)
{
    setPoint(c.points[0], 0.0, 0.9, 0.0, 1.0);
    setPoint(c.points[1], 0.2, 0.7, 0.3, 0.35);
    setPoint(c.points[2], 0.6, 0.3, 0.55, 0.2);
    setPoint(c.points[3], 1.0, 0.05, 1.0, 0.1);
}

// Frame by frame from the formulas, in the stored encoding.
int referenceNonlinear(const Settings& s, bool eight, int raw, double a)
{
    static test::ScriptedUi ui;  // curveValueAt beeps only for a degree outside [0, 1]
    const double x = eight ? raw - 128 : raw;
    auto w = [&](double h) { return curveValueAt(ui, s.nonlinear, a, h); };
    if (s.nonlinearMode() != 0) {
        const double full = eight ? 256 : 65536;
        return test::referenceStore((0.5 - w(x / full + 0.5)) * full, eight);
    }
    if (!eight)
        return test::referenceStore(x > 0 ? (1 - w(x / 32768)) * 32768 : (1 - w(-x / 32768)) * -32768, false);
    const double byte = x > 0 ? (1 - w(x / 128)) * 128 + 128 : 128 - (1 - w(-x / 128)) * 128;
    return static_cast<int>(std::clamp(std::floor(byte + 0.5), 0.0, 255.0));
}

TEST(NonlinearTransform, IdentityCurveAtFullDegreeKeepsEverySampleValue)
{
    for (int bits : {8, 16})
        for (int mode : {0, 1}) {
            SCOPED_TRACE(testing::Message() << bits << " bits, mode " << mode);
            const int n = bits == 8 ? 256 : 65536;
            SoundDocument doc = test::makeDocument(bits, 1, n, [&](std::int64_t i, int) { return static_cast<int>(i) - (n == 256 ? 0 : 32768); });
            const auto before = test::bytesOf(doc);
            Settings s = defaults();
            s.nonlinearMode() = mode;
            EXPECT_EQ(edited(doc, s, cmd::Nonlinear, region(0, 0, n - 1)), before);  // by table
            EXPECT_EQ(edited(doc, s, cmd::Nonlinear, region(0, 3, 40)), before);     // sample by sample
        }
}

TEST(NonlinearTransform, KnownAnswers)
{
    auto flat = [](CurveData& c) {  // output 0 everywhere
        for (int k = 0; k < 3; ++k)
            c.points[k].y = 1.0;
    };
    auto slanted = [](CurveData& c) {  // y from 0.25 at the left edge to 0.75 at the right
        setPoint(c.points[0], 0.0, 0.25, 0.0, 0.25);
        setPoint(c.points[1], 1.0, 0.75, 1.0, 0.75);
        c.points[2].state = 0;
    };
    struct Case {
        const char* name;
        int bits, mode;
        void (*curve)(CurveData&);
        std::vector<int> raw, expected;
    };
    const Case cases[] = {
        {"flat, magnitude", 16, 0, flat, {-32768, -5, 0, 7, 32767}, {0, 0, 0, 0, 0}},
        {"flat, whole range", 16, 1, flat, {-32768, -5, 0, 7, 32767}, {-32768, -32768, -32768, -32768, -32768}},
        {"flat, 8-bit magnitude", 8, 0, flat, {0, 100, 128, 200, 255}, {128, 128, 128, 128, 128}},
        {"flat, 8-bit whole range, mode 2", 8, 2, flat, {0, 100, 128, 200, 255}, {0, 0, 0, 0, 0}},
        // -32768 reads the right edge and is mirrored, (1 - 0.75) x -32768; 0 counts as negative and
        // reads the left edge; above 0 the line gives 24576 - x / 2.
        {"magnitude", 16, 0, slanted, {-32768, 0, 8192, 32766}, {-8192, -24576, 20480, 8193}},
        // In the whole range -32768 is the left edge, (0.5 - 0.25) x 65536, and the line gives -x / 2.
        {"whole range", 16, 1, slanted, {-32768, 0, 32766}, {16384, 0, -16383}},
        {"whole range, mode -1", 16, -1, slanted, {-32768, 0, 32766}, {16384, 0, -16383}},
        {"8-bit magnitude", 8, 0, slanted, {0, 128, 160}, {96, 32, 208}},
        {"8-bit whole range, -63.5 rounds up", 8, 1, slanted, {0, 128, 255}, {192, 128, 65}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundDocument doc = withSamples(c.bits, c.raw);
        Settings s = defaults();
        s.nonlinearMode() = c.mode;
        c.curve(s.nonlinear);
        edited(doc, s, cmd::Nonlinear, region(0, 0, doc.frameCount - 1));
        EXPECT_EQ(test::channelSamples(doc, 0), c.expected);
    }
}

TEST(NonlinearTransform, GreyIdentityFadesTheEffectInAlongTheEnvelope)
{
    // Edited curve at output 0, grey circles put back on the identity: degree a gives a gain of 1 - a.
    Settings s = defaults();
    for (int k = 0; k < 3; ++k) {
        s.nonlinear.points[k].y = 1.0;
        s.nonlinear.points[k].yGray = 0.3;
    }
    resetNonlinearGreyPoints(s.nonlinear);
    EXPECT_EQ(s.nonlinear.points[1].y, 1.0);
    SoundDocument doc = test::makeDocument(16, 1, 101, [](std::int64_t, int) { return 20000; });
    const EditRegion r = region(0, 0, 100, 0.0, 1.0);
    edited(doc, s, cmd::Nonlinear, r);
    const auto out = test::channelSamples(doc, 0);
    EXPECT_EQ(out[0], 20000);
    EXPECT_EQ(out[50], 10000);
    EXPECT_EQ(out[100], 0);
    for (int p = 0; p <= 100; ++p)
        EXPECT_NEAR(out[p], 20000.0 * (1.0 - test::referenceAlpha(r, p)), 1.0) << p;
}

TEST(NonlinearTransform, EqualsTheFormulasFrameByFrameAndKeepsTheSummary)
{
    struct Case {
        int bits, channels;
        std::int32_t frames;
        EditRegion r;
        int channelCount;
    };
    const Case cases[] = {
        {16, 1, 70000, region(0, 0, 69999), 1},  // by table
        {16, 2, 3000, region(1, 100, 2800, 0.0, 1.0), 1},
        {16, 1, 3000, region(0, 0, 2999, 0.9, 0.1, S::Cos, 2.5), 1},
        {16, 1, 3000, region(0, 5, 2000, 1.0, 0.0, S::Staircase, 6.0), 1},
        {16, 2, 70000, region(0, 0, 69999), 2},
        {8, 2, 3000, region(0, 0, 2999, 1.0, 0.0, S::ExpPlus, 3.0), 1},
        {8, 2, 3000, region(0, 0, 2999), 2},
        {16, 1, 10, region(0, 4, 4, 0.5, 0.5), 1},
    };
    for (int mode : {0, 1})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.frames << " frames, mode " << mode);
            const SoundDocument original = test::randomDocument(c.bits, c.channels, c.frames, 17);
            Settings s = defaults();
            bend(s.nonlinear);
            s.nonlinearMode() = mode;
            SoundDocument expected = original.copyWithSamples();
            for (int ch = c.r.channel; ch < c.r.channel + c.channelCount; ++ch)
                for (std::int64_t p = c.r.start; p <= c.r.end; ++p)
                    test::setSample(expected, p, ch,
                                    referenceNonlinear(s, c.bits == 8, sampleOf(original, p, ch), test::referenceAlpha(c.r, p)));
            SoundDocument doc = original.copyWithSamples();
            ensureSummary(doc);
            EXPECT_EQ(edited(doc, s, cmd::Nonlinear, c.r, c.channelCount), test::bytesOf(expected));
            const SampleLayout layout = layoutOf(doc);
            ASSERT_TRUE(doc.summary.describes(layout));
            EXPECT_EQ(doc.summary.minMax(c.r.channel, 0, c.frames - 1), scanFrames(layout, c.r.channel, 0, c.frames - 1));
        }
}

TEST(NonlinearTransform, SlowCosEnvelopeUsesTheExactDegreeEveryFrame)
{
    // An envelope this slow lets the shared loop interpolate alpha; the curve's degree must be alphaAt.
    constexpr std::int32_t kFrames = 1'400'000;
    const EditRegion r = region(0, 0, kFrames - 1, 0.0, 1.0, S::Cos, 1.0);
    double scratch[edit_detail::kBlockFrames];
    ASSERT_GT(edit_detail::fillAlpha(edit_detail::envelopeOf(r), 0, edit_detail::kBlockFrames, scratch), 0.0);
    const SoundDocument original = test::randomDocument(16, 1, kFrames, 23);
    SoundDocument doc = original.copyWithSamples();
    Settings s = defaults();
    bend(s.nonlinear);
    edited(doc, s, cmd::Nonlinear, r);
    for (std::int64_t p = 0; p < kFrames; ++p)
        ASSERT_EQ(sampleOf(doc, p, 0), referenceNonlinear(s, false, sampleOf(original, p, 0), test::referenceAlpha(r, p))) << p;
}

TEST(Coarsening, KnownAnswers)
{
    struct Case {
        const char* name;
        int bits, coarseBits;
        std::vector<int> raw, expected;
    };
    const std::vector<int> some16 = {5000, 6200, -2048, 32767, -32768, 2047, -2049, 0};
    const std::vector<int> some8 = {0, 100, 120, 128, 136, 135, 255};
    const std::vector<int> halves16 = {16383, 16384, -16384, -16385}, oneBit16 = {0, 32767, 0, -32768};
    const std::vector<int> halves8 = {63, 64, 191, 192}, oneBit8 = {0, 128, 128, 255};
    const Case cases[] = {
        {"4 of 16 bits: step 4096", 16, 4, some16, {4096, 8192, 0, 32767, -32768, 0, -4096, 0}},
        {"15 of 16 bits: step 2", 16, 15, {1, 2, 3, -1, -3}, {2, 2, 4, 0, -2}},
        {"16 of 16 bits", 16, 16, some16, some16},
        {"17 of 16 bits", 16, 17, some16, some16},
        {"INT_MAX bits", 16, INT_MAX, some16, some16},
        {"1 of 16 bits", 16, 1, halves16, oneBit16},
        {"0 bits act as 1", 16, 0, halves16, oneBit16},
        {"INT_MIN bits act as 1", 16, INT_MIN, halves16, oneBit16},
        {"4 of 8 bits: step 16", 8, 4, some8, {0, 96, 128, 128, 144, 128, 255}},
        {"8 of 8 bits", 8, 8, some8, some8},
        {"16 on an 8-bit sound", 8, 16, some8, some8},
        {"1 of 8 bits", 8, 1, halves8, oneBit8},
        {"-3 on an 8-bit sound", 8, -3, halves8, oneBit8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundDocument doc = withSamples(c.bits, c.raw);
        Settings s = defaults();
        s.coarseBits = c.coarseBits;
        edited(doc, s, cmd::Coarsen, region(0, 0, doc.frameCount - 1));
        EXPECT_EQ(test::channelSamples(doc, 0), c.expected);
    }
}

TEST(Coarsening, BlendsByAlphaLikeEverySampleWiseEdit)
{
    struct Case {
        int bits, coarseBits;
        EditRegion r;
        int channelCount;
    };
    const Case cases[] = {
        {16, 5, region(1, 100, 60000, 0.0, 1.0), 1},
        {16, 9, region(0, 0, 69999, 0.8, 0.1, S::Cos, 3.0), 1},
        {16, 2, region(0, 0, 69999), 2},
        {8, 3, region(1, 0, 69999, 1.0, 0.0, S::ExpMinus, 2.0), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits to " << c.coarseBits);
        const SoundDocument original = test::randomDocument(c.bits, 2, 70000, 29);
        const double step = std::ldexp(1.0, c.bits - c.coarseBits);
        SoundDocument expected = original.copyWithSamples();
        for (int ch = c.r.channel; ch < c.r.channel + c.channelCount; ++ch)
            for (std::int64_t p = c.r.start; p <= c.r.end; ++p) {
                const double x = sampleOf(original, p, ch) - (c.bits == 8 ? 128 : 0);
                const double a = test::referenceAlpha(c.r, p);
                test::setSample(expected, p, ch,
                                test::referenceStore((1 - a) * x + a * step * std::floor(x / step + 0.5), c.bits == 8));
            }
        SoundDocument doc = original.copyWithSamples();
        Settings s = defaults();
        s.coarseBits = c.coarseBits;
        EXPECT_EQ(edited(doc, s, cmd::Coarsen, c.r, c.channelCount), test::bytesOf(expected));
    }
}

TEST(AmplitudeDialogRules, TextsModeAndReset)
{
    EXPECT_EQ(coarseBitsText(8, 8), " 8 bits / 8 bits");
    EXPECT_EQ(coarseBitsText(1, 8), " 1 bit / 8 bits");
    EXPECT_EQ(coarseBitsText(1, 16), " 1 bit / 16 bits");
    EXPECT_EQ(coarseBitsText(12, 16), " 12 bits / 16 bits");

    for (auto [before, after] : {std::pair{0, 0}, {1, 1}, {2, 1}, {INT_MIN, 1}}) {
        CurveData c{};
        c.kindValue = before;
        prepareNonlinearCurve(c);
        EXPECT_EQ(c.kindValue, after) << before;
        EXPECT_EQ(c.displayKind, 2);
    }

    Settings s = defaults();
    bend(s.nonlinear);
    setPoint(s.nonlinear.points[9], 0.9, 0.9, 0.9, 0.9);
    s.nonlinear.kindValue = 1;
    resetNonlinearCurve(s.nonlinear);
    const Settings d = defaults();
    EXPECT_EQ(std::memcmp(s.nonlinear.points, d.nonlinear.points, sizeof d.nonlinear.points), 0);
    EXPECT_EQ(s.nonlinear.kindValue, 1);  // the mode is not part of the curve
}

} // namespace
} // namespace sonavik
