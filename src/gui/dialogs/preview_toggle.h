#pragma once
// "試聴" for the curve dialogs: a check box in a row of its own under the dialog's buttons (every other
// control keeps its place), Space toggling it. While it is checked, the edit's target plays over and
// over as OK would write it, and each change of the dialog's values is heard at once; unchecking it,
// OK, Cancel and closing the dialog stop it.

class QBoxLayout;
class QCheckBox;
class QDialog;

namespace sonavik {

class Player;
struct Workspace;

// What a dialog needs to let its edit be heard: the engine that plays, and the target as the edit
// command has it.
struct PreviewTarget {
    Player* player = nullptr;
    int target = 0;
    int slot = -1;
};

// Adds the check box to dialog (layout is its top-level layout) for commandId; null without a player.
QCheckBox* addPreviewToggle(QDialog* dialog, QBoxLayout* layout, Workspace& ws, int commandId, const PreviewTarget* target);

} // namespace sonavik
