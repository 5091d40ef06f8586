#include "gui/main_window.h"

#include "app/desktop_hints.h"
#include "app/layout.h"
#include "app/main_menu.h"
#include "document/workspace.h"
#include "edit/response_chooser.h"
#include "formats/sound_files.h"
#include "gui/buttons.h"
#include "gui/history_window.h"
#include "gui/dialogs/coarsen_dialog.h"
#include "gui/dialogs/equalizer_dialog.h"
#include "gui/dialogs/fft_dialog.h"
#include "gui/dialogs/nonlinear_dialog.h"
#include "gui/dialogs/parameter_dialog.h"
#include "gui/dialogs/preview_toggle.h"
#include "gui/dialogs/playback_dialog.h"
#include "gui/dialogs/record_dialog.h"
#include "gui/dialogs/reverb_dialog.h"
#include "gui/dialogs/standby_dialog.h"
#include "gui/dialogs/target_dialog.h"
#include "gui/resources.h"
#include "gui/spectrogram_window.h"
#include "gui/wave_view.h"
#include "audio/play_position.h"
#include "pulse/pulse_wave_device.h"
#include "spectrogram/resynthesis.h"
#include "spectrogram/spectrogram_analysis.h"
#include "spectrogram/analysis_long_edit.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QMenu>
#include <QLabel>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>

namespace sonavik {

namespace {

struct SmallButtonSpec {
    const char* leftText;
    const char* rightText;
    int leftCommand;
    int picture;
};

// Fit, vertical zoom in and out, centre on 0, horizontal zoom in and out.
constexpr SmallButtonSpec kSmallButtons[6] = {
    {"LK", "RK", 40301, 306}, {"LU", "RU", 40302, 305}, {"LD", "RD", 40303, 304},
    {"LF", "RF", 40304, 307}, {"LR", "RR", 40305, 303}, {"LL", "RL", 40306, 302},
};
constexpr int kRightCommandOffset = 40309 - 40301;
// "読込", "保存", "再生", "録音", "ﾘﾊﾞｰﾌﾞ", "ｲｺﾗｲｻﾞ": the third one's label follows playback.
constexpr int kPlayButtonIndex = 2;

// The sound devices' notifications, run by the window's event loop.
PostToUi postToWindow(QObject* window)
{
    return [window](std::function<void()> task) { QMetaObject::invokeMethod(window, std::move(task), Qt::QueuedConnection); };
}

void place(QWidget* widget, const Rect& r)
{
    if (widget)
        widget->setGeometry(r.x, r.y, r.width, r.height);
}

void place(WaveView* view, const Rect& r)
{
    if (!view)
        return;
    view->setGeometry(r.x, r.y, r.width, r.height);
    view->layoutChildren();
}

} // namespace

MainWindow::MainWindow(Workspace& ws, Ui* uiOverride, WaveOut* output, WaveIn* input)
    : ws_(ws),
      qtUi_(this),
      ui_(uiOverride ? *uiOverride : static_cast<Ui&>(qtUi_)),
      controller_(ws, ui_, *this),
      views_(ws, ui_, *this),
      pulseOutput_(output ? nullptr : std::make_unique<PulseWaveOut>(postToWindow(this))),
      pulseInput_(input ? nullptr : std::make_unique<PulseWaveIn>(postToWindow(this))),
      output_(output ? *output : static_cast<WaveOut&>(*pulseOutput_)),
      input_(input ? *input : static_cast<WaveIn&>(*pulseInput_)),
      player_(ws, ui_, output_),
      recorder_(ws, ui_, input_)
{
    setObjectName("Wave");
    setWindowTitle(kAppCaption);
    setWindowIcon(applicationIcon());
    setAcceptDrops(true);
    buildMenus();
    controller_.editHandler = [this](int id) { return runMenuEdit(id); };
    connectAudio();

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
    // Beside the progress of a long edit: stops it. Esc does the same.
    cancelButton_ = new QPushButton(QString::fromUtf8("中止"), this);
    cancelButton_->setFont(uiFont);
    cancelButton_->setFocusPolicy(Qt::NoFocus);
    // As narrow as its text, so that the progress beside it keeps its room.
    cancelButton_->setFixedWidth(QFontMetrics(uiFont).horizontalAdvance(cancelButton_->text()) + 16);
    cancelButton_->hide();
    statusBar()->addPermanentWidget(cancelButton_);
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancelLongEdit(); });
    cancelKey_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    cancelKey_->setEnabled(false);
    connect(cancelKey_, &QShortcut::activated, this, [this] { cancelLongEdit(); });
    longEditTimer_ = new QTimer(this);
    longEditTimer_->setInterval(50);
    connect(longEditTimer_, &QTimer::timeout, this, [this] { pollLongEdit(); });
    qtUi_.setStatusLabels(status_[0], status_[1]);
    ws_.settings.statusBarHeight = statusBar()->sizeHint().height();

    area_ = new MainArea(ws_.settings, this);
    setCentralWidget(area_);
    for (int i = 0; i < kBigButtonCount; ++i) {
        bigButtons_[i] = new BigButton(bigButtonSpecs()[i], area_);
        bigButtons_[i]->setToolTip(QString::fromUtf8(buttonToolTip(bigButtonSpecs()[i].commandId)));
        connect(bigButtons_[i], &BigButton::commandRequested, this, [this](int id) { controller_.command(id); });
    }
    createSmallButtons(0);
    waveViews_[0] = new WaveView(views_, 0, area_);

    // The window manager's title bar is not known before the window shows: allow a usual one.
    constexpr int kTitleBarAllowance = 32;
    std::vector<Rect> screens;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect r = screen->availableGeometry();
        screens.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    const WindowGeometry g = placeWindow(clampWindowGeometry(ws_.settings), screens,
                                         menuBar()->sizeHint().height() + kTitleBarAllowance);
    move(g.x, g.y);
    resize(g.width, g.height + menuBar()->sizeHint().height());
    placeChildren();
}

