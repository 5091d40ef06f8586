#pragma once
// "処理の対象": which part of the sound the menu bar's edits act on. Each click stores its code at once.

#include <QDialog>

class QRadioButton;

namespace sonavik {

struct Workspace;

class TargetDialog : public QDialog {
    Q_OBJECT
public:
    TargetDialog(Workspace& ws, QWidget* parent);
    QRadioButton* button(int code) const { return buttons_[code]; }

private:
    QRadioButton* buttons_[13] = {};
};

// Shows the dialog; true for OK.
bool chooseProcessingTarget(Workspace& ws, QWidget* parent);

} // namespace sonavik
