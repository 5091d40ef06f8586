#pragma once
// What the core asks of the screen: message boxes, beeps, file choosers, cursor, status bar and title.
// The Qt shell shows them; the command-line tool prints them; tests script the answers.

#include <optional>
#include <string>
#include <vector>

namespace sonavik {

inline constexpr const char* kAppCaption = "Sonavik 2";

enum class MessageIcon { None, Error };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };
// Boxes shown before the main window exists (start-up, settings) have no owner.
enum class MessageOwner { MainWindow, None };

struct MessageRequest {
    std::string text;
    std::string caption = kAppCaption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    MessageOwner owner = MessageOwner::MainWindow;
};

// Error = the error beep (-1), Default = the default beep (0).
enum class BeepKind { Error, Default };

// Cursors 201 to 207 are the views' own; Arrow and Wait are the system's.
enum class CursorKind { Arrow, Wait, C201, C202, C203, C204, C205, C206, C207 };

struct FileFilter {
    std::string name;     // e.g. "WAV"
    std::string pattern;  // e.g. "*.wav", patterns separated by spaces
};

struct FileDialogRequest {
    std::string title;
    std::string initialDir;
    std::string filterName;     // e.g. "wavﾌｧｲﾙ(*.wav)"
    std::string filterPattern;  // e.g. "*.wav"
    bool confirmOverwrite = false;
    // When not empty, these filters in this order instead of the one above.
    std::vector<FileFilter> filters;
    // A file name (no folder) the dialog offers in initialDir.
    std::string initialName;
};

// How a sound of more than two channels becomes one of one or two: the channels for the left and the
// right (numbered from 1, as in the file), or the mean of all of them.
struct ChannelChoice {
    enum class Kind { Pair, MixMono, MixStereo };
    Kind kind = Kind::Pair;
    int left = 1;
    int right = 2;
};

class Ui {
public:
    virtual ~Ui() = default;
    virtual MessageAnswer messageBox(const MessageRequest& request) = 0;
    virtual void beep(BeepKind kind) = 0;
    // A beep whose reason the window keeps to itself (it only beeps) but a front end without a speaker
    // to hear it prints, such as a refusal for lack of memory.
    virtual void beepWithReason(BeepKind kind, const std::string& why)
    {
        (void)why;
        beep(kind);
    }
    // Empty when the user cancels; otherwise a full path.
    virtual std::optional<std::string> openFileName(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> saveFileName(const FileDialogRequest& request) = 0;
    virtual void setCursor(CursorKind cursor) = 0;
    // part 0 is the left half of the status bar, part 1 the right half.
    virtual void setStatusText(int part, const std::string& text) = 0;
    virtual void setTitle(const std::string& title) = 0;
    // Which of the request's filters the last save dialog ended on (0 = the first).
    virtual int lastFilterIndex() const { return 0; }
    // Asked before a lossy save: the quality, 0 (smallest) to 10 (best), starting from current; nullopt
    // cancels the save.
    virtual std::optional<int> askExportQuality(int current) { return current; }
    // Asked when a file of more than two channels opens; nullopt cancels the open.
    virtual std::optional<ChannelChoice> chooseChannels(int channelCount)
    {
        (void)channelCount;
        return ChannelChoice{};
    }
};

// Shows nothing and answers every question with one answer: for work whose messages belong to someone
// else (a preview of an edit, a benchmark).
class SilentUi : public Ui {
public:
    explicit SilentUi(MessageAnswer answer = MessageAnswer::No) : answer_(answer) {}
    MessageAnswer messageBox(const MessageRequest&) override { return answer_; }
    void beep(BeepKind) override {}
    std::optional<std::string> openFileName(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<std::string> saveFileName(const FileDialogRequest&) override { return std::nullopt; }
    void setCursor(CursorKind) override {}
    void setStatusText(int, const std::string&) override {}
    void setTitle(const std::string&) override {}

private:
    MessageAnswer answer_;
};

// The boxes almost every command shows, captioned "Sonavik 2".
void showError(Ui& ui, const std::string& text);
void showNotice(Ui& ui, const std::string& text);
bool askYesNo(Ui& ui, const std::string& text);

} // namespace sonavik
