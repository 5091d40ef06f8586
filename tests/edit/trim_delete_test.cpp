#include "edit/trim_delete.h"

#include "document/wav_file.h"
#include "document/window_title.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "edit/edit_test_support.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace sonavik {
namespace {

using test::channelSamples;
using test::ScriptedUi;
using test::selection;
using K = SelectionKind;

// Left samples count 0, 1, 2, ...; right ones 10000, 10001, ... so every frame is recognisable.
SoundDocument countingDocument(int channels, std::int32_t frames, int bits = 16)
{
    return test::makeDocument(bits, channels, frames, [bits](std::int64_t p, int c) {
        return bits == 8 ? static_cast<int>((p + 100 * c) % 256) : static_cast<int>(p + 10000 * c);
    });
}

std::vector<int> counting(std::int64_t first, std::int64_t last, int offset = 0)
{
    std::vector<int> out;
    for (std::int64_t p = first; p <= last; ++p)
        out.push_back(static_cast<int>(p + offset));
    return out;
}

std::vector<int> join(std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<int> silence(std::int64_t n, int value = 0) { return std::vector<int>(static_cast<std::size_t>(n), value); }

// Slot -> [start, end] of every occupied slot.
std::map<int, std::pair<int, int>> ranges(const SelectionTable& table)
{
    std::map<int, std::pair<int, int>> out;
    for (int i = 0; i < kSelectionSlots; ++i)
        if (table[i].kind != K::None)
            out[i] = {table[i].start, table[i].end};
    return out;
}

bool run(Workspace& ws, ScriptedUi& ui, int id, int target, int slot = -1)
{
    EditHost host;
    return runEditCommand(ws, ui, host, id, target, slot);
}

// The example sound: 1000 stereo frames, left blue [100, 199] and [500, 549] and green [300, 349].
Workspace exampleSound()
{
    Workspace ws = test::workspaceWith(countingDocument(2, 1000));
    ws.document.leftSelections[0] = selection(K::Blue, 500, 549, 0.2, 0.7, SelectionShape::Cos, 3.0);
    ws.document.leftSelections[1] = selection(K::Green, 300, 349);
    ws.document.leftSelections[2] = selection(K::Blue, 100, 199);
    ws.document.rightSelections[4] = selection(K::Green, 600, 700);
    ws.red = RedSelection{5, 6, 0, 0, 0};
    return ws;
}

TEST(TrimOrDelete, TrimBlueOfLeftKeepsTheTwoPiecesInOrder)
{
    Workspace ws = exampleSound();
    ScriptedUi ui;
    ASSERT_TRUE(run(ws, ui, cmd::Trim, 7));
    const SoundDocument& d = ws.document;
    EXPECT_EQ(d.frameCount, 150);
    EXPECT_EQ(channelSamples(d, 0), join({counting(100, 199), counting(500, 549)}));
    EXPECT_EQ(channelSamples(d, 1), silence(150));
    EXPECT_EQ(ranges(d.leftSelections), (std::map<int, std::pair<int, int>>{{0, {100, 149}}, {2, {0, 99}}}));
    // Slot, kind and envelope stay with the selection.
    EXPECT_EQ(d.leftSelections[0].kind, K::Blue);
    EXPECT_EQ(d.leftSelections[0].alphaStart, 0.2);
    EXPECT_EQ(d.leftSelections[0].shape, SelectionShape::Cos);
    EXPECT_EQ(d.leftSelections[0].shapeParameter, 3.0);
    EXPECT_TRUE(ranges(d.rightSelections).empty());
    EXPECT_FALSE(ws.red.exists());
    EXPECT_EQ(d.modified, 1);
    EXPECT_NE(mainWindowTitle(ws).find(" * 0 +"), std::string::npos);
    EXPECT_EQ(ui.cursors, (std::vector<CursorKind>{CursorKind::Wait, CursorKind::Arrow}));
    // Undo brings back the whole sound.
    swapWithUndoStore(ws.document, ws.undoStore);
    EXPECT_EQ(ws.document.frameCount, 1000);
    EXPECT_EQ(channelSamples(ws.document, 1), counting(0, 999, 10000));
}

TEST(TrimOrDelete, DeleteBlueOfLeftClosesTheGapsAndEndsInSilence)
{
    Workspace ws = exampleSound();
    ScriptedUi ui;
    ASSERT_TRUE(run(ws, ui, cmd::Delete, 7));
    const SoundDocument& d = ws.document;
    EXPECT_EQ(d.frameCount, 1000);
    EXPECT_EQ(channelSamples(d, 0), join({counting(0, 99), counting(200, 499), counting(550, 999), silence(150)}));
    EXPECT_EQ(channelSamples(d, 1), counting(0, 999, 10000));
    EXPECT_EQ(ranges(d.leftSelections), (std::map<int, std::pair<int, int>>{{1, {200, 249}}}));
    EXPECT_EQ(ranges(d.rightSelections), (std::map<int, std::pair<int, int>>{{4, {600, 700}}}));
    EXPECT_FALSE(ws.red.exists());
}

TEST(TrimOrDelete, SelectionRebuildForEachKindOfTarget)
{
    using Ranges = std::map<int, std::pair<int, int>>;
    struct Case {
        const char* name;
        int id;
        int target;
        int slot;
        RedSelection red;
        std::int32_t frames;
        std::vector<int> left;
        std::vector<int> right;
        Ranges leftRanges;
        Ranges rightRanges;
    };
    // Left: slot 7 [10, 19], slot 5 [100, 149] blue, slot 2 [300, 310] green; right: slot 0 [20, 30] blue.
    const RedSelection noRed{};
    const Case cases[] = {
        {"trim whole left keeps every selection", cmd::Trim, 1, -1, noRed, 1000, counting(0, 999), silence(1000),
         {{7, {10, 19}}, {5, {100, 149}}, {2, {300, 310}}}, {}},
        {"delete whole right removes its selections", cmd::Delete, 2, -1, noRed, 1000, counting(0, 999), silence(1000),
         {{7, {10, 19}}, {5, {100, 149}}, {2, {300, 310}}}, {}},
        {"delete both leaves no frames", cmd::Delete, 0, -1, noRed, 0, {}, {}, {}, {}},
        {"delete left slot 5", cmd::Delete, 13, 5, noRed, 1000, join({counting(0, 99), counting(150, 999), silence(50)}),
         counting(0, 999, 10000), {{7, {10, 19}}, {2, {250, 260}}}, {{0, {20, 30}}}},
        {"trim left slot 5 empties the right", cmd::Trim, 13, 5, noRed, 50, counting(100, 149), silence(50),
         {{5, {0, 49}}}, {}},
        {"trim right slot 0", cmd::Trim, 14, 0, noRed, 11, silence(11), counting(20, 30, 10000), {}, {{0, {0, 10}}}},
        {"delete green of both", cmd::Delete, 5, -1, noRed, 1000, join({counting(0, 299), counting(311, 999), silence(11)}),
         counting(0, 999, 10000), {{7, {10, 19}}, {5, {100, 149}}}, {{0, {20, 30}}}},
        {"trim blue of both", cmd::Trim, 4, -1, noRed, 60, join({counting(10, 19), counting(100, 149)}),
         join({counting(20, 30, 10000), silence(49)}), {{7, {0, 9}}, {5, {10, 59}}}, {{0, {0, 10}}}},
        {"delete red cuts into the selections it meets", cmd::Delete, 12, -1, RedSelection{15, 104, 0, 0, 0}, 1000,
         join({counting(0, 14), counting(105, 999), silence(90)}), counting(0, 999, 10000),
         {{7, {10, 14}}, {5, {15, 59}}, {2, {210, 220}}}, {{0, {20, 30}}}},
        {"trim red limits the selections to it", cmd::Trim, 12, -1, RedSelection{15, 104, 0, 0, 0}, 90,
         counting(15, 104), silence(90), {{7, {0, 4}}, {5, {85, 89}}}, {}},
        {"delete red on the right", cmd::Delete, 12, -1, RedSelection{25, 26, 1, 0, 0}, 1000, counting(0, 999),
         join({counting(0, 24, 10000), counting(27, 999, 10000), silence(2)}),
         {{7, {10, 19}}, {5, {100, 149}}, {2, {300, 310}}}, {{0, {20, 28}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws = test::workspaceWith(countingDocument(2, 1000));
        ws.document.leftSelections[7] = selection(K::Blue, 10, 19);
        ws.document.leftSelections[5] = selection(K::Blue, 100, 149);
        ws.document.leftSelections[2] = selection(K::Green, 300, 310);
        ws.document.rightSelections[0] = selection(K::Blue, 20, 30);
        ws.red = c.red;
        ScriptedUi ui;
        ASSERT_TRUE(run(ws, ui, c.id, c.target, c.slot));
        EXPECT_EQ(ws.document.frameCount, c.frames);
        EXPECT_TRUE(ws.document.hasData());
        EXPECT_EQ(channelSamples(ws.document, 0), c.left);
        EXPECT_EQ(channelSamples(ws.document, 1), c.right);
        EXPECT_EQ(ranges(ws.document.leftSelections), c.leftRanges);
        EXPECT_EQ(ranges(ws.document.rightSelections), c.rightRanges);
        EXPECT_FALSE(ws.red.exists());
        EXPECT_TRUE(ui.messages.empty());
    }
}

TEST(TrimOrDelete, RedDeleteMovesAnEdgeInsideItToItsStart)
{
    Workspace ws = test::workspaceWith(countingDocument(2, 100));
    ws.document.leftSelections[0] = selection(K::Blue, 29, 40);
    ws.document.leftSelections[1] = selection(K::Green, 10, 19);
    ws.red = RedSelection{20, 29, 0, 0, 0};
    ScriptedUi ui;
    ASSERT_TRUE(run(ws, ui, cmd::Delete, 12));
    EXPECT_EQ(ranges(ws.document.leftSelections),
              (std::map<int, std::pair<int, int>>{{0, {20, 30}}, {1, {10, 19}}}));
}

TEST(TrimOrDelete, EightBitAndMonoFillWithTheirSilence)
{
    Workspace ws = test::workspaceWith(countingDocument(2, 150, 8));
    ws.document.leftSelections[0] = selection(K::Blue, 10, 19);
    ScriptedUi ui;
    ASSERT_TRUE(run(ws, ui, cmd::Delete, 7));
    EXPECT_EQ(channelSamples(ws.document, 0), join({counting(0, 9), counting(20, 149), silence(10, 128)}));
    ASSERT_TRUE(run(ws, ui, cmd::Trim, 1));
    EXPECT_EQ(channelSamples(ws.document, 1), silence(150, 128));

    Workspace m = test::workspaceWith(countingDocument(1, 300));
    m.document.leftSelections[3] = selection(K::Green, 0, 0);
    ASSERT_TRUE(run(m, ui, cmd::Trim, 8));
    EXPECT_EQ(m.document.frameCount, 1);
    EXPECT_EQ(m.document.byteCount(), 2u);
    EXPECT_EQ(channelSamples(m.document, 0), std::vector<int>{0});
}

// Once everything is deleted the document still has data but no frames: every later edit is refused,
// undo brings the sound back, and the file can still be written.
TEST(TrimOrDelete, NothingLeftAfterDeletingEverything)
{
    Workspace ws = test::workspaceWith(countingDocument(2, 500));
    ScriptedUi ui;
    ASSERT_TRUE(run(ws, ui, cmd::Delete, 0));
    EXPECT_TRUE(ws.document.hasData());
    EXPECT_EQ(ws.document.frameCount, 0);
    EXPECT_EQ(ws.document.byteCount(), 0u);
    ensureSummary(ws.document);
    for (int id : {cmd::Silence, cmd::Reverse, cmd::Trim, cmd::Delete, cmd::FadeInCos}) {
        ui.clear();
        EXPECT_FALSE(run(ws, ui, id, 1));
        EXPECT_EQ(ui.texts(), std::vector<std::string>{"データ長がゼロです"});
    }
    test::TempDir dir;
    EXPECT_TRUE(writeWavFile(ui, ws.document, dir.file("empty.wav")));
    EXPECT_EQ(test::readBytes(dir.file("empty.wav")).size(), 44u);
    swapWithUndoStore(ws.document, ws.undoStore);
    EXPECT_EQ(ws.document.frameCount, 500);
    EXPECT_EQ(channelSamples(ws.document, 1), counting(0, 499, 10000));
}

// Tables that break the rules (left from an older sound, or written by something else) must never make
// trim or delete read or write outside the buffers.
TEST(TrimOrDelete, InconsistentTablesStayInsideTheBuffers)
{
    struct Case {
        const char* name;
        int id;
        int target;
        std::vector<Selection> left;  // also the right table's for a stereo case
        RedSelection red;
        bool ok;
        std::int32_t frames;
        std::vector<int> leftSamples;
    };
    const Case cases[] = {
        {"trim a selection reaching past the end", cmd::Trim, 7, {selection(K::Blue, 90, 5000)}, {}, true, 10,
         counting(90, 99)},
        {"delete a selection reaching past the end", cmd::Delete, 7, {selection(K::Blue, 90, 5000)}, {}, true, 90,
         counting(0, 89)},
        {"trim a selection wholly past the end", cmd::Trim, 7, {selection(K::Blue, 200, 300)}, {}, true, 0, {}},
        {"trim a negative start", cmd::Trim, 7, {selection(K::Blue, -50, 4)}, {}, true, 5, counting(0, 4)},
        {"trim a red selection past the end", cmd::Trim, 12, {}, RedSelection{95, 400, 0, 0, 0}, true, 5,
         counting(95, 99)},
        // 80 frames counted as deleted leave room for 20 of the 40 that are kept.
        {"delete overlapping selections", cmd::Delete, 6,
         {selection(K::Blue, 0, 39), selection(K::Green, 20, 59)}, {}, true, 20, counting(60, 79)},
        {"trim overlapping selections", cmd::Trim, 6,
         {selection(K::Blue, 0, 39), selection(K::Green, 20, 59)}, {}, true, 80, join({counting(0, 39), counting(20, 59)})},
        // Only both channels of a stereo sound can come out shorter than nothing; a mono one ends empty.
        {"deleting more than the sound", cmd::Delete, 3,
         {selection(K::Blue, 0, 79), selection(K::Green, 10, 89)}, {}, false, 100, counting(0, 99)},
        {"deleting more than a mono sound", cmd::Delete, 6,
         {selection(K::Blue, 0, 79), selection(K::Green, 10, 89)}, {}, true, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool stereo = c.target == 3;
        Workspace ws = test::workspaceWith(countingDocument(stereo ? 2 : 1, 100));
        for (std::size_t i = 0; i < c.left.size(); ++i) {
            ws.document.leftSelections[i] = c.left[i];
            if (stereo)
                ws.document.rightSelections[i] = c.left[i];
        }
        ws.red = c.red;
        ScriptedUi ui;
        const bool ran = run(ws, ui, c.id, c.target);
        EXPECT_EQ(ran, c.ok);
        if (!c.ok) {
            EXPECT_EQ(ui.texts(), std::vector<std::string>{"新しい長さがゼロ未満（バグ）"});
            EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error);
            EXPECT_EQ(ws.document.modified, 0);
        }
        EXPECT_EQ(ws.document.frameCount, c.frames);
        EXPECT_EQ(channelSamples(ws.document, 0), c.leftSamples);
        for (const Selection& s : ws.document.leftSelections)
            if (s.kind != K::None) {
                EXPECT_LE(s.start, s.end);
            }
    }
}

TEST(TrimOrDelete, TheBlockSummaryNeverDescribesTheOldSamples)
{
    Workspace ws = test::workspaceWith(test::randomDocument(16, 2, 5000, 4));
    ensureSummary(ws.document);
    ws.document.leftSelections[0] = selection(K::Blue, 0, 4999);
    ScriptedUi ui;
    // The same length again, possibly at the same address.
    ASSERT_TRUE(run(ws, ui, cmd::Trim, 6));
    EXPECT_EQ(ws.document.frameCount, 5000);
    EXPECT_FALSE(ws.document.summary.describes(layoutOf(ws.document)));
    ensureSummary(ws.document);
    const SampleLayout layout = layoutOf(ws.document);
    EXPECT_EQ(ws.document.summary.minMax(1, 0, 4999), scanFrames(layout, 1, 0, 4999));
}

} // namespace
} // namespace sonavik
