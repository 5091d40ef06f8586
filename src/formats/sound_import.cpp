#include "formats/sound_import.h"

#include "formats/sound_files.h"
#include "platform/os.h"
#include "platform/ui.h"

#include <sndfile.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace sonavik {

namespace {

constexpr const char* kNoChannels = "チャンネル数が 0 です";
constexpr const char* kNoRate = "サンプリング周波数が 0 です";
constexpr const char* kNoSound = "音のデータがありません";
constexpr const char* kTooLong = "長すぎて開けません (2 GB を超えます)";
constexpr const char* kNoMemoryCaption = "メモリ割り当て失敗";
constexpr const char* kNotSound = "音声ファイルとして読めません";

// Largest sound the editor holds: its WAV writer's limit, so that every opened sound can be saved.
constexpr std::uint64_t kMostBytes = static_cast<std::uint64_t>(INT32_MAX) - 44;
// Frames a compressed file can plausibly yield per byte (a FLAC or Opus stream of silence comes near a
// few hundred): what a header claims beyond that is not given memory before it decodes.
constexpr std::uint64_t kMostFramesPerByte = 1024;
constexpr sf_count_t kBlockFrames = 8192;

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndHandle = std::unique_ptr<SNDFILE, SndCloser>;

std::string formatName(int format, int command)
{
    SF_FORMAT_INFO info{};
    info.format = format;
    if (sf_command(nullptr, command, &info, sizeof info) != 0 || !info.name)
        return "?";
    return info.name;
}

// How samples of one subformat reach the editor.
enum class Route {
    Exact8,   // 8 bits kept, sample for sample
    Exact16,  // decodes exactly to 16 bits (16-bit PCM and the 8- to 16-bit companded codings)
    Dither,   // wider integers: through float, dithered to 16 bits
    Float,    // float or lossy decoders: the same, and values beyond full scale clipped and counted
};

struct Coding {
    Route route;
    int bits;  // 0: none to speak of
};

Coding codingOf(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_DPCM_8:
        return {Route::Exact8, 8};
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_DWVW_16:
    case SF_FORMAT_DPCM_16:
    case SF_FORMAT_ALAC_16:
        return {Route::Exact16, 16};
    case SF_FORMAT_DWVW_12:
        return {Route::Exact16, 12};
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_DWVW_24:
    case SF_FORMAT_ALAC_24:
        return {Route::Dither, 24};
    case SF_FORMAT_ALAC_20:
        return {Route::Dither, 20};
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32:
    case SF_FORMAT_DWVW_N:
        return {Route::Dither, 32};
    case SF_FORMAT_FLOAT:
        return {Route::Float, 32};
    case SF_FORMAT_DOUBLE:
        return {Route::Float, 64};
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return {Route::Float, 0};
    default:  // mu-law, A-law and the ADPCMs decode to 16 bits exactly
        return {Route::Exact16, 0};
    }
}

} // namespace

