#include "gui/spectrogram_window.h"

#include "app/desktop_hints.h"
#include "document/workspace.h"
#include "gui/buttons.h"
#include "gui/dialogs/harmonics_dialog.h"
#include "gui/dialogs/resynthesis_dialog.h"
#include "gui/scroll_bar_action.h"
#include "platform/ui.h"
#include "spectrogram/resynthesis.h"
#include "spectrogram/selection_sound.h"
#include "spectrogram/spectral_edits.h"
#include "spectrogram/spectrogram.h"
#include "spectrogram/spectrogram_export.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>

#include <algorithm>

namespace sonavik {

namespace {

Rgb rgbOf(const QColor& c)
{
    return {static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()), static_cast<std::uint8_t>(c.blue())};
}

} // namespace

StripColours stripColoursFromPalette()
{
    const QPalette p = QApplication::palette();
    StripColours c;
    c.face = rgbOf(p.color(QPalette::Button));
    c.shadow = rgbOf(p.color(QPalette::Dark));
    c.highlight = rgbOf(p.color(QPalette::Light));
    c.text = rgbOf(p.color(QPalette::WindowText));
    return c;
}

SpectrogramCanvas::SpectrogramCanvas(SpectrogramWindow& window, QWidget* parent) : QWidget(parent), window_(window)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SpectrogramCanvas::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const PixelImage& picture = window_.view().picture();
    if (picture.empty())
        return;
    const QImage image(picture.data(), picture.width(), picture.height(), static_cast<qsizetype>(picture.stride()),
                       QImage::Format_BGR888);
    painter.setTransform(QTransform(1, 0, 0, -1, 0, picture.height()));
    painter.drawImage(0, 0, image);
}

void SpectrogramCanvas::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    window_.view().resize(width(), height());
    window_.placeButtons();
    window_.syncBars();
    update();
}

void SpectrogramCanvas::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        window_.view().leftPress(p.x(), p.y());
        update();
    }
}

void SpectrogramCanvas::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    window_.view().mouseMove(p.x(), p.y());
    update();
}

void SpectrogramCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        window_.view().leftRelease(p.x(), p.y());
        update();
    } else if (event->button() == Qt::RightButton) {
        if (window_.view().rightRelease(p.x(), p.y()))
            window_.runMenu();
    }
}

void SpectrogramCanvas::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    window_.view().pointerLeft();
}

SpectrogramWindow::SpectrogramWindow(std::unique_ptr<Spectrogram> spectrogram, const std::string& title, Workspace& ws,
                                     Ui& ui, QWidget* owner)
    : QWidget(owner, Qt::Tool), ws_(ws), ui_(ui), spectrogram_(std::move(spectrogram))
{
    setObjectName("fft");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromStdString(title));
    view_ = std::make_unique<SpectrogramView>(*spectrogram_, ws_, ui_, stripColoursFromPalette());

    canvas_ = new SpectrogramCanvas(*this, this);
    hBar_ = new QScrollBar(Qt::Horizontal, this);
    vBar_ = new QScrollBar(Qt::Vertical, this);
    for (QScrollBar* bar : {hBar_, vBar_}) {
        bar->setRange(0, 0);
        const bool horizontal = bar == hBar_;
        connect(bar, &QScrollBar::actionTriggered, this,
                [this, bar, horizontal](int action) { onBarAction(bar, action, horizontal); });
    }
    const auto& buttonTable = spectrogramButtons();
    for (std::size_t i = 0; i < buttonTable.size() && i < buttons_.size(); ++i) {
        const SpectrogramButton& entry = buttonTable[i];
        auto* b = new SmallButton(QString::fromLatin1(entry.caption), entry.command, entry.picture, canvas_);
        b->setToolTip(QString::fromUtf8(buttonToolTip(entry.command)));
        const int id = entry.command;
        connect(b, &QPushButton::clicked, this, [this, id] { runCommand(id); });
        buttons_[i] = b;
    }
    move(0, 0);
    resize(400, 400);
    layoutChildren();
}

SpectrogramWindow::~SpectrogramWindow()
{
    // The buttons and the canvas go before the view they forward to.
    delete canvas_;
    canvas_ = nullptr;
    view_.reset();
}

SmallButton* SpectrogramWindow::button(int command) const
{
    for (SmallButton* b : buttons_)
        if (b && b->commandId() == command)
            return b;
    return nullptr;
}

void SpectrogramWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void SpectrogramWindow::layoutChildren()
{
    if (!canvas_)
        return;
    const int barW = vBar_->sizeHint().width();
    const int barH = hBar_->sizeHint().height();
    const int w = std::max(0, width() - barW);
    const int h = std::max(0, height() - barH);
    vBar_->setGeometry(w, 0, barW, h);
    hBar_->setGeometry(0, h, w, barH);
    canvas_->setGeometry(0, 0, w, h);
}

