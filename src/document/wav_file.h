#pragma once
// Reading, checking and writing PCM WAV files (8 or 16 bits, mono or stereo): bytes to document and back,
// with the messages of each failure.

#include "document/sound_document.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace sonavik {

class SafeFileWriter;
class Ui;
struct FileDialogRequest;

enum class FormatCheck { Valid = 0, Unsupported = 1, Repairable = 2 };
FormatCheck validateFormat(const WaveFormat& format);

// Reads the header of an open file up to the start of the sample data; on success the file stands at
// the first sample byte. Every failure shows its message and returns false; a repairable format asks
// whether to repair it. A chunk size that is negative or runs past the end of the file counts as a cut
// header; the data chunk's size is not checked against the file here (the caller reads the samples).
bool readWavHeader(Ui& ui, std::FILE* file, WaveFormat& format, std::int32_t& frameCount);
// readWavHeader that leaves the two refusals another reader may take to the caller, without their
// message: a file that is no RIFF WAVE as this reader knows it, and a format it does not support.
// Shown: every other failure, its message shown (or the repair declined).
enum class WavHeaderRefusal { None, NotWave, Unsupported, Shown };
WavHeaderRefusal readWavHeaderQuietly(Ui& ui, std::FILE* file, WaveFormat& format, std::int32_t& frameCount);
// The message readWavHeader shows for NotWave or Unsupported.
void showWavRefusal(Ui& ui, WavHeaderRefusal refusal);

// Reads the header and the samples of an open file into doc, whose path names the file in messages.
bool readWavDocument(Ui& ui, std::FILE* file, SoundDocument& doc);
// The second half of readWavDocument: the samples, for a file whose header has just been read into doc.
bool readWavSamples(Ui& ui, std::FILE* file, SoundDocument& doc);
// "<path> の読み込みに失敗しました": the end of every failed open.
void showLoadFailed(Ui& ui, const std::string& path);

bool hasFolder(const std::string& path);
void addWavExtension(std::string& path);
// The file dialog of WAV files ("wavﾌｧｲﾙ(*.wav)").
FileDialogRequest wavFileDialog(const char* title, const std::string& initialDir, bool confirmOverwrite);

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

// Writes the document with the canonical 44-byte header. The old file survives any failure.
// Whether writeWavFile could write path now, with its message when it could not; nothing is written
// (a recording checks this before it starts rather than after the take).
// Opens writer for path (a name the settings can hold, a file that can be made there), or says
// "<path>…" cannot be saved. Every kind of save opens its file through it.
bool openWavWriter(Ui& ui, SafeFileWriter& writer, const std::string& path);
bool canWriteWavFile(Ui& ui, const std::string& path);
bool writeWavFile(Ui& ui, const SoundDocument& document, const std::string& path);

} // namespace sonavik
