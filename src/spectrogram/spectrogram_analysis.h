#pragma once
// The FFT command's analysis: the rules of its settings dialog, one region of one channel turned into a
// Spectrogram, and the colouring of the spectra into the record's picture.

#include "spectrogram/spectrogram.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sonavik {

class EditControl;
class Ui;
struct EditRegion;
struct Settings;
struct SoundDocument;

inline constexpr std::int32_t kMinFftLength = 16;
inline constexpr std::int32_t kMaxFftLength = 1 << 30;

// The FFT size the settings dialog shows for a stored one: limited to 16 ... 2^30, then rounded to the
// nearest power of two in the logarithm (3000 -> 4096).
std::int32_t normalisedFftLength(std::int32_t stored);
// A window type outside 0 ... 4 becomes 0 (rectangular).
std::int32_t normalisedFftWindow(std::int32_t stored);
// What opening the settings dialog does to the three stored values; the analysis relies on it.
void normaliseFftSettings(Settings& settings);
// The slider position of a normalised length: its exponent, 4 ... 30.
int fftLengthExponent(std::int32_t length);
// "4096 0.0929 sec 10.7666 Hz": the length, the frame's duration and the bin spacing at rate.
std::string fftSettingsText(std::int32_t length, std::uint32_t rate);

// The three colour factors of the picture (blue, green, red), from the settings.
struct ColourFactors {
    double blue = 0.1;
    double green = 0.3;
    double red = 1.0;
};
ColourFactors colourFactorsOf(const Settings& settings);

// Threads the analysis and the colouring use unless told: one per core, at most 8.
int defaultSpectrogramThreads();

// Rewrites every pixel of colourBitmap from the spectra, gain, amplitude scale and display mode. Does
// nothing while the bitmap or the spectra are missing. threads <= 0: defaultSpectrogramThreads(); the
// bytes are the same for any number.
void colourSpectrogram(Spectrogram& s, const ColourFactors& factors, int threads = 0);
// The same under the wait cursor, as the window's buttons run it.
void colourSpectrogram(Ui& ui, Spectrogram& s, const Settings& settings);

// Analyses one region of doc with the stored FFT settings (the length and window limited as the dialog
// limits them) and colours the result. Null after a refusal, which has shown its message: "No data!",
// "zero data!", "選択領域が不正です" (a region outside the sound), "Not Enough!" (shorter than n) or
// "Mem Not Allo!" (the spectra would not fit in memory). The document is never changed. threads as for
// colourSpectrogram: the spectra and the picture are the same for any number. Run as a long edit it
// gets the edit's control: control->beforeBlock before each block of frames (it throws EditStopped
// after a stop, which is passed on), and the sound frames of each block counted as written. Without
// picture the colours are neither made nor given memory (colourBitmap stays empty): for spectra that
// are only edited, written back or saved as numbers.
std::unique_ptr<Spectrogram> analyseSpectrogram(Ui& ui, const SoundDocument& doc, const EditRegion& region,
                                                const Settings& settings, int threads = 0,
                                                EditControl* control = nullptr, bool picture = true);

// The window title: "[ L ] first ～ last ＝ ( n ÷ 2 ) × ( F ＋ 1 )", with the selection number after the
// channel letter for a numbered selection.
std::string spectrogramTitle(const Spectrogram& s);

// Receives each finished analysis with its title; the window side opens a window that owns it.
using SpectrogramOpener = std::function<void(std::unique_ptr<Spectrogram>, const std::string& title)>;

} // namespace sonavik
