#pragma once
// sonavik2-cli play and record: the playback and recording engines on the system's default sound devices,
// driven by an event loop instead of a window.

#include <string>
#include <vector>

namespace sonavik::cli {

// The usage lines of the two commands.
const char* audioUsage();
// args are the command line after the program name, starting with "play" or "record".
// Does not return: ends the process with exit status 0 done, 1 refused or failed, 2 usage error.
int runAudioCommand(const std::vector<std::string>& args);

} // namespace sonavik::cli
