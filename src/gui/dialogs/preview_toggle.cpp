#include "gui/dialogs/preview_toggle.h"

#include "audio/preview_session.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDialog>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>

#include <memory>

namespace sonavik {

namespace {

// How often the dialog's values are looked at while the preview plays: well inside the 100 ms in which
// a change is to be heard.
constexpr int kLookMs = 15;

} // namespace

QCheckBox* addPreviewToggle(QDialog* dialog, QBoxLayout* layout, Workspace& ws, int commandId, const PreviewTarget* target)
{
    if (!target || !target->player)
        return nullptr;
    auto* box = new QCheckBox(QString::fromUtf8("試聴"), dialog);
    box->setObjectName("preview");
    box->setToolTip(QString::fromUtf8("試聴 (Space) / 変更前 (B)"));
    layout->addWidget(box);
    auto session = std::make_shared<PreviewSession>(ws, *target->player, commandId, target->target, target->slot);
    auto* look = new QTimer(dialog);
    look->setInterval(kLookMs);
    QObject::connect(look, &QTimer::timeout, box, [box, session, look] {
        if (!session->playing()) {
            // Another playback took the device, or it went away: the box says so.
            look->stop();
            const QSignalBlocker quiet(box);
            box->setChecked(false);
            return;
        }
        session->settingsMayHaveChanged();
    });
    QObject::connect(box, &QCheckBox::toggled, box, [box, session, look](bool on) {
        if (!on) {
            look->stop();
            session->stop();
            return;
        }
        if (session->start()) {
            look->start();
        } else {
            const QSignalBlocker quiet(box);
            box->setChecked(false);
        }
    });
    QObject::connect(dialog, &QDialog::finished, box, [box, session, look] {
        look->stop();
        session->stop();
        const QSignalBlocker quiet(box);
        box->setChecked(false);
    });
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), dialog);
    space->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(space, &QShortcut::activated, box, &QCheckBox::toggle);
    // While the preview plays: the target as it is now, and back to the edited one.
    auto* before = new QShortcut(QKeySequence(Qt::Key_B), dialog);
    before->setContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(before, &QShortcut::activated, box, [session] { session->toggleBypass(); });
    return box;
}

} // namespace sonavik
