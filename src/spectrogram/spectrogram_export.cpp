#include "spectrogram/spectrogram_export.h"

#include "platform/os.h"
#include "platform/ui.h"
#include "settings/settings.h"

#include <cctype>
#include <cstdint>
#include <limits>
#include <optional>

namespace sonavik {

namespace {

constexpr const char* kCannotOpen = "保存できません";
constexpr const char* kWriteFailed = "保存失敗";
constexpr const char* kTooLarge = "画像が 4 GB を超えるため保存できません";
constexpr const char* kSaveTitle = "名前を付けて保存";
constexpr const char* kNoBitmap = "No bmp";
constexpr const char* kNoSpectra = "No Data";

void putU16(unsigned char* at, std::uint32_t v)
{
    at[0] = static_cast<unsigned char>(v);
    at[1] = static_cast<unsigned char>(v >> 8);
}

void putU32(unsigned char* at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint64_t bitmapPixelBytes(const Spectrogram& s)
{
    return static_cast<std::uint64_t>(s.bitmapStride()) * static_cast<std::uint64_t>(s.binCount > 0 ? s.binCount : 0);
}

bool hasBitmap(const Spectrogram& s)
{
    return s.spectrumCount > 0 && s.binCount > 0 && !s.colourBitmap.empty() && s.colourBitmap.size() >= bitmapPixelBytes(s);
}

std::uint64_t spectraBytes(const Spectrogram& s)
{
    return 4 * static_cast<std::uint64_t>(s.spectrumCount > 0 ? s.spectrumCount : 0)
           * static_cast<std::uint64_t>(s.fftSize > 0 ? s.fftSize : 0);
}

bool hasSpectra(const Spectrogram& s)
{
    return s.spectrumCount > 0 && s.fftSize > 0 && !s.spectra.empty() && 4 * s.spectra.size() >= spectraBytes(s);
}

// Writes header and body as two blocks through a temporary file.
bool writeBlocks(Ui& ui, const std::string& path, const void* header, std::size_t headerSize, const void* body,
                 std::size_t bodySize)
{
    SafeFileWriter writer(path);
    if (!writer.open()) {
        showError(ui, kCannotOpen);
        return false;
    }
    if (!writer.reserve(static_cast<std::uint64_t>(headerSize) + bodySize) || !writer.write(header, headerSize)
        || !writer.write(body, bodySize) || !writer.commit()) {
        writer.discard();
        showError(ui, kWriteFailed);
        return false;
    }
    return true;
}

std::optional<std::string> askSaveName(Ui& ui, const Settings& settings, const char* filterName, const char* pattern)
{
    FileDialogRequest request;
    request.title = kSaveTitle;
    request.initialDir = fieldText(settings.saveDir);
    request.filterName = filterName;
    request.filterPattern = pattern;
    request.confirmOverwrite = true;
    return ui.saveFileName(request);
}

// The chosen folder, with its separator, becomes the next save dialog's start.
void rememberSaveDir(Settings& settings, const std::string& path)
{
    const std::size_t slash = path.rfind(kDirSeparator);
    if (slash != std::string::npos && slash > 0)
        setFieldText(settings.saveDir, path.substr(0, slash + 1));
}

} // namespace

std::array<unsigned char, kBitmapHeaderSize> bitmapFileHeader(std::int32_t width, std::int32_t height)
{
    std::array<unsigned char, kBitmapHeaderSize> h{};
    const std::uint64_t pixels = static_cast<std::uint64_t>(Spectrogram::bitmapStrideOf(width))
                                 * static_cast<std::uint64_t>(height > 0 ? height : 0);
    h[0] = 'B';
    h[1] = 'M';
    putU32(&h[2], static_cast<std::uint32_t>(kBitmapHeaderSize + pixels));
    putU32(&h[10], kBitmapHeaderSize);
    putU32(&h[14], 40);
    putU32(&h[18], static_cast<std::uint32_t>(width));
    putU32(&h[22], static_cast<std::uint32_t>(height));
    putU16(&h[26], 1);
    putU16(&h[28], 24);
    putU32(&h[38], 100);
    putU32(&h[42], 100);
    return h;
}

std::array<unsigned char, kSpectraHeaderSize> spectraFileHeader(std::int32_t fftSize, std::int32_t frames)
{
    std::array<unsigned char, kSpectraHeaderSize> h{};
    putU32(&h[0], static_cast<std::uint32_t>(fftSize));
    putU32(&h[4], static_cast<std::uint32_t>(frames));
    return h;
}

std::string withSaveExtension(const std::string& path, const std::string& extension)
{
    const std::size_t e = extension.size();
    bool has = path.size() >= e;
    for (std::size_t i = 0; has && i < e; ++i)
        has = std::tolower(static_cast<unsigned char>(path[path.size() - e + i]))
              == std::tolower(static_cast<unsigned char>(extension[i]));
    return has ? path : path + extension;
}

bool writeSpectrogramBitmap(Ui& ui, const Spectrogram& s, const std::string& path)
{
    if (!hasBitmap(s)) {
        showNotice(ui, kNoBitmap);
        return false;
    }
    const std::uint64_t pixels = bitmapPixelBytes(s);
    if (pixels > std::numeric_limits<std::uint32_t>::max() - kBitmapHeaderSize) {
        showError(ui, kTooLarge);
        return false;
    }
    const auto header = bitmapFileHeader(s.spectrumCount, s.binCount);
    return writeBlocks(ui, path, header.data(), header.size(), s.colourBitmap.data(), static_cast<std::size_t>(pixels));
}

bool writeSpectrogramSpectra(Ui& ui, const Spectrogram& s, const std::string& path)
{
    static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559, "spectra files hold IEEE singles");
    if (!hasSpectra(s)) {
        showNotice(ui, kNoSpectra);
        return false;
    }
    const auto header = spectraFileHeader(s.fftSize, s.spectrumCount);
    return writeBlocks(ui, path, header.data(), header.size(), s.spectra.data(),
                       static_cast<std::size_t>(spectraBytes(s)));
}

bool saveSpectrogramBitmap(Ui& ui, Settings& settings, const Spectrogram& s)
{
    if (!hasBitmap(s)) {
        showNotice(ui, kNoBitmap);
        return false;
    }
    const std::optional<std::string> answer = askSaveName(ui, settings, "bmpﾌｧｲﾙ(*.bmp)", "*.bmp");
    if (!answer)
        return false;
    const std::string path = withSaveExtension(*answer, ".bmp");
    if (!writeSpectrogramBitmap(ui, s, path))
        return false;
    rememberSaveDir(settings, path);
    return true;
}

bool saveSpectrogramSpectra(Ui& ui, Settings& settings, const Spectrogram& s)
{
    if (!hasSpectra(s)) {
        showNotice(ui, kNoSpectra);
        return false;
    }
    const std::optional<std::string> answer = askSaveName(ui, settings, "fftﾌｧｲﾙ(*.fft)", "*.fft");
    if (!answer)
        return false;
    const std::string path = withSaveExtension(*answer, ".fft");
    if (!writeSpectrogramSpectra(ui, s, path))
        return false;
    rememberSaveDir(settings, path);
    return true;
}

} // namespace sonavik
