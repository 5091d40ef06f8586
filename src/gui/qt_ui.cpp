#include "gui/qt_ui.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

namespace sonavik {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QString filterOf(const FileDialogRequest& r)
{
    // Qt reads the patterns from the last parentheses of a filter.
    QString name = q(r.filterName);
    if (name.endsWith(')'))
        return name;
    return name + " (" + q(r.filterPattern) + ")";
}

} // namespace

void QtUi::setStatusLabels(QLabel* left, QLabel* right)
{
    status_[0] = left;
    status_[1] = right;
}

MessageAnswer QtUi::messageBox(const MessageRequest& r)
{
    QWidget* owner = r.owner == MessageOwner::MainWindow ? window_.data() : nullptr;
    QMessageBox box(r.icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, q(r.caption),
                    q(r.text), r.buttons == MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    owner);
    if (r.buttons == MessageButtons::YesNo)
        box.setDefaultButton(QMessageBox::Yes);
    const int answer = box.exec();
    if (r.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

void QtUi::beep(BeepKind) { QApplication::beep(); }

std::optional<std::string> QtUi::openFileName(const FileDialogRequest& r)
{
    QString chosen = QFileDialog::getOpenFileName(window_, q(r.title), q(r.initialDir), filterOf(r));
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

std::optional<std::string> QtUi::saveFileName(const FileDialogRequest& r)
{
    QFileDialog::Options options;
    if (!r.confirmOverwrite)
        options |= QFileDialog::DontConfirmOverwrite;
    QString chosen = QFileDialog::getSaveFileName(window_, q(r.title), q(r.initialDir), filterOf(r), nullptr, options);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

void QtUi::setCursor(CursorKind cursor)
{
    // The wait cursor covers the whole program while an edit blocks; any other cursor ends it.
    if (cursor == CursorKind::Wait) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++waitCursors_;
        return;
    }
    while (waitCursors_ > 0) {
        QApplication::restoreOverrideCursor();
        --waitCursors_;
    }
}

void QtUi::setStatusText(int part, const std::string& text)
{
    if (part < 0 || part > 1 || !status_[part])
        return;
    status_[part]->setText(q(text));
    // Progress texts are shown while an edit blocks the event loop, so paint now.
    status_[part]->repaint();
}

void QtUi::setTitle(const std::string& title)
{
    if (window_)
        window_->setWindowTitle(q(title));
}

} // namespace sonavik
