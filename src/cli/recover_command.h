#pragma once
// sonavik2-cli recover: lists the sounds that earlier runs of the editor left unsaved in their history
// folders and writes one of their states to a WAV file, without changing the folders.

#include <string>
#include <vector>

namespace sonavik::cli {

// args: every argument after "recover". Returns the exit status.
int runRecoverCommand(const std::vector<std::string>& args);
std::string recoverSynopsis();

} // namespace sonavik::cli