MainWindow::~MainWindow()
{
    // The workers write into a copy the edit owns; they stop before the window's parts go.
    longEdit_.reset();
    // The views' widgets go before the core they forward to.
    delete area_;
    area_ = nullptr;
}

void MainWindow::connectAudio()
{
    controller_.attachAudio(player_, recorder_);
    controller_.historyHandler = [this] { showHistoryWindow(); };
    controller_.historyChanged = [this] {
        if (historyWindow_)
            historyWindow_->refresh(ws_.history);
    };
    playScratchSound = [this](const SoundDocument& sound) {
        player_.playSound(std::make_shared<SoundDocument>(sound.copyWithSamples()));
    };
    controller_.playSettingsHandler = [this] {
        showPlaybackDialog(ws_, ui_, output_, [this] { controller_.refreshTitle(); }, this);
    };
    recorder_.hooks.settingsDialog = [this] { return showRecordDialog(ws_, ui_, input_, this); };
    recorder_.hooks.standby = [this] {
        StandbyDialog standby(recorder_, ws_, this);
        standby.exec();
    };
    // The space bar plays and stops as the big button "再生" does.
    auto* space = new QShortcut(QKeySequence(Qt::Key_Space), this);
    connect(space, &QShortcut::activated, this, [this] { controller_.command(cmd::PlayButton); });
    playLineTimer_.setInterval(30);
    connect(&playLineTimer_, &QTimer::timeout, this, &MainWindow::movePlayLine);
}

void MainWindow::setPlaybackRunning(bool running)
{
    for (int i = 0; i < kBigButtonCount; ++i) {
        if (i == kPlayButtonIndex)
            bigButtons_[i]->setLabel(QString::fromUtf8(running ? kStopLabel : kPlayLabel));
        else
            bigButtons_[i]->setEnabledState(!running);
    }
    if (running) {
        playLineTimer_.start();
        movePlayLine();
    } else {
        playLineTimer_.stop();
        views_.setPlayPosition(-1);
    }
}

