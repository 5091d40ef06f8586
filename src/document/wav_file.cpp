#include "document/wav_file.h"

#include "platform/os.h"
#include "platform/ui.h"

#include <climits>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace sonavik {

namespace {

constexpr const char* kCutHeader = "ヘッダが切れています";
constexpr const char* kNotWave = "Wave Format ではありません";
constexpr const char* kBadFormatSize = "Format Size が正しくありません";
constexpr const char* kUnsupported = "このフォーマットは正しくないか、サポートされていません";
constexpr const char* kAskRepair = "このフォーマットは最低限の\n情報しか正しくありません。\n残りの情報を訂正しますか？";
constexpr const char* kBadName = " はファイル名が不正です";
constexpr const char* kLoadFailed = " の読み込みに失敗しました";
constexpr const char* kNoMemoryCaption = "メモリ割り当て失敗";
constexpr const char* kReadFailedCaption = "データ読み込み失敗";
constexpr const char* kCannotSave = "は保存できません。\nファイルの属性を確認してください。";
constexpr const char* kSaveFailed = "の保存に失敗しました。";
constexpr const char* kFilterName = "wavﾌｧｲﾙ(*.wav)";
constexpr const char* kFilterPattern = "*.wav";

bool fail(Ui& ui, const char* text)
{
    showError(ui, text);
    return false;
}

void showCaptionedError(Ui& ui, const std::string& text, const char* caption)
{
    ui.messageBox({text, caption, MessageIcon::Error, MessageButtons::Ok, MessageOwner::MainWindow});
}

bool readInt32(std::FILE* file, std::int32_t& value)
{
    unsigned char b[4];
    if (std::fread(b, 1, 4, file) != 4)
        return false;
    std::uint32_t u = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    value = static_cast<std::int32_t>(u);
    return true;
}

// Bytes between the current position and the end of the file; -1 when the file has no size (a pipe).
long long bytesLeft(std::FILE* file)
{
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    long position = std::ftell(file);
    if (position < 0)
        return -1;
    return st.st_size > position ? static_cast<long long>(st.st_size) - position : 0;
}

// Skips a chunk body. A negative size, or one past the end of the file, means the header is cut: seeking
// there would either go backwards (and loop) or read nothing but fail later for a reason that is hidden.
bool skipChunkBody(std::FILE* file, std::int32_t size)
{
    if (size < 0)
        return false;
    long long left = bytesLeft(file);
    if (left >= 0 && size > left)
        return false;
    if (std::fseek(file, size, SEEK_CUR) != 0)
        return false;
    // Writers disagree on the pad byte after an odd chunk; a chunk id never starts with NUL, so a NUL here
    // can only be that pad.
    if (size % 2 != 0) {
        int next = std::fgetc(file);
        if (next != 0 && next != EOF)
            std::ungetc(next, file);
    }
    return true;
}

bool endsWithWav(const std::string& path)
{
    if (path.size() < 4)
        return false;
    const char* tail = path.c_str() + path.size() - 4;
    static constexpr char kExt[] = ".wav";
    for (int i = 0; i < 4; ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != kExt[i])
            return false;
    }
    return true;
}

} // namespace

void addWavExtension(std::string& path)
{
    if (!endsWithWav(path))
        path += ".wav";
}

FileDialogRequest wavFileDialog(const char* title, const std::string& initialDir, bool confirmOverwrite)
{
    return {title, initialDir, kFilterName, kFilterPattern, confirmOverwrite, {}, {}};
}

