#include "views/context_menus.h"

#include "document/selection.h"
#include "document/workspace.h"
#include "edit/edit_dispatcher.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sonavik {
namespace {

using test::ScriptedUi;

std::vector<int> ids(const std::vector<MenuEntry>& entries)
{
    std::vector<int> out;
    for (const MenuEntry& e : entries)
        out.push_back(e.id);
    return out;
}

const MenuEntry* find(const std::vector<MenuEntry>& entries, int id)
{
    for (const MenuEntry& e : entries)
        if (e.id == id)
            return &e;
    return nullptr;
}

class ContextMenusTest : public ::testing::Test {
protected:
    ContextMenusTest()
    {
        applyDefaultSettings(ws.settings);
        SoundDocument& doc = ws.document;
        doc.format = {1, 2, 44100, 176400, 4, 16, 0};
        doc.frameCount = 2000;
        doc.samples = SampleBuffer::allocate(8000);
    }

    void add(int channel, int start, int end, SelectionKind kind)
    {
        addSelection(ui, selectionTable(ws.document, channel), start, end, SelectionShape::Linear, 1, 1, 1, kind);
    }

    Workspace ws;
    ScriptedUi ui;
    EditHost host;
};

TEST_F(ContextMenusTest, RedMenuHoldsItsEntriesAndTheEditSubmenus)
{
    const auto menu = redSelectionMenu();
    EXPECT_EQ(ids(menu), (std::vector<int>{40701, 40703, 40704, 0, 0, 40705}));
    EXPECT_EQ(menu[3].text, "エディット");
    ASSERT_EQ(menu[3].submenu.size(), 16u);
    EXPECT_EQ(menu[3].submenu[0].text, "無音");
    EXPECT_EQ(menu[3].submenu[3].text, "振幅の非線形変換...");
    EXPECT_EQ(menu[3].submenu[15].id, 40117);
    EXPECT_EQ(menu[4].submenu[0].text, "FFT");
}

TEST_F(ContextMenusTest, SelectionMenuGraysWhatCannotBeDone)
{
    EXPECT_TRUE(selectionMenu(ws.document, 0, 0).empty()) << "a free slot has no menu";
    EXPECT_TRUE(selectionMenu(ws.document, 0, -1).empty());
    EXPECT_TRUE(selectionMenu(ws.document, 0, 100).empty());

    add(0, 10, 20, SelectionKind::Green);
    add(0, 30, 40, SelectionKind::Green);
    add(0, 50, 60, SelectionKind::Green);
    auto menu = selectionMenu(ws.document, 0, 2);
    EXPECT_EQ(find(menu, menu::DeleteSelection)->text, "緑 3 番を消去");
    EXPECT_EQ(find(menu, menu::CopySelection)->text, "緑 3 番を右チャンネルにコピー");
    EXPECT_TRUE(find(menu, menu::CopySelection)->enabled);
    EXPECT_FALSE(find(menu, menu::ClearBlue)->enabled);
    EXPECT_TRUE(find(menu, menu::ClearGreen)->enabled);
    EXPECT_EQ(menu[6].text, "編集");
    EXPECT_EQ(menu[8].text, "プロパティ");
    EXPECT_EQ(menu[8].submenu.back().text, "パラメーターの指定...");

    add(0, 70, 80, SelectionKind::Blue);
    EXPECT_TRUE(find(selectionMenu(ws.document, 0, 0), menu::ClearBlue)->enabled);

    add(1, 10, 20, SelectionKind::Blue);
    EXPECT_EQ(find(selectionMenu(ws.document, 1, 0), menu::CopySelection)->text, "青 1 番を左チャンネルにコピー");

    ws.document.format.nChannels = 1;
    EXPECT_FALSE(find(selectionMenu(ws.document, 0, 0), menu::CopySelection)->enabled);
}

TEST_F(ContextMenusTest, DeletingFromTheRightViewLeavesTheLeftTableAlone)
{
    for (int channel : {0, 1})
        for (int i = 0; i < 3; ++i)
            add(channel, i * 100, i * 100 + 50, SelectionKind::Blue);
    EXPECT_EQ(runSelectionMenuCommand(ws, ui, host, 1, 2, 500, menu::DeleteSelection), ViewUpdate::Repaint);
    EXPECT_EQ(ws.document.rightSelections[2].kind, SelectionKind::None);
    EXPECT_EQ(ws.document.leftSelections[2].kind, SelectionKind::Blue);
}

TEST_F(ContextMenusTest, ShapesResetTheirParameterAndZoomFitsTheRange)
{
    add(0, 100, 199, SelectionKind::Blue);
    Selection& s = ws.document.leftSelections[0];
    s.shapeParameter = 3.0;
    runSelectionMenuCommand(ws, ui, host, 0, 0, 500, menu::ShapeLinear + 4);
    EXPECT_EQ(s.shape, SelectionShape::Staircase);
    EXPECT_DOUBLE_EQ(s.shapeParameter, 10.0);
    runSelectionMenuCommand(ws, ui, host, 0, 0, 500, menu::ShapeLinear + 1);
    EXPECT_EQ(s.shape, SelectionShape::Cos);
    EXPECT_DOUBLE_EQ(s.shapeParameter, 1.0);

    EXPECT_EQ(runSelectionMenuCommand(ws, ui, host, 0, 0, 500, menu::ZoomSelection), ViewUpdate::Rerender);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 100.0);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, 5.0);

    ws.red = {300, 1299, 1, 0, 0};
    EXPECT_EQ(runRedSelectionMenuCommand(ws, ui, host, 1, 500, menu::ShowRed), ViewUpdate::Rerender);
    EXPECT_DOUBLE_EQ(ws.document.rightView.x0, 300.0);
    EXPECT_DOUBLE_EQ(ws.document.rightView.sx, 0.5);

    EXPECT_EQ(runRedSelectionMenuCommand(ws, ui, host, 1, 500, menu::RedToGreen), ViewUpdate::Repaint);
    EXPECT_EQ(ws.document.rightSelections[0].kind, SelectionKind::Green);
    EXPECT_TRUE(ws.red.exists());
    EXPECT_EQ(runRedSelectionMenuCommand(ws, ui, host, 1, 500, menu::RedCancel), ViewUpdate::None);
}

