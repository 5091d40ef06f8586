#pragma once
// Reading, checking and writing PCM WAV files (8 or 16 bits, mono or stereo), and the open, save and
// save-as flows with their file dialogs and messages.

#include "document/sound_document.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace sonavik {

class Ui;
struct Workspace;

enum class FormatCheck { Valid = 0, Unsupported = 1, Repairable = 2 };
FormatCheck validateFormat(const WaveFormat& format);

// Reads the header of an open file up to the start of the sample data; on success the file stands at
// the first sample byte. Every failure shows its message and returns false; a repairable format asks
// whether to repair it. A chunk size that is negative or runs past the end of the file counts as a cut
// header; the data chunk's size is not checked against the file here (the caller reads the samples).
bool readWavHeader(Ui& ui, std::FILE* file, WaveFormat& format, std::int32_t& frameCount);

// Prefixes a bare name with defaultDir and adds ".wav" where missing. False for a name of three
// characters or fewer, or one that would not fit the path buffer.
bool checkWavFileName(std::string& path, const std::string& defaultDir);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// checkWavFileName, then opens the file for reading; path becomes the name actually opened. A bad name,
// or anything that is not a regular file that can be read, shows "<path> はファイル名が不正です".
FileHandle openWavForReading(Ui& ui, std::string& path, const std::string& defaultDir);

// Loads a WAV file into the current document; chosenPath stands in for the open dialog's answer. Once the
// file is open the previous document moves to the undo store, so a failure after that leaves no data.
// The caller refreshes the title and resets views, selections and the modified flag.
bool openWavFile(Workspace& ws, Ui& ui, const std::optional<std::string>& chosenPath = std::nullopt);
// Writes the document with the canonical 44-byte header. The old file survives any failure.
bool writeWavFile(Ui& ui, const SoundDocument& document, const std::string& path);
// Both clear the modified flag and refresh the title after a successful write.
bool saveWavFileAs(Workspace& ws, Ui& ui);
// Asks for a name (through saveWavFileAs) when the document's path has no folder or its write failed.
bool saveWavFile(Workspace& ws, Ui& ui);

} // namespace sonavik