FormatCheck validateFormat(const WaveFormat& f)
{
    if (f.wFormatTag != 1)
        return FormatCheck::Unsupported;
    if (f.nChannels != 1 && f.nChannels != 2)
        return FormatCheck::Unsupported;
    if (f.nSamplesPerSec == 0)
        return FormatCheck::Unsupported;
    if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16)
        return FormatCheck::Unsupported;
    // The repaired bytes per second must fit their 32-bit field.
    if (static_cast<std::uint64_t>(f.nChannels * f.wBitsPerSample / 8) * f.nSamplesPerSec > UINT32_MAX)
        return FormatCheck::Unsupported;
    if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
        return FormatCheck::Repairable;
    if (static_cast<std::uint64_t>(f.nBlockAlign) * f.nSamplesPerSec != f.nAvgBytesPerSec)
        return FormatCheck::Repairable;
    return FormatCheck::Valid;
}

bool readWavHeader(Ui& ui, std::FILE* file, WaveFormat& format, std::int32_t& frameCount)
{
    const WavHeaderRefusal refusal = readWavHeaderQuietly(ui, file, format, frameCount);
    switch (refusal) {
    case WavHeaderRefusal::None:
        return true;
    case WavHeaderRefusal::NotWave:
        return fail(ui, kNotWave);
    case WavHeaderRefusal::Unsupported:
        return fail(ui, kUnsupported);
    case WavHeaderRefusal::Shown:
        return false;
    }
    return false;
}

WavHeaderRefusal readWavHeaderQuietly(Ui& ui, std::FILE* file, WaveFormat& format, std::int32_t& frameCount)
{
    auto refuse = [&](const char* text) {
        showError(ui, text);
        return WavHeaderRefusal::Shown;
    };
    unsigned char head[16];
    if (std::fread(head, 1, sizeof head, file) != sizeof head)
        return refuse(kCutHeader);
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return WavHeaderRefusal::NotWave;
    // Recorders put "bext", "JUNK" or "LIST" before the format; a data chunk before it, or a walk that
    // runs out of file, leaves a file that is no WAVE as this reader knows it.
    while (std::memcmp(head + 12, "fmt ", 4) != 0) {
        std::int32_t size = 0;
        if (std::memcmp(head + 12, "data", 4) == 0 || !readInt32(file, size) || !skipChunkBody(file, size)
            || std::fread(head + 12, 1, 4, file) != 4)
            return WavHeaderRefusal::NotWave;
    }

    std::int32_t formatSize = 0;
    if (!readInt32(file, formatSize))
        return refuse(kCutHeader);
    if (formatSize < static_cast<std::int32_t>(kFormatBlockSize))
        return refuse(kBadFormatSize);
    unsigned char block[kFormatBlockSize];
    if (std::fread(block, 1, sizeof block, file) != sizeof block)
        return refuse(kCutHeader);
    format = decodeFormatBlock(block);

    switch (validateFormat(format)) {
    case FormatCheck::Valid:
        break;
    case FormatCheck::Unsupported:
        return WavHeaderRefusal::Unsupported;
    case FormatCheck::Repairable:
        if (!askYesNo(ui, kAskRepair))
            return WavHeaderRefusal::Shown;
        format.nBlockAlign = static_cast<std::uint16_t>(format.nChannels * format.wBitsPerSample / 8);
        format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
        break;
    }

    if (!skipChunkBody(file, formatSize - static_cast<std::int32_t>(kFormatBlockSize)))
        return refuse(kCutHeader);

    // Every pass moves at least eight bytes forward, so the walk ends at the end of the file at the latest.
    for (;;) {
        char id[4];
        std::int32_t size = 0;
        if (std::fread(id, 1, 4, file) != 4 || !readInt32(file, size))
            return refuse(kCutHeader);
        if (std::memcmp(id, "data", 4) == 0) {
            if (size < 0)
                return refuse(kCutHeader);
            frameCount = size / format.nBlockAlign;
            return WavHeaderRefusal::None;
        }
        if (!skipChunkBody(file, size))
            return refuse(kCutHeader);
    }
}

bool hasFolder(const std::string& path) { return path.find(kDirSeparator) != std::string::npos; }

bool checkWavFileName(std::string& path, const std::string& defaultDir)
{
    if (!hasFolder(path))
        path = defaultDir + path;
    if (path.size() <= 3)
        return false;
    addWavExtension(path);
    return path.size() < kPathCapacity;
}

