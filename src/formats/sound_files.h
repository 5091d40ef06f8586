#pragma once
// Which sound files the build reads and writes, their names and the file dialogs that offer them.

#include "document/wav_file.h"
#include "platform/ui.h"

#include <optional>
#include <string>
#include <vector>

namespace sonavik {

// The kinds a document can be saved as: WAV exactly as the editor always wrote it, FLAC (lossless at
// the document's bits) and two lossy ones.
enum class SaveKind { Wav, Flac, OggVorbis, Mp3 };

// Lower-case extensions without the dot that the installed libsndfile reads, "wav" first.
const std::vector<std::string>& readableExtensions();
// True when path ends in "." and one of readableExtensions (ASCII case ignored).
bool hasSoundExtension(const std::string& path);

// The open name rule: a bare name gets defaultDir, a name without a sound extension gets ".wav". False
// for a name of three characters or fewer, or one that would not fit the path buffer.
bool checkSoundFileName(std::string& path, const std::string& defaultDir);
// checkSoundFileName, then opens the file for reading, with openWavForReading's checks and message.
FileHandle openSoundForReading(Ui& ui, std::string& path, const std::string& defaultDir);

// "音声ファイル" with every readable extension, then "WAV", then "すべて".
FileDialogRequest soundOpenDialog(const char* title, const std::string& initialDir);
// WAV (first, the default), FLAC, Ogg Vorbis, MP3; the index of a filter is its SaveKind.
FileDialogRequest soundSaveDialog(const char* title, const std::string& initialDir, const std::string& initialName);

// The kind a name asks for by its extension, if it names one of the four.
std::optional<SaveKind> saveKindOfName(const std::string& path);
// The kind of a save: the name's own extension, else the chosen filter's kind, whose extension is then
// added (".wav" for WAV, as always).
SaveKind completeSaveName(std::string& path, int filterIndex);
// ".wav" in place of a sound extension (or added): the name a converted sound is offered to be saved as.
std::string wavNameFor(const std::string& path);

// Export quality of the lossy kinds, 0 (smallest) to 10 (best).
inline constexpr int kDefaultExportQuality = 7;

} // namespace sonavik
