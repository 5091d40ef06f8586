// The spectrogram window's repair, harmonics and snap items: what the context menu shows and what
// choosing them does, on a whistle with harmonics over a low tone.

#include "gui/spectrogram_window.h"

#include "document/workspace.h"
#include "gui/dialogs/harmonics_dialog.h"
#include "dsp/fft.h"
#include "gui/widget_test_support.h"
#include "keep_picture.h"
#include "settings/settings.h"
#include "spectrogram/spectrogram.h"
#include "spectrogram/spectrogram_analysis.h"
#include "spectrogram/spectrogram_test_support.h"
#include "support/scripted_ui.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

namespace sonavik {
namespace {

using namespace spectrogram_cmd;
using test::ScriptedUi;
using test::whenShown;

class SpectralRepairWindowTest : public ::testing::Test {
protected:
    SpectralRepairWindowTest()
    {
        // 500 Hz with harmonics at 1000, 1500 and 2000 Hz over 200 Hz, at 8000 Hz: bins 16, 32, 48, 64
        // and 6.4 of n = 256.
        ws = test::workspaceWith(test::makeDocument(16, 1, kFrames, [](std::int64_t p, int) {
            const double t = static_cast<double>(p) / 8000;
            double v = 6000 * std::sin(2 * std::numbers::pi * 200 * t);
            for (int k = 1; k <= 4; ++k)
                v += 3000 * std::sin(2 * std::numbers::pi * 500 * k * t);
            return static_cast<int>(std::lround(v));
        }, 8000));
        auto s = test::analyse(ws, ui, test::regionOf(0, 0, kFrames - 1), 256, kFftWindowHanning);
        owner = std::make_unique<QWidget>();
        window = new SpectrogramWindow(std::move(s), "[ L ]", ws, ui, owner.get());
        window->resize(560, 420);
        window->show();
        QApplication::processEvents();
    }

    Spectrogram& spectrogram() { return window->view().spectrogram(); }

    // Opens the real context menu over the selection and chooses text; returns the menu's texts as they
    // were ("-" for a separator, "*" after a ticked item).
    std::string choose(const QString& text, const char* picture = nullptr)
    {
        std::string shown;
        whenShown([&](QWidget* popup) {
            auto* menu = qobject_cast<QMenu*>(popup);
            ASSERT_NE(menu, nullptr);
            QStringList texts;
            QAction* wanted = nullptr;
            for (QAction* a : menu->actions()) {
                texts << (a->isSeparator() ? QString("-") : a->text() + (a->isChecked() ? "*" : ""));
                if (a->text() == text)
                    wanted = a;
            }
            shown = texts.join("|").toStdString();
            if (picture) {
                // The window with the menu where it opened over it.
                QImage image = window->clientPicture();
                QPainter painter(&image);
                painter.drawImage(window->canvas()->mapFromGlobal(menu->pos()), menu->grab().toImage());
                painter.end();
                test::keepPicture(image, picture);
            }
            ASSERT_NE(wanted, nullptr) << text.toStdString();
            menu->setActiveAction(wanted);
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QCursor::setPos(window->canvas()->mapToGlobal(QPoint(250, 150)));
        window->runMenu();
        QApplication::processEvents();
        return shown;
    }

    // Answers the harmonics dialog once it is up (after the menu that opened it has closed): sets the
    // count and presses OK or ｷｬﾝｾﾙ. seen is set when it was answered.
    void answerHarmonics(int count, bool ok, const char* picture = nullptr)
    {
        QTimer::singleShot(10, [=, this] {
            auto* dialog = qobject_cast<HarmonicsDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                answerHarmonics(count, ok, picture);
                return;
            }
            answered = true;
            EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("倍音も"));
            dialog->count()->setValue(count);
            if (picture)
                test::keepPicture(dialog->grab().toImage(), picture);
            for (QPushButton* b : dialog->findChildren<QPushButton*>())
                if (b->text() == (ok ? QString("OK") : QString::fromUtf8("ｷｬﾝｾﾙ")))
                    b->click();
        });
    }

