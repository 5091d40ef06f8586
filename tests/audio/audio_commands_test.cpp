#include "app/main_controller.h"
#include "audio/playback.h"
#include "audio/recording.h"

#include "audio/virtual_wave_device.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "support/scripted_ui.h"
#include "views/test_documents.h"

#include <gtest/gtest.h>

namespace sonavik {
namespace {

class Shell : public MainWindowShell {
public:
    const Workspace* ws = nullptr;
    std::vector<bool> playbackStates;
    bool buttonsEnabled = false;
    int layouts = 0;
    int redraws = 0;

    bool layoutForDocument() override
    {
        ++layouts;
        return true;
    }
    void redrawViews() override { ++redraws; }
    void setDocumentButtonsEnabled(bool enabled) override { buttonsEnabled = enabled; }
    std::optional<ViewClientSize> viewClientSize(int channel) const override
    {
        if (channel == 1 && ws->document.format.nChannels != 2)
            return std::nullopt;
        return ViewClientSize{568, 164};
    }
    void destroyWindow() override {}
    void setPlaybackRunning(bool running) override { playbackStates.push_back(running); }
};

class AudioCommandsTest : public ::testing::Test {
protected:
    AudioCommandsTest()
    {
        applyDefaultSettings(ws.settings);
        ws.settings.recordSeconds = 2;
        shell.ws = &ws;
        controller.attachAudio(player, recorder);
        recorder.hooks.settingsDialog = [] { return true; };
        recorder.hooks.standby = [this] {
            recorder.openLevelPicture(100, 50);
            recorder.toggleCapturing();
            // While the standby runs, everything that would replace the sound is refused.
            controller.command(cmd::Open);
            controller.command(cmd::PlayOnce);
            input.completeNext();
            recorder.stopCapturing();
        };
    }

    Workspace ws;
    test::ScriptedUi ui;
    Shell shell;
    test::VirtualWaveOut output;
    test::VirtualWaveIn input;
    Player player{ws, ui, output};
    Recorder recorder{ws, ui, input};
    MainController controller{ws, ui, shell};
};

TEST_F(AudioCommandsTest, PlayButtonLoopsAsSetAndTheSameButtonStops)
{
    ws.document = test::makeDocument(16, 2, 500, [](std::int64_t i, int) { return static_cast<int>(i); });
    ws.settings.playButtonLoops = 1;
    controller.command(cmd::PlayButton);
    EXPECT_EQ(output.completeAll(30), 30) << "still looping";
    EXPECT_EQ(shell.playbackStates, std::vector<bool>{true});

    controller.command(cmd::Open);
    controller.command(cmd::New);
    controller.command(cmd::PlaySettings);
    EXPECT_EQ(ui.texts(), (std::vector<std::string>{"再生／録音中は、ファイルを読み込めません", "再生／録音中は、録音を開始できません",
                                                    "再生中録音中は設定を変更できません"}));

    controller.command(cmd::PlayButton);
    EXPECT_EQ(shell.playbackStates, (std::vector<bool>{true, false}));
    EXPECT_FALSE(output.isOpen);
    EXPECT_TRUE(ws.document.hasData());
}

TEST_F(AudioCommandsTest, NewClosesTheSoundAndRecordsIntoNewData)
{
    ws.document = test::makeDocument(8, 1, 100, [](std::int64_t, int) { return 128; });
    ws.document.path = "/tmp/old.wav";
    controller.command(cmd::New);

    EXPECT_EQ(ui.texts(), (std::vector<std::string>{"再生／録音中は、ファイルを読み込めません", "録音中は、再生を開始できません"}));
    EXPECT_EQ(ws.undoStore.path, "/tmp/old.wav");
    ASSERT_TRUE(ws.document.hasData());
    EXPECT_EQ(ws.document.format.nChannels, 2);
    EXPECT_EQ(ws.document.frameCount, 4 * 4096 / 4);  // one packet of four pages
    EXPECT_EQ(ui.title, "Sonavik 2 - \"New Data(1).wav\" * 0 +");
    EXPECT_TRUE(shell.buttonsEnabled);
    EXPECT_GT(shell.layouts, 0);
    EXPECT_GT(ws.document.leftView.sx, 0.0) << "views fitted to the new sound";
    EXPECT_EQ(ws.capturing, 0);
    EXPECT_FALSE(input.isOpen);
}

} // namespace
} // namespace sonavik
