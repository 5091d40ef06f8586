#include "app/main_controller.h"

#include "app/desktop_hints.h"
#include "app/main_menu.h"
#include "audio/playback.h"
#include "audio/recording.h"
#include "audio/virtual_wave_device.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "edit/edit_dispatcher.h"
#include "history/edit_history.h"
#include "platform/durable_file.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>

#include <functional>

namespace sonavik {
namespace {


using test::ScriptedUi;
using test::TempDir;

class FakeShell : public MainWindowShell {
public:
    bool leftView = true;
    bool rightView = false;
    bool buttonsEnabled = false;
    int redraws = 0;
    int destroyed = 0;
    const Workspace* ws = nullptr;

    bool layoutForDocument() override
    {
        if (!leftView)
            return false;
        rightView = ws->document.hasData() && ws->document.format.nChannels == 2;
        return true;
    }
    void redrawViews() override { ++redraws; }
    void setDocumentButtonsEnabled(bool enabled) override { buttonsEnabled = enabled; }
    std::optional<ViewClientSize> viewClientSize(int channel) const override
    {
        if (channel == 0 ? !leftView : !rightView)
            return std::nullopt;
        return ViewClientSize{568, rightView ? 164 : 328};
    }
    void destroyWindow() override { ++destroyed; }
};

class MainControllerTest : public ::testing::Test {
protected:
    MainControllerTest()
    {
        applyDefaultSettings(ws.settings);
        setFieldText(ws.settings.openDir, dir.path());
        setFieldText(ws.settings.saveDir, dir.path());
        shell.ws = &ws;
    }

    std::string writeFile(const std::string& name, const std::vector<unsigned char>& bytes)
    {
        test::writeBytes(dir.file(name), bytes);
        return dir.file(name);
    }

    void open(const std::string& path)
    {
        ui.fileAnswers.push_back(path);
        controller.command(cmd::Open);
    }

    TempDir dir;
    Workspace ws;
    ScriptedUi ui;
    FakeShell shell;
    MainController controller{ws, ui, shell};
};

TEST_F(MainControllerTest, TitleFollowsDocumentRedSelectionAndUndoStore)
{
    controller.refreshTitle();
    EXPECT_EQ(ui.title, "Sonavik 2 - No Data - 0 -");

    std::string a = writeFile("a.wav", test::rampWav16(1, 10));
    open(a);
    EXPECT_EQ(ui.title, "Sonavik 2 - \"" + a + "\" - 0 -");

    markModified(ws, ui);
    EXPECT_EQ(ui.title, "Sonavik 2 - \"" + a + "\" * 0 -");

    ws.red = {2, 5, 1, 0, 0};
    EXPECT_EQ(mainWindowTitle(ws), "Sonavik 2 - \"" + a + "\" * R -");
    ws.red.redChannel = 0;
    EXPECT_EQ(mainWindowTitle(ws), "Sonavik 2 - \"" + a + "\" * L -");

    ws.document.path.clear();
    EXPECT_EQ(mainWindowTitle(ws), "Sonavik 2 - Untitled * L -");

    ws.undoStore.samples = SampleBuffer::allocate(4);
    EXPECT_EQ(mainWindowTitle(ws), "Sonavik 2 - Untitled * L +");
    ws.document.samples.reset();
    EXPECT_EQ(mainWindowTitle(ws), "Sonavik 2 - No Data - 0 +");
}

TEST_F(MainControllerTest, OpenFitsViewsClearsSelectionsAndEnablesButtons)
{
    std::string a = writeFile("a.wav", test::rampWav16(2, 100));
    ws.red = {1, 2, 1, 0, 0};
    open(a);
    ASSERT_TRUE(ws.document.hasData());
    EXPECT_TRUE(shell.rightView);
    EXPECT_TRUE(shell.buttonsEnabled);
    EXPECT_FALSE(ws.red.exists());
    EXPECT_EQ(ws.document.modified, 0);
    // Fitted: 16-bit range from -32768, plot of 568 - 64 by 164 - 32 - 32 pixels.
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 0.0);
    EXPECT_DOUBLE_EQ(ws.document.leftView.y0, -32768.0);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, 504.0 / 100.0);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sy, 100.0 / 65536.0);
    EXPECT_DOUBLE_EQ(ws.document.rightView.sx, 504.0 / 100.0);
    EXPECT_EQ(ui.openDialogs.size(), 1u);
    EXPECT_EQ(ui.openDialogs[0].title, "読み込み");
}

