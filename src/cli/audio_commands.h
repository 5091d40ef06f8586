#pragma once
// sonavik2-cli play, record and devices: the playback and recording engines on the sound server's
// devices, driven by an event loop of their own instead of a window.

#include <optional>
#include <string>
#include <vector>

namespace sonavik {
struct Workspace;
}

namespace sonavik::cli {

// The usage lines of the three commands.
const char* audioUsage();
// args are the command line after the program name, starting with "play", "record" or "devices".
// Returns the exit status: 0 done, 1 refused or failed, 2 usage error.
int runAudioCommand(const std::vector<std::string>& args);
// preview: plays what the edit commandId would write for target, set up in ws, once or over and over for
// loopSeconds, on the device play would choose (deviceName as --device; settingsFromFile when ws.settings
// came from a --settings file). Returns the exit status.
int playPreview(Workspace& ws, int commandId, int target, std::optional<double> loopSeconds,
                const std::optional<std::string>& deviceName, bool settingsFromFile);

} // namespace sonavik::cli
