#include "gui/main_window.h"

#include "app/main_menu.h"
#include "document/selection.h"
#include "document/workspace.h"
#include "gui/dialogs/parameter_dialog.h"
#include "gui/dialogs/target_dialog.h"
#include "gui/wave_view.h"
#include "settings/settings.h"
#include "gui/widget_test_support.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::whenShown;
using test::TempDir;


// Chooses the entry with the given text in an open popup menu (looking into submenus).
void chooseInMenu(QWidget* popup, const QString& text)
{
    auto* menu = qobject_cast<QMenu*>(popup);
    ASSERT_NE(menu, nullptr);
    for (QAction* a : menu->actions()) {
        if (a->text() == text) {
            menu->setActiveAction(a);
            QTest::keyClick(menu, Qt::Key_Return);
            return;
        }
        if (a->menu()) {
            for (QAction* sub : a->menu()->actions()) {
                if (sub->text() == text) {
                    // Open the submenu with the keyboard and choose in it, as a user would.
                    menu->setActiveAction(a);
                    QTest::keyClick(menu, Qt::Key_Right);
                    a->menu()->setActiveAction(sub);
                    QTest::keyClick(a->menu(), Qt::Key_Return);
                    return;
                }
            }
        }
    }
    FAIL() << "no entry " << text.toStdString();
}

class EditFlowTest : public ::testing::Test {
protected:
    EditFlowTest()
    {
        applyDefaultSettings(ws.settings);
        window = std::make_unique<MainWindow>(ws, &ui);
        ui.setWindow(&window->qtUi());
        window->show();
        QApplication::processEvents();
    }

    void open(const test::Bytes& bytes)
    {
        const std::string path = dir.file("in.wav");
        test::writeBytes(path, bytes);
        ui.fileAnswers.push_back(path);
        window->controller().command(cmd::Open);
        QApplication::processEvents();
    }

    // Long edits run on worker threads while the window goes on; this waits for one to be finished.
    void waitForLongEdit()
    {
        for (int i = 0; i < 60000 && window->longEditRunning(); ++i) {
            QApplication::processEvents();
            QThread::msleep(1);
        }
        ASSERT_FALSE(window->longEditRunning());
    }

    QAction* menuAction(int id) { return test::menuActionOf(window.get(), id); }

    std::int16_t sample(int frame, int channel)
    {
        const unsigned char* p = ws.document.samples.data() + (frame * ws.document.format.nChannels + channel) * 2;
        return static_cast<std::int16_t>(p[0] | (p[1] << 8));
    }

    TempDir dir;
    Workspace ws;
    ScriptedUi ui;
    std::unique_ptr<MainWindow> window;
};

TEST_F(EditFlowTest, TargetDialogOffersOnlyLeftChoicesForMonoAndStoresClicks)
{
    open(test::rampWav16(1, 100, 1000));
    ws.settings.processingTarget = 3;
    TargetDialog dialog(ws, window.get());
    EXPECT_EQ(ws.settings.processingTarget, 6);
    EXPECT_TRUE(dialog.button(6)->isChecked());
    for (int code : {0, 2, 3, 4, 5, 9, 10, 11, 12})
        EXPECT_FALSE(dialog.button(code)->isEnabled()) << code;
    for (int code : {1, 6, 7, 8})
        EXPECT_TRUE(dialog.button(code)->isEnabled()) << code;
    EXPECT_EQ(dialog.button(12)->text(), QString::fromUtf8("赤選択"));
    dialog.button(7)->click();
    dialog.reject();
    EXPECT_EQ(ws.settings.processingTarget, 7) << "a click before cancelling stays stored";
}

TEST_F(EditFlowTest, ParameterDialogStoresAsTypedAndEscapeKeepsIt)
{
    Selection s;
    s.shape = SelectionShape::Cos;
    ParameterDialog dialog(s, window.get());
    EXPECT_EQ(dialog.field()->text(), QString("1.000000"));
    dialog.field()->clear();
    QTest::keyClicks(dialog.field(), "2.5");
    EXPECT_DOUBLE_EQ(s.shapeParameter, 2.5);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_DOUBLE_EQ(s.shapeParameter, 2.5);
}

