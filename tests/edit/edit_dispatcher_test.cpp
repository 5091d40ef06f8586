#include "edit/edit_dispatcher.h"

#include "document/window_title.h"
#include "edit/command_ids.h"
#include "edit/edit_test_support.h"
#include "support/scripted_ui.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::selection;
using K = SelectionKind;
using S = SelectionShape;

// Answers the parameter questions from a script and records what reaches it.
class RecordingHost : public EditHost {
public:
    std::map<int, bool> answers;
    std::map<int, int> widths;
    std::vector<int> asked;
    std::vector<std::pair<EditRegion, int>> analysed;

    bool askParameters(int commandId) override
    {
        asked.push_back(commandId);
        return answers.count(commandId) ? answers[commandId] : false;
    }
    void analyseSpectrogram(const EditRegion& region, int channelCount) override
    {
        analysed.emplace_back(region, channelCount);
    }
    std::optional<int> viewClientWidth(int channel) const override
    {
        auto it = widths.find(channel);
        return it == widths.end() ? std::nullopt : std::optional<int>(it->second);
    }
};

Workspace stereo(std::int32_t frames = 1000) { return test::workspaceWith(test::randomDocument(16, 2, frames, 5)); }
Workspace mono(std::int32_t frames = 1000) { return test::workspaceWith(test::randomDocument(16, 1, frames, 6)); }

TEST(RunEditCommand, RefusalsInOrderLeaveEverythingAsItWas)
{
    struct Case {
        const char* name;
        std::function<Workspace()> make;
        int target;
        int slot;
        const char* text;
        MessageIcon icon = MessageIcon::Error;
    };
    auto with = [](Workspace (*base)(std::int32_t), std::function<void(Workspace&)> change) {
        return [=] {
            Workspace ws = base(1000);
            change(ws);
            return ws;
        };
    };
    auto leftBlue = [](Workspace& ws) { ws.document.leftSelections[3] = selection(K::Blue, 10, 20); };
    auto leftGreen = [](Workspace& ws) { ws.document.leftSelections[3] = selection(K::Green, 10, 20); };
    auto rightBlue = [](Workspace& ws) { ws.document.rightSelections[0] = selection(K::Blue, 10, 20); };
    auto none = [](Workspace&) {};
    const Case cases[] = {
        {"playing", with(stereo, [](Workspace& ws) { ws.playing = 1; }), 0, -1,
         "再生／録音中は、ファイルを編集できません", MessageIcon::None},
        {"recording, before the slot check", with(stereo, [](Workspace& ws) { ws.capturing = 1; }), 13, -1,
         "再生／録音中は、ファイルを編集できません", MessageIcon::None},
        {"slot -1 for 13", with(stereo, none), 13, -1, "処理対象αが指定されていません"},
        {"slot 100 for 14, before no data", [] { return Workspace{}; }, 14, 100, "処理対象αが指定されていません"},
        {"no data", [] { return Workspace{}; }, 0, -1, "処理対象データがありません"},
        {"three channels", with(stereo, [](Workspace& ws) { ws.document.format.nChannels = 3; }), 1, -1,
         "チャンネル数が異常です"},
        {"no frames, before the target check", with(mono, [](Workspace& ws) { ws.document.frameCount = 0; }), 0, -1,
         "データ長がゼロです"},
        {"0 on mono", with(mono, none), 0, -1, "これはステレオのデータではありません"},
        {"2 on mono", with(mono, none), 2, -1, "右チャンネルがありません"},
        {"3 on mono comes before the missing selections", with(mono, none), 3, -1,
         "これはステレオのデータではありません"},
        {"3 without selections", with(stereo, none), 3, -1, "青または緑がありません"},
        {"4 on mono", with(mono, leftBlue), 4, -1, "これはステレオのデータではありません"},
        {"4 with green only", with(stereo, leftGreen), 4, -1, "青がありません"},
        {"5 with blue only", with(stereo, rightBlue), 5, -1, "緑がありません"},
        {"6 with a right selection only", with(stereo, rightBlue), 6, -1, "青または緑がありません"},
        {"7 with green only", with(mono, leftGreen), 7, -1, "青がありません"},
        {"8 with blue only", with(mono, leftBlue), 8, -1, "緑がありません"},
        {"9 on mono", with(mono, leftBlue), 9, -1, "右チャンネルがありません"},
        {"9 with a left selection only", with(stereo, leftBlue), 9, -1, "青または緑がありません"},
        {"10 on mono", with(mono, none), 10, -1, "右チャンネルがありません"},
        {"10 with a left blue only", with(stereo, leftBlue), 10, -1, "青がありません"},
        {"11 on mono", with(mono, none), 11, -1, "右チャンネルがありません"},
        {"11 with blue only", with(stereo, rightBlue), 11, -1, "緑がありません"},
        {"12 without red", with(stereo, none), 12, -1, "赤がありません"},
        {"12 red right on mono",
         with(mono, [](Workspace& ws) { ws.red = RedSelection{10, 20, 1, 0, 0}; }), 12, -1,
         "選択が異常です（バグ）"},
        {"13 free slot", with(stereo, leftBlue), 13, 4, "左α 5 番は存在しません"},
        {"13 slot 99", with(stereo, none), 13, 99, "左α 100 番は存在しません"},
        {"14 on mono", with(mono, leftBlue), 14, 3, "右チャンネルがありません"},
        {"14 free slot", with(stereo, leftBlue), 14, 3, "右α 4 番は存在しません"},
        {"unknown target", with(stereo, none), 15, -1, "処理の対象が不正です"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws = c.make();
        const std::vector<unsigned char> before = ws.document.hasData() ? test::bytesOf(ws.document) : std::vector<unsigned char>{};
        ScriptedUi ui;
        RecordingHost host;
        host.answers[cmd::Equalize] = true;
        EXPECT_FALSE(runEditCommand(ws, ui, host, cmd::Equalize, c.target, c.slot));
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, c.text);
        EXPECT_EQ(ui.messages[0].caption, "Sonavik 2");
        EXPECT_EQ(ui.messages[0].icon, c.icon);
        EXPECT_TRUE(host.asked.empty());
        EXPECT_FALSE(ws.undoStore.hasData());
        EXPECT_TRUE(ui.cursors.empty());
        EXPECT_EQ(ws.document.modified, 0);
        if (ws.document.hasData() && ws.document.byteCount() == before.size()) {
            EXPECT_EQ(test::bytesOf(ws.document), before);
        }
    }
}

