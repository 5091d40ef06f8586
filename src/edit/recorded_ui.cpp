#include "edit/recorded_ui.h"

#include <utility>

namespace sonavik {

RecordingUi::RecordingUi(std::vector<ShownMessage>& log, std::function<void(const std::string&)> status)
    : log_(log), status_(std::move(status))
{
}

MessageAnswer RecordingUi::messageBox(const MessageRequest& request)
{
    log_.push_back({false, BeepKind::Error, request});
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

void RecordingUi::beep(BeepKind kind) { log_.push_back({true, kind, {}}); }

void RecordingUi::setStatusText(int part, const std::string& text)
{
    if (part == 1 && status_)
        status_(text);
}

void replayShown(const std::vector<ShownMessage>& log, Ui& ui)
{
    for (const ShownMessage& s : log) {
        if (s.beep)
            ui.beep(s.beepKind);
        else
            ui.messageBox(s.box);
    }
}

} // namespace sonavik
