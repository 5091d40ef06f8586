#pragma once
// "量子化ビット数の粗視化": how many bits the coarsening keeps. The slider starts at the sound's own
// bit count and every position it takes is stored at once, so a cancelled dialog still leaves it.

#include <QDialog>

class QLabel;
class QSlider;

namespace sonavik {

struct Workspace;

class CoarsenDialog : public QDialog {
    Q_OBJECT
public:
    CoarsenDialog(Workspace& ws, QWidget* parent);

    QSlider* slider() const { return slider_; }
    QLabel* readout() const { return readout_; }

private:
    QSlider* slider_;
    QLabel* readout_;
};

// Shows the dialog modally; true for OK.
bool showCoarsenDialog(Workspace& ws, QWidget* parent);

} // namespace sonavik
