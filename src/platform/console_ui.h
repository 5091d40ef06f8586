#pragma once
// A Ui without a screen: every box is printed as "caption: text" and answered without waiting.
// Window-side calls (title, status, cursor) go to an optional Ui that has a window.

#include "platform/ui.h"

#include <iosfwd>

namespace sonavik {

class ConsoleUi : public Ui {
public:
    // yesNoAnswer answers every Yes/No question; OK boxes are answered OK.
    ConsoleUi(std::ostream& out, MessageAnswer yesNoAnswer, Ui* window = nullptr);

    MessageAnswer messageBox(const MessageRequest& request) override;
    void beep(BeepKind kind) override;
    // Prints why as "beep: why".
    void beepWithReason(BeepKind kind, const std::string& why) override;
    std::optional<std::string> openFileName(const FileDialogRequest& request) override;
    std::optional<std::string> saveFileName(const FileDialogRequest& request) override;
    void setCursor(CursorKind cursor) override;
    void setStatusText(int part, const std::string& text) override;
    void setTitle(const std::string& title) override;

    void setWindow(Ui* window) { window_ = window; }
    const std::string& title() const { return title_; }

private:
    std::ostream& out_;
    MessageAnswer yesNoAnswer_;
    Ui* window_;
    std::string title_;
};

} // namespace sonavik
