#include "app/main_controller.h"

#include "app/file_flows.h"
#include "app/view_scale.h"
#include "audio/playback.h"
#include "audio/recording.h"
#include "document/wav_file.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/long_edit.h"
#include "history/edit_history.h"
#include "platform/ui.h"

#include <algorithm>
#include <ctime>

namespace sonavik {

namespace {

std::string withPath(const char* format, const std::string& path)
{
    std::string text = format;
    if (auto at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

} // namespace

MainController::MainController(Workspace& ws, Ui& ui, MainWindowShell& shell) : ws_(ws), ui_(ui), shell_(shell) {}

MainController::~MainController()
{
    if (ws_.history == history_.get())
        ws_.history = nullptr;
}

namespace {

std::string localTime(std::int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[64] = {};
    if (localtime_r(&t, &local))
        std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

} // namespace

void MainController::startHistory(const std::string& root)
{
    std::string error;
    const bool recovered = !root.empty() && offerRecovery(root);
    if (!recovered)
        history_ = root.empty() ? nullptr : EditHistory::create(root, &error);
    ws_.history = history_.get();
    if (!history_)
        ui_.setStatusText(0, "履歴を保存できません: " + (root.empty() ? std::string("保存先のフォルダがありません") : error));
    applyHistoryLimit(ws_, ui_);
}

void MainController::setHistoryLimit(int mib)
{
    ws_.settings.historyLimitMiB = std::max(mib, 0);
    applyHistoryLimit(ws_, ui_);
    if (historyChanged)
        historyChanged();
}

bool MainController::offerRecovery(const std::string& root)
{
    for (const RecoverableSound& found : findRecoverable(root)) {
        if (found.saved && found.problem.empty()) {
            removeHistoryFolder(found.folder);
            continue;
        }
        if (!found.problem.empty()) {
            ui_.setStatusText(0, found.folder + " は復元できません: " + found.problem);
            continue;
        }
        const std::string text = std::string(kRecoverQuestion) + "\n\n" + (found.path.empty() ? "(名前なし)" : found.path)
                                 + "\n最後の変更: " + localTime(found.lastChange);
        if (!askYesNo(ui_, text)) {
            removeHistoryFolder(found.folder);
            continue;
        }
        SoundDocument doc;
        std::string error;
        std::unique_ptr<EditHistory> adopted;
        if (!recoverState(found.folder, std::nullopt, doc, &error) || !(adopted = EditHistory::adopt(found.folder, &error))) {
            showError(ui_, found.folder + " を復元できません: " + error);
            continue;
        }
        doc.modified = 1;
        moveToUndoStore(ws_.document, ws_.undoStore);
        ws_.undoStore = SoundDocument{};
        ws_.document = std::move(doc);
        history_ = std::move(adopted);
        ws_.red.clear();
        if (!layout()) {
            ui_.beep(BeepKind::Error);
            return true;
        }
        command(cmd::LeftFit);
        if (ws_.document.format.nChannels == 2)
            command(cmd::RightFit);
        clearStatus();
        shell_.redrawViews();
        shell_.setDocumentButtonsEnabled(true);
        refreshTitle();
        return true;
    }
    return false;
}

bool MainController::goToHistoryState(int k)
{
    if (!guard("再生／録音中は、ファイルを編集できません") || !ws_.history)
        return false;
    if (!goToState(ws_, ui_, k))
        return false;
    ws_.red.clear();
    layout();
    shell_.redrawViews();
    shell_.setDocumentButtonsEnabled(true);
    refreshTitle();
    return true;
}

void MainController::noteSaved(bool saved)
{
    if (saved && ws_.history && ws_.document.modified == 0)
        ws_.history->noteSaved(ws_.document.path);
}

void MainController::refreshTitle()
{
    sonavik::refreshTitle(ws_, ui_);
    if (historyChanged)
        historyChanged();
}

bool MainController::guard(const char* busyMessage)
{
    // A running edit has its own refusal; the playback and recording texts are for those alone.
    if (refusedForLongEdit(ws_, ui_))
        return false;
    if (!ws_.busy())
        return true;
    showNotice(ui_, busyMessage);
    return false;
}

void MainController::askToSave(const char* promptFormat, bool clearModifiedOnNo)
{
    SoundDocument& doc = ws_.document;
    if (!doc.hasData() || doc.modified != 1)
        return;
    if (askYesNo(ui_, withPath(promptFormat, doc.path))) {
        // The command goes on whether or not the save succeeded.
        noteSaved(saveWavFileAs(ws_, ui_));
    } else if (clearModifiedOnNo) {
        doc.modified = 0;
    }
    refreshTitle();
}

bool MainController::layout()
{
    refreshTitle();
    return shell_.layoutForDocument();
}

void MainController::command(int id)
{
    switch (id) {
    case cmd::New:
        if (!guard("再生／録音中は、録音を開始できません"))
            return;
        command(cmd::Close);
        if (startRecordingHandler)
            startRecordingHandler();
        break;
    case cmd::Open:
        if (!guard("再生／録音中は、ファイルを読み込めません"))
            return;
        open(std::nullopt);
        break;
    case cmd::Save:
        if (!guard("再生／録音中は、ファイルを保存できません"))
            return;
        if (ws_.document.hasData())
            noteSaved(saveWavFile(ws_, ui_));
        break;
    case cmd::SaveAs:
        if (!guard("再生／録音中は、ファイルを保存できません"))
            return;
        if (ws_.document.hasData())
            noteSaved(saveWavFileAs(ws_, ui_));
        break;
    case cmd::Close:
        if (!guard(kCloseRefused))
            return;
        close();
        break;
    case cmd::Undo:
        if (!guard("再生／録音中は、ＵＮＤＯを実行できません"))
            return;
        undo();
        break;
    case cmd::Exit:
        // The sound is being edited on other threads: the window must not go away under them.
        if (refusedForLongEdit(ws_, ui_))
            return;
        askToSave("%s は変更されています。\nアプリケーションを終了する前に保存しますか？", true);
        shell_.destroyWindow();
        return;
    case cmd::PlayOnce:
    case cmd::PlayLoop:
    case cmd::PlayButton:
        if (refusedForLongEdit(ws_, ui_))
            return;
        ws_.loopMode = id == cmd::PlayOnce ? 0 : id == cmd::PlayLoop ? 1 : -1;
        if (playOrStopHandler)
            playOrStopHandler();
        break;
    case cmd::CompareBefore:
        // Only while the sound plays; otherwise nothing happens but a beep.
        if (!compareHandler || !compareHandler())
            ui_.beep(BeepKind::Default);
        return;
    case cmd::History:
        if (historyHandler)
            historyHandler();
        break;
    case cmd::PlaySettings:
        if (!guard("再生中録音中は設定を変更できません"))
            return;
        if (playSettingsHandler)
            playSettingsHandler();
        break;
    default:
        if (id >= cmd::EditFirst && id <= cmd::EditLast) {
            if (!guard("再生／録音中は、ファイルを編集できません"))
                return;
            if (ws_.document.hasData() && editHandler && editHandler(id))
                shell_.redrawViews();
        } else if ((id >= cmd::LeftFit && id <= cmd::LeftZoomOutX) || (id >= cmd::RightFit && id <= cmd::RightLast)) {
            viewScale(id);
        }
        break;
    }
    refreshTitle();
}

void MainController::attachAudio(Player& player, Recorder& recorder)
{
    playOrStopHandler = [&player] { player.playOrStop(); };
    startRecordingHandler = [&recorder] { recorder.recordNewDocument(); };
    player.stateChanged = [this](bool running) {
        shell_.setPlaybackRunning(running);
        if (!running && hearingBefore_) {
            hearingBefore_ = false;
            ui_.setStatusText(0, kAppCaption);
        }
    };
    compareHandler = [this, &player] {
        if (!player.toggleBefore())
            return false;
        hearingBefore_ = player.hearingBefore();
        ui_.setStatusText(0, hearingBefore_ ? kHearingBefore : kAppCaption);
        return true;
    };
    recorder.hooks.layoutNewDocument = [this] {
        if (!layout())
            return false;
        resetViewsForNewDocument();
        return true;
    };
    recorder.hooks.showNewDocument = [this] {
        if (ws_.history)
            ws_.history->begin(ws_.document, HistoryOrigin::Recorded);
        refreshTitle();
        shell_.redrawViews();
        shell_.setDocumentButtonsEnabled(true);
    };
}

void MainController::openPath(const std::string& path)
{
    if (!guard("再生／録音中は、ファイルを読み込めません"))
        return;
    open(path);
    refreshTitle();
}

void MainController::open(const std::optional<std::string>& chosenPath)
{
    askToSave("%s は変更されています。\n新しいファイルを読み込む前に保存しますか？", false);
    const bool hadData = ws_.document.hasData();
    std::string converted;
    if (!openWavFile(ws_, ui_, chosenPath, &converted)) {
        // A failure after the old sound went to the undo store leaves no sound: show that at once.
        if (hadData && !ws_.document.hasData()) {
            if (ws_.history)
                ws_.history->end();
            ws_.red.clear();
            clearStatus();
            layout();
            shell_.redrawViews();
            shell_.setDocumentButtonsEnabled(false);
        }
        return;
    }
    if (!layout()) {
        ui_.beep(BeepKind::Error);
        return;
    }
    resetViewsForNewDocument();
    if (ws_.history)
        ws_.history->begin(ws_.document, HistoryOrigin::Opened);
    clearStatus();
    if (!converted.empty())
        ui_.setStatusText(0, converted);
    shell_.redrawViews();
    shell_.setDocumentButtonsEnabled(true);
}

void MainController::close()
{
    if (!ws_.document.hasData())
        return;
    askToSave("%s は変更されています。\nファイルを閉じる前に保存しますか？", true);
    moveToUndoStore(ws_.document, ws_.undoStore);
    if (ws_.history)
        ws_.history->end();
    ws_.red.clear();
    if (!layout())
        ui_.beep(BeepKind::Error);
    clearStatus();
    shell_.redrawViews();
    shell_.setDocumentButtonsEnabled(false);
}

void MainController::clearStatus()
{
    // The texts of the sound that was shown (its red selection, the last edit's progress) do not carry
    // over to another one; the pointer's next move brings the position back.
    ui_.setStatusText(0, kAppCaption);
    ui_.setStatusText(1, "");
}

void MainController::undo()
{
    swapWithUndoStore(ws_.document, ws_.undoStore);
    // Cleared first: what the history says about the swap (stopped, oldest states dropped) stays shown.
    clearStatus();
    noteUndo(ws_, ui_);
    if (!layout()) {
        ui_.beep(BeepKind::Error);
        return;
    }
    ws_.red.clear();
    if (!ws_.document.hasData()) {
        shell_.redrawViews();
        shell_.setDocumentButtonsEnabled(false);
        return;
    }
    command(cmd::LeftFit);
    if (ws_.document.format.nChannels == 2)
        command(cmd::RightFit);
    shell_.setDocumentButtonsEnabled(true);
}

void MainController::viewScale(int id)
{
    SoundDocument& doc = ws_.document;
    if (!doc.hasData())
        return;
    const int channel = id >= cmd::RightFit ? 1 : 0;
    const auto size = shell_.viewClientSize(channel);
    if (!size)
        return;
    const auto action = static_cast<ViewScaleAction>(id - (channel == 1 ? cmd::RightFit : cmd::LeftFit));
    ViewState& view = channel == 1 ? doc.rightView : doc.leftView;
    applyViewScale(view, action, doc, plotSizeOf(ws_.settings, size->width, size->height));
    shell_.redrawViews();
}

void MainController::resetViewsForNewDocument()
{
    SoundDocument& doc = ws_.document;
    if (!doc.hasData())
        return;
    for (int channel = 0; channel < 2; ++channel) {
        if (auto size = shell_.viewClientSize(channel))
            fitView(channel == 1 ? doc.rightView : doc.leftView, doc, plotSizeOf(ws_.settings, size->width, size->height));
    }
    doc.modified = 0;
    refreshTitle();
    ws_.red.clear();
    ws_.red.redChannel = 0;
    doc.leftSelections.fill(Selection{});
    doc.rightSelections.fill(Selection{});
}

void MainController::onClose()
{
    askToSave("%s は変更されています。\nアプリケーションを終了する前に保存しますか？", true);
}

void MainController::onDestroy()
{
    askToSave("%s は変更されています。\nアプリケーションを強制終了する前に保存しますか？", true);
    // A clean end: nothing is left unsaved (saved, or No to the question), so nothing is kept to recover.
    if (history_ && (!ws_.document.hasData() || ws_.document.modified == 0))
        history_->removeFolder();
}

} // namespace sonavik