void SpectrogramWindow::placeButtons()
{
    const int half = view_->buttonsWidth() / 2;
    const int height = std::max(0, view_->buttonHeight());
    const auto& buttonTable = spectrogramButtons();
    for (std::size_t i = 0; i < buttonTable.size() && i < buttons_.size(); ++i) {
        buttons_[i]->setGeometry(buttonTable[i].column * half, buttonTable[i].row * height, half, height);
        buttons_[i]->update();
    }
}

void SpectrogramWindow::syncBars()
{
    settingBars_ = true;
    for (QScrollBar* bar : {hBar_, vBar_}) {
        const ScrollBarState& s = bar == hBar_ ? view_->horizontalBar() : view_->verticalBar();
        showScrollBar(bar, 0, s.max, s.page, s.pos);
    }
    settingBars_ = false;
}

void SpectrogramWindow::onBarAction(QScrollBar* bar, int action, bool horizontal)
{
    if (settingBars_)
        return;
    int thumb = 0;
    const ScrollRequest request = scrollRequestOf(bar, action, thumb);
    if (request != ScrollRequest::Other)
        view_->scroll(horizontal, request, thumb);
    // The core decides where the thumb goes; a request it ignores leaves it where it was.
    syncBars();
    settingBars_ = true;
    bar->setSliderPosition(bar->value());
    settingBars_ = false;
    canvas_->update();
}

void SpectrogramWindow::runCommand(int id)
{
    handle(view_->command(id));
    syncBars();
    canvas_->update();
}

void SpectrogramWindow::runMenu()
{
    int id = 0;
    if (chooseMenuItem) {
        id = chooseMenuItem();
    } else {
        QMenu menu(this);
        for (const SpectrogramMenuItem& item : spectrogramMenu()) {
            if (item.id == 0) {
                menu.addSeparator();
                continue;
            }
            QAction* action = menu.addAction(QString::fromUtf8(item.text));
            action->setData(item.id);
            // 倍音も is a toggle: ticked while the next edit is to take the harmonics.
            if (item.id == spectrogram_cmd::Harmonics) {
                action->setCheckable(true);
                action->setChecked(view_->harmonicsOn());
            }
        }
        QAction* chosen = menu.exec(QCursor::pos());
        id = chosen ? chosen->data().toInt() : 0;
    }
    if (id == 0)
        return;
    // A write-back on worker threads reads the spectra until it is finished, and no sound plays
    // while an edit runs.
    if ((spectralEditOfCommand(id) || id == spectrogram_cmd::PlaySelection) && refusedForLongEdit(ws_, ui_))
        return;
    handle(view_->menuCommand(id));
    canvas_->update();
}

void SpectrogramWindow::handle(SpectrogramAction action)
{
    switch (action) {
    case SpectrogramAction::SaveBitmap:
        saveSpectrogramBitmap(ui_, ws_.settings, *spectrogram_);
        break;
    case SpectrogramAction::SaveSpectra:
        saveSpectrogramSpectra(ui_, ws_.settings, *spectrogram_);
        break;
    case SpectrogramAction::Resynthesize:
        resynthesize();
        break;
    case SpectrogramAction::PlaySelection:
        playSelection();
        break;
    case SpectrogramAction::AskHarmonics:
        if (showHarmonicsDialog(ws_.settings, this))
            view_->setHarmonics(true);
        break;
    case SpectrogramAction::None:
        break;
    }
}

void SpectrogramWindow::resynthesize()
{
    const auto ask = [this] { return askResynthesisOptions ? askResynthesisOptions() : showResynthesisDialog(ws_, ui_, this); };
    const int written = writeBack ? writeBack(*spectrogram_, ask) : runResynthesis(ws_, ui_, *spectrogram_, ask);
    // The document is marked modified even when nothing was written, so the title changes either way.
    if (documentChanged)
        documentChanged(written);
}

void SpectrogramWindow::playSelection()
{
    SoundDocument sound;
    if (!selectionSound(*spectrogram_, ui_, sound))
        return;
    if (playSound)
        playSound(sound);
}

void SpectrogramWindow::closeEvent(QCloseEvent* event)
{
    // The spectra this window owns may be what a running write-back reads.
    if (ws_.longEditRunning) {
        ui_.beep(BeepKind::Error);
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

QImage SpectrogramWindow::clientPicture() { return canvas_->grab().toImage(); }

} // namespace sonavik