void MainWindow::movePlayLine()
{
    // A spectrogram rectangle being heard has no place in the views.
    if (!player_.running() || player_.playingOtherSound()) {
        views_.setPlayPosition(-1);
        return;
    }
    // The server's clock knows the byte being heard; any other device, the buffers it has finished.
    const int block = ws_.document.format.nBlockAlign;
    const std::uint64_t played = pulseOutput_ ? pulseOutput_->playedBytes()
                                           : static_cast<std::uint64_t>(player_.framesPlayed()) * static_cast<std::uint64_t>(block);
    views_.setPlayPosition(playedFrame(player_.firstFrame(), player_.lastFrame(), played, block, player_.loops()));
}

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
            if (const char* keys = menuShortcut(item.id))
                action->setShortcut(QKeySequence(QString::fromLatin1(keys)));
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { controller_.command(id); });
        }
    }
}

void MainWindow::createSmallButtons(int channel)
{
    for (int i = 0; i < 6; ++i) {
        const SmallButtonSpec& spec = kSmallButtons[i];
        const int id = spec.leftCommand + (channel == 1 ? kRightCommandOffset : 0);
        auto* button = new SmallButton(channel == 1 ? spec.rightText : spec.leftText, id, spec.picture, area_);
        button->setToolTip(QString::fromUtf8(buttonToolTip(id)));
        connect(button, &QPushButton::clicked, this, [this, id] { controller_.command(id); });
        button->show();
        smallButtons_[channel][i] = button;
    }
}

void MainWindow::placeChildren(bool rightJustCreated)
{
    if (!area_)
        return;
    const MainLayout layout = computeLayout(ws_.settings, waveViews_[1] != nullptr, rightJustCreated);
    for (int i = 0; i < kBigButtonCount; ++i)
        place(bigButtons_[i], layout.bigButtons[i]);
    place(waveViews_[0], layout.leftView);
    place(waveViews_[1], layout.rightView);
    for (int i = 0; i < 6; ++i) {
        place(smallButtons_[0][i], layout.leftButtons[i]);
        place(smallButtons_[1][i], layout.rightButtons[i]);
    }
    area_->update();
}

bool MainWindow::layoutForDocument()
{
    if (!waveViews_[0])
        return false;
    const SoundDocument& doc = ws_.document;
    const bool wantRight = doc.hasData() && doc.format.nChannels == 2;
    if (wantRight && !waveViews_[1]) {
        waveViews_[1] = new WaveView(views_, 1, area_);
        createSmallButtons(1);
        placeChildren(true);
        waveViews_[1]->show();
    } else if (!wantRight && waveViews_[1]) {
        delete waveViews_[1];
        waveViews_[1] = nullptr;
        for (SmallButton*& button : smallButtons_[1]) {
            delete button;
            button = nullptr;
        }
        placeChildren();
    }
    return true;
}

void MainWindow::redrawViews() { views_.renderAll(); }

void MainWindow::setDocumentButtonsEnabled(bool enabled)
{
    documentButtonsEnabled_ = enabled;
    for (int i = 0; i < kBigButtonCount; ++i)
        if (bigButtonSpecs()[i].needsDocument)
            bigButtons_[i]->setEnabledState(enabled);
}

std::optional<ViewClientSize> MainWindow::viewClientSize(int channel) const
{
    WaveView* view = waveView(channel);
    if (!view)
        return std::nullopt;
    return ViewClientSize{view->canvas()->width(), view->canvas()->height()};
}

void MainWindow::destroyWindow()
{
    destroying_ = true;
    close();
}

void MainWindow::pictureChanged(int channel)
{
    if (WaveView* view = waveView(channel))
        view->canvas()->update();
}

void MainWindow::setViewCursor(int channel, CursorKind cursor)
{
    WaveView* view = waveView(channel);
    if (!view)
        return;
    static const int ids[] = {0, 0, 201, 202, 203, 204, 205, 206, 207};
    const int id = ids[static_cast<int>(cursor)];
    view->canvas()->setCursor(id ? programCursor(id) : QCursor(Qt::ArrowCursor));
}

void MainWindow::setScrollBars(int channel, const ScrollBarValues& bars)
{
    if (WaveView* view = waveView(channel))
        view->setScrollBars(bars);
}

void MainWindow::setMouseCapture(int, bool)
{
    // Qt keeps sending the mouse to the widget that got the press until the button is released.
}

