// The play button, the space bar and the play line of the main window, and the three sound dialogs, on
// the virtual devices of the engine tests.

#include "audio/virtual_wave_device.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "gui/buttons.h"
#include "gui/dialogs/playback_dialog.h"
#include "gui/dialogs/record_dialog.h"
#include "gui/dialogs/standby_dialog.h"
#include "gui/main_window.h"
#include "gui/wave_view.h"
#include "keep_picture.h"
#include "settings/settings.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::keepPicture;

template <typename W>
W* control(QWidget* dialog, const char* id)
{
    W* w = dialog->findChild<W*>(id);
    EXPECT_NE(w, nullptr) << id;
    return w;
}

void type(QLineEdit* field, const QString& text)
{
    field->selectAll();
    QTest::keyClicks(field, text);
}

class AudioWindowTest : public ::testing::Test {
protected:
    AudioWindowTest() { applyDefaultSettings(ws.settings); }

    Workspace ws;
    ScriptedUi ui;
    test::VirtualWaveOut out;
    test::VirtualWaveIn in;
    test::TempDir dir;
};

TEST_F(AudioWindowTest, SpaceAndThePlayButtonStartAndStopWithTheLabelTheOtherButtonsAndThePlayLine)
{
    MainWindow window(ws, &ui, &out, &in);
    ui.setWindow(&window.qtUi());
    window.resize(800, 500);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const std::string path = dir.file("x.wav");
    test::writeBytes(path, test::rampWav16(1, 40000));
    window.controller().openPath(path);
    ASSERT_TRUE(ws.document.hasData());
    BigButton* play = window.bigButton(2);
    EXPECT_EQ(play->label(), QString::fromUtf8("再生"));

    QTest::keyClick(&window, Qt::Key_Space);
    ASSERT_EQ(ws.playing, 1) << ::testing::PrintToString(ui.texts());
    EXPECT_EQ(play->label(), QString::fromUtf8("停止"));
    for (int i : {0, 1, 3, 4, 5})
        EXPECT_EQ(window.bigButton(i)->look(), BigButtonLook::Disabled) << i;
    // Two buffers played: the line stands on the first frame after them and shows in the picture.
    out.completeNext();
    out.completeNext();
    // The line follows on the window's next tick.
    for (int tick = 0; tick < 500 && window.views().playPosition() != 2 * 2 * 4096 / 2; ++tick)
        QTest::qWait(10);
    const std::int64_t at = window.views().playPosition();
    EXPECT_EQ(at, 2 * 2 * 4096 / 2);
    const PixelImage* shown = window.views().picture(0);
    ASSERT_NE(shown, nullptr);
    keepPicture(window.grab().toImage(), "play_line.png");

    // The space bar stops it at once, as the button does.
    QTest::keyClick(&window, Qt::Key_Space);
    EXPECT_EQ(ws.playing, 0);
    EXPECT_EQ(play->label(), QString::fromUtf8("再生"));
    for (int i : {0, 1, 3, 4, 5})
        EXPECT_NE(window.bigButton(i)->look(), BigButtonLook::Disabled) << i;
    EXPECT_EQ(window.views().playPosition(), -1);
    EXPECT_TRUE(ui.messages.empty()) << ::testing::PrintToString(ui.texts());

    // Played to its end from the menu: the label comes back by itself.
    window.controller().command(cmd::PlayOnce);
    ASSERT_EQ(ws.playing, 1);
    out.completeAll();
    EXPECT_EQ(ws.playing, 0);
    EXPECT_EQ(play->label(), QString::fromUtf8("再生"));

    // A device that goes away while playing: its message, and every button usable again.
    window.controller().command(cmd::PlayLoop);
    ASSERT_EQ(ws.playing, 1);
    out.disappear();
    EXPECT_EQ(ws.playing, 0);
    EXPECT_EQ(play->label(), QString::fromUtf8("再生"));
    for (int i : {0, 1, 3, 4, 5})
        EXPECT_NE(window.bigButton(i)->look(), BigButtonLook::Disabled) << i;
    EXPECT_EQ(window.views().playPosition(), -1);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{mmErrorText(mm::NoDriver)});
    EXPECT_TRUE(ws.document.hasData());
}

