#pragma once
// The open, save and save-as flows of the main window: file dialogs, remembered folders, the title.

#include <optional>
#include <string>

namespace sonavik {

class Ui;
struct Workspace;

// Loads a WAV file into the current document; chosenPath stands in for the open dialog's answer. Once the
// file is open the previous document moves to the undo store, so a failure after that leaves no data.
// The caller refreshes the title and resets views, selections and the modified flag.
bool openWavFile(Workspace& ws, Ui& ui, const std::optional<std::string>& chosenPath = std::nullopt);
// Both clear the modified flag and refresh the title after a successful write.
bool saveWavFileAs(Workspace& ws, Ui& ui);
// Asks for a name (through saveWavFileAs) when the document's path has no folder or its write failed.
bool saveWavFile(Workspace& ws, Ui& ui);

} // namespace sonavik
