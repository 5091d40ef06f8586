#include "edit/preview_render.h"

#include "edit/amplitude_transforms.h"
#include "edit/command_ids.h"
#include "edit/convolution.h"
#include "edit/edit_commands.h"
#include "edit/edit_control.h"
#include "edit/equalizer.h"
#include "platform/os.h"
#include "platform/ui.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

namespace sonavik {

namespace {

// A piece is at least this long, so that the block before a run, which every run works out again for
// what carries over, is a small share of the work.
constexpr std::int64_t kPieceFrames = 32768;

bool fits(const SoundDocument& doc, const EditRegion& r)
{
    return r.start >= 0 && r.end <= doc.frameCount - 1 && r.end >= r.start && r.channel >= 0 && r.channel < doc.format.nChannels;
}

bool unitLevel(double v) { return v >= 0.0 && v <= 1.0; }

// Whether bytes more can be had without the process being killed for them.
bool roomFor(std::size_t bytes)
{
    const std::uint64_t available = availableMemoryBytes();
    return available == 0 || bytes + bytes / 4 <= available;
}

// window holds frames [0, frames) of its own; a larger buffer is kept. False when it cannot be had.
bool reserve(SoundDocument& window, const SoundDocument& doc, std::int64_t frames)
{
    const std::size_t bytes = static_cast<std::size_t>(frames) * doc.format.nBlockAlign;
    if (window.samples.isNull() || window.samples.size() < bytes) {
        window.samples.reset();
        if (!roomFor(bytes))
            return false;
        window.samples = SampleBuffer::allocate(bytes);
        if (window.samples.isNull())
            return false;
    }
    window.frameCount = static_cast<std::int32_t>(frames);
    return true;
}

} // namespace

bool hasPreview(int commandId)
{
    return commandId == cmd::Nonlinear || commandId == cmd::Equalize || commandId == cmd::Reverb;
}

struct PreviewRender::Region {
    EditRegion region;  // in document frames
    int channelCount = 1;
    std::shared_ptr<EqualizerPlan> equalizer;
    std::shared_ptr<ConvolutionPlan> convolution;
    bool usable = false;
    std::int64_t blocks = 0;
    std::int64_t step() const;
};

std::int64_t PreviewRender::Region::step() const { return equalizer ? equalizer->n : convolution ? convolution->n : 0; }

PreviewRender::PreviewRender(const SoundDocument& doc, const RedSelection& red, int commandId, int target, int slot,
                             std::uint32_t noiseState)
    : doc_(doc), format_(doc.format), commandId_(commandId), noiseStart_(noiseState)
{
    if (!hasPreview(commandId) || !doc.hasData() || doc.frameCount <= 0 || doc.format.nBlockAlign == 0)
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
        Region w;
        w.region = r;
        w.channelCount = bothAtOnce ? 2 : 1;
        whole_ = whole_ || (commandId != cmd::Nonlinear && !(unitLevel(r.alphaStart) && unitLevel(r.alphaEnd)));
        regions_.push_back(std::move(w));
    }
    if (hi < lo)
        return;
    // The nonlinear curve works frame by frame: applied region after region in each piece, it reads what
    // the region before wrote there, as the edit does.
    for (std::size_t i = 0; i < regions_.size() && commandId != cmd::Nonlinear; ++i)
        for (std::size_t j = i + 1; j < regions_.size(); ++j) {
            const EditRegion& a = regions_[i].region;
            const EditRegion& b = regions_[j].region;
            if ((a.channel == b.channel || regions_[i].channelCount == 2 || regions_[j].channelCount == 2) &&
                a.start <= b.end && b.start <= a.end)
                whole_ = true;
        }
    source_ = doc.copyWithoutSamples();
    window_ = doc.copyWithoutSamples();
    first_ = static_cast<std::int32_t>(lo);
    frames_ = static_cast<std::int32_t>(hi - lo + 1);
}

