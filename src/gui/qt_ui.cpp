#include "gui/qt_ui.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QInputDialog>
#include <QRadioButton>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>

namespace sonavik {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QString filterOf(const std::string& filterName, const std::string& pattern)
{
    // Qt reads the patterns from the last parentheses of a filter.
    QString name = q(filterName);
    if (name.endsWith(')'))
        return name;
    return name + " (" + q(pattern) + ")";
}

QStringList filtersOf(const FileDialogRequest& r)
{
    QStringList list;
    for (const FileFilter& f : r.filters)
        list << filterOf(f.name, f.pattern);
    if (list.isEmpty())
        list << filterOf(r.filterName, r.filterPattern);
    return list;
}

QString startOf(const FileDialogRequest& r)
{
    if (r.initialName.empty())
        return q(r.initialDir);
    return QDir(q(r.initialDir)).filePath(q(r.initialName));
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
    QString chosen = QFileDialog::getOpenFileName(window_, q(r.title), q(r.initialDir), filtersOf(r).join(";;"));
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

std::optional<std::string> QtUi::saveFileName(const FileDialogRequest& r)
{
    QFileDialog::Options options;
    if (!r.confirmOverwrite)
        options |= QFileDialog::DontConfirmOverwrite;
    const QStringList filters = filtersOf(r);
    QString selected = filters.front();
    QString chosen
        = QFileDialog::getSaveFileName(window_, q(r.title), startOf(r), filters.join(";;"), &selected, options);
    if (chosen.isEmpty())
        return std::nullopt;
    lastFilter_ = std::max<int>(0, static_cast<int>(filters.indexOf(selected)));
    return chosen.toStdString();
}

std::optional<ChannelChoice> QtUi::chooseChannels(int channelCount)
{
    QDialog dialog(window_);
    dialog.setWindowTitle("チャンネルの選択");
    auto* grid = new QGridLayout(&dialog);
    grid->addWidget(new QLabel(QString("このファイルには %1 チャンネルあります。").arg(channelCount)), 0, 0, 1, 3);
    auto* pair = new QRadioButton("チャンネルを選ぶ");
    auto* mono = new QRadioButton("すべてをモノラルにミックス");
    auto* stereo = new QRadioButton("すべてをステレオにミックス");
    pair->setChecked(true);
    QComboBox* sides[2] = {new QComboBox, new QComboBox};
    for (int side = 0; side < 2; ++side) {
        for (int c = 1; c <= channelCount; ++c)
            sides[side]->addItem(QString::number(c));
        sides[side]->setCurrentIndex(side);
    }
    grid->addWidget(pair, 1, 0);
    grid->addWidget(new QLabel("左"), 1, 1);
    grid->addWidget(sides[0], 1, 2);
    grid->addWidget(new QLabel("右"), 2, 1);
    grid->addWidget(sides[1], 2, 2);
    grid->addWidget(mono, 3, 0, 1, 3);
    grid->addWidget(stereo, 4, 0, 1, 3);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    grid->addWidget(buttons, 5, 0, 1, 3);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    ChannelChoice choice;
    choice.kind = mono->isChecked()     ? ChannelChoice::Kind::MixMono
                  : stereo->isChecked() ? ChannelChoice::Kind::MixStereo
                                        : ChannelChoice::Kind::Pair;
    choice.left = sides[0]->currentIndex() + 1;
    choice.right = sides[1]->currentIndex() + 1;
    return choice;
}

std::optional<int> QtUi::askExportQuality(int current)
{
    bool ok = false;
    const int quality = QInputDialog::getInt(window_, "音質", "音質 (0 = 最小のファイル, 10 = 最高の音質):", current, 0, 10,
                                             1, &ok);
    if (!ok)
        return std::nullopt;
    return quality;
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
