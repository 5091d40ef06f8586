// Runs sonavik2-cli's spectrogram commands on small files and looks at what they write.

#include "app/file_flows.h"
#include "document/workspace.h"
#include "dsp/fft.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "settings/settings.h"
#include "spectrogram/analysis_collector.h"
#include "spectrogram/spectrogram_analysis.h"
#include "spectrogram/spectrogram_export.h"
#include "support/run_cli.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <numbers>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace sonavik {
namespace {

using test::Bytes;
using test::CliResult;
using test::runCli;
using test::TempDir;

constexpr int kRate = 8000;

// Mono or stereo 16-bit: 300 Hz and 2000 Hz at 6000 each (the right channel: 300 Hz only).
Bytes twoTones(int channels, int frames)
{
    Bytes pcm;
    for (int p = 0; p < frames; ++p)
        for (int c = 0; c < channels; ++c) {
            const double t = static_cast<double>(p) / kRate;
            double v = 6000 * std::sin(2 * std::numbers::pi * 300 * t);
            if (c == 0)
                v += 6000 * std::sin(2 * std::numbers::pi * 2000 * t + 0.3);
            const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v)));
            pcm.push_back(static_cast<unsigned char>(s));
            pcm.push_back(static_cast<unsigned char>(s >> 8));
        }
    return test::canonicalWav(channels, kRate, 16, pcm);
}

// Samples of one channel of a canonical 16-bit file.
std::vector<double> channelOf(const Bytes& wav, int channels, int channel)
{
    std::vector<double> out;
    for (std::size_t i = 44 + 2 * channel; i + 1 < wav.size(); i += 2 * channels) {
        std::int16_t v;
        std::memcpy(&v, &wav[i], 2);
        out.push_back(v);
    }
    return out;
}

// Hanning-weighted magnitude near frequency f of 4096 samples from first.
double level(const std::vector<double>& x, std::size_t first, double f)
{
    const int n = 4096;
    std::vector<double> y(n);
    for (int k = 0; k < n; ++k)
        y[k] = x[first + k] * fftWindowWeight(kFftWindowHanning, k, n);
    fftForward(n, y.data());
    const int b = static_cast<int>(std::lround(f * n / kRate));
    double best = 0;
    for (int i = b - 2; i <= b + 2; ++i)
        best = std::max(best, std::hypot(y[i], y[n - i]));
    return best;
}

