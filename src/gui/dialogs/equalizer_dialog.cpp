#include "gui/dialogs/dialog_buttons.h"
#include "gui/dialogs/equalizer_dialog.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/equalizer.h"
#include "gui/curve_editor_widget.h"
#include "gui/dialogs/preview_toggle.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace sonavik {
namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// A pair of radios "線形" / "対数" for one axis setting, checked from it and writing it.
QGroupBox* axisGroup(const char* title, QRadioButton* (&buttons)[2], std::int32_t& setting, QWidget* parent)
{
    auto* box = new QGroupBox(qs(title), parent);
    auto* row = new QHBoxLayout(box);
    auto* group = new QButtonGroup(box);
    const char* texts[2] = {"線形", "対数"};
    for (int i = 0; i < 2; ++i) {
        buttons[i] = new QRadioButton(qs(texts[i]), box);
        group->addButton(buttons[i], i);
        row->addWidget(buttons[i]);
    }
    buttons[setting == 1 ? 1 : 0]->setChecked(true);
    QObject::connect(group, &QButtonGroup::idClicked, box, [&setting](int id) { setting = id; });
    return box;
}

} // namespace

EqualizerDialog::EqualizerDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview) : QDialog(parent)
{
    setWindowTitle(qs("イコライザ"));
    setObjectName("equalizer");
    Settings& settings = ws.settings;
    // Before the editor exists: it reads the display kind and the scales when it paints.
    const int exponent = prepareEqualizerSettings(settings);
    auto rate = [&ws]() -> std::uint32_t { return ws.document.hasData() ? ws.document.format.nSamplesPerSec : 0; };

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;

    auto* sizeBox = new QGroupBox(qs("FFT サンプル数"), this);
    auto* sizeLayout = new QVBoxLayout(sizeBox);
    sizeSlider_ = new QSlider(Qt::Horizontal, sizeBox);
    sizeSlider_->setRange(kMinEqFftExponent, kMaxEqFftExponent);
    sizeSlider_->setPageStep(1);
    sizeSlider_->setSingleStep(1);
    sizeSlider_->setValue(exponent);
    sizeText_ = new QLineEdit(sizeBox);
    sizeText_->setReadOnly(true);
    // Wide enough for the longest text, so that it never scrolls.
    sizeText_->setMinimumWidth(sizeText_->fontMetrics().horizontalAdvance(qs("size= 1073741824 ( 推奨値は 8192 )")) + 16);
    auto showSize = [this, rate](std::int32_t size) {
        sizeText_->setText(QString::fromStdString(equalizerSizeText(size, rate())));
        sizeText_->setCursorPosition(0);
    };
    showSize(settings.eqFftSize());
    sizeLayout->addWidget(sizeSlider_);
    sizeLayout->addWidget(sizeText_);
    top->addWidget(sizeBox, 1);

    auto* windowBox = new QGroupBox(qs("ＦＦＴの窓"), this);
    auto* windowLayout = new QVBoxLayout(windowBox);
    auto* windowGroup = new QButtonGroup(windowBox);
    const char* windowTexts[4] = {"方形窓", "ハニング窓", "ハミング窓", "ブラッグマン窓"};
    for (int i = 0; i < 4; ++i) {
        windows_[i] = new QRadioButton(qs(windowTexts[i]), windowBox);
        windowGroup->addButton(windows_[i], i);
        windowLayout->addWidget(windows_[i]);
    }
    // 4 weighs nothing, like 0, but has no radio of its own.
    if (settings.eqWindow >= 0 && settings.eqWindow < 4)
        windows_[settings.eqWindow]->setChecked(true);
    connect(windowGroup, &QButtonGroup::idClicked, this, [&settings](int id) { settings.eqWindow = id; });
    top->addWidget(windowBox);

    auto* scales = new QVBoxLayout;
    QGroupBox* gainBox = axisGroup("縦軸の目盛り", gain_, settings.eq.verticalScale, this);
    QGroupBox* frequencyBox = axisGroup("横軸の目盛り", frequency_, settings.eq.horizontalScale, this);
    scales->addWidget(gainBox);
    scales->addWidget(frequencyBox);
    top->addLayout(scales);

    auto* buttons = new QVBoxLayout;
    reset_ = new QPushButton(qs("リセット"), this);
    greyReset_ = new QPushButton(qs("灰色の丸リセット"), this);
    for (QPushButton* b : {reset_, greyReset_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);
    top->addLayout(buttons);
    layout->addLayout(top);

    frame_ = new QFrame(this);
    frame_->setObjectName("curveFrame");
    frame_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame_->setMinimumSize(480, 320);
    // The editor covers the frame's whole inside and follows its size.
    auto* inside = new QVBoxLayout(frame_);
    inside->setContentsMargins(0, 0, 0, 0);
    editor_ = new CurveEditorWidget(settings.eq, ui, rate, frame_);
    inside->addWidget(editor_);
    layout->addWidget(frame_, 1);

    connect(sizeSlider_, &QSlider::valueChanged, this, [this, &settings, showSize](int k) {
        const std::int32_t size = std::int32_t{1} << k;
        if (settings.eqFftSize() != size) {
            settings.eqFftSize() = size;
            editor_->update();
        }
        showSize(size);
    });
    for (QRadioButton* b : {gain_[0], gain_[1], frequency_[0], frequency_[1]})
        connect(b, &QRadioButton::clicked, editor_, qOverload<>(&QWidget::update));
    connect(reset_, &QPushButton::clicked, this, [this, &settings] {
        resetEqualizerCurve(settings.eq);
        editor_->update();
    });
    connect(greyReset_, &QPushButton::clicked, this, [this, &settings] {
        resetEqualizerGreyPoints(settings.eq);
        editor_->update();
    });

    addDialogButtons(this, layout);
    preview_ = addPreviewToggle(this, layout, ws, cmd::Equalize, preview);
}

bool showEqualizerDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview)
{
    EqualizerDialog dialog(ws, ui, parent, preview);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
