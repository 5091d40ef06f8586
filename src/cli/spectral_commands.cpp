#include "cli/spectral_commands.h"

#include "app/file_flows.h"
#include "cli/cli_options.h"
#include "cli/long_edit_progress.h"
#include "cli/spectral_ops.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "edit/long_edit.h"
#include "platform/console_ui.h"
#include "platform/os.h"
#include "settings/settings.h"
#include "spectrogram/analysis_collector.h"
#include "spectrogram/resynthesis.h"
#include "spectrogram/spectral_edits.h"
#include "spectrogram/spectral_repair.h"
#include "spectrogram/spectrogram_analysis.h"
#include "spectrogram/spectrogram_export.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <optional>

namespace sonavik::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int usageError(const std::string& what)
{
    std::cerr << "sonavik2-cli: " << what << "\n" << "usage:" << spectralSynopsis().substr(6) << spectralHelp();
    return kExitUsage;
}

struct SpectralOptions {
    bool yes = false;
    std::optional<int> target;  // every channel of the sound when not given
    std::vector<SelectOption> selects;
    std::optional<RedSelection> red;
    std::optional<std::string> settingsFile;
    std::optional<std::string> bmp;
    std::optional<std::string> fft;
    std::optional<std::string> applyAlpha;  // blue, green or both
    bool missingAlphaFull = false;
    std::optional<std::string> to;          // L, R or LR
    std::optional<std::int32_t> at;
    int threads = 0;                        // analysis and write-back; 0: one per core
    bool log = false;                       // the picture coloured as after the LOG button
    std::optional<double> gain;             // and with this gain
    std::vector<std::string> operands;
};

// Parses everything after the command name; an error text on failure.
std::optional<std::string> parseOptions(const std::vector<std::string>& args, SpectralOptions& o)
{
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--yes") {
            o.yes = true;
            continue;
        }
        if (arg == "--missing-alpha-full") {
            o.missingAlphaFull = true;
            continue;
        }
        if (arg == "--log") {
            o.log = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            o.operands.push_back(arg);
            continue;
        }
        auto option = takeValuedOption(args, i,
                                       {"--target", "--select", "--red", "--settings", "--bmp", "--fft",
                                        "--apply-alpha", "--to", "--at", "--threads", "--gain"});
        if (std::string* error = std::get_if<std::string>(&option))
            return *error;
        const std::string& name = std::get<OptionValue>(option).name;
        const std::string* value = &std::get<OptionValue>(option).value;
        if (name == "--target") {
            const auto code = parseNumber<int>(*value);
            if (!code || *code < 0 || *code > 12)
                return "--target takes a code from 0 to 12, not " + *value;
            o.target = *code;
        } else if (name == "--select") {
            const auto s = parseSelect(*value);
            if (!s)
                return "malformed --select " + *value;
            o.selects.push_back(*s);
        } else if (name == "--red") {
            const auto red = parseRed(*value);
            if (!red)
                return "malformed --red " + *value;
            o.red = *red;
        } else if (name == "--settings") {
            o.settingsFile = *value;
        } else if (name == "--bmp") {
            o.bmp = *value;
        } else if (name == "--fft") {
            o.fft = *value;
        } else if (name == "--apply-alpha") {
            if (*value != "blue" && *value != "green" && *value != "both")
                return "--apply-alpha takes blue, green or both, not " + *value;
            o.applyAlpha = *value;
        } else if (name == "--to") {
            if (*value != "L" && *value != "R" && *value != "LR")
                return "--to takes L, R or LR, not " + *value;
            o.to = *value;
        } else if (name == "--threads") {
            const auto threads = parseThreadCount(*value);
            if (const std::string* error = std::get_if<std::string>(&threads))
                return *error;
            o.threads = std::get<int>(threads);
        } else if (name == "--gain") {
            const auto gain = parseNumber<double>(*value);
            if (!gain || !(*gain > 0.0))
                return "--gain takes a number above 0, not " + *value;
            o.gain = *gain;
        } else {
            const auto at = parseNumber<std::int32_t>(*value);
            if (!at || *at < 0)
                return "--at takes a frame from 0 to 2147483647, not " + *value;
            o.at = *at;
        }
    }
    return std::nullopt;
}

