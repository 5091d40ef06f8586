#include "gui/main_window.h"

#include "app/layout.h"
#include "app/main_menu.h"
#include "app/workspace.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>


namespace sonavik {

MainWindow::MainWindow(Workspace& ws, Ui* uiOverride)
    : ws_(ws), qtUi_(this), controller_(ws, uiOverride ? *uiOverride : static_cast<Ui&>(qtUi_), *this)
{
    setObjectName("Wave");
    setWindowTitle(kAppCaption);
    buildMenus();

    // The status bar: two halves, the left one starting with the program's name.
    QFont uiFont = font();
    uiFont.setPixelSize(12);
    statusBar()->setFont(uiFont);
    statusBar()->setSizeGripEnabled(true);
    for (int part = 0; part < 2; ++part) {
        status_[part] = new QLabel(this);
        status_[part]->setFont(uiFont);
        status_[part]->setMinimumWidth(1);
        statusBar()->addWidget(status_[part], 1);
    }
    status_[0]->setText(kAppCaption);
    qtUi_.setStatusLabels(status_[0], status_[1]);
    ws_.settings.statusBarHeight = statusBar()->sizeHint().height();

    area_ = new QWidget(this);
    area_->setObjectName("area");
    setCentralWidget(area_);
    views_[0] = new QWidget(area_);
    views_[0]->setObjectName("L Wave");

    // Position and size come from the settings, which may hold anything: keep them on a usable scale.
    const WindowGeometry g = clampWindowGeometry(ws_.settings);
    move(g.x, g.y);
    resize(g.width, g.height + menuBar()->sizeHint().height());
    placeChildren();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus()
{
    for (const Menu& menu : mainMenu()) {
        QMenu* m = menuBar()->addMenu(QString::fromUtf8(menu.title));
        for (const MenuItem& item : menu.items) {
            if (item.id == 0) {
                m->addSeparator();
                continue;
            }
            QAction* action = m->addAction(QString::fromUtf8(item.text));
            action->setData(item.id);
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { controller_.command(id); });
        }
    }
}

void MainWindow::placeChildren()
{
    const bool stereo = views_[1] != nullptr;
    const MainLayout layout = computeLayout(ws_.settings, stereo);
    // The layout counts from the top of the client area below the menu; the central widget starts there.
    views_[0]->setGeometry(layout.leftView.x, layout.leftView.y, layout.leftView.width, layout.leftView.height);
    if (views_[1])
        views_[1]->setGeometry(layout.rightView.x, layout.rightView.y, layout.rightView.width, layout.rightView.height);
}

bool MainWindow::layoutForDocument()
{
    if (!views_[0])
        return false;
    const SoundDocument& doc = ws_.document;
    const bool wantRight = doc.hasData() && doc.format.nChannels == 2;
    if (wantRight && !views_[1]) {
        views_[1] = new QWidget(area_);
        views_[1]->setObjectName("R Wave");
        views_[1]->show();
    } else if (!wantRight && views_[1]) {
        delete views_[1];
        views_[1] = nullptr;
    }
    placeChildren();
    return true;
}

void MainWindow::redrawViews()
{
    for (QWidget* view : views_)
        if (view)
            view->update();
}

void MainWindow::setDocumentButtonsEnabled(bool enabled) { documentButtonsEnabled_ = enabled; }

std::optional<ViewClientSize> MainWindow::viewClientSize(int channel) const
{
    if (channel < 0 || channel > 1 || !views_[channel])
        return std::nullopt;
    return ViewClientSize{views_[channel]->width(), views_[channel]->height()};
}

void MainWindow::destroyWindow()
{
    destroying_ = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!closed_) {
        if (!destroying_)
            controller_.onClose();
        controller_.onDestroy();
        closed_ = true;
    }
    event->accept();
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    ws_.settings.windowX = x();
    ws_.settings.windowY = y();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    ws_.settings.clientWidth = width();
    ws_.settings.clientHeight = height() - menuBar()->sizeHint().height();
    placeChildren();
}

} // namespace sonavik
