#include "app/file_flows.h"

#include "document/wav_file.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"

namespace sonavik {

namespace {

constexpr const char* kNoData = "No Data";
constexpr const char* kOpenTitle = "読み込み";
constexpr const char* kSaveTitle = "名前を付けて保存";

// The folder part of path with its trailing separator, stored into a settings field; a bare name leaves
// the field as it was.
template <std::size_t N>
void rememberFolder(char (&field)[N], const std::string& path)
{
    std::size_t slash = path.rfind(kDirSeparator);
    if (slash != std::string::npos)
        setFieldText(field, path.substr(0, slash + 1));
}

} // namespace

bool openWavFile(Workspace& ws, Ui& ui, const std::optional<std::string>& chosenPath)
{
    std::string openDir = fieldText(ws.settings.openDir);
    std::optional<std::string> answer = chosenPath;
    if (!answer)
        answer = ui.openFileName(wavFileDialog(kOpenTitle, openDir, false));
    if (!answer)
        return false;

    std::string path = *answer;
    FileHandle file = openWavForReading(ui, path, openDir);
    if (!file)
        return false;

    moveToUndoStore(ws.document, ws.undoStore);
    ws.document.path = path;
    if (!readWavDocument(ui, file.get(), ws.document))
        return false;
    file.reset();
    rememberFolder(ws.settings.openDir, path);
    return true;
}

bool saveWavFileAs(Workspace& ws, Ui& ui)
{
    if (!ws.document.hasData()) {
        showNotice(ui, kNoData);
        return false;
    }
    std::optional<std::string> answer = ui.saveFileName(wavFileDialog(kSaveTitle, fieldText(ws.settings.saveDir), true));
    if (!answer)
        return false;
    std::string path = *answer;
    addWavExtension(path);
    if (!writeWavFile(ui, ws.document, path))
        return false;
    ws.document.modified = 0;
    ws.document.path = path;
    rememberFolder(ws.settings.saveDir, path);
    refreshTitle(ws, ui);
    return true;
}

bool saveWavFile(Workspace& ws, Ui& ui)
{
    if (!ws.document.hasData()) {
        showNotice(ui, kNoData);
        return false;
    }
    std::string& path = ws.document.path;
    if (!path.empty()) {
        addWavExtension(path);
        // A bare name (a recording's "New Data(n).wav") has no folder to go to: ask for one.
        if (hasFolder(path) && writeWavFile(ui, ws.document, path)) {
            ws.document.modified = 0;
            refreshTitle(ws, ui);
            return true;
        }
    }
    return saveWavFileAs(ws, ui);
}

std::string unfinishedSaveStatus(const UnfinishedSave& save)
{
    if (save.restored)
        return save.path + " の保存が途中で止まっていたため、保存前の内容に戻しました";
    return save.path + " の保存が途中で止まっています。保存前の内容は " + save.backup + " にあります";
}

std::string unfinishedSaveLine(const UnfinishedSave& save)
{
    if (save.restored)
        return "restored " + save.path + " as it was before a save that did not finish";
    return "could not restore " + save.path + " after a save that did not finish; its old content is in " + save.backup;
}

void showUnfinishedSaves(Ui& ui, const std::vector<UnfinishedSave>& saves)
{
    for (const UnfinishedSave& save : saves)
        ui.setStatusText(0, unfinishedSaveStatus(save));
}

} // namespace sonavik
