#include "cli/recover_command.h"

#include "document/wav_file.h"
#include "history/edit_history.h"
#include "platform/console_ui.h"

#include <charconv>
#include <ctime>
#include <iostream>
#include <optional>

namespace sonavik::cli {

namespace {

constexpr const char* kNothing = "復元できる音はありません";

std::string localTime(std::int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[64] = {};
    if (localtime_r(&t, &local))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

int usageError(const std::string& what)
{
    std::cerr << "sonavik2-cli: " << what << "\n" << recoverSynopsis();
    return 2;
}

std::vector<RecoverableSound> unsavedSounds()
{
    std::vector<RecoverableSound> out;
    for (const RecoverableSound& r : findRecoverable(historyRoot()))
        if (!r.saved || !r.problem.empty())
            out.push_back(r);
    return out;
}

} // namespace

std::string recoverSynopsis()
{
    return "       sonavik2-cli recover --list\n"
           "       sonavik2-cli recover [--from FOLDER] [--state N] OUT.wav\n";
}

int runRecoverCommand(const std::vector<std::string>& args)
{
    bool list = false;
    std::optional<std::string> from;
    std::optional<int> state;
    std::optional<std::string> out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--list") {
            list = true;
        } else if (arg == "--from" || arg == "--state") {
            if (i + 1 >= args.size())
                return usageError(arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--from") {
                from = value;
            } else {
                int n = -1;
                const auto result = std::from_chars(value.data(), value.data() + value.size(), n);
                if (result.ec != std::errc() || result.ptr != value.data() + value.size() || n < 0)
                    return usageError("--state takes a state number (0 = as opened), not " + value);
                state = n;
            }
        } else if (arg.rfind("--", 0) == 0 || out) {
            return usageError("recover does not take " + arg);
        } else {
            out = arg;
        }
    }
    if (list) {
        if (out || from || state)
            return usageError("recover --list takes nothing else");
        const std::vector<RecoverableSound> found = unsavedSounds();
        if (found.empty()) {
            std::cerr << kNothing << '\n';
            return 1;
        }
        for (const RecoverableSound& r : found) {
            if (!r.problem.empty())
                std::cout << r.folder << "\t(" << r.problem << ")\n";
            else
                std::cout << r.folder << '\t' << r.path << '\t' << r.stateCount << '\t' << localTime(r.lastChange) << '\n';
        }
        return 0;
    }
    if (!out)
        return usageError("recover needs OUT.wav (or --list)");
    std::string folder;
    if (from) {
        folder = *from;
    } else {
        for (const RecoverableSound& r : unsavedSounds())
            if (r.problem.empty()) {
                folder = r.folder;
                break;
            }
        if (folder.empty()) {
            std::cerr << kNothing << '\n';
            return 1;
        }
    }
    SoundDocument doc;
    std::string error;
    if (!recoverState(folder, state, doc, &error)) {
        std::cerr << "sonavik2-cli: " << folder << ": " << error << '\n';
        return 1;
    }
    ConsoleUi ui(std::cerr, MessageAnswer::No);
    return writeWavFile(ui, doc, *out) ? 0 : 1;
}

} // namespace sonavik::cli
