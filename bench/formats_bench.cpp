// Opening a 24-bit 48 kHz stereo FLAC file into the editor (decoded, dithered to 16 bits) against
// libsndfile alone reading it to 16-bit integers, the peak memory of the open against the converted
// sound, and saving an hour of 16-bit stereo as FLAC against libsndfile's own write.
// Run a Release build: formats_bench [MINUTES]   (default 60)

#include "app/file_flows.h"
#include "bench_support.h"
#include "document/workspace.h"
#include "formats/sound_export.h"
#include "settings/settings.h"

#include <sndfile.h>

#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace sonavik;

namespace {

std::string benchDir;
void removeBenchDir()
{
    std::error_code ec;
    if (!benchDir.empty())
        std::filesystem::remove_all(benchDir, ec);
}

// The peak resident memory of the process so far, in bytes (VmHWM).
std::uint64_t peakResidentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    return 0;
}

bool writeFlac24(const std::string& path, std::int64_t frames)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf)
        return false;
    std::vector<int> block(2 * 65536);
    std::uint32_t noise = 12345;
    bool ok = true;
    for (std::int64_t at = 0; ok && at < frames; at += 65536) {
        const std::int64_t n = std::min<std::int64_t>(65536, frames - at);
        for (std::int64_t f = 0; f < n; ++f)
            for (int c = 0; c < 2; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const double v = 3.0e6 * std::sin((at + f) * (0.031 + 0.007 * c)) + static_cast<int>(noise >> 16) - 32768;
                block[2 * f + c] = static_cast<int>(v) * 256;
            }
        ok = sf_writef_int(sf, block.data(), n) == n;
    }
    return sf_close(sf) == 0 && ok;
}

// libsndfile alone: the file read to 16-bit integers into one buffer of the whole sound.
bool plainDecode(const std::string& path, std::unique_ptr<short[]>& buffer)
{
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf)
        return false;
    buffer.reset(new short[static_cast<std::size_t>(info.frames) * info.channels]);
    const bool ok = sf_readf_short(sf, buffer.get(), info.frames) == info.frames;
    sf_close(sf);
    return ok;
}

bool plainEncode(const std::string& path, const SoundDocument& doc, bool flushed)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(doc.format.nSamplesPerSec);
    info.channels = doc.format.nChannels;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!sf)
        return false;
    const bool ok = sf_writef_short(sf, reinterpret_cast<const short*>(doc.samples.data()), doc.frameCount)
                    == doc.frameCount;
    if (sf_close(sf) != 0 || !ok)
        return false;
    if (!flushed)
        return true;
    // The editor's save puts every byte on disk before it renames; the fair yardstick does the same.
    const int fd = open(path.c_str(), O_RDONLY);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0)
        close(fd);
    return synced;
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
    if (minutes <= 0) {
        std::cerr << "usage: formats_bench [MINUTES]\n";
        return 2;
    }
    char pattern[] = "/tmp/sonavik-formats-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    benchDir = pattern;
    std::atexit(removeBenchDir);
    const std::string flac = benchDir + "/in.flac";
    const std::int64_t frames = static_cast<std::int64_t>(minutes) * 60 * 48000;
    std::cout << "writing " << minutes << " min of 24-bit 48 kHz stereo FLAC..." << std::endl;
    if (!writeFlac24(flac, frames)) {
        std::cerr << "cannot write " << flac << "\n";
        return 1;
    }
    const double converted = static_cast<double>(frames) * 4;

    // The peak memory of one open, in a child of a process that has not yet read the file.
    double peakRatio = 0;
    int pipeFds[2];
    if (pipe(pipeFds) == 0) {
        const pid_t child = fork();
        if (child == 0) {
            const std::uint64_t before = peakResidentBytes();
            Workspace w;
            applyDefaultSettings(w.settings);
            bench::QuietUi ui;
            double ratio = 0;
            if (openWavFile(w, ui, flac))
                ratio = static_cast<double>(peakResidentBytes() - before) / converted;
            (void)!write(pipeFds[1], &ratio, sizeof ratio);
            _exit(0);
        }
        (void)!read(pipeFds[0], &peakRatio, sizeof peakRatio);
        waitpid(child, nullptr, 0);
    }

    std::unique_ptr<short[]> plain;
    const double reference = bench::secondsOf([&] {
        if (!plainDecode(flac, plain))
            std::exit(1);
    }, [&] { plain.reset(); });
    plain.reset();
    std::unique_ptr<Workspace> ws;
    const double open = bench::secondsOf([&] {
        bench::QuietUi ui;
        if (!openWavFile(*ws, ui, flac) || ws->document.frameCount != frames)
            std::exit(1);
    }, [&] {
        ws = std::make_unique<Workspace>();
        applyDefaultSettings(ws->settings);
    });
    ws.reset();

    std::printf("open %d min 24-bit FLAC: editor %.2f s, libsndfile to 16-bit ints %.2f s, ratio %.2f (goal <= 1.3)\n",
                minutes, open, reference, open / reference);
    std::printf("peak memory of the open: %.2f x the converted sound (%.0f MB) (goal <= 1.2)\n", peakRatio,
                converted / 1e6);

    SoundDocument doc;
    if (!bench::fillToneDocument(doc, static_cast<std::int32_t>(static_cast<std::int64_t>(minutes) * 60 * 44100)))
        return 1;
    const std::string out = benchDir + "/out.flac";
    const double ownWrite = bench::secondsOf([&] {
        if (!plainEncode(out, doc, false))
            std::exit(1);
    });
    const double ownWriteFlushed = bench::secondsOf([&] {
        if (!plainEncode(out, doc, true))
            std::exit(1);
    });
    const double save = bench::secondsOf([&] {
        bench::QuietUi ui;
        if (!writeSoundFile(ui, doc, out, SaveKind::Flac))
            std::exit(1);
    });
    std::printf("save %d min 16-bit stereo as FLAC: editor %.2f s (flushed to disk), libsndfile's own write %.2f s, "
                "ratio %.2f (goal <= 1.2); flushed to disk too %.2f s, ratio %.2f\n",
                minutes, save, ownWrite, save / ownWrite, ownWriteFlushed, save / ownWriteFlushed);
    return 0;
}
