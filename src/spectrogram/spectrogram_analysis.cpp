#include "spectrogram/spectrogram_analysis.h"

#include "document/selection.h"
#include "document/sound_document.h"
#include "document/workspace.h"
#include "dsp/fft.h"
#include "edit/edit_dispatcher.h"
#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

namespace sonavik {

namespace {

constexpr const char* kNoData = "No data!";
constexpr const char* kZeroData = "zero data!";
constexpr const char* kBadRegion = "選択領域が不正です";
constexpr const char* kNotEnough = "Not Enough!";
constexpr const char* kNoMemory = "Mem Not Allo!";

// Frames coloured together: their spectra (16 x n floats) stay in cache while their pixels are written
// row by row.
constexpr std::int32_t kColourBlock = 16;

// Truncated toward zero and limited to 0 ... 255; a value that is not a finite number gives 0.
inline unsigned char colourByte(double x)
{
    if (x < 255.0)
        return x > 0.0 ? static_cast<unsigned char>(static_cast<int>(x)) : 0;
    return x <= std::numeric_limits<double>::max() ? 255 : 0;
}

struct ColourConstants {
    double linear;   // kL
    double logScale; // kG
    double logShift; // D
};

ColourConstants colourConstants(const Spectrogram& s, const ColourFactors& f)
{
    const double ln2 = std::log(2.0);
    ColourConstants c;
    c.linear = 0.005 * s.gain * s.amplitudeScale;
    c.logScale = 1275.0 / (ln2 * 100.0 * f.green);
    // The bracket holds 12 ln 2, not 12: the picture's brightness depends on it.
    c.logShift = 2.0 * std::log(s.amplitudeScale) - 2.0 * ln2 * (12.0 * ln2 - std::log(s.gain) / ln2);
    return c;
}

// Colours frames [j0, j1) into the bitmap.
void colourFrames(Spectrogram& s, const ColourFactors& f, const ColourConstants& c, std::int32_t j0, std::int32_t j1)
{
    const std::size_t n = static_cast<std::size_t>(s.fftSize);
    const std::size_t stride = s.bitmapStride();
    const std::int32_t bins = s.binCount;
    const bool logDisplay = s.logDisplay != 0;
    const float* spectra = s.spectra.data();
    for (std::int32_t b = 0; b < bins; ++b) {
        unsigned char* row = s.colourBitmap.data() + stride * static_cast<std::size_t>(b) + 3 * static_cast<std::size_t>(j0);
        const bool real = b == 0 || b == bins - 1;
        const std::size_t imIndex = n - static_cast<std::size_t>(b);
        for (std::int32_t j = j0; j < j1; ++j, row += 3) {
            const float* frame = spectra + static_cast<std::size_t>(j) * n;
            const double re = frame[b];
            const double im = real ? 0.0 : static_cast<double>(frame[imIndex]);
            const double power = re * re + im * im;
            const double v = logDisplay ? c.logScale * (std::log(power) + c.logShift) : c.linear * std::sqrt(power);
            row[0] = colourByte(f.blue * v);
            row[1] = colourByte(f.green * v);
            row[2] = colourByte(f.red * v);
        }
    }
}

bool readyToColour(const Spectrogram& s)
{
    if (s.spectrumCount <= 0 || s.binCount <= 0 || s.fftSize < 2 || s.binCount != s.fftSize / 2 + 1)
        return false;
    const std::size_t frames = static_cast<std::size_t>(s.spectrumCount);
    return !s.colourBitmap.empty() && s.colourBitmap.size() >= s.bitmapStride() * static_cast<std::size_t>(s.binCount)
           && s.spectra.size() >= frames * static_cast<std::size_t>(s.fftSize);
}

std::int32_t floorLog2Rounded(double n)
{
    return static_cast<std::int32_t>(std::floor(std::log10(n) / std::log10(2.0) + 0.5));
}

// The signed sample of a channel at a frame (8-bit bytes less 128).
struct SampleReader {
    const unsigned char* bytes;
    int channels;
    int channel;
    bool eightBit;

