#pragma once
// "リバーブ": response length, brightness and mix of the reverb, six example settings, and the decay
// envelope drawn in the curve editor. Every change goes straight into the settings, so a cancelled
// dialog leaves its last values behind.

#include "edit/reverb.h"

#include <QDialog>

class QCheckBox;

class QFrame;
class QLineEdit;
class QPushButton;
class QSlider;

namespace sonavik {

struct PreviewTarget;

class CurveEditorWidget;
class Ui;
struct Workspace;

class ReverbDialog : public QDialog {
    Q_OBJECT
public:
    ReverbDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview = nullptr);

    QSlider* timeSlider() const { return time_; }
    QLineEdit* timeText() const { return timeText_; }
    QSlider* smoothingSlider() const { return smoothing_; }
    QSlider* ratioSlider() const { return ratio_; }
    QLineEdit* ratioEdit() const { return ratioEdit_; }
    QPushButton* presetButton(ReverbPreset preset) const { return presets_[static_cast<int>(preset)]; }
    QFrame* frame() const { return frame_; }
    CurveEditorWidget* editor() const { return editor_; }
    // "試聴", when the dialog was given a player.
    QCheckBox* previewBox() const { return preview_; }

private:
    QSlider* time_;
    QLineEdit* timeText_;
    QSlider* smoothing_;
    QSlider* ratio_;
    QLineEdit* ratioEdit_;
    QPushButton* presets_[kReverbPresetCount];
    QFrame* frame_;
    CurveEditorWidget* editor_;
    QCheckBox* preview_ = nullptr;
};

// Shows the dialog modally; true for OK.
bool showReverbDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview = nullptr);

} // namespace sonavik