TEST_F(AudioWindowTest, PlaybackDialogStoresWhatIsTypedAndFollowsTheDeviceCapabilities)
{
    ws.document.format = {1, 1, 22050, 44100, 2, 16, 0};
    ws.document.frameCount = 10;
    ws.document.samples = SampleBuffer::allocate(20);
    ws.settings.playUseDeviceSettings = 0;
    out.devices = 2;
    out.support = kCapsPitch | kCapsPlaybackRate | kCapsVolume;
    int titles = 0;
    PlaybackDialog dialog(ws, ui, out, [&] { ++titles; }, nullptr);
    dialog.show();

    EXPECT_FALSE(control<QComboBox>(&dialog, "1201")->isEnabled()) << "the mapper is used by default";
    EXPECT_TRUE(control<QLineEdit>(&dialog, "1224")->isEnabled());
    EXPECT_EQ(control<QLineEdit>(&dialog, "1224")->text(), "1.0000");
    EXPECT_EQ(control<QLineEdit>(&dialog, "1229")->text(), "Not Supported");
    EXPECT_FALSE(control<QLineEdit>(&dialog, "1229")->isEnabled());
    EXPECT_EQ(control<QLabel>(&dialog, "1208")->text(), QString::fromUtf8("4096 bytes ×"));
    EXPECT_EQ(control<QLabel>(&dialog, "1206")->text(), QString::fromUtf8("＝ 8192 bytes"));

    type(control<QLineEdit>(&dialog, "1224"), "1.5");
    EXPECT_EQ(ws.settings.playRate, 0x00018000u);
    type(control<QLineEdit>(&dialog, "1207"), "-3");
    EXPECT_EQ(ws.settings.playPackets, 1);
    EXPECT_EQ(control<QLabel>(&dialog, "1206")->text(), QString::fromUtf8("＝ 4096 bytes"));
    type(control<QLineEdit>(&dialog, "1226"), "0");
    EXPECT_EQ(ws.document.format.nSamplesPerSec, 1u);
    EXPECT_EQ(ws.document.format.nAvgBytesPerSec, 2u);
    EXPECT_EQ(ws.document.modified, 1);
    EXPECT_GE(titles, 1);

    // Leaving the values to the device disables them and offers nothing to store back.
    control<QCheckBox>(&dialog, "1230")->setChecked(true);
    EXPECT_EQ(ws.settings.playUseDeviceSettings, 1);
    EXPECT_FALSE(control<QLineEdit>(&dialog, "1224")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>(&dialog, "1231")->isEnabled());
    control<QCheckBox>(&dialog, "1203")->setChecked(false);
    EXPECT_TRUE(control<QComboBox>(&dialog, "1201")->isEnabled());
    keepPicture(dialog.grab().toImage(), "playback_dialog.png");
}

