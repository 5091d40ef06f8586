#include "gui/dialogs/coarsen_dialog.h"
#include "gui/dialogs/dialog_buttons.h"

#include "document/workspace.h"
#include "edit/amplitude_transforms.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace sonavik {

CoarsenDialog::CoarsenDialog(Workspace& ws, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8("量子化ビット数の粗視化"));
    setObjectName("coarsen");
    const int width = coarsenWidth(ws.document);

    auto* layout = new QVBoxLayout(this);
    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setRange(1, width);
    slider_->setPageStep(1);
    slider_->setSingleStep(1);
    slider_->setTickPosition(QSlider::TicksBelow);
    slider_->setTickInterval(1);
    slider_->setMinimumWidth(16 * width);
    readout_ = new QLabel(this);
    layout->addWidget(slider_);
    layout->addWidget(readout_);

    auto store = [this, &ws, width](int bits) {
        ws.settings.coarseBits = bits;
        readout_->setText(QString::fromStdString(coarseBitsText(bits, width)));
    };
    connect(slider_, &QSlider::valueChanged, this, store);
    slider_->setValue(width);
    // The stored count equals the slider's position from the moment the dialog is up.
    store(slider_->value());

    addDialogButtons(this, layout);
}

bool showCoarsenDialog(Workspace& ws, QWidget* parent)
{
    CoarsenDialog dialog(ws, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