TEST_F(EditFlowTest, MenuBarEditAsksForTheTargetThenEditsAndUndoes)
{
    open(test::rampWav16(2, 100, 1000));
    ws.settings.processingTarget = 1;  // the whole left channel
    whenShown([](QWidget* w) { qobject_cast<QDialog*>(w)->accept(); });
    menuAction(cmd::Invert)->trigger();
    EXPECT_EQ(sample(0, 0), -1000);
    EXPECT_EQ(sample(0, 1), 1001) << "the right channel is not the target";
    EXPECT_TRUE(window->windowTitle().contains(" * 0 +")) << window->windowTitle().toStdString();

    // Cancelling the target dialog runs nothing.
    whenShown([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    menuAction(cmd::Silence)->trigger();
    EXPECT_EQ(sample(0, 0), -1000);

    menuAction(cmd::Undo)->trigger();
    EXPECT_EQ(sample(0, 0), 1000);
    menuAction(cmd::Undo)->trigger();
    EXPECT_EQ(sample(0, 0), -1000) << "undo again is redo";
}

TEST_F(EditFlowTest, RedSelectionMenuConvertsAndEdits)
{
    open(test::rampWav16(2, 1000, 100));
    QWidget* canvas = window->waveView(0)->canvas();
    QTest::mousePress(canvas, Qt::LeftButton, {}, {64 + 10, 20});
    QTest::mouseMove(canvas, {64 + 30, 20});
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, {64 + 30, 20});
    ASSERT_TRUE(ws.red.exists());
    const int start = ws.red.redStart;

    whenShown([](QWidget* w) { chooseInMenu(w, QString::fromUtf8("この赤選択を緑選択に移す")); });
    QTest::mousePress(canvas, Qt::RightButton, {}, {64 + 20, 20});
    QTest::mouseRelease(canvas, Qt::RightButton, {}, {64 + 20, 20});
    EXPECT_EQ(ws.document.leftSelections[0].kind, SelectionKind::Green);
    EXPECT_EQ(ws.document.leftSelections[0].start, start);

    whenShown([](QWidget* w) { chooseInMenu(w, QString::fromUtf8("無音")); });
    QTest::mousePress(canvas, Qt::RightButton, {}, {64 + 20, 20});
    QTest::mouseRelease(canvas, Qt::RightButton, {}, {64 + 20, 20});
    EXPECT_EQ(sample(start, 0), 0);
    EXPECT_NE(sample(start, 1), 0);
    EXPECT_NE(sample(0, 0), 0);
}

TEST_F(EditFlowTest, SelectionMenuDeletesAndSetsTheShape)
{
    open(test::rampWav16(1, 1000, 100));
    ScriptedUi quiet;
    addSelection(quiet, ws.document.leftSelections, 200, 599, SelectionShape::Linear, 1, 1, 1, SelectionKind::Blue);
    window->views().render(0);
    QWidget* canvas = window->waveView(0)->canvas();
    const int bandRow = canvas->height() - 64 + 10;
    const int column = 64 + static_cast<int>(400 * ws.document.leftView.sx);

    whenShown([](QWidget* w) { chooseInMenu(w, QString::fromUtf8("階段型")); });
    QTest::mousePress(canvas, Qt::RightButton, {}, {column, bandRow});
    QTest::mouseRelease(canvas, Qt::RightButton, {}, {column, bandRow});
    EXPECT_EQ(ws.document.leftSelections[0].shape, SelectionShape::Staircase);
    EXPECT_DOUBLE_EQ(ws.document.leftSelections[0].shapeParameter, 10.0);

    whenShown([](QWidget* w) { chooseInMenu(w, QString::fromUtf8("青 1 番を消去")); });
    QTest::mousePress(canvas, Qt::RightButton, {}, {column, bandRow});
    QTest::mouseRelease(canvas, Qt::RightButton, {}, {column, bandRow});
    EXPECT_EQ(ws.document.leftSelections[0].kind, SelectionKind::None);
}

TEST_F(EditFlowTest, EqualiserRunsFromTheMenuThroughItsDialog)
{
    // A second of a quiet sine in both channels.
    test::Bytes data;
    for (int i = 0; i < 8000; ++i) {
        const auto v = static_cast<std::int16_t>(std::lround(1000 * std::sin(i * 0.3)));
        for (int c = 0; c < 2; ++c) {
            data.push_back(static_cast<unsigned char>(v));
            data.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(v) >> 8));
        }
    }
    open(test::canonicalWav(2, 8000, 16, data));
    ws.settings.processingTarget = 1;
    ws.settings.eqFftSize() = 1024;
    ws.settings.eqGainLog() = 1;
    // One point at the top edge: every band but DC raised tenfold.
    ws.settings.eq.points[0] = {1, 0, 0.5, 0.0, 0.5, 0.0};

    std::string dialogTitle;
    whenShown([&dialogTitle](QWidget* target) {
        whenShown([&dialogTitle](QWidget* eq) {
            dialogTitle = eq->windowTitle().toStdString();
            qobject_cast<QDialog*>(eq)->accept();
        });
        qobject_cast<QDialog*>(target)->accept();
    });
    menuAction(cmd::Equalize)->trigger();
    waitForLongEdit();
    EXPECT_EQ(dialogTitle, "イコライザ");
    int louder = 0;
    for (int frame = 2000; frame < 6000; ++frame)
        louder += std::abs(sample(frame, 0)) > 2000 ? 1 : 0;
    EXPECT_GT(louder, 1000) << "the left channel got its boost";
    EXPECT_LE(std::abs(sample(3000, 1)), 1000) << "the right channel was not the target";
    EXPECT_EQ(ui.statusText[1], "処理中： イコライザ ( 完了 )");

    menuAction(cmd::Undo)->trigger();
    EXPECT_LE(std::abs(sample(3000, 0)), 1000);
}

} // namespace
} // namespace sonavik
