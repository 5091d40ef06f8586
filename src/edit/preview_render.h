#pragma once
// What the curve dialogs' edits (振幅の非線形変換, イコライザー, リバーブ) would write, worked out piece
// by piece while it is heard, so that a change of the curve is heard at once without touching the sound.
// Each piece reads the document where it lies and is worked out in a window a few edit blocks long, with
// the offline edits' own block runs, which give the same frames however a region is cut into runs: what
// is heard is, sample for sample, what OK writes, and the memory used does not grow with the sound.

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
    // target lies inside the sound or the command has no preview. The document is read while frames
    // are worked out: it must outlive this and stay unchanged.
    PreviewRender(const SoundDocument& document, const RedSelection& red, int commandId, int target, int slot,
                  std::uint32_t noiseState);
    ~PreviewRender();
    PreviewRender(const PreviewRender&) = delete;
    PreviewRender& operator=(const PreviewRender&) = delete;

    bool empty() const { return frames_ == 0; }
    // The span's first frame in the document and its length.
    std::int32_t firstFrame() const { return first_; }
    std::int32_t frameCount() const { return frames_; }
    const WaveFormat& format() const { return format_; }

    // The settings the next frames are worked out with.
    void setSettings(const Settings& settings);
    // Works out what the settings give before any frame (the reverb's response, the equaliser's
    // weights), so that the frames asked for next come quickly.
    void prepareSettings();

    // Frames [first, first + count) of the span (first counted from its start; count limited to its end)
    // as OK writes them with the current settings, into out (count whole frames). False when the memory
    // for the work cannot be had; those frames then hold the sound as it is and failed() says so.
    bool read(std::int64_t first, std::int64_t count, unsigned char* out);
    // A read has found too little memory since this was made.
    bool failed() const { return failed_; }

    // While bypassed, reads give the target as it is now, to compare with what the settings make of it;
    // the settings are kept and worked out again once the bypass ends.
    void setBypass(bool on) { bypass_ = on; }
    bool bypassed() const { return bypass_; }

private:
    struct Region;
    bool renderPiece(std::int64_t first);
    bool renderWhole();
    void copySound(std::int64_t first, std::int64_t count, unsigned char* out) const;

    const SoundDocument& doc_;
    WaveFormat format_{};
    int commandId_ = 0;
    std::int32_t first_ = 0;
    std::int32_t frames_ = 0;
    std::vector<Region> regions_;
    Settings settings_{};
    bool prepared_ = false;
    // Regions overlap (a damaged table: each reads what the one before wrote) or have an envelope level
    // outside 0…1 (the edit runs them in one pass): the whole span is worked out at once.
    bool whole_ = false;
    std::uint32_t noiseStart_ = 1;
    bool failed_ = false;
    bool bypass_ = false;
    // The last piece: window_ holds document frames [windowStart_, windowStart_ + window_.frameCount),
    // of which span frames [pieceFrom_, pieceTo_) are current.
    SoundDocument source_;
    SoundDocument window_;
    std::int64_t windowStart_ = 0;
    std::int64_t pieceFrom_ = 0;
    std::int64_t pieceTo_ = 0;
};

} // namespace sonavik
