#include "cli/audio_commands.h"

#include "app/file_flows.h"
#include "audio/playback.h"
#include "audio/recording.h"
#include "cli/cli_options.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "platform/console_ui.h"
#include "platform/os.h"
#include "qtaudio/qt_wave_device.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iostream>
#include <optional>
#include <string_view>

namespace sonavik::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A playback or recording that has not ended this long after it should have counts as failed.
constexpr double kGraceSeconds = 15.0;

// The console, remembering whether any error was reported (a device that failed on the way, say).
class TrackingUi : public ConsoleUi {
public:
    TrackingUi() : ConsoleUi(std::cerr, MessageAnswer::No) {}
    MessageAnswer messageBox(const MessageRequest& request) override
    {
        if (request.icon == MessageIcon::Error)
            failed = true;
        ++messages;
        return ConsoleUi::messageBox(request);
    }
    bool failed = false;
    int messages = 0;
};

int usageError(const std::string& what)
{
    std::cerr << "sonavik2-cli: " << what << "\n" << audioUsage();
    return kExitUsage;
}

// Runs the event loop until done() holds (true) or the time is up (false).
bool runUntil(const std::function<bool()>& done, double seconds)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    bool reached = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        } else if (static_cast<double>(clock.elapsed()) > seconds * 1000.0) {
            loop.quit();
        }
    });
    poll.start(10);
    loop.exec();
    return reached;
}

// Options "--name VALUE" or "--name=VALUE" after the operands; nullopt (after the usage message) on error.
struct Parsed {
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;
};

std::optional<Parsed> parse(const std::vector<std::string>& args, std::initializer_list<std::string_view> known, int& status)
{
    Parsed p;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            p.operands.push_back(arg);
            continue;
        }
        auto option = takeValuedOption(args, i, known);
        if (const std::string* error = std::get_if<std::string>(&option)) {
            status = usageError(*error);
            return std::nullopt;
        }
        auto& [name, value] = std::get<OptionValue>(option);
        p.options.emplace_back(std::move(name), std::move(value));
    }
    return p;
}

// Qt's audio needs an application object; the command's whole run happens inside it.
struct AudioApp {
    int argc = 1;
    char name[16] = "sonavik2-cli";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
};

int play(const std::vector<std::string>& args)
{
    int status = kExitUsage;
    const auto parsed = parse(args, {"--red", "--loop"}, status);
    if (!parsed)
        return status;
    if (parsed->operands.size() != 1)
        return usageError("play takes one FILE");
    std::optional<RedSelection> red;
    std::optional<double> loopSeconds;
    for (const auto& [name, value] : parsed->options) {
        if (name == "--red") {
            red = parseRed(value);
            if (!red)
                return usageError("malformed --red " + value);
        } else {
            loopSeconds = parseNumber<double>(value);
            if (!loopSeconds || *loopSeconds <= 0 || *loopSeconds > 86400)
                return usageError("--loop takes seconds above 0, not " + value);
        }
    }

    AudioApp qt;
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.pageSize = memoryPageSize();
    TrackingUi ui;
    if (!openWavFile(ws, ui, absolutePath(parsed->operands[0])))
        return kExitFailed;
    if (red)
        ws.red = *red;
    // As "通常再生" or "ループ再生" play it.
    ws.loopMode = loopSeconds ? 1 : 0;
    QtWaveOut device;
    Player player(ws, ui, device);
    player.playOrStop();
    if (ws.playing != 1) {
        if (ui.messages == 0)
            std::cerr << "sonavik2-cli: nothing to play (an empty sound, or a red selection whose start is not before its end)\n";
        return kExitFailed;
    }
    if (loopSeconds) {
        runUntil([&] { return ws.playing == 0; }, *loopSeconds);
        if (ws.playing == 1)
            player.playOrStop();
        return ui.failed ? kExitFailed : kExitOk;
    }
    const SoundDocument& doc = ws.document;
    const double seconds =
        (player.lastFrame() - player.firstFrame() + 1.0) / std::max<double>(doc.format.nSamplesPerSec, 1.0);
    if (!runUntil([&] { return ws.playing == 0; }, seconds + kGraceSeconds)) {
        player.playOrStop();
        std::cerr << "sonavik2-cli: the sound device stopped taking sound\n";
        return kExitFailed;
    }
    return ui.failed ? kExitFailed : kExitOk;
}