bool MainWindow::askParametersFor(int commandId, int target, int slot)
{
    // The curve dialogs let the edit be heard when the target is known.
    const PreviewTarget preview{&player_, target, slot};
    return showParameterDialog(commandId, &preview);
}

bool MainWindow::askParameters(int commandId) { return showParameterDialog(commandId, nullptr); }

bool MainWindow::showParameterDialog(int commandId, const PreviewTarget* preview)
{
    switch (commandId) {
    case cmd::Nonlinear:
        return showNonlinearDialog(ws_, ui_, this, preview);
    case cmd::Coarsen:
        return showCoarsenDialog(ws_, this);
    case cmd::Equalize:
        return showEqualizerDialog(ws_, ui_, this, preview);
    case cmd::Reverb:
        return showReverbDialog(ws_, ui_, this, preview);
    case cmd::Convolve:
        return chooseResponseFile(ws_, ui_);
    case cmd::Fft:
        if (fftDialogAnswer_ >= 0) {
            normaliseFftSettings(ws_.settings);
            return fftDialogAnswer_ == 1;
        }
        return showFftDialog(ws_, this);
    default:
        return false;
    }
}

void MainWindow::analyseRegions(const std::vector<EditRegion>& regions, int)
{
    if (longEdit_)
        return;
    watchLongEdit(startSpectrogramAnalysis(
        ws_, ui_, regions,
        [this](std::unique_ptr<Spectrogram> s, const std::string& title) { openSpectrogramWindow(std::move(s), title); },
        longEditOptions_));
}

void MainWindow::openSpectrogramWindow(std::unique_ptr<Spectrogram> spectrogram, const std::string& title)
{
    auto* window = new SpectrogramWindow(std::move(spectrogram), title, ws_, ui_, this);
    window->writeBack = [this](const Spectrogram& s, const std::function<bool()>& ask) {
        ResynthesisStart started = startResynthesis(ws_, ui_, s, ask, longEditOptions_);
        watchLongEdit(std::move(started.edit));
        return started.written;
    };
    window->documentChanged = [this](int) {
        views_.renderAll();
        controller_.refreshTitle();
    };
    window->playSound = [this](const SoundDocument& sound) {
        if (playScratchSound)
            playScratchSound(sound);
    };
    std::erase_if(spectrogramWindows_, [](const QPointer<SpectrogramWindow>& w) { return w.isNull(); });
    spectrogramWindows_.emplace_back(window);
    window->show();
}

std::vector<SpectrogramWindow*> MainWindow::spectrogramWindows() const
{
    std::vector<SpectrogramWindow*> open;
    for (const QPointer<SpectrogramWindow>& w : spectrogramWindows_)
        if (w)
            open.push_back(w.data());
    return open;
}

std::optional<int> MainWindow::viewClientWidth(int channel) const
{
    WaveView* view = waveView(channel);
    if (!view)
        return std::nullopt;
    return view->canvas()->width();
}

bool MainWindow::runLongEdit(Workspace& ws, Ui& ui, int commandId, int target, int slot)
{
    if (longEdit_)
        return false;
    watchLongEdit(LongEdit::start(ws, ui, commandId, target, slot, longEditOptions_));
    return false;
}

void MainWindow::watchLongEdit(std::unique_ptr<LongEdit> edit)
{
    if (!edit || longEdit_)
        return;
    longEdit_ = std::move(edit);
    cancelButton_->show();
    cancelKey_->setEnabled(true);
    longEditTimer_->start();
    pollLongEdit();
}

void MainWindow::pollLongEdit()
{
    if (!longEdit_)
        return;
    if (longEdit_->finished()) {
        finishLongEdit();
        return;
    }
    const std::string text = longEdit_->progressText();
    if (!text.empty() && text != status_[1]->text().toStdString())
        ui_.setStatusText(1, text);
}

void MainWindow::cancelLongEdit()
{
    if (!longEdit_)
        return;
    longEdit_->cancel();
    // The workers stop before their next block; the sound on screen was never changed.
    if (longEdit_->waitFor(std::chrono::milliseconds(150)))
        finishLongEdit();
}

