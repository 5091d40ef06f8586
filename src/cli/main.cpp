// sonavik2-cli: the editor's core without a window. Messages go to stderr as "caption: text".

#include "app/file_flows.h"
#include "cli/cli_options.h"
#include "cli/long_edit_progress.h"
#include "cli/spectral_commands.h"
#include "document/selection.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_commands.h"
#include "edit/edit_dispatcher.h"
#include "edit/parameter_rules.h"
#include "edit/preview_render.h"
#include "edit/reverb.h"
#include "formats/sound_import.h"
#include "platform/console_ui.h"
#include "platform/os.h"
#include "cli/audio_commands.h"
#include "cli/recover_command.h"
#include "settings/settings.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace sonavik::cli;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string usage()
{
    std::string names;
    for (const sonavik::EditCommand& c : sonavik::editCommands())
        if (c.cliName)
            names += std::string(names.empty() ? "" : " ") + c.cliName;
    return "usage: sonavik2-cli info [--yes] [--channels L,R | --mix mono|stereo] FILE\n"
           "       sonavik2-cli edit IN OUT COMMAND [options]\n"
           "       sonavik2-cli convert IN OUT [--bits 8|16] [--channels L,R | --mix mono|stereo] [--quality Q]\n"
           "       sonavik2-cli preview IN.wav COMMAND [options] [--loop SECONDS] [--device NAME]\n"
           + std::string(sonavik::cli::audioUsage()) + spectralSynopsis() + sonavik::cli::recoverSynopsis()
           + "\n"
             "commands:\n"
           "  info FILE       print \"channels=C rate=R bits=B frames=N\" for the sound as the editor holds it,\n"
           "                  then a line \"file: ...\" with the file's own container, coding, bits, channels,\n"
           "                  rate and length\n"
           "  convert IN OUT  open IN as the editor opens it and write OUT in the kind its extension names\n"
           "                  (.wav, .flac, .ogg, .mp3; a name without one gets .wav)\n"
           "  edit IN OUT CMD load IN, apply one edit command as the editor's menu does, write OUT\n"
           "                  (canonical 44-byte header, written through a temporary file)\n"
           "  preview IN CMD  play what edit would write for nonlinear, equalize or reverb: the span from the\n"
           "                  target's first region start to its last region end, both channels, once on the\n"
           "                  default output (or over and over for --loop SECONDS); nothing is written;\n"
           "                  the output is chosen as play chooses it (--device NAME, or --settings)\n"
           "\n"
           "edit commands:\n  "
           + names
           + "\n"
             "\n"
             "options:\n"
             "  --yes           answer Yes when asked to repair an inconsistent format block (default No)\n"
             "  --target CODE   what the command acts on (default 0):\n"
             "                    0 both channels, whole   1 left, whole   2 right, whole\n"
             "                    3 blue and green selections of both channels   4 blue of both   5 green of both\n"
             "                    6 blue and green of left   7 blue of left   8 green of left\n"
             "                    9 blue and green of right  10 blue of right 11 green of right\n"
             "                   12 the red selection\n"
             "  --select KIND:CH:START:END[:SHAPE:A0:A1[:PARAM]]\n"
             "                  add a selection before the command; any number, added in order as the\n"
             "                  editor adds them (an overlapped one is cut or replaced). KIND blue or green,\n"
             "                  CH L or R, START and END frames (inclusive, 0 or more), SHAPE linear cos exp+\n"
             "                  exp- stair (default linear), A0 and A1 the alpha levels at START and END,\n"
             "                  0 to 1 (default 1 and 1), PARAM the shape's parameter (default 10 for stair,\n"
             "                  1 otherwise)\n"
             "  --red CH:START:END\n"
             "                  set the red selection (target 12)\n"
             "  --settings FILE read the settings from a parameter.ini image (6000 bytes); never written.\n"
             "                  nonlinear, equalize and reverb take their curves and values from it\n"
             "                  (the defaults otherwise)\n"
             "  --bits N        coarsen: keep N bits (1 to 8 for 8-bit sound, 1 to 16 for 16-bit)\n"
             "  --response FILE convolve: the mono sound file to convolve with\n"
             "  --channels L,R  a file of more than two channels: the channels for left and right (from 1;\n"
             "                  default 1,2)\n"
             "  --mix mono|stereo\n"
             "                  or the mean of all channels (stereo: odd-numbered left, even-numbered right)\n"
             "  --quality Q     Ogg Vorbis and MP3 output: 0 (smallest) to 10 (best), default 7\n"
             "\n"
             "Every sound file libsndfile reads opens: 8- and 16-bit sound as it is, wider or float sound as\n"
             "16 bits with a fixed dither (what was done is printed to stderr). convert --bits 8|16 sets the\n"
             "bits of OUT. edit, spectral and convert write OUT by its extension.\n"
             "  --threads N     equalize, reverb, convolve: worker threads, 1 to 64 (default: one per core);\n"
             "                  the result is the same for every N. With stderr a terminal they show a\n"
             "                  progress line there\n"
             "  --preset NAME   reverb: one of the dialog's examples, applied for the sound's rate:\n"
             "                  リセット 大ホール 風呂場 夢の中 やまびこ スタジオ\n"
             "                  (or reset hall bath dream echo studio)\n"
             "  --help          show this text\n"
             "\n"
             "Every message the editor would show is printed to stderr as \"caption: text\". A selection that\n"
             "does not lie inside the sound is skipped with a message, and the command still counts as done;\n"
             "trim and delete instead act on the part of it that lies inside the sound, without a message.\n"
             "Curves and values from --settings are first limited and ordered as the dialogs do on opening.\n"
             "Names follow the editor's rule both ways: a name without a sound extension gets \".wav\", and a path must be\n"
             "shorter than 1000 bytes.\n"
             "Exit status: 0 done, 1 refused or failed (OUT is not written), 2 usage error.\n"
           + spectralHelp();
}

