#include "edit/time_domain_edits.h"

#include "app/main_menu.h"
#include "document/sample_summary.h"
#include "edit/edit_test_support.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace sonavik {
namespace {

using test::sampleOf;
using test::ScriptedUi;
using S = SelectionShape;

EditRegion region(int channel, std::int32_t start, std::int32_t end, double a0 = 1.0, double a1 = 1.0,
                  S shape = S::Linear, double parameter = 0.0)
{
    return {channel, start, end, a0, a1, shape, parameter};
}

// Applies one in-place command to one region of a fresh mono or stereo document.
struct Editing {
    explicit Editing(SoundDocument d) : doc(std::move(d)) {}

    SoundDocument doc;
    ScriptedUi ui;
    Settings settings{};

    void apply(int commandId, const EditRegion& r)
    {
        EditContext context{doc, ui, settings};
        editRegion(context, commandId, r);
    }
};

SoundDocument constantDocument(int bits, int channels, std::int32_t frames, int raw)
{
    return test::makeDocument(bits, channels, frames, [&](std::int64_t, int) { return raw; });
}

TEST(TimeDomainEdits, KnownAnswersAtChosenFrames)
{
    struct Case {
        const char* name;
        int bits;
        int commandId;
        int raw;         // every sample of a 201-frame mono document
        EditRegion r;
        std::int32_t frame;
        int expected;    // stored value afterwards
    };
    const Case cases[] = {
        {"double, alpha 0 at the start edge", 16, cmd::Double, 1000, region(0, 0, 10, 0.0, 1.0), 0, 1000},
        {"double, alpha 1 at the end edge", 16, cmd::Double, 1000, region(0, 0, 10, 0.0, 1.0), 10, 2000},
        {"double, crossover midway", 16, cmd::Double, 1000, region(0, 0, 10, 0.0, 1.0), 5, 1500},
        {"double, crossover at 3/10", 16, cmd::Double, 1000, region(0, 0, 10, 0.0, 1.0), 3, 1300},
        {"double clips high", 16, cmd::Double, 20000, region(0, 0, 200), 7, 32767},
        {"double clips low", 16, cmd::Double, -20000, region(0, 0, 200), 7, -32768},
        {"double clips 8-bit", 8, cmd::Double, 200, region(0, 0, 200), 7, 255},
        {"halve rounds half up", 16, cmd::Halve, 1, region(0, 0, 200), 3, 1},
        {"halve of -1 is 0", 16, cmd::Halve, -1, region(0, 0, 200), 3, 0},
        {"halve of -3 is -1", 16, cmd::Halve, -3, region(0, 0, 200), 3, -1},
        {"halve 8-bit 255", 8, cmd::Halve, 255, region(0, 0, 200), 3, 192},
        {"halve 8-bit 0", 8, cmd::Halve, 0, region(0, 0, 200), 3, 64},
        {"silence 16-bit", 16, cmd::Silence, -1234, region(0, 0, 200), 100, 0},
        {"silence 8-bit", 8, cmd::Silence, 3, region(0, 0, 200), 100, 128},
        {"silence at half weight", 16, cmd::Silence, 1001, region(0, 0, 200, 0.5, 0.5), 100, 501},
        {"invert -32768 clips", 16, cmd::Invert, -32768, region(0, 0, 200), 50, 32767},
        {"invert 32767", 16, cmd::Invert, 32767, region(0, 0, 200), 50, -32767},
        {"invert 8-bit 0", 8, cmd::Invert, 0, region(0, 0, 200), 50, 255},
        {"invert 8-bit 128", 8, cmd::Invert, 128, region(0, 0, 200), 50, 128},
        {"invert 8-bit 255", 8, cmd::Invert, 255, region(0, 0, 200), 50, 1},
        {"one-frame linear fade-in halves", 16, cmd::FadeInLinear, 101, region(0, 40, 40), 40, 51},
        {"one-frame linear fade-out halves", 16, cmd::FadeOutLinear, 101, region(0, 40, 40), 40, 51},
        {"one-frame cos fade-in halves", 16, cmd::FadeInCos, -101, region(0, 40, 40), 40, -50},
        {"one-frame cos fade-out halves", 16, cmd::FadeOutCos, -101, region(0, 40, 40), 40, -50},
        {"one-frame fade, frame beside untouched", 16, cmd::FadeInCos, -101, region(0, 40, 40), 41, -101},
        {"cos fade-in start", 16, cmd::FadeInCos, 1000, region(0, 0, 100), 0, 0},
        {"cos fade-in midpoint halves", 16, cmd::FadeInCos, 1000, region(0, 0, 100), 50, 500},
        {"cos fade-in end unchanged", 16, cmd::FadeInCos, 1000, region(0, 0, 100), 100, 1000},
        {"cos fade-out start unchanged", 16, cmd::FadeOutCos, 1000, region(0, 0, 100), 0, 1000},
        {"cos fade-out end", 16, cmd::FadeOutCos, 1000, region(0, 0, 100), 100, 0},
        {"linear fade-in quarter", 16, cmd::FadeInLinear, 1000, region(0, 100, 200), 125, 250},
        {"linear fade-out quarter", 16, cmd::FadeOutLinear, 1000, region(0, 100, 200), 125, 750},
        {"linear fade 8-bit", 8, cmd::FadeInLinear, 228, region(0, 100, 200), 125, 153},
        {"beyond the region untouched", 16, cmd::Invert, 1000, region(0, 10, 20), 21, 1000},
        {"not-yet-built edit leaves the region", 16, cmd::Equalize, 1000, region(0, 0, 200), 9, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editing e{constantDocument(c.bits, 1, 201, c.raw)};
        e.apply(c.commandId, c.r);
        EXPECT_EQ(sampleOf(e.doc, c.frame, 0), c.expected);
        EXPECT_TRUE(e.ui.messages.empty());
    }
}

TEST(TimeDomainEdits, ReverseSwapsPairsAndWeighsEachFrameByItsOwnAlpha)
{
    struct Case {
        const char* name;
        EditRegion r;
        std::vector<int> expected;
    };
    const auto ramp = [](std::int64_t p, int) { return static_cast<int>(p * 100); };
    const Case cases[] = {
        {"five frames at full weight", region(0, 0, 4), {400, 300, 200, 100, 0, 500, 600}},
        {"inner range", region(0, 2, 5), {0, 100, 500, 400, 300, 200, 600}},
        {"one frame", region(0, 3, 3), {0, 100, 200, 300, 400, 500, 600}},
        {"two frames", region(0, 5, 6), {0, 100, 200, 300, 400, 600, 500}},
        // Frame 0 has alpha 0 and keeps 0; frame 4 has alpha 1 and takes 0; frame 1 (0.25) gets
        // 0.75 * 100 + 0.25 * 300 = 150, frame 3 (0.75) 0.25 * 300 + 0.75 * 100 = 150.
        {"rising envelope", region(0, 0, 4, 0.0, 1.0), {0, 150, 200, 150, 0, 500, 600}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Editing e{test::makeDocument(16, 1, 7, ramp)};
        e.apply(cmd::Reverse, c.r);
        EXPECT_EQ(test::channelSamples(e.doc, 0), c.expected);
    }
}

TEST(TimeDomainEdits, RegionsOutsideTheSoundAreRefusedUntouched)
{
    const EditRegion bad[] = {region(0, -1, 5), region(0, 5, 100), region(0, 6, 5), region(1, 0, 5), region(-1, 0, 5),
                              region(0, 0, INT32_MAX)};
    for (const EditRegion& r : bad) {
        SCOPED_TRACE(std::to_string(r.channel) + ":" + std::to_string(r.start) + ":" + std::to_string(r.end));
        Editing e{test::randomDocument(16, 1, 100, 3)};
        const auto before = test::bytesOf(e.doc);
        e.apply(cmd::Invert, r);
        EXPECT_EQ(test::bytesOf(e.doc), before);
        ASSERT_EQ(e.ui.messages.size(), 1u);
        EXPECT_EQ(e.ui.messages[0].text, "選択領域が不正です");
        EXPECT_EQ(e.ui.messages[0].icon, MessageIcon::Error);
    }
}

// Random envelopes of every shape, random regions and both sample formats: the block loop, the value
// table and the one-pass reversal must give exactly what the plain formula gives frame by frame.
TEST(TimeDomainEdits, EqualThePlainFormulaFrameByFrame)
{
    const int commands[] = {cmd::Silence, cmd::Halve,     cmd::Double,     cmd::FadeInLinear, cmd::FadeOutLinear,
                            cmd::FadeInCos, cmd::FadeOutCos, cmd::Reverse, cmd::Invert};
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto level = [&] {
        switch (rng() % 4) {
        case 0: return 0.0;
        case 1: return 1.0;
        case 2: return 0.5;
        default: return unit(rng);
        }
    };
    auto parameter = [&](S shape) {
        switch (rng() % 4) {
        case 0: return menuParameterOf(shape);
        case 1: return 0.0;
        case 2: return -3.0;
        default: return unit(rng) * 40.0;
        }
    };
    int cases = 0;
    const bool wideBefore = edit_detail::wideVectors();
    for (bool wide : {true, false})
    for (int bits : {8, 16}) {
        edit_detail::wideVectors() = wide && wideBefore;
        for (int channels : {1, 2}) {
            const std::int32_t frames = 3000;
            const SoundDocument original = test::randomDocument(bits, channels, frames, 7u + bits + channels);
            for (int round = 0; round < 60; ++round) {
                const int id = commands[rng() % std::size(commands)];
                const auto shape = static_cast<S>(rng() % 5);
                std::int32_t a = static_cast<std::int32_t>(rng() % frames);
                std::int32_t b = rng() % 5 == 0 ? a : static_cast<std::int32_t>(rng() % frames);
                const bool full = rng() % 4 == 0;
                const EditRegion r = full ? region(static_cast<int>(rng() % channels), std::min(a, b), std::max(a, b))
                                          : region(static_cast<int>(rng() % channels), std::min(a, b), std::max(a, b),
                                                   level(), level(), shape, parameter(shape));
                SCOPED_TRACE("bits " + std::to_string(bits) + " channels " + std::to_string(channels) + " command "
                             + std::to_string(id) + " region " + std::to_string(r.start) + ".." + std::to_string(r.end)
                             + " shape " + std::to_string(static_cast<int>(r.shape)));
                Editing e{original.copyWithSamples()};
                SoundDocument expected = original.copyWithSamples();
                e.apply(id, r);
                test::referenceEdit(expected, id, r);
                ASSERT_EQ(test::bytesOf(e.doc), test::bytesOf(expected));
                ++cases;
            }
        }
    }
    edit_detail::wideVectors() = wideBefore;
    EXPECT_EQ(cases, 480);
}

// Every value a sample can take, in a region long enough for the value table.
TEST(TimeDomainEdits, EveryPossibleSampleValueAtFullWeight)
{
    for (int bits : {8, 16}) {
        const std::int32_t values = bits == 8 ? 256 : 65536;
        const std::int32_t frames = bits == 8 ? 4 * values : values;
        const SoundDocument original = test::makeDocument(bits, 2, frames, [&](std::int64_t p, int c) {
            const int v = static_cast<int>((p + 12345 * c) % values);
            return bits == 8 ? v : v - 32768;
        });
        for (int id : {cmd::Silence, cmd::Halve, cmd::Double, cmd::Invert}) {
            for (int channel : {0, 1}) {
                SCOPED_TRACE("bits " + std::to_string(bits) + " command " + std::to_string(id));
                Editing e{original.copyWithSamples()};
                SoundDocument expected = original.copyWithSamples();
                e.apply(id, region(channel, 0, frames - 1));
                test::referenceEdit(expected, id, region(channel, 0, frames - 1));
                ASSERT_EQ(test::bytesOf(e.doc), test::bytesOf(expected));
            }
        }
    }
}

// Long, slowly turning Cos envelopes take their weights from a line through exact values and check the
// few samples that lie close to a rounding edge again: still exactly the plain formula.
TEST(TimeDomainEdits, LongCosineEnvelopesEqualThePlainFormula)
{
    const std::int32_t frames = 2'100'000;
    const SoundDocument original = test::randomDocument(16, 2, frames, 21);
    struct Case {
        int commandId;
        EditRegion r;
    };
    const Case cases[] = {
        {cmd::Double, region(1, 0, frames - 1, 0.0, 1.0, S::Cos, 1.0)},
        {cmd::FadeInCos, region(0, 50'000, 2'060'000, 1.0, 0.0, S::Cos, -1.0)},
        {cmd::Halve, region(0, 7, 2'000'007, 0.2, 0.9, S::Cos, 0.5)},
        {cmd::Invert, region(1, 3, 2'000'002, 0.3, 0.6, S::Cos, 1.0)},
        {cmd::Double, region(0, 0, frames - 1, 0.0, 1.0, S::Cos, 8.0)},  // turns too fast for the line
    };
    const bool wideBefore = edit_detail::wideVectors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.commandId);
        SoundDocument expected = original.copyWithSamples();
        test::referenceEdit(expected, c.commandId, c.r);
        for (bool wide : {true, false}) {
            edit_detail::wideVectors() = wide && wideBefore;
            Editing e{original.copyWithSamples()};
            e.apply(c.commandId, c.r);
            EXPECT_EQ(test::bytesOf(e.doc), test::bytesOf(expected));
        }
    }
    edit_detail::wideVectors() = wideBefore;
}

TEST(TimeDomainEdits, KeepTheBlockSummaryInStepWithTheSamples)
{
    for (int id : {cmd::Double, cmd::Reverse, cmd::FadeOutCos, cmd::Silence}) {
        SCOPED_TRACE(id);
        Editing e{test::randomDocument(16, 2, 70000, 11)};
        ensureSummary(e.doc);
        e.apply(id, region(1, 1000, 60000, 0.2, 0.9, S::Cos, 3.0));
        e.apply(id, region(0, 0, 69999));
        const SampleLayout layout = layoutOf(e.doc);
        ASSERT_TRUE(e.doc.summary.describes(layout));
        for (int c : {0, 1})
            for (auto [first, last] : {std::pair<std::int64_t, std::int64_t>{0, 69999}, {900, 1300}, {59000, 61000}})
                EXPECT_EQ(e.doc.summary.minMax(c, first, last), scanFrames(layout, c, first, last));
    }
}

TEST(EditCommandTable, OneEntryPerCommandWithItsMenuTextAndCliName)
{
    std::vector<int> ids;
    for (const EditCommand& c : editCommands()) {
        ids.push_back(c.id);
        EXPECT_EQ(findEditCommand(c.id), &c);
        if (c.cliName) {
            EXPECT_EQ(findEditCommandByCliName(c.cliName), &c);
        }
        EXPECT_EQ(c.kind == EditKind::InPlace, c.regionEdit != nullptr) << c.id;
    }
    EXPECT_EQ(ids, (std::vector<int>{40102, 40107, 40108, 40109, 40103, 40104, 40105, 40106, 40113, 40114, 40110,
                                     40111, 40112, 40115, 40116, 40117, 40123}));
    // The edit menu offers these commands under the same texts.
    for (const Menu& menu : mainMenu()) {
        for (const MenuItem& item : menu.items) {
            if (const EditCommand* c = findEditCommand(item.id)) {
                EXPECT_STREQ(c->menuText, item.text);
            }
        }
    }
    EXPECT_EQ(findEditCommandByCliName("fade-in")->id, cmd::FadeInLinear);
    EXPECT_EQ(findEditCommandByCliName("bogus"), nullptr);
    EXPECT_EQ(findEditCommand(40118), nullptr);
}

} // namespace
} // namespace sonavik