TEST_F(AudioWindowTest, RecordDialogTestsTheFormatAndEnablesTheMonitorOptionsForTheChannels)
{
    ws.settings.recordChannels = 2;
    ws.settings.peakStereoType = 0;
    RecordDialog dialog(ws, ui, in, nullptr);
    dialog.show();
    EXPECT_FALSE(control<QWidget>(&dialog, "1005")->isEnabled());
    EXPECT_TRUE(control<QCheckBox>(&dialog, "1008")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>(&dialog, "1009")->isEnabled());
    EXPECT_FALSE(control<QLineEdit>(&dialog, "1018")->isEnabled());
    EXPECT_EQ(control<QLabel>(&dialog, "1014")->text(), QString::fromUtf8("= 16384 ﾊﾞｲﾄ"));

    control<QRadioButton>(&dialog, "1067")->setChecked(true);
    EXPECT_EQ(ws.settings.peakStereoType, 1);
    EXPECT_TRUE(control<QCheckBox>(&dialog, "1010")->isEnabled());
    EXPECT_FALSE(control<QCheckBox>(&dialog, "1008")->isEnabled());
    control<QRadioButton>(&dialog, "1061")->setChecked(true);
    EXPECT_EQ(ws.settings.recordChannels, 1);
    EXPECT_TRUE(control<QCheckBox>(&dialog, "1006")->isEnabled());
    EXPECT_FALSE(control<QWidget>(&dialog, "1007")->isEnabled());
    keepPicture(dialog.grab().toImage(), "record_dialog.png");

    // A custom rate of 0 is tested as 1; the device refuses it, and then accepts 48000 Hz.
    control<QRadioButton>(&dialog, "1056")->setChecked(true);
    type(control<QLineEdit>(&dialog, "1018"), "0");
    in.accepts = [](const WaveDeviceFormat& f) { return f.samplesPerSec >= 8000; };
    control<QPushButton>(&dialog, "1022")->click();
    EXPECT_EQ(ws.settings.recordCustomRate, 1);
    EXPECT_EQ(control<QLineEdit>(&dialog, "1018")->text(), "1");
    control<QRadioButton>(&dialog, "1055")->setChecked(true);
    control<QPushButton>(&dialog, "1022")->click();
    const std::vector<std::string> expected = {mmErrorText(mm::BadFormat), "このフォーマットはサポートされています"};
    EXPECT_EQ(ui.texts(), expected);
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(ui.messages[1].icon, MessageIcon::None);
}

TEST_F(AudioWindowTest, StandbyShowsTheLevelCountsAndTogglesStoring)
{
    ws.settings.recordChannels = 2;
    ws.settings.recordSeconds = 5;
    ws.settings.recordPackets = 1;
    Recorder recorder(ws, ui, in);
    bool checked = false;
    recorder.hooks.settingsDialog = [] { return true; };
    recorder.hooks.standby = [&] {
        StandbyDialog standby(recorder, ws, nullptr);
        standby.show();
        EXPECT_EQ(control<QLabel>(&standby, "1103")->text(), QString::fromUtf8("2（ステレオ）"));
        EXPECT_EQ(control<QLabel>(&standby, "1104")->text(), "44100 Hz");
        QPushButton* storing = control<QPushButton>(&standby, "1107");
        EXPECT_EQ(storing->text(), QString::fromUtf8("録音開始"));
        storing->click();
        EXPECT_EQ(storing->text(), QString::fromUtf8("録音停止"));
        EXPECT_EQ(ws.capturing, 1);
        // A packet of a loud left and quiet right channel.
        in.source = [](unsigned char* p, std::uint32_t n) {
            auto* s = reinterpret_cast<std::int16_t*>(p);
            for (std::uint32_t i = 0; i < n / 4; ++i) {
                s[2 * i] = static_cast<std::int16_t>(i % 64 < 32 ? 20000 : -20000);
                s[2 * i + 1] = 1000;
            }
            return n;
        };
        in.completeNext();
        EXPECT_EQ(control<QLabel>(&standby, "1110")->text(), "4 kB");
        EXPECT_EQ(control<QLabel>(&standby, "1109")->text(), QString::fromUtf8("0 秒"));
        const QImage shown = standby.picture()->grab().toImage();
        keepPicture(standby.grab().toImage(), "standby_dialog.png");
        // The red square says the packet was stored.
        EXPECT_EQ(shown.pixelColor(5, 6), QColor(255, 0, 0));
        checked = true;
        control<QPushButton>(&standby, "1101")->click();
        EXPECT_EQ(ws.capturing, 0);
    };
    recorder.recordNewDocument();
    EXPECT_TRUE(checked);
    EXPECT_EQ(ws.document.frameCount, 4096 / 4);
}

} // namespace
} // namespace sonavik
