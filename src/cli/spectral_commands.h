#pragma once
// The spectrogram commands of sonavik2-cli: "spectrogram" writes the analysis of every target to files,
// "spectral" edits rectangles of it and writes it back into the sound.

#include <string>
#include <vector>

namespace sonavik::cli {

bool isSpectralCommand(const std::string& name);
// args: every argument after the program name, the command first. Returns the exit status.
int runSpectralCommand(const std::vector<std::string>& args);
// The commands' lines of the usage synopsis, and their part of --help.
std::string spectralSynopsis();
std::string spectralHelp();

} // namespace sonavik::cli
