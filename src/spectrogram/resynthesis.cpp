#include "spectrogram/resynthesis.h"

#include "document/selection.h"
#include "document/sound_document.h"
#include "document/window_title.h"
#include "document/workspace.h"
#include "dsp/fft.h"
#include "edit/progress.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace sonavik {

namespace {

constexpr const char* kNoDestination = "適用先データがありません";
constexpr const char* kNoChannel = "適用先LRチャンネルが指定されていません";
constexpr const char* kNoRight = "適用先データ(right)がありません";
constexpr const char* kBadStart = "適用先の開始位置が不正です。";
constexpr const char* kTooShort = "適用先データの長さが足りません。";
constexpr const char* kBadFormat = "データの形式が異常です";
constexpr const char* kBadSpectrogram = "スペクトルが異常です（バグ）";
constexpr const char* kBusy = "再生／録音中は、ファイルを編集できません";

bool validSpectrogram(const Spectrogram& s)
{
    const std::int32_t n = s.fftSize;
    return n >= 16 && (n & (n - 1)) == 0 && s.spectrumCount >= 1
           && s.spectra.size() >= static_cast<std::size_t>(s.spectrumCount) * static_cast<std::size_t>(n);
}

// Samples of one channel read and written as signed values in place.
struct ChannelSamples {
    unsigned char* bytes;
    std::size_t stride;  // samples per frame
    std::size_t channel;
    bool eightBit;

    double at(std::int64_t frame) const
    {
        const std::size_t i = static_cast<std::size_t>(frame) * stride + channel;
        if (eightBit)
            return static_cast<double>(static_cast<int>(bytes[i]) - 128);
        std::int16_t v;
        std::memcpy(&v, bytes + 2 * i, 2);
        return v;
    }

    // Truncated toward zero and limited to the sample range; a value that is not a number is silence.
    void store(std::int64_t frame, double v) const
    {
        const std::size_t i = static_cast<std::size_t>(frame) * stride + channel;
        const double lo = eightBit ? -128.0 : -32768.0;
        const double hi = eightBit ? 127.0 : 32767.0;
        const double t = v >= hi ? hi : v <= lo ? lo : v == v ? std::trunc(v) : 0.0;
        const int value = static_cast<int>(t);
        if (eightBit) {
            bytes[i] = static_cast<unsigned char>(value + 128);
        } else {
            const auto s = static_cast<std::int16_t>(value);
            std::memcpy(bytes + 2 * i, &s, 2);
        }
    }
};

// The application degree of positions first ... first + count - 1 of a channel.
void fillApplyAlpha(const Settings& settings, const SelectionTable& table, std::int64_t first, std::size_t count,
                    double* alpha)
{
    if (settings.applyUseAlpha == 0) {
        std::fill(alpha, alpha + count, 1.0);
        return;
    }
    std::fill(alpha, alpha + count, settings.applyTreatMissingAlphaAsFull != 0 ? 1.0 : 0.0);
    const std::int64_t last = first + static_cast<std::int64_t>(count) - 1;
    for (const Selection& slot : table) {
        if (slot.kind == SelectionKind::None)
            continue;
        const std::int64_t lo = std::max<std::int64_t>(slot.start, first);
        const std::int64_t hi = std::min<std::int64_t>(slot.end, last);
        const bool chosen = slot.kind == SelectionKind::Blue ? settings.applyBlue != 0 : settings.applyGreen != 0;
        for (std::int64_t p = lo; p <= hi; ++p)
            alpha[p - first] = chosen ? alphaAt(slot, p) : 0.0;
    }
}

} // namespace

void presetApplyOptions(Settings& settings, const Spectrogram& s)
{
    settings.applyNewPosition = 0;
    settings.applyTreatMissingAlphaAsFull = 0;
    settings.applyStart = s.firstSample;
    settings.applyLeft = s.channel == 1 ? 0 : 1;
    settings.applyRight = s.channel == 1 ? 1 : 0;
}