TEST(RunEditCommand, CancelledOrMissingParametersChangeNothing)
{
    for (int id : {cmd::Nonlinear, cmd::Equalize, cmd::Reverb, cmd::Convolve, cmd::Coarsen, cmd::Fft}) {
        SCOPED_TRACE(id);
        Workspace ws = stereo();
        ws.undoStore = test::randomDocument(16, 1, 10, 1);
        const auto undoBefore = test::bytesOf(ws.undoStore);
        const auto before = test::bytesOf(ws.document);
        ScriptedUi ui;
        EditHost plain;
        EXPECT_FALSE(runEditCommand(ws, ui, plain, id, 0, -1));
        RecordingHost cancelling;
        EXPECT_FALSE(runEditCommand(ws, ui, cancelling, id, 0, -1));
        EXPECT_EQ(cancelling.asked, std::vector<int>{id});
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(test::bytesOf(ws.undoStore), undoBefore);
        EXPECT_EQ(test::bytesOf(ws.document), before);
        EXPECT_EQ(ws.document.modified, 0);
    }
    // The target is checked before the dialog opens.
    Workspace ws = stereo();
    ScriptedUi ui;
    RecordingHost host;
    EXPECT_FALSE(runEditCommand(ws, ui, host, cmd::Equalize, 7, -1));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"青がありません"});
    EXPECT_TRUE(host.asked.empty());
    // Ids that are not edit commands do nothing at all.
    EXPECT_FALSE(runEditCommand(ws, ui, host, 40118, 0, -1));
    EXPECT_FALSE(runEditCommand(ws, ui, host, cmd::Open, 0, -1));
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST(RunEditCommand, AnEditRunsWithSnapshotCursorTitleAndUndo)
{
    Workspace ws = stereo();
    const auto original = test::bytesOf(ws.document);
    ScriptedUi ui;
    EditHost host;
    ASSERT_TRUE(runEditCommand(ws, ui, host, cmd::Invert, 0, -1));
    EXPECT_EQ(ui.cursors, (std::vector<CursorKind>{CursorKind::Wait, CursorKind::Arrow}));
    EXPECT_EQ(ws.document.modified, 1);
    EXPECT_EQ(ui.title, mainWindowTitle(ws));
    EXPECT_EQ(test::bytesOf(ws.undoStore), original);
    EXPECT_NE(test::bytesOf(ws.document), original);
    swapWithUndoStore(ws.document, ws.undoStore);
    EXPECT_EQ(test::bytesOf(ws.document), original);
    EXPECT_TRUE(ui.messages.empty());
}

