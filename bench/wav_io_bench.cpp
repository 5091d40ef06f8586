// Opening and saving an hour of CD-quality stereo, against a bare fread/fwrite of the same bytes.
// Run a Release build: wav_io_bench

#include "app/file_flows.h"
#include "document/wav_file.h"
#include "document/workspace.h"
#include "platform/console_ui.h"
#include "settings/settings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace sonavik;

namespace {

constexpr int kRuns = 3;
constexpr std::size_t kHeaderSize = 44;

// Removed at any exit, so that a failed run does not leave a gigabyte behind.
std::string benchDir;
void removeBenchDir()
{
    std::error_code ec;
    if (!benchDir.empty())
        std::filesystem::remove_all(benchDir, ec);
}

double seconds(const std::function<bool()>& step)
{
    auto start = std::chrono::steady_clock::now();
    if (!step()) {
        std::cerr << "step failed\n";
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The buffer is handed out so that releasing it falls outside the timing, as the opened document's does.
bool plainRead(const std::string& path, std::size_t size, std::unique_ptr<unsigned char[]>& buffer)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    buffer.reset(new unsigned char[size]);
    bool ok = std::fseek(file, kHeaderSize, SEEK_SET) == 0 && std::fread(buffer.get(), 1, size, file) == size;
    std::fclose(file);
    return ok;
}

bool plainWrite(const std::string& path, const unsigned char* header, const SampleBuffer& samples)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(header, 1, kHeaderSize, file) == kHeaderSize
              && std::fwrite(samples.data(), 1, samples.size(), file) == samples.size() && std::fflush(file) == 0
              && fsync(fileno(file)) == 0;
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main()
{
    std::string dir = (std::filesystem::temp_directory_path() / "sonavik-bench-XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::cerr << "cannot create a temporary folder\n";
        return 1;
    }
    dir += "/";
    benchDir = dir;
    std::atexit(removeBenchDir);
    std::ostringstream messages;
    ConsoleUi ui(messages, MessageAnswer::No);

    SoundDocument source;
    source.format = {1, 2, 44100, 44100 * 4, 4, 16, 0};
    source.frameCount = 3600 * 44100;
    source.samples = SampleBuffer::allocate(source.byteCount());
    if (source.samples.isNull()) {
        std::cerr << "not enough memory for the test sound\n";
        return 1;
    }
    unsigned char* p = source.samples.data();
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < source.samples.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        p[i] = static_cast<unsigned char>(noise >> 24);
    }
    std::string wavPath = dir + "hour.wav";
    if (!writeWavFile(ui, source, wavPath)) {
        std::cerr << messages.str();
        return 1;
    }
    unsigned char header[kHeaderSize];
    std::FILE* saved = std::fopen(wavPath.c_str(), "rb");
    bool haveHeader = saved && std::fread(header, 1, kHeaderSize, saved) == kHeaderSize;
    if (saved)
        std::fclose(saved);
    if (!haveHeader)
        return 1;

    // On a virtual machine the first use of a memory page costs far more than any later one; touch enough
    // memory up front that neither side of a comparison is handed the fresh pages.
    {
        double available = static_cast<double>(sysconf(_SC_AVPHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
        int chunks = static_cast<int>(std::min(12.0, available / 2 / static_cast<double>(source.byteCount())));
        std::vector<std::unique_ptr<unsigned char[]>> warm;
        for (int i = 0; i < chunks; ++i) {
            warm.emplace_back(new unsigned char[source.byteCount()]);
            std::memset(warm.back().get(), i, source.byteCount());
        }
    }

    auto ws = std::make_unique<Workspace>();
    double bestOpen = 1e9, bestRead = 1e9, bestWrite = 1e9, bestPlainWrite = 1e9;
    // Alternating the order keeps either side from always inheriting the state the other left behind.
    for (int run = 0; run < kRuns; ++run) {
        std::unique_ptr<unsigned char[]> plain;
        double read = 0, open = 0;
        auto timeRead = [&] {
            read = seconds([&] { return plainRead(wavPath, source.byteCount(), plain); });
            plain.reset();
        };
        auto timeOpen = [&] {
            releaseAll(ws->document, ws->undoStore);
            open = seconds([&] { return openWavFile(*ws, ui, wavPath) && ws->document.frameCount == source.frameCount; });
            releaseAll(ws->document, ws->undoStore);
        };
        double write = 0, plainWritten = 0;
        auto timeWrite = [&] { write = seconds([&] { return writeWavFile(ui, source, dir + "saved.wav"); }); };
        auto timePlainWrite = [&] {
            plainWritten = seconds([&] { return plainWrite(dir + "plain.wav", header, source.samples); });
        };
        if (run % 2 == 0) {
            timeRead(), timeOpen(), timePlainWrite(), timeWrite();
        } else {
            timeOpen(), timeRead(), timeWrite(), timePlainWrite();
        }
        std::printf("run %d: open %.3f s, plain read %.3f s, save %.3f s, plain write %.3f s\n", run + 1, open, read,
                    write, plainWritten);
        bestRead = std::min(bestRead, read);
        bestOpen = std::min(bestOpen, open);
        bestWrite = std::min(bestWrite, write);
        bestPlainWrite = std::min(bestPlainWrite, plainWritten);
    }
    releaseAll(ws->document, ws->undoStore);

    std::printf("sound: %.1f MB\n", static_cast<double>(source.byteCount() + kHeaderSize) / 1e6);
    std::printf("open: %.3f s, plain read %.3f s, ratio %.2f\n", bestOpen, bestRead, bestOpen / bestRead);
    std::printf("save: %.3f s, plain write %.3f s, ratio %.2f\n", bestWrite, bestPlainWrite,
                bestWrite / bestPlainWrite);
    if (!messages.str().empty())
        std::printf("messages:\n%s", messages.str().c_str());
    return 0;
}