void MainWindow::closeForSignal()
{
    // Nobody may be there to answer a notice: the edit stops, the sound stays as it was, and the
    // window closes with its usual questions.
    if (longEdit_) {
        longEdit_->cancel();
        longEdit_->wait();
        finishLongEdit();
    }
    close();
}

void MainWindow::finishLongEdit()
{
    longEditTimer_->stop();
    cancelKey_->setEnabled(false);
    cancelButton_->hide();
    std::unique_ptr<LongEdit> edit = std::move(longEdit_);
    const LongEditOutcome outcome = edit->finish(ui_, *this);
    edit.reset();
    if (outcome == LongEditOutcome::Done)
        redrawViews();
    controller_.refreshTitle();
}

int MainWindow::viewWidth(int channel) const
{
    const int margin = layoutSizes(ws_.settings).leftMarginWidth;
    return viewClientWidth(channel).value_or(margin) - margin;
}

bool MainWindow::runMenuEdit(int commandId)
{
    if (!chooseProcessingTarget(ws_, this))
        return false;
    return runEditCommand(ws_, ui_, *this, commandId, ws_.settings.processingTarget, -1);
}

int MainWindow::popupMenu(const std::vector<MenuEntry>& entries)
{
    QMenu menu(this);
    std::function<void(QMenu*, const std::vector<MenuEntry>&)> fill = [&](QMenu* m, const std::vector<MenuEntry>& list) {
        for (const MenuEntry& entry : list) {
            if (!entry.submenu.empty()) {
                fill(m->addMenu(QString::fromStdString(entry.text)), entry.submenu);
                continue;
            }
            QAction* action = m->addAction(QString::fromStdString(entry.text));
            action->setData(entry.id);
            action->setEnabled(entry.enabled);
        }
    };
    fill(&menu, entries);
    QAction* chosen = menu.exec(QCursor::pos());
    return chosen ? chosen->data().toInt() : 0;
}

void MainWindow::applyViewUpdate(ViewUpdate update)
{
    if (update == ViewUpdate::Rerender) {
        views_.renderAll();
    } else if (update == ViewUpdate::Repaint) {
        views_.refresh(0);
        if (waveViews_[1])
            views_.refresh(1);
    }
    controller_.refreshTitle();
}

void MainWindow::openRedSelectionMenu(int channel)
{
    const int id = popupMenu(redSelectionMenu());
    if (id != 0)
        applyViewUpdate(runRedSelectionMenuCommand(ws_, ui_, *this, channel, viewWidth(channel), id));
}

void MainWindow::openSelectionMenu(int channel, int slot)
{
    const std::vector<MenuEntry> entries = selectionMenu(ws_.document, channel, slot);
    if (entries.empty()) {
        ui_.beep(BeepKind::Error);
        return;
    }
    const int id = popupMenu(entries);
    if (id == 0)
        return;
    if (id == menu::ShapeParameter)
        editShapeParameter(selectionTable(ws_.document, channel)[slot], this);
    applyViewUpdate(runSelectionMenuCommand(ws_, ui_, *this, channel, slot, viewWidth(channel), id));
}

// A sound file dropped on the window opens as if chosen in "開く", save question included.
static QString droppedWavFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1)
        return {};
    const QUrl url = mime->urls().front();
    const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
    return hasSoundExtension(path.toStdString()) ? path : QString();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedWavFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QString path = droppedWavFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    controller_.openPath(path.toStdString());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (longEdit_) {
        showNotice(ui_, kLongEditRefusal);
        destroying_ = false;
        event->ignore();
        return;
    }
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

void MainWindow::showHistoryWindow()
{
    if (!historyWindow_) {
        historyWindow_ = new HistoryWindow(
            this,
            [this](int k) {
                const bool done = controller_.goToHistoryState(k);
                if (done)
                    redrawViews();
                return done;
            },
            ws_.settings.historyLimitMiB, [this](int mib) { controller_.setHistoryLimit(mib); });
        historyWindow_->setAttribute(Qt::WA_DeleteOnClose);
    }
    historyWindow_->refresh(ws_.history);
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
    historyWindow_->focusList();
}

} // namespace sonavik
