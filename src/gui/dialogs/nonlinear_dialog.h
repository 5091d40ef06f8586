#pragma once
// "音量の非線形変換": the transfer curve of the nonlinear transform, drawn in the curve editor over a
// frame, with its mode and two reset buttons. Every change goes straight into the settings, so a
// cancelled dialog leaves its last curve and mode behind.

#include <QDialog>

class QCheckBox;

class QFrame;
class QPushButton;
class QRadioButton;

namespace sonavik {

struct PreviewTarget;

class CurveEditorWidget;
class Ui;
struct Workspace;

class NonlinearDialog : public QDialog {
    Q_OBJECT
public:
    NonlinearDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview = nullptr);

    QRadioButton* magnitudeButton() const { return magnitude_; }
    QRadioButton* wholeRangeButton() const { return wholeRange_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* greyResetButton() const { return greyReset_; }
    QFrame* frame() const { return frame_; }
    CurveEditorWidget* editor() const { return editor_; }
    // "試聴", when the dialog was given a player.
    QCheckBox* previewBox() const { return preview_; }

private:
    QRadioButton* magnitude_;
    QRadioButton* wholeRange_;
    QPushButton* reset_;
    QPushButton* greyReset_;
    QFrame* frame_;
    CurveEditorWidget* editor_;
    QCheckBox* preview_ = nullptr;
};

// Shows the dialog modally; true for OK.
bool showNonlinearDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview = nullptr);

} // namespace sonavik
