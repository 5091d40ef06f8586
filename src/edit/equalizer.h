#pragma once
// "イコライザー..." (40110): the region is filtered block by block with the gain curve the user draws
// in dialog 105, and the rules that dialog follows when it opens and while it is used.

#include "edit/edit_commands.h"
#include "settings/settings.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sonavik {

class PercentProgress;
struct EditRegion;
struct SoundDocument;

// Overlapping blocks of C = eqFftSize frames at a hop of C / 2: each block is windowed, transformed,
// multiplied bin by bin with the curve (morphed by the alpha at the block's centre), transformed back,
// un-windowed and cross-faded into its neighbours; the DC term is never changed. A region shorter than
// C stays as it is. A block that cannot be allocated sounds the error beep and leaves the region alone.
void equalizeRegion(EditContext& context, const EditRegion& region, int channelCount);

// What every run of blocks of one region shares: the block length and the weights that depend only
// on the settings.
struct EqualizerPlan {
    std::int64_t c = 0;  // block length C
    std::int64_t n = 0;  // hop, C / 2
    bool logGain = false;
    bool logFrequency = false;
    bool windowed = false;
    int windowType = 0;
    double linearSpan = 2.0;               // 1 + eqLinearGainSpan
    std::unique_ptr<double[]> fade;        // F, n cross-fade weights
    std::unique_ptr<double[]> window;      // weights of the C samples, windows 1 to 3 only
    std::unique_ptr<std::int32_t[]> bin;   // curve index of bin i, logarithmic frequency axis only
};

// The steps before the first block, with their progress texts. False when the region stays as it is:
// shorter than C ("完了" shown), or the memory cannot be had (error beep).
bool prepareEqualizer(EditContext& context, const EditRegion& region, EqualizerPlan& plan);

// Blocks that fit in the region: those starting at start + k C / 2 that end inside it.
std::int64_t equalizerBlockCount(const EditRegion& region, const EqualizerPlan& plan);

// Blocks [firstBlock, endBlock) of one channel of the region, read from source and written into
// context.document (the same document for an edit in place); a run that ends with the last block also
// fades the last half-block back into the untouched sound. A run that starts after block 0 first
// filters the block before it again for the half that carries over, so any cut into runs gives the
// same frames. False, with nothing written, when its arrays cannot be had. progress may be null.
bool equalizeBlocks(EditContext& context, const SoundDocument& source, const EditRegion& region, int channel,
                    const EqualizerPlan& plan, std::int64_t firstBlock, std::int64_t endBlock, PercentProgress* progress);

inline constexpr const char* kEqualizerProgressName = "イコライザ";

inline constexpr int kMinEqFftExponent = 4;
inline constexpr int kMaxEqFftExponent = 30;

// The slider position for a stored block length: the size limited to 16…2^30, and a size that is no
// power of two taken to the nearest exponent (on a logarithmic scale), 4…30.
int equalizerFftExponent(std::int32_t storedSize);

// What dialog 105 does to the settings when it opens: an axis setting other than 0 or 1 becomes 0, a
// window outside 0…4 becomes 0, the block length becomes 2^equalizerFftExponent, and the curve editor
// draws the block as the equaliser. Returns the exponent for the slider.
int prepareEqualizerSettings(Settings& settings);

// The block length recommended for a sample rate, or 0 where the dialog recommends none.
int recommendedEqFftSize(std::uint32_t samplesPerSec);
// "size= %d ( 推奨値は %d )", or "size= %d" alone without a recommendation.
std::string equalizerSizeText(int size, std::uint32_t samplesPerSec);

// "リセット": every point inactive, a flat curve of unity gain.
void resetEqualizerCurve(CurveData& curve);
// "灰色の丸リセット": every active point's grey position moves to unity gain (y 0.5); the edited
// positions stay.
void resetEqualizerGreyPoints(CurveData& curve);

} // namespace sonavik