// Outside the unnamed namespace: there GCC 12 leaves the dither loop one sample at a time.
namespace dither {

// Triangular dither of ±1 step: the sum of two uniform values from a hash of the sample's position
// (seeded, so the same file always gives the same samples, and without a chain from one sample to
// the next, so that a block is dithered many samples at a time).
class TpdfDither {
public:
    float at(std::uint32_t position) const
    {
        std::uint32_t h = (position + kSeed) * 0x9E3779B1u;
        h ^= h >> 16;
        h *= 0x85EBCA6Bu;
        h ^= h >> 13;
        h *= 0xC2B2AE35u;
        h ^= h >> 16;
        return static_cast<float>(static_cast<int>((h & 0xFFFFu) + (h >> 16))) * (1.0f / 65536.0f) - 1.0f;
    }
    float next() { return at(position_++); }
    std::uint32_t take(std::size_t count)
    {
        const std::uint32_t first = position_;
        position_ += static_cast<std::uint32_t>(count);
        return first;
    }

private:
    static constexpr std::uint32_t kSeed = 0x2545F491u;
    std::uint32_t position_ = 0;
};

// What the decode loop does with each block.
struct Plan {
    Route route;
    int sourceChannels;
    int outChannels;
    int outBits;
    ChannelChoice choice;
};

// Rounds count values (full scale ±1) to the editor's samples with dither; returns how many of them lay
// beyond full scale (clipped, and counted where the source could hold them). Written without branches
// so that the compiler handles many samples at a time.
template <typename Out>
[[gnu::noinline]] std::int64_t quantizeTo(const float* __restrict in, std::size_t count, float scale, int offset, Out* __restrict out,
                        TpdfDither& dither)
{
    const float low = -scale;
    const float high = scale - 1.0f;
    const std::uint32_t first = dither.take(count);
    int beyond = 0;  // a block holds far fewer than 2^31 samples
    for (std::size_t i = 0; i < count; ++i) {
        const float x = in[i];
        const int over = x > 1.0f;
        const int under = x < -1.0f;
        beyond += over + under;
        // Beyond full scale no dither: the value goes to the limit.
        float v = x * scale + dither.at(first + static_cast<std::uint32_t>(i)) * static_cast<float>(1 - over - under);
        v = std::min(high, v);  // in this order a NaN becomes the highest value, not an undefined one
        v = std::max(low, v);
        // Adding and taking away 1.5 × 2^23 rounds to the nearest integer, half to even, as lrint does.
        const float rounded = (v + 12582912.0f) - 12582912.0f;
        out[i] = static_cast<Out>(static_cast<int>(rounded) + offset);
    }
    return beyond;
}

} // namespace dither

