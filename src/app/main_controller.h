#pragma once
// The main window's command routing: busy guards, save prompts, open/save/close/undo/exit, the view
// buttons, and the close and destroy questions. The window only forwards commands and applies the
// effects asked of it through MainWindowShell.

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sonavik {

class EditHistory;
class Player;
class Recorder;
class Ui;
struct Workspace;

// Asked at start for each sound an earlier run left unsaved, followed by its file name and last change.
inline constexpr const char* kRecoverQuestion = "前回、保存されないまま終了した音があります。復元しますか？";

// The status bar's left half while the state before the last change is heard.
inline constexpr const char* kHearingBefore = "変更前";

// The refusal of "閉じる" during playback or recording.
inline constexpr const char* kCloseRefused = "再生／録音中は、ファイルを閉じることができません";

struct ViewClientSize {
    int width = 0;
    int height = 0;
};

// What the controller asks of the window it routes for.
class MainWindowShell {
public:
    virtual ~MainWindowShell() = default;
    // Creates or removes the right view to match the document; false when the left view is missing.
    virtual bool layoutForDocument() = 0;
    virtual void redrawViews() = 0;
    // "保存", "再生", "ﾘﾊﾞｰﾌﾞ" and "ｲｺﾗｲｻﾞ" are usable exactly while there is sound.
    virtual void setDocumentButtonsEnabled(bool enabled) = 0;
    // Client size of the view of channel 0 (left) or 1 (right); nullopt while that view does not exist.
    virtual std::optional<ViewClientSize> viewClientSize(int channel) const = 0;
    // Ends the window; the destroy question follows through onDestroy().
    virtual void destroyWindow() = 0;
    // Playback started (the play button reads "停止"; "読込", "保存", "録音", "ﾘﾊﾞｰﾌﾞ", "ｲｺﾗｲｻﾞ" are
    // disabled) or ended (label "再生", those five enabled).
    virtual void setPlaybackRunning(bool running) { (void)running; }
};

class MainController {
public:
    MainController(Workspace& ws, Ui& ui, MainWindowShell& shell);
    ~MainController();

    // A menu or button command by its id.
    void command(int id);
    // Opens a file named on the command line as if it had been chosen in the open dialog.
    void openPath(const std::string& path);
    // The window is asked to close (title-bar button, window manager).
    void onClose();
    // The window is going away, whatever the reason.
    void onDestroy();
    void refreshTitle();
    // Starts recording every state in a folder of this run under root; first offers each sound an earlier
    // run left unsaved there (kRecoverQuestion): Yes opens it as its last change left it, with its
    // history, No removes its folder. Without a folder editing goes on and the status bar says why.
    void startHistory(const std::string& root);
    // Makes the document state k of its history (the history window's choice); false when it could not.
    bool goToHistoryState(int k);
    // The history's size limit in MiB (0: its default) into the settings and the history at once.
    void setHistoryLimit(int mib);

    // Later subsystems plug in here. An edit handler returns true when the sound changed.
    std::function<bool(int commandId)> editHandler;
    std::function<void()> playOrStopHandler;
    std::function<void()> playSettingsHandler;
    std::function<void()> startRecordingHandler;
    // "編集履歴...": the window shows the history's list; historyChanged keeps an open one in step.
    std::function<void()> historyHandler;
    std::function<void()> historyChanged;
    // "変更前と聴き比べる": true when what is heard switched (attachAudio routes it to the Player).
    std::function<bool()> compareHandler;
    // Routes the play and record commands to the engines and lets them show their state through the
    // shell. The engines must outlive the controller's use of them.
    void attachAudio(Player& player, Recorder& recorder);

private:
    bool guard(const char* busyMessage);
    void askToSave(const char* promptFormat, bool clearModifiedOnNo);
    bool layout();
    void open(const std::optional<std::string>& chosenPath);
    void close();
    void undo();
    void viewScale(int id);
    void resetViewsForNewDocument();
    void clearStatus();
    bool offerRecovery(const std::string& root);
    void noteSaved(bool saved);

    Workspace& ws_;
    Ui& ui_;
    MainWindowShell& shell_;
    std::unique_ptr<EditHistory> history_;
    bool hearingBefore_ = false;
};

} // namespace sonavik