// Runs the FFT command as the menu does and hands each region's spectrogram on as soon as it is made,
// so that only one is held at a time: an hour of stereo needs the memory of one channel's analysis.
class RegionByRegion : public AnalysisCollector {
public:
    // Each spectrogram (null where the analysis was refused, its message shown) goes to each; once it
    // returns false the later regions are left alone.
    using Each = std::function<bool(std::unique_ptr<Spectrogram>)>;
    // Without picture the spectrograms come without their colours (see analyseSpectrogram).
    RegionByRegion(Workspace& ws, Ui& ui, int threads, bool picture, Each each)
        : AnalysisCollector(ws, ui), ws_(ws), ui_(ui), threads_(threads), picture_(picture), each_(std::move(each))
    {
    }

    // Analyses from source instead of the workspace's sound (which the regions before may have changed).
    void analyseFrom(const SoundDocument* source) { source_ = source; }
    bool stopped() const { return stopped_; }

    void analyseSpectrogram(const EditRegion& region, int) override
    {
        if (stopped_)
            return;
        const SoundDocument& doc = source_ ? *source_ : ws_.document;
        stopped_ = !each_(sonavik::analyseSpectrogram(ui_, doc, region, ws_.settings, threads_, nullptr, picture_));
    }

private:
    Workspace& ws_;
    Ui& ui_;
    int threads_;
    bool picture_;
    Each each_;
    const SoundDocument* source_ = nullptr;
    bool stopped_ = false;
};

// Loads the sound and adds the selections as the menu would find them. False after a failure that has
// been reported.
bool loadSound(const std::string& input, const SpectralOptions& o, Workspace& ws, ConsoleUi& ui)
{
    applyDefaultSettings(ws.settings);
    if (o.settingsFile && readSettingsFile(*o.settingsFile, ws.settings) != SettingsRead::Ok) {
        std::cerr << "sonavik2-cli: cannot read " << *o.settingsFile << " as a settings file of at least "
                  << sizeof(Settings) << " bytes\n";
        return false;
    }
    if (!openInput(ws, ui, input))
        return false;
    for (const SelectOption& s : o.selects)
        if (!addSelection(ui, selectionTable(ws.document, s.channel), s.start, s.end, s.shape, s.alphaStart,
                          s.alphaEnd, s.parameter, s.kind))
            return false;
    if (o.red)
        ws.red = *o.red;
    return true;
}

int targetOf(const SpectralOptions& o, const Workspace& ws)
{
    return o.target.value_or(ws.document.format.nChannels == 1 ? 1 : 0);
}

// name.ext -> name-k.ext when there are several targets.
std::string numbered(const std::string& path, std::size_t index, std::size_t count, const std::string& extension)
{
    const std::string full = withSaveExtension(path, extension);
    if (count <= 1)
        return full;
    const std::size_t cut = full.size() - extension.size();
    return full.substr(0, cut) + "-" + std::to_string(index + 1) + full.substr(cut);
}

int spectrogramCommand(const SpectralOptions& o)
{
    if (o.operands.size() != 1)
        return usageError("spectrogram takes IN.wav");
    if (!o.bmp && !o.fft)
        return usageError("spectrogram needs --bmp OUT.bmp or --fft OUT.fft (or both)");
    if (o.applyAlpha || o.missingAlphaFull || o.to || o.at)
        return usageError("the resynthesis options go with spectral");
    Workspace ws;
    ConsoleUi ui(std::cerr, o.yes ? MessageAnswer::Yes : MessageAnswer::No);
    if (!loadSound(o.operands[0], o, ws, ui))
        return kExitFailed;
    const std::size_t count = targetRegions(ws.document, ws.red, targetOf(o, ws), -1).size();
    std::size_t index = 0;
    int status = kExitOk;
    RegionByRegion host(ws, ui, o.threads, o.bmp.has_value(), [&](std::unique_ptr<Spectrogram> s) {
        const std::size_t i = index++;
        if (!s) {
            status = kExitFailed;
            return true;
        }
        if (o.log || o.gain) {
            // As the LOG and gain buttons leave the picture.
            s->logDisplay = o.log ? 1 : 0;
            s->gain = o.gain.value_or(1.0);
            colourSpectrogram(*s, colourFactorsOf(ws.settings), o.threads);
        }
        std::string written;
        if (o.bmp) {
            const std::string path = absolutePath(numbered(*o.bmp, i, count, ".bmp"));
            if (!writeSpectrogramBitmap(ui, *s, path))
                return false;
            written += " " + path;
        }
        if (o.fft) {
            const std::string path = absolutePath(numbered(*o.fft, i, count, ".fft"));
            if (!writeSpectrogramSpectra(ui, *s, path))
                return false;
            written += " " + path;
        }
        std::cout << spectrogramTitle(*s) << " :" << written << '\n';
        return true;
    });
    if (!runEditCommand(ws, ui, host, cmd::Fft, targetOf(o, ws), -1) || host.stopped())
        return kExitFailed;
    return status;
}

