#pragma once
// "編集履歴": a tool window of the main window listing every state of the open sound. The list has the
// focus; Up/Down/Home/End choose a state, Enter, a double click or "この状態に戻す" make the document it.
// Below, "履歴の上限": how many MB the history may hold on disk, 0 ("自動") for its default.

#include <QWidget>

#include <functional>

class QListWidget;
class QPushButton;
class QSpinBox;

namespace sonavik {

class EditHistory;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // goTo makes the document state k and returns whether it did.
    // setLimit takes the size limit in MB as the user leaves it (limitMiB is the one shown first).
    HistoryWindow(QWidget* owner, std::function<bool(int)> goTo, int limitMiB, std::function<void(int)> setLimit);
    // Shows the rows of history (nothing when null), the current state chosen.
    void refresh(const EditHistory* history);
    QListWidget* list() const { return list_; }
    void focusList();
    QPushButton* goButton() const { return goButton_; }
    QSpinBox* limitBox() const { return limit_; }

private:
    void goToChosen();

    std::function<bool(int)> goTo_;
    QListWidget* list_ = nullptr;
    QPushButton* goButton_ = nullptr;
    QSpinBox* limit_ = nullptr;
};

} // namespace sonavik
