#pragma once
// Fuzz targets: each takes one input and aborts when the program does something it must never do.
// libFuzzer drives them (tools/fuzz.sh, clang only); the inputs that once broke them are replayed by
// the ordinary tests (replay_test.cpp).

#include <cstddef>
#include <cstdint>

namespace sonavik::fuzz {

// The bytes as parameter.ini: loaded, laid out and drawn into the views of a small sound. The pictures
// must stay the size of the window the settings describe.
int settingsFile(const std::uint8_t* data, std::size_t size);
// The bytes as a WAV file, opened with every question answered Yes; a file that opens must save, and the
// saved copy must open again without a question and with the same format and samples.
int wavFile(const std::uint8_t* data, std::size_t size);
// The bytes after the first as a sound file of another kind (the first byte picks its extension),
// opened through the import: what opens holds whole frames of 8 or 16 bits in one or two channels, and
// saved as FLAC it reads back the same.
int soundImport(const std::uint8_t* data, std::size_t size);
// The bytes as a small sound, its selections, a curve edit's target and settings, and the pieces a
// preview of it is read in (with a change of the settings on the way): every piece must be, byte for
// byte, the same frames of what the edit itself writes with the settings of the moment.
int previewRender(const std::uint8_t* data, std::size_t size);

// A small spectrogram of random cells made from the first bytes, then the rest as lines of spectral OP
// strings applied to it, and a repair and a snap of a rectangle the bytes choose: no cell outside the
// bands an edit names changes, a repair of finite cells leaves them finite, bands stay sorted, apart and
// inside the spectrogram, and a snapped band keeps its width.
int spectralOps(const std::uint8_t* data, std::size_t size);

} // namespace sonavik::fuzz
