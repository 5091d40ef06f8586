#include "gui/dialogs/dialog_buttons.h"
#include "gui/dialogs/parameter_dialog.h"

#include "document/selection.h"
#include "views/context_menus.h"

#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonavik {

ParameterDialog::ParameterDialog(Selection& selection, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8("パラメーター"));
    setObjectName("shapeParameter");
    auto* layout = new QVBoxLayout(this);
    field_ = new QLineEdit(QString::fromStdString(formatShapeParameter(selection.shapeParameter)), this);
    field_->setMaxLength(99);
    layout->addWidget(field_);
    connect(field_, &QLineEdit::textChanged, this,
            [&selection](const QString& text) { selection.shapeParameter = parseShapeParameter(text.toStdString()); });
    addDialogButtons(this, layout, false);
}

void editShapeParameter(Selection& selection, QWidget* parent)
{
    ParameterDialog dialog(selection, parent);
    dialog.exec();
}

} // namespace sonavik
