#include "audio/preview_session.h"

#include "audio/playback.h"
#include "document/workspace.h"

#include <cstring>

namespace sonavik {

PreviewSession::PreviewSession(Workspace& ws, Player& player, int commandId, int target, int slot)
    : ws_(ws), player_(player), commandId_(commandId), target_(target), slot_(slot)
{
}

PreviewSession::~PreviewSession() { stop(); }

bool PreviewSession::start()
{
    if (playing())
        return true;
    render_ = std::make_shared<PreviewRender>(ws_.document, ws_.red, commandId_, target_, slot_, ws_.reverbNoiseState);
    if (render_->empty()) {
        render_.reset();
        return false;
    }
    heard_ = ws_.settings;
    render_->setSettings(heard_);
    player_.playPreview(render_);
    if (!playing()) {
        render_.reset();
        return false;
    }
    return true;
}

void PreviewSession::stop()
{
    if (playing())
        player_.playOrStop();
    render_.reset();
}

bool PreviewSession::playing() const { return render_ && player_.running() && player_.playingPreview(); }

void PreviewSession::settingsMayHaveChanged()
{
    // While bypassed the settings are not heard: they are taken when the edited sound comes back.
    if (!playing() || render_->bypassed())
        return;
    // The settings are one plain record: any change of the dialog's values shows in its bytes.
    if (std::memcmp(&heard_, &ws_.settings, sizeof heard_) == 0)
        return;
    heard_ = ws_.settings;
    render_->setSettings(heard_);
    player_.previewChanged();
}

bool PreviewSession::toggleBypass()
{
    if (!playing())
        return false;
    const bool bypass = !render_->bypassed();
    if (!bypass && std::memcmp(&heard_, &ws_.settings, sizeof heard_) != 0) {
        heard_ = ws_.settings;
        render_->setSettings(heard_);
    }
    render_->setBypass(bypass);
    player_.previewChanged();
    return true;
}

} // namespace sonavik
