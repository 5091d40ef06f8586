// The curve dialogs' preview ("試聴") of an hour of stereo, whole, through the playback engine:
//  - first sound: from the start of the preview to the first buffer handed to the device, and the memory
//    the process grew by meanwhile, against copying the whole span (what a preview that copies it pays);
//  - latency: from a change of the settings to the first buffer of changed sound handed to the device
//    (the device here takes buffers at once and plays on up to what it was given, so the time is the
//    engine's and the edit's own, not a sound server's);
//  - processor time per second of sound while the preview plays on unchanged.
// For the nonlinear curve, the equaliser at its default block, at 131072 and at 2^24 frames, and the
// reverb; then a change to each reverb preset and equaliser changes at 131072 frames. Goals: first sound
// and every change at most 100 ms, memory a few pieces, 25 % of one core at the defaults.

#include "audio/playback.h"
#include "bench_support.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/parameter_rules.h"
#include "edit/preview_render.h"
#include "edit/reverb.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <string>

using namespace sonavik;
using Clock = std::chrono::steady_clock;

namespace {

// Takes every buffer at once; the bench says when each one has been played.
class TakingOut : public WaveOut {
public:
    int deviceCount() override { return 1; }
    int capabilities(int, WaveDeviceCaps& caps) override
    {
        caps.name = "bench";
        caps.support = 0;
        return mm::NoError;
    }
    int open(int, const WaveDeviceFormat&, WaveDoneCallback done, WaveFailedCallback) override
    {
        onDone = std::move(done);
        return mm::NoError;
    }
    int prepare(WaveBuffer& b) override { return (b.prepared = true), mm::NoError; }
    int unprepare(WaveBuffer& b) override { return (b.prepared = false), mm::NoError; }
    int write(WaveBuffer& b) override
    {
        b.inQueue = true;
        queue.push_back(&b);
        lastWrite = Clock::now();
        ++writes;
        return mm::NoError;
    }
    int pause() override { return mm::NoError; }
    int restart() override { return mm::NoError; }
    int reset() override
    {
        returned.insert(returned.end(), queue.begin(), queue.end());
        queue.clear();
        return mm::NoError;
    }
    int close() override { return mm::NoError; }
    int getVolume(std::uint32_t&) override { return mm::NotSupported; }
    int setVolume(std::uint32_t) override { return mm::NotSupported; }
    int getPitch(std::uint32_t&) override { return mm::NotSupported; }
    int setPitch(std::uint32_t) override { return mm::NotSupported; }
    int getPlaybackRate(std::uint32_t&) override { return mm::NotSupported; }
    int setPlaybackRate(std::uint32_t) override { return mm::NotSupported; }
    int replaceQueued(std::uint64_t& resumeAt) override
    {
        resumeAt = playedBytes;
        reset();
        return mm::NoError;
    }
    // Plays the oldest buffer: its done notification refills it.
    void playOne()
    {
        if (queue.empty())
            return;
        WaveBuffer* b = queue.front();
        queue.pop_front();
        playedBytes += b->bufferLength;
        b->inQueue = false;
        onDone(b);
    }
    void deliverReturned()
    {
        while (!returned.empty()) {
            WaveBuffer* b = returned.front();
            returned.pop_front();
            b->inQueue = false;
            onDone(b);
        }
    }

    WaveDoneCallback onDone;
    std::deque<WaveBuffer*> queue, returned;
    std::uint64_t playedBytes = 0;
    Clock::time_point lastWrite;
    long writes = 0;
};

struct Case {
    const char* name;
    int commandId;
    int eqBlock;
};

// The process's resident memory, in bytes.
std::uint64_t residentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    return 0;
}

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

// How long until the first changed buffer is handed over after settings s replace the preview's.
double changeLatency(TakingOut& out, Player& player, PreviewRender& render, const Settings& s)
{
    const long writesBefore = out.writes;
    const auto changed = Clock::now();
    render.setSettings(s);
    player.previewChanged();
    out.deliverReturned();
    const double ms = out.writes > writesBefore ? std::chrono::duration<double, std::milli>(out.lastWrite - changed).count() : -1.0;
    // A few buffers more, as the device plays on.
    for (int i = 0; i < 4; ++i)
        out.playOne();
    return ms;
}

} // namespace

