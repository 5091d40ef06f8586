#include "gui/history_window.h"

#include "app/history_list.h"
#include "history/edit_history.h"

#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace sonavik {

HistoryWindow::HistoryWindow(QWidget* owner, std::function<bool(int)> goTo)
    : QWidget(owner, Qt::Tool), goTo_(std::move(goTo))
{
    setWindowTitle(QString::fromUtf8("編集履歴"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    goButton_ = new QPushButton(QString::fromUtf8("この状態に戻す"), this);
    goButton_->setAutoDefault(false);
    layout->addWidget(list_);
    layout->addWidget(goButton_);
    // Enter and a double click both activate the chosen line.
    connect(list_, &QListWidget::itemActivated, this, [this] { goToChosen(); });
    connect(goButton_, &QPushButton::clicked, this, [this] { goToChosen(); });
    resize(420, 360);
    list_->setFocus();
}

void HistoryWindow::refresh(const EditHistory* history)
{
    list_->clear();
    if (!history || !history->active())
        return;
    for (const HistoryRow& row : historyRows(*history)) {
        auto* item = new QListWidgetItem(QString::fromUtf8((row.current ? "▶ " : "　 ") + row.text), list_);
        item->setData(Qt::UserRole, row.state);
        if (row.current)
            list_->setCurrentItem(item);
    }
}

void HistoryWindow::focusList() { list_->setFocus(); }

void HistoryWindow::goToChosen()
{
    const QListWidgetItem* item = list_->currentItem();
    if (item && goTo_)
        goTo_(item->data(Qt::UserRole).toInt());
}

} // namespace sonavik
