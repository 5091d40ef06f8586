#include "formats/sound_export.h"

#include "document/sound_document.h"
#include "document/wav_file.h"
#include "platform/os.h"
#include "platform/ui.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

namespace sonavik {

namespace {

constexpr const char* kSaveFailed = "の保存に失敗しました。";

// The encoded file, gathered in memory so that the safe writer can reserve its room and write it in one
// go: the encoders seek back to finish their headers, which a file renamed into place cannot offer.
class MemoryFile {
public:
    static constexpr std::size_t kPiece = std::size_t{1} << 20;

    sf_count_t length() const { return static_cast<sf_count_t>(length_); }
    sf_count_t tell() const { return static_cast<sf_count_t>(position_); }
    sf_count_t seek(sf_count_t offset, int whence)
    {
        const sf_count_t base = whence == SEEK_CUR ? tell() : whence == SEEK_END ? length() : 0;
        if (base + offset < 0)
            return -1;
        position_ = static_cast<std::size_t>(base + offset);
        return tell();
    }
    sf_count_t read(void* out, sf_count_t count)
    {
        const std::size_t n = position_ >= length_ ? 0 : std::min<std::size_t>(count, length_ - position_);
        copy(static_cast<unsigned char*>(out), n, false);
        return static_cast<sf_count_t>(n);
    }
    sf_count_t write(const void* in, sf_count_t count)
    {
        const std::size_t end = position_ + static_cast<std::size_t>(count);
        while (pieces_.size() * kPiece < end) {
            std::unique_ptr<unsigned char[]> piece(new (std::nothrow) unsigned char[kPiece]);
            if (!piece) {
                failed_ = true;
                return 0;
            }
            pieces_.push_back(std::move(piece));
        }
        // A seek past the end leaves a gap that reads back as zeros.
        if (position_ > length_)
            zero(length_, position_ - length_);
        copy(static_cast<unsigned char*>(const_cast<void*>(in)), static_cast<std::size_t>(count), true);
        length_ = std::max(length_, end);
        return count;
    }
    bool failed() const { return failed_; }
    // Hands every byte in order to sink(pointer, size).
    template <typename Sink>
    bool forEach(Sink sink) const
    {
        for (std::size_t at = 0; at < length_; at += kPiece)
            if (!sink(pieces_[at / kPiece].get(), std::min(kPiece, length_ - at)))
                return false;
        return true;
    }

private:
    void copy(unsigned char* data, std::size_t n, bool toFile)
    {
        while (n > 0) {
            unsigned char* piece = pieces_[position_ / kPiece].get() + position_ % kPiece;
            const std::size_t run = std::min(n, kPiece - position_ % kPiece);
            toFile ? std::memcpy(piece, data, run) : std::memcpy(data, piece, run);
            position_ += run;
            data += run;
            n -= run;
        }
    }
    void zero(std::size_t from, std::size_t n)
    {
        for (std::size_t at = from; at < from + n; ++at)
            pieces_[at / kPiece][at % kPiece] = 0;
    }

    std::vector<std::unique_ptr<unsigned char[]>> pieces_;
    std::size_t length_ = 0;
    std::size_t position_ = 0;
    bool failed_ = false;
};

SF_VIRTUAL_IO memoryIo()
{
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* me) { return static_cast<MemoryFile*>(me)->length(); };
    io.seek = [](sf_count_t offset, int whence, void* me) { return static_cast<MemoryFile*>(me)->seek(offset, whence); };
    io.read = [](void* out, sf_count_t count, void* me) { return static_cast<MemoryFile*>(me)->read(out, count); };
    io.write = [](const void* in, sf_count_t count, void* me) { return static_cast<MemoryFile*>(me)->write(in, count); };
    io.tell = [](void* me) { return static_cast<MemoryFile*>(me)->tell(); };
    return io;
}

int formatOf(SaveKind kind, int bits)
{
    switch (kind) {
    case SaveKind::Flac:
        return SF_FORMAT_FLAC | (bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    case SaveKind::OggVorbis:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case SaveKind::Mp3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    case SaveKind::Wav:
        break;
    }
    return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
}

// Encodes the document into file; false when the encoder refuses or fails.
bool encode(const SoundDocument& doc, SaveKind kind, int quality, MemoryFile& file)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(doc.format.nSamplesPerSec);
    info.channels = doc.format.nChannels;
    info.format = formatOf(kind, doc.format.wBitsPerSample);
    if (info.samplerate <= 0 || !sf_format_check(&info))
        return false;
    // MPEG audio knows nine rates; libsndfile's MP3 encoder, refused another, does not free what it set up.
    static constexpr int kMp3Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    if (kind == SaveKind::Mp3 && std::find(std::begin(kMp3Rates), std::end(kMp3Rates), info.samplerate) == std::end(kMp3Rates))
        return false;
    SF_VIRTUAL_IO io = memoryIo();
    SNDFILE* sf = sf_open_virtual(&io, SFM_WRITE, &info, &file);
    if (!sf)
        return false;
    if (kind == SaveKind::OggVorbis || kind == SaveKind::Mp3) {
        double level = 1.0 - std::clamp(quality, 0, 10) / 10.0;  // libsndfile: 0 best, 1 smallest
        sf_command(sf, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }
    const std::size_t channels = doc.format.nChannels;
    const std::size_t frames = static_cast<std::size_t>(std::max(doc.frameCount, 0));
    bool ok = true;
    if (doc.format.wBitsPerSample == 16) {
        const auto* samples = reinterpret_cast<const short*>(doc.samples.data());
        constexpr std::size_t kBlock = 1 << 16;
        for (std::size_t at = 0; ok && at < frames; at += kBlock) {
            const auto n = static_cast<sf_count_t>(std::min(kBlock, frames - at));
            ok = sf_writef_short(sf, samples + at * channels, n) == n;
        }
    } else {
        constexpr std::size_t kBlock = 8192;
        std::vector<short> block(kBlock * channels);
        const unsigned char* bytes = doc.samples.data();
        for (std::size_t at = 0; ok && at < frames; at += kBlock) {
            const std::size_t n = std::min(kBlock, frames - at);
            for (std::size_t i = 0; i < n * channels; ++i)
                block[i] = static_cast<short>((bytes[at * channels + i] - 128) * 256);
            ok = sf_writef_short(sf, block.data(), static_cast<sf_count_t>(n)) == static_cast<sf_count_t>(n);
        }
    }
    ok = sf_close(sf) == 0 && ok;
    return ok && !file.failed();
}

} // namespace

bool writeSoundFile(Ui& ui, const SoundDocument& document, const std::string& path, SaveKind kind, int quality)
{
    if (kind == SaveKind::Wav)
        return writeWavFile(ui, document, path);

    SafeFileWriter writer(path);
    if (!openWavWriter(ui, writer, path))
        return false;
    const std::size_t size = document.byteCount();
    // The encoded file is at most about the size of the samples; ask for that room before encoding.
    MemoryFile encoded;
    bool ok = document.hasData() && document.samples.size() >= size && memoryRoomFor(size)
              && encode(document, kind, quality, encoded);
    ok = ok && writer.reserve(static_cast<std::uint64_t>(encoded.length()))
         && encoded.forEach([&](const unsigned char* data, std::size_t n) { return writer.write(data, n); })
         && writer.commit();
    if (!ok) {
        writer.discard();
        showError(ui, path + kSaveFailed);
        return false;
    }
    return true;
}

} // namespace sonavik