TEST_F(ContextMenusTest, TargetChoiceMapsStoredCodesForMonoAndNoRed)
{
    struct Case {
        int channels;
        bool red;
        int stored;
        int checked;
    };
    const Case cases[] = {
        {2, true, 12, 12}, {2, false, 12, 1}, {2, false, 4, 4}, {1, true, 0, 1}, {1, true, 3, 6},
        {1, true, 11, 8},  {1, true, 12, 12}, {1, false, 9, 6}, {2, true, 77, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.channels << " channels, red " << c.red << ", stored " << c.stored);
        ws.document.format.nChannels = static_cast<std::uint16_t>(c.channels);
        ws.red.redStart = c.red ? 5 : -1;
        ws.settings.processingTarget = c.stored;
        const TargetChoice choice = prepareTargetChoice(ws.settings, ws.document, ws.red);
        EXPECT_EQ(choice.checked, c.checked);
        EXPECT_EQ(ws.settings.processingTarget, c.checked) << "the mapping stays stored";
        EXPECT_EQ(choice.enabled[12], c.red);
        EXPECT_EQ(choice.enabled[0], c.channels == 2);
        EXPECT_TRUE(choice.enabled[1]);
        EXPECT_TRUE(choice.enabled[7]);
        EXPECT_EQ(choice.enabled[10], c.channels == 2);
    }
    EXPECT_STREQ(targetText(1), "左の全て");
    EXPECT_STREQ(targetText(12), "赤選択");
}

TEST(ShapeParameterText, ReadsTheLongestLeadingNumber)
{
    EXPECT_EQ(formatShapeParameter(2.5), "2.500000");
    EXPECT_EQ(formatShapeParameter(10.0), "10.000000");
    EXPECT_EQ(formatShapeParameter(-0.125), "-0.125000");
    const std::pair<const char*, double> cases[] = {
        {"2.5", 2.5}, {"  3abc", 3.0}, {"abc", 0.0}, {"", 0.0}, {"-1.5e2x", -150.0},
        {"+.5", 0.5}, {"1e", 1.0},     {"--5", 0.0}, {"7.", 7.0},
    };
    for (auto [text, value] : cases)
        EXPECT_DOUBLE_EQ(parseShapeParameter(text), value) << '"' << text << '"';
}

} // namespace
} // namespace sonavik
