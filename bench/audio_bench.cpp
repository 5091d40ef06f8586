// Live sound against the sound server (run it where ./test's server or a desktop's runs, with a sink
// "null" whose monitor is "null.monitor" and the source "sine_input", as tools/audio-server.sh loads them):
//  - start latency: wall time of `sonavik2-cli play` of a 50 ms sound against `paplay` of the same file
//    (both connect, play, drain and quit), median of 9 runs each;
//  - the longest stall of the program that playback survives whole (every frame back from the monitor,
//    in order, to the last), with the default 2-page packets and with 64-page packets;
//  - recording wall time against what was asked for (`sonavik2-cli record --seconds 5`).
// Usage: audio_bench [path/to/sonavik2-cli]

#include "audio/playback.h"
#include "audio/recording.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "platform/console_ui.h"
#include "platform/task_queue.h"
#include "pulse/pulse_wave_device.h"
#include "settings/settings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace sonavik;
using Clock = std::chrono::steady_clock;

namespace {

double secondsOf(const std::string& command)
{
    const auto start = Clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        std::cerr << "audio_bench: failed: " << command << '\n';
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void makeNoise(SoundDocument& doc, int frames)
{
    doc.format = {1, 2, 44100, 176400, 4, 16, 0};
    doc.frameCount = frames;
    doc.samples = SampleBuffer::allocate(static_cast<std::size_t>(frames) * 4);
    std::mt19937 random(1);
    auto* s = reinterpret_cast<std::int16_t*>(doc.samples.data());
    for (int i = 0; i < frames * 2; ++i)
        s[i] = static_cast<std::int16_t>((static_cast<int>(random() % 24000) - 12000) | 1);
}

// Plays three seconds of noise with the program stalled for stallMs after half a second, recording the
// monitor meanwhile; true when every frame came back in order.
bool survives(int packets, int stallMs)
{
    TaskQueue events;
    ConsoleUi quiet(std::cerr, MessageAnswer::No);
    Workspace playWs, recordWs;
    applyDefaultSettings(playWs.settings);
    applyDefaultSettings(recordWs.settings);
    playWs.pageSize = recordWs.pageSize = memoryPageSize();
    makeNoise(playWs.document, 44100 * 3);
    const auto lists = listPulseDevices();
    if (!lists)
        return false;
    playWs.settings.playUseMapper = 0;
    playWs.settings.playDeviceIndex = pulseDeviceNumber(lists->sinks, "null");
    playWs.settings.playPackets = packets;
    playWs.loopMode = 0;
    Settings& rs = recordWs.settings;
    rs.recordUseMapper = 0;
    rs.recordDeviceIndex = pulseDeviceNumber(lists->sources, "null.monitor");
    rs.recordChannels = 2;
    rs.recordBits = 16;
    rs.recordRateIndex = 3;
    rs.recordSeconds = 60;
    rs.recordPackets = 1;
    PulseWaveOut out(events.poster());
    PulseWaveIn in(events.poster());
    Player player(playWs, quiet, out);
    Recorder recorder(recordWs, quiet, in);
    recorder.hooks.settingsDialog = [] { return true; };
    recorder.hooks.standby = [&] {
        recorder.openLevelPicture(64, 32);
        recorder.toggleCapturing();
        events.runFor(0.2);
        player.playOrStop();
        events.runFor(0.5);
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
        events.runUntil([&] { return playWs.playing == 0; }, 30);
        events.runFor(0.3);
        recorder.stopCapturing();
    };
    recorder.recordNewDocument();
    const SoundDocument& got = recordWs.document;
    if (!got.hasData())
        return false;
    const auto* g = reinterpret_cast<const std::uint32_t*>(got.samples.data());
    const auto* w = reinterpret_cast<const std::uint32_t*>(playWs.document.samples.data());
    for (int at = 0; at + 4 <= got.frameCount; ++at) {
        if (std::memcmp(g + at, w, 16) != 0)
            continue;
        return at + playWs.document.frameCount <= got.frameCount &&
               std::memcmp(g + at, w, static_cast<std::size_t>(playWs.document.frameCount) * 4) == 0;
    }
    return false;
}

int longestSurvivedStall(int packets)
{
    int good = 0, bad = 16000;
    while (bad - good > 100) {
        const int mid = (good + bad) / 2;
        (survives(packets, mid) ? good : bad) = mid;
    }
    return good;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string cli = argc > 1 ? argv[1] : "build/src/cli/sonavik2-cli";
    const char* tmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp";
    const std::string file = std::string(tmp) + "/audio_bench_50ms.wav";
    {
        SoundDocument doc;
        makeNoise(doc, 2205);
        ConsoleUi ui(std::cerr, MessageAnswer::No);
        if (!writeWavFile(ui, doc, file))
            return 1;
    }
    std::vector<double> ours, theirs;
    for (int i = 0; i < 9; ++i) {
        ours.push_back(secondsOf(cli + " play " + file + " --device null"));
        theirs.push_back(secondsOf("paplay --device=null " + file));
    }
    std::printf("play a 50 ms sound, start to end: sonavik2-cli %.0f ms, paplay %.0f ms: ratio %.2f\n",
                median(ours) * 1e3, median(theirs) * 1e3, median(ours) / median(theirs));

    for (const int packets : {2, 64}) {
        const int ms = longestSurvivedStall(packets);
        std::printf("longest stall survived by playback, %d-page packets: %d ms%s\n", packets, ms,
                    ms >= 15900 ? " or more" : "");
    }

    const std::string take = std::string(tmp) + "/audio_bench_take.wav";
    for (const char* source : {"null.monitor", "sine_input"}) {
        const double t = secondsOf(cli + " record " + take + " --seconds 5 --device " + source);
        std::printf("record --seconds 5 from %s: %.2f s wall, ratio %.2f\n", source, t, t / 5.0);
    }
    std::remove(file.c_str());
    std::remove(take.c_str());
    return 0;
}
