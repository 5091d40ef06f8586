#pragma once
// A Ui for tests: records every call and answers boxes and file dialogs from a script.
// Window-side calls can be passed on to a real window as well.

#include "platform/ui.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace sonavik::test {

class ScriptedUi : public Ui {
public:
    explicit ScriptedUi(Ui* window = nullptr) : window_(window) {}
    void setWindow(Ui* window) { window_ = window; }

    // Answers for Yes/No boxes, in order; when none is left a question is answered No and counted.
    std::deque<MessageAnswer> answers;
    // Answers for the file dialogs, in order (nullopt = cancel); when none is left the dialog is cancelled.
    std::deque<std::optional<std::string>> fileAnswers;

    std::vector<MessageRequest> messages;
    std::vector<FileDialogRequest> openDialogs;
    std::vector<FileDialogRequest> saveDialogs;
    std::vector<BeepKind> beeps;
    std::vector<CursorKind> cursors;
    std::string statusText[2];
    std::string title;
    int unansweredQuestions = 0;
    // The filter the save dialogs end on, and the answer to a file of more than two channels.
    int filterIndex = 0;
    std::optional<ChannelChoice> channelAnswer = ChannelChoice{};
    std::vector<int> channelQuestions;

    MessageAnswer messageBox(const MessageRequest& request) override;
    void beep(BeepKind kind) override;
    std::optional<std::string> openFileName(const FileDialogRequest& request) override;
    std::optional<std::string> saveFileName(const FileDialogRequest& request) override;
    void setCursor(CursorKind cursor) override;
    void setStatusText(int part, const std::string& text) override;
    void setTitle(const std::string& newTitle) override;
    int lastFilterIndex() const override { return filterIndex; }
    std::optional<ChannelChoice> chooseChannels(int channelCount) override
    {
        channelQuestions.push_back(channelCount);
        return channelAnswer;
    }

    // The texts of every box shown so far, in order.
    std::vector<std::string> texts() const;
    void clear();

private:
    Ui* window_;
};

} // namespace sonavik::test
