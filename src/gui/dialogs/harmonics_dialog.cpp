#include "gui/dialogs/harmonics_dialog.h"
#include "gui/dialogs/dialog_buttons.h"

#include "settings/settings.h"

#include <QFormLayout>
#include <QSpinBox>
#include <QVBoxLayout>

namespace sonavik {

HarmonicsDialog::HarmonicsDialog(Settings& settings, QWidget* parent) : QDialog(parent), settings_(settings)
{
    setWindowTitle(QString::fromUtf8("倍音も"));
    setObjectName("harmonics");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    count_ = new QSpinBox(this);
    count_->setRange(1, kMaxHarmonics);
    count_->setValue(harmonicCount(settings));
    form->addRow(QString::fromUtf8("倍音の数"), count_);
    layout->addLayout(form);
    addDialogButtons(this, layout);
    count_->setFocus();
    count_->selectAll();
}

void HarmonicsDialog::accept()
{
    // A number typed but not yet committed by the box counts as well.
    count_->interpretText();
    settings_.spectralHarmonics = count_->value();
    QDialog::accept();
}

bool showHarmonicsDialog(Settings& settings, QWidget* parent)
{
    HarmonicsDialog dialog(settings, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
