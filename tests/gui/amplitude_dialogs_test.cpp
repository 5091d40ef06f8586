#include "gui/dialogs/coarsen_dialog.h"
#include "gui/dialogs/nonlinear_dialog.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "gui/curve_editor_widget.h"
#include "gui/widget_test_support.h"
#include "support/scripted_ui.h"
#include "views/test_documents.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "keep_picture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::whenShown;

Workspace workspaceWith(int bits)
{
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.document = test::randomDocument(bits, 1, 2000, 7);
    return ws;
}

QPushButton* buttonWithText(QWidget* dialog, const char* text)
{
    for (QPushButton* b : dialog->findChildren<QPushButton*>())
        if (b->text() == QString::fromUtf8(text))
            return b;
    return nullptr;
}


TEST(CoarsenDialog, StartsAtTheSoundsBitsAndStoresEveryPosition)
{
    for (int bits : {16, 8}) {
        SCOPED_TRACE(bits);
        Workspace ws = workspaceWith(bits);
        CoarsenDialog dialog(ws, nullptr);
        dialog.show();
        QSlider* slider = dialog.slider();
        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("量子化ビット数の粗視化"));
        EXPECT_EQ(slider->minimum(), 1);
        EXPECT_EQ(slider->maximum(), bits);
        EXPECT_EQ(slider->value(), bits);
        EXPECT_EQ(ws.settings.coarseBits, bits);  // stored before the user touches anything
        EXPECT_EQ(dialog.readout()->text(), QString(" %1 bits / %1 bits").arg(bits));
        QTest::keyClick(slider, Qt::Key_Home);
        EXPECT_EQ(ws.settings.coarseBits, 1);
        EXPECT_EQ(dialog.readout()->text(), QString(" 1 bit / %1 bits").arg(bits));
        QTest::keyClick(slider, Qt::Key_PageUp);  // a page is one bit
        QTest::keyClick(slider, Qt::Key_Right);
        EXPECT_EQ(ws.settings.coarseBits, 3);
        EXPECT_EQ(dialog.readout()->text(), QString(" 3 bits / %1 bits").arg(bits));
    }
}

// Asks with the real dialog, as the main window does.
class DialogHost : public EditHost {
public:
    explicit DialogHost(Workspace& ws) : ws_(ws) {}
    bool askParameters(int commandId) override { return commandId == cmd::Coarsen && showCoarsenDialog(ws_, nullptr); }

private:
    Workspace& ws_;
};

TEST(CoarsenDialog, CancelKeepsTheBitsButLeavesTheSoundAndOkEdits)
{
    Workspace ws = workspaceWith(16);
    const SoundDocument before = ws.document.copyWithSamples();
    ScriptedUi ui;
    DialogHost host(ws);
    auto twoBitsThen = [](const char* button) {
        whenShown([button](QWidget* w) {
            auto* slider = w->findChild<QSlider*>();
            QTest::keyClick(slider, Qt::Key_Home);
            QTest::keyClick(slider, Qt::Key_Right);
            QTest::mouseClick(buttonWithText(w, button), Qt::LeftButton);
        });
    };
    twoBitsThen("ｷｬﾝｾﾙ");
    EXPECT_FALSE(runEditCommand(ws, ui, host, cmd::Coarsen, 1, -1));
    EXPECT_EQ(ws.settings.coarseBits, 2);
    EXPECT_EQ(std::memcmp(ws.document.samples.data(), before.samples.data(), before.byteCount()), 0);
    EXPECT_FALSE(ws.undoStore.hasData());

    twoBitsThen("OK");
    EXPECT_TRUE(runEditCommand(ws, ui, host, cmd::Coarsen, 1, -1));
    for (std::int64_t p = 0; p < ws.document.frameCount; ++p) {
        std::int16_t v;
        std::memcpy(&v, ws.document.samples.data() + 2 * p, 2);
        ASSERT_TRUE(v % 16384 == 0 || v == 32767) << p;
    }
}

class NonlinearDialogTest : public ::testing::Test {
protected:
    void open(int mode)
    {
        ws.settings.nonlinearMode() = mode;
        dialog = std::make_unique<NonlinearDialog>(ws, ui, nullptr);
        dialog->show();
        QApplication::processEvents();
    }

    // Drags in the editor from one curve position to another.
    void drag(double x0, double y0, double x1, double y1)
    {
        const CurvePlot plot = CurvePlot::of(dialog->editor()->width(), dialog->editor()->height());
        const QPoint from(plot.column(x0), plot.row(y0)), to(plot.column(x1), plot.row(y1));
        QTest::mousePress(dialog->editor(), Qt::LeftButton, {}, from);
        QTest::mouseMove(dialog->editor(), to);
        QTest::mouseRelease(dialog->editor(), Qt::LeftButton, {}, to);
    }

    Workspace ws = workspaceWith(16);
    ScriptedUi ui;
    std::unique_ptr<NonlinearDialog> dialog;
};

