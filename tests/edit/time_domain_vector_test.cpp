// The one-pass vector edits against the plain formula: every layout (mono, one channel of two, both
// channels at once), both widths, every kind of weight, regions of awkward lengths at awkward places,
// with the vector instructions on and off.

#include "edit/time_domain_edits.h"

#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>

namespace sonavik {
namespace {

using S = SelectionShape;

// Restores the processor's choice however a test ends.
class WideVectors {
public:
    WideVectors() : before_(edit_detail::wideVectors()) {}
    ~WideVectors() { edit_detail::wideVectors() = before_; }
    void use(bool wide) { edit_detail::wideVectors() = wide && before_; }

private:
    bool before_;
};

// Edits region.channel, or with both set both channels of a stereo document in one call, as the
// dispatcher does for a whole stereo sound.
void applyEdit(SoundDocument& doc, int commandId, const EditRegion& r, bool both)
{
    test::ScriptedUi ui;
    Settings settings{};
    EditContext context{doc, ui, settings};
    if (both)
        findEditCommand(commandId)->regionEdit(context, r, 2);
    else
        editRegion(context, commandId, r);
}

void applyReference(SoundDocument& doc, int commandId, EditRegion r, bool both)
{
    if (!both) {
        test::referenceEdit(doc, commandId, r);
        return;
    }
    for (int c : {0, 1}) {
        r.channel = c;
        test::referenceEdit(doc, commandId, r);
    }
}

std::string describe(int bits, int channels, bool both, int id, const EditRegion& r)
{
    return std::to_string(bits) + "-bit, " + std::to_string(channels) + (both ? " channels at once" : " channels")
           + ", command " + std::to_string(id) + ", channel " + std::to_string(r.channel) + ", frames "
           + std::to_string(r.start) + ".." + std::to_string(r.end) + ", shape "
           + std::to_string(static_cast<int>(r.shape)) + " " + std::to_string(r.alphaStart) + "->"
           + std::to_string(r.alphaEnd) + " parameter " + std::to_string(r.shapeParameter);
}

TEST(TimeDomainVectors, PositionsAreTheCorrectlyRoundedQuotient)
{
    std::mt19937 rng(77);
    std::vector<std::int64_t> spans = {1, 2, 3, 7, 10, 255, 256, 257, 1000, 44100, 158'759'999, 2'147'483'646,
                                       2'147'483'647};
    for (int i = 0; i < 40; ++i)
        spans.push_back(1 + static_cast<std::int64_t>(rng() % 2'147'483'647u));
    WideVectors wide;
    for (bool on : {true, false}) {
        wide.use(on);
        for (std::int64_t span : spans) {
            // Blocks at the start, the end and random places, of every length up to a block.
            for (int round = 0; round < 200; ++round) {
                const int count = 1 + static_cast<int>(rng() % edit_detail::kBlockFrames);
                const std::int64_t last = std::max<std::int64_t>(0, span - count + 1);
                const std::int64_t from =
                    round == 0 ? 0 : round == 1 ? last : static_cast<std::int64_t>(rng() % (last + 1));
                double t[edit_detail::kBlockFrames];
                edit_detail::fillPositions(from, span, count, t);
                for (int i = 0; i < count && from + i <= span; ++i) {
                    const double expected = static_cast<double>(from + i) / static_cast<double>(span);
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(t[i]), std::bit_cast<std::uint64_t>(expected))
                        << (from + i) << " / " << span;
                }
            }
        }
    }
    double one[3];
    edit_detail::fillPositions(0, 0, 3, one);
    EXPECT_EQ(one[0], 0.5);
    EXPECT_EQ(one[2], 0.5);
}

// Random regions of lengths around the group and block sizes, with every kind of weight the loop
// distinguishes: full, exact per frame, and interpolated Cos lines (levels equal, or a swing so small
// that the blend sits on rounding edges and only the exact weight decides).
TEST(TimeDomainVectors, EveryLayoutWidthAndWeightEqualsThePlainFormula)
{
    const int commands[] = {cmd::Silence,      cmd::Halve,     cmd::Double,     cmd::FadeInLinear,
                            cmd::FadeOutLinear, cmd::FadeInCos, cmd::FadeOutCos, cmd::Invert};
    struct Weight {
        double a0, a1;
        S shape;
        double parameter;
    };
    const Weight weights[] = {
        {1.0, 1.0, S::Linear, 0.0},       {0.2, 0.9, S::Linear, 0.0},    {1.0, 0.0, S::ExpPlus, 3.0},
        {0.0, 1.0, S::Staircase, 10.0},   {0.1, 0.8, S::Cos, 8.0},       {0.5, 0.5, S::Cos, 1.0},
        {0.25, 0.25, S::Cos, 3.0},        {0.5, 0.5 + 1e-12, S::Cos, 200.0}, {1.0, 1.0, S::Cos, 1.0},
    };
    const std::int32_t lengths[] = {1, 2, 3, 7, 8, 9, 15, 17, 255, 256, 257, 511, 513, 1500};
    const std::int32_t frames = 2100;
    std::mt19937 rng(4242);
    WideVectors wide;
    int cases = 0;
    for (int bits : {8, 16})
        for (int channels : {1, 2}) {
            const SoundDocument original = test::randomDocument(bits, channels, frames, 50u + bits + channels);
            for (bool both : channels == 2 ? std::vector<bool>{false, true} : std::vector<bool>{false})
                for (int id : commands)
                    for (const Weight& w : weights) {
                        const std::int32_t length = lengths[rng() % std::size(lengths)];
                        const std::int32_t start = static_cast<std::int32_t>(rng() % (frames - length + 1));
                        const int channel = both ? 0 : static_cast<int>(rng() % channels);
                        const EditRegion r{channel, start, start + length - 1, w.a0, w.a1, w.shape, w.parameter};
                        SCOPED_TRACE(describe(bits, channels, both, id, r));
                        SoundDocument expected = original.copyWithSamples();
                        applyReference(expected, id, r, both);
                        for (bool on : {true, false}) {
                            wide.use(on);
                            SoundDocument edited = original.copyWithSamples();
                            applyEdit(edited, id, r, both);
                            ASSERT_EQ(test::bytesOf(edited), test::bytesOf(expected)) << (on ? "wide" : "narrow");
                        }
                        ++cases;
                    }
        }
    EXPECT_EQ(cases, 2 * 3 * 8 * 9);
}

// Samples whose blend lies on or within a hair of a .5 tie: the weights of a Cos envelope whose levels
// differ by 1e-12 come from a line, and only alphaAt of each sample's own frame tells which way it rounds.
TEST(TimeDomainVectors, TiesAreDecidedByTheExactWeightOfTheirOwnFrame)
{
    const std::int32_t frames = 3001;
    const EditRegion wavy{0, 3, frames - 2, 0.5, 0.5 + 1e-12, S::Cos, 200.0};
    const Selection envelope = edit_detail::envelopeOf(wavy);
    double alpha[edit_detail::kBlockFrames];
    ASSERT_GT(edit_detail::fillAlpha(envelope, wavy.start, edit_detail::kBlockFrames, alpha), 0.0)
        << "the weights must come from the line for this test to mean anything";

    // Odd values blended halfway towards their double: 1.5 x, a tie moved by (alpha - 0.5) x only.
    const auto oddValues = [](int bits) {
        const int range = bits == 8 ? 40 : 9000;
        return [bits, range](std::int64_t p, int c) {
            const int v = 2 * static_cast<int>((p * 37 + c * 11) % range) + 1 - range;
            return bits == 8 ? v + 128 : v;
        };
    };
    WideVectors wide;
    for (int bits : {8, 16})
        for (int channels : {1, 2})
            for (bool both : channels == 2 ? std::vector<bool>{false, true} : std::vector<bool>{false})
                for (int channel = 0; channel < (both ? 1 : channels); ++channel)
                    for (int id : {cmd::Double, cmd::Halve, cmd::FadeInLinear, cmd::Invert}) {
                        EditRegion r = wavy;
                        r.channel = channel;
                        SCOPED_TRACE(describe(bits, channels, both, id, r));
                        const SoundDocument original = test::makeDocument(bits, channels, frames, oddValues(bits));
                        SoundDocument expected = original.copyWithSamples();
                        applyReference(expected, id, r, both);
                        for (bool on : {true, false}) {
                            wide.use(on);
                            SoundDocument edited = original.copyWithSamples();
                            applyEdit(edited, id, r, both);
                            ASSERT_EQ(test::bytesOf(edited), test::bytesOf(expected)) << (on ? "wide" : "narrow");
                        }
                    }
}

// Long, slowly turning envelopes take the interpolated weights in every layout, and the linear fades
// their positions from the reciprocal over spans where t needs all its bits.
TEST(TimeDomainVectors, LongRegionsInEveryLayoutEqualThePlainFormula)
{
    struct Case {
        int bits;
        int channels;
        bool both;
        int commandId;
        EditRegion r;
    };
    const std::int32_t frames = 1'000'003;
    const Case cases[] = {
        {16, 2, true, cmd::Double, {0, 0, frames - 1, 0.1, 0.9, S::Cos, 0.6}},
        {16, 1, false, cmd::Halve, {0, 5, frames - 4, 1.0, 0.2, S::Cos, -0.6}},
        {8, 2, true, cmd::Double, {0, 0, frames - 1, 0.3, 0.7, S::Cos, 1.0}},
        {8, 2, false, cmd::FadeOutLinear, {1, 9, frames - 1, 0.0, 1.0, S::Cos, 0.5}},
        {16, 2, true, cmd::FadeInLinear, {0, 0, frames - 1}},
        {16, 2, false, cmd::FadeOutLinear, {1, 1, frames - 2}},
        {8, 1, false, cmd::FadeInLinear, {0, 2, frames - 1}},
    };
    WideVectors wide;
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c.bits, c.channels, c.both, c.commandId, c.r));
        if (c.r.shape == S::Cos) {
            double alpha[edit_detail::kBlockFrames];
            ASSERT_GT(edit_detail::fillAlpha(edit_detail::envelopeOf(c.r), c.r.start, 1, alpha), 0.0);
        }
        const SoundDocument original = test::randomDocument(c.bits, c.channels, frames, 9u + c.bits);
        SoundDocument expected = original.copyWithSamples();
        applyReference(expected, c.commandId, c.r, c.both);
        for (bool on : {true, false}) {
            wide.use(on);
            SoundDocument edited = original.copyWithSamples();
            applyEdit(edited, c.commandId, c.r, c.both);
            EXPECT_EQ(test::bytesOf(edited), test::bytesOf(expected)) << (on ? "wide" : "narrow");
        }
    }
}

// The extremes of both widths at full weight and halfway, in each layout: clipping at both ends.
TEST(TimeDomainVectors, ExtremeValuesClipAsTheFormulaSays)
{
    WideVectors wide;
    for (int bits : {8, 16}) {
        const int lo = bits == 8 ? 0 : -32768;
        const int hi = bits == 8 ? 255 : 32767;
        const int pattern[] = {lo, hi, lo + 1, hi - 1, bits == 8 ? 128 : 0, bits == 8 ? 127 : -1, bits == 8 ? 129 : 1};
        for (int channels : {1, 2}) {
            const SoundDocument original = test::makeDocument(bits, channels, 301, [&](std::int64_t p, int c) {
                return pattern[(p + 3 * c) % std::size(pattern)];
            });
            for (bool both : channels == 2 ? std::vector<bool>{false, true} : std::vector<bool>{false})
                for (int id : {cmd::Double, cmd::Invert, cmd::Halve, cmd::FadeInLinear, cmd::FadeOutCos})
                    for (double level : {1.0, 0.5}) {
                        const EditRegion r{channels == 2 && !both ? 1 : 0, 0, 300, level, level, S::Linear, 0.0};
                        SCOPED_TRACE(describe(bits, channels, both, id, r));
                        SoundDocument expected = original.copyWithSamples();
                        applyReference(expected, id, r, both);
                        for (bool on : {true, false}) {
                            wide.use(on);
                            SoundDocument edited = original.copyWithSamples();
                            applyEdit(edited, id, r, both);
                            ASSERT_EQ(test::bytesOf(edited), test::bytesOf(expected)) << (on ? "wide" : "narrow");
                        }
                    }
        }
    }
}

} // namespace
} // namespace sonavik
