#pragma once
// The sound of a spectrogram's selected rectangle alone: the selected frames with every bin outside the
// selected band cleared, turned back into samples in a scratch sound of their own. The document and the
// spectrogram stay as they are; the window hands the result to playback.

#include "document/sound_document.h"

namespace sonavik {

class Ui;
struct Spectrogram;

// A mono sound at the analysed sound's rate and bit depth, (frames + 1) x n/2 sample frames long for the
// selected frames, fading in from and out into silence. False, with nothing in out, without a selection
// or when the memory cannot be had (the error beep sounds then).
bool selectionSound(const Spectrogram& s, Ui& ui, SoundDocument& out);

} // namespace sonavik