TEST_F(MainControllerTest, OpenSecondFileThenUndoBringsTheFirstBackAndRedoTheSecond)
{
    std::string a = writeFile("a.wav", test::rampWav16(2, 10));
    std::string b = writeFile("b.wav", test::rampWav16(1, 20));
    open(a);
    ws.document.leftSelections[3] = Selection{SelectionKind::Blue, 1, 4, 0.5, 1.0, SelectionShape::Cos, 1.0};
    ws.document.modified = 1;
    ui.answers.push_back(MessageAnswer::No);  // do not save a.wav before loading b.wav
    open(b);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, a + " は変更されています。\n新しいファイルを読み込む前に保存しますか？");
    EXPECT_EQ(ws.document.path, b);
    EXPECT_FALSE(shell.rightView);

    controller.command(cmd::Undo);
    EXPECT_EQ(ws.document.path, a);
    EXPECT_EQ(ws.document.frameCount, 10);
    EXPECT_EQ(ws.document.modified, 1) << "open's No answer keeps the modified flag";
    EXPECT_EQ(ws.document.leftSelections[3].kind, SelectionKind::Blue);
    EXPECT_TRUE(shell.rightView) << "the stereo document brings its right view back";
    EXPECT_EQ(ui.title, "Sonavik 2 - \"" + a + "\" * 0 +");

    controller.command(cmd::Undo);
    EXPECT_EQ(ws.document.path, b);
    EXPECT_FALSE(shell.rightView);
}

TEST_F(MainControllerTest, CloseAnsweredNoWritesNothingAndUndoRestoresUnmodified)
{
    std::string a = writeFile("a.wav", test::rampWav16(1, 10));
    open(a);
    auto before = test::readBytes(a);
    ws.document.modified = 1;
    ui.answers.push_back(MessageAnswer::No);
    controller.command(cmd::Close);
    EXPECT_EQ(ui.messages.back().text, a + " は変更されています。\nファイルを閉じる前に保存しますか？");
    EXPECT_TRUE(ui.saveDialogs.empty());
    EXPECT_FALSE(ws.document.hasData());
    EXPECT_FALSE(shell.buttonsEnabled);
    EXPECT_EQ(ui.title, "Sonavik 2 - No Data - 0 +");
    EXPECT_EQ(test::readBytes(a), before);

    controller.command(cmd::Undo);
    ASSERT_TRUE(ws.document.hasData());
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_TRUE(shell.buttonsEnabled);

    // Closing with no sound does nothing at all.
    controller.command(cmd::Close);
    controller.command(cmd::Close);
    EXPECT_FALSE(ws.document.hasData());
}