int usageError(const std::string& what)
{
    std::cerr << "sonavik2-cli: " << what << "\n" << usage();
    return kExitUsage;
}

struct Options {
    bool yes = false;
    std::optional<int> target;
    std::vector<SelectOption> selects;
    std::optional<sonavik::RedSelection> red;
    std::optional<std::string> settingsFile;
    std::optional<int> bits;
    std::optional<std::string> response;
    std::optional<std::string> preset;
    std::optional<int> threads;
    std::optional<double> loopSeconds;
    std::optional<sonavik::ChannelChoice> channels;
    std::optional<int> quality;
    std::optional<std::string> device;
    bool editOnly() const
    {
        return target || !selects.empty() || red || settingsFile || bits || response || preset || threads || loopSeconds || device;
    }
};

// The settings' export quality unless --quality gives one.
int qualityOf(const sonavik::Settings& settings, const Options& options)
{
    return options.quality.value_or(sonavik::exportQuality(settings));
}

int info(const std::vector<std::string>& files, const Options& options)
{
    if (files.size() != 1)
        return usageError("info takes one file");
    if (options.editOnly())
        return usageError("info takes no edit options");
    sonavik::Workspace ws;
    sonavik::applyDefaultSettings(ws.settings);
    sonavik::ConsoleUi ui(std::cerr, options.yes ? sonavik::MessageAnswer::Yes : sonavik::MessageAnswer::No);
    if (!openInput(ws, ui, files[0], options.channels))
        return kExitFailed;
    const sonavik::SoundDocument& doc = ws.document;
    std::cout << "channels=" << doc.format.nChannels << " rate=" << doc.format.nSamplesPerSec
              << " bits=" << doc.format.wBitsPerSample << " frames=" << doc.frameCount << '\n';
    // The file's own format, as libsndfile reads it.
    if (const auto source = sonavik::describeSoundFile(doc.path)) {
        std::cout << "file: container=\"" << source->container << "\" coding=\"" << source->coding << "\" bits="
                  << source->bits << (source->floating ? " float" : "") << " channels=" << source->channels
                  << " rate=" << source->rate << " frames=" << source->frames << '\n';
    }
    return kExitOk;
}

int convert(const std::vector<std::string>& operands, const Options& options)
{
    if (operands.size() != 2)
        return usageError("convert takes IN OUT");
    if (options.target || !options.selects.empty() || options.red || options.response || options.preset
        || options.threads || options.loopSeconds || options.device)
        return usageError("convert takes only --bits, --channels, --mix, --quality, --settings and --yes");
    if (options.bits && *options.bits != 8 && *options.bits != 16)
        return usageError("convert: --bits takes 8 or 16");
    sonavik::Workspace ws;
    sonavik::applyDefaultSettings(ws.settings);
    if (options.settingsFile && sonavik::readSettingsFile(*options.settingsFile, ws.settings) != sonavik::SettingsRead::Ok) {
        std::cerr << "sonavik2-cli: cannot read " << *options.settingsFile << " as a settings file\n";
        return kExitFailed;
    }
    sonavik::ConsoleUi ui(std::cerr, options.yes ? sonavik::MessageAnswer::Yes : sonavik::MessageAnswer::No);
    if (!openInput(ws, ui, operands[0], options.channels))
        return kExitFailed;
    const std::optional<std::string> out = outputWavPath(ui, operands[1]);
    if (!out)
        return kExitFailed;
    if (options.bits && !sonavik::changeSampleBits(ui, ws.document, *options.bits))
        return kExitFailed;
    return writeOutput(ui, ws.document, *out, qualityOf(ws.settings, options)) ? kExitOk : kExitFailed;
}

