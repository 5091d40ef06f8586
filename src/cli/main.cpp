// sonavik2-cli: the editor's core without a window. Messages go to stderr as "caption: text".

#include "app/settings.h"
#include "app/workspace.h"
#include "document/wav_file.h"
#include "platform/console_ui.h"

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* kUsage =
    "usage: sonavik2-cli info [--yes] FILE.wav\n"
    "\n"
    "commands:\n"
    "  info FILE.wav   print one line \"channels=C rate=R bits=B frames=N\" for a PCM WAV file\n"
    "\n"
    "options:\n"
    "  --yes           answer Yes when asked to repair an inconsistent format block (default No)\n"
    "  --help          show this text\n"
    "\n"
    "Every message the editor would show is printed to stderr as \"caption: text\".\n"
    "Exit status: 0 done, 1 the file could not be loaded, 2 usage error.\n";

std::string absolutePath(const std::string& path)
{
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

int info(const std::vector<std::string>& files, bool yes)
{
    if (files.size() != 1) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    sonavik::Workspace ws;
    sonavik::applyDefaultSettings(ws.settings);
    sonavik::ConsoleUi ui(std::cerr, yes ? sonavik::MessageAnswer::Yes : sonavik::MessageAnswer::No);
    if (!sonavik::openWavFile(ws, ui, absolutePath(files[0])))
        return kExitFailed;
    const sonavik::SoundDocument& doc = ws.document;
    std::cout << "channels=" << doc.format.nChannels << " rate=" << doc.format.nSamplesPerSec
              << " bits=" << doc.format.wBitsPerSample << " frames=" << doc.frameCount << '\n';
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    bool yes = false;
    std::string command;
    std::vector<std::string> operands;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return kExitOk;
        }
        if (arg == "--yes") {
            yes = true;
        } else if (arg.rfind("--", 0) == 0) {
            std::cerr << "sonavik2-cli: unknown option " << arg << "\n" << kUsage;
            return kExitUsage;
        } else if (command.empty()) {
            command = arg;
        } else {
            operands.push_back(arg);
        }
    }
    if (command == "info")
        return info(operands, yes);
    std::cerr << (command.empty() ? std::string("sonavik2-cli: no command\n")
                                  : "sonavik2-cli: unknown command " + command + "\n")
              << kUsage;
    return kExitUsage;
}
