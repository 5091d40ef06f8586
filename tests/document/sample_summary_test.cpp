#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "support/scripted_ui.h"
#include "views/test_documents.h"

#include <gtest/gtest.h>

#include <random>

namespace sonavik {
namespace {

using test::makeDocument;
using test::randomDocument;

// Random ranges, many crossing block and level boundaries, some reaching outside the frames.
void expectSameAsScanning(const SampleSummary& summary, const SampleLayout& layout, unsigned seed, int queries)
{
    std::mt19937 rng(seed);
    const std::int64_t n = layout.frameCount;
    std::uniform_int_distribution<std::int64_t> anywhere(-300, n + 300);
    std::uniform_int_distribution<int> lengthBits(0, 22);
    for (int q = 0; q < queries; ++q) {
        const std::int64_t first = anywhere(rng);
        const std::int64_t last = first + (std::int64_t{1} << lengthBits(rng)) + anywhere(rng) % 300 - 2;
        for (int c = 0; c < layout.channels; ++c)
            ASSERT_EQ(summary.minMax(c, first, last), scanFrames(layout, c, first, last))
                << "channel " << c << " [" << first << ", " << last << "] of " << n;
    }
    for (int c = 0; c < layout.channels; ++c)
        ASSERT_EQ(summary.minMax(c, 0, n - 1), scanFrames(layout, c, 0, n - 1));
}

TEST(SampleSummary, AnswersEqualReadingEveryFrame)
{
    struct Case {
        int bits, channels;
        std::int32_t frames;
    };
    // Lengths around the 256-frame blocks and the 16x levels above them (4096, 65536, 1048576).
    const Case cases[] = {{8, 1, 1},       {16, 2, 255},     {8, 2, 256},     {16, 1, 257},
                          {8, 1, 4096},    {16, 2, 4097},    {8, 2, 70000},   {16, 1, 65536 * 3 + 5},
                          {16, 2, 1100000}, {8, 1, 1048576 + 256 * 17 + 3}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        SoundDocument doc = randomDocument(c.bits, c.channels, c.frames, seed);
        ensureSummary(doc);
        ASSERT_TRUE(doc.summary.describes(layoutOf(doc)));
        expectSameAsScanning(doc.summary, layoutOf(doc), ++seed, 300);
    }
}

TEST(SampleSummary, EmptyRangesAndMissingChannelsGiveNothing)
{
    SoundDocument doc = randomDocument(16, 1, 1000, 3);
    ensureSummary(doc);
    EXPECT_TRUE(doc.summary.minMax(0, 10, 9).isEmpty());
    EXPECT_TRUE(doc.summary.minMax(0, -50, -1).isEmpty());
    EXPECT_TRUE(doc.summary.minMax(0, 1000, 5000).isEmpty());
    EXPECT_TRUE(doc.summary.minMax(1, 0, 999).isEmpty());

    SoundDocument none = makeDocument(8, 2, 0, [](std::int64_t, int) { return 0; });
    ensureSummary(none);
    EXPECT_TRUE(none.summary.describes(layoutOf(none)));
    EXPECT_TRUE(none.summary.minMax(0, 0, 100).isEmpty());
}

TEST(SampleSummary, InPlaceChangesAreFollowedWhenNoted)
{
    SoundDocument doc = randomDocument(16, 2, 300000, 5);
    ensureSummary(doc);
    std::mt19937 rng(9);
    for (int edit = 0; edit < 20; ++edit) {
        const std::int64_t first = rng() % 300000;
        const std::int64_t last = std::min<std::int64_t>(299999, first + rng() % 20000);
        auto* s = reinterpret_cast<std::int16_t*>(doc.samples.data());
        for (std::int64_t i = first; i <= last; ++i)
            s[2 * i + edit % 2] = static_cast<std::int16_t>((edit % 3 == 0 ? 32767 : -32768) + (edit % 3 == 0 ? -edit : edit));
        noteSamplesChanged(doc, first, last);
        expectSameAsScanning(doc.summary, layoutOf(doc), 100 + edit, 50);
    }
    // Noting a range outside the frames is harmless.
    noteSamplesChanged(doc, -10, -1);
    noteSamplesChanged(doc, 299999, 400000);
    noteSamplesChanged(doc, 5, 2);
}

TEST(SampleSummary, StaleSummaryIsRebuiltAndNeverUsed)
{
    SoundDocument doc = randomDocument(8, 1, 5000, 7);
    ensureSummary(doc);
    doc.frameCount = 4000;  // a shorter document over the same buffer
    EXPECT_FALSE(doc.summary.describes(layoutOf(doc)));
    noteSamplesChanged(doc, 0, 10);  // does not revive it
    EXPECT_FALSE(doc.summary.describes(layoutOf(doc)));
    ensureSummary(doc);
    EXPECT_TRUE(doc.summary.describes(layoutOf(doc)));
    EXPECT_TRUE(doc.summary.minMax(0, 4000, 4999).isEmpty());

    doc.samples = SampleBuffer::allocate(doc.byteCount());  // a new buffer
    std::fill_n(doc.samples.data(), doc.byteCount(), 9);
    EXPECT_FALSE(doc.summary.describes(layoutOf(doc)));
    ensureSummary(doc);
    EXPECT_EQ(doc.summary.minMax(0, 0, 3999), (MinMax{9, 9}));

    // A frameCount beyond the buffer is never read past the buffer.
    doc.frameCount = 1000000;
    ensureSummary(doc);
    EXPECT_EQ(layoutOf(doc).frameCount, 4000);

    doc.samples.reset();
    ensureSummary(doc);
    EXPECT_TRUE(doc.summary.empty());
}

TEST(SampleSummary, TravelsWithTheSamplesItDescribes)
{
    test::ScriptedUi ui;
    SoundDocument current = randomDocument(16, 2, 20000, 11);
    SoundDocument undo;
    ensureSummary(current);
    auto describesItself = [](const SoundDocument& d) { return d.summary.describes(layoutOf(d)); };

    const SoundDocument copy = current.copyWithSamples();
    EXPECT_TRUE(describesItself(copy));
    EXPECT_EQ(copy.summary.minMax(1, 100, 19000), current.summary.minMax(1, 100, 19000));
    EXPECT_TRUE(current.copyWithoutSamples().summary.empty());

    ASSERT_TRUE(snapshotForEdit(current, undo, ui));
    EXPECT_TRUE(describesItself(undo));
    EXPECT_NE(undo.summary.layout().samples, current.summary.layout().samples);

    // An edit changes the current samples only; undo brings back the old ones with their summary.
    auto* s = reinterpret_cast<std::int16_t*>(current.samples.data());
    s[2 * 500] = 32767;
    noteSamplesChanged(current, 500, 500);
    EXPECT_EQ(current.summary.minMax(0, 0, 19999).max, 32767);
    swapWithUndoStore(current, undo);
    EXPECT_TRUE(describesItself(current));
    EXPECT_TRUE(describesItself(undo));
    EXPECT_EQ(current.summary.minMax(0, 0, 19999), scanFrames(layoutOf(current), 0, 0, 19999));
    EXPECT_EQ(undo.summary.minMax(0, 0, 19999).max, 32767);

    moveToUndoStore(current, undo);
    EXPECT_TRUE(current.summary.empty());
    EXPECT_TRUE(describesItself(undo));

    releaseAll(current, undo);
    EXPECT_TRUE(undo.summary.empty());
}

} // namespace
} // namespace sonavik
