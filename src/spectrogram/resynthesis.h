#pragma once
// Writing a spectrogram back into the sound: the rules of the dialog that chooses where and how
// strongly, and the inverse transform with its crossfades.

#include "edit/long_edit.h"
#include "spectrogram/spectrogram.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace sonavik {

class Ui;
struct Settings;
struct Workspace;

// The rules of the destination dialog. Every change is stored in the settings at once and stays even
// when the dialog is cancelled.

// What the window's "I FFT" button sets before the dialog opens: the original position (start = the
// spectrogram's first sample), the spectrogram's own channel, and missing alpha not taken as full.
void presetApplyOptions(Settings& settings, const Spectrogram& s);
// What opening the dialog does: colour choices only while alpha is used (blue when neither is
// chosen), at least one channel, the left one alone for mono sound, a position flag of 0 or 1.
void openApplyDialog(Settings& settings, bool mono);

struct ApplyDialogEnables {
    bool alphaChoices;  // "緑", "青" and "αチャンネルの値が無い部分は全て適用と見なす"
    bool channels;      // "左" and "右"
    bool start;         // the start field of "新しい位置"
};
ApplyDialogEnables applyDialogEnables(const Settings& settings, bool mono);

// The clicks of the dialog's boxes; each keeps at least one colour and one channel chosen.
void setApplyUseAlpha(Settings& settings, bool on);
void setApplyGreen(Settings& settings, bool on);
void setApplyBlue(Settings& settings, bool on);
void setApplyLeft(Settings& settings, bool on);
void setApplyRight(Settings& settings, bool on);
void setApplyMissingAlphaAsFull(Settings& settings, bool on);
void setApplyNewPosition(Settings& settings, bool on);

// The start field's text as a frame: optional blanks, an optional sign and decimal digits, and nothing
// else; nullopt for anything else or a value outside 32 bits (never a wrapped position).
std::optional<std::int32_t> parseApplyStart(std::string_view text);
inline constexpr const char* kBadApplyStart = "適用先の開始位置は -2147483648 から 2147483647 までの整数で指定してください";
// "OK": with the new position chosen, the start text must be a number (stored then); otherwise says
// kBadApplyStart and returns false, and the dialog stays open.
bool acceptApplyDialog(Ui& ui, Settings& settings, std::string_view startText);

// Channels written by a resynthesis: bit 0 the left, bit 1 the right; 0 when refused.
enum : int { kWroteLeft = 1, kWroteRight = 2 };

// Inverse-transforms every frame of s (dividing its window out again), crossfades neighbouring frames
// over their overlap and blends the result into the chosen channels of the document at the chosen
// position, by the alpha of the destination's selections when asked to. Refusals show their message and
// write nothing. The views of the written channels need redrawing afterwards.
int resynthesizeSpectrogram(Workspace& ws, Ui& ui, const Spectrogram& s);

// The "I FFT" button: refused while sound plays or records; otherwise presets the options, asks
// (askOptions runs the dialog; false = cancelled), takes the undo snapshot, resynthesises and marks the
// document modified, the last whatever the resynthesis did. Returns the channels written.
int runResynthesis(Workspace& ws, Ui& ui, const Spectrogram& s, const std::function<bool()>& askOptions);

struct ResynthesisStart {
    std::unique_ptr<LongEdit> edit;  // null when it ended at once
    int written = 0;                 // the channels written, or to be written once edit is done
};

// The "I FFT" button off the user-interface thread: the same refusal, options and dialog as
// runResynthesis. A write-back that can go ahead starts as a long edit on worker threads and is
// returned; LongEdit::finish() then makes the result the document and the sound before it the undo
// store, and marks the document modified (a cancel or a failure leaves everything as it was). Until
// then s must stay unchanged. Anything else (a refusal, no memory) ends here as runResynthesis ends.
ResynthesisStart startResynthesis(Workspace& ws, Ui& ui, const Spectrogram& s, const std::function<bool()>& askOptions,
                                  const LongEditOptions& options = {});

} // namespace sonavik