int record(const std::vector<std::string>& args)
{
    int status = kExitUsage;
    const auto parsed = parse(args, {"--seconds", "--rate", "--bits", "--channels"}, status);
    if (!parsed)
        return status;
    if (parsed->operands.size() != 1)
        return usageError("record takes one OUT.wav");
    std::optional<int> seconds;
    int rate = 44100;
    int bits = 16;
    int channels = 2;
    for (const auto& [name, value] : parsed->options) {
        const auto n = parseNumber<int>(value);
        if (name == "--seconds") {
            if (!n || *n < 1 || *n > 86400)
                return usageError("--seconds takes 1 to 86400, not " + value);
            seconds = *n;
        } else if (name == "--rate") {
            if (!n || *n < 1000 || *n > 384000)
                return usageError("--rate takes 1000 to 384000, not " + value);
            rate = *n;
        } else if (name == "--bits") {
            if (!n || (*n != 8 && *n != 16))
                return usageError("--bits takes 8 or 16, not " + value);
            bits = *n;
        } else {
            if (!n || (*n != 1 && *n != 2))
                return usageError("--channels takes 1 or 2, not " + value);
            channels = *n;
        }
    }
    if (!seconds)
        return usageError("record needs --seconds");

    AudioApp qt;
    Workspace ws;
    Settings& s = ws.settings;
    applyDefaultSettings(s);
    ws.pageSize = memoryPageSize();
    s.recordUseMapper = 1;
    s.recordSeconds = *seconds;
    s.recordOnlyWhenSound = 0;
    s.recordBits = bits;
    s.recordChannels = channels;
    static constexpr int kRates[5] = {8000, 11025, 22050, 44100, 48000};
    s.recordRateIndex = 5;
    s.recordCustomRate = rate;
    for (int i = 0; i < 5; ++i)
        if (kRates[i] == rate)
            s.recordRateIndex = i;

    TrackingUi ui;
    QtWaveIn device;
    Recorder recorder(ws, ui, device);
    bool deviceGone = false;
    recorder.hooks.settingsDialog = [] { return true; };
    recorder.hooks.closeStandby = [&] { deviceGone = true; };
    recorder.hooks.standby = [&] {
        recorder.openLevelPicture(64, 32);
        recorder.toggleCapturing();
        // Storing stops by itself once the next packet would not fit into the seconds asked for.
        runUntil([&] { return ws.capturing == 0 || deviceGone; }, *seconds + kGraceSeconds);
        recorder.stopCapturing();
    };
    recorder.recordNewDocument();
    if (!ws.document.hasData())
        return kExitFailed;
    // What was stored before a device failed is still written, and the command still counts as failed.
    const bool written = writeWavFile(ui, ws.document, absolutePath(parsed->operands[0]));
    return written && !deviceGone ? kExitOk : kExitFailed;
}

} // namespace

const char* audioUsage()
{
    return "       sonavik2-cli play FILE.wav [--red CH:START:END] [--loop SECONDS]\n"
           "                  play the sound, or frames START to END of it, on the default output device;\n"
           "                  --loop plays it over and over for that many seconds\n"
           "       sonavik2-cli record OUT.wav --seconds S [--rate R] [--bits 8|16] [--channels 1|2]\n"
           "                  record from the default input device until S seconds are stored (whole\n"
           "                  packets, so up to one packet less) and write OUT (default 44100 Hz, 16 bits,\n"
           "                  2 channels)\n";
}

int runAudioCommand(const std::vector<std::string>& args)
{
    const int status = !args.empty() && args[0] == "play" ? play(args) : record(args);
    // The command's application object, devices and files are gone by now; only Qt's own audio
    // teardown is left, which may crash if the server still answers the stream just closed.
    exitWithoutAudioTeardown(status);
}

} // namespace sonavik::cli
