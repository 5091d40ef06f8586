#include "gui/dialogs/dialog_buttons.h"
#include "gui/dialogs/resynthesis_dialog.h"

#include "document/workspace.h"
#include "spectrogram/resynthesis.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace sonavik {

namespace {
QString qs(const char* utf8) { return QString::fromUtf8(utf8); }
} // namespace

ResynthesisDialog::ResynthesisDialog(Workspace& ws, Ui& ui, QWidget* parent)
    : QDialog(parent), ws_(ws), ui_(ui), mono_(ws.document.format.nChannels != 2)
{
    setWindowTitle(qs("ﾀﾞｲｱﾛｸﾞ"));
    setObjectName("resynthesis");
    Settings& settings = ws.settings;
    openApplyDialog(settings, mono_);

    auto* layout = new QVBoxLayout(this);
    auto* how = new QGroupBox(qs("適用方法"), this);
    auto* howLayout = new QVBoxLayout(how);
    useAlpha_ = new QCheckBox(qs("適用先のαチャンネルの値を適用度として使用"), how);
    auto* colours = new QHBoxLayout;
    green_ = new QCheckBox(qs("緑"), how);
    blue_ = new QCheckBox(qs("青"), how);
    colours->addWidget(green_);
    colours->addWidget(blue_);
    colours->addStretch();
    missingAsFull_ = new QCheckBox(qs("αチャンネルの値が無い部分は全て適用と見なす"), how);
    howLayout->addWidget(useAlpha_);
    howLayout->addLayout(colours);
    howLayout->addWidget(missingAsFull_);
    layout->addWidget(how);

    auto* where = new QGroupBox(qs("適用先の位置"), this);
    auto* whereLayout = new QHBoxLayout(where);
    original_ = new QRadioButton(qs("元の位置"), where);
    newPosition_ = new QRadioButton(qs("新しい位置"), where);
    start_ = new QLineEdit(where);
    start_->setMaxLength(99);
    whereLayout->addWidget(original_);
    whereLayout->addWidget(newPosition_);
    whereLayout->addWidget(start_);
    whereLayout->addWidget(new QLabel(qs("から"), where));
    layout->addWidget(where);

    auto* channels = new QGroupBox(qs("適用先チャンネル"), this);
    auto* channelLayout = new QHBoxLayout(channels);
    left_ = new QCheckBox(qs("左"), channels);
    right_ = new QCheckBox(qs("右"), channels);
    channelLayout->addWidget(left_);
    channelLayout->addWidget(right_);
    channelLayout->addStretch();
    layout->addWidget(channels);

    start_->setText(QString::number(settings.applyStart));
    showSettings();

    const auto onClick = [this](QCheckBox* box, void (*rule)(Settings&, bool)) {
        connect(box, &QCheckBox::clicked, this, [this, rule](bool on) {
            rule(ws_.settings, on);
            showSettings();
        });
    };
    onClick(useAlpha_, setApplyUseAlpha);
    onClick(green_, setApplyGreen);
    onClick(blue_, setApplyBlue);
    onClick(missingAsFull_, setApplyMissingAlphaAsFull);
    onClick(left_, setApplyLeft);
    onClick(right_, setApplyRight);
    connect(original_, &QRadioButton::clicked, this, [this] {
        setApplyNewPosition(ws_.settings, false);
        showSettings();
    });
    connect(newPosition_, &QRadioButton::clicked, this, [this] {
        setApplyNewPosition(ws_.settings, true);
        showSettings();
    });
    // A number is stored as it is typed; anything else is refused when OK is pressed.
    connect(start_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (const auto v = parseApplyStart(text.toStdString()))
            ws_.settings.applyStart = *v;
    });

    addDialogButtons(this, layout);
}

void ResynthesisDialog::showSettings()
{
    const Settings& s = ws_.settings;
    const ApplyDialogEnables enables = applyDialogEnables(s, mono_);
    const std::pair<QCheckBox*, std::int32_t> boxes[] = {
        {useAlpha_, s.applyUseAlpha}, {green_, s.applyGreen}, {blue_, s.applyBlue},
        {missingAsFull_, s.applyTreatMissingAlphaAsFull}, {left_, s.applyLeft}, {right_, s.applyRight},
    };
    for (const auto& [box, value] : boxes) {
        const QSignalBlocker block(box);
        box->setChecked(value != 0);
    }
    {
        const QSignalBlocker a(original_);
        const QSignalBlocker b(newPosition_);
        (s.applyNewPosition != 0 ? newPosition_ : original_)->setChecked(true);
    }
    green_->setEnabled(enables.alphaChoices);
    blue_->setEnabled(enables.alphaChoices);
    missingAsFull_->setEnabled(enables.alphaChoices);
    left_->setEnabled(enables.channels);
    right_->setEnabled(enables.channels);
    start_->setEnabled(enables.start);
}

void ResynthesisDialog::accept()
{
    if (acceptApplyDialog(ui_, ws_.settings, start_->text().toStdString()))
        QDialog::accept();
}

bool showResynthesisDialog(Workspace& ws, Ui& ui, QWidget* parent)
{
    ResynthesisDialog dialog(ws, ui, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
