#pragma once
// 変換 → FFT off the user-interface thread: the regions of the target are analysed one after the
// other, each on every core, while the window stays alive; a stop leaves nothing behind.

#include "edit/long_edit.h"
#include "spectrogram/spectrogram_analysis.h"

#include <memory>
#include <vector>

namespace sonavik {

class Ui;
struct EditRegion;
struct Workspace;

// Starts the analysis of regions (checked by the dispatcher, in target order). The sound is only read:
// LongEdit::finish() leaves it, the undo store and the title alone, and after success shows each
// region's refusal or hands its spectrogram with its title to open, in target order. Null when it
// cannot start (nothing to analyse, another long edit running).
std::unique_ptr<LongEdit> startSpectrogramAnalysis(Workspace& ws, Ui& ui, const std::vector<EditRegion>& regions,
                                                   SpectrogramOpener open, const LongEditOptions& options = {});

} // namespace sonavik
