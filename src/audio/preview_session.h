#pragma once
// "試聴" in the curve dialogs: the target of the edit, as OK would write it, played over and over
// while the dialog is open. Any change of the settings (the curve, a slider, a button) is heard at once.
// The sound, the undo store, the title and the reverb's noise stay as they are.

#include "edit/preview_render.h"
#include "settings/settings.h"

#include <memory>

namespace sonavik {

class Player;
struct Workspace;

class PreviewSession {
public:
    PreviewSession(Workspace& ws, Player& player, int commandId, int target, int slot);
    // Stops a preview that still plays.
    ~PreviewSession();
    PreviewSession(const PreviewSession&) = delete;
    PreviewSession& operator=(const PreviewSession&) = delete;

    // Starts playing the preview with the settings as they are now; false when there is nothing to
    // hear (no target inside the sound) or the playback did not start (its message has been shown).
    bool start();
    void stop();
    // Whether the preview plays now (another playback may have taken the device meanwhile).
    bool playing() const;
    // To be called whenever the settings may have changed: when they did, the change is heard within
    // the time the device needs to take new sound.
    void settingsMayHaveChanged();
    // While the preview plays: switches what is heard between the target as OK would write it and the
    // target as it is now, from the place in the loop the device stands at. A change of the settings made
    // meanwhile is heard when the edited sound comes back. False, with nothing changed, when nothing plays.
    bool toggleBypass();
    // The target as it is now is what is heard.
    bool bypassed() const { return playing() && render_->bypassed(); }

private:
    Workspace& ws_;
    Player& player_;
    int commandId_;
    int target_;
    int slot_;
    std::shared_ptr<PreviewRender> render_;
    Settings heard_{};
};

} // namespace sonavik
