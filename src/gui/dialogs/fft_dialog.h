#pragma once
// "FFT の方法": the FFT size of the analysis as a power of two, the window of its frames and whether the
// alpha envelope weighs the samples first. Every click is stored at once, so a cancelled dialog keeps it.

#include <QDialog>

#include <array>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QSlider;

namespace sonavik {

struct Workspace;

class FftDialog : public QDialog {
    Q_OBJECT
public:
    FftDialog(Workspace& ws, QWidget* parent);

    QSlider* slider() const { return slider_; }
    QLineEdit* readout() const { return readout_; }
    QCheckBox* alphaBox() const { return alpha_; }
    QRadioButton* windowButton(int type) const { return windows_[type]; }

private:
    QSlider* slider_;
    QLineEdit* readout_;
    QCheckBox* alpha_;
    std::array<QRadioButton*, 5> windows_{};
};

// Shows the dialog modally; true for OK.
bool showFftDialog(Workspace& ws, QWidget* parent);

} // namespace sonavik
