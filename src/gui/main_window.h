#pragma once
// The main window "Wave": menu bar, toolbar of big buttons, the small view buttons, one or two
// waveform views and the two-part status bar. It forwards every command to MainController, every
// view event to WaveViews, and carries out what they ask of it.

#include "app/main_controller.h"
#include "edit/edit_dispatcher.h"
#include "gui/qt_ui.h"
#include "views/context_menus.h"
#include "views/wave_views.h"

#include <QMainWindow>

#include <array>
#include <functional>

class QLabel;

namespace sonavik {

struct Workspace;
class BigButton;
class MainArea;
class SmallButton;
class WaveView;

class MainWindow : public QMainWindow, public MainWindowShell, public WaveViewHost, public EditHost {
    Q_OBJECT
public:
    // uiOverride replaces the Qt message boxes and file dialogs (scripted tests, screenshot mode); it
    // should pass title and status texts on to qtUi().
    explicit MainWindow(Workspace& ws, Ui* uiOverride = nullptr);
    ~MainWindow() override;

    MainController& controller() { return controller_; }
    WaveViews& views() { return views_; }
    QtUi& qtUi() { return qtUi_; }
    QLabel* statusLabel(int part) const { return status_[part]; }
    WaveView* waveView(int channel) const { return waveViews_[channel == 1 ? 1 : 0]; }
    BigButton* bigButton(int index) const { return bigButtons_[index]; }
    SmallButton* smallButton(int channel, int index) const { return smallButtons_[channel == 1 ? 1 : 0][index]; }
    bool documentButtonsEnabled() const { return documentButtonsEnabled_; }

    // MainWindowShell
    bool layoutForDocument() override;
    void redrawViews() override;
    void setDocumentButtonsEnabled(bool enabled) override;
    std::optional<ViewClientSize> viewClientSize(int channel) const override;
    void destroyWindow() override;

    // WaveViewHost
    void pictureChanged(int channel) override;
    void setViewCursor(int channel, CursorKind cursor) override;
    void setScrollBars(int channel, const ScrollBarValues& bars) override;
    void setMouseCapture(int channel, bool captured) override;
    void openRedSelectionMenu(int channel) override;
    void openSelectionMenu(int channel, int slot) override;

    // EditHost
    bool askParameters(int commandId) override;
    std::optional<int> viewClientWidth(int channel) const override;

    // Runs an edit of the menu bar or a big button: "処理の対象" first, then the dispatcher.
    bool runMenuEdit(int commandId);

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
    void applyViewUpdate(ViewUpdate update);
    int viewWidth(int channel) const;

    Workspace& ws_;
    QtUi qtUi_;
    Ui& ui_;
    MainController controller_;
    WaveViews views_;
    MainArea* area_ = nullptr;
    std::array<WaveView*, 2> waveViews_{};
    std::array<BigButton*, 6> bigButtons_{};
    std::array<std::array<SmallButton*, 6>, 2> smallButtons_{};
    QLabel* status_[2] = {nullptr, nullptr};
    bool documentButtonsEnabled_ = false;
    bool destroying_ = false;
    bool closed_ = false;
};

} // namespace sonavik
