#pragma once
// The destination of "I FFT": how the destination's alpha weighs the result, where it starts and which
// channels it goes to. Every click is stored at once and stays after "ｷｬﾝｾﾙ"; the boxes follow the rules
// that keep one colour and one channel chosen.

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace sonavik {

class Ui;
struct Workspace;

class ResynthesisDialog : public QDialog {
    Q_OBJECT
public:
    ResynthesisDialog(Workspace& ws, Ui& ui, QWidget* parent);

    QCheckBox* useAlpha() const { return useAlpha_; }
    QCheckBox* green() const { return green_; }
    QCheckBox* blue() const { return blue_; }
    QCheckBox* missingAsFull() const { return missingAsFull_; }
    QRadioButton* originalPosition() const { return original_; }
    QRadioButton* newPosition() const { return newPosition_; }
    QLineEdit* startField() const { return start_; }
    QCheckBox* left() const { return left_; }
    QCheckBox* right() const { return right_; }

    void accept() override;

private:
    // Shows every stored value and the enables that go with them.
    void showSettings();

    Workspace& ws_;
    Ui& ui_;
    bool mono_;
    QCheckBox* useAlpha_;
    QCheckBox* green_;
    QCheckBox* blue_;
    QCheckBox* missingAsFull_;
    QRadioButton* original_;
    QRadioButton* newPosition_;
    QLineEdit* start_;
    QCheckBox* left_;
    QCheckBox* right_;
};

// Shows the dialog modally; true for OK.
bool showResynthesisDialog(Workspace& ws, Ui& ui, QWidget* parent);

} // namespace sonavik