// Both whole channels at once, every selection target and the red selection: the same samples as the
// plain formula applied to each region of the target in turn.
TEST(RunEditCommand, EveryTargetEditsExactlyItsRegions)
{
    auto prepare = [](Workspace& ws) {
        SoundDocument& d = ws.document;
        d.leftSelections[0] = selection(K::Green, 500, 599, 0.0, 1.0, S::Cos, 2.0);
        d.leftSelections[4] = selection(K::Blue, 10, 99, 1.0, 0.0);
        d.leftSelections[7] = selection(K::Blue, 700, 700);
        d.rightSelections[2] = selection(K::Blue, 200, 349, 0.3, 0.8, S::ExpPlus, 4.0);
        d.rightSelections[9] = selection(K::Green, 0, 49, 1.0, 1.0, S::Staircase, 5.0);
        ws.red = RedSelection{300, 420, 1, 0, 0};
    };
    auto regionOf = [](const Selection& s, int channel) {
        return EditRegion{channel, s.start, s.end, s.alphaStart, s.alphaEnd, s.shape, s.shapeParameter};
    };
    for (int bits : {8, 16}) {
        for (int target = 0; target <= 14; ++target) {
            for (int id : {cmd::Double, cmd::FadeInCos, cmd::Reverse}) {
                SCOPED_TRACE("bits " + std::to_string(bits) + " target " + std::to_string(target) + " command "
                             + std::to_string(id));
                Workspace ws = test::workspaceWith(test::randomDocument(bits, 2, 1000, 9));
                prepare(ws);
                const int slot = target == 13 ? 4 : target == 14 ? 2 : -1;
                SoundDocument expected = ws.document.copyWithSamples();
                const auto& L = ws.document.leftSelections;
                const auto& R = ws.document.rightSelections;
                std::vector<EditRegion> regions;
                const EditRegion wholeL{0, 0, 999}, wholeR{1, 0, 999};
                switch (target) {
                case 0: regions = {wholeL, wholeR}; break;
                case 1: regions = {wholeL}; break;
                case 2: regions = {wholeR}; break;
                case 3: regions = {regionOf(L[0], 0), regionOf(L[4], 0), regionOf(L[7], 0), regionOf(R[2], 1), regionOf(R[9], 1)}; break;
                case 4: regions = {regionOf(L[4], 0), regionOf(L[7], 0), regionOf(R[2], 1)}; break;
                case 5: regions = {regionOf(L[0], 0), regionOf(R[9], 1)}; break;
                case 6: regions = {regionOf(L[0], 0), regionOf(L[4], 0), regionOf(L[7], 0)}; break;
                case 7: regions = {regionOf(L[4], 0), regionOf(L[7], 0)}; break;
                case 8: regions = {regionOf(L[0], 0)}; break;
                case 9: regions = {regionOf(R[2], 1), regionOf(R[9], 1)}; break;
                case 10: regions = {regionOf(R[2], 1)}; break;
                case 11: regions = {regionOf(R[9], 1)}; break;
                case 12: regions = {EditRegion{1, 300, 420}}; break;
                case 13: regions = {regionOf(L[4], 0)}; break;
                case 14: regions = {regionOf(R[2], 1)}; break;
                }
                for (const EditRegion& r : regions)
                    test::referenceEdit(expected, id, r);
                ScriptedUi ui;
                EditHost host;
                ASSERT_TRUE(runEditCommand(ws, ui, host, id, target, slot));
                EXPECT_EQ(test::bytesOf(ws.document), test::bytesOf(expected));
                EXPECT_TRUE(ui.messages.empty());
            }
        }
    }
}