    void load(std::int64_t firstFrame, std::size_t count, double* out) const
    {
        const std::size_t stride = static_cast<std::size_t>(channels);
        std::size_t index = static_cast<std::size_t>(firstFrame) * stride + static_cast<std::size_t>(channel);
        if (eightBit) {
            for (std::size_t k = 0; k < count; ++k, index += stride)
                out[k] = static_cast<double>(static_cast<int>(bytes[index]) - 128);
        } else {
            for (std::size_t k = 0; k < count; ++k, index += stride) {
                std::int16_t v;
                std::memcpy(&v, bytes + 2 * index, 2);
                out[k] = v;
            }
        }
    }
};

} // namespace

std::int32_t normalisedFftLength(std::int32_t stored)
{
    const std::int32_t n = std::clamp(stored, kMinFftLength, kMaxFftLength);
    if ((n & (n - 1)) == 0)
        return n;
    const std::int32_t k = std::clamp(floorLog2Rounded(n), 4, 30);
    return std::int32_t{1} << k;
}

std::int32_t normalisedFftWindow(std::int32_t stored) { return stored >= 0 && stored <= 4 ? stored : 0; }

void normaliseFftSettings(Settings& settings)
{
    settings.fftLength = normalisedFftLength(settings.fftLength);
    settings.fftWindow = normalisedFftWindow(settings.fftWindow);
}

int fftLengthExponent(std::int32_t length)
{
    int k = 0;
    while (k < 30 && (std::int32_t{1} << (k + 1)) <= length)
        ++k;
    return k;
}

std::string fftSettingsText(std::int32_t length, std::uint32_t rate)
{
    char text[128];
    std::snprintf(text, sizeof text, "%d %.4lf sec %.4lf Hz", length, static_cast<double>(length) / rate,
                  static_cast<double>(rate) / length);
    return text;
}

ColourFactors colourFactorsOf(const Settings& settings)
{
    return {settings.spectrogramBlue, settings.spectrogramGreen, settings.spectrogramRed};
}

void colourSpectrogram(Spectrogram& s, const ColourFactors& factors)
{
    if (!readyToColour(s))
        return;
    const ColourConstants c = colourConstants(s, factors);
    for (std::int32_t j0 = 0; j0 < s.spectrumCount; j0 += kColourBlock)
        colourFrames(s, factors, c, j0, std::min(s.spectrumCount, j0 + kColourBlock));
}

void colourSpectrogram(Ui& ui, Spectrogram& s, const Settings& settings)
{
    if (!readyToColour(s))
        return;
    ui.setCursor(CursorKind::Wait);
    colourSpectrogram(s, colourFactorsOf(settings));
    ui.setCursor(CursorKind::Arrow);
}

std::unique_ptr<Spectrogram> analyseSpectrogram(Ui& ui, const SoundDocument& doc, const EditRegion& region,
                                                const Settings& settings)
{
    if (!doc.hasData()) {
        showError(ui, kNoData);
        return nullptr;
    }
    if (doc.frameCount <= 0) {
        showError(ui, kZeroData);
        return nullptr;
    }
    const int channels = doc.format.nChannels;
    const int bits = doc.format.wBitsPerSample;
    const bool formatOk = (channels == 1 || channels == 2) && (bits == 8 || bits == 16)
                          && doc.samples.size() >= static_cast<std::size_t>(doc.frameCount) * channels * (bits / 8);
    if (!formatOk || region.channel < 0 || region.channel >= channels || region.start < 0 || region.end < region.start
        || region.end >= doc.frameCount) {
        showError(ui, kBadRegion);
        return nullptr;
    }
    const std::int32_t n = normalisedFftLength(settings.fftLength);
    const std::int64_t length = static_cast<std::int64_t>(region.end) - region.start + 1;
    if (length < n) {
        showError(ui, kNotEnough);
        return nullptr;
    }
    const std::int32_t h = n / 2;
    const auto frames = static_cast<std::int32_t>(length / h - 1);
    const std::int32_t bins = h + 1;

    // An hour of sound at a large n asks for gigabytes: refuse before asking rather than let the
    // system run out while the spectra are filled.
    const std::size_t spectraCount = static_cast<std::size_t>(frames) * static_cast<std::size_t>(n);
    const std::size_t bitmapSize = Spectrogram::bitmapStrideOf(frames) * static_cast<std::size_t>(bins);
    const double needed = 4.0 * static_cast<double>(spectraCount) + static_cast<double>(bitmapSize)
                          + 16.0 * static_cast<double>(n);
    const std::uint64_t available = availableMemoryBytes();
    auto result = std::unique_ptr<Spectrogram>(new (std::nothrow) Spectrogram);
    std::vector<double> work, weights;
    if (!result || (available > 0 && needed > static_cast<double>(available))) {
        showError(ui, kNoMemory);
        return nullptr;
    }
    try {
        work.resize(static_cast<std::size_t>(n));
        result->spectra.resize(spectraCount);
        result->colourBitmap.resize(bitmapSize);
    } catch (const std::bad_alloc&) {
        showError(ui, kNoMemory);
        return nullptr;
    }

    Spectrogram& s = *result;
    s.spectrumCount = frames;
    s.binCount = bins;
    s.amplitudeScale = bits == 8 ? 256.0 : 1.0;
    s.sampleRate = doc.format.nSamplesPerSec;
    s.fftSize = n;
    s.firstSample = region.start;
    s.lastSample = region.end;
    s.channel = region.channel;
    s.windowType = normalisedFftWindow(settings.fftWindow);
    s.selectionNumber = region.selectionNumber;

    // The weights are the same for every frame: worked out once.
    const bool windowed = s.windowType >= kFftWindowHanning && s.windowType <= kFftWindowBlackman;
    if (windowed) {
        try {
            weights.resize(static_cast<std::size_t>(n));
        } catch (const std::bad_alloc&) {
            showError(ui, kNoMemory);
            return nullptr;
        }
        for (std::int32_t k = 0; k < n; ++k)
            weights[k] = fftWindowWeight(s.windowType, static_cast<std::size_t>(k), static_cast<std::size_t>(n));
    }
    const Selection envelope{SelectionKind::Blue, region.start, region.end, region.alphaStart,
                             region.alphaEnd,     region.shape, region.shapeParameter};
    const bool fullWeight = region.shape == SelectionShape::Linear && region.alphaStart == 1.0 && region.alphaEnd == 1.0;
    const bool weighAlpha = settings.fftApplyAlpha == 1 && !fullWeight;

    const SampleReader reader{doc.samples.data(), channels, region.channel, bits == 8};
    const ColourFactors factors = colourFactorsOf(settings);
    const ColourConstants constants = colourConstants(s, factors);
    double* x = work.data();
    ui.setCursor(CursorKind::Wait);
    for (std::int32_t j0 = 0; j0 < frames; j0 += kColourBlock) {
        const std::int32_t j1 = std::min(frames, j0 + kColourBlock);
        for (std::int32_t j = j0; j < j1; ++j) {
            const std::int64_t first = static_cast<std::int64_t>(region.start) + static_cast<std::int64_t>(j) * h;
            reader.load(first, static_cast<std::size_t>(n), x);
            if (windowed)
                for (std::int32_t k = 0; k < n; ++k)
                    x[k] *= weights[k];
            if (weighAlpha)
                for (std::int32_t k = 0; k < n; ++k)
                    x[k] *= alphaAt(envelope, first + k);
            fftForward(static_cast<std::size_t>(n), x);
            float* out = s.spectra.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(n);
            for (std::int32_t k = 0; k < n; ++k)
                out[k] = static_cast<float>(x[k]);
        }
        colourFrames(s, factors, constants, j0, j1);
    }
    ui.setCursor(CursorKind::Arrow);
    return result;
}

std::string spectrogramTitle(const Spectrogram& s)
{
    const char* side = s.channel == 1 ? "R" : "L";
    const long long first = s.firstSample;
    const long long last = first + (static_cast<long long>(s.spectrumCount) + 1) * s.hop() - 1;
    char text[256];
    if (s.selectionNumber >= 0)
        std::snprintf(text, sizeof text, "[ %s %d ] %lld ～ %lld ＝ ( %d ÷ 2 ) × ( %d ＋ 1 )", side,
                      s.selectionNumber + 1, first, last, s.fftSize, s.spectrumCount);
    else
        std::snprintf(text, sizeof text, "[ %s ] %lld ～ %lld ＝ ( %d ÷ 2 ) × ( %d ＋ 1 )", side, first, last,
                      s.fftSize, s.spectrumCount);
    return text;
}

bool analyseForWindow(Workspace& ws, Ui& ui, const EditRegion& region, const SpectrogramOpener& open)
{
    std::unique_ptr<Spectrogram> s = analyseSpectrogram(ui, ws.document, region, ws.settings);
    if (!s)
        return false;
    const std::string title = spectrogramTitle(*s);
    if (open)
        open(std::move(s), title);
    return true;
}

} // namespace sonavik