PreviewRender::~PreviewRender() = default;

void PreviewRender::setSettings(const Settings& settings)
{
    settings_ = settings;
    prepared_ = false;
    pieceFrom_ = pieceTo_ = 0;
}

// The responses and weights of every region for the current settings, in target order: the reverb
// draws each region's noise after the one before, from where the session's generator stands.
void PreviewRender::prepareSettings()
{
    if (prepared_)
        return;
    SilentUi ui;  // the edits' step texts and messages belong to OK, not to listening
    std::uint32_t noise = noiseStart_;
    EditControl control;
    EditContext context{window_, ui, settings_, &control, &noise};
    for (Region& r : regions_) {
        r.equalizer.reset();
        r.convolution.reset();
        r.usable = false;
        r.blocks = 0;
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

void PreviewRender::copySound(std::int64_t first, std::int64_t count, unsigned char* out) const
{
    const std::size_t block = format_.nBlockAlign;
    std::memcpy(out, doc_.samples.data() + static_cast<std::size_t>(first_ + first) * block, static_cast<std::size_t>(count) * block);
}

bool PreviewRender::read(std::int64_t first, std::int64_t count, unsigned char* out)
{
    if (empty() || count <= 0 || first < 0 || first >= frames_)
        return true;
    count = std::min<std::int64_t>(count, frames_ - first);
    if (bypass_) {
        copySound(first, count, out);
        return true;
    }
    prepareSettings();
    const std::size_t block = format_.nBlockAlign;
    while (count > 0) {
        if (first < pieceFrom_ || first >= pieceTo_) {
            if (!(whole_ ? renderWhole() : renderPiece(first))) {
                failed_ = true;
                copySound(first, count, out);
                return false;
            }
        }
        const std::int64_t n = std::min(count, pieceTo_ - first);
        std::memcpy(out, window_.samples.data() + static_cast<std::size_t>(first_ + first - windowStart_) * block,
                    static_cast<std::size_t>(n) * block);
        out += static_cast<std::size_t>(n) * block;
        first += n;
        count -= n;
    }
    return true;
}

// Span frames from first on, as far as a piece reaches: every region runs the blocks that write them,
// from the block that holds first, in a window of the document that holds what those blocks read and
// write. Frames no block writes (a region's last few, those between regions) are the sound's own.
bool PreviewRender::renderPiece(std::int64_t first)
{
    std::int64_t longest = kPieceFrames;
    for (const Region& r : regions_)
        if (r.usable)
            longest = std::max(longest, r.step());
    const std::int64_t from = first_ + first;
    const std::int64_t to = first_ + std::min<std::int64_t>(frames_, first + longest);
    struct Run {
        const Region* region;
        std::int64_t firstBlock;
        std::int64_t endBlock;
    };
    std::vector<Run> runs;
    std::int64_t lo = from, hi = to;
    for (const Region& r : regions_) {
        if (!r.usable || commandId_ == cmd::Nonlinear)
            continue;
        const std::int64_t s = r.region.start;
        const std::int64_t step = r.step();
        const bool eq = r.equalizer != nullptr;
        // The equaliser's last block also fades the half after it back into the sound.
        const std::int64_t writesTo = eq ? s + (r.blocks + 1) * step : static_cast<std::int64_t>(r.region.end) + 1;
        if (writesTo <= from || s >= to)
            continue;
        const std::int64_t firstBlock = from <= s ? 0 : std::min((from - s) / step, eq ? r.blocks : r.blocks - 1);
        std::int64_t endBlock = std::min(r.blocks, (to - 1 - s) / step + 1);
        if (eq && to - 1 >= s + r.blocks * step)
            endBlock = r.blocks;
        endBlock = std::max(endBlock, firstBlock);
        // What the run reads: the block before it for what carries over, and (the equaliser) each
        // block's second half.
        lo = std::min(lo, s + std::max<std::int64_t>(firstBlock - 1, 0) * step);
        hi = std::max(hi, eq ? s + (endBlock + 1) * step : std::min(s + endBlock * step, writesTo));
        runs.push_back({&r, firstBlock, endBlock});
    }
    hi = std::min<std::int64_t>(hi, doc_.frameCount);
    const std::size_t block = format_.nBlockAlign;
    pieceFrom_ = pieceTo_ = 0;
    if (!reserve(window_, doc_, hi - lo) || (!runs.empty() && !reserve(source_, doc_, hi - lo)))
        return false;
    std::memcpy(window_.samples.data(), doc_.samples.data() + static_cast<std::size_t>(lo) * block,
                static_cast<std::size_t>(hi - lo) * block);
    if (!runs.empty())
        std::memcpy(source_.samples.data(), window_.samples.data(), static_cast<std::size_t>(hi - lo) * block);
    SilentUi ui;
    EditControl control;
    EditContext context{window_, ui, settings_, &control};
    // The regions are moved into the window: the edits' weights depend only on frames' distances.
    auto moved = [&](const Region& r) {
        EditRegion m = r.region;
        m.start = static_cast<std::int32_t>(m.start - lo);
        m.end = static_cast<std::int32_t>(m.end - lo);
        return m;
    };
    if (commandId_ == cmd::Nonlinear) {
        for (const Region& r : regions_)
            nonlinearFrames(context, moved(r), r.channelCount, from - lo, to - lo);
    }
    auto work = [&](const Run& run) {
        // Each run writes only its own channel's samples; the rest of what it uses is its own.
        SilentUi quiet;
        EditControl own;
        EditContext mine{window_, quiet, settings_, &own};
        const Region& r = *run.region;
        const EditRegion m = moved(r);
        return r.equalizer ? equalizeBlocks(mine, source_, m, m.channel, *r.equalizer, run.firstBlock, run.endBlock, nullptr)
                           : convolveBlocks(mine, source_, m, *r.convolution, run.firstBlock, run.endBlock, nullptr);
    };
    // Long blocks of both channels are worked out side by side, so that a change is heard as soon.
    bool ok = true;
    std::size_t next = 0;
    if (runs.size() == 2 && runs[0].region->step() >= kPieceFrames && std::thread::hardware_concurrency() > 1) {
        bool second = false;
        try {
            std::thread other([&] { second = work(runs[1]); });
            ok = work(runs[0]);
            other.join();
            ok = ok && second;
            next = 2;
        } catch (const std::system_error&) {
            // No thread to be had: one after the other.
        }
    }
    for (; next < runs.size() && ok; ++next)
        ok = work(runs[next]);
    if (!ok)
        return false;
    windowStart_ = lo;
    pieceFrom_ = first;
    pieceTo_ = to - first_;
    return true;
}

// The whole span in one pass, each region in place after the one before, as the edit in place.
bool PreviewRender::renderWhole()
{
    const std::size_t block = format_.nBlockAlign;
    pieceFrom_ = pieceTo_ = 0;
    if (!reserve(window_, doc_, frames_))
        return false;
    std::memcpy(window_.samples.data(), doc_.samples.data() + static_cast<std::size_t>(first_) * block,
                static_cast<std::size_t>(frames_) * block);
    SilentUi ui;
    EditControl control;
    EditContext context{window_, ui, settings_, &control};
    for (const Region& r : regions_) {
        if (!r.usable)
            continue;
        EditRegion m = r.region;
        m.start -= first_;
        m.end -= first_;
        const bool ok = r.equalizer ? equalizeBlocks(context, window_, m, m.channel, *r.equalizer, 0, r.blocks, nullptr)
                                    : convolveBlocks(context, window_, m, *r.convolution, 0, r.blocks, nullptr);
        if (!ok)
            return false;
    }
    windowStart_ = first_;
    pieceTo_ = frames_;
    return true;
}

} // namespace sonavik
