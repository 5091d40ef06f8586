// sonavik2-cli spectral's repair and harmonics: a click repaired and a whistle removed from files, and
// the op strings it refuses.

#include "spectrogram/repair_sounds.h"
#include "support/run_cli.h"
#include "support/temp_dir.h"
#include "support/wav_bytes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace sonavik {
namespace {

// A mono file at 44.1 kHz: 16-bit, or 8-bit with the values divided by 256.
test::Bytes wavOf(const std::vector<double>& x, int bits)
{
    test::Bytes pcm;
    for (double v : x) {
        if (bits == 8) {
            pcm.push_back(static_cast<unsigned char>(std::clamp(std::lround(v / 256) + 128, 0l, 255l)));
            continue;
        }
        const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(std::lround(v), -32768l, 32767l)));
        pcm.push_back(static_cast<unsigned char>(s));
        pcm.push_back(static_cast<unsigned char>(s >> 8));
    }
    return test::canonicalWav(1, test::kRepairRate, bits, pcm);
}

// The samples of a canonical mono file on the 16-bit scale.
std::vector<double> samplesOf(const test::Bytes& wav, int bits)
{
    std::vector<double> x;
    for (std::size_t i = 44; i + (bits / 8) <= wav.size(); i += bits / 8) {
        if (bits == 8) {
            x.push_back((wav[i] - 128) * 256.0);
            continue;
        }
        std::int16_t v;
        std::memcpy(&v, &wav[i], 2);
        x.push_back(v);
    }
    return x;
}

// Runs spectral on in.wav with the ops; the samples written, empty on failure.
std::vector<double> spectral(const test::TempDir& dir, const test::Bytes& input, int bits, const std::vector<std::string>& ops)
{
    test::writeBytes(dir.file("in.wav"), input);
    std::vector<std::string> args = {"spectral", dir.file("in.wav"), dir.file("out.wav")};
    args.insert(args.end(), ops.begin(), ops.end());
    const test::CliResult r = test::runCli(dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? samplesOf(test::readBytes(dir.file("out.wav")), bits) : std::vector<double>{};
}

TEST(CliSpectralRepair, AClickIsRepairedAndAWhistleGoesWithItsHarmonics)
{
    // The default analysis: n = 4096, frames 2048 samples apart. The click (44100 ... 45422) lies in the
    // windows of frames 20 to 22; frames 21 to 22 alone make up samples 43008 ... 47103.
    const test::ClickSound click = test::toneInPinkNoise();
    const std::vector<double> whistle = test::whistleOverTone();
    for (int bits : {16, 8}) {
        SCOPED_TRACE(bits);
        test::TempDir dir;
        const std::vector<double> clean = samplesOf(wavOf(click.clean, bits), bits);
        const std::vector<double> repaired = spectral(dir, wavOf(click.clicked, bits), bits, {"repair:20:22:0Hz:22050Hz"});
        ASSERT_EQ(repaired.size(), clean.size());
        const test::SpanMeasures m = test::measureSpan(repaired, clean, 43008, 4096);
        EXPECT_NEAR(m.toneChange, 0, 1);
        EXPECT_LE(m.peakRatio, 1.5);
        EXPECT_LT(m.difference, -10);

        // 950 ... 1050 Hz and its multiples, every frame.
        const std::vector<double> before = samplesOf(wavOf(whistle, bits), bits);
        const std::vector<double> after = spectral(dir, wavOf(whistle, bits), bits, {"erase:0:999:950Hz:1050Hz:harmonics"});
        ASSERT_EQ(after.size(), before.size());
        const auto change = [&](double hz) {
            return test::decibels(test::toneAmplitude(after, 11025, 16384, hz) / test::toneAmplitude(before, 11025, 16384, hz));
        };
        for (int k = 1; k <= 4; ++k)
            EXPECT_LT(change(1000.0 * k), -30) << k << " kHz";
        EXPECT_NEAR(change(300), 0, 1);
        if (bits != 16)
            continue;
        // Two harmonics: the fourth (4 kHz) stays.
        const std::vector<double> two = spectral(dir, wavOf(whistle, bits), bits, {"erase:0:999:950Hz:1050Hz:harmonics=2"});
        ASSERT_EQ(two.size(), before.size());
        const auto kept = [&](double hz) {
            return test::decibels(test::toneAmplitude(two, 11025, 16384, hz) / test::toneAmplitude(before, 11025, 16384, hz));
        };
        EXPECT_LT(kept(3000), -30);
        EXPECT_NEAR(kept(4000), 0, 1);
    }
}

TEST(CliSpectralRepair, TheSuffixAndTheNewOpAreCheckedLikeTheOthers)
{
    struct Case {
        const char* op;
        int status;
        const char* errorStart;
    };
    const Case cases[] = {
        {"repair:0:1:0:1:harmonic", 2, "sonavik2-cli: malformed edit"},
        {"erase:0:1:0:1:harmonics:harmonics", 2, "sonavik2-cli: malformed edit"},
        {"repair:0:1:0", 2, "sonavik2-cli: malformed edit"},
        {"repair:0:1:0:1s:harmonics", 2, "sonavik2-cli: malformed edit"},
        {"harmonics:0:1:0:1", 2, "sonavik2-cli: malformed edit"},
        {"erase:0:1:0:1:harmonics=0", 2, "sonavik2-cli: malformed edit"},
        {"erase:0:1:0:1:harmonics=1000", 2, "sonavik2-cli: malformed edit"},
        {"erase:0:1:0:1:harmonics=", 2, "sonavik2-cli: malformed edit"},
        {"erase:0:1:0:1:harmonics=2x", 2, "sonavik2-cli: malformed edit"},
        {"repair:900:999:0:1:harmonics", 1, "sonavik2-cli: repair:900:999:0:1:harmonics lies outside"},
        // Every frame: nothing around to rebuild from.
        {"repair:-5:999:0:10", 1, "sonavik2-cli: repair:-5:999:0:10 has no frame outside it to rebuild from"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.op);
        test::TempDir dir;
        test::writeBytes(dir.file("in.wav"), wavOf(test::whistleOverTone(20000), 16));
        const test::CliResult r = test::runCli(dir, {"spectral", dir.file("in.wav"), dir.file("out.wav"), c.op});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.rfind(c.errorStart, 0), 0u) << r.err;
        EXPECT_FALSE(test::fileExists(dir.file("out.wav")));
    }
    // Harmonics of a band near the top stop there; keep keeps the band and its multiples.
    test::TempDir dir;
    const test::Bytes input = wavOf(test::whistleOverTone(20000), 16);
    EXPECT_FALSE(spectral(dir, input, 16, {"halve:0:9:20000Hz:30000Hz:harmonics"}).empty());
    EXPECT_FALSE(spectral(dir, input, 16, {"keep:0:9:950Hz:1050Hz:harmonics", "double:0:1:0:0:harmonics"}).empty());
}

} // namespace
} // namespace sonavik
