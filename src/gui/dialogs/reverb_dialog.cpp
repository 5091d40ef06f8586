#include "gui/dialogs/dialog_buttons.h"
#include "gui/dialogs/reverb_dialog.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "gui/curve_editor_widget.h"
#include "gui/dialogs/preview_toggle.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace sonavik {
namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

QSlider* slider(int low, int high, int value, QWidget* parent)
{
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(low, high);
    s->setPageStep(1);
    s->setSingleStep(1);
    s->setValue(value);
    return s;
}

} // namespace

ReverbDialog::ReverbDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview) : QDialog(parent)
{
    setWindowTitle(qs("リバーブ"));
    setObjectName("reverb");
    Settings& settings = ws.settings;
    // Before the editor exists: it reads the display kind and the time step when it paints.
    prepareReverbSettings(settings);
    auto rate = [&ws]() -> std::uint32_t { return ws.document.hasData() ? ws.document.format.nSamplesPerSec : 0; };
    auto timeText = [&settings, rate] {
        return QString::fromStdString(reverbTimeText(settings.reverbTimeStep(), rate()));
    };

    auto* layout = new QVBoxLayout(this);
    auto* controls = new QGridLayout;

    auto* timeBox = new QGroupBox(qs("横軸のスケール"), this);
    auto* timeLayout = new QVBoxLayout(timeBox);
    time_ = slider(kMinReverbTimeStep, kMaxReverbTimeStep, settings.reverbTimeStep(), timeBox);
    timeText_ = new QLineEdit(timeText(), timeBox);
    timeText_->setReadOnly(true);
    // Wide enough for the longest text, so that it never scrolls.
    timeText_->setMinimumWidth(timeText_->fontMetrics().horizontalAdvance(qs("残響音の最大時間 999.9 秒")) + 16);
    timeText_->setCursorPosition(0);
    timeLayout->addWidget(time_);
    timeLayout->addWidget(timeText_);
    controls->addWidget(timeBox, 0, 0);

    auto* smoothingBox = new QGroupBox(qs("高音のヌケ"), this);
    auto* smoothingLayout = new QHBoxLayout(smoothingBox);
    smoothing_ = slider(kMinReverbSmoothing, kMaxReverbSmoothing, settings.reverbSmoothing(), smoothingBox);
    smoothingLayout->addWidget(new QLabel(qs("よくヌケるが、ノイズに弱い"), smoothingBox));
    smoothingLayout->addWidget(smoothing_, 1);
    smoothingLayout->addWidget(new QLabel(qs("音がこもるが、ノイズに強い"), smoothingBox));
    controls->addWidget(smoothingBox, 0, 1);

    auto* ratioBox = new QGroupBox(qs("リバーブをかける割合"), this);
    auto* ratioLayout = new QHBoxLayout(ratioBox);
    ratio_ = slider(0, kMaxReverbRatio, settings.reverbRatio(), ratioBox);
    ratio_->setMinimumWidth(160);
    ratioEdit_ = new QLineEdit(QString::number(settings.reverbRatio()), ratioBox);
    ratioEdit_->setMaximumWidth(60);
    ratioLayout->addWidget(ratio_, 1);
    ratioLayout->addWidget(ratioEdit_);
    ratioLayout->addWidget(new QLabel(qs("％"), ratioBox));
    controls->addWidget(ratioBox, 1, 0);

    auto* presetBox = new QGroupBox(qs("いくつかの例"), this);
    auto* presetLayout = new QHBoxLayout(presetBox);
    for (int i = 0; i < kReverbPresetCount; ++i) {
        presets_[i] = new QPushButton(qs(reverbPresetText(static_cast<ReverbPreset>(i))), presetBox);
        presets_[i]->setAutoDefault(false);
        presetLayout->addWidget(presets_[i]);
    }
    controls->addWidget(presetBox, 1, 1);
    layout->addLayout(controls);

    frame_ = new QFrame(this);
    frame_->setObjectName("curveFrame");
    frame_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame_->setMinimumSize(480, 300);
    auto* inside = new QVBoxLayout(frame_);
    inside->setContentsMargins(0, 0, 0, 0);
    editor_ = new CurveEditorWidget(settings.reverb, ui, rate, frame_);
    inside->addWidget(editor_);
    layout->addWidget(frame_, 1);

    connect(smoothing_, &QSlider::valueChanged, this, [&settings](int v) { settings.reverbSmoothing() = v; });
    connect(ratio_, &QSlider::valueChanged, this, [this, &settings](int v) {
        settings.reverbRatio() = v;
        ratioEdit_->setText(QString::number(v));
    });
    // Typing stores the number as it stands, unlimited; the slider stays where it is.
    connect(ratioEdit_, &QLineEdit::textEdited, this,
            [&settings](const QString& text) { settings.reverbRatio() = parseRatioText(text.toStdString()); });
    connect(time_, &QSlider::valueChanged, this, [this, &settings, timeText](int v) {
        if (settings.reverbTimeStep() == v)
            return;
        settings.reverbTimeStep() = v;
        timeText_->setText(timeText());
        timeText_->setCursorPosition(0);
        editor_->update();
    });
    for (int i = 0; i < kReverbPresetCount; ++i)
        connect(presets_[i], &QPushButton::clicked, this, [this, i, &settings, rate, timeText] {
            applyReverbPreset(settings, static_cast<ReverbPreset>(i), rate());
            time_->setValue(settings.reverbTimeStep());
            smoothing_->setValue(settings.reverbSmoothing());
            ratio_->setValue(settings.reverbRatio());
            ratioEdit_->setText(QString::number(settings.reverbRatio()));
            timeText_->setText(timeText());
            timeText_->setCursorPosition(0);
            editor_->update();
        });

    addDialogButtons(this, layout);
    preview_ = addPreviewToggle(this, layout, ws, cmd::Reverb, preview);
}

bool showReverbDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview)
{
    ReverbDialog dialog(ws, ui, parent, preview);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