TEST(RunEditCommand, AnalysisGetsEachRegionInTargetOrderWithoutSnapshot)
{
    Workspace ws = stereo();
    SoundDocument& d = ws.document;
    d.leftSelections[5] = selection(K::Blue, 600, 650);
    d.leftSelections[1] = selection(K::Green, 100, 150, 0.5, 0.25, S::Cos, 3.0);
    d.rightSelections[0] = selection(K::Blue, 10, 20);
    const auto before = test::bytesOf(ws.document);
    ScriptedUi ui;
    RecordingHost host;
    host.answers[cmd::Fft] = true;
    ASSERT_TRUE(runEditCommand(ws, ui, host, cmd::Fft, 3, -1));
    ASSERT_EQ(host.analysed.size(), 3u);
    const EditRegion& first = host.analysed[0].first;
    EXPECT_EQ(first.channel, 0);
    EXPECT_EQ(first.start, 100);
    EXPECT_EQ(first.alphaStart, 0.5);
    EXPECT_EQ(first.alphaEnd, 0.25);
    EXPECT_EQ(first.shape, S::Cos);
    EXPECT_EQ(first.shapeParameter, 3.0);
    EXPECT_EQ(host.analysed[1].first.start, 600);
    EXPECT_EQ(host.analysed[2].first.channel, 1);
    EXPECT_EQ(host.analysed[2].second, 2);
    EXPECT_FALSE(ws.undoStore.hasData());
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_EQ(test::bytesOf(ws.document), before);

    host.analysed.clear();
    ws.red = RedSelection{7, 9, 1, 0, 0};
    ASSERT_TRUE(runEditCommand(ws, ui, host, cmd::Fft, 12, -1));
    ASSERT_EQ(host.analysed.size(), 1u);
    const EditRegion& red = host.analysed[0].first;
    EXPECT_EQ(std::tie(red.channel, red.start, red.end), std::make_tuple(1, 7, 9));
    EXPECT_EQ(std::tie(red.alphaStart, red.alphaEnd, red.shape, red.shapeParameter),
              std::make_tuple(1.0, 1.0, S::Linear, 0.0));
}

// A dialog edit that is not built yet still takes the snapshot and counts as done once its dialog says OK.
TEST(RunEditCommand, AcceptedDialogCommandTakesTheSnapshotFirst)
{
    Workspace ws = stereo();
    ws.settings.reverbRatio() = 0;  // a dry-only reverb leaves every sample as it was
    const auto before = test::bytesOf(ws.document);
    ScriptedUi ui;
    RecordingHost host;
    host.answers[cmd::Reverb] = true;
    EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Reverb, 0, -1));
    EXPECT_TRUE(ws.undoStore.hasData());
    EXPECT_EQ(test::bytesOf(ws.document), before);
}

