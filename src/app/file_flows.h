#pragma once
// The open, save and save-as flows of the main window: file dialogs, remembered folders, the title.

#include <optional>
#include <string>
#include <vector>

namespace sonavik {

class Ui;
struct UnfinishedSave;
struct Workspace;

// Loads a WAV file into the current document; chosenPath stands in for the open dialog's answer. Once the
// file is open the previous document moves to the undo store, so a failure after that leaves no data.
// The caller refreshes the title and resets views, selections and the modified flag.
bool openWavFile(Workspace& ws, Ui& ui, const std::optional<std::string>& chosenPath = std::nullopt);
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
