#pragma once
// The main window "Wave": menu bar, view area and the two-part status bar. It forwards every command
// to MainController and carries out what the controller asks of it.

#include "app/main_controller.h"
#include "gui/qt_ui.h"

#include <QMainWindow>

class QLabel;

namespace sonavik {

struct Workspace;

class MainWindow : public QMainWindow, public MainWindowShell {
    Q_OBJECT
public:
    // uiOverride replaces the Qt message boxes and file dialogs (scripted tests, screenshot mode); it
    // should pass title and status texts on to qtUi().
    explicit MainWindow(Workspace& ws, Ui* uiOverride = nullptr);
    ~MainWindow() override;

    MainController& controller() { return controller_; }
    QtUi& qtUi() { return qtUi_; }
    QLabel* statusLabel(int part) const { return status_[part]; }
    bool documentButtonsEnabled() const { return documentButtonsEnabled_; }

    bool layoutForDocument() override;
    void redrawViews() override;
    void setDocumentButtonsEnabled(bool enabled) override;
    std::optional<ViewClientSize> viewClientSize(int channel) const override;
    void destroyWindow() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    void placeChildren();

    Workspace& ws_;
    QtUi qtUi_;
    MainController controller_;
    QWidget* area_ = nullptr;
    QWidget* views_[2] = {nullptr, nullptr};
    QLabel* status_[2] = {nullptr, nullptr};
    bool documentButtonsEnabled_ = false;
    bool destroying_ = false;
    bool closed_ = false;
};

} // namespace sonavik
