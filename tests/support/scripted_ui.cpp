#include "support/scripted_ui.h"

namespace sonavik::test {

MessageAnswer ScriptedUi::messageBox(const MessageRequest& request)
{
    messages.push_back(request);
    if (request.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    if (answers.empty()) {
        ++unansweredQuestions;
        return MessageAnswer::No;
    }
    MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

void ScriptedUi::beep(BeepKind kind) { beeps.push_back(kind); }

std::optional<std::string> ScriptedUi::openFileName(const FileDialogRequest& request)
{
    openDialogs.push_back(request);
    if (fileAnswers.empty())
        return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedUi::saveFileName(const FileDialogRequest& request)
{
    saveDialogs.push_back(request);
    if (fileAnswers.empty())
        return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

void ScriptedUi::setCursor(CursorKind cursor)
{
    cursors.push_back(cursor);
    if (window_)
        window_->setCursor(cursor);
}

void ScriptedUi::setStatusText(int part, const std::string& text)
{
    if (part == 0 || part == 1)
        statusText[part] = text;
    if (window_)
        window_->setStatusText(part, text);
}

void ScriptedUi::setTitle(const std::string& newTitle)
{
    title = newTitle;
    if (window_)
        window_->setTitle(newTitle);
}

std::vector<std::string> ScriptedUi::texts() const
{
    std::vector<std::string> out;
    for (const auto& m : messages)
        out.push_back(m.text);
    return out;
}

void ScriptedUi::clear()
{
    messages.clear();
    openDialogs.clear();
    saveDialogs.clear();
    beeps.clear();
    cursors.clear();
    unansweredQuestions = 0;
}

} // namespace sonavik::test
