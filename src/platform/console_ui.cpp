#include "platform/console_ui.h"

#include <ostream>

namespace sonavik {

ConsoleUi::ConsoleUi(std::ostream& out, MessageAnswer yesNoAnswer, Ui* window)
    : out_(out), yesNoAnswer_(yesNoAnswer), window_(window)
{
}

MessageAnswer ConsoleUi::messageBox(const MessageRequest& request)
{
    out_ << request.caption << ": " << request.text << '\n';
    out_.flush();
    return request.buttons == MessageButtons::YesNo ? yesNoAnswer_ : MessageAnswer::Ok;
}

void ConsoleUi::beep(BeepKind kind)
{
    if (window_)
        window_->beep(kind);
}

void ConsoleUi::beepWithReason(BeepKind kind, const std::string& why)
{
    out_ << "beep: " << why << '\n';
    out_.flush();
    beep(kind);
}

std::optional<std::string> ConsoleUi::openFileName(const FileDialogRequest&) { return std::nullopt; }
std::optional<std::string> ConsoleUi::saveFileName(const FileDialogRequest&) { return std::nullopt; }

void ConsoleUi::setCursor(CursorKind cursor)
{
    if (window_)
        window_->setCursor(cursor);
}

void ConsoleUi::setStatusText(int part, const std::string& text)
{
    if (window_)
        window_->setStatusText(part, text);
}

void ConsoleUi::setTitle(const std::string& title)
{
    title_ = title;
    if (window_)
        window_->setTitle(title);
}

} // namespace sonavik