TEST_F(NonlinearDialogTest, OpensWithItsTextsModeAndTheEditorOverTheFrame)
{
    ws.settings.nonlinear.displayKind = 0;
    open(7);
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("音量の非線形変換"));
    bool noteFound = false;
    for (QLabel* l : dialog->findChildren<QLabel*>())
        noteFound |= l->text() == QString::fromUtf8("これは波形の各部分に直接作用します。コンプレッサーとは意味合いが異なります。");
    EXPECT_TRUE(noteFound);
    EXPECT_EQ(dialog->magnitudeButton()->text(), QString::fromUtf8("絶対値"));
    EXPECT_EQ(dialog->wholeRangeButton()->text(), QString::fromUtf8("全て"));
    EXPECT_EQ(dialog->resetButton()->text(), QString::fromUtf8("リセット"));
    EXPECT_EQ(dialog->greyResetButton()->text(), QString::fromUtf8("灰色の丸リセット"));
    EXPECT_NE(buttonWithText(dialog.get(), "ｷｬﾝｾﾙ"), nullptr);
    // Any mode but 0 opens as "全て".
    EXPECT_EQ(ws.settings.nonlinearMode(), 1);
    EXPECT_TRUE(dialog->wholeRangeButton()->isChecked());
    EXPECT_EQ(ws.settings.nonlinear.displayKind, 2);

    CurveEditorWidget* editor = dialog->editor();
    EXPECT_EQ(editor->objectName(), "Wnd");
    EXPECT_EQ(&editor->editor().data(), &ws.settings.nonlinear);
    EXPECT_EQ(editor->parentWidget(), dialog->frame());
    EXPECT_EQ(editor->geometry(), dialog->frame()->contentsRect());
    dialog->resize(dialog->width() + 120, dialog->height() + 80);
    QApplication::processEvents();
    EXPECT_EQ(editor->geometry(), dialog->frame()->contentsRect());
}

TEST_F(NonlinearDialogTest, EveryControlWritesTheSettingsAtOnce)
{
    open(0);
    CurveData& curve = ws.settings.nonlinear;
    QTest::mouseClick(dialog->wholeRangeButton(), Qt::LeftButton);
    EXPECT_EQ(ws.settings.nonlinearMode(), 1);
    QTest::mouseClick(dialog->magnitudeButton(), Qt::LeftButton);
    EXPECT_EQ(ws.settings.nonlinearMode(), 0);

    drag(0.5, 0.5, 0.5, 0.2);  // the middle white circle up
    EXPECT_NEAR(curve.points[1].y, 0.2, 0.01);
    EXPECT_EQ(curve.points[1].yGray, 0.5);
    drag(0.0, 1.0, 0.0, 0.6);  // the first point: white over grey, so the white one moves
    EXPECT_NEAR(curve.points[0].y, 0.6, 0.01);
    drag(0.0, 1.0, 0.0, 0.8);  // now the grey one
    EXPECT_NEAR(curve.points[0].yGray, 0.8, 0.01);

    QTest::mouseClick(dialog->greyResetButton(), Qt::LeftButton);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(curve.points[k].yGray, 1.0 - curve.points[k].xGray) << k;
    EXPECT_NEAR(curve.points[1].y, 0.2, 0.01);

    QTest::mouseClick(dialog->resetButton(), Qt::LeftButton);
    EXPECT_EQ(curve.points[0].y, 1.0);
    EXPECT_EQ(curve.points[1].y, 0.5);
    EXPECT_EQ(curve.points[3].state, 0);
}

TEST_F(NonlinearDialogTest, OkAndCancelEndTheDialogAndBothKeepTheChanges)
{
    for (const char* text : {"OK", "ｷｬﾝｾﾙ"}) {
        ws.settings.nonlinearMode() = 0;
        whenShown([text](QWidget* w) {
            QTest::mouseClick(qobject_cast<NonlinearDialog*>(w)->wholeRangeButton(), Qt::LeftButton);
            QTest::mouseClick(buttonWithText(w, text), Qt::LeftButton);
        });
        EXPECT_EQ(showNonlinearDialog(ws, ui, nullptr), std::strcmp(text, "OK") == 0) << text;
        EXPECT_EQ(ws.settings.nonlinearMode(), 1) << text;
    }
}

TEST_F(NonlinearDialogTest, PaintsTheCurve)
{
    open(1);
    ws.settings.nonlinear.points[1].y = 0.3;
    QImage image(dialog->size(), QImage::Format_RGB32);
    dialog->render(&image);
    test::keepPicture(image, "nonlinear_dialog.png");
    const QRect area(dialog->editor()->mapTo(dialog.get(), QPoint(0, 0)), dialog->editor()->size());
    int yellow = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            yellow += image.pixel(x, y) == qRgb(255, 255, 34);
    EXPECT_GT(yellow, 100);
}

} // namespace
} // namespace sonavik
