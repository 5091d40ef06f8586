// What desktop users expect of the main window beyond the program's own texts, and a window placed
// from a settings file that fits no screen.

#include "gui/buttons.h"
#include "gui/japanese_texts.h"
#include "gui/keep_picture.h"
#include "gui/main_window.h"
#include "gui/wave_view.h"

#include "app/main_menu.h"
#include "document/workspace.h"
#include "settings/settings.h"
#include "gui/widget_test_support.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <QWheelEvent>
#include <QLocale>
#include <QMimeDatabase>
#include <QTranslator>

#include <gtest/gtest.h>

#include <climits>

namespace sonavik {
namespace {

using test::ScriptedUi;
using test::TempDir;

class DesktopHabitsTest : public ::testing::Test {
protected:
    DesktopHabitsTest()
    {
        applyDefaultSettings(ws.settings);
        setFieldText(ws.settings.openDir, dir.path());
        setFieldText(ws.settings.saveDir, dir.path());
    }

    QAction* menuAction(int id) { return test::menuActionOf(window.get(), id); }

    void drop(const QString& path)
    {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent event(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &event);
    }

    TempDir dir;
    Workspace ws;
    ScriptedUi ui;
    std::unique_ptr<MainWindow> window;
};

TEST_F(DesktopHabitsTest, ShortcutsBesideUnchangedTextsAndTooltipsOnEveryButton)
{
    window = std::make_unique<MainWindow>(ws, &ui);
    const std::pair<int, const char*> shortcuts[] = {
        {cmd::Open, "Ctrl+O"}, {cmd::Save, "Ctrl+S"}, {cmd::SaveAs, "Ctrl+Shift+S"},
        {cmd::Close, "Ctrl+W"}, {cmd::Exit, "Ctrl+Q"}, {cmd::Undo, "Ctrl+Z"},
    };
    for (auto [id, keys] : shortcuts) {
        QAction* action = menuAction(id);
        ASSERT_NE(action, nullptr) << id;
        EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(keys))) << id;
        EXPECT_FALSE(action->text().contains('&')) << id;
    }
    EXPECT_TRUE(menuAction(cmd::Reverse)->shortcut().isEmpty());
    if (auto* fileMenu = qobject_cast<QMenu*>(menuAction(cmd::Open)->parent())) {
        fileMenu->adjustSize();
        test::keepPicture(fileMenu->grab().toImage(), "file-menu-shortcuts.png");
    }

    ui.setWindow(&window->qtUi());
    test::writeBytes(dir.file("s.wav"), test::rampWav16(2, 100));
    window->controller().openPath(dir.file("s.wav"));
    QStringList tips;
    for (int i = 0; i < kBigButtonCount; ++i)
        tips << window->bigButton(i)->toolTip();
    for (int channel = 0; channel < 2; ++channel)
        for (int i = 0; i < 6; ++i)
            tips << window->smallButton(channel, i)->toolTip();
    ASSERT_EQ(tips.size(), 18);
    for (const QString& tip : tips)
        EXPECT_FALSE(tip.isEmpty());
    EXPECT_EQ(tips[0], QString::fromUtf8("WAV ファイルを開きます"));
    EXPECT_EQ(tips[6], tips[12]) << "the right view's fit button says what the left one says";
}

// Qt's own dialogs speak Japanese whatever the machine's locale: its translations, and the default
// locale that names file types.
TEST(JapaneseQtTexts, QtsOwnWordsAreJapanese)
{
    const QString unknownInC = QMimeDatabase().mimeTypeForName("application/octet-stream").comment();
    QTranslator texts;
    useJapaneseQtTexts(texts);
    EXPECT_EQ(QLocale().language(), QLocale::Japanese);
    EXPECT_EQ(QCoreApplication::translate("QFileSystemModel", "Name"), QString::fromUtf8("名前"));
    EXPECT_NE(QMimeDatabase().mimeTypeForName("application/octet-stream").comment(), unknownInC);
    QApplication::removeTranslator(&texts);
    QLocale::setDefault(QLocale::c());
}

// A dropped .wav opens like "開く": the changed sound is offered for saving first.
TEST_F(DesktopHabitsTest, ADroppedWavFileOpensAfterTheSaveQuestion)
{
    window = std::make_unique<MainWindow>(ws, &ui);
    ui.setWindow(&window->qtUi());
    test::writeBytes(dir.file("a.wav"), test::rampWav16(1, 100));
    test::writeBytes(dir.file("b.WAV"), test::rampWav16(2, 50));
    test::writeBytes(dir.file("c.txt"), {1, 2, 3});
    window->controller().openPath(dir.file("a.wav"));
    ws.document.modified = 1;

    drop(QString::fromStdString(dir.file("c.txt")));
    EXPECT_EQ(ws.document.path, dir.file("a.wav")) << "only WAV files are taken";
    EXPECT_TRUE(ui.messages.empty());

    ui.answers = {MessageAnswer::No};
    drop(QString::fromStdString(dir.file("b.WAV")));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("は変更されています。"), std::string::npos);
    EXPECT_EQ(ws.document.path, dir.file("b.WAV"));
    EXPECT_EQ(ws.document.format.nChannels, 2);
}

TEST_F(DesktopHabitsTest, WheelScrollsAndZoomsTheViewUnderThePointer)
{
    window = std::make_unique<MainWindow>(ws, &ui);
    window->show();
    test::writeBytes(dir.file("s.wav"), test::rampWav16(1, 20000));
    window->controller().openPath(dir.file("s.wav"));
    QWidget* canvas = window->waveView(0)->canvas();
    auto turn = [&](int delta, Qt::KeyboardModifiers keys) {
        QWheelEvent event(QPointF(ws.settings.leftMarginWidth + 10, 10), canvas->mapToGlobal(QPointF(10, 10)),
                          QPoint(), QPoint(0, delta), Qt::NoButton, keys, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &event);
    };
    const ViewState fitted = ws.document.leftView;
    turn(120, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, 2 * fitted.sx);
    turn(-120, Qt::NoModifier);
    EXPECT_GT(ws.document.leftView.x0, 0.0);
    turn(-120 * 5, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sx, fitted.sx) << "no further out than the whole sound";
    EXPECT_EQ(ws.document.leftView.x0, 0.0);
    turn(60, Qt::ShiftModifier);
    EXPECT_EQ(ws.document.leftView.sy, fitted.sy) << "half a notch waits for the other half";
    turn(60, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(ws.document.leftView.sy, 2 * fitted.sy);
}

// Settings that put the window far off every screen, or ask for more than a screen, give a window
// on the screen, no larger than its available area.
TEST_F(DesktopHabitsTest, AWindowFromExtremeSettingsLandsOnTheScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const std::pair<int, int> positions[] = {{100000, 100000}, {-100000, -50}, {INT_MIN, INT_MAX}};
    for (auto [x, y] : positions) {
        SCOPED_TRACE(testing::Message() << x << ", " << y);
        ws.settings.windowX = x;
        ws.settings.windowY = y;
        ws.settings.clientWidth = 16384;
        ws.settings.clientHeight = 16384;
        window = std::make_unique<MainWindow>(ws, &ui);
        EXPECT_LE(window->width(), screen.width());
        EXPECT_LE(window->height(), screen.height());
        EXPECT_TRUE(screen.intersects(QRect(window->pos(), window->size())));
        EXPECT_GE(window->y(), screen.y());
    }
}

} // namespace
} // namespace sonavik
