#include "edit/convolution.h"

#include "document/sample_summary.h"
#include "document/sound_document.h"
#include "document/wav_file.h"
#include "dsp/fft.h"
#include "edit/edit_control.h"
#include "edit/progress.h"
#include "edit/reverb.h"
#include "edit/time_domain_edits.h"
#include "formats/sound_files.h"
#include "formats/sound_import.h"
#include "platform/ui.h"
#include "settings/settings.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace sonavik {
namespace {

constexpr const char* kAllocating = "処理中： リバーブ ( メモリ割り当て中 )";
constexpr const char* kBuildingResponse = "処理中： リバーブ ( 応答関数作成中 )";
constexpr const char* kTransformingResponse = "処理中： リバーブ ( 応答関数 FFT 中 )";
constexpr const char* kBlockPrefix = "処理中： リバーブ ( データを FFT 中 ";
constexpr const char* kBlockSuffix = " ％ )";
constexpr const char* kDone = "処理中： リバーブ ( 完了 )";
constexpr const char* kNoMemory = "メモリがたりません";
constexpr const char* kBadResponseFile = "畳み込みに使うファイルが不正です";
constexpr const char* kResponseNotRead = "応答関数の読み込みに失敗しました";
constexpr const char* kLoadFailed = " の読み込みに失敗しました";
constexpr const char* kNotMono = " はモノラルではありません。\n現バージョンの Sonavik 2 は、ステレオのファイルに\n"
                                 "よる畳み込みをサポートしていません。バージョンアップを\nお待ち下さい。";
constexpr double kInputScale = 0.018;

// The name check, the opening and the header, each failure with its message; path becomes the name
// actually opened.
FileHandle openResponse(Ui& ui, std::string& path, const std::string& openDir, WaveFormat& format,
                        std::int32_t& frames)
{
    FileHandle file = openSoundForReading(ui, path, openDir);
    if (!file)
        return nullptr;
    const WavHeaderRefusal refusal = readWavHeaderQuietly(ui, file.get(), format, frames);
    if (refusal == WavHeaderRefusal::None)
        return file;
    file.reset();
    if (refusal == WavHeaderRefusal::Shown) {
        showError(ui, path + kLoadFailed);
        return nullptr;
    }
    // Any other sound file is converted as an open converts it, and its samples stand in a scratch file
    // that the readers below take like the data of a WAV file.
    SoundDocument converted;
    converted.path = path;
    const ImportResult imported = importSoundFile(ui, converted);
    if (imported.outcome == ImportResult::Outcome::NotASoundFile)
        showWavRefusal(ui, refusal);
    if (imported.outcome != ImportResult::Outcome::Opened) {
        showError(ui, path + kLoadFailed);
        return nullptr;
    }
    file.reset(std::tmpfile());
    if (!file || std::fwrite(converted.samples.data(), 1, converted.byteCount(), file.get()) != converted.byteCount()
        || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        showError(ui, kNoMemory);
        return nullptr;
    }
    format = converted.format;
    frames = converted.frameCount;
    return file;
}

template <typename T>
std::unique_ptr<T[]> tryAllocate(std::size_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// Up to count samples of the open file scaled to [-1, 1): (byte - 128) / 128 for 8 bits, value / 32768
// for 16 bits; fewer where the data ends early. Returns how many were read.
std::size_t readScaledSamples(std::FILE* file, bool eightBit, double* w, std::size_t count)
{
    const std::size_t bytesPerSample = eightBit ? 1 : 2;
    unsigned char chunk[16384];
    std::size_t j = 0;
    while (j < count) {
        const std::size_t want = std::min(count - j, sizeof chunk / bytesPerSample);
        const std::size_t got = std::fread(chunk, bytesPerSample, want, file);
        for (std::size_t i = 0; i < got; ++i, ++j) {
            if (eightBit) {
                w[j] = (static_cast<int>(chunk[i]) - 128) / 128.0;
            } else {
                const auto v = static_cast<std::int16_t>(chunk[2 * i] | (chunk[2 * i + 1] << 8));
                w[j] = v / 32768.0;
            }
        }
        if (got < want)
            break;
    }
    return j;
}

} // namespace

std::int64_t convolutionBlockLength(std::int64_t responseFrames)
{
    std::int64_t n = kMinConvolutionBlock;
    while (n < responseFrames && n < kMaxConvolutionBlock)
        n *= 2;
    return n;
}

std::int64_t readResponseLength(Ui& ui, const std::string& responsePath, const std::string& openDir)
{
    std::string path = responsePath;
    WaveFormat format;
    std::int32_t frames = 0;
    if (!openResponse(ui, path, openDir, format, frames))
        return -1;
    return std::max<std::int32_t>(frames, 0);
}

bool readResponse(Ui& ui, double* w, std::size_t length, const std::string& responsePath, const std::string& openDir)
{
    std::fill(w, w + length, 0.0);
    std::string path = responsePath;
    WaveFormat format;
    std::int32_t frames = 0;
    FileHandle file = openResponse(ui, path, openDir, format, frames);
    if (!file)
        return false;
    if (format.nChannels == 2) {
        file.reset();
        showError(ui, path + kNotMono);
        return false;
    }
    const std::size_t wanted = std::min<std::size_t>(length / 2, static_cast<std::size_t>(std::max<std::int32_t>(frames, 0)));
    // The data may end early: the rest of the response stays silent.
    readScaledSamples(file.get(), format.wBitsPerSample == 8, w, wanted);
    return true;
}

std::shared_ptr<const ResponseSamples> loadResponse(Ui& ui, const std::string& responsePath, const std::string& openDir)
{
    std::string path = responsePath;
    WaveFormat format;
    std::int32_t frames = 0;
    FileHandle file = openResponse(ui, path, openDir, format, frames);
    if (!file) {
        showError(ui, kBadResponseFile);
        return nullptr;
    }
    if (format.nChannels == 2) {
        file.reset();
        showError(ui, path + kNotMono);
        showError(ui, kResponseNotRead);
        return nullptr;
    }
    try {
        auto response = std::make_shared<ResponseSamples>();
        response->frames = std::max<std::int32_t>(frames, 0);
        response->values.assign(static_cast<std::size_t>(std::min(response->frames, kMaxConvolutionBlock)), 0.0);
        readScaledSamples(file.get(), format.wBitsPerSample == 8, response->values.data(), response->values.size());
        return response;
    } catch (const std::bad_alloc&) {
        showError(ui, kNoMemory);
        return nullptr;
    }
}

bool prepareConvolution(EditContext& context, ResponseSource source, ConvolutionPlan& plan,
                        const ResponseSamples* fileResponse)
{
    Ui& ui = context.ui;
    const Settings& settings = context.settings;
    showProgress(ui, kAllocating);

    const std::string path = fieldText(settings.responsePath);
    const std::string openDir = fieldText(settings.openDir);
    std::int64_t responseFrames = 0;
    std::shared_ptr<const ResponseSamples> loaded;
    if (source == ResponseSource::Reverb) {
        responseFrames = reverbResponseLength(settings.reverbTimeStep());
    } else {
        if (!fileResponse) {
            loaded = loadResponse(ui, path, openDir);
            if (!loaded)
                return false;
            fileResponse = loaded.get();
        }
        responseFrames = fileResponse->frames;
    }
    const std::int64_t n = convolutionBlockLength(responseFrames);
    const std::int64_t m = 2 * n;
    // The block loop's own arrays (W and the tail) are asked for here too, so that a region the memory
    // does not suffice for is refused before anything is built, as one allocation of all three would.
    auto work = tryAllocate<double>(static_cast<std::size_t>(m));
    auto response = tryAllocate<float>(static_cast<std::size_t>(m));
    auto tail = tryAllocate<double>(static_cast<std::size_t>(n));
    if (!work || !response || !tail) {
        showError(ui, kNoMemory);
        return false;
    }
    tail.reset();
    double* const W = work.get();
    float* const R = response.get();

    showProgress(ui, kBuildingResponse);
    double r = 1.0;
    if (source == ResponseSource::Reverb) {
        NoiseGenerator noise(context.noiseState ? *context.noiseState : kNoiseSeed);
        synthesizeReverbResponse(settings, W, static_cast<std::size_t>(n), noise);
        if (context.noiseState)
            *context.noiseState = noise.state();
        r = std::clamp(settings.reverbRatio(), 0, 100) / 100.0;
    } else {
        // The response fills the first half at most: the second is the room its tail reaches into.
        std::fill(W, W + m, 0.0);
        const std::vector<double>& values = fileResponse->values;
        const std::size_t count = std::min(values.size(), static_cast<std::size_t>(n));
        std::copy(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(count), W);
    }

    showProgress(ui, kTransformingResponse);
    fftForward(static_cast<std::size_t>(m), W);
    for (std::int64_t i = 0; i < m; ++i)
        R[i] = static_cast<float>(W[i]);
    plan.n = n;
    plan.response = std::move(response);
    plan.ratio = r;
    return true;
}

std::int64_t convolutionBlockCount(const EditRegion& region, const ConvolutionPlan& plan)
{
    const std::int64_t length = static_cast<std::int64_t>(region.end) - region.start + 1;
    return plan.n > 0 && length > 0 ? (length + plan.n - 1) / plan.n : 0;
}

namespace {

// W = the convolution of the block of `count` frames at q (read from source) with the response, as
// 2N values: the first N belong to the block's frames, the rest reach into the next block.
void convolveBlock(const SoundDocument& source, int channel, std::int64_t q, int count, const ConvolutionPlan& plan,
                   double* W)
{
    const std::int64_t n = plan.n;
    const std::int64_t m = 2 * n;
    const float* const R = plan.response.get();
    const double nd = static_cast<double>(n);
    edit_detail::loadSigned(source, channel, 1, q, count, W);
    for (int i = 0; i < count; ++i)
        W[i] = W[i] * kInputScale / nd;
    std::fill(W + count, W + m, 0.0);
    fftForward(static_cast<std::size_t>(m), W);
    W[0] *= R[0];
    W[n] *= R[n];
    for (std::int64_t i = 1; i < n; ++i) {
        const double p = W[i];
        const double qi = W[m - i];
        const double c = R[i];
        const double d = R[m - i];
        W[i] = p * c - d * qi;
        W[m - i] = qi * c + d * p;
    }
    fftInverse(static_cast<std::size_t>(m), W);
}

} // namespace

bool convolveBlocks(EditContext& context, const SoundDocument& source, const EditRegion& region,
                    const ConvolutionPlan& plan, std::int64_t firstBlock, std::int64_t endBlock,
                    PercentProgress* progress)
{
    SoundDocument& doc = context.document;
    const int channel = region.channel;
    const std::int64_t n = plan.n;
    const std::int64_t m = 2 * n;
    auto work = tryAllocate<double>(static_cast<std::size_t>(m));
    auto tail = tryAllocate<double>(static_cast<std::size_t>(n));
    if (!work || !tail)
        return false;
    double* const W = work.get();
    double* const T = tail.get();
    const double r = plan.ratio;

    const std::int64_t s = region.start;
    const std::int64_t e = region.end;
    const std::int64_t length = e - s + 1;
    std::fill(T, T + n, 0.0);
    if (firstBlock > 0) {
        convolveBlock(source, channel, s + (firstBlock - 1) * n, static_cast<int>(n), plan, W);
        std::copy(W + n, W + m, T);
    }
    const bool full = edit_detail::fullWeight(region);
    const Selection envelope = edit_detail::envelopeOf(region);
    for (std::int64_t k = firstBlock; k < endBlock; ++k) {
        const std::int64_t q = s + k * n;
        const int count = static_cast<int>(std::min(n, e - q + 1));
        if (context.control)
            context.control->beforeBlock(region, k);
        if (progress)
            progress->show(k * n, length);
        convolveBlock(source, channel, q, count, plan, W);
        // (k + 0.5) N is a whole number: N is even.
        if (progress)
            progress->show(k * n + n / 2, length);

        // The frames of this block, dry and wet mixed at each frame's weight.
        alignas(16) double values[edit_detail::kBlockFrames];
        for (int first = 0; first < count; first += edit_detail::kBlockFrames) {
            const int chunk = std::min(edit_detail::kBlockFrames, count - first);
            edit_detail::loadSigned(source, channel, 1, q + first, chunk, values);
            if (full) {
                const double dry = 1.0 - r;
                for (int i = 0; i < chunk; ++i)
                    values[i] = dry * values[i] + (W[first + i] + T[first + i]) * r;
            } else {
                for (int i = 0; i < chunk; ++i) {
                    const double a = alphaAt(envelope, q + first + i);
                    values[i] = (1.0 - a * r) * values[i] + (W[first + i] + T[first + i]) * a * r;
                }
            }
            if (context.control)
                edit_detail::storeNearestOwn(doc, channel, q + first, chunk, values);
            else
                edit_detail::storeNearest(doc, channel, 1, q + first, chunk, values);
        }
        std::copy(W + n, W + m, T);
        if (context.control)
            context.control->framesWritten(count);
    }
    return true;
}

void convolveRegion(EditContext& context, const EditRegion& region, ResponseSource source)
{
    Ui& ui = context.ui;
    SoundDocument& doc = context.document;
    ConvolutionPlan plan;
    if (!prepareConvolution(context, source, plan))
        return;
    const std::int64_t blocks = convolutionBlockCount(region, plan);
    const std::int64_t length = static_cast<std::int64_t>(region.end) - region.start + 1;
    PercentProgress progress(ui, kBlockPrefix, kBlockSuffix);
    if (!convolveBlocks(context, doc, region, plan, 0, blocks, &progress)) {
        showError(ui, kNoMemory);
        return;
    }
    // A region that is a whole number of blocks long ends with an empty block; it writes nothing.
    if (blocks * plan.n == length) {
        progress.show(blocks * plan.n, length);
        progress.show(blocks * plan.n + plan.n / 2, length);
    }
    noteSamplesChanged(doc, region.start, region.end);
    showProgress(ui, kDone);
}

void convolveFileRegion(EditContext& context, const EditRegion& region, int channelCount)
{
    for (int k = 0; k < std::max(channelCount, 1); ++k) {
        EditRegion one = region;
        one.channel = region.channel + k;
        convolveRegion(context, one, ResponseSource::File);
    }
}

} // namespace sonavik