int main()
{
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.pageSize = 4096;
    if (!bench::fillToneDocument(ws.document, 44100 * 3600)) {
        std::fprintf(stderr, "preview_latency_bench: no memory for an hour of sound\n");
        return 1;
    }
    bench::QuietUi ui;
    const std::int32_t defaultEq = ws.settings.eqFftSize();
    // The reference: the span copied once, as a preview that copies it pays before its first sound.
    double copyMs = 0;
    {
        const auto t = Clock::now();
        SoundDocument copy = ws.document.copyWithSamples();
        copyMs = msSince(t);
    }
    std::printf("an hour of 44.1 kHz stereo (%.0f MB), whole; ring of %d x %d bytes; copying the span takes %.1f ms\n",
                ws.document.byteCount() / 1e6, kRingSize, static_cast<int>(ringBufferBytes(ws.settings.playPackets, ws.pageSize)),
                copyMs);
    for (const Case c : {Case{"nonlinear", cmd::Nonlinear, 0}, Case{"equalize", cmd::Equalize, defaultEq},
                         Case{"equalize", cmd::Equalize, 131072}, Case{"equalize", cmd::Equalize, 1 << 24},
                         Case{"reverb", cmd::Reverb, 0}}) {
        Settings& s = ws.settings;
        applyDefaultSettings(s);
        if (c.eqBlock)
            s.eqFftSize() = c.eqBlock;
        prepareParametersWithoutDialog(s, c.commandId);
        TakingOut out;
        Player player(ws, ui, out);
        const std::uint64_t residentBefore = residentBytes();
        const auto started = Clock::now();
        auto render = std::make_shared<PreviewRender>(ws.document, ws.red, c.commandId, 0, -1, ws.reverbNoiseState);
        render->setSettings(s);
        player.playPreview(render);
        const double firstSound = std::chrono::duration<double, std::milli>(out.lastWrite - started).count();

        // Ten seconds of sound played on, unchanged.
        const double seconds = 10.0;
        const std::uint64_t bytes = static_cast<std::uint64_t>(seconds * ws.document.format.nAvgBytesPerSec);
        const bench::ProcessorTime before = bench::processorTime();
        while (out.playedBytes < bytes)
            out.playOne();
        const double busy = bench::processorTime().total() - before.total();
        const double grewMb = (static_cast<double>(residentBytes()) - static_cast<double>(residentBefore)) / 1e6;

        // A change of the curve: how long until the first changed buffer is handed over.
        CurveData& curve = c.commandId == cmd::Nonlinear ? s.nonlinear : c.commandId == cmd::Equalize ? s.eq : s.reverb;
        curve.points[1].y = curve.points[1].y > 0.5 ? 0.2 : 0.8;
        curve.points[1].yGray = curve.points[1].y;
        const double latency = changeLatency(out, player, *render, s);
        player.playOrStop();
        std::printf("%-10s %-9s first sound %7.1f ms (%.3f x copying the span), grew %6.1f MB, change heard after "
                    "%7.1f ms, %5.1f %% of one core while playing\n",
                    c.name, c.eqBlock ? std::to_string(c.eqBlock).c_str() : "", firstSound, firstSound / copyMs, grewMb,
                    latency, 100.0 * busy / seconds);
    }

    // Every reverb preset in turn, and equaliser curves at blocks of 131072 frames, while it plays.
    struct Series {
        const char* name;
        int commandId;
    };
    for (const Series series : {Series{"reverb presets", cmd::Reverb}, Series{"equalize 131072", cmd::Equalize}}) {
        Settings& s = ws.settings;
        applyDefaultSettings(s);
        s.eqFftSize() = 131072;
        prepareParametersWithoutDialog(s, series.commandId);
        TakingOut out;
        Player player(ws, ui, out);
        auto render = std::make_shared<PreviewRender>(ws.document, ws.red, series.commandId, 0, -1, ws.reverbNoiseState);
        render->setSettings(s);
        player.playPreview(render);
        for (int i = 0; i < 20; ++i)
            out.playOne();
        double worst = 0, worstLong = 0;
        int changes = 0;
        for (int round = 0; round < 2; ++round)
            for (int k = 1; k <= 5; ++k) {
                if (series.commandId == cmd::Reverb) {
                    applyReverbPreset(s, static_cast<ReverbPreset>(k), ws.document.format.nSamplesPerSec);
                } else {
                    s.eq.points[1].y = s.eq.points[1].yGray = 0.1 * k + 0.3 * round;
                }
                prepareParametersWithoutDialog(s, series.commandId);
                const double ms = changeLatency(out, player, *render, s);
                // The goal holds for responses of up to 131072 frames; longer ones are told apart.
                const bool longer = series.commandId == cmd::Reverb && reverbResponseLength(s.reverbTimeStep()) > 131072;
                (longer ? worstLong : worst) = std::max(longer ? worstLong : worst, ms);
                ++changes;
            }
        player.playOrStop();
        std::printf("%-26s %2d changes, the slowest heard after %7.1f ms (%.3f x copying the span)", series.name,
                    changes, worst, worst / copyMs);
        if (worstLong > 0)
            std::printf("; responses over 131072 frames %7.1f ms", worstLong);
        std::printf("\n");
    }
    return 0;
}
