// "試聴" in the curve dialogs, on a virtual output device: Space starts the preview of the edit's target,
// a point dragged meanwhile is heard from the next buffer on, B gives the target as it is, and Cancel
// leaves everything as it was.

#include "audio/virtual_wave_device.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "edit/edit_test_support.h"
#include "edit/spectral_test_support.h"
#include "gui/curve_editor_widget.h"
#include "gui/dialogs/nonlinear_dialog.h"
#include "gui/main_window.h"
#include "gui/widget_test_support.h"
#include "keep_picture.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace sonavik {
namespace {

TEST(PreviewDialog, SpacePlaysTheTargetADraggedPointIsHeardAndCancelLeavesEverythingAsItWas)
{
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.pageSize = 4096;
    test::ScriptedUi ui;
    test::VirtualWaveOut out;
    test::VirtualWaveIn in;
    out.canReplace = true;
    test::TempDir dir;
    const std::string path = dir.file("x.wav");
    test::writeBytes(path, test::rampWav16(1, 30000));
    MainWindow window(ws, &ui, &out, &in);
    ui.setWindow(&window.qtUi());
    window.resize(800, 500);
    window.show();
    window.controller().openPath(path);
    ASSERT_TRUE(ws.document.hasData());
    ws.red = RedSelection{1000, 20999, 0};
    const std::vector<unsigned char> sound = test::bytesOf(ws.document);
    const std::string title = mainWindowTitle(ws);
    const std::uint32_t noise = ws.reverbNoiseState;

    std::vector<unsigned char> heardBefore, heardAfter, heardBypassed;
    bool playedWhileOpen = false, stoppedByCancel = false;
    test::whenShown([&](QWidget* shown) {
        auto* dialog = qobject_cast<NonlinearDialog*>(shown);
        ASSERT_NE(dialog, nullptr);
        QCheckBox* box = dialog->previewBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QString::fromUtf8("試聴"));
        EXPECT_EQ(box->toolTip(), QString::fromUtf8("試聴 (Space) / 変更前 (B)"));
        // The row of its own is the last one: the dialog's other controls keep their places above it.
        EXPECT_GT(box->geometry().top(), dialog->frame()->geometry().bottom());
        test::keepPicture(dialog->grab().toImage(), "preview_dialog.png");

        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
        QTest::keyClick(dialog, Qt::Key_Space);
        EXPECT_TRUE(box->isChecked());
        playedWhileOpen = ws.playing == 1 && window.player().playingPreview();
        out.completeAll(3);
        heardBefore = out.played;

        // A point of the curve dragged down: the change is looked for every few milliseconds.
        CurveEditorWidget* editor = dialog->editor();
        const QPoint from(editor->width() / 2, editor->height() / 2);
        QTest::mousePress(editor, Qt::LeftButton, {}, from);
        QTest::mouseMove(editor, from + QPoint(0, editor->height() / 4));
        QTest::mouseRelease(editor, Qt::LeftButton, {}, from + QPoint(0, editor->height() / 4));
        QTest::qWait(60);
        out.deliverReturned();
        out.completeAll(3);
        heardAfter.assign(out.played.begin() + static_cast<std::ptrdiff_t>(heardBefore.size()), out.played.end());
        // B: the red selection as it is, from where the device stood.
        QTest::keyClick(dialog, Qt::Key_B);
        out.deliverReturned();
        out.completeAll(1);
        heardBypassed.assign(out.played.begin() + static_cast<std::ptrdiff_t>(6 * 8192), out.played.end());

        dialog->reject();
        stoppedByCancel = ws.playing == 0 && !window.player().playingPreview() && !box->isChecked();
    });
    EXPECT_FALSE(runEditCommand(ws, ui, window, cmd::Nonlinear, 12, -1));

    EXPECT_TRUE(playedWhileOpen);
    EXPECT_TRUE(stoppedByCancel);
    ASSERT_EQ(heardBefore.size(), 3u * 8192u);
    ASSERT_EQ(heardAfter.size(), 3u * 8192u);
    // Before the drag the red selection as it is (the curve starts as the identity); after it, the frames
    // from where the device stood, through the new curve.
    EXPECT_TRUE(std::equal(heardBefore.begin(), heardBefore.end(), sound.begin() + 2000));
    Workspace edited = test::workspaceWith(ws.document.copyWithSamples());
    edited.settings = ws.settings;
    edited.red = ws.red;
    EditHost host;
    editTarget(edited, ui, host, cmd::Nonlinear, 12, -1);
    const std::vector<unsigned char> expected = test::bytesOf(edited.document);
    ASSERT_NE(expected, sound) << "the drag changed the curve";
    // The red selection's 40000 bytes over and over, from where the device stood, once the change has
    // faded in (10 ms: 441 frames of 2 bytes).
    std::vector<unsigned char> loop(expected.begin() + 2000, expected.begin() + 42000);
    loop.insert(loop.end(), loop.begin(), loop.end());
    const std::ptrdiff_t fade = static_cast<std::ptrdiff_t>(std::lround(ws.document.format.nSamplesPerSec * 0.010)) * 2;
    EXPECT_TRUE(std::equal(heardAfter.begin() + fade, heardAfter.end(), loop.begin() + 3 * 8192 + fade));
    ASSERT_EQ(heardBypassed.size(), 8192u);
    std::vector<unsigned char> asItIs(sound.begin() + 2000, sound.begin() + 42000);
    asItIs.insert(asItIs.end(), asItIs.begin(), asItIs.end());
    EXPECT_TRUE(std::equal(heardBypassed.begin() + fade, heardBypassed.end(), asItIs.begin() + 6 * 8192 - 40000 + fade));
    // Nothing of the workspace changed.
    EXPECT_EQ(test::bytesOf(ws.document), sound);
    EXPECT_EQ(mainWindowTitle(ws), title);
    EXPECT_FALSE(ws.undoStore.hasData() && ws.undoStore.modified);
    EXPECT_EQ(ws.reverbNoiseState, noise);
    EXPECT_FALSE(out.isOpen);
}

} // namespace
} // namespace sonavik
