#include "app/file_flows.h"

#include "document/wav_file.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "formats/sound_export.h"
#include "formats/sound_import.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <algorithm>

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

bool openWavFile(Workspace& ws, Ui& ui, const std::optional<std::string>& chosenPath, std::string* status,
                 const std::optional<ChannelChoice>& channels)
{
    if (status)
        status->clear();
    std::string openDir = fieldText(ws.settings.openDir);
    std::optional<std::string> answer = chosenPath;
    if (!answer)
        answer = ui.openFileName(soundOpenDialog(kOpenTitle, openDir));
    if (!answer)
        return false;

    std::string path = *answer;
    FileHandle file = openSoundForReading(ui, path, openDir);
    if (!file)
        return false;

    moveToUndoStore(ws.document, ws.undoStore);
    ws.document.path = path;
    ws.document.converted = false;
    if (!readSoundDocument(ui, std::move(file), ws.document, status, channels))
        return false;
    rememberFolder(ws.settings.openDir, path);
    return true;
}

int exportQuality(const Settings& settings)
{
    // Kept as quality + 1 in room the record leaves unused, so that 0 (every older file) reads as the default.
    const int stored = settings.exportQualityPlusOne;
    return stored >= 1 && stored <= 11 ? stored - 1 : kDefaultExportQuality;
}

void setExportQuality(Settings& settings, int quality) { settings.exportQualityPlusOne = std::clamp(quality, 0, 10) + 1; }

bool saveWavFileAs(Workspace& ws, Ui& ui)
{
    if (!ws.document.hasData()) {
        showNotice(ui, kNoData);
        return false;
    }
    // A converted sound is offered under its name with ".wav", in the folder it came from.
    std::string dir = fieldText(ws.settings.saveDir);
    std::string name;
    if (ws.document.converted && hasFolder(ws.document.path)) {
        dir = ws.document.path.substr(0, ws.document.path.rfind(kDirSeparator) + 1);
        name = wavNameFor(ws.document.path);
    }
    std::optional<std::string> answer = ui.saveFileName(soundSaveDialog(kSaveTitle, dir, name));
    if (!answer)
        return false;
    std::string path = *answer;
    const SaveKind kind = completeSaveName(path, ui.lastFilterIndex());
    if (kind == SaveKind::OggVorbis || kind == SaveKind::Mp3) {
        const std::optional<int> quality = ui.askExportQuality(exportQuality(ws.settings));
        if (!quality)
            return false;
        setExportQuality(ws.settings, *quality);
    }
    if (!writeSoundFile(ui, ws.document, path, kind, exportQuality(ws.settings)))
        return false;
    ws.document.modified = 0;
    ws.document.path = path;
    // Saved as anything but WAV, the file holds other bytes than the editor: save goes on asking.
    ws.document.converted = kind != SaveKind::Wav;
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
    if (!path.empty() && !ws.document.converted) {
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
