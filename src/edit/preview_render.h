#pragma once
// What the curve dialogs' edits (振幅の非線形変換, イコライザー, リバーブ) would write, worked out piece
// by piece while it is heard, so that a change of the curve is heard at once without touching the sound.
// The span from the first region's start to the last region's end is copied twice: the sound as it
// is, and the one being worked out. Frames come from the offline edits' own block runs, which give the
// same frames however a region is cut into runs: what is heard is, sample for sample, what OK writes.

#include "document/selection.h"
#include "document/sound_document.h"
#include "edit/edit_dispatcher.h"
#include "settings/settings.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sonavik {

struct ConvolutionPlan;
struct EqualizerPlan;

// Whether commandId has a preview: the nonlinear transform, the equaliser and the reverb.
bool hasPreview(int commandId);

class PreviewRender {
public:
    // The target (a processing-target code and slot, as runEditCommand takes them) of document; the
    // reverb's noise goes on from noiseState, as the edit's own would. empty() when no region of the
    // target lies inside the sound, the command has no preview or the copies cannot be had.
    PreviewRender(const SoundDocument& document, const RedSelection& red, int commandId, int target, int slot,
                  std::uint32_t noiseState);
    ~PreviewRender();
    PreviewRender(const PreviewRender&) = delete;
    PreviewRender& operator=(const PreviewRender&) = delete;

    bool empty() const { return frames_ == 0; }
    // The span's first frame in the document and its length.
    std::int32_t firstFrame() const { return first_; }
    std::int32_t frameCount() const { return frames_; }
    // The span (frames 0 … frameCount() - 1, both channels); a frame holds the edited sound once
    // render() has covered it since the settings last changed.
    const SoundDocument& sound() const { return out_; }

    // The settings the next frames are worked out with. Frames worked out before stay as they are;
    // render() works them out again when asked for them.
    void setSettings(const Settings& settings);

    // Works out frames [first, first + count) of the span (count limited to its end) for the current
    // settings. Cheap when they are current already; otherwise it starts from the block that holds
    // first (or from wherever the edit itself has to start for the same frames). False when the work
    // arrays cannot be had; the frames then hold the sound as it is.
    bool render(std::int64_t first, std::int64_t count);

private:
    struct Region;
    void prepare();
    void renderNonlinear(std::int64_t from, std::int64_t to);
    bool renderBlocks(std::int64_t from, std::int64_t to);
    bool restartAt(std::int64_t frame);

    int commandId_ = 0;
    std::int32_t first_ = 0;
    std::int32_t frames_ = 0;
    SoundDocument in_;
    SoundDocument out_;
    std::vector<Region> regions_;
    Settings settings_{};
    bool prepared_ = false;
    // Regions overlap (a damaged table): each reads what the one before wrote, so only whole passes
    // from the span's start give the edit's frames.
    bool overlapping_ = false;
    std::uint32_t noiseStart_ = 1;
    // Frames [validFrom, validTo) of out_ are current; from copiedTo on, out_ holds nothing written by a
    // pass since the last restart.
    std::int64_t validFrom_ = 0;
    std::int64_t validTo_ = 0;
    std::int64_t copiedTo_ = 0;
};

} // namespace sonavik