void openApplyDialog(Settings& settings, bool mono)
{
    if (settings.applyUseAlpha == 0) {
        settings.applyGreen = 0;
        settings.applyBlue = 0;
    } else if (settings.applyGreen == 0 && settings.applyBlue == 0) {
        settings.applyBlue = 1;
    }
    if (settings.applyLeft == 0 && settings.applyRight == 0)
        settings.applyLeft = 1;
    if (mono) {
        settings.applyLeft = 1;
        settings.applyRight = 0;
    }
    settings.applyNewPosition = settings.applyNewPosition != 0 ? 1 : 0;
}

ApplyDialogEnables applyDialogEnables(const Settings& settings, bool mono)
{
    return {settings.applyUseAlpha == 1, !mono, settings.applyNewPosition != 0};
}

void setApplyUseAlpha(Settings& settings, bool on)
{
    settings.applyUseAlpha = on ? 1 : 0;
    if (!on) {
        settings.applyBlue = 0;
        settings.applyGreen = 0;
        settings.applyTreatMissingAlphaAsFull = 1;
        return;
    }
    // Blue is chosen when neither colour was, and green is turned off: blue alone, as every reachable
    // state gives (alpha off always comes with neither colour).
    settings.applyBlue = 1;
    settings.applyGreen = 0;
}

void setApplyGreen(Settings& settings, bool on)
{
    settings.applyGreen = on ? 1 : 0;
    if (settings.applyGreen == 0 && settings.applyBlue == 0)
        settings.applyBlue = 1;
}

void setApplyBlue(Settings& settings, bool on)
{
    settings.applyBlue = on ? 1 : 0;
    if (settings.applyGreen == 0 && settings.applyBlue == 0)
        settings.applyGreen = 1;
}

void setApplyLeft(Settings& settings, bool on)
{
    settings.applyLeft = on ? 1 : 0;
    if (settings.applyLeft == 0 && settings.applyRight == 0)
        settings.applyRight = 1;
}

void setApplyRight(Settings& settings, bool on)
{
    settings.applyRight = on ? 1 : 0;
    if (settings.applyLeft == 0 && settings.applyRight == 0)
        settings.applyLeft = 1;
}

void setApplyMissingAlphaAsFull(Settings& settings, bool on) { settings.applyTreatMissingAlphaAsFull = on ? 1 : 0; }

void setApplyNewPosition(Settings& settings, bool on) { settings.applyNewPosition = on ? 1 : 0; }

std::optional<std::int32_t> parseApplyStart(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-'))
            return std::nullopt;
    }
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

bool acceptApplyDialog(Ui& ui, Settings& settings, std::string_view startText)
{
    if (settings.applyNewPosition == 0)
        return true;
    const std::optional<std::int32_t> start = parseApplyStart(startText);
    if (!start) {
        showError(ui, kBadApplyStart);
        return false;
    }
    settings.applyStart = *start;
    return true;
}

