#include "edit/preview_render.h"

#include "edit/amplitude_transforms.h"
#include "edit/command_ids.h"
#include "edit/convolution.h"
#include "edit/edit_commands.h"
#include "edit/edit_control.h"
#include "edit/equalizer.h"
#include "platform/ui.h"

#include <algorithm>
#include <cstring>

namespace sonavik {

namespace {

// Worked out at least this far ahead, so that the block before a run, which every run works out again
// for what carries over, is a small share of the work.
constexpr std::int64_t kAheadFrames = 32768;

bool fits(const SoundDocument& doc, const EditRegion& r)
{
    return r.start >= 0 && r.end <= doc.frameCount - 1 && r.end >= r.start && r.channel >= 0 && r.channel < doc.format.nChannels;
}

bool unitLevel(double v) { return v >= 0.0 && v <= 1.0; }

} // namespace

bool hasPreview(int commandId)
{
    return commandId == cmd::Nonlinear || commandId == cmd::Equalize || commandId == cmd::Reverb;
}

struct PreviewRender::Region {
    EditRegion region;  // frames counted from the span's start
    int channelCount = 1;
    // A run may start inside the region; otherwise every pass starts at its first block.
    bool splittable = true;
    std::shared_ptr<EqualizerPlan> equalizer;
    std::shared_ptr<ConvolutionPlan> convolution;
    bool usable = false;
    std::int64_t blocks = 0;
    std::int64_t nextBlock = 0;  // the next block to work out
};

PreviewRender::PreviewRender(const SoundDocument& doc, const RedSelection& red, int commandId, int target, int slot,
                             std::uint32_t noiseState)
    : commandId_(commandId), noiseStart_(noiseState)
{
    if (!hasPreview(commandId) || !doc.hasData() || doc.frameCount <= 0)
        return;
    std::vector<EditRegion> list = targetRegions(doc, red, target, slot);
    // Both whole channels of a stereo sound go through the nonlinear curve in one pass, as the edit does.
    const bool bothAtOnce = target == 0 && doc.format.nChannels == 2 && commandId == cmd::Nonlinear;
    if (bothAtOnce)
        list.resize(std::min<std::size_t>(list.size(), 1));
    std::int64_t lo = doc.frameCount, hi = -1;
    for (const EditRegion& r : list) {
        if (!fits(doc, r))
            continue;
        lo = std::min<std::int64_t>(lo, r.start);
        hi = std::max<std::int64_t>(hi, r.end);
    }
    if (hi < lo)
        return;
    const std::size_t block = doc.format.nBlockAlign;
    const std::size_t bytes = static_cast<std::size_t>(hi - lo + 1) * block;
    in_ = doc.copyWithoutSamples();
    in_.samples = SampleBuffer::allocate(bytes);
    out_ = doc.copyWithoutSamples();
    out_.samples = SampleBuffer::allocate(bytes);
    if (in_.samples.isNull() || out_.samples.isNull())
        return;
    std::memcpy(in_.samples.data(), doc.samples.data() + static_cast<std::size_t>(lo) * block, bytes);
    std::memcpy(out_.samples.data(), in_.samples.data(), bytes);
    in_.frameCount = out_.frameCount = static_cast<std::int32_t>(hi - lo + 1);
    for (const EditRegion& r : list) {
        if (!fits(doc, r))
            continue;
        Region w;
        w.region = r;
        w.region.start -= static_cast<std::int32_t>(lo);
        w.region.end -= static_cast<std::int32_t>(lo);
        w.channelCount = bothAtOnce ? 2 : 1;
        w.splittable = unitLevel(r.alphaStart) && unitLevel(r.alphaEnd);
        regions_.push_back(std::move(w));
    }
    for (std::size_t i = 0; i < regions_.size() && !overlapping_; ++i)
        for (std::size_t j = i + 1; j < regions_.size(); ++j) {
            const EditRegion& a = regions_[i].region;
            const EditRegion& b = regions_[j].region;
            if ((a.channel == b.channel || regions_[i].channelCount == 2 || regions_[j].channelCount == 2) &&
                a.start <= b.end && b.start <= a.end)
                overlapping_ = true;
        }
    first_ = static_cast<std::int32_t>(lo);
    frames_ = static_cast<std::int32_t>(hi - lo + 1);
}

PreviewRender::~PreviewRender() = default;

void PreviewRender::setSettings(const Settings& settings)
{
    settings_ = settings;
    prepared_ = false;
    validFrom_ = validTo_ = 0;
}

// The responses and weights of every region for the current settings, in target order: the reverb
// draws each region's noise after the one before, from where the session's generator stands.
void PreviewRender::prepare()
{
    SilentUi ui;  // the edits' step texts and messages belong to OK, not to listening
    std::uint32_t noise = noiseStart_;
    EditControl control;
    EditContext context{out_, ui, settings_, &control, &noise};
    for (Region& r : regions_) {
        r.equalizer.reset();
        r.convolution.reset();
        r.usable = false;
        r.blocks = 0;
        r.nextBlock = 0;
        if (commandId_ == cmd::Equalize) {
            r.equalizer = std::make_shared<EqualizerPlan>();
            r.usable = prepareEqualizer(context, r.region, *r.equalizer);
            r.blocks = r.usable ? equalizerBlockCount(r.region, *r.equalizer) : 0;
        } else if (commandId_ == cmd::Reverb) {
            r.convolution = std::make_shared<ConvolutionPlan>();
            r.usable = prepareConvolution(context, ResponseSource::Reverb, *r.convolution);
            r.blocks = r.usable ? convolutionBlockCount(r.region, *r.convolution) : 0;
        } else {
            r.usable = true;
        }
        r.usable = r.usable && (commandId_ == cmd::Nonlinear || r.blocks > 0);
    }
    prepared_ = true;
}

bool PreviewRender::render(std::int64_t first, std::int64_t count)
{
    if (empty() || count <= 0)
        return true;
    first = std::clamp<std::int64_t>(first, 0, frames_ - 1);
    const std::int64_t to = std::min<std::int64_t>(frames_, first + count);
    if (!prepared_)
        prepare();
    if (first < validFrom_ || first > validTo_ || validFrom_ == validTo_) {
        if (!restartAt(first))
            return false;
    }
    if (to <= validTo_)
        return true;
    const std::int64_t ahead = std::min<std::int64_t>(frames_, std::max(to, validTo_ + kAheadFrames));
    if (commandId_ == cmd::Nonlinear) {
        renderNonlinear(validTo_, ahead);
        validTo_ = ahead;
        return true;
    }
    return renderBlocks(validTo_, ahead);
}

// Forgets what was worked out and starts again at frame: each region at the block that writes it, or
// at its first block where a run cannot start inside it.
bool PreviewRender::restartAt(std::int64_t frame)
{
    if (overlapping_ || commandId_ == cmd::Nonlinear) {
        validFrom_ = validTo_ = overlapping_ ? 0 : frame;
        if (overlapping_ && commandId_ != cmd::Nonlinear) {
            // Each region reads what the one before wrote: one pass over everything, as the edit in place.
            std::memcpy(out_.samples.data(), in_.samples.data(), out_.byteCount());
            SilentUi ui;
            EditControl control;
            EditContext context{out_, ui, settings_, &control};
            for (Region& r : regions_) {
                if (!r.usable)
                    continue;
                const bool ok = r.equalizer ? equalizeBlocks(context, out_, r.region, r.region.channel, *r.equalizer, 0, r.blocks, nullptr)
                                            : convolveBlocks(context, out_, r.region, *r.convolution, 0, r.blocks, nullptr);
                if (!ok)
                    return false;
                r.nextBlock = r.blocks;
            }
            validTo_ = frames_;
        }
        return true;
    }
    std::int64_t earliest = frame;
    for (Region& r : regions_) {
        if (!r.usable)
            continue;
        const std::int64_t step = r.equalizer ? r.equalizer->n : r.convolution->n;
        const std::int64_t into = frame - r.region.start;
        r.nextBlock = r.splittable && into > 0 ? std::min(into / step, r.blocks) : 0;
        if (r.region.end >= frame)
            earliest = std::min(earliest, r.region.start + r.nextBlock * step);
    }
    validFrom_ = validTo_ = frame;
    copiedTo_ = earliest;
    return true;
}

void PreviewRender::renderNonlinear(std::int64_t from, std::int64_t to)
{
    const std::size_t block = out_.format.nBlockAlign;
    std::memcpy(out_.samples.data() + static_cast<std::size_t>(from) * block,
                in_.samples.data() + static_cast<std::size_t>(from) * block, static_cast<std::size_t>(to - from) * block);
    SilentUi ui;
    EditContext context{out_, ui, settings_};
    for (const Region& r : regions_)
        nonlinearFrames(context, r.region, r.channelCount, from, to);
}

// Works out every region's blocks until frames [from, to) are final. Frames of out_ that no pass has
// written yet are copied from the sound first, so that frames no block writes (a region's last few,
// those between regions) are the sound's own.
bool PreviewRender::renderBlocks(std::int64_t from, std::int64_t to)
{
    struct Step {
        Region* region;
        std::int64_t endBlock;
    };
    std::vector<Step> steps;
    std::int64_t writesFrom = from, writesTo = to;
    for (Region& r : regions_) {
        if (!r.usable || r.region.end < from || r.region.start >= to || r.nextBlock >= r.blocks + (r.equalizer ? 1 : 0))
            continue;
        const std::int64_t s = r.region.start;
        const std::int64_t step = r.equalizer ? r.equalizer->n : r.convolution->n;
        // The block that writes frame to - 1; the equaliser's last block also writes the half after it.
        std::int64_t endBlock = std::min(r.blocks, (to - 1 - s) / step + 1);
        if (r.equalizer && to - 1 >= s + r.blocks * step)
            endBlock = r.blocks;
        if (endBlock <= r.nextBlock && !(r.equalizer && endBlock == r.blocks && r.nextBlock == r.blocks))
            continue;
        writesFrom = std::min(writesFrom, s + r.nextBlock * step);
        const std::int64_t end = endBlock == r.blocks ? r.region.end + 1 : s + endBlock * step;
        writesTo = std::max(writesTo, std::min<std::int64_t>(end, r.region.end + 1));
        steps.push_back({&r, endBlock});
    }
    // Frames a pass before this one wrote stay; the rest are the sound's own until a run writes them.
    const std::int64_t copyFrom = std::max(writesFrom, copiedTo_);
    const std::size_t block = out_.format.nBlockAlign;
    if (writesTo > copyFrom) {
        std::memcpy(out_.samples.data() + static_cast<std::size_t>(copyFrom) * block,
                    in_.samples.data() + static_cast<std::size_t>(copyFrom) * block,
                    static_cast<std::size_t>(writesTo - copyFrom) * block);
        copiedTo_ = writesTo;
    }
    SilentUi ui;
    EditControl control;
    EditContext context{out_, ui, settings_, &control};
    for (const Step& st : steps) {
        Region& r = *st.region;
        const bool ok = r.equalizer
                            ? equalizeBlocks(context, in_, r.region, r.region.channel, *r.equalizer, r.nextBlock, st.endBlock, nullptr)
                            : convolveBlocks(context, in_, r.region, *r.convolution, r.nextBlock, st.endBlock, nullptr);
        if (!ok)
            return false;
        // The equaliser's pass that ends with the last block has written its fade too.
        r.nextBlock = st.endBlock + (r.equalizer && st.endBlock == r.blocks ? 1 : 0);
    }
    // Every region has run up to the block that writes to - 1; some have written further, but only
    // frames before to are final for all of them.
    validTo_ = to;
    return true;
}

} // namespace sonavik
