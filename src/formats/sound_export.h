#pragma once
// Writing a document as WAV (the editor's own writer), FLAC, Ogg Vorbis or MP3, each with the WAV
// writer's guarantees: written beside and renamed over, room reserved first, the old file intact on any
// failure.

#include "formats/sound_files.h"

#include <string>

namespace sonavik {

class Ui;
struct SoundDocument;

// quality 0 (smallest) to 10 (best) for the lossy kinds. Messages as the WAV writer's.
bool writeSoundFile(Ui& ui, const SoundDocument& document, const std::string& path, SaveKind kind,
                    int quality = kDefaultExportQuality);

} // namespace sonavik
