#pragma once
// The Ui of the real program: Qt message boxes, file dialogs, beeps, cursors, and the main window's
// status bar and title.

#include "platform/ui.h"

#include <QPointer>

class QLabel;
class QWidget;

namespace sonavik {

class QtUi : public Ui {
public:
    // window may be null until the main window exists; boxes then have no owner.
    explicit QtUi(QWidget* window = nullptr) : window_(window) {}
    void setWindow(QWidget* window) { window_ = window; }
    void setStatusLabels(QLabel* left, QLabel* right);

    MessageAnswer messageBox(const MessageRequest& request) override;
    void beep(BeepKind kind) override;
    std::optional<std::string> openFileName(const FileDialogRequest& request) override;
    std::optional<std::string> saveFileName(const FileDialogRequest& request) override;
    void setCursor(CursorKind cursor) override;
    void setStatusText(int part, const std::string& text) override;
    void setTitle(const std::string& title) override;
    int lastFilterIndex() const override { return lastFilter_; }
    std::optional<ChannelChoice> chooseChannels(int channelCount) override;
    std::optional<int> askExportQuality(int current) override;

private:
    int lastFilter_ = 0;
    QPointer<QWidget> window_;
    QPointer<QLabel> status_[2];
    int waitCursors_ = 0;
};

} // namespace sonavik
