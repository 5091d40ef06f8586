#include "gui/history_window.h"

#include "app/history_list.h"
#include "history/edit_history.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace sonavik {

namespace {

// A terabyte: more than any disk the history would be kept on.
constexpr int kMaxLimitMiB = 1 << 20;

} // namespace

HistoryWindow::HistoryWindow(QWidget* owner, std::function<bool(int)> goTo, int limitMiB, std::function<void(int)> setLimit)
    : QWidget(owner, Qt::Tool), goTo_(std::move(goTo))
{
    setWindowTitle(QString::fromUtf8("編集履歴"));
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    goButton_ = new QPushButton(QString::fromUtf8("この状態に戻す"), this);
    goButton_->setAutoDefault(false);
    layout->addWidget(list_);
    layout->addWidget(goButton_);
    auto* limitRow = new QHBoxLayout;
    auto* limitLabel = new QLabel(QString::fromUtf8("履歴の上限"), this);
    limit_ = new QSpinBox(this);
    limit_->setRange(0, kMaxLimitMiB);
    limit_->setSuffix(QString::fromUtf8(" MB"));
    limit_->setSpecialValueText(QString::fromUtf8("自動"));
    limit_->setValue(std::clamp(limitMiB, 0, kMaxLimitMiB));
    // A limit typed digit by digit would drop states at each digit: it counts once it is entered.
    limit_->setKeyboardTracking(false);
    limitLabel->setBuddy(limit_);
    limitRow->addWidget(limitLabel);
    limitRow->addWidget(limit_);
    limitRow->addStretch();
    layout->addLayout(limitRow);
    if (setLimit)
        connect(limit_, &QSpinBox::valueChanged, this, [setLimit](int mib) { setLimit(mib); });
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