namespace {

using dither::quantizeTo;
using dither::Plan;
using dither::TpdfDither;

std::int64_t quantize(const float* in, std::size_t count, const Plan& plan, unsigned char* out, TpdfDither& dither)
{
    const std::int64_t beyond = plan.outBits == 8
                                    ? quantizeTo(in, count, 128.0f, 128, out, dither)
                                    : quantizeTo(in, count, 32768.0f, 0, reinterpret_cast<std::int16_t*>(out), dither);
    return plan.route == Route::Float ? beyond : 0;
}

// Converts one block of float frames to the editor's samples; returns the clipped count. picked holds
// a block of output values where the channels have to be chosen or mixed first.
std::int64_t convertFloatBlock(const float* in, sf_count_t frames, const Plan& plan, unsigned char* out,
                               TpdfDither& dither, std::vector<float>& picked)
{
    const int n = plan.sourceChannels;
    const std::size_t count = static_cast<std::size_t>(frames) * plan.outChannels;
    const bool asTheyAre = plan.choice.kind == ChannelChoice::Kind::Pair && n == plan.outChannels
                           && (n == 1 || (plan.choice.left == 1 && plan.choice.right == 2));
    if (asTheyAre)
        return quantize(in, count, plan, out, dither);
    picked.resize(count);
    float* to = picked.data();
    const float* frame = in;
    for (sf_count_t f = 0; f < frames; ++f, frame += n) {
        switch (plan.choice.kind) {
        case ChannelChoice::Kind::Pair:
            *to++ = frame[plan.choice.left - 1];
            if (plan.outChannels == 2)
                *to++ = frame[plan.choice.right - 1];
            break;
        case ChannelChoice::Kind::MixMono: {
            float sum = 0;
            for (int c = 0; c < n; ++c)
                sum += frame[c];
            *to++ = sum / static_cast<float>(n);
            break;
        }
        case ChannelChoice::Kind::MixStereo: {
            // Odd-numbered channels to the left, even-numbered to the right, each side their mean.
            float sum[2] = {0, 0};
            for (int c = 0; c < n; ++c)
                sum[c % 2] += frame[c];
            *to++ = sum[0] / static_cast<float>((n + 1) / 2);
            *to++ = sum[1] / static_cast<float>(n / 2);
            break;
        }
        }
    }
    return quantize(picked.data(), count, plan, out, dither);
}

// Copies the chosen pair (or the one or two channels) of 16-bit frames, as 8 or 16 bits.
void convertShortBlock(const short* in, sf_count_t frames, const Plan& plan, unsigned char* out)
{
    const int n = plan.sourceChannels;
    const int left = plan.choice.left - 1;
    const int right = plan.outChannels == 2 ? plan.choice.right - 1 : -1;
    sf_count_t index = 0;
    for (sf_count_t f = 0; f < frames; ++f, in += n) {
        for (int c : {left, right}) {
            if (c < 0)
                continue;
            if (plan.outBits == 8)
                out[index++] = static_cast<unsigned char>((in[c] >> 8) + 128);
            else
                reinterpret_cast<std::int16_t*>(out)[index++] = in[c];
        }
    }
}

std::string conversionText(const SourceFormat& source, const Coding& coding, const Plan& plan,
                           std::int64_t clipped)
{
    std::string text;
    if (coding.route == Route::Dither || coding.route == Route::Float) {
        std::string from;
        if (coding.route == Route::Float && coding.bits > 0)
            from = std::to_string(coding.bits) + " ビット浮動小数点";
        else if (coding.bits > 0)
            from = std::to_string(coding.bits) + " ビット";
        else
            from = source.coding;
        text = from + " → 16 ビットに変換しました (ディザ)";
    } else if (coding.route == Route::Exact16 && coding.bits != 16) {
        text = source.coding + " → 16 ビットに変換しました";
    } else {
        text = source.container + " を読み込みました";
    }
    if (source.channels > 2) {
        const std::string from = "、" + std::to_string(source.channels) + " チャンネルから";
        switch (plan.choice.kind) {
        case ChannelChoice::Kind::Pair:
            text += from + " " + std::to_string(plan.choice.left) + "・" + std::to_string(plan.choice.right)
                    + " チャンネルを選びました";
            break;
        case ChannelChoice::Kind::MixMono:
            text += from + "モノラルにミックスしました";
            break;
        case ChannelChoice::Kind::MixStereo:
            text += from + "ステレオにミックスしました";
            break;
        }
    }
    if (clipped > 0)
        text += "、範囲を超えた " + std::to_string(clipped) + " サンプルをクリップしました";
    return text;
}

SourceFormat describe(const SF_INFO& info)
{
    SourceFormat f;
    f.container = formatName(info.format & SF_FORMAT_TYPEMASK, SFC_GET_FORMAT_INFO);
    f.coding = formatName(info.format & SF_FORMAT_SUBMASK, SFC_GET_FORMAT_INFO);
    const Coding c = codingOf(info.format & SF_FORMAT_SUBMASK);
    f.bits = c.bits;
    f.floating = c.route == Route::Float && c.bits > 0;
    f.channels = info.channels;
    f.rate = info.samplerate;
    f.frames = info.frames;
    return f;
}

long long fileSize(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

ImportResult refuse(Ui& ui, const std::string& text)
{
    showError(ui, text);
    ImportResult r;
    r.outcome = ImportResult::Outcome::Refused;
    return r;
}

} // namespace

std::optional<SourceFormat> describeSoundFile(const std::string& path)
{
    SF_INFO info{};
    SndHandle sf(sf_open(path.c_str(), SFM_READ, &info));
    if (!sf)
        return std::nullopt;
    return describe(info);
}

ImportResult importSoundFile(Ui& ui, SoundDocument& doc, const std::optional<ChannelChoice>& chosen)
{
    SF_INFO info{};
    SndHandle sf(sf_open(doc.path.c_str(), SFM_READ, &info));
    if (!sf)
        return {};
    if (info.channels <= 0)
        return refuse(ui, kNoChannels);
    if (info.samplerate <= 0)
        return refuse(ui, kNoRate);
    const SourceFormat source = describe(info);
    const Coding coding = codingOf(info.format & SF_FORMAT_SUBMASK);

    Plan plan{coding.route, info.channels, std::min(info.channels, 2), coding.route == Route::Exact8 ? 8 : 16, {}};
    if (info.channels > 2) {
        const std::optional<ChannelChoice> choice = chosen ? chosen : ui.chooseChannels(info.channels);
        if (!choice) {
            ImportResult r;
            r.outcome = ImportResult::Outcome::Refused;
            return r;
        }
        plan.choice = *choice;
        if (plan.choice.kind == ChannelChoice::Kind::Pair
            && (plan.choice.left < 1 || plan.choice.left > info.channels || plan.choice.right < 1
                || plan.choice.right > info.channels))
            return refuse(ui, "チャンネル番号は 1 から " + std::to_string(info.channels) + " までです");
        plan.outChannels = plan.choice.kind == ChannelChoice::Kind::MixMono ? 1 : 2;
    } else if (info.channels == 1) {
        plan.choice.right = 1;
    }
    // A mix is no longer whole samples of the source: it takes the dithered way at the kept bits.
    if (plan.choice.kind != ChannelChoice::Kind::Pair && plan.route != Route::Float)
        plan.route = Route::Dither;

    // The declared length is only a claim: bounded by what the editor holds and what the file can fill.
    const std::uint64_t blockAlign = static_cast<std::uint64_t>(plan.outChannels) * (plan.outBits / 8);
    std::uint64_t frames = info.frames > 0 ? static_cast<std::uint64_t>(info.frames) : 0;
    if (frames == 0 || info.frames == SF_COUNT_MAX)
        return refuse(ui, kNoSound);
    if (frames > kMostBytes / blockAlign)
        return refuse(ui, kTooLong);
    frames = std::min(frames, static_cast<std::uint64_t>(fileSize(doc.path)) * kMostFramesPerByte);
    const std::size_t bytes = frames * blockAlign;
    SampleBuffer buffer;
    if (memoryRoomFor(bytes))
        buffer = SampleBuffer::allocate(bytes);
    if (buffer.isNull()) {
        ui.messageBox({doc.path, kNoMemoryCaption, MessageIcon::Error, MessageButtons::Ok, MessageOwner::MainWindow});
        ImportResult r;
        r.outcome = ImportResult::Outcome::Refused;
        return r;
    }

    if (plan.route == Route::Dither || plan.route == Route::Float) {
        // Integer sources read as float are scaled so that full scale is ±1 whatever their width.
        sf_command(sf.get(), SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    }
    const bool direct = plan.route == Route::Exact16 && info.channels <= 2;
    std::vector<float> floats;
    std::vector<short> shorts;
    std::vector<float> picked;
    if (plan.route == Route::Dither || plan.route == Route::Float)
        floats.resize(static_cast<std::size_t>(kBlockFrames) * info.channels);
    else if (!direct)
        shorts.resize(static_cast<std::size_t>(kBlockFrames) * info.channels);

    TpdfDither dither;
    std::int64_t clipped = 0;
    std::uint64_t done = 0;
    while (done < frames) {
        const sf_count_t want = static_cast<sf_count_t>(std::min<std::uint64_t>(frames - done, kBlockFrames));
        unsigned char* out = buffer.data() + done * blockAlign;
        sf_count_t got;
        if (direct) {
            got = sf_readf_short(sf.get(), reinterpret_cast<short*>(out), want);
        } else if (!floats.empty()) {
            got = sf_readf_float(sf.get(), floats.data(), want);
            if (got > 0)
                clipped += convertFloatBlock(floats.data(), got, plan, out, dither, picked);
        } else {
            got = sf_readf_short(sf.get(), shorts.data(), want);
            if (got > 0)
                convertShortBlock(shorts.data(), got, plan, out);
        }
        if (got <= 0)
            break;
        done += static_cast<std::uint64_t>(got);
        if (got < want)
            break;
    }
    if (done == 0)
        return refuse(ui, kNoSound);

    ImportResult r;
    r.outcome = ImportResult::Outcome::Opened;
    r.clipped = clipped;
    r.endedEarly = done < static_cast<std::uint64_t>(info.frames);
    buffer.truncate(done * blockAlign);
    doc.samples = std::move(buffer);
    doc.summary.clear();
    doc.frameCount = static_cast<std::int32_t>(done);
    doc.format = WaveFormat{};
    doc.format.wFormatTag = 1;
    doc.format.nChannels = static_cast<std::uint16_t>(plan.outChannels);
    doc.format.nSamplesPerSec = static_cast<std::uint32_t>(info.samplerate);
    doc.format.wBitsPerSample = static_cast<std::uint16_t>(plan.outBits);
    doc.format.nBlockAlign = static_cast<std::uint16_t>(blockAlign);
    doc.format.nAvgBytesPerSec = static_cast<std::uint32_t>(blockAlign * static_cast<std::uint32_t>(info.samplerate));
    r.status = conversionText(source, coding, plan, clipped);
    if (r.endedEarly)
        showNotice(ui, doc.path + " は途中までしか読めませんでした (" + std::to_string(info.frames) + " フレーム中 "
                           + std::to_string(done) + " フレーム)");
    return r;
}

bool changeSampleBits(Ui& ui, SoundDocument& doc, int bits)
{
    if (!doc.hasData() || doc.format.wBitsPerSample == bits || (bits != 8 && bits != 16))
        return doc.hasData();
    const std::size_t count = doc.byteCount() / (doc.format.wBitsPerSample / 8);
    const std::size_t bytes = count * static_cast<std::size_t>(bits / 8);
    SampleBuffer out;
    if (memoryRoomFor(bytes))
        out = SampleBuffer::allocate(bytes);
    if (out.isNull()) {
        ui.messageBox({doc.path, kNoMemoryCaption, MessageIcon::Error, MessageButtons::Ok, MessageOwner::MainWindow});
        return false;
    }
    const unsigned char* in = doc.samples.data();
    if (bits == 16) {
        auto* to = reinterpret_cast<std::int16_t*>(out.data());
        for (std::size_t i = 0; i < count; ++i)
            to[i] = static_cast<std::int16_t>((in[i] - 128) * 256);
    } else {
        const auto* from = reinterpret_cast<const std::int16_t*>(in);
        TpdfDither dither;
        for (std::size_t i = 0; i < count; ++i) {
            const int q = static_cast<int>(std::lrintf(from[i] / 256.0f + dither.next()));
            out.data()[i] = static_cast<unsigned char>(std::clamp(q, -128, 127) + 128);
        }
    }
    doc.samples = std::move(out);
    doc.summary.clear();
    doc.format.wBitsPerSample = static_cast<std::uint16_t>(bits);
    doc.format.nBlockAlign = static_cast<std::uint16_t>(doc.format.nChannels * bits / 8);
    doc.format.nAvgBytesPerSec = doc.format.nBlockAlign * doc.format.nSamplesPerSec;
    return true;
}

bool readSoundDocument(Ui& ui, FileHandle file, SoundDocument& doc, std::string* status,
                       const std::optional<ChannelChoice>& choice)
{
    if (status)
        status->clear();
    const WavHeaderRefusal refusal = readWavHeaderQuietly(ui, file.get(), doc.format, doc.frameCount);
    if (refusal == WavHeaderRefusal::None) {
        doc.converted = false;
        return readWavSamples(ui, file.get(), doc);
    }
    if (refusal == WavHeaderRefusal::Shown) {
        showLoadFailed(ui, doc.path);
        return false;
    }
    file.reset();
    const ImportResult r = importSoundFile(ui, doc, choice);
    switch (r.outcome) {
    case ImportResult::Outcome::Opened:
        doc.converted = true;
        if (status)
            *status = r.status;
        return true;
    case ImportResult::Outcome::NotASoundFile:
        // A name that promises another kind of sound file is told so; anything else keeps the WAV
        // reader's own message.
        if (hasSoundExtension(doc.path) && saveKindOfName(doc.path) != SaveKind::Wav)
            showError(ui, kNotSound);
        else
            showWavRefusal(ui, refusal);
        break;
    case ImportResult::Outcome::Refused:
        break;
    }
    doc.frameCount = 0;
    showLoadFailed(ui, doc.path);
    return false;
}

} // namespace sonavik
