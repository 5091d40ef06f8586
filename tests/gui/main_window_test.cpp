#include "gui/main_window.h"

#include "edit/edit_dispatcher.h"
#include "gui/history_window.h"
#include "history/edit_history.h"

#include "app/main_menu.h"
#include "document/workspace.h"
#include "settings/settings.h"
#include "gui/widget_test_support.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::TempDir;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest()
    {
        applyDefaultSettings(ws.settings);
        setFieldText(ws.settings.openDir, dir.path());
        setFieldText(ws.settings.saveDir, dir.path());
    }

    QAction* menuAction(int id) { return test::menuActionOf(window.get(), id); }

    TempDir dir;
    Workspace ws;
    ScriptedUi ui;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, MenusCarryTheTextsInOrder)
{
    window = std::make_unique<MainWindow>(ws, &ui);
    QStringList seen;
    for (QAction* top : window->menuBar()->actions()) {
        seen << top->text();
        for (QAction* a : top->menu()->actions())
            seen << (a->isSeparator() ? QString("-") : a->text());
    }
    QStringList expected;
    for (const Menu& menu : mainMenu()) {
        expected << QString::fromUtf8(menu.title);
        for (const MenuItem& item : menu.items)
            expected << (item.id == 0 ? QString("-") : QString::fromUtf8(item.text));
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(seen.first(), QString::fromUtf8("ファイル"));
    EXPECT_EQ(window->statusLabel(0)->text(), QString("Sonavik 2"));
}

TEST_F(MainWindowTest, OpensThroughTheMenuShowsTheTitleAndAsksBeforeClosing)
{
    window = std::make_unique<MainWindow>(ws, &ui);
    ui.setWindow(&window->qtUi());
    window->controller().refreshTitle();
    window->show();
    EXPECT_EQ(window->windowTitle(), QString("Sonavik 2 - No Data - 0 -"));

    const std::string path = dir.file("x.wav");
    test::writeBytes(path, test::rampWav16(2, 500));
    ui.fileAnswers.push_back(path);
    menuAction(cmd::Open)->trigger();
    EXPECT_EQ(window->windowTitle().toStdString(), "Sonavik 2 - \"" + path + "\" - 0 -");
    EXPECT_TRUE(window->documentButtonsEnabled());
    ASSERT_TRUE(window->viewClientSize(1).has_value()) << "a stereo sound shows the right view";
    EXPECT_GT(window->viewClientSize(0)->height, 0);

    // A changed sound makes closing the window ask twice when the save is cancelled.
    ws.document.modified = 1;
    ui.answers = {MessageAnswer::Yes, MessageAnswer::No};
    window->close();
    EXPECT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.saveDialogs.size(), 1u);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, ResizingStoresTheClientSizeInTheSettings)
{
    window = std::make_unique<MainWindow>(ws, &ui);
    window->show();
    window->resize(700, 500);
    QApplication::processEvents();
    EXPECT_EQ(ws.settings.clientWidth, 700);
    EXPECT_EQ(ws.settings.clientHeight, 500 - window->menuBar()->sizeHint().height());
}

TEST(Screenshot, WritesAPictureAndPrintsTheTitleWithoutADisplay)
{
    TempDir dir;
    const std::string wav = dir.file("s.wav");
    test::writeBytes(wav, test::rampWav16(1, 100));
    const std::string png = dir.file("w.png");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(SONAVIK_GUI_PATH, {"--screenshot", QString::fromStdString(png), QString::fromStdString(wav)});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()).trimmed().toStdString(),
              "Sonavik 2 - \"" + wav + "\" - 0 -");
    QImage image(QString::fromStdString(png));
    EXPECT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 100);
}

// 編集履歴... (Ctrl+H) lists the states with the current one marked; Home and Enter make the document
// the sound as opened, which is added as a change of its own and shown at once.
TEST_F(MainWindowTest, TheHistoryWindowListsEveryStateAndGoesBackOnEnter)
{
    window = std::make_unique<MainWindow>(ws, &ui);
    ui.setWindow(&window->qtUi());
    window->controller().startHistory(dir.file("sessions/"));
    window->show();
    ui.fileAnswers.push_back(dir.file("x.wav"));
    test::writeBytes(dir.file("x.wav"), test::rampWav16(1, 800, -400));
    menuAction(cmd::Open)->trigger();
    const std::vector<unsigned char> opened(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount());
    ASSERT_TRUE(runEditCommand(ws, ui, *window, cmd::Halve, 1, 0));
    ws.red = RedSelection{10, 19, 0};
    ASSERT_TRUE(runEditCommand(ws, ui, *window, cmd::Invert, 12, 0));
    EXPECT_EQ(menuAction(cmd::History)->shortcut(), QKeySequence("Ctrl+H"));
    menuAction(cmd::History)->trigger();
    auto* history = window->findChild<HistoryWindow*>();
    ASSERT_TRUE(history);
    EXPECT_TRUE(history->windowFlags() & Qt::Tool);
    QListWidget* list = history->list();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text().toStdString().rfind("　 開いた時  ", 0), 0u) << list->item(0)->text().toStdString();
    EXPECT_EQ(list->item(1)->text().toStdString().rfind("　 1  振幅を半減  左の全て  ", 0), 0u) << list->item(1)->text().toStdString();
    EXPECT_EQ(list->item(2)->text().toStdString().rfind("▶ 2  逆相  赤選択 10～19  ", 0), 0u) << list->item(2)->text().toStdString();
    EXPECT_EQ(list->currentRow(), 2);

    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(std::vector<unsigned char>(ws.document.samples.data(), ws.document.samples.data() + ws.document.byteCount()), opened);
    ASSERT_EQ(list->count(), 4);
    EXPECT_NE(list->item(3)->text().toStdString().find("状態 0 に戻す"), std::string::npos);
    EXPECT_EQ(list->currentRow(), 3);
    EXPECT_NE(window->windowTitle().toStdString().find(" * "), std::string::npos) << window->windowTitle().toStdString();

    // "履歴の上限": 0 shows as "自動"; a value entered goes to the settings.
    QSpinBox* limit = history->limitBox();
    EXPECT_EQ(limit->text(), QString::fromUtf8("自動"));
    limit->setValue(64);
    EXPECT_EQ(ws.settings.historyLimitMiB, 64);
    EXPECT_EQ(list->count(), 4);
}

} // namespace
} // namespace sonavik
