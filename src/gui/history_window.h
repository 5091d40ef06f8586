#pragma once
// "編集履歴": a tool window of the main window listing every state of the open sound. The list has the
// focus; Up/Down/Home/End choose a state, Enter, a double click or "この状態に戻す" make the document it.

#include <QWidget>

#include <functional>

class QListWidget;
class QPushButton;

namespace sonavik {

class EditHistory;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // goTo makes the document state k and returns whether it did.
    HistoryWindow(QWidget* owner, std::function<bool(int)> goTo);
    // Shows the rows of history (nothing when null), the current state chosen.
    void refresh(const EditHistory* history);
    QListWidget* list() const { return list_; }
    void focusList();
    QPushButton* goButton() const { return goButton_; }

private:
    void goToChosen();

    std::function<bool(int)> goTo_;
    QListWidget* list_ = nullptr;
    QPushButton* goButton_ = nullptr;
};

} // namespace sonavik