int resynthesizeSpectrogram(Workspace& ws, Ui& ui, const Spectrogram& s)
{
    SoundDocument& doc = ws.document;
    const Settings& settings = ws.settings;
    if (!doc.hasData()) {
        showError(ui, kNoDestination);
        return 0;
    }
    if (settings.applyLeft == 0 && settings.applyRight == 0) {
        showError(ui, kNoChannel);
        return 0;
    }
    const int channels = doc.format.nChannels;
    if (channels == 1 && settings.applyRight != 0) {
        showError(ui, kNoRight);
        return 0;
    }
    const std::int64_t start = settings.applyNewPosition != 0 ? settings.applyStart : s.firstSample;
    if (start < 0) {
        showError(ui, kBadStart);
        return 0;
    }
    if (!validSpectrogram(s)) {
        showError(ui, kBadSpectrogram);
        return 0;
    }
    const std::int64_t h = s.fftSize / 2;
    const std::int64_t frames = s.spectrumCount;
    if (doc.frameCount < start + (frames + 1) * h) {
        showError(ui, kTooShort);
        return 0;
    }
    const int bits = doc.format.wBitsPerSample;
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16) || doc.samples.size() < doc.byteCount()
        || doc.format.nBlockAlign != channels * (bits / 8)) {
        showError(ui, kBadFormat);
        return 0;
    }

    const std::size_t n = static_cast<std::size_t>(s.fftSize);
    const std::size_t half = static_cast<std::size_t>(h);
    std::vector<double> fade, tail, alpha, frame, weights;
    try {
        fade.resize(half);
        tail.resize(half);
        alpha.resize(half);
        frame.resize(n);
        if (s.windowType >= kFftWindowHanning && s.windowType <= kFftWindowBlackman)
            weights.resize(n);
    } catch (const std::bad_alloc&) {
        ui.beep(BeepKind::Error);
        return 0;
    }
    const double pi = 3.141592653589793;
    for (std::size_t k = 0; k < half; ++k)
        fade[k] = (std::cos(pi * static_cast<double>(k) / static_cast<double>(half - 1)) + 1.0) * 0.5;
    for (std::size_t k = 0; k < weights.size(); ++k)
        weights[k] = fftWindowWeight(s.windowType, k, n);
    const double scale = static_cast<double>(h);

    int written = 0;
    for (int c = 0; c < 2; ++c) {
        if ((c == 0 ? settings.applyLeft : settings.applyRight) == 0)
            continue;
        const ChannelSamples samples{doc.samples.data(), static_cast<std::size_t>(channels),
                                     static_cast<std::size_t>(c), bits == 8};
        const SelectionTable& table = selectionTable(doc, c);
        PercentProgress progress(ui, c == 0 ? "処理中： 左スペクトルを 逆FFT 中 " : "処理中： 右スペクトルを 逆FFT 中 ", " ％");
        for (std::size_t k = 0; k < half; ++k)
            tail[k] = samples.at(start + static_cast<std::int64_t>(k));
        for (std::int64_t u = 0; u < frames; ++u) {
            const std::int64_t base = start + u * h;
            fillApplyAlpha(settings, table, base, half, alpha.data());
            const float* spectrum = s.spectra.data() + static_cast<std::size_t>(u) * n;
            for (std::size_t k = 0; k < n; ++k)
                frame[k] = spectrum[k] / scale;
            fftInverse(n, frame.data());
            progress.show(u, frames);
            for (std::size_t k = 0; k < weights.size(); ++k)
                frame[k] /= weights[k];
            for (std::size_t k = 0; k < half; ++k) {
                const std::int64_t p = base + static_cast<std::int64_t>(k);
                const double old = samples.at(p);
                samples.store(p, ((1.0 - fade[k]) * frame[k] + fade[k] * tail[k]) * alpha[k] + (1.0 - alpha[k]) * old);
            }
            std::copy(frame.begin() + static_cast<std::ptrdiff_t>(half), frame.end(), tail.begin());
        }
        // The last frame's second half fades out into the sound that is there.
        const std::int64_t base = start + frames * h;
        fillApplyAlpha(settings, table, base, half, alpha.data());
        for (std::size_t k = 0; k < half; ++k) {
            const std::int64_t p = base + static_cast<std::int64_t>(k);
            const double old = samples.at(p);
            samples.store(p, ((1.0 - fade[k]) * old + fade[k] * tail[k]) * alpha[k] + (1.0 - alpha[k]) * old);
        }
        written |= c == 0 ? kWroteLeft : kWroteRight;
    }
    noteSamplesChanged(doc, start, start + (frames + 1) * h - 1);
    return written;
}

int runResynthesis(Workspace& ws, Ui& ui, const Spectrogram& s, const std::function<bool()>& askOptions)
{
    if (ws.busy()) {
        showNotice(ui, kBusy);
        return 0;
    }
    presetApplyOptions(ws.settings, s);
    if (askOptions && !askOptions())
        return 0;
    int written = 0;
    // Without an undo copy the sound is not touched (the snapshot has beeped); it is still marked
    // modified, as after a refused resynthesis.
    if (snapshotForEdit(ws.document, ws.undoStore, ui) || !ws.document.hasData())
        written = resynthesizeSpectrogram(ws, ui, s);
    markModified(ws, ui);
    return written;
}

} // namespace sonavik