FileHandle openWavForReading(Ui& ui, std::string& path, const std::string& defaultDir)
{
    FileHandle file;
    if (checkWavFileName(path, defaultDir)) {
        // A folder or a device opens fine for reading but is no sound file, and a fifo would block.
        struct stat st {};
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            file.reset(std::fopen(path.c_str(), "rb"));
    }
    if (!file)
        showError(ui, path + kBadName);
    return file;
}

bool readWavDocument(Ui& ui, std::FILE* file, SoundDocument& doc)
{
    const std::string& path = doc.path;
    if (!readWavHeader(ui, file, doc.format, doc.frameCount)) {
        showError(ui, path + kLoadFailed);
        return false;
    }
    return readWavSamples(ui, file, doc);
}

void showLoadFailed(Ui& ui, const std::string& path) { showError(ui, path + kLoadFailed); }

void showWavRefusal(Ui& ui, WavHeaderRefusal refusal)
{
    if (refusal == WavHeaderRefusal::NotWave)
        showError(ui, kNotWave);
    else if (refusal == WavHeaderRefusal::Unsupported)
        showError(ui, kUnsupported);
}

bool readWavSamples(Ui& ui, std::FILE* file, SoundDocument& doc)
{
    const std::string& path = doc.path;
    // The declared size is only a claim: check it against the file before asking for that much memory.
    std::size_t size = doc.byteCount();
    long long left = bytesLeft(file);
    if (size == 0 || (left >= 0 && static_cast<unsigned long long>(left) < size)) {
        showCaptionedError(ui, path, kReadFailedCaption);
        return false;
    }
    if (memoryRoomFor(size))
        doc.samples = SampleBuffer::allocate(size);
    if (doc.samples.isNull()) {
        showCaptionedError(ui, path, kNoMemoryCaption);
        return false;
    }
    if (std::fread(doc.samples.data(), 1, size, file) != size) {
        doc.samples.reset();
        showCaptionedError(ui, path, kReadFailedCaption);
        return false;
    }
    return true;
}

namespace {

// Opens writer for path, or shows why it cannot: a path the reader would refuse is not written either.
} // namespace

bool openWavWriter(Ui& ui, SafeFileWriter& writer, const std::string& path)
{
    if (path.size() < kPathCapacity && writer.open())
        return true;
    showError(ui, path + kCannotSave);
    return false;
}

bool canWriteWavFile(Ui& ui, const std::string& path)
{
    SafeFileWriter writer(path);
    const bool can = openWavWriter(ui, writer, path);
    writer.discard();
    return can;
}

bool writeWavFile(Ui& ui, const SoundDocument& document, const std::string& path)
{
    SafeFileWriter writer(path);
    if (!openWavWriter(ui, writer, path))
        return false;

    std::size_t size = document.byteCount();
    // The reader takes chunk sizes as signed 32-bit values; a larger file could never be opened again.
    bool fits = size <= static_cast<std::size_t>(INT32_MAX) - 36 && document.samples.size() >= size;
    unsigned char block[kFormatBlockSize];
    encodeFormatBlock(document.format, block);
    auto dataSize = static_cast<std::uint32_t>(size);
    // The whole file's room first: overwritten in place, the old file must not be cut by a full disk.
    bool ok = fits && writer.reserve(44 + static_cast<std::uint64_t>(size)) && writer.write("RIFF", 4)
              && writer.writeU32(36 + dataSize) && writer.write("WAVEfmt ", 8) && writer.writeU32(kFormatBlockSize) && writer.write(block, sizeof block) && writer.write("data", 4)
              && writer.writeU32(dataSize) && (size == 0 || writer.write(document.samples.data(), size))
              && writer.commit();
    if (!ok) {
        writer.discard();
        showError(ui, path + kSaveFailed);
        return false;
    }
    return true;
}

} // namespace sonavik
