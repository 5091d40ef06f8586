// Every input kept under tests/fuzz/inputs/TARGET/ (crashes libFuzzer found, and seeds) runs through its
// target as an ordinary test: a target aborts on anything it must never see.

#include "fuzz/fuzz_targets.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace sonavik {
namespace {

TEST(FuzzReplay, KeptInputsPassTheirTargets)
{
    struct Target {
        const char* folder;
        int (*run)(const std::uint8_t*, std::size_t);
    };
    const Target targets[] = {
        {"settings_file", fuzz::settingsFile},
        {"wav_file", fuzz::wavFile},
        {"preview_render", fuzz::previewRender},
        {"spectral_ops", fuzz::spectralOps},
        {"sound_import", fuzz::soundImport},
    };
    for (const Target& t : targets) {
        const std::filesystem::path dir = std::filesystem::path(SONAVIK_FUZZ_INPUTS) / t.folder;
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (!entry.is_regular_file())
                continue;
            SCOPED_TRACE(entry.path().string());
            const auto bytes = test::readBytes(entry.path().string());
            EXPECT_EQ(t.run(bytes.data(), bytes.size()), 0);
            ++count;
        }
        EXPECT_GT(count, 0) << t.folder;
    }
}

} // namespace
} // namespace sonavik
