#pragma once
// Saving a spectrogram: its picture as a 24-bit bitmap file, its spectra as a raw .fft file.

#include "spectrogram/spectrogram.h"

#include <array>
#include <cstdint>
#include <string>

namespace sonavik {

class Ui;
struct Settings;

inline constexpr std::size_t kBitmapHeaderSize = 54;
inline constexpr std::size_t kSpectraHeaderSize = 16;

// The file header and information header of a bottom-up 24-bit picture of width x height pixels.
std::array<unsigned char, kBitmapHeaderSize> bitmapFileHeader(std::int32_t width, std::int32_t height);
// n, F and two reserved zeros, little-endian.
std::array<unsigned char, kSpectraHeaderSize> spectraFileHeader(std::int32_t fftSize, std::int32_t frames);

// path, with extension (".bmp", ".fft") appended unless its last four characters already are it in any
// case: x -> x.bmp, picture.Bmp stays, spec.fft.txt -> spec.fft.txt.fft.
std::string withSaveExtension(const std::string& path, const std::string& extension);

// Write the file at path through a temporary file, so a failure leaves no half file and any old file as it
// was: "No bmp" / "No Data" without data, "保存できません" when it cannot be created, "保存失敗" when a
// write fails. True when written.
bool writeSpectrogramBitmap(Ui& ui, const Spectrogram& s, const std::string& path);
bool writeSpectrogramSpectra(Ui& ui, const Spectrogram& s, const std::string& path);

// The window's "SAVE BMP" and "SAVE DAT" buttons: "No bmp" / "No Data" without data, then the save dialog
// in saveDir, the extension, the file, and saveDir set to the chosen folder. False when cancelled or
// refused.
bool saveSpectrogramBitmap(Ui& ui, Settings& settings, const Spectrogram& s);
bool saveSpectrogramSpectra(Ui& ui, Settings& settings, const Spectrogram& s);

} // namespace sonavik
