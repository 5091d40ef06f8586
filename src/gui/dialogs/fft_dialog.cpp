#include "gui/dialogs/dialog_buttons.h"
#include "gui/dialogs/fft_dialog.h"

#include "document/workspace.h"
#include "spectrogram/spectrogram_analysis.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace sonavik {

FftDialog::FftDialog(Workspace& ws, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8("FFT の方法"));
    setObjectName("fft-settings");
    Settings& settings = ws.settings;
    normaliseFftSettings(settings);
    const std::uint32_t rate = ws.document.hasData() ? ws.document.format.nSamplesPerSec : 0;

    auto* layout = new QVBoxLayout(this);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(4, 30);
    slider_->setPageStep(1);
    slider_->setSingleStep(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(1);
    slider_->setMinimumWidth(260);
    readout_ = new QLineEdit(this);
    readout_->setReadOnly(true);
    layout->addWidget(slider_);
    layout->addWidget(readout_);

    auto store = [this, &settings, rate](int exponent) {
        settings.fftLength = std::int32_t{1} << exponent;
        readout_->setText(QString::fromStdString(fftSettingsText(settings.fftLength, rate)));
    };
    connect(slider_, &QSlider::valueChanged, this, store);
    slider_->setValue(fftLengthExponent(settings.fftLength));
    // The text is there from the start, whatever the slider's first position was.
    store(slider_->value());

    alpha_ = new QCheckBox(QString::fromUtf8("αチャンネルの値を音量に適用してから FFT"), this);
    alpha_->setChecked(settings.fftApplyAlpha != 0);
    connect(alpha_, &QCheckBox::toggled, this, [&settings](bool on) { settings.fftApplyAlpha = on ? 1 : 0; });
    layout->addWidget(alpha_);

    auto* box = new QGroupBox(this);
    auto* column = new QVBoxLayout(box);
    auto* group = new QButtonGroup(box);
    const char* texts[5] = {"方形窓", "ハニング", "ハミング", "ブラックマン", "拡張方形窓"};
    for (int t = 0; t < 5; ++t) {
        windows_[t] = new QRadioButton(QString::fromUtf8(texts[t]), box);
        group->addButton(windows_[t], t);
        column->addWidget(windows_[t]);
    }
    windows_[4]->setEnabled(false);
    windows_[settings.fftWindow >= 0 && settings.fftWindow <= 4 ? settings.fftWindow : 0]->setChecked(true);
    connect(group, &QButtonGroup::idClicked, this, [&settings](int id) { settings.fftWindow = id; });
    layout->addWidget(box);

    addDialogButtons(this, layout);
}

bool showFftDialog(Workspace& ws, QWidget* parent)
{
    FftDialog dialog(ws, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
