#include "gui/dialogs/dialog_buttons.h"

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace sonavik {

void addDialogButtons(QDialog* dialog, QBoxLayout* layout, bool withCancel)
{
    auto* box = new QDialogButtonBox(dialog);
    QPushButton* ok = box->addButton("OK", QDialogButtonBox::AcceptRole);
    if (withCancel)
        box->addButton(QString::fromUtf8("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    QObject::connect(box, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(box);
}

} // namespace sonavik