// The resynthesis options of the command line over what the window's button presets, then the rules the
// destination dialog applies when it opens.
void applyResynthesisOptions(const SpectralOptions& o, Settings& settings, bool mono)
{
    if (o.applyAlpha) {
        settings.applyUseAlpha = 1;
        settings.applyBlue = *o.applyAlpha != "green" ? 1 : 0;
        settings.applyGreen = *o.applyAlpha != "blue" ? 1 : 0;
    } else {
        settings.applyUseAlpha = 0;
    }
    settings.applyTreatMissingAlphaAsFull = o.missingAlphaFull ? 1 : 0;
    if (o.at) {
        settings.applyNewPosition = 1;
        settings.applyStart = *o.at;
    }
    openApplyDialog(settings, mono);
    // A channel named on the command line is taken as it is: the right one of mono sound is refused.
    if (o.to) {
        settings.applyLeft = o.to->find('L') != std::string::npos ? 1 : 0;
        settings.applyRight = o.to->find('R') != std::string::npos ? 1 : 0;
    }
}

int spectralCommand(const SpectralOptions& o)
{
    if (o.operands.size() < 2)
        return usageError("spectral takes IN.wav OUT.wav OP...");
    if (o.bmp || o.fft)
        return usageError("--bmp and --fft go with spectrogram");
    if (o.log || o.gain)
        return usageError("--log and --gain go with spectrogram");
    std::vector<RectOp> ops;
    for (std::size_t i = 2; i < o.operands.size(); ++i) {
        auto op = parseRectOp(o.operands[i]);
        if (!op)
            return usageError("malformed edit " + o.operands[i] + " (erase|double|halve|keep:FRAME0:FRAME1:BIN0:BIN1)");
        ops.push_back(*op);
    }
    Workspace ws;
    ConsoleUi ui(std::cerr, o.yes ? MessageAnswer::Yes : MessageAnswer::No);
    if (!loadSound(o.operands[0], o, ws, ui))
        return kExitFailed;
    const std::optional<std::string> out = outputWavPath(ui, o.operands[1]);
    if (!out)
        return kExitFailed;
    const bool mono = ws.document.format.nChannels == 1;
    const int target = targetOf(o, ws);
    // Each region is written back before the next is analysed. Into its own place that changes no
    // later region (they never overlap); elsewhere it might, so the later ones are analysed from the
    // sound as it was loaded.
    std::optional<SoundDocument> loaded;
    if ((o.to || o.at) && targetRegions(ws.document, ws.red, target, -1).size() > 1) {
        loaded = memoryRoomFor(ws.document.samples.size()) ? ws.document.copyWithSamples() : SoundDocument();
        if (!loaded->hasData()) {
            showError(ui, "メモリがたりません");
            return kExitFailed;
        }
    }
    LongEditOptions threads;
    threads.threads = o.threads;
    bool done = true;
    int regions = 0;
    // The write-back needs only the spectra: an hour's picture would take half a gigabyte for nothing.
    RegionByRegion host(ws, ui, o.threads, false, [&](std::unique_ptr<Spectrogram> s) {
        ++regions;
        if (!s)
            return done = false;
        for (const RectOp& op : ops) {
            const CellRect rect = rectOf(op, *s);
            if (!limitedRect(*s, rect)) {
                std::cerr << "sonavik2-cli: " << op.text << " lies outside the spectrogram " << spectrogramTitle(*s)
                          << " (frames 0 to " << s->spectrumCount - 1 << ", bins 0 to " << s->binCount - 1 << ")\n";
                return done = false;
            }
            if (!applyHarmonicEdit(*s, op.edit, rect, harmonicsOf(op, ws.settings))) {
                std::cerr << "sonavik2-cli: " << op.text << " has no frame outside it to rebuild from\n";
                return done = false;
            }
        }
        const auto options = [&] {
            applyResynthesisOptions(o, ws.settings, mono);
            return true;
        };
        ResynthesisStart started = startResynthesis(ws, ui, *s, options, threads);
        if (started.edit) {
            const LongEditOutcome outcome = finishWithProgress(*started.edit, ui, host, "spectral",
                                                               stderrIsTerminal() ? &std::cerr : nullptr);
            started.written = outcome == LongEditOutcome::Done ? started.written : 0;
        }
        // Nothing here is undone: the sound before the write-back need not be kept.
        ws.undoStore = SoundDocument();
        return done = started.written != 0;
    });
    host.analyseFrom(loaded ? &*loaded : nullptr);
    if (!runEditCommand(ws, ui, host, cmd::Fft, target, -1) || !done || regions == 0)
        return kExitFailed;
    if (!writeOutput(ui, ws.document, *out, exportQuality(ws.settings)))
        return kExitFailed;
    return kExitOk;
}

} // namespace

