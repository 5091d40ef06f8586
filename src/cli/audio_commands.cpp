#include "cli/audio_commands.h"

#include "app/file_flows.h"
#include "audio/playback.h"
#include "audio/recording.h"
#include "cli/cli_options.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "edit/preview_render.h"
#include "platform/console_ui.h"
#include "platform/os.h"
#include "audio/playback_settings.h"
#include "platform/task_queue.h"
#include "pulse/pulse_wave_device.h"
#include "settings/settings.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <string_view>

namespace sonavik::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A playback that has not ended this long after it should have counts as failed.
constexpr double kGraceSeconds = 15.0;
// A recording device that delivered nothing for this long, while the program ran, has stopped.
constexpr double kSilentDeviceSeconds = 5.0;

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

// Set by SIGINT and SIGTERM while a recording runs: it ends the take, which is kept.
volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) { stopRequested = 1; }

// Ctrl+C and a terminate signal end the recording instead of the program while it lives.
class StopOnSignals {
public:
    StopOnSignals()
    {
        stopRequested = 0;
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~StopOnSignals()
    {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

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

// --settings FILE into settings; false after the message.
bool readSettingsOption(const std::optional<std::string>& file, Settings& settings)
{
    if (!file || readSettingsFile(*file, settings) == SettingsRead::Ok)
        return true;
    std::cerr << "sonavik2-cli: cannot read " << *file << " as a settings file of at least " << sizeof(Settings) << " bytes\n";
    return false;
}

// The device a command uses: --device by the server's name or description; else the one the settings
// chose by name, as the dialogs pick it; else the default. Sets useMapper and index; false after the message.
bool chooseDevice(const std::optional<std::string>& wanted, bool sinks, bool fromSettings, const std::string& storedName,
                 std::int32_t& useMapper, std::int32_t& index, Ui& ui, const std::function<int(int, WaveDeviceCaps&)>& capabilities,
                 const std::function<int()>& count, const std::function<bool()>& notAnswering)
{
    if (wanted) {
        bool silent = false;
        const auto lists = listPulseDevices(&silent);
        const int n = lists ? pulseDeviceNumber(sinks ? lists->sinks : lists->sources, *wanted) : -1;
        if (silent) {
            std::cerr << "sonavik2-cli: " << kServerNotAnsweringText << '\n';
            return false;
        }
        if (n < 0) {
            std::cerr << "sonavik2-cli: no sound " << (sinks ? "output" : "input") << " \"" << *wanted
                      << "\" (sonavik2-cli devices lists them)\n";
            return false;
        }
        useMapper = 0;
        index = n;
        return true;
    }
    if (!fromSettings || useMapper == 1) {
        useMapper = 1;
        return true;
    }
    // The server is asked for its list only when the settings choose a device by name.
    const std::vector<std::string> names = deviceListNames(ui, count(), capabilities);
    if (names.empty() && notAnswering()) {
        std::cerr << "sonavik2-cli: " << kServerNotAnsweringText << '\n';
        return false;
    }
    index = entryForName(storedName, names.data(), static_cast<int>(names.size()));
    return true;
}

int play(const std::vector<std::string>& args)
{
    int status = kExitUsage;
    const auto parsed = parse(args, {"--red", "--loop", "--settings", "--device"}, status);
    if (!parsed)
        return status;
    if (parsed->operands.size() != 1)
        return usageError("play takes one FILE");
    std::optional<RedSelection> red;
    std::optional<double> loopSeconds;
    std::optional<std::string> settingsFile, deviceName;
    for (const auto& [name, value] : parsed->options) {
        if (name == "--red") {
            red = parseRed(value);
            if (!red)
                return usageError("malformed --red " + value);
        } else if (name == "--loop") {
            loopSeconds = parseNumber<double>(value);
            if (!loopSeconds || *loopSeconds <= 0 || *loopSeconds > 86400)
                return usageError("--loop takes seconds above 0, not " + value);
        } else if (name == "--settings") {
            settingsFile = value;
        } else {
            deviceName = value;
        }
    }

    Workspace ws;
    applyDefaultSettings(ws.settings);
    if (!readSettingsOption(settingsFile, ws.settings))
        return kExitFailed;
    ws.pageSize = memoryPageSize();
    TrackingUi ui;
    TaskQueue events;
    PulseWaveOut device(events.poster());
    Settings& s = ws.settings;
    if (!chooseDevice(deviceName, true, settingsFile.has_value(), deviceNameOf(s.playDeviceName), s.playUseMapper,
                     s.playDeviceIndex, ui, [&](int n, WaveDeviceCaps& caps) { return device.capabilities(n, caps); },
                     [&] { return device.deviceCount(); }, [&] { return device.serverNotAnswering(); }))
        return kExitFailed;
    if (!openWavFile(ws, ui, absolutePath(parsed->operands[0])))
        return kExitFailed;
    if (red)
        ws.red = *red;
    // As "通常再生" or "ループ再生" play it.
    ws.loopMode = loopSeconds ? 1 : 0;
    Player player(ws, ui, device);
    player.playOrStop();
    if (ws.playing != 1) {
        if (ui.messages == 0)
            std::cerr << "sonavik2-cli: nothing to play (an empty sound, or a red selection whose start is not before its end)\n";
        return kExitFailed;
    }
    if (loopSeconds) {
        events.runUntil([&] { return ws.playing == 0; }, *loopSeconds);
        if (ws.playing == 1)
            player.playOrStop();
        return ui.failed ? kExitFailed : kExitOk;
    }
    const SoundDocument& doc = ws.document;
    // The engine ends when the server has played the last frame.
    const double seconds =
        (player.lastFrame() - player.firstFrame() + 1.0) / std::max<double>(doc.format.nSamplesPerSec, 1.0);
    if (!events.runUntil([&] { return ws.playing == 0; }, seconds * 65536.0 / std::max<std::uint32_t>(s.playRate, 1) + kGraceSeconds)) {
        player.playOrStop();
        std::cerr << "sonavik2-cli: the sound device stopped taking sound\n";
        return kExitFailed;
    }
    return ui.failed ? kExitFailed : kExitOk;
}

// Runs events until ended() holds; false when no packet arrived (packetCount() stood still) for
// kSilentDeviceSeconds of the program's own running time. A stretch the program spent stopped (a signal,
// a suspended machine) counts only as long as one slice, so a stall of the program is not blamed on the
// device. A slice is short too because a signal sets ended() without posting a task.
bool waitWhileSoundArrives(TaskQueue& events, const std::function<bool()>& ended,
                           const std::function<std::uint64_t()>& packetCount)
{
    using Clock = std::chrono::steady_clock;
    constexpr double kSlice = 0.25;
    double silent = 0;
    std::uint64_t seen = packetCount();
    while (!ended()) {
        const auto before = Clock::now();
        events.runUntil([&] { return ended() || packetCount() != seen; }, kSlice);
        if (packetCount() != seen) {
            seen = packetCount();
            silent = 0;
            continue;
        }
        silent += std::min(std::chrono::duration<double>(Clock::now() - before).count(), 2 * kSlice);
        if (silent >= kSilentDeviceSeconds)
            return false;
    }
    return true;
}

int record(const std::vector<std::string>& args)
{
    int status = kExitUsage;
    const auto parsed = parse(args, {"--seconds", "--rate", "--bits", "--channels", "--settings", "--device"}, status);
    if (!parsed)
        return status;
    if (parsed->operands.size() != 1)
        return usageError("record takes one OUT.wav");
    std::optional<int> seconds, rate, bits, channels;
    std::optional<std::string> settingsFile, deviceName;
    for (const auto& [name, value] : parsed->options) {
        if (name == "--settings") {
            settingsFile = value;
            continue;
        }
        if (name == "--device") {
            deviceName = value;
            continue;
        }
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
    if (!seconds && !settingsFile)
        return usageError("record needs --seconds (or the length in a --settings file)");
    // Before anything can take long (the server, the device): an interrupt from here on ends the take.
    StopOnSignals stopOnSignals;

    Workspace ws;
    Settings& s = ws.settings;
    applyDefaultSettings(s);
    if (!readSettingsOption(settingsFile, s))
        return kExitFailed;
    ws.pageSize = memoryPageSize();
    if (!settingsFile) {
        // Without a settings file: 44100 Hz, 16 bits, stereo, storing from the first packet on.
        s.recordRateIndex = 3;
        s.recordBits = 16;
        s.recordChannels = 2;
        s.recordOnlyWhenSound = 0;
    }
    if (seconds)
        s.recordSeconds = *seconds;
    if (bits)
        s.recordBits = *bits;
    if (channels)
        s.recordChannels = *channels;
    if (rate) {
        static constexpr int kRates[5] = {8000, 11025, 22050, 44100, 48000};
        s.recordRateIndex = 5;
        s.recordCustomRate = *rate;
        for (int i = 0; i < 5; ++i)
            if (kRates[i] == *rate)
                s.recordRateIndex = i;
    }
    if (s.recordSeconds < 1)
        return usageError("record needs a length of 1 second or more");

    TrackingUi ui;
    const std::string out = absolutePath(parsed->operands[0]);
    // A take that could not be written is found out before it is recorded, not after.
    if (!canWriteWavFile(ui, out))
        return kExitFailed;
    TaskQueue events;
    PulseWaveIn device(events.poster());
    if (!chooseDevice(deviceName, false, settingsFile.has_value(), deviceNameOf(s.recordDeviceName), s.recordUseMapper,
                     s.recordDeviceIndex, ui, [&](int n, WaveDeviceCaps& caps) { return device.capabilities(n, caps); },
                     [&] { return device.deviceCount(); }, [&] { return device.serverNotAnswering(); }))
        return kExitFailed;
    if (stopRequested != 0) {
        std::cerr << "sonavik2-cli: interrupted before recording started; nothing recorded\n";
        return kExitFailed;
    }

    Recorder recorder(ws, ui, device);
    bool deviceGone = false;
    bool stalled = false;
    recorder.hooks.settingsDialog = [] { return true; };
    recorder.hooks.closeStandby = [&] { deviceGone = true; };
    std::uint64_t packets = 0;
    recorder.hooks.levelChanged = [&] { ++packets; };
    recorder.hooks.standby = [&] {
        recorder.openLevelPicture(64, 32);
        if (s.recordOnlyWhenSound != 1)
            recorder.toggleCapturing();
        // Storing ends once the next packet would not fit into the length asked for, however long that
        // takes by the clock (the whole program may have been stopped meanwhile).
        const std::uint64_t packet = ringBufferBytes(s.recordPackets, ws.pageSize);
        const auto full = [&] { return recorder.recordedBytes() + packet > recorder.recordAreaSize(); };
        const auto ended = [&] { return full() || deviceGone || stopRequested != 0; };
        stalled = !waitWhileSoundArrives(events, ended, [&] { return packets; });
        recorder.stopCapturing();
    };
    recorder.recordNewDocument();
    if (stalled)
        std::cerr << "sonavik2-cli: the sound device stopped delivering sound\n";
    if (!ws.document.hasData())
        return kExitFailed;
    // What was stored before a device failed is still written, and the command still counts as failed.
    const bool written = writeWavFile(ui, ws.document, out);
    const double storedSeconds = static_cast<double>(recorder.recordedBytes()) / std::max<std::uint32_t>(ws.document.format.nAvgBytesPerSec, 1);
    if (written) {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f 秒を保存しました", storedSeconds);
        std::cerr << text << '\n';
    }
    if (recorder.lostWhileStoring() > 0)
        std::cerr << recordingLossText(recorder.lostWhileStoring(), ws.document.format.nAvgBytesPerSec) << '\n';
    return written && !deviceGone && !stalled && recorder.lostWhileStoring() == 0 ? kExitOk : kExitFailed;
}

int devices()
{
    bool notAnswering = false;
    const auto lists = listPulseDevices(&notAnswering);
    if (!lists) {
        if (notAnswering)
            std::cerr << "sonavik2-cli: " << kServerNotAnsweringText << '\n';
        else
            std::cerr << "sonavik2-cli: no sound server answers\n";
        return kExitFailed;
    }
    const auto show = [](const char* heading, const std::vector<PulseDeviceInfo>& list) {
        std::cout << heading << ":\n";
        for (std::size_t i = 0; i < list.size(); ++i)
            std::cout << (list[i].isDefault ? "* " : "  ") << i << '\t' << list[i].name << '\t' << list[i].description << '\n';
    };
    show("outputs", lists->sinks);
    show("inputs", lists->sources);
    return kExitOk;
}

} // namespace

const char* audioUsage()
{
    return "       sonavik2-cli play FILE.wav [--red CH:START:END] [--loop SECONDS] [--settings FILE] [--device NAME]\n"
           "                  play the sound, or frames START to END of it, on the default output device;\n"
           "                  --loop plays it over and over for that many seconds\n"
           "       sonavik2-cli record OUT.wav --seconds S [--rate R] [--bits 8|16] [--channels 1|2]\n"
           "                  [--settings FILE] [--device NAME]\n"
           "                  record from the default input device until S seconds are stored (whole\n"
           "                  packets, so up to one packet less) and write OUT (default 44100 Hz, 16 bits,\n"
           "                  2 channels); Ctrl+C or a terminate signal ends the take early and keeps it.\n"
           "                  OUT is checked before recording starts\n"
           "       sonavik2-cli devices\n"
           "                  list the sound server's outputs and inputs (* marks the default ones)\n"
           "  play and record: --settings FILE takes packets, volumes, rate, the device and (record) format,\n"
           "                  length and \"record only when there is sound\" from a parameter.ini image; options\n"
           "                  given here win. --device NAME picks an output or input by the server's name or\n"
           "                  description, as `devices` lists them\n";
}

int playPreview(Workspace& ws, int commandId, int target, std::optional<double> loopSeconds,
                const std::optional<std::string>& deviceName, bool settingsFromFile)
{
    TrackingUi ui;
    ws.pageSize = memoryPageSize();
    auto render = std::make_shared<PreviewRender>(ws.document, ws.red, commandId, target, -1, ws.reverbNoiseState);
    if (render->empty()) {
        std::cerr << "sonavik2-cli: nothing to preview (no region of the target lies inside the sound)\n";
        return kExitFailed;
    }
    render->setSettings(ws.settings);
    TaskQueue events;
    PulseWaveOut device(events.poster());
    // The device is chosen as play chooses it: by its stored name, not by an index that may be stale.
    Settings& s = ws.settings;
    if (!chooseDevice(deviceName, true, settingsFromFile, deviceNameOf(s.playDeviceName), s.playUseMapper,
                     s.playDeviceIndex, ui, [&](int n, WaveDeviceCaps& caps) { return device.capabilities(n, caps); },
                     [&] { return device.deviceCount(); }, [&] { return device.serverNotAnswering(); }))
        return kExitFailed;
    Player player(ws, ui, device);
    if (loopSeconds) {
        player.playPreview(render);
        if (ws.playing != 1)
            return kExitFailed;
        events.runUntil([&] { return ws.playing == 0; }, *loopSeconds);
        if (ws.playing == 1)
            player.playOrStop();
        return ui.failed ? kExitFailed : kExitOk;
    }
    // Once: the whole span worked out first, then played as any other sound is.
    if (!render->render(0, render->frameCount())) {
        std::cerr << "sonavik2-cli: not enough memory to work out the preview\n";
        return kExitFailed;
    }
    player.playSound(std::make_shared<SoundDocument>(render->sound().copyWithSamples()));
    if (ws.playing != 1)
        return kExitFailed;
    const double seconds = render->frameCount() / std::max<double>(ws.document.format.nSamplesPerSec, 1.0);
    if (!events.runUntil([&] { return ws.playing == 0; }, seconds + kGraceSeconds)) {
        player.playOrStop();
        std::cerr << "sonavik2-cli: the sound device stopped taking sound\n";
        return kExitFailed;
    }
    return ui.failed ? kExitFailed : kExitOk;
}

int runAudioCommand(const std::vector<std::string>& args)
{
    if (!args.empty() && args[0] == "devices") {
        if (args.size() != 1)
            return usageError("devices takes no operands");
        return devices();
    }
    return !args.empty() && args[0] == "play" ? play(args) : record(args);
}

} // namespace sonavik::cli