TEST(CliSpectral, EraseRemovesOneToneAndKeepsTheOther)
{
    struct Case {
        const char* name;
        std::vector<std::string> ops;
    };
    // Default FFT size 4096 at 8000 Hz: 1.95 Hz per bin, 0.512 s per frame.
    const Case cases[] = {
        {"bins in hertz, frames in seconds", {"erase:0s:100s:1500Hz:2500Hz"}},
        {"bins and frames as numbers", {"erase:0:99:768:1280"}},
        {"keep the low band", {"keep:-5:99:0:1000Hz"}},
        {"halve twice is not erase", {"halve:0:99:1500Hz:2500Hz"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Bytes input = twoTones(1, 40000);
        test::writeBytes(dir.file("in.wav"), input);
        std::vector<std::string> args = {"spectral", dir.file("in.wav"), dir.file("out.wav")};
        args.insert(args.end(), c.ops.begin(), c.ops.end());
        const CliResult r = runCli(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto before = channelOf(input, 1, 0), after = channelOf(test::readBytes(dir.file("out.wav")), 1, 0);
        ASSERT_EQ(after.size(), before.size());
        const double low = level(before, 10000, 300), high = level(before, 10000, 2000);
        EXPECT_NEAR(level(after, 10000, 300), low, low * 0.01);
        if (std::string(c.name).find("halve") != std::string::npos)
            EXPECT_NEAR(level(after, 10000, 2000), high * 0.5, high * 0.01);
        else
            EXPECT_LT(level(after, 10000, 2000), high * 0.001);
        EXPECT_EQ(test::readBytes(dir.file("in.wav")), input);
    }
}

TEST(CliSpectral, SecondsCountRealTimeFromTheTargetsStart)
{
    // Frames start a hop (2048 samples, 0.256 s) apart: 2 s to 3 s is frames 7 to 11, which hold samples
    // 14336 to 26623. Around 2.5 s the high tone is gone; at 1 s to 1.5 s it is untouched.
    TempDir dir;
    const Bytes input = twoTones(1, 40000);
    test::writeBytes(dir.file("in.wav"), input);
    const CliResult r = runCli(dir, {"spectral", dir.file("in.wav"), dir.file("out.wav"), "erase:2s:3s:1500Hz:2500Hz"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto before = channelOf(input, 1, 0), after = channelOf(test::readBytes(dir.file("out.wav")), 1, 0);
    ASSERT_EQ(after.size(), before.size());
    const double high = level(before, 18000, 2000);
    EXPECT_LT(level(after, 18000, 2000), high * 0.001);
    EXPECT_NEAR(level(after, 8000, 2000), level(before, 8000, 2000), high * 0.001);
    EXPECT_NEAR(level(after, 18000, 300), level(before, 18000, 300), high * 0.01);
}

TEST(CliSpectral, ResynthesisOptionsChooseChannelAndPosition)
{
    // The left channel's erased spectrogram written into the right channel from frame 100.
    TempDir dir;
    const Bytes input = twoTones(2, 30000);
    test::writeBytes(dir.file("in.wav"), input);
    const CliResult r = runCli(dir, {"spectral", dir.file("in.wav"), dir.file("out.wav"), "--target", "1", "--to", "R",
                                     "--at", "100", "erase:0:99:0:1000Hz"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes out = test::readBytes(dir.file("out.wav"));
    EXPECT_EQ(channelOf(out, 2, 0), channelOf(input, 2, 0));
    const auto right = channelOf(out, 2, 1);
    EXPECT_LT(level(right, 8000, 300), level(channelOf(input, 2, 1), 8000, 300) * 0.001);
    EXPECT_GT(level(right, 8000, 2000), level(channelOf(input, 2, 0), 8000, 2000) * 0.99);
    EXPECT_EQ(right[50], channelOf(input, 2, 1)[50]);
}

TEST(CliSpectral, SpectrogramWritesOnePairOfFilesPerRegion)
{
    TempDir dir;
    test::writeBytes(dir.file("in.wav"), twoTones(2, 5000));
    Settings st;
    applyDefaultSettings(st);
    st.fftLength = 1000;  // limited to 1024 as the dialog would
    const auto* raw = reinterpret_cast<const unsigned char*>(&st);
    test::writeBytes(dir.file("parameter.ini"), Bytes(raw, raw + sizeof st));
    const CliResult r = runCli(dir, {"spectrogram", dir.file("in.wav"), "--bmp", dir.file("pic"), "--fft",
                                     dir.file("spec.fft"), "--settings", dir.file("parameter.ini")});
    ASSERT_EQ(r.status, 0) << r.err;
    // 5000 frames at n = 1024: F = 5000 div 512 - 1 = 8, B = 513, stride 24.
    EXPECT_EQ(r.out, "[ L ] 0 ～ 4607 ＝ ( 1024 ÷ 2 ) × ( 8 ＋ 1 ) : " + dir.file("pic-1.bmp") + " " + dir.file("spec-1.fft")
                         + "\n[ R ] 0 ～ 4607 ＝ ( 1024 ÷ 2 ) × ( 8 ＋ 1 ) : " + dir.file("pic-2.bmp") + " "
                         + dir.file("spec-2.fft") + "\n");
    for (const char* name : {"pic-1.bmp", "pic-2.bmp"})
        EXPECT_EQ(test::readBytes(dir.file(name)).size(), 54u + 24 * 513) << name;
    for (const char* name : {"spec-1.fft", "spec-2.fft"})
        EXPECT_EQ(test::readBytes(dir.file(name)).size(), 16u + 4 * 8 * 1024) << name;
    EXPECT_NE(test::readBytes(dir.file("spec-1.fft")), test::readBytes(dir.file("spec-2.fft")));
}

TEST(CliSpectral, RefusalsAndUsageErrors)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;  // IN and OUT are added after the command
        int status;
        const char* errorStart;
    };
    const Case cases[] = {
        {"rectangle past the end", {"spectral", "erase:500:600:0:10"}, 1, "sonavik2-cli: erase:500:600:0:10 lies outside"},
        {"rectangle above the top bin", {"spectral", "erase:0:1:5000Hz:6000Hz"}, 1, "sonavik2-cli: erase:0:1:5000Hz:6000Hz lies outside"},
        {"shorter than n", {"spectral", "--select", "blue:L:0:100", "--target", "7"}, 1, "Sonavik 2: Not Enough!"},
        {"right of mono", {"spectral", "--to", "R"}, 1, "Sonavik 2: 適用先データ(right)がありません"},
        {"start too late", {"spectral", "--at", "39000"}, 1, "Sonavik 2: 適用先データの長さが足りません。"},
        {"unknown edit", {"spectral", "blur:0:1:0:1"}, 2, "sonavik2-cli: malformed edit"},
        {"hertz for a frame", {"spectral", "erase:1Hz:2:0:1"}, 2, "sonavik2-cli: malformed edit"},
        {"seconds for a bin", {"spectral", "erase:0:1:0:1s"}, 2, "sonavik2-cli: malformed edit"},
        {"bad channel", {"spectral", "--to", "X"}, 2, "sonavik2-cli: --to takes"},
        {"negative position", {"spectral", "--at", "-1"}, 2, "sonavik2-cli: --at takes"},
        {"position past 32 bits", {"spectral", "--at", "2147483648"}, 2, "sonavik2-cli: --at takes"},
        {"bad alpha", {"spectral", "--apply-alpha", "red"}, 2, "sonavik2-cli: --apply-alpha takes"},
        {"no output named", {"spectrogram"}, 2, "sonavik2-cli: spectrogram needs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::writeBytes(dir.file("in.wav"), twoTones(1, 40000));
        std::vector<std::string> args = {c.args[0], dir.file("in.wav")};
        if (c.args[0] == "spectral")
            args.push_back(dir.file("out.wav"));
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const CliResult r = runCli(dir, args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.rfind(c.errorStart, 0), 0u) << r.err;
        EXPECT_FALSE(test::fileExists(dir.file("out.wav")));
    }
}

TEST(CliSpectral, SpectralWritesBackOnTheThreadsAskedForAndNamesOutAsEditDoes)
{
    TempDir dir;
    test::writeBytes(dir.file("in.wav"), twoTones(2, 30000));
    const std::vector<std::string> op = {"erase:1:9:0:1000Hz"};
    Bytes first;
    for (const char* threads : {"1", "3"}) {
        SCOPED_TRACE(threads);
        const CliResult r = runCli(dir, {"spectral", dir.file("in.wav"), dir.file("out"), op[0], "--threads", threads});
        ASSERT_EQ(r.status, 0) << r.err;
        // ".wav" added, as edit adds it.
        EXPECT_FALSE(test::fileExists(dir.file("out")));
        const Bytes out = test::readBytes(dir.file("out.wav"));
        EXPECT_GT(out.size(), 44u);
        if (first.empty())
            first = out;
        EXPECT_EQ(out, first);
    }
    EXPECT_EQ(runCli(dir, {"spectral", dir.file("in.wav"), dir.file("out.wav"), op[0], "--threads", "0"}).status, 2);

    // A folder is no file to write: refused, and left a folder.
    ASSERT_EQ(mkdir(dir.file("folder.wav").c_str(), 0755), 0);
    const CliResult r = runCli(dir, {"spectral", dir.file("in.wav"), dir.file("folder.wav"), op[0]});
    EXPECT_EQ(r.status, 1);
    struct stat st {};
    ASSERT_EQ(stat(dir.file("folder.wav").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(CliSpectral, SpectrogramColoursAsTheLogAndGainButtonsDo)
{
    TempDir dir;
    test::writeBytes(dir.file("in.wav"), twoTones(1, 20000));
    // The picture as the window shows it after LOG and two presses of the gain-up button.
    Workspace ws;
    applyDefaultSettings(ws.settings);
    test::ScriptedUi ui;
    ASSERT_TRUE(openWavFile(ws, ui, dir.file("in.wav")));
    AnalysisCollector host(ws, ui);
    ASSERT_TRUE(runEditCommand(ws, ui, host, cmd::Fft, 1, -1));
    ASSERT_EQ(host.results.size(), 1u);
    Spectrogram& s = *host.results[0];
    const PictureBytes plain = s.colourBitmap;
    s.logDisplay = 1;
    s.gain = 4.0;
    colourSpectrogram(s, colourFactorsOf(ws.settings));
    ASSERT_NE(s.colourBitmap, plain);
    ASSERT_TRUE(writeSpectrogramBitmap(ui, s, dir.file("expected.bmp")));

    const CliResult r = runCli(dir, {"spectrogram", dir.file("in.wav"), "--bmp", dir.file("log.bmp"), "--log", "--gain", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readBytes(dir.file("log.bmp")), test::readBytes(dir.file("expected.bmp")));
    for (const char* bad : {"0", "-2", "x", "inf"})
        EXPECT_EQ(runCli(dir, {"spectrogram", dir.file("in.wav"), "--bmp", dir.file("bad.bmp"), "--gain", bad}).status, 2)
            << bad;
}

// Runs sonavik2-cli and returns the most memory it held at once, in kilobytes (-1 when it failed).
long peakKilobytesOf(const TempDir& dir, const std::vector<std::string>& args)
{
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(dir.file("peak-out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(SONAVIK_CLI_PATH)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SONAVIK_CLI_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

TEST(CliSpectral, RegionsAreAnalysedAndWrittenBackOneAtATime)
{
    // 4 M frames of stereo: each channel's spectra and picture take about 44 MB at n = 4096.
    TempDir dir;
    constexpr int kFrames = 4'000'000;
    test::writeBytes(dir.file("in.wav"), twoTones(2, kFrames));
    const long oneAnalysis = 11L * kFrames / 1024;
    const std::vector<std::vector<std::string>> commands = {
        {"spectrogram", dir.file("in.wav"), "--bmp", dir.file("pic.bmp")},
        {"spectral", dir.file("in.wav"), dir.file("out.wav"), "halve:0:99999:0:100000Hz"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        auto left = command;
        left.insert(left.end(), {"--target", "1"});
        const long one = peakKilobytesOf(dir, left);
        const long both = peakKilobytesOf(dir, command);
        ASSERT_GT(one, 0);
        ASSERT_GT(both, 0);
        EXPECT_LT(both, one + oneAnalysis / 2) << "one channel " << one << " kB, both " << both << " kB";
    }
}

} // namespace
} // namespace sonavik
