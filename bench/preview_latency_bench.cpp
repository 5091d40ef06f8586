// The curve dialogs' preview ("試聴") of a 10-minute stereo sound, whole, through the playback engine:
//  - latency: from a change of the settings to the first buffer of changed sound handed to the device
//    (the device here takes buffers at once and plays on up to what it was given, so the time is the
//    engine's and the edit's own, not a sound server's);
//  - processor time per second of sound while the preview plays on unchanged.
// For the nonlinear curve, the equaliser at its default block and at 2^24 frames (the largest block a
// 10-minute sound can take), and the reverb. Goals: at most 100 ms and 25 % of one core at the defaults.

#include "audio/playback.h"
#include "bench_support.h"
#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/parameter_rules.h"
#include "edit/preview_render.h"
#include "edit/reverb.h"

#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>

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

} // namespace

int main()
{
    Workspace ws;
    applyDefaultSettings(ws.settings);
    ws.pageSize = 4096;
    if (!bench::fillToneDocument(ws.document, 44100 * 600)) {
        std::fprintf(stderr, "preview_latency_bench: no memory for 10 minutes of sound\n");
        return 1;
    }
    bench::QuietUi ui;
    const std::int32_t defaultEq = ws.settings.eqFftSize();
    std::printf("10 minutes of 44.1 kHz stereo, whole; ring of %d x %d bytes\n", kRingSize,
                static_cast<int>(ringBufferBytes(ws.settings.playPackets, ws.pageSize)));
    for (const Case c : {Case{"nonlinear", cmd::Nonlinear, 0}, Case{"equalize", cmd::Equalize, defaultEq},
                         Case{"equalize", cmd::Equalize, 1 << 24}, Case{"reverb", cmd::Reverb, 0}}) {
        Settings& s = ws.settings;
        applyDefaultSettings(s);
        if (c.eqBlock)
            s.eqFftSize() = c.eqBlock;
        prepareParametersWithoutDialog(s, c.commandId);
        TakingOut out;
        Player player(ws, ui, out);
        auto render = std::make_shared<PreviewRender>(ws.document, ws.red, c.commandId, 0, -1, ws.reverbNoiseState);
        render->setSettings(s);
        const auto started = Clock::now();
        player.playPreview(render);
        const double firstSound = std::chrono::duration<double>(out.lastWrite - started).count();

        // Ten seconds of sound played on, unchanged.
        const double seconds = 10.0;
        const std::uint64_t bytes = static_cast<std::uint64_t>(seconds * ws.document.format.nAvgBytesPerSec);
        const bench::ProcessorTime before = bench::processorTime();
        while (out.playedBytes < bytes)
            out.playOne();
        const double busy = bench::processorTime().total() - before.total();

        // A change of the curve: how long until the first changed buffer is handed over.
        CurveData& curve = c.commandId == cmd::Nonlinear ? s.nonlinear : c.commandId == cmd::Equalize ? s.eq : s.reverb;
        curve.points[1].y = curve.points[1].y > 0.5 ? 0.2 : 0.8;
        curve.points[1].yGray = curve.points[1].y;
        const long writesBefore = out.writes;
        const auto changed = Clock::now();
        render->setSettings(s);
        player.previewChanged();
        out.deliverReturned();
        const double latency = out.writes > writesBefore ? std::chrono::duration<double>(out.lastWrite - changed).count() : -1.0;
        player.playOrStop();
        std::printf("%-10s %-9s first sound %7.1f ms, change heard after %7.1f ms, %5.1f %% of one core while playing\n",
                    c.name, c.eqBlock ? std::to_string(c.eqBlock).c_str() : "", firstSound * 1e3, latency * 1e3,
                    100.0 * busy / seconds);
    }
    return 0;
}
