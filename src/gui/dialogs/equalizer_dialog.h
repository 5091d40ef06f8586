#pragma once
// "イコライザ": block length, window and axis scales of the equaliser, and its gain curve drawn in the
// curve editor. Every change goes straight into the settings, so a cancelled dialog leaves its last
// values behind.

#include <QDialog>

class QCheckBox;

class QFrame;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace sonavik {

struct PreviewTarget;

class CurveEditorWidget;
class Ui;
struct Workspace;

class EqualizerDialog : public QDialog {
    Q_OBJECT
public:
    EqualizerDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview = nullptr);

    QSlider* sizeSlider() const { return sizeSlider_; }
    QLineEdit* sizeText() const { return sizeText_; }
    // 0 "方形窓" … 3 "ブラッグマン窓".
    QRadioButton* windowButton(int window) const { return windows_[window]; }
    // Vertical axis: 0 "線形", 1 "対数"; horizontal likewise.
    QRadioButton* gainButton(int logarithmic) const { return gain_[logarithmic]; }
    QRadioButton* frequencyButton(int logarithmic) const { return frequency_[logarithmic]; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* greyResetButton() const { return greyReset_; }
    QFrame* frame() const { return frame_; }
    CurveEditorWidget* editor() const { return editor_; }
    // "試聴", when the dialog was given a player.
    QCheckBox* previewBox() const { return preview_; }

private:
    QSlider* sizeSlider_;
    QLineEdit* sizeText_;
    QRadioButton* windows_[4];
    QRadioButton* gain_[2];
    QRadioButton* frequency_[2];
    QPushButton* reset_;
    QPushButton* greyReset_;
    QFrame* frame_;
    CurveEditorWidget* editor_;
    QCheckBox* preview_ = nullptr;
};

// Shows the dialog modally; true for OK.
bool showEqualizerDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview = nullptr);

} // namespace sonavik
