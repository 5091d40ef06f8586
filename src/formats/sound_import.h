#pragma once
// Sound files the WAV reader leaves (other bits, float, more channels, other containers) decoded through
// libsndfile into the form the editor holds: 8 or 16 bits, one or two channels, the file's rate.

#include "document/sound_document.h"
#include "document/wav_file.h"
#include "platform/ui.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sonavik {

// What a sound file holds, as libsndfile reads it.
struct SourceFormat {
    std::string container;  // libsndfile's name of the major format, e.g. "FLAC (Free Lossless Audio Codec)"
    std::string coding;     // and of the subformat, e.g. "Signed 24 bit PCM"
    int bits = 0;           // 0 for codings that have no bit depth (lossy, ADPCM)
    bool floating = false;
    int channels = 0;
    int rate = 0;
    std::int64_t frames = 0;
};
// Nullopt when libsndfile does not open the file.
std::optional<SourceFormat> describeSoundFile(const std::string& path);

struct ImportResult {
    enum class Outcome { Opened, NotASoundFile, Refused };
    Outcome outcome = Outcome::NotASoundFile;
    std::string status;          // what was done, for the status bar
    std::int64_t clipped = 0;    // float samples beyond full scale
    bool endedEarly = false;     // the file decoded only part of what it declared
};

// Decodes the file at doc.path into doc (format, frame count, samples): 8- and 16-bit sources sample
// for sample, wider or float ones to 16 bits with TPDF dither from a fixed seed (a 24-bit s as s / 256,
// a float x as x × 32768), more than two channels by choice (nullopt: ask ui). NotASoundFile: libsndfile
// does not open it, nothing shown. Refused: the reason is shown, doc has no samples. An early end is
// told in a notice.
ImportResult importSoundFile(Ui& ui, SoundDocument& doc, const std::optional<ChannelChoice>& choice = std::nullopt);

// Changes a document's samples to 8 or 16 bits: 8 to 16 exactly, 16 to 8 with the import's dither.
// False, with the memory message, when the new buffer cannot be had; doc is then unchanged.
bool changeSampleBits(Ui& ui, SoundDocument& doc, int bits);

// Every open: the WAV reader first, the import for a file it refuses as no WAVE or an unsupported
// format. file is open on doc.path. Every message is shown, the closing "… の読み込みに失敗しました"
// included; status receives the import's status text (empty for a WAV file the reader took).
bool readSoundDocument(Ui& ui, FileHandle file, SoundDocument& doc, std::string* status = nullptr,
                       const std::optional<ChannelChoice>& choice = std::nullopt);

} // namespace sonavik
