#pragma once
// The open, save and save-as flows of the main window: file dialogs, remembered folders, the title.

#include "platform/ui.h"

#include <optional>
#include <string>
#include <vector>

namespace sonavik {

struct Settings;
struct UnfinishedSave;
struct Workspace;

// Loads a WAV file into the current document; chosenPath stands in for the open dialog's answer. Once the
// file is open the previous document moves to the undo store, so a failure after that leaves no data.
// The caller refreshes the title and resets views, selections and the modified flag.
// Every sound file the build reads opens here (others converted, see formats/); status receives what a
// conversion did, channels answers the question a file of more than two channels asks (nullopt: ask ui).
bool openWavFile(Workspace& ws, Ui& ui, const std::optional<std::string>& chosenPath = std::nullopt,
                 std::string* status = nullptr, const std::optional<ChannelChoice>& channels = std::nullopt);
// The quality of lossy saves, 0 to 10, kept in the settings.
int exportQuality(const Settings& settings);
void setExportQuality(Settings& settings, int quality);
// Both clear the modified flag and refresh the title after a successful write.
bool saveWavFileAs(Workspace& ws, Ui& ui);
// Asks for a name (through saveWavFileAs) when the document's path has no folder or its write failed.
bool saveWavFile(Workspace& ws, Ui& ui);

// What restoreUnfinishedSaves (platform/os.h) found at start-up, for the status bar and for stderr.
std::string unfinishedSaveStatus(const UnfinishedSave& save);
std::string unfinishedSaveLine(const UnfinishedSave& save);
// Shows the editor's text for each in the left half of the status bar (the last stays).
void showUnfinishedSaves(Ui& ui, const std::vector<UnfinishedSave>& saves);

} // namespace sonavik