bool isSpectralCommand(const std::string& name) { return name == "spectrogram" || name == "spectral"; }

int runSpectralCommand(const std::vector<std::string>& args)
{
    if (std::find(args.begin(), args.end(), "--help") != args.end() || std::find(args.begin(), args.end(), "-h") != args.end()) {
        std::cout << "usage:" << spectralSynopsis().substr(6) << spectralHelp();
        return kExitOk;
    }
    SpectralOptions o;
    if (const auto error = parseOptions(args, o))
        return usageError(*error);
    return args.front() == "spectrogram" ? spectrogramCommand(o) : spectralCommand(o);
}

std::string spectralSynopsis()
{
    return "       sonavik2-cli spectrogram IN.wav [--bmp OUT.bmp] [--fft OUT.fft] [--target N] [--select ...]\n"
           "                   [--red ...] [--settings FILE] [--log] [--gain G] [--threads N]\n"
           "       sonavik2-cli spectral IN.wav OUT.wav [OP...] [--target N] [--select ...] [--red ...]\n"
           "                   [--settings FILE] [--apply-alpha blue|green|both] [--missing-alpha-full]\n"
           "                   [--to L|R|LR] [--at FRAME] [--threads N]\n";
}

std::string spectralHelp()
{
    return "\n"
           "spectrogram commands (--target, --select, --red and --settings as for edit; without --target\n"
           "every channel of the sound: 0 for stereo, 1 for mono):\n"
           "  spectrogram     run the FFT command on every region of the target (FFT size, window and alpha\n"
           "                  from the settings) and write each spectrogram's picture (--bmp, 24-bit) and\n"
           "                  spectra (--fft: n, F, 0, 0 as 32-bit integers, then F x n floats); with several\n"
           "                  regions the names get -1, -2, ... before the extension. Prints each title.\n"
           "                  A refused region is skipped with its message (exit status 1).\n"
           "  --log           colour the picture as after the window's LOG button (default LINE)\n"
           "  --gain G        the picture's brightness factor, above 0, as after the gain buttons (each\n"
           "                  press doubles or halves it; default 1)\n"
           "  spectral        the same analysis, then each OP on every spectrogram, then each written back\n"
           "                  into the sound (inverse FFT with crossfades) and the sound written to OUT\n"
           "                  (named as for edit). One region is analysed and written back at a time\n"
           "  --threads N     analysis and write-back threads, 1 to 64 (default: one per core); the files\n"
           "                  are the same for every N\n"
           "  OP              erase|double|halve|keep:FRAME0:FRAME1:BIN0:BIN1, the window's 消去, 大きさを２倍,\n"
           "                  大きさを半分 and トリミング on frames FRAME0..FRAME1 and bins BIN0..BIN1\n"
           "                  (inclusive, limited to the spectrogram); a frame may be given as seconds (1.5s,\n"
           "                  real time from the target's first frame; frames start n/2 samples apart)\n"
           "                  and a bin as hertz (440Hz): the cell whose start is at or below that value\n"
           "  repair:...      修復: the rectangle's cells rebuilt from the frames just outside it (magnitude\n"
           "                  between the frame before and the frame after, phase run on from the frame before)\n"
           "  OP:harmonics=N  any OP also on the first N harmonics of its band (1 to 999; :harmonics alone\n"
           "                  takes the settings' count, 8 by default): bands as wide as BIN0..BIN1 centred\n"
           "                  on k times its centre, k = 2 ... N + 1, none past the top bin (倍音も)\n"
           "  --apply-alpha   weight the written sound by the alpha of the destination's blue, green or both\n"
           "                  selections (default: write fully)\n"
           "  --missing-alpha-full  with --apply-alpha, write fully where no selection lies\n"
           "  --to L|R|LR     destination channels (default: the spectrogram's own)\n"
           "  --at FRAME      destination start frame (default: where the analysis started)\n";
}

} // namespace sonavik::cli
