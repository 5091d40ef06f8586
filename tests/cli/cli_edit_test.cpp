// Runs the built sonavik2-cli on small files and compares what it writes byte for byte.

#include "edit/edit_commands.h"
#include "settings/settings.h"
#include "support/run_cli.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace sonavik {
namespace {

using test::Bytes;
using test::TempDir;

using Result = test::CliResult;
using test::runCli;

Bytes pcm16(const std::vector<int>& samples)
{
    Bytes b;
    for (int v : samples) {
        const auto u = static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
        b.push_back(static_cast<unsigned char>(u));
        b.push_back(static_cast<unsigned char>(u >> 8));
    }
    return b;
}

Bytes stereo16(const std::vector<int>& interleaved) { return test::canonicalWav(2, 8000, 16, pcm16(interleaved)); }
Bytes mono8(const Bytes& bytes) { return test::canonicalWav(1, 8000, 8, bytes); }

// Four stereo frames: left 100, -32768, 3, 0 and right -100, 32767, -3, 1.
const std::vector<int> kFrames = {100, -100, -32768, 32767, 3, -3, 0, 1};

TEST(CliEdit, RoundTripsGiveTheExpectedFiles)
{
    struct Case {
        const char* name;
        Bytes input;
        std::vector<std::string> options;  // after IN OUT
        Bytes expected;
    };
    const Case cases[] = {
        {"invert both channels", stereo16(kFrames), {"invert"},
         stereo16({-100, 100, 32767, -32767, -3, 3, 0, -1})},
        {"halve a blue selection of the left", stereo16(kFrames), {"halve", "--target", "7", "--select", "blue:L:1:2"},
         stereo16({100, -100, -16384, 32767, 2, -3, 0, 1})},
        // x = 100, -100, 72, 0, -128 weighted by t = 0, 1/4, 1/2, 3/4, 1.
        {"8-bit linear fade-in of the left", mono8({228, 28, 200, 128, 0}), {"fade-in", "--target=1"},
         mono8({128, 103, 164, 128, 0})},
        {"8-bit cosine fade-out", mono8({228, 228, 228}), {"cos-fade-out", "--target", "1"}, mono8({228, 178, 128})},
        {"reverse the red selection on the right", stereo16(kFrames), {"reverse", "--target", "12", "--red", "R:3:0"},
         stereo16({100, 1, -32768, -3, 3, 32767, 0, -100})},
        // Alpha 0, 1/4, 3/4, 1 along half a cosine: x (1 + alpha).
        {"double under a cosine envelope", stereo16(kFrames),
         {"double", "--target", "11", "--select", "green:R:0:3:cos:0:1"}, stereo16({100, -100, -32768, 32767, 3, -5, 0, 2})},
        // Two steps: frames 0 and 1 at alpha 0, frames 2 and 3 at alpha 1.
        {"invert under a staircase", stereo16(kFrames), {"invert", "--target", "7", "--select", "blue:L:0:3:stair:0:1:2"},
         stereo16({100, -100, -32768, 32767, -3, -3, 0, 1})},
        {"a later selection cuts an earlier one", stereo16(kFrames),
         {"silence", "--target", "6", "--select", "green:L:0:3", "--select", "blue:L:1:1:linear:0:0"},
         stereo16({0, -100, -32768, 32767, 0, -3, 0, 1})},
        {"trim keeps the selected frames", stereo16(kFrames), {"trim", "--target", "7", "--select", "blue:L:1:2"},
         stereo16({-32768, 0, 3, 0})},
        {"delete closes the gap", stereo16(kFrames), {"delete", "--target", "9", "--select", "blue:R:0:0"},
         stereo16({100, 32767, -32768, -3, 3, 1, 0, 0})},
        {"delete everything", stereo16(kFrames), {"delete"}, stereo16({})},
        {"out-of-range selection is skipped, the command runs", stereo16(kFrames),
         {"invert", "--target", "7", "--select", "blue:L:2:9", "--select", "blue:L:0:0"},
         stereo16({-100, -100, -32768, 32767, 3, -3, 0, 1})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::writeBytes(dir.file("in.wav"), c.input);
        std::vector<std::string> args = {"edit", dir.file("in.wav"), dir.file("out.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = runCli(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(test::readBytes(dir.file("out.wav")), c.expected);
        EXPECT_EQ(test::readBytes(dir.file("in.wav")), c.input);
    }
}

TEST(CliEdit, SettingsFileIsReadAndNeverWritten)
{
    TempDir dir;
    Settings settings;
    applyDefaultSettings(settings);
    const auto* raw = reinterpret_cast<const unsigned char*>(&settings);
    const Bytes image(raw, raw + sizeof settings);
    test::writeBytes(dir.file("parameter.ini"), image);
    test::writeBytes(dir.file("in.wav"), stereo16(kFrames));
    Result r = runCli(dir, {"edit", dir.file("in.wav"), dir.file("out.wav"), "silence", "--settings", dir.file("parameter.ini")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readBytes(dir.file("out.wav")), stereo16({0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(test::readBytes(dir.file("parameter.ini")), image);

    test::writeBytes(dir.file("short.ini"), Bytes(image.begin(), image.end() - 1));
    r = runCli(dir, {"edit", dir.file("in.wav"), dir.file("out2.wav"), "silence", "--settings", dir.file("short.ini")});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(test::fileExists(dir.file("out2.wav")));
    EXPECT_EQ(test::readBytes(dir.file("short.ini")).size(), image.size() - 1);
}

// Curve points stored in any order act as the curve editor orders them, as they would after the dialog.
TEST(CliEdit, CurvesFromSettingsAreNormalisedAsTheDialogsDo)
{
    TempDir dir;
    test::writeBytes(dir.file("in.wav"), stereo16(kFrames));
    struct Case {
        const char* command;
        CurveData Settings::*curve;
    };
    const Case cases[] = {{"nonlinear", &Settings::nonlinear}, {"reverb", &Settings::reverb}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        Settings settings;
        applyDefaultSettings(settings);
        CurveData& curve = settings.*c.curve;
        int active = 0;
        while (active < kCurvePoints && curve.points[active].state != 0)
            ++active;
        std::reverse(curve.points, curve.points + active);
        const auto* raw = reinterpret_cast<const unsigned char*>(&settings);
        test::writeBytes(dir.file("reversed.ini"), Bytes(raw, raw + sizeof settings));

        Result plain = runCli(dir, {"edit", dir.file("in.wav"), dir.file("plain.wav"), c.command});
        Result reversed = runCli(dir, {"edit", dir.file("in.wav"), dir.file("reversed.wav"), c.command, "--settings",
                                       dir.file("reversed.ini")});
        ASSERT_EQ(plain.status, 0) << plain.err;
        ASSERT_EQ(reversed.status, 0) << reversed.err;
        EXPECT_EQ(test::readBytes(dir.file("reversed.wav")), test::readBytes(dir.file("plain.wav")));
    }
}

// OUT is named as the editor would open it: ".wav" added, and no path the reader refuses.
TEST(CliEdit, OutputNamesFollowTheReadersRule)
{
    TempDir dir;
    test::writeBytes(dir.file("in.wav"), stereo16(kFrames));
    Result r = runCli(dir, {"edit", dir.file("in.wav"), dir.file("named"), "invert"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(test::fileExists(dir.file("named.wav")));
    EXPECT_FALSE(test::fileExists(dir.file("named")));
    r = runCli(dir, {"info", dir.file("named")});
    EXPECT_EQ(r.status, 0) << r.err;

    std::string deep = dir.path();
    while (deep.size() + 101 < 1032 - 20) {
        deep += std::string(100, 'd') + "/";
        mkdir(deep.c_str(), 0755);
    }
    const std::string tooLong = deep + std::string(1032 - deep.size() - 4, 'n') + ".wav";
    ASSERT_EQ(tooLong.size(), 1032u);
    r = runCli(dir, {"edit", dir.file("in.wav"), tooLong, "invert"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("はファイル名が不正です"), std::string::npos) << r.err;
    EXPECT_FALSE(test::fileExists(tooLong));
}

TEST(CliEdit, RefusalsExitOneWithoutWriting)
{
    struct Case {
        const char* name;
        Bytes input;
        std::vector<std::string> options;
        const char* message;
    };
    const Case cases[] = {
        {"right channel of a mono file", mono8({1, 2, 3}), {"invert", "--target", "2"}, "Sonavik 2: 右チャンネルがありません\n"},
        {"no blue selection", stereo16(kFrames), {"halve", "--target", "7", "--select", "green:L:0:1"},
         "Sonavik 2: 青がありません\n"},
        {"no red selection", stereo16(kFrames), {"trim", "--target", "12"}, "Sonavik 2: 赤がありません\n"},
        {"stereo target on mono", mono8({1}), {"reverse", "--target", "3"},
         "Sonavik 2: これはステレオのデータではありません\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::writeBytes(dir.file("in.wav"), c.input);
        std::vector<std::string> args = {"edit", dir.file("in.wav"), dir.file("out.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = runCli(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message);
        EXPECT_FALSE(test::fileExists(dir.file("out.wav")));
    }
    // preview checks as edit does, before it looks for a sound device.
    const Case previews[] = {
        {"nonlinear of both channels of a mono file", mono8({1, 2, 3}), {"nonlinear"},
         "Sonavik 2: これはステレオのデータではありません\n"},
        {"equalizer of the right channel of a mono file", mono8({1}), {"equalize", "--target", "2"},
         "Sonavik 2: 右チャンネルがありません\n"},
        {"reverb without a red selection", stereo16(kFrames), {"reverb", "--target", "12"}, "Sonavik 2: 赤がありません\n"},
    };
    for (const Case& c : previews) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        test::writeBytes(dir.file("in.wav"), c.input);
        std::vector<std::string> args = {"preview", dir.file("in.wav")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Result r = runCli(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.message);
    }
    TempDir dir;
    const Result missing = runCli(dir, {"edit", dir.file("none.wav"), dir.file("out.wav"), "invert"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_FALSE(test::fileExists(dir.file("out.wav")));
}

TEST(CliEdit, UsageErrorsExitTwo)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"edit", "IN", "OUT"},
        {"edit", "IN", "OUT", "invert", "extra"},
        {"edit", "IN", "OUT", "sparkle"},
        {"edit", "IN", "OUT", "invert", "--bogus"},
        {"edit", "IN", "OUT", "invert", "--"},
        {"edit", "IN", "OUT", "invert", "--target"},
        {"edit", "IN", "OUT", "invert", "--target", "13"},
        {"edit", "IN", "OUT", "invert", "--target", "-1"},
        {"edit", "IN", "OUT", "invert", "--target", "3x"},
        {"edit", "IN", "OUT", "invert", "--select", "red:L:0:1"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:C:0:1"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:0"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:-1:4"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:0:99999999999"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:0:4:wave"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:0:4:cos:1.5:1"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:0:4:cos:0:nan"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:0:4:cos:0:1:inf"},
        {"edit", "IN", "OUT", "invert", "--select", "blue:L:0:4:cos:0:1:2:3"},
        {"edit", "IN", "OUT", "invert", "--red", "L:0"},
        {"edit", "IN", "OUT", "invert", "--red", "X:0:4"},
        {"edit", "IN", "OUT", "invert", "--red", "L:a:4"},
        {"edit", "IN", "OUT", "reverb", "--threads", "0"},
        {"edit", "IN", "OUT", "reverb", "--threads", "65"},
        {"edit", "IN", "OUT", "reverb", "--threads=two"},
        {"info", "IN", "--target", "1"},
        {"info", "IN", "--threads", "2"},
        {"info"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        SCOPED_TRACE(joined);
        TempDir dir;
        std::vector<std::string> full = args;
        for (auto& a : full)
            if (a == "IN" || a == "OUT")
                a = dir.file(a == "IN" ? "in.wav" : "out.wav");
        test::writeBytes(dir.file("in.wav"), stereo16(kFrames));
        const Result r = runCli(dir, full);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("usage: sonavik2-cli"), std::string::npos);
        EXPECT_FALSE(test::fileExists(dir.file("out.wav")));
    }
}

TEST(CliEdit, HelpListsTheEditCommandsAndInfoStillWorks)
{
    TempDir dir;
    Result r = runCli(dir, {"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* word : {"--target", "--select", "--red", "--settings", "--yes", "exp+", "stair"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    for (const EditCommand& c : editCommands())
        if (c.cliName) {
            EXPECT_NE(r.out.find(std::string(" ") + c.cliName), std::string::npos) << c.cliName;
        }
    test::writeBytes(dir.file("in.wav"), stereo16(kFrames));
    r = runCli(dir, {"info", dir.file("in.wav")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "channels=2 rate=8000 bits=16 frames=4\n"
                     "file: container=\"WAV (Microsoft)\" coding=\"Signed 16 bit PCM\" bits=16 channels=2 rate=8000 frames=4\n");
}

} // namespace
} // namespace sonavik

namespace sonavik {
namespace {

Bytes mono16(const std::vector<int>& samples) { return test::canonicalWav(1, 8000, 16, pcm16(samples)); }

TEST(CliEdit, ParameterCommandsTakeTheirValuesFromOptions)
{
    TempDir dir;
    const std::string in = dir.file("in.wav");
    const std::string out = dir.file("out.wav");

    // Four bits of sixteen: a step of 4096.
    test::writeBytes(in, mono16({5000, 6200, -2048, 32767}));
    Result r = runCli(dir, {"edit", in, out, "coarsen", "--bits", "4", "--target", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readBytes(out), mono16({4096, 8192, 0, 32767}));

    // A unit impulse passes the sound through at the engine's fixed scale of 0.018.
    const std::string impulse = dir.file("impulse.wav");
    test::writeBytes(impulse, mono16({32767}));
    test::writeBytes(in, mono16({10000, -20000, 0, 5000}));
    r = runCli(dir, {"edit", in, out, "convolve", "--response", impulse, "--target", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readBytes(out), mono16({180, -360, 0, 90}));

    // A stereo response is refused with the editor's messages before anything is edited: the command
    // failed and OUT stays as it was.
    const std::string stereoResponse = dir.file("stereo.wav");
    test::writeBytes(stereoResponse, stereo16(kFrames));
    r = runCli(dir, {"edit", in, out, "convolve", "--response", stereoResponse, "--target", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("はモノラルではありません。"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("応答関数の読み込みに失敗しました"), std::string::npos);
    EXPECT_EQ(test::readBytes(out), mono16({180, -360, 0, 90}));

    // The reset example's response is silent, so the reverb only scales the dry sound down by its ratio:
    // 50 %, raised to 100 - 50 / 2 = 75 % for a rate below 16000 Hz, leaves a quarter.
    r = runCli(dir, {"edit", in, out, "reverb", "--preset", "リセット", "--target", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readBytes(out), mono16({2500, -5000, 0, 1250}));
}

// A response whose bytes per second are wrong is asked about once, as the reader asks: --yes repairs
// it and the convolution runs with it; No refuses the command, which then fails without writing OUT.
TEST(CliEdit, ConvolutionAsksToRepairItsResponse)
{
    TempDir dir;
    const std::string in = dir.file("in.wav");
    const std::string out = dir.file("out.wav");
    const std::string response = dir.file("response.wav");
    test::writeBytes(in, mono16({10000, -20000, 0, 5000}));
    test::writeBytes(response, test::riff({test::chunk("fmt ", test::fmtBody(1, 8000, 16, 2, 12345)),
                                           test::chunk("data", pcm16({32767}))}));
    const std::string question = "このフォーマットは最低限の\n情報しか正しくありません。\n残りの情報を訂正しますか？";
    auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };

    Result r = runCli(dir, {"edit", in, out, "convolve", "--response", response, "--target", "1", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(count(r.err, question), 1u) << r.err;
    EXPECT_EQ(r.err.find("畳み込みに使うファイルが不正です"), std::string::npos) << r.err;
    EXPECT_EQ(test::readBytes(out), mono16({180, -360, 0, 90}));

    std::remove(out.c_str());
    r = runCli(dir, {"edit", in, out, "convolve", "--response", response, "--target", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(count(r.err, question), 1u) << r.err;
    EXPECT_EQ(count(r.err, "畳み込みに使うファイルが不正です"), 1u) << r.err;
    EXPECT_FALSE(test::fileExists(out));
}

TEST(CliEdit, ParameterOptionsAreCheckedBeforeAnythingIsWritten)
{
    TempDir dir;
    const std::string in = dir.file("in.wav");
    const std::string out = dir.file("out.wav");
    test::writeBytes(in, mono16({1, 2, 3}));
    const std::vector<std::vector<std::string>> misuses = {
        {"edit", in, out, "coarsen", "--bits", "0"},
        {"edit", in, out, "coarsen", "--bits", "17"},
        {"edit", in, out, "invert", "--bits", "4"},
        {"edit", in, out, "reverb", "--preset", "cathedral"},
        {"edit", in, out, "halve", "--response", in},
        {"edit", in, out, "convolve"},
    };
    for (const auto& args : misuses) {
        const Result r = runCli(dir, args);
        EXPECT_EQ(r.status, 2) << args[3] << " " << (args.size() > 4 ? args[4] : "");
        EXPECT_FALSE(test::fileExists(out));
    }
}

// The long edits give the same file on one thread as on several; with stderr not a terminal they
// print no progress.
TEST(CliEdit, ThreadCountDoesNotChangeTheFile)
{
    TempDir dir;
    std::vector<int> frames;
    for (int i = 0; i < 30000; ++i) {
        frames.push_back((i * 7919) % 20000 - 10000);
        frames.push_back(i % 300 * 50 - 7500);
    }
    test::writeBytes(dir.file("in.wav"), stereo16(frames));
    std::vector<int> response;
    for (int i = 0; i < 2000; ++i)
        response.push_back(i % 50 == 0 ? 30000 - 10 * i : 0);
    test::writeBytes(dir.file("response.wav"), test::canonicalWav(1, 8000, 16, pcm16(response)));
    Settings settings;
    applyDefaultSettings(settings);
    settings.eqFftSize() = 512;
    settings.eq.points[0] = {1, 0, 0.2, 0.5, 0.2, 0.1};  // grey at unity, drawn at +16 dB
    const auto* raw = reinterpret_cast<const unsigned char*>(&settings);
    test::writeBytes(dir.file("parameter.ini"), Bytes(raw, raw + sizeof settings));
    const std::vector<std::vector<std::string>> commands = {
        {"equalize", "--settings", dir.file("parameter.ini")},
        {"reverb", "--preset", "echo"},
        {"convolve", "--response", dir.file("response.wav"), "--select", "blue:R:100:25000:cos:0:1", "--target", "4"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        Bytes first;
        for (const char* threads : {"1", "2", "5"}) {
            std::vector<std::string> args = {"edit", dir.file("in.wav"), dir.file("out.wav")};
            args.insert(args.end(), command.begin(), command.end());
            args.insert(args.end(), {"--threads", threads});
            const Result r = runCli(dir, args);
            EXPECT_EQ(r.status, 0) << threads;
            EXPECT_EQ(r.err, "") << threads;
            const Bytes out = test::readBytes(dir.file("out.wav"));
            if (first.empty())
                first = out;
            EXPECT_EQ(out, first) << threads << " threads";
        }
        EXPECT_NE(first, stereo16(frames));
    }
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own address space defeats the limit
// Under a memory limit (an address-space limit here; a container's is read the same way) a copy of the
// sound that does not fit is refused with its reason on stderr, exit 1 and OUT untouched, where the
// process used to be killed or to end without a word: edit's undo copy, the long edit's working copy and
// spectral's write-back, whose analysis no longer colours a picture it never uses.
TEST(CliEdit, CopiesOfTheSoundThatDoNotFitAreRefusedWithTheirReason)
{
    TempDir dir;
    constexpr unsigned long kSoundKiB = 32 << 10;  // 16 Mi frames of mono 16-bit
    {
        Bytes data(kSoundKiB << 10);
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<unsigned char>((i * 2654435761u) >> 11);
        test::writeBytes(dir.file("in.wav"), test::canonicalWav(1, 44100, 16, data));
    }
    const std::string in = dir.file("in.wav");
    const std::string out = dir.file("out.wav");
    const Bytes before = {1, 2, 3};
    test::writeBytes(out, before);
    // The least limit under which the sound can be read at all, to within a mebibyte.
    unsigned long low = 0;
    unsigned long high = 2 * kSoundKiB + (256 << 10);
    ASSERT_EQ(runCli(dir, {"info", in}, high).status, 0);
    while (high - low > 1024) {
        const unsigned long middle = (low + high) / 2;
        (runCli(dir, {"info", in}, middle).status == 0 ? high : low) = middle;
    }
    struct Case {
        std::vector<std::string> args;
        unsigned long limitKiB;
        const char* reason;
    };
    const Case cases[] = {
        {{"edit", in, out, "halve", "--target", "1"}, high + kSoundKiB / 2,
         "beep: not enough memory for the undo copy of the sound"},
        {{"edit", in, out, "reverb", "--target", "1", "--threads", "1"}, high + kSoundKiB / 2,
         "beep: not enough memory for the working copy of the sound"},
        // Room for the spectra (four times the sound) but not for them and a copy of the sound.
        {{"spectral", in, out, "erase:0:99:0:300Hz", "--target", "1", "--threads", "1"}, high + 9 * kSoundKiB / 2,
         "beep: not enough memory for the working copy of the sound"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[3]);
        const Result r = runCli(dir, c.args, c.limitKiB);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(test::readBytes(out), before);
    }
}
#endif

} // namespace
} // namespace sonavik
