#include "gui/dialogs/dialog_buttons.h"
#include "gui/dialogs/nonlinear_dialog.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/amplitude_transforms.h"
#include "gui/curve_editor_widget.h"
#include "gui/dialogs/preview_toggle.h"

#include <QButtonGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace sonavik {

NonlinearDialog::NonlinearDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8("音量の非線形変換"));
    setObjectName("nonlinear");
    CurveData& curve = ws.settings.nonlinear;
    // Before the editor exists: it reads the display kind and the mode when it paints.
    prepareNonlinearCurve(curve);

    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(QString::fromUtf8("これは波形の各部分に直接作用します。コンプレッサーとは意味合いが異なります。"), this);
    note->setWordWrap(true);
    layout->addWidget(note);

    auto* controls = new QHBoxLayout;
    magnitude_ = new QRadioButton(QString::fromUtf8("絶対値"), this);
    wholeRange_ = new QRadioButton(QString::fromUtf8("全て"), this);
    auto* modes = new QButtonGroup(this);
    modes->addButton(magnitude_, 0);
    modes->addButton(wholeRange_, 1);
    (curve.kindValue == 0 ? magnitude_ : wholeRange_)->setChecked(true);
    reset_ = new QPushButton(QString::fromUtf8("リセット"), this);
    greyReset_ = new QPushButton(QString::fromUtf8("灰色の丸リセット"), this);
    for (QPushButton* b : {reset_, greyReset_})
        b->setAutoDefault(false);
    controls->addWidget(magnitude_);
    controls->addWidget(wholeRange_);
    controls->addStretch(1);
    controls->addWidget(reset_);
    controls->addWidget(greyReset_);
    layout->addLayout(controls);

    frame_ = new QFrame(this);
    frame_->setObjectName("curveFrame");
    frame_->setFrameStyle(QFrame::Box | QFrame::Sunken);
    frame_->setMinimumSize(480, 340);
    // The editor covers the frame's whole inside and follows its size.
    auto* inside = new QVBoxLayout(frame_);
    inside->setContentsMargins(0, 0, 0, 0);
    editor_ = new CurveEditorWidget(
        curve, ui,
        [&ws]() -> std::uint32_t { return ws.document.hasData() ? ws.document.format.nSamplesPerSec : 0; }, frame_);
    inside->addWidget(editor_);
    layout->addWidget(frame_, 1);

    connect(modes, &QButtonGroup::idClicked, this, [this, &curve](int mode) {
        curve.kindValue = mode;
        editor_->update();
    });
    connect(reset_, &QPushButton::clicked, this, [this, &curve] {
        resetNonlinearCurve(curve);
        editor_->update();
    });
    connect(greyReset_, &QPushButton::clicked, this, [this, &curve] {
        resetNonlinearGreyPoints(curve);
        editor_->update();
    });

    addDialogButtons(this, layout);
    preview_ = addPreviewToggle(this, layout, ws, cmd::Nonlinear, preview);
}

bool showNonlinearDialog(Workspace& ws, Ui& ui, QWidget* parent, const PreviewTarget* preview)
{
    NonlinearDialog dialog(ws, ui, parent, preview);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace sonavik
