#pragma once
// The main window "Wave": menu bar, toolbar of big buttons, the small view buttons, one or two
// waveform views and the two-part status bar. It forwards every command to MainController, every
// view event to WaveViews, and carries out what they ask of it.

#include "app/main_controller.h"
#include "audio/playback.h"
#include "audio/recording.h"
#include "edit/edit_dispatcher.h"
#include "edit/long_edit.h"
#include "gui/dialogs/preview_toggle.h"
#include "gui/qt_ui.h"
#include "views/context_menus.h"
#include "views/wave_views.h"

#include <QMainWindow>

#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QShortcut;
class QTimer;

namespace sonavik {

struct Workspace;
class BigButton;
class HistoryWindow;
class MainArea;
class PulseWaveIn;
class PulseWaveOut;
class SmallButton;
class SpectrogramWindow;
struct Spectrogram;
class WaveView;

class MainWindow : public QMainWindow, public MainWindowShell, public WaveViewHost, public EditHost {
    Q_OBJECT
public:
    // uiOverride replaces the Qt message boxes and file dialogs (scripted tests, screenshot mode); it
    // should pass title and status texts on to qtUi().
    // output and input replace the sound server's devices (tests); the window does not own them.
    explicit MainWindow(Workspace& ws, Ui* uiOverride = nullptr, WaveOut* output = nullptr, WaveIn* input = nullptr);
    ~MainWindow() override;

    MainController& controller() { return controller_; }
    WaveViews& views() { return views_; }
    QtUi& qtUi() { return qtUi_; }
    QLabel* statusLabel(int part) const { return status_[part]; }
    WaveView* waveView(int channel) const { return waveViews_[channel == 1 ? 1 : 0]; }
    BigButton* bigButton(int index) const { return bigButtons_[index]; }
    SmallButton* smallButton(int channel, int index) const { return smallButtons_[channel == 1 ? 1 : 0][index]; }
    bool documentButtonsEnabled() const { return documentButtonsEnabled_; }
    Player& player() { return player_; }
    Recorder& recorder() { return recorder_; }

    // MainWindowShell
    bool layoutForDocument() override;
    void redrawViews() override;
    void setDocumentButtonsEnabled(bool enabled) override;
    std::optional<ViewClientSize> viewClientSize(int channel) const override;
    void destroyWindow() override;
    void setPlaybackRunning(bool running) override;

    // WaveViewHost
    void pictureChanged(int channel) override;
    void setViewCursor(int channel, CursorKind cursor) override;
    void setScrollBars(int channel, const ScrollBarValues& bars) override;
    void setMouseCapture(int channel, bool captured) override;
    void openRedSelectionMenu(int channel) override;
    void openSelectionMenu(int channel, int slot) override;

    // EditHost
    bool askParameters(int commandId) override;
    bool askParametersFor(int commandId, int target, int slot) override;
    // The command's dialog; preview lets a curve dialog play its edit (null: no "試聴").
    bool showParameterDialog(int commandId, const PreviewTarget* preview);
    // Runs the analysis as a long edit (progress and "中止" as for the edits); each finished
    // spectrogram opens its window.
    void analyseRegions(const std::vector<EditRegion>& regions, int channelCount) override;
    std::optional<int> viewClientWidth(int channel) const override;
    // Starts the edit on worker threads and returns false at once; the window stays usable, shows the
    // progress with a "中止" button beside it, and finishes the edit when the workers are done.
    bool runLongEdit(Workspace& ws, Ui& ui, int commandId, int target, int slot) override;

    bool longEditRunning() const { return longEdit_ != nullptr; }
    // Shows the progress of an edit already started (the spectrogram write-back) and finishes it.
    void watchLongEdit(std::unique_ptr<LongEdit> edit);
    // Esc and "中止": the workers stop and the sound stays as it was.
    void cancelLongEdit();
    // A terminate signal: a running edit is stopped first, then the window closes as its close
    // button closes it.
    void closeForSignal();
    QPushButton* cancelButton() const { return cancelButton_; }
    // Tests: thread count and a hook on the workers for the edits started from now on.
    void setLongEditOptions(LongEditOptions options) { longEditOptions_ = std::move(options); }

    // Runs an edit of the menu bar or a big button: "処理の対象" first, then the dispatcher.
    bool runMenuEdit(int commandId);

    // The spectrogram windows still open, oldest first.
    std::vector<SpectrogramWindow*> spectrogramWindows() const;
    // Answers the FFT settings dialog with OK without showing it (screenshots, tests).
    void answerFftDialog(bool ok) { fftDialogAnswer_ = ok ? 1 : 0; }
    // Where "選択範囲を再生" hands its sound: the playback engine (tests replace it).
    std::function<void(const SoundDocument&)> playScratchSound;

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    void createSmallButtons(int channel);
    void placeChildren(bool rightJustCreated = false);
    int popupMenu(const std::vector<MenuEntry>& entries);
    void showHistoryWindow();
    void applyViewUpdate(ViewUpdate update);
    int viewWidth(int channel) const;
    void connectAudio();
    void movePlayLine();
    void pollLongEdit();
    void finishLongEdit();
    void openSpectrogramWindow(std::unique_ptr<Spectrogram> spectrogram, const std::string& title);

    Workspace& ws_;
    QtUi qtUi_;
    Ui& ui_;
    MainController controller_;
    WaveViews views_;
    // The sound devices outlive the engines that use them.
    std::unique_ptr<PulseWaveOut> pulseOutput_;
    std::unique_ptr<PulseWaveIn> pulseInput_;
    WaveOut& output_;
    WaveIn& input_;
    Player player_;
    Recorder recorder_;
    QTimer playLineTimer_;
    MainArea* area_ = nullptr;
    std::array<WaveView*, 2> waveViews_{};
    std::array<BigButton*, 6> bigButtons_{};
    std::array<std::array<SmallButton*, 6>, 2> smallButtons_{};
    QLabel* status_[2] = {nullptr, nullptr};
    std::vector<QPointer<SpectrogramWindow>> spectrogramWindows_;
    QPointer<HistoryWindow> historyWindow_;
    int fftDialogAnswer_ = -1;
    std::unique_ptr<LongEdit> longEdit_;
    LongEditOptions longEditOptions_;
    QTimer* longEditTimer_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QShortcut* cancelKey_ = nullptr;
    bool documentButtonsEnabled_ = false;
    bool destroying_ = false;
    bool closed_ = false;
};

} // namespace sonavik
