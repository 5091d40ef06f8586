#include "gui/dialogs/equalizer_dialog.h"
#include "gui/dialogs/reverb_dialog.h"

#include "document/workspace.h"
#include "gui/curve_editor_widget.h"
#include "support/scripted_ui.h"
#include "views/test_documents.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "keep_picture.h"

#include <gtest/gtest.h>

namespace sonavik {
namespace {

using test::ScriptedUi;

Workspace workspaceAt(std::uint32_t rate)
{
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.document = test::makeDocument(16, 1, 100, [](std::int64_t, int) { return 0; }, rate);
    return ws;
}

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// Renders the dialog into a file under /tmp for a look: the curve editor paints its black background
// over the whole frame.
void expectEditorFillsFrame(QDialog& dialog, QFrame* frame, const char* file)
{
    dialog.show();
    QApplication::processEvents();
    QImage image(dialog.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    dialog.render(&image);
    test::keepPicture(image, file);
    const QRect inside(frame->mapTo(&dialog, QPoint(0, 0)), frame->size());
    EXPECT_EQ(image.pixel(inside.right() - 8, inside.bottom() - 8), qRgb(0, 0, 0));
    EXPECT_EQ(image.pixel(inside.left() + 8, inside.top() + 8), qRgb(0, 0, 0));
    EXPECT_GE(frame->width(), 480);
}

QPushButton* dialogButton(QDialog& dialog, const char* text)
{
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        if (b->text() == qs(text))
            return b;
    return nullptr;
}

TEST(EqualizerDialog, OpeningRepairsDamagedSettingsAndShowsThem)
{
    Workspace ws = workspaceAt(44100);
    ws.settings.eqFftSize() = 3000;
    ws.settings.eqGainLog() = 5;
    ws.settings.eqFrequencyLog() = 1;
    ws.settings.eqWindow = 2;
    ws.settings.eq.displayKind = 0;
    ScriptedUi ui;
    EqualizerDialog dialog(ws, ui, nullptr);
    EXPECT_EQ(dialog.windowTitle(), qs("イコライザ"));
    EXPECT_EQ(ws.settings.eqFftSize(), 4096);
    EXPECT_EQ(ws.settings.eqGainLog(), 0);
    EXPECT_EQ(ws.settings.eq.displayKind, 1);
    EXPECT_EQ(dialog.sizeSlider()->minimum(), 4);
    EXPECT_EQ(dialog.sizeSlider()->maximum(), 30);
    EXPECT_EQ(dialog.sizeSlider()->pageStep(), 1);
    EXPECT_EQ(dialog.sizeSlider()->value(), 12);
    EXPECT_EQ(dialog.sizeText()->text(), qs("size= 4096 ( 推奨値は 8192 )"));
    EXPECT_TRUE(dialog.sizeText()->isReadOnly());
    EXPECT_TRUE(dialog.windowButton(2)->isChecked());
    EXPECT_TRUE(dialog.gainButton(0)->isChecked());
    EXPECT_TRUE(dialog.frequencyButton(1)->isChecked());
    const char* windows[] = {"方形窓", "ハニング窓", "ハミング窓", "ブラッグマン窓"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(dialog.windowButton(i)->text(), qs(windows[i]));
    for (const char* text : {"リセット", "灰色の丸リセット", "OK", "ｷｬﾝｾﾙ"})
        EXPECT_NE(dialogButton(dialog, text), nullptr) << text;
    expectEditorFillsFrame(dialog, dialog.frame(), "equalizer_dialog.png");

    // The window value 4 has no radio: none is checked.
    ws.settings.eqWindow = 4;
    EqualizerDialog other(ws, ui, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(other.windowButton(i)->isChecked());
    EXPECT_EQ(ws.settings.eqWindow, 4);
}

TEST(EqualizerDialog, ControlsWriteTheSettingsAtOnce)
{
    Workspace ws = workspaceAt(11025);
    ScriptedUi ui;
    EqualizerDialog dialog(ws, ui, nullptr);
    dialog.sizeSlider()->setValue(14);
    EXPECT_EQ(ws.settings.eqFftSize(), 16384);
    EXPECT_EQ(dialog.sizeText()->text(), qs("size= 16384 ( 推奨値は 2048 )"));
    dialog.sizeSlider()->setValue(30);
    EXPECT_EQ(ws.settings.eqFftSize(), 1 << 30);

    dialog.windowButton(3)->click();
    EXPECT_EQ(ws.settings.eqWindow, 3);
    dialog.windowButton(0)->click();
    EXPECT_EQ(ws.settings.eqWindow, 0);
    dialog.gainButton(0)->click();
    EXPECT_EQ(ws.settings.eqGainLog(), 0);
    dialog.frequencyButton(0)->click();
    EXPECT_EQ(ws.settings.eqFrequencyLog(), 0);
    dialog.gainButton(1)->click();
    EXPECT_EQ(ws.settings.eqGainLog(), 1);

    CurvePoint& p = ws.settings.eq.points[0];
    p = CurvePoint{1, 0, 0.2, 0.1, 0.3, 0.9};
    dialog.greyResetButton()->click();
    EXPECT_EQ(p.yGray, 0.5);
    EXPECT_EQ(p.y, 0.9);
    dialog.resetButton()->click();
    EXPECT_EQ(p.state, 0);
}

TEST(EqualizerDialog, OkAndCancel)
{
    for (const char* text : {"OK", "ｷｬﾝｾﾙ"}) {
        Workspace ws = workspaceAt(44100);
        ScriptedUi ui;
        QTimer::singleShot(0, [text] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            dialogButton(*dialog, text)->click();
        });
        EXPECT_EQ(showEqualizerDialog(ws, ui, nullptr), std::string(text) == "OK");
    }
}

TEST(ReverbDialog, OpeningLimitsTheValuesAndShowsThem)
{
    Workspace ws = workspaceAt(44100);
    ws.settings.reverbTimeStep() = 12;
    ws.settings.reverbRatio() = 140;
    ws.settings.reverbSmoothing() = -2;
    ws.settings.reverb.displayKind = 1;
    ScriptedUi ui;
    ReverbDialog dialog(ws, ui, nullptr);
    EXPECT_EQ(dialog.windowTitle(), qs("リバーブ"));
    EXPECT_EQ(ws.settings.reverbTimeStep(), 8);
    EXPECT_EQ(ws.settings.reverbRatio(), 100);
    EXPECT_EQ(ws.settings.reverbSmoothing(), 1);
    EXPECT_EQ(ws.settings.reverb.displayKind, 3);
    struct Range {
        QSlider* slider;
        int low, high, value;
    };
    for (const Range& r : {Range{dialog.timeSlider(), 1, 8, 8}, Range{dialog.smoothingSlider(), 1, 16, 1},
                           Range{dialog.ratioSlider(), 0, 100, 100}}) {
        EXPECT_EQ(r.slider->minimum(), r.low);
        EXPECT_EQ(r.slider->maximum(), r.high);
        EXPECT_EQ(r.slider->value(), r.value);
        EXPECT_EQ(r.slider->pageStep(), 1);
    }
    EXPECT_EQ(dialog.ratioEdit()->text(), "100");
    EXPECT_EQ(dialog.timeText()->text(), qs("残響音の最大時間 11.9 秒"));
    const char* presets[] = {"リセット", "大ホール", "風呂場", "夢の中", "やまびこ", "スタジオ"};
    for (int i = 0; i < kReverbPresetCount; ++i)
        EXPECT_EQ(dialog.presetButton(static_cast<ReverbPreset>(i))->text(), qs(presets[i]));
    dialog.presetButton(ReverbPreset::Echo)->click();
    expectEditorFillsFrame(dialog, dialog.frame(), "reverb_dialog.png");
}

TEST(ReverbDialog, SlidersEditAndPresets)
{
    Workspace ws = workspaceAt(44100);
    ScriptedUi ui;
    ReverbDialog dialog(ws, ui, nullptr);
    dialog.smoothingSlider()->setValue(9);
    EXPECT_EQ(ws.settings.reverbSmoothing(), 9);
    dialog.ratioSlider()->setValue(64);
    EXPECT_EQ(ws.settings.reverbRatio(), 64);
    EXPECT_EQ(dialog.ratioEdit()->text(), "64");
    dialog.timeSlider()->setValue(1);
    EXPECT_EQ(ws.settings.reverbTimeStep(), 1);
    EXPECT_EQ(dialog.timeText()->text(), qs("残響音の最大時間 0.1 秒"));

    // Typed numbers are stored unlimited; the slider stays.
    dialog.ratioEdit()->selectAll();
    QTest::keyClicks(dialog.ratioEdit(), "150");
    EXPECT_EQ(ws.settings.reverbRatio(), 150);
    EXPECT_EQ(dialog.ratioSlider()->value(), 64);

    dialog.presetButton(ReverbPreset::Echo)->click();
    EXPECT_EQ(ws.settings.reverbTimeStep(), 7);
    EXPECT_EQ(ws.settings.reverbRatio(), 10);
    EXPECT_EQ(ws.settings.reverbSmoothing(), 12);
    EXPECT_EQ(dialog.timeSlider()->value(), 7);
    EXPECT_EQ(dialog.ratioSlider()->value(), 10);
    EXPECT_EQ(dialog.smoothingSlider()->value(), 12);
    EXPECT_EQ(dialog.ratioEdit()->text(), "10");
    EXPECT_EQ(dialog.timeText()->text(), qs("残響音の最大時間 5.9 秒"));
    EXPECT_EQ(ws.settings.reverb.points[8].state, 1);
    EXPECT_EQ(ws.settings.reverb.points[9].state, 0);

    Workspace slow = workspaceAt(22050);
    ReverbDialog other(slow, ui, nullptr);
    other.presetButton(ReverbPreset::LargeHall)->click();
    EXPECT_EQ(other.timeSlider()->value(), 5);
    EXPECT_EQ(other.ratioEdit()->text(), "47");
    EXPECT_EQ(other.timeText()->text(), qs("残響音の最大時間 3.0 秒"));
}

} // namespace
} // namespace sonavik