// The red selection's frames and the last edit's progress belong to the sound they were shown for.
TEST_F(MainControllerTest, StatusTextsOfASoundGoWithIt)
{
    const std::string a = writeFile("a.wav", test::rampWav16(1, 10));
    const std::string b = writeFile("b.wav", test::rampWav16(2, 20));
    open(a);
    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const Step steps[] = {
        {"open", [&] { open(b); }},
        {"undo", [&] { controller.command(cmd::Undo); }},
        {"close", [&] { controller.command(cmd::Close); }},
        {"undo after close", [&] { controller.command(cmd::Undo); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ui.statusText[0] = "現在地： 3 - 3 ( 0.0001 秒 ) / 10 ( 0.0002 秒 )";
        ui.statusText[1] = "処理中: リバーブ ( 完了 )";
        step.run();
        EXPECT_EQ(ui.statusText[0], "Sonavik 2");
        EXPECT_EQ(ui.statusText[1], "");
    }
}

TEST_F(MainControllerTest, UndoAtStartSwapsTwoEmptyDocuments)
{
    controller.command(cmd::Undo);
    EXPECT_FALSE(ws.document.hasData());
    EXPECT_EQ(ui.title, "Sonavik 2 - No Data - 0 -");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(ui.beeps.empty());
}

TEST_F(MainControllerTest, BusyGuardsRefuseWithTheirMessagesAndChangeNothing)
{
    std::string a = writeFile("a.wav", test::rampWav16(1, 10));
    open(a);
    ui.clear();
    ws.playing = 1;
    const std::pair<int, const char*> guarded[] = {
        {cmd::New, "再生／録音中は、録音を開始できません"},
        {cmd::Open, "再生／録音中は、ファイルを読み込めません"},
        {cmd::Save, "再生／録音中は、ファイルを保存できません"},
        {cmd::SaveAs, "再生／録音中は、ファイルを保存できません"},
        {cmd::Close, "再生／録音中は、ファイルを閉じることができません"},
        {cmd::Undo, "再生／録音中は、ＵＮＤＯを実行できません"},
        {cmd::Silence, "再生／録音中は、ファイルを編集できません"},
        {cmd::Fft, "再生／録音中は、ファイルを編集できません"},
        {cmd::PlaySettings, "再生中録音中は設定を変更できません"},
    };
    int edits = 0;
    controller.editHandler = [&](int) { ++edits; return true; };
    for (auto [id, text] : guarded) {
        SCOPED_TRACE(id);
        ui.clear();
        controller.command(id);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, text);
        EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
        EXPECT_EQ(ui.messages[0].caption, "Sonavik 2");
        EXPECT_TRUE(ui.openDialogs.empty());
    }
    EXPECT_EQ(edits, 0);
    EXPECT_EQ(ws.document.path, a);
    EXPECT_FALSE(ws.undoStore.hasData());

    // Recording standby counts as busy too; exit is never blocked.
    ws.playing = 0;
    ws.capturing = 1;
    ui.clear();
    controller.command(cmd::Close);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"再生／録音中は、ファイルを閉じることができません"});
    controller.command(cmd::Exit);
    EXPECT_EQ(shell.destroyed, 1);
}

TEST_F(MainControllerTest, EditCommandsNeedSoundAndRedrawOnlyWhenTheEditSucceeded)
{
    std::vector<int> seen;
    bool result = false;
    controller.editHandler = [&](int id) { seen.push_back(id); return result; };
    controller.command(cmd::Halve);
    EXPECT_TRUE(seen.empty()) << "without sound an edit does nothing at all";
    EXPECT_TRUE(ui.messages.empty());

    open(writeFile("a.wav", test::rampWav16(1, 10)));
    int redraws = shell.redraws;
    controller.command(cmd::Halve);
    EXPECT_EQ(shell.redraws, redraws);
    result = true;
    controller.command(40120);  // ids no menu shows still reach the dispatcher
    EXPECT_EQ(seen, (std::vector<int>{cmd::Halve, 40120}));
    EXPECT_EQ(shell.redraws, redraws + 1);
}

TEST_F(MainControllerTest, ExitAndCloseQuestionsFollowTheAnswers)
{
    std::string a = writeFile("a.wav", test::rampWav16(1, 10));
    open(a);
    ws.document.modified = 1;

    // Yes, then the save dialog is cancelled: the destroy question comes next; No there ends without saving.
    ui.answers = {MessageAnswer::Yes, MessageAnswer::No};
    controller.onClose();
    controller.onDestroy();
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text, a + " は変更されています。\nアプリケーションを終了する前に保存しますか？");
    EXPECT_EQ(ui.messages[1].text, a + " は変更されています。\nアプリケーションを強制終了する前に保存しますか？");
    EXPECT_EQ(ui.saveDialogs.size(), 1u);
    EXPECT_EQ(ws.document.modified, 0);

    // Exit from the menu asks once, then destroys the window.
    ws.document.modified = 1;
    ui.clear();
    std::string saved = dir.file("saved.wav");
    ui.answers = {MessageAnswer::Yes};
    ui.fileAnswers = {saved};
    controller.command(cmd::Exit);
    EXPECT_EQ(shell.destroyed, 1);
    EXPECT_TRUE(test::fileExists(saved));
    EXPECT_EQ(ws.document.modified, 0);
    EXPECT_EQ(ws.document.path, saved);
}