// What edit and preview share: the settings, the sound, its selections and the command's options,
// applied as the editor would have them when the command runs. kExitOk or the status to end with.
int setUp(sonavik::Workspace& ws, sonavik::Ui& ui, const std::string& in, const sonavik::EditCommand& command,
          const Options& options)
{
    if (options.bits && command.id != sonavik::cmd::Coarsen)
        return usageError("--bits goes with coarsen");
    if (options.response && command.id != sonavik::cmd::Convolve)
        return usageError("--response goes with convolve");
    if (options.preset && command.id != sonavik::cmd::Reverb)
        return usageError("--preset goes with reverb");
    sonavik::applyDefaultSettings(ws.settings);
    if (options.settingsFile && sonavik::readSettingsFile(*options.settingsFile, ws.settings) != sonavik::SettingsRead::Ok) {
        std::cerr << "sonavik2-cli: cannot read " << *options.settingsFile << " as a settings file of at least "
                  << sizeof(sonavik::Settings) << " bytes\n";
        return kExitFailed;
    }
    if (!openInput(ws, ui, in, options.channels))
        return kExitFailed;
    for (const SelectOption& s : options.selects) {
        if (!sonavik::addSelection(ui, sonavik::selectionTable(ws.document, s.channel), s.start, s.end, s.shape,
                                   s.alphaStart, s.alphaEnd, s.parameter, s.kind))
            return kExitFailed;
    }
    if (options.red)
        ws.red = *options.red;
    if (options.bits)
        ws.settings.coarseBits = *options.bits;
    if (options.response) {
        const std::string path = absolutePath(*options.response);
        sonavik::setFieldText(ws.settings.responsePath, path);
        sonavik::setFieldText(ws.settings.openDir, path.substr(0, path.rfind('/') + 1));
    }
    if (command.id == sonavik::cmd::Convolve && sonavik::fieldText(ws.settings.responsePath).empty())
        return usageError("convolve needs --response FILE (or a response path in the --settings file)");
    if (options.preset
        && !sonavik::applyReverbPreset(ws.settings, *options.preset, ws.document.format.nSamplesPerSec))
        return usageError("unknown --preset " + *options.preset);
    return kExitOk;
}

int edit(const std::vector<std::string>& operands, const Options& options)
{
    if (operands.size() != 3)
        return usageError("edit takes IN.wav OUT.wav COMMAND");
    const sonavik::EditCommand* command = sonavik::findEditCommandByCliName(operands[2]);
    if (!command)
        return usageError("unknown edit command " + operands[2]);
    if (options.loopSeconds)
        return usageError("--loop goes with preview");
    if (options.device)
        return usageError("--device goes with preview");
    sonavik::Workspace ws;
    sonavik::ConsoleUi ui(std::cerr, options.yes ? sonavik::MessageAnswer::Yes : sonavik::MessageAnswer::No);
    if (const int status = setUp(ws, ui, operands[0], *command, options); status != kExitOk)
        return status;
    // OUT gets the name the editor would open it by.
    const std::optional<std::string> out = outputWavPath(ui, operands[1]);
    if (!out)
        return kExitFailed;
    sonavik::prepareParametersWithoutDialog(ws.settings, command->id);
    sonavik::CliEditHost host(options.threads.value_or(0), sonavik::stderrIsTerminal() ? &std::cerr : nullptr);
    if (!sonavik::runEditCommand(ws, ui, host, command->id, options.target.value_or(0), -1))
        return kExitFailed;
    if (!writeOutput(ui, ws.document, *out, qualityOf(ws.settings, options)))
        return kExitFailed;
    return kExitOk;
}

