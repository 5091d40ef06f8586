#pragma once
// "倍音も": how many harmonics above the selected band the next spectrogram edit takes. The count is
// stored in the settings on OK only; "ｷｬﾝｾﾙ" leaves it and 倍音も as they were.

#include <QDialog>

class QSpinBox;

namespace sonavik {

struct Settings;

class HarmonicsDialog : public QDialog {
    Q_OBJECT
public:
    HarmonicsDialog(Settings& settings, QWidget* parent);

    QSpinBox* count() const { return count_; }

    void accept() override;

private:
    Settings& settings_;
    QSpinBox* count_;
};

// Shows the dialog modally; true for OK.
bool showHarmonicsDialog(Settings& settings, QWidget* parent);

} // namespace sonavik
