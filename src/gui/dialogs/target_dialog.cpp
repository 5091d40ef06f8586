#include "gui/dialogs/dialog_buttons.h"
#include "gui/dialogs/target_dialog.h"

#include "document/workspace.h"
#include "views/context_menus.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace sonavik {

TargetDialog::TargetDialog(Workspace& ws, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8("処理の対象"));
    setObjectName("processingTarget");
    const TargetChoice choice = prepareTargetChoice(ws.settings, ws.document, ws.red);
    auto* layout = new QVBoxLayout(this);
    auto* group = new QButtonGroup(this);
    for (int code = 0; code < 13; ++code) {
        buttons_[code] = new QRadioButton(QString::fromUtf8(targetText(code)), this);
        buttons_[code]->setEnabled(choice.enabled[code]);
        group->addButton(buttons_[code], code);
        layout->addWidget(buttons_[code]);
    }
    buttons_[choice.checked]->setChecked(true);
    connect(group, &QButtonGroup::idClicked, this, [&ws](int code) { ws.settings.processingTarget = code; });

    addDialogButtons(this, layout);
}

bool chooseProcessingTarget(Workspace& ws, QWidget* parent)
{
    TargetDialog dialog(ws, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