int preview(const std::vector<std::string>& operands, const Options& options)
{
    if (operands.size() != 2)
        return usageError("preview takes IN.wav COMMAND");
    const sonavik::EditCommand* command = sonavik::findEditCommandByCliName(operands[1]);
    if (!command || !sonavik::hasPreview(command->id))
        return usageError("preview takes nonlinear, equalize or reverb, not " + operands[1]);
    if (options.threads)
        return usageError("--threads goes with edit");
    sonavik::Workspace ws;
    sonavik::ConsoleUi ui(std::cerr, options.yes ? sonavik::MessageAnswer::Yes : sonavik::MessageAnswer::No);
    if (const int status = setUp(ws, ui, operands[0], *command, options); status != kExitOk)
        return status;
    // The target is checked as edit checks it: what edit refuses has nothing to hear.
    if (!sonavik::editTargetAccepted(ws, ui, options.target.value_or(0), -1))
        return kExitFailed;
    sonavik::prepareParametersWithoutDialog(ws.settings, command->id);
    return playPreview(ws, command->id, options.target.value_or(0), options.loopSeconds, options.device,
                       options.settingsFile.has_value());
}

} // namespace

int main(int argc, char** argv)
{
    // A save in place that an earlier run never finished is put back before anything reads the file.
    for (const sonavik::UnfinishedSave& save : sonavik::restoreUnfinishedSaves())
        std::cerr << "sonavik2-cli: " << sonavik::unfinishedSaveLine(save) << '\n';
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "play" || args[0] == "record" || args[0] == "devices"))
        return sonavik::cli::runAudioCommand(args);
    if (!args.empty() && isSpectralCommand(args.front()))
        return runSpectralCommand(args);
    if (!args.empty() && args.front() == "recover")
        return sonavik::cli::runRecoverCommand({args.begin() + 1, args.end()});
    Options options;
    std::string command;
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << usage();
            return kExitOk;
        }
        if (arg == "--yes") {
            options.yes = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            (command.empty() ? command : operands.emplace_back()) = arg;
            continue;
        }
        // Options with a value: "--name VALUE" or "--name=VALUE".
        auto option = takeValuedOption(
            args, i, {"--target", "--select", "--red", "--settings", "--bits", "--response", "--preset", "--threads", "--loop",
                      "--device", "--channels", "--mix", "--quality"});
        if (const std::string* error = std::get_if<std::string>(&option))
            return usageError(*error);
        const std::string& name = std::get<OptionValue>(option).name;
        const std::string* value = &std::get<OptionValue>(option).value;
        if (name == "--target") {
            auto code = parseNumber<int>(*value);
            if (!code || *code < 0 || *code > 12)
                return usageError("--target takes a code from 0 to 12, not " + *value);
            options.target = *code;
        } else if (name == "--select") {
            auto s = parseSelect(*value);
            if (!s)
                return usageError("malformed --select " + *value);
            options.selects.push_back(*s);
        } else if (name == "--red") {
            auto red = parseRed(*value);
            if (!red)
                return usageError("malformed --red " + *value);
            options.red = *red;
        } else if (name == "--bits") {
            auto bits = parseNumber<int>(*value);
            if (!bits || *bits < 1 || *bits > 16)
                return usageError("--bits takes a count from 1 to 16, not " + *value);
            options.bits = *bits;
        } else if (name == "--response") {
            options.response = *value;
        } else if (name == "--threads") {
            const auto threads = parseThreadCount(*value);
            if (const std::string* error = std::get_if<std::string>(&threads))
                return usageError(*error);
            options.threads = std::get<int>(threads);
        } else if (name == "--preset") {
            options.preset = *value;
        } else if (name == "--channels" || name == "--mix") {
            if (options.channels)
                return usageError("--channels and --mix go alone");
            options.channels = name == "--mix" ? parseMix(*value) : parseChannelPair(*value);
            if (!options.channels)
                return usageError(name == "--mix" ? "--mix takes mono or stereo, not " + *value
                                                  : "--channels takes L,R (numbered from 1), not " + *value);
        } else if (name == "--quality") {
            options.quality = parseNumber<int>(*value);
            if (!options.quality || *options.quality < 0 || *options.quality > 10)
                return usageError("--quality takes 0 to 10, not " + *value);
        } else if (name == "--device") {
            options.device = *value;
        } else if (name == "--loop") {
            options.loopSeconds = parseNumber<double>(*value);
            if (!options.loopSeconds || *options.loopSeconds <= 0 || *options.loopSeconds > 86400)
                return usageError("--loop takes seconds above 0, not " + *value);
        } else {
            options.settingsFile = *value;
        }
    }
    if (command == "info")
        return info(operands, options);
    if (command == "edit")
        return edit(operands, options);
    if (command == "convert")
        return convert(operands, options);
    if (command == "preview")
        return preview(operands, options);
    return usageError(command.empty() ? "no command" : "unknown command " + command);
}
