// Real-world files, valid and broken, collected from other WAV readers' test suites.

#include "app/file_flows.h"
#include "document/wav_file.h"

#include "document/workspace.h"
#include "support/scripted_ui.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <filesystem>
#include <set>

namespace sonavik {
namespace {

using test::corpusFile;
using test::ScriptedUi;

const char* const kCut = "ヘッダが切れています";
const char* const kNotWave = "Wave Format ではありません";
const char* const kBadFormatSize = "Format Size が正しくありません";
const char* const kUnsupported = "このフォーマットは正しくないか、サポートされていません";
const char* const kNoSound = "音のデータがありません";
// Not a header message: the header was fine but the samples are not there.
const char* const kDataMissing = "データ読み込み失敗";

struct CorpusCase {
    const char* file;
    const char* refusal;  // null: loads with the values below
    int channels = 0;
    int rate = 0;
    int bits = 0;
    int frames = 0;
};

const CorpusCase kCases[] = {
    {"hound/crash-24728523ef4be15c838293b676f6853e73723bf4.wav", kUnsupported},
    {"hound/crash-e5471f5b58397287b509db7d026e95f1724454f5.wav", kUnsupported},
    {"hound/nonstandard-01.wav", nullptr, 2, 48000, 16, 1},  // 24 bits after a JUNK chunk, converted
    {"hound/nonstandard-02.wav", nullptr, 2, 48000, 16, 2},  // 32 bits, converted
    {"hound/oom-48ae4cd061ff8578ad3f23dc87624bd365cf5216.wav", kNotWave},
    {"hound/pcmwaveformat-16bit-44100Hz-mono-extra.wav", nullptr, 1, 44100, 16, 4},
    {"hound/pcmwaveformat-16bit-44100Hz-mono.wav", nullptr, 1, 44100, 16, 4},
    {"hound/pcmwaveformat-8bit-44100Hz-mono.wav", nullptr, 1, 44100, 8, 4},
    {"hound/waveformatex-16bit-44100Hz-mono-extra.wav", nullptr, 1, 44100, 16, 4},
    {"hound/waveformatex-16bit-44100Hz-stereo.wav", nullptr, 2, 44100, 16, 4},
    {"hound/waveformatex-8bit-11025Hz-mono.wav", nullptr, 1, 11025, 8, 4},
    {"hound/waveformatex-ieeefloat-44100Hz-mono.wav", nullptr, 1, 44100, 16, 4},
    {"hound/waveformatextensible-24bit-192kHz-mono.wav", nullptr, 1, 192000, 16, 4},
    {"wavefile/bad_channel_count.wav", kUnsupported},
    {"wavefile/bad_riff_header.wav", kNotWave},
    {"wavefile/bad_sample_rate.wav", kUnsupported},
    {"wavefile/bad_wavefile_format.wav", kCut},
    {"wavefile/data_chunk_has_incomplete_chunk_size.wav", kCut},
    {"wavefile/data_chunk_truncated.wav", kDataMissing},
    {"wavefile/empty.wav", kCut},
    {"wavefile/empty_format_chunk.wav", kCut},
    {"wavefile/extensible_mono_pcm_16_44100.wav", nullptr, 1, 44100, 16, 2240},
    {"wavefile/extensible_stereo_pcm_8_44100.wav", nullptr, 2, 44100, 8, 2240},
    {"wavefile/extensible_unsupported_subformat_guid.wav", kUnsupported},
    {"wavefile/format_chunk_after_data_chunk.wav", kNotWave},
    {"wavefile/format_chunk_with_extra_byte_and_missing_padding_byte.wav", nullptr, 1, 44100, 8, 2240},
    {"wavefile/format_chunk_with_extra_byte_and_padding_byte.wav", nullptr, 1, 44100, 8, 2240},
    {"wavefile/format_chunk_with_extra_bytes.wav", nullptr, 1, 44100, 8, 2240},
    {"wavefile/insufficient_format_chunk.wav", kBadFormatSize},
    {"wavefile/mono_pcm_16_44100.wav", nullptr, 1, 44100, 16, 2240},
    {"wavefile/mono_pcm_16_44100_junk_chunk_final_chunk_missing_padding_byte.wav", nullptr, 1, 44100, 16, 2240},
    {"wavefile/mono_pcm_16_44100_junk_chunk_with_padding_byte.wav", nullptr, 1, 44100, 16, 2240},
    {"wavefile/mono_pcm_16_44100_with_extension.wav", nullptr, 1, 44100, 16, 2240},
    {"wavefile/mono_pcm_8_44100.wav", nullptr, 1, 44100, 8, 2240},
    {"wavefile/mono_pcm_8_44100_with_padding_byte.wav", nullptr, 1, 44100, 8, 2241},
    {"wavefile/no_data_chunk.wav", kCut},
    {"wavefile/no_samples.wav", kDataMissing},
    {"wavefile/stereo_pcm_16_44100.wav", nullptr, 2, 44100, 16, 2240},
    {"wavefile/unsupported_audio_format.wav", kNoSound},  // libsndfile takes its format but finds no frames
    {"wavefile/with_smpl_chunk_after_data_chunk_and_data_chunk_has_padding_byte.wav", nullptr, 1, 44100, 8, 2241},
};

TEST(WavCorpus, EveryFileHasAnExpectedOutcome)
{
    std::set<std::string> listed;
    for (const CorpusCase& c : kCases)
        listed.insert(c.file);
    std::set<std::string> present;
    for (const char* folder : {"hound", "wavefile"})
        for (const auto& entry : std::filesystem::directory_iterator(corpusFile(folder)))
            if (entry.path().extension() == ".wav")  // the licence notes sit beside the sounds
                present.insert(std::string(folder) + "/" + entry.path().filename().string());
    EXPECT_EQ(present, listed);
}

TEST(WavCorpus, OpensOrRefusesEachFile)
{
    for (const CorpusCase& c : kCases) {
        SCOPED_TRACE(c.file);
        Workspace ws;
        ScriptedUi ui;
        std::string path = corpusFile(c.file);
        bool ok = openWavFile(ws, ui, path);
        EXPECT_EQ(ui.unansweredQuestions, 0);
        if (!c.refusal) {
            ASSERT_TRUE(ok) << ::testing::PrintToString(ui.texts());
            const WaveFormat& f = ws.document.format;
            EXPECT_EQ(f.nChannels, c.channels);
            EXPECT_EQ(f.nSamplesPerSec, static_cast<std::uint32_t>(c.rate));
            EXPECT_EQ(f.wBitsPerSample, c.bits);
            EXPECT_EQ(ws.document.frameCount, c.frames);
            EXPECT_EQ(ws.document.samples.size(), ws.document.byteCount());
            EXPECT_TRUE(ui.messages.empty());
            continue;
        }
        EXPECT_FALSE(ok);
        EXPECT_FALSE(ws.document.hasData());
        if (c.refusal == kDataMissing) {
            ASSERT_EQ(ui.messages.size(), 1u);
            EXPECT_EQ(ui.messages[0].caption, kDataMissing);
            EXPECT_EQ(ui.messages[0].text, path);
        } else {
            EXPECT_EQ(ui.texts(), (std::vector<std::string>{c.refusal, path + " の読み込みに失敗しました"}));
        }
    }
}

} // namespace
} // namespace sonavik