TEST_F(MainControllerTest, FailedOpenLeavesNoSoundButTheOldOneReachableByUndo)
{
    std::string a = writeFile("a.wav", test::rampWav16(2, 10));
    std::string bad = writeFile("bad.wav", {'R', 'I', 'F', 'F'});
    open(a);
    open(bad);
    EXPECT_FALSE(ws.document.hasData());
    EXPECT_FALSE(shell.rightView);
    EXPECT_FALSE(shell.buttonsEnabled);
    EXPECT_EQ(ui.title, "Sonavik 2 - No Data - 0 +");
    controller.command(cmd::Undo);
    EXPECT_EQ(ws.document.path, a);
    EXPECT_TRUE(shell.rightView);
}

TEST_F(MainControllerTest, ViewButtonsScaleTheirOwnViewOnly)
{
    open(writeFile("a.wav", test::rampWav16(2, 1000)));
    const ViewState right = ws.document.rightView;
    controller.command(cmd::LeftZoomInX);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, 2 * 504.0 / 1000.0);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 504.0 * 0.25 / (504.0 / 1000.0));
    EXPECT_DOUBLE_EQ(ws.document.rightView.sx, right.sx);
    controller.command(cmd::RightFit + 3);  // centre the right view on 0
    EXPECT_DOUBLE_EQ(ws.document.rightView.y0, -(100.0 / right.sy) / 2);

    // Undo refits both views of the document it brings back.
    controller.command(cmd::Close);
    controller.command(cmd::Undo);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, 504.0 / 1000.0);
    EXPECT_DOUBLE_EQ(ws.document.leftView.x0, 0.0);
}

TEST_F(MainControllerTest, LayoutFailureBeeps)
{
    open(writeFile("a.wav", test::rampWav16(1, 10)));
    shell.leftView = false;
    controller.command(cmd::Undo);
    EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Error});
}

TEST(MainMenu, HasTheFourMenusInOrder)
{
    const auto& menus = mainMenu();
    ASSERT_EQ(menus.size(), 4u);
    EXPECT_STREQ(menus[0].title, "ファイル");
    EXPECT_STREQ(menus[1].title, "エディット");
    EXPECT_STREQ(menus[2].title, "変換");
    EXPECT_STREQ(menus[3].title, "再生");
    EXPECT_EQ(menus[0].items.size(), 9u);
    EXPECT_EQ(menus[1].items.size(), 19u);
    EXPECT_EQ(menus[1].items[1].id, cmd::History);
    EXPECT_STREQ(menus[1].items[1].text, "編集履歴...");
    EXPECT_EQ(menus[1].items[6].id, cmd::Nonlinear);
    EXPECT_STREQ(menus[1].items[6].text, "振幅の非線形変換...");
    EXPECT_STREQ(menus[0].items[8].text, "Sonavik 2 の終了");
}

// A run that ends without removing its history folder (killed, crashed) leaves its unsaved sound to the
// next start: Yes brings it back exactly, modified, with its states; the clean end removes the folder.
// A folder of a run that still goes on is neither offered nor touched; No removes an ended one's folder.
// The history's limit set from its window drops states when 元に戻す／やり直し passes it, and the status bar
// says so after the undo has cleared it.
TEST_F(MainControllerTest, AnUndoPastTheHistoryLimitSaysWhatWentAfterTheStatusIsCleared)
{
    EditHost host;
    controller.editHandler = [&](int id) { return runEditCommand(ws, ui, host, id, 1, 0); };
    controller.startHistory(dir.file("sessions/"));
    open(writeFile("a.wav", test::rampWav16(1, 300000)));  // 600 KB; a change of all of it stores 1.2 MB
    controller.command(cmd::Halve);
    controller.command(cmd::Invert);
    controller.setHistoryLimit(3);
    EXPECT_EQ(ws.settings.historyLimitMiB, 3);
    ASSERT_EQ(ws.history->firstState(), 0);
    controller.command(cmd::Undo);
    EXPECT_EQ(ws.history->firstState(), 1);
    EXPECT_NE(ui.statusText[0].find("古い状態を 1 個"), std::string::npos) << ui.statusText[0];
    controller.onDestroy();
}

