#pragma once
// A Ui for worker threads: boxes and beeps are kept, to be shown later on the user-interface thread in
// the order they came. Nothing on a worker may wait for the user, so a question is answered No; the
// status texts go to an optional callback.

#include "platform/ui.h"

#include <functional>
#include <string>
#include <vector>

namespace sonavik {

struct ShownMessage {
    bool beep = false;
    BeepKind beepKind = BeepKind::Error;
    MessageRequest box;
};

class RecordingUi : public Ui {
public:
    RecordingUi(std::vector<ShownMessage>& log, std::function<void(const std::string&)> status = nullptr);
    MessageAnswer messageBox(const MessageRequest& request) override;
    void beep(BeepKind kind) override;
    std::optional<std::string> openFileName(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<std::string> saveFileName(const FileDialogRequest&) override { return std::nullopt; }
    void setCursor(CursorKind) override {}
    void setStatusText(int part, const std::string& text) override;
    void setTitle(const std::string&) override {}

private:
    std::vector<ShownMessage>& log_;
    std::function<void(const std::string&)> status_;
};

// Shows what a RecordingUi kept, in order.
void replayShown(const std::vector<ShownMessage>& log, Ui& ui);

} // namespace sonavik
