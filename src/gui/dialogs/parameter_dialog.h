#pragma once
// "パラメーター": the shape parameter of one selection, stored as it is typed; OK and Escape both keep it.

#include <QDialog>

class QLineEdit;

namespace sonavik {

struct Selection;

class ParameterDialog : public QDialog {
    Q_OBJECT
public:
    ParameterDialog(Selection& selection, QWidget* parent);
    QLineEdit* field() const { return field_; }

private:
    QLineEdit* field_;
};

void editShapeParameter(Selection& selection, QWidget* parent);

} // namespace sonavik