// Key B (再生 → 変更前と聴き比べる) while the sound plays: "変更前" while the state before the last change is
// heard, the caption back on the next B and when the playback ends; with nothing playing, a beep.
TEST_F(MainControllerTest, BeforeAndAfterShowsItsStatusWhileTheEarlierStateIsHeard)
{
    test::VirtualWaveOut out;
    test::VirtualWaveIn in;
    out.canReplace = true;
    Player player(ws, ui, out);
    Recorder recorder(ws, ui, in);
    controller.attachAudio(player, recorder);
    EditHost host;
    controller.editHandler = [&](int id) { return runEditCommand(ws, ui, host, id, 1, 0); };
    EXPECT_STREQ(menuShortcut(cmd::CompareBefore), "B");
    open(writeFile("a.wav", test::rampWav16(1, 30000)));
    controller.command(cmd::Halve);
    controller.command(cmd::CompareBefore);
    EXPECT_EQ(ui.beeps.size(), 1u);
    controller.command(cmd::PlayLoop);
    ASSERT_EQ(ws.playing, 1);
    for (const char* shown : {kHearingBefore, kAppCaption, kHearingBefore}) {
        controller.command(cmd::CompareBefore);
        EXPECT_EQ(ui.statusText[0], shown);
        out.deliverReturned();
    }
    controller.command(cmd::PlayLoop);
    EXPECT_EQ(ws.playing, 0);
    EXPECT_EQ(ui.statusText[0], kAppCaption);
    EXPECT_EQ(ui.beeps.size(), 1u);
}

TEST_F(MainControllerTest, AnUnsavedSoundComesBackAtTheNextStart)
{
    const std::string root = dir.file("sessions/");
    const std::string path = writeFile("a.wav", test::rampWav16(2, 5000, -2500));
    EditHost host;
    std::vector<unsigned char> lastState;
    auto run = [&](Workspace& w, ScriptedUi& u, MainController& c, FakeShell& sh) {
        applyDefaultSettings(w.settings);
        sh.ws = &w;
        c.editHandler = [&](int id) { return runEditCommand(w, u, host, id, 1, 0); };
        c.startHistory(root);
        u.fileAnswers.push_back(path);
        c.command(cmd::Open);
        c.command(cmd::Halve);
        c.command(cmd::Reverse);
        c.command(cmd::Undo);
    };
    Workspace w2;
    ScriptedUi u2;
    FakeShell sh2;
    std::optional<MainController> running(std::in_place, w2, u2, sh2);
    run(w2, u2, *running, sh2);
    {
        Workspace w;
        ScriptedUi u;
        FakeShell sh;
        MainController crashed(w, u, sh);
        run(w, u, crashed, sh);
        ASSERT_EQ(w.history->lastState(), 3);
        lastState.assign(w.document.samples.data(), w.document.samples.data() + w.document.byteCount());
    }  // gone without onDestroy, as a killed run goes

    ui.answers.push_back(MessageAnswer::Yes);
    controller.startHistory(root);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.rfind(kRecoverQuestion, 0), 0u);
    EXPECT_NE(ui.messages[0].text.find(path), std::string::npos);
    ASSERT_TRUE(ws.document.hasData());
    EXPECT_EQ(std::vector<unsigned char>(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount()), lastState);
    EXPECT_EQ(ws.document.path, path);
    EXPECT_NE(ui.title.find(" *"), std::string::npos) << ui.title;
    ASSERT_TRUE(ws.history);
    EXPECT_EQ(ws.history->lastState(), 3);
    EXPECT_TRUE(controller.goToHistoryState(1));
    EXPECT_EQ(ws.history->lastState(), 4);

    ui.answers.push_back(MessageAnswer::No);
    controller.onDestroy();
    EXPECT_EQ(folderEntries(root).size(), 1u) << "only the running one's folder is left";

    // The second run ends without a word too; asked at the next start, No removes its folder.
    running.reset();
    Workspace w3;
    ScriptedUi u3;
    FakeShell sh3;
    sh3.ws = &w3;
    MainController third(w3, u3, sh3);
    u3.answers.push_back(MessageAnswer::No);
    third.startHistory(root);
    EXPECT_EQ(u3.messages.size(), 1u);
    EXPECT_FALSE(w3.document.hasData());
    EXPECT_EQ(folderEntries(root).size(), 1u) << "only the new run's own folder";
    third.onDestroy();
    EXPECT_TRUE(folderEntries(root).empty());
}

} // namespace
} // namespace sonavik