    void select(int frameLo, int frameHi, int binLo, int binHi)
    {
        Spectrogram& s = spectrogram();
        s.selFrameLo = frameLo;
        s.selFrameHi = frameHi;
        s.selBinLo = binLo;
        s.selBinHi = binHi;
        window->view().render(false);
        window->canvas()->update();
    }

    static constexpr int kFrames = 8000;
    Workspace ws;
    ScriptedUi ui;
    std::unique_ptr<QWidget> owner;
    SpectrogramWindow* window = nullptr;
    bool answered = false;
};

TEST_F(SpectralRepairWindowTest, HarmonicsAreTickedShownAndTakenByTheNextEdit)
{
    // A band of bins 14 ... 18 around the 500 Hz whistle.
    select(5, 55, 14, 18);
    const std::string plain = "消去|大きさを２倍|大きさを半分|トリミング|キャンセル|-|選択範囲を再生|-|修復|倍音も|ピークに合わせる";
    // The dialog asks how many, 8 unless the settings hold another count; ｷｬﾝｾﾙ leaves both as they were.
    answerHarmonics(1, false);
    EXPECT_EQ(choose(QString::fromUtf8("倍音も"), "spectral_repair_menu.png"), plain);
    EXPECT_TRUE(answered);
    EXPECT_FALSE(window->view().harmonicsOn());
    EXPECT_EQ(harmonicCount(ws.settings), 8);
    // Two: the whistle's first two harmonics (bins 32 and 48) and not the fourth (64).
    answerHarmonics(2, true, "spectral_harmonics_dialog.png");
    choose(QString::fromUtf8("倍音も"));
    EXPECT_EQ(ws.settings.spectralHarmonics, 2);
    EXPECT_TRUE(window->view().harmonicsOn());
    test::keepPicture(window->clientPicture(), "spectral_repair_harmonics.png");
    EXPECT_EQ(choose(QString::fromUtf8("消去"), "spectral_repair_menu_ticked.png"),
              "消去|大きさを２倍|大きさを半分|トリミング|キャンセル|-|選択範囲を再生|-|修復|倍音も*|ピークに合わせる");
    EXPECT_FALSE(window->view().harmonicsOn());
    test::keepPicture(window->clientPicture(), "spectral_repair_harmonics_erased.png");
    for (int bin : {16, 32, 48})
        EXPECT_EQ(test::magnitude(spectrogram(), 30, bin), 0.0) << bin;
    EXPECT_GT(test::magnitude(spectrogram(), 30, 64), 1000.0);
    EXPECT_GT(test::magnitude(spectrogram(), 30, 6), 1000.0);
    EXPECT_GT(test::magnitude(spectrogram(), 60, 32), 1000.0);
}

TEST_F(SpectralRepairWindowTest, SnapAndRepairFromTheMenuAndNoRepairWhileAWriteBackReadsTheSpectra)
{
    // One bin off the 1000 Hz harmonic (bin 32), three bins wide.
    select(20, 30, 32 + 1, 32 + 3);
    choose(QString::fromUtf8("ピークに合わせる"));
    EXPECT_EQ(spectrogram().selBinLo, 31);
    EXPECT_EQ(spectrogram().selBinHi, 33);

    // Erased, then repaired: the harmonic comes back from the frames around.
    const double level = test::magnitude(spectrogram(), 25, 32);
    choose(QString::fromUtf8("消去"));
    EXPECT_EQ(test::magnitude(spectrogram(), 25, 32), 0.0);
    choose(QString::fromUtf8("修復"));
    EXPECT_NEAR(test::magnitude(spectrogram(), 25, 32), level, level * 0.01);

    ws.longEditRunning = true;
    const SpectrumValues spectra = spectrogram().spectra;
    choose(QString::fromUtf8("消去"));
    choose(QString::fromUtf8("修復"));
    EXPECT_EQ(spectrogram().spectra, spectra);
    EXPECT_EQ(ui.texts().size(), 2u);
    ws.longEditRunning = false;
}

} // namespace
} // namespace sonavik