TEST(RunEditCommand, AStaleSelectionIsSkippedAndTheRestStillRuns)
{
    Workspace ws = mono(100);
    ws.document.leftSelections[0] = selection(K::Blue, 90, 150);
    ws.document.leftSelections[1] = selection(K::Blue, 0, 9);
    SoundDocument expected = ws.document.copyWithSamples();
    test::referenceEdit(expected, cmd::Invert, EditRegion{0, 0, 9});
    ScriptedUi ui;
    EditHost host;
    EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Invert, 7, -1));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"選択領域が不正です"});
    EXPECT_EQ(test::bytesOf(ws.document), test::bytesOf(expected));
    EXPECT_EQ(ws.document.modified, 1);
}

TEST(ClampViewsToLength, KeepsEachViewInsideTheSound)
{
    struct Case {
        const char* name;
        std::int32_t frames;
        ViewState view;
        std::optional<int> client;  // the margin is 64 by default
        double x0;
        double sx;
    };
    const Case cases[] = {
        {"inside stays", 1000, {100, 0, 1, 1}, 564, 100, 1},
        {"negative first frame", 1000, {-5, 0, 1, 1}, 564, 0, 1},
        {"past the end scrolls back", 1000, {800, 0, 1, 1}, 564, 500, 1},
        {"zoomed in past the end", 1000, {990, 0, 4, 1}, 464, 900, 4},
        {"too short fills the view", 200, {50, 0, 1, 1}, 564, 0, 2.5},
        {"no frames keeps the zoom", 0, {50, 0, 2, 1}, 564, 0, 2},
        {"zero zoom fills the view", 1000, {10, 0, 0, 1}, 564, 0, 0.5},
        {"not a number", 1000, {std::nan(""), 0, std::nan(""), 1}, 564, 0, 0.5},
        {"no width reported", 1000, {800, 0, 1, 1}, std::nullopt, 800, 1},
        {"narrower than the margin", 1000, {800, 0, 1, 1}, 40, 800, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workspace ws = test::workspaceWith(test::makeDocument(16, 2, c.frames, [](std::int64_t, int) { return 0; }));
        ws.document.leftView = c.view;
        ws.document.rightView = {3, 0, 1, 1};
        RecordingHost host;
        if (c.client)
            host.widths[0] = *c.client;
        clampViewsToLength(ws, host);
        EXPECT_DOUBLE_EQ(ws.document.leftView.x0, c.x0);
        EXPECT_DOUBLE_EQ(ws.document.leftView.sx, c.sx);
        EXPECT_EQ(ws.document.rightView.x0, 3);  // no width for the right view
    }
    // A mono sound has no right view to keep.
    Workspace ws = test::workspaceWith(test::makeDocument(16, 1, 100, [](std::int64_t, int) { return 0; }));
    ws.document.rightView = {5000, 0, 1, 1};
    RecordingHost host;
    host.widths = {{0, 564}, {1, 564}};
    clampViewsToLength(ws, host);
    EXPECT_EQ(ws.document.rightView.x0, 5000);
    EXPECT_EQ(ws.document.leftView.x0, 0);
    EXPECT_EQ(ws.document.leftView.sx, 5);
}

} // namespace
} // namespace sonavik

#include "edit/response_chooser.h"

namespace sonavik {
namespace {

TEST(ResponseChooser, StoresThePathAndItsFolderOrNothingWhenCancelled)
{
    Workspace ws;
    applyDefaultSettings(ws.settings);
    setFieldText(ws.settings.openDir, "/music/");
    test::ScriptedUi ui;
    EXPECT_FALSE(chooseResponseFile(ws, ui));
    ASSERT_EQ(ui.openDialogs.size(), 1u);
    EXPECT_EQ(ui.openDialogs[0].title, "応答関数読み込み");
    EXPECT_EQ(ui.openDialogs[0].initialDir, "/music/");
    EXPECT_EQ(fieldText(ws.settings.responsePath), "");

    ui.fileAnswers.push_back("/rooms/hall.wav");
    EXPECT_TRUE(chooseResponseFile(ws, ui));
    EXPECT_EQ(fieldText(ws.settings.responsePath), "/rooms/hall.wav");
    EXPECT_EQ(fieldText(ws.settings.openDir), "/rooms/");
}

} // namespace
} // namespace sonavik
