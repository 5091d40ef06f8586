#pragma once
// Reading, checking and writing PCM WAV files (8 or 16 bits, mono or stereo), and the open, save and
// save-as flows with their file dialogs and messages.

#include "document/sound_document.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace sonavik {

class Ui;
struct Workspace;

enum class FormatCheck { Valid = 0, Unsupported = 1, Repairable = 2 };
FormatCheck validateFormat(const WaveFormat& format);

// Reads the header of an open file up to the start of the sample data; on success the file stands at
// the first sample byte. Every failure shows its message and returns false; a repairable format asks
// whether to repair it.
bool readWavHeader(Ui& ui, std::FILE* file, WaveFormat& format, std::int32_t& frameCount);

// Prefixes a bare name with defaultDir and adds ".wav" where missing. False for a name of three
// characters or fewer, or one that would not fit the path buffer.
bool checkWavFileName(std::string& path, const std::string& defaultDir);

// Loads a WAV file into the current document; chosenPath stands in for the open dialog's answer.
bool openWavFile(Workspace& ws, Ui& ui, const std::optional<std::string>& chosenPath = std::nullopt);
// Writes the document with the canonical 44-byte header. The old file survives any failure.
bool writeWavFile(Ui& ui, const SoundDocument& document, const std::string& path);
bool saveWavFileAs(Workspace& ws, Ui& ui);
bool saveWavFile(Workspace& ws, Ui& ui);

} // namespace sonavik
