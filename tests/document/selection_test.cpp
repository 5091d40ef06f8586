#include "document/selection.h"

#include "document/sound_document.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace sonavik {
namespace {

using test::ScriptedUi;
using K = SelectionKind;
using S = SelectionShape;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Selection sel(K kind, std::int32_t start, std::int32_t end, double a0 = 1.0, double a1 = 1.0,
              S shape = S::Linear, double parameter = 1.0)
{
    return Selection{kind, start, end, a0, a1, shape, parameter};
}

// Free slots compare equal whatever their stale fields hold.
bool same(const Selection& a, const Selection& b)
{
    return a.kind == b.kind
           && (a.kind == K::None
               || (a.start == b.start && a.end == b.end && a.alphaStart == b.alphaStart && a.alphaEnd == b.alphaEnd
                   && a.shape == b.shape && a.shapeParameter == b.shapeParameter));
}

bool sameTable(const SelectionTable& x, const SelectionTable& y)
{
    return std::equal(x.begin(), x.end(), y.begin(), same);
}

int occupied(const SelectionTable& t)
{
    int n = 0;
    for (const Selection& s : t)
        n += s.kind != K::None;
    return n;
}

TEST(SelectionAlpha, ShapesAtTheirCharacteristicFrames)
{
    struct Case { const char* name; Selection s; std::int64_t frame; double expected; };
    const double stepMid = 1.0 / 9.0;
    const Case cases[] = {
        {"linear middle", sel(K::Blue, 10, 20, 0.2, 0.8), 15, 0.5},
        {"linear beyond end clamps", sel(K::Blue, 10, 20, 0.2, 0.8), 30, 1.0},
        {"linear before start clamps", sel(K::Blue, 10, 20, 0.2, 0.8), 0, 0.0},
        {"cos start", sel(K::Blue, 0, 100, 1, 0, S::Cos), 0, 1.0},
        {"cos end", sel(K::Blue, 0, 100, 1, 0, S::Cos), 100, 0.0},
        {"cos two half periods return", sel(K::Blue, 0, 100, 1, 0, S::Cos, 2), 100, 1.0},
        {"exp+ middle", sel(K::Blue, 0, 100, 0, 1, S::ExpPlus, 3), 50, 0.18242552380635632},
        {"exp+ negative k", sel(K::Blue, 0, 100, 0, 1, S::ExpPlus, -3), 50, 0.18242552380635632},
        {"exp- middle", sel(K::Blue, 0, 100, 0, 1, S::ExpMinus, 3), 50, 0.8175744761936438},
        {"exp- negative k", sel(K::Blue, 0, 100, 0, 1, S::ExpMinus, -3), 50, 0.8175744761936438},
        {"exp+ k 0 start", sel(K::Blue, 0, 100, 1, 1, S::ExpPlus, 0), 0, 0.0},
        {"exp+ k 0 middle", sel(K::Blue, 0, 100, 1, 1, S::ExpPlus, 0), 50, 0.0},
        {"exp+ huge k end", sel(K::Blue, 0, 100, 0, 1, S::ExpPlus, 1000), 100, 1.0},
        {"exp+ huge k flat", sel(K::Blue, 0, 100, 1, 1, S::ExpPlus, 1000), 99, 1.0},
        {"exp+ huge k start", sel(K::Blue, 0, 100, 0, 1, S::ExpPlus, 1000), 0, 0.0},
        {"stairs step 0", sel(K::Blue, 0, 100, 0, 1, S::Staircase, 10), 5, 0.0},
        {"stairs step 1", sel(K::Blue, 0, 100, 0, 1, S::Staircase, 10), 15, stepMid},
        {"stairs step 9", sel(K::Blue, 0, 100, 0, 1, S::Staircase, 10), 95, 1.0},
        {"stairs end clamps up", sel(K::Blue, 0, 100, 0, 1, S::Staircase, 10), 100, 1.0},
        {"stairs end clamps down", sel(K::Blue, 0, 100, 1, 0, S::Staircase, 10), 100, 0.0},
        {"stairs falling step 1", sel(K::Blue, 0, 100, 1, 0, S::Staircase, 10), 15, 1 - stepMid},
        {"stairs below 2 is 2, first half", sel(K::Blue, 0, 100, 0, 1, S::Staircase, 1), 49, 0.0},
        {"stairs below 2 is 2, second half", sel(K::Blue, 0, 100, 0, 1, S::Staircase, 1), 50, 1.0},
        {"stairs NaN is 2", sel(K::Blue, 0, 100, 0, 1, S::Staircase, kNaN), 50, 1.0},
        {"unknown shape", sel(K::Blue, 0, 100, 1, 1, S{7}), 50, 0.0},
        {"unknown shape one frame", sel(K::Blue, 5, 5, 1, 1, S{-1}), 5, 0.0},
        {"NaN level", sel(K::Blue, 0, 100, kNaN, kNaN), 50, 0.0},
        {"level above 1", sel(K::Blue, 0, 100, 2, 2, S::Cos), 50, 1.0},
        {"level below 0", sel(K::Blue, 0, 100, -1, -1, S::ExpMinus), 50, 0.0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(alphaAt(c.s, c.frame), c.expected, 1e-12) << c.name;

    EXPECT_EQ(alphaAt(sel(K::Blue, 0, 2, 1, 0, S::Cos), 1), 0.5);
    EXPECT_EQ(alphaAt(sel(K::Blue, 0, 100, 1, 0, S::Cos), 50), 0.5);
}

TEST(SelectionAlpha, EveryShapeStartsAtA0AndMenuShapesEndAtA1)
{
    for (int value = 0; value <= 4; ++value) {
        const S shape = S{value};
        const Selection s = sel(K::Green, 1000, 1999, 0.3, 0.7, shape, menuParameterOf(shape));
        EXPECT_NEAR(alphaAt(s, 1000), 0.3, 1e-12) << value;
        if (shape != S::Staircase) {
            EXPECT_NEAR(alphaAt(s, 1999), 0.7, 1e-12) << value;
        }
        const Selection flat = sel(K::Green, 1000, 1999, 1, 1, shape, menuParameterOf(shape));
        for (std::int64_t p : {1000, 1001, 1500, 1998, 1999})
            EXPECT_NEAR(alphaAt(flat, p), 1.0, 1e-12) << value << " at " << p;
        EXPECT_DOUBLE_EQ(alphaAt(sel(K::Green, 7, 7, 0.2, 0.6, shape, 0.0), 7), 0.4) << value;
    }
    EXPECT_EQ(menuParameterOf(S::Staircase), 10.0);
    EXPECT_EQ(menuParameterOf(S::ExpMinus), 1.0);
}

TEST(SelectionAdd, SplitCopiesTheTailIntoTheLowestFreeSlot)
{
    ScriptedUi ui;
    SelectionTable t{};
    t[0] = sel(K::Green, 50, 300, 0.2, 0.9, S::Cos, 2.0);
    t[1] = sel(K::Blue, 400, 500);
    t[3] = sel(K::Blue, 600, 700);
    ASSERT_TRUE(addSelection(ui, t, 100, 199, S::Linear, 1, 1, 1, K::Blue));
    EXPECT_TRUE(same(t[0], sel(K::Green, 50, 99, 0.2, 0.9, S::Cos, 2.0)));
    EXPECT_TRUE(same(t[2], sel(K::Green, 200, 300, 0.2, 0.9, S::Cos, 2.0)));
    EXPECT_TRUE(same(t[4], sel(K::Blue, 100, 199)));
    EXPECT_TRUE(same(t[1], sel(K::Blue, 400, 500)));
    EXPECT_TRUE(ui.messages.empty());
}

TEST(SelectionAdd, OverlapCases)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int, Selection>> before;
        std::int32_t start, end;
        std::vector<std::pair<int, Selection>> after;  // every occupied slot afterwards
    };
    const Case cases[] = {
        {"covering frees both, new takes the lower slot",
         {{0, sel(K::Blue, 1000, 1100)}, {1, sel(K::Green, 20, 29)}, {2, sel(K::Blue, 10, 19)}, {3, sel(K::Blue, 40, 50)}},
         5, 35,
         {{0, sel(K::Blue, 1000, 1100)}, {1, sel(K::Green, 5, 35)}, {3, sel(K::Blue, 40, 50)}}},
        {"green over blue truncates both neighbours",
         {{0, sel(K::Blue, 0, 99)}, {1, sel(K::Blue, 200, 299)}},
         50, 249,
         {{0, sel(K::Blue, 0, 49)}, {1, sel(K::Blue, 250, 299)}, {2, sel(K::Green, 50, 249)}}},
        {"exact same range replaces", {{0, sel(K::Blue, 10, 20)}}, 10, 20, {{0, sel(K::Green, 10, 20)}}},
        {"touching ranges stay", {{0, sel(K::Blue, 0, 9)}, {1, sel(K::Blue, 21, 30)}}, 10, 20,
         {{0, sel(K::Blue, 0, 9)}, {1, sel(K::Blue, 21, 30)}, {2, sel(K::Green, 10, 20)}}},
        {"reversed arguments", {{0, sel(K::Blue, 0, 100)}}, 60, 40,
         {{0, sel(K::Blue, 0, 39)}, {1, sel(K::Blue, 61, 100)}, {2, sel(K::Green, 40, 60)}}},
        {"split at the first frame", {{0, sel(K::Blue, 0, 100)}}, 0, 0,
         {{0, sel(K::Blue, 1, 100)}, {1, sel(K::Green, 0, 0)}}},
    };
    for (const Case& c : cases) {
        ScriptedUi ui;
        SelectionTable t{};
        for (const auto& [slot, s] : c.before)
            t[slot] = s;
        EXPECT_TRUE(addSelection(ui, t, c.start, c.end, S::Linear, 1, 1, 1, K::Green)) << c.name;
        SelectionTable expected{};
        for (const auto& [slot, s] : c.after)
            expected[slot] = s;
        EXPECT_TRUE(sameTable(t, expected)) << c.name;
    }
}

TEST(SelectionAdd, RefusalsLeaveTheTableAlone)
{
    SelectionTable t{};
    for (int i = 0; i < 98; ++i)
        t[i] = sel(K::Blue, 20 * i, 20 * i + 9);
    ScriptedUi ui;
    for (K bad : {K::None, K{3}, K{-1}}) {
        const SelectionTable before = t;
        EXPECT_FALSE(addSelection(ui, t, 5000, 5001, S::Linear, 1, 1, 1, bad));
        EXPECT_TRUE(sameTable(t, before));
    }
    EXPECT_EQ(ui.beeps, std::vector<BeepKind>(3, BeepKind::Error));
    EXPECT_TRUE(ui.messages.empty());

    // 98 occupied: a split still fits and fills the table.
    ASSERT_TRUE(addSelection(ui, t, 103, 105, S::Linear, 1, 1, 1, K::Green));
    EXPECT_EQ(occupied(t), 100);
    EXPECT_TRUE(same(t[98], sel(K::Blue, 106, 109)));
    EXPECT_TRUE(same(t[99], sel(K::Green, 103, 105)));

    const SelectionTable before = t;
    EXPECT_FALSE(addSelection(ui, t, 0, 100000, S::Linear, 1, 1, 1, K::Green));
    EXPECT_TRUE(sameTable(t, before));
    deleteSelection(t, 50);
    EXPECT_FALSE(addSelection(ui, t, 0, 100000, S::Linear, 1, 1, 1, K::Green));  // 99 is still too many
    ASSERT_EQ(ui.messages.size(), 2u);
    for (const MessageRequest& m : ui.messages) {
        EXPECT_EQ(m.text, "これ以上追加できません");
        EXPECT_EQ(m.caption, "Sonavik 2");
        EXPECT_EQ(m.icon, MessageIcon::None);
        EXPECT_EQ(m.buttons, MessageButtons::Ok);
    }
}

// Against a frame-by-frame model: colours never overlap, nothing uncovered is lost, and each frame keeps
// the envelope of the addition that last covered it.
TEST(SelectionAdd, RandomSequencesKeepTheTableConsistent)
{
    constexpr int kFrames = 2000;
    std::mt19937 rng(20240611);
    SelectionTable t{};
    std::vector<int> owner(kFrames, -1);  // id of the addition that owns each frame, -1 for none
    std::vector<K> colour(kFrames, K::None);
    ScriptedUi ui;
    int refused = 0;
    int splits = 0;
    for (int id = 0; id < 3000; ++id) {
        if (rng() % 8 == 0) {
            const int slot = static_cast<int>(rng() % kSelectionSlots);
            if (isValidSlot(t, slot))
                for (int f = t[slot].start; f <= t[slot].end; ++f)
                    owner[f] = -1, colour[f] = K::None;
            deleteSelection(t, slot);
        }
        const int a = static_cast<int>(rng() % kFrames);
        const int b = std::min(kFrames - 1, a + static_cast<int>(rng() % 16));
        const K kind = rng() % 2 ? K::Blue : K::Green;
        const int before = occupied(t);
        if (addSelection(ui, t, a, b, S::Cos, id, 0, 1, kind)) {
            splits += occupied(t) == before + 2;
            for (int f = a; f <= b; ++f)
                owner[f] = id, colour[f] = kind;
        } else {
            ++refused;
        }

        std::vector<int> seen(kFrames, -1);
        for (int i = 0; i < kSelectionSlots; ++i) {
            const Selection& s = t[i];
            if (s.kind == K::None)
                continue;
            ASSERT_LE(s.start, s.end);
            for (int f = s.start; f <= s.end; ++f) {
                ASSERT_EQ(seen[f], -1) << "frame " << f << " in slots " << seen[f] << " and " << i;
                seen[f] = i;
                ASSERT_EQ(s.kind, colour[f]);
                ASSERT_EQ(s.alphaStart, owner[f]);
            }
        }
        for (int f = 0; f < kFrames; ++f)
            ASSERT_EQ(seen[f] != -1, owner[f] != -1) << "frame " << f;
        ASSERT_LE(occupied(t), kSelectionSlots);
    }
    // The sequence does split selections and does reach a full table.
    EXPECT_GT(splits, 0);
    EXPECT_GT(refused, 0);
    EXPECT_EQ(static_cast<int>(ui.messages.size()), refused);
    for (const MessageRequest& m : ui.messages)
        EXPECT_EQ(m.text, "これ以上追加できません");
}

TEST(SelectionEdges, DragsPushAndSwallowNeighbours)
{
    struct Case {
        const char* name;
        bool end;
        std::int64_t frame;
        std::vector<Selection> before;  // slot 0 is dragged
        std::vector<Selection> after;
    };
    const Case cases[] = {
        {"end over one, into the next", true, 200,
         {sel(K::Blue, 0, 99), sel(K::Green, 120, 149), sel(K::Blue, 160, 259), sel(K::Green, 300, 310)},
         {sel(K::Blue, 0, 200), sel(K::None, 0, 0), sel(K::Blue, 201, 259), sel(K::Green, 300, 310)}},
        {"start over one, into the next", false, 350,
         {sel(K::Blue, 500, 599), sel(K::Green, 400, 449), sel(K::Blue, 300, 379), sel(K::Green, 700, 710)},
         {sel(K::Blue, 350, 599), sel(K::None, 0, 0), sel(K::Blue, 300, 349), sel(K::Green, 700, 710)}},
        {"end shrinks, neighbour stays", true, 50, {sel(K::Blue, 0, 99), sel(K::Green, 100, 120)},
         {sel(K::Blue, 0, 50), sel(K::Green, 100, 120)}},
        {"end not before start", true, -20, {sel(K::Blue, 30, 99)}, {sel(K::Blue, 30, 30)}},
        {"end not past the last frame", true, 5000, {sel(K::Blue, 30, 99)}, {sel(K::Blue, 30, 999)}},
        {"start not after end", false, 500, {sel(K::Blue, 30, 99)}, {sel(K::Blue, 99, 99)}},
        {"start not before frame 0", false, -7, {sel(K::Blue, 30, 99), sel(K::Green, 0, 10)},
         {sel(K::Blue, 0, 99), sel(K::None, 0, 0)}},
        {"end of a selection past the document end", true, 10, {sel(K::Blue, 1200, 1300)}, {sel(K::Blue, 1200, 1200)}},
        {"start of a selection past the document end", false, 1250, {sel(K::Blue, 1200, 1300)},
         {sel(K::Blue, 999, 1300)}},
    };
    for (const Case& c : cases) {
        SelectionTable t{};
        SelectionTable expected{};
        for (std::size_t i = 0; i < c.before.size(); ++i)
            t[i] = c.before[i];
        for (std::size_t i = 0; i < c.after.size(); ++i)
            expected[i] = c.after[i];
        if (c.end)
            moveSelectionEnd(t, 0, c.frame, 1000);
        else
            moveSelectionStart(t, 0, c.frame, 1000);
        EXPECT_TRUE(sameTable(t, expected)) << c.name << ": [" << t[0].start << ", " << t[0].end << "]";
    }
}

TEST(SelectionEdges, AlphaFromTheBandRow)
{
    struct Case { int row, height; double expected; };
    const Case cases[] = {
        {0, 32, 1.0}, {31, 32, 0.0}, {15, 32, 16.0 / 31.0}, {-4, 32, 1.0}, {40, 32, 0.0},
        {0, 1, 1.0}, {1, 1, 0.0}, {0, 0, 1.0}, {3, -5, 0.0}, {std::numeric_limits<int>::min(), 32, 1.0},
    };
    for (const Case& c : cases) {
        SelectionTable t{};
        t[7] = sel(K::Green, 0, 10, 0.5, 0.5);
        setEdgeAlpha(t, 7, SelectionEdge::End, c.row, c.height);
        EXPECT_DOUBLE_EQ(t[7].alphaEnd, c.expected) << c.row << "/" << c.height;
        EXPECT_EQ(t[7].alphaStart, 0.5);
        setEdgeAlpha(t, 7, SelectionEdge::Start, c.row, c.height);
        EXPECT_DOUBLE_EQ(t[7].alphaStart, c.expected);
    }
}

TEST(SelectionEdit, KindShapeParameterDeleteAndClear)
{
    SelectionTable t{};
    t[0] = sel(K::Green, 0, 9, 0.1, 0.2);
    t[1] = sel(K::Blue, 10, 19);
    t[2] = sel(K::Green, 20, 29);
    toggleSelectionKind(t, 0);
    toggleSelectionKind(t, 1);
    toggleSelectionKind(t, 1);
    EXPECT_EQ(t[0].kind, K::Blue);
    EXPECT_EQ(t[1].kind, K::Blue);

    setShapeParameter(t, 0, -3.5);
    EXPECT_EQ(t[0].shapeParameter, -3.5);
    setSelectionShape(t, 0, S::Staircase);
    EXPECT_EQ(t[0].shapeParameter, 10.0);
    setSelectionShape(t, 0, S::ExpPlus);
    EXPECT_TRUE(same(t[0], sel(K::Blue, 0, 9, 0.1, 0.2, S::ExpPlus, 1.0)));

    SelectionTable blue = t, green = t, all = t;
    clearSelections(blue, SelectionClear::Blue);
    clearSelections(green, SelectionClear::Green);
    clearSelections(all, SelectionClear::All);
    EXPECT_EQ(std::vector<K>({blue[0].kind, blue[1].kind, blue[2].kind}), std::vector<K>({K::None, K::None, K::Green}));
    EXPECT_EQ(std::vector<K>({green[0].kind, green[1].kind, green[2].kind}), std::vector<K>({K::Blue, K::Blue, K::None}));
    EXPECT_EQ(occupied(all), 0);
    deleteSelection(t, 1);
    EXPECT_EQ(t[1].kind, K::None);
    EXPECT_EQ(findFreeSlot(t), 1);
}

TEST(SelectionEdit, InvalidSlotsChangeNothing)
{
    ScriptedUi ui;
    SoundDocument doc;
    doc.format.nChannels = 2;
    doc.leftSelections[0] = sel(K::Blue, 0, 9);
    doc.leftSelections[2] = sel(K::Green, 20, 29);
    SelectionTable& t = doc.leftSelections;
    const std::function<void(int)> operations[] = {
        [&](int s) { deleteSelection(t, s); },
        [&](int s) { toggleSelectionKind(t, s); },
        [&](int s) { setSelectionShape(t, s, S::Cos); },
        [&](int s) { setShapeParameter(t, s, 4.0); },
        [&](int s) { moveSelectionStart(t, s, 15, 100); },
        [&](int s) { moveSelectionEnd(t, s, 15, 100); },
        [&](int s) { setEdgeAlpha(t, s, SelectionEdge::Start, 31, 32); },
        [&](int s) { EXPECT_FALSE(copySelectionToOtherChannel(ui, doc, 0, s)); },
    };
    const SelectionTable before = t;
    for (const auto& operation : operations)
        for (int slot : {-1, 1, 100, std::numeric_limits<int>::max()})
            operation(slot);
    // No frames: an edge cannot go anywhere.
    moveSelectionStart(t, 2, 25, 0);
    moveSelectionEnd(t, 2, 25, 0);
    EXPECT_TRUE(sameTable(t, before));
    EXPECT_EQ(occupied(doc.rightSelections), 0);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(ui.beeps.empty());
}

TEST(SelectionChannels, CopyToTheOtherChannel)
{
    ScriptedUi ui;
    SoundDocument doc;
    doc.format.nChannels = 2;
    doc.leftSelections[4] = sel(K::Blue, 100, 200, 0.25, 0.75, S::ExpMinus, 2.5);
    doc.rightSelections[0] = sel(K::Green, 150, 300);
    ASSERT_TRUE(copySelectionToOtherChannel(ui, doc, 0, 4));
    EXPECT_TRUE(same(doc.rightSelections[0], sel(K::Green, 201, 300)));
    EXPECT_TRUE(same(doc.rightSelections[1], doc.leftSelections[4]));

    ASSERT_TRUE(copySelectionToOtherChannel(ui, doc, 1, 0));
    EXPECT_TRUE(same(doc.leftSelections[0], sel(K::Green, 201, 300)));
    EXPECT_FALSE(copySelectionToOtherChannel(ui, doc, 2, 0));
    EXPECT_EQ(&selectionTable(doc, 1), &doc.rightSelections);
    EXPECT_EQ(&selectionTable(std::as_const(doc), 0), &doc.leftSelections);

    for (int i = 0; i < 99; ++i)
        doc.rightSelections[i] = sel(K::Green, 1000 + i, 1000 + i);
    EXPECT_FALSE(copySelectionToOtherChannel(ui, doc, 0, 4));
    ASSERT_EQ(ui.texts(), std::vector<std::string>{"これ以上追加できません"});

    SoundDocument mono;
    mono.format.nChannels = 1;
    mono.leftSelections[0] = sel(K::Blue, 0, 10);
    EXPECT_FALSE(copySelectionToOtherChannel(ui, mono, 0, 0));
    EXPECT_EQ(occupied(mono.rightSelections), 0);
}

TEST(SelectionRed, DragConvertClearAndReset)
{
    RedSelection red;
    EXPECT_FALSE(red.exists());
    beginRedSelection(red, 1, 100, 104);
    struct Step { std::int32_t first, last, start, end; };
    const Step steps[] = {{50, 54, 50, 104}, {200, 204, 100, 204}, {100, 104, 100, 104}, {0, 0, 0, 104}};
    for (const Step& s : steps) {
        extendRedSelection(red, s.first, s.last);
        EXPECT_EQ(red.redStart, s.start);
        EXPECT_EQ(red.redEnd, s.end);
    }
    EXPECT_EQ(red.redChannel, 1);

    ScriptedUi ui;
    SoundDocument doc;
    doc.format.nChannels = 2;
    doc.rightSelections[0] = sel(K::Blue, 90, 95, 0.5, 0.5, S::Cos, 3);
    ASSERT_TRUE(convertRedSelection(ui, doc, red, K::Green));
    EXPECT_TRUE(same(doc.rightSelections[0], sel(K::Green, 0, 104, 1.0, 1.0, S::Linear, 1.0)));
    EXPECT_EQ(occupied(doc.leftSelections), 0);
    EXPECT_EQ(red.redStart, 0);
    EXPECT_FALSE(convertRedSelection(ui, doc, red, K::None));
    EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Error});

    beginRedSelection(red, 0, 30, 20);
    EXPECT_EQ(red.redStart, 20);
    EXPECT_EQ(red.redEnd, 30);
    doc.leftSelections[5] = sel(K::Blue, 0, 1);
    clearRedSelection(red);
    EXPECT_FALSE(red.exists());
    EXPECT_FALSE(convertRedSelection(ui, doc, red, K::Blue));

    beginRedSelection(red, 1, 3, 4);
    resetSelections(doc, red);
    EXPECT_EQ(occupied(doc.leftSelections) + occupied(doc.rightSelections), 0);
    EXPECT_FALSE(red.exists());
    EXPECT_EQ(red.redChannel, 0);
}

} // namespace
} // namespace sonavik
