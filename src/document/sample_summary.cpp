#include "document/sample_summary.h"

#include "document/sound_document.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace sonavik {

namespace {

constexpr std::int64_t kBlockFrames = std::int64_t{1} << SampleSummary::kBlockShift;
constexpr std::int64_t kFanOut = std::int64_t{1} << SampleSummary::kLevelShift;

template <typename T>
MinMax scanTyped(const unsigned char* samples, int channels, int channel, std::int64_t first, std::int64_t last)
{
    MinMax result;
    const std::size_t step = static_cast<std::size_t>(channels) * sizeof(T);
    const unsigned char* p = samples + (static_cast<std::size_t>(first) * channels + channel) * sizeof(T);
    int lo = result.min;
    int hi = result.max;
    for (std::int64_t i = first; i <= last; ++i, p += step) {
        T v;
        std::memcpy(&v, p, sizeof(T));  // 16-bit samples are little-endian, as is every host we build for
        lo = std::min<int>(lo, v);
        hi = std::max<int>(hi, v);
    }
    result.min = lo;
    result.max = hi;
    return result;
}

// Extremes of `count` interleaved samples (a multiple of 16) kept per lane, so the compiler can use
// vector min/max; with 1 or 2 channels lane l holds channel l % channels.
template <typename T>
void laneExtremes(const unsigned char* bytes, std::size_t count, T (&lo)[16], T (&hi)[16])
{
    for (int l = 0; l < 16; ++l) {
        lo[l] = std::numeric_limits<T>::max();
        hi[l] = std::numeric_limits<T>::min();
    }
    for (std::size_t i = 0; i < count; i += 16) {
        T v[16];
        std::memcpy(v, bytes + i * sizeof(T), sizeof v);
        for (int l = 0; l < 16; ++l) {
            lo[l] = std::min(lo[l], v[l]);
            hi[l] = std::max(hi[l], v[l]);
        }
    }
}

template <typename T>
void wholeBlockExtremes(const SampleLayout& layout, std::int64_t block, MinMax* perChannel)
{
    T lo[16];
    T hi[16];
    const std::size_t values = static_cast<std::size_t>(kBlockFrames) * layout.channels;
    laneExtremes<T>(layout.samples + static_cast<std::size_t>(block) * values * sizeof(T), values, lo, hi);
    for (int l = 0; l < 16; ++l) {
        perChannel[l % layout.channels].add(lo[l]);
        perChannel[l % layout.channels].add(hi[l]);
    }
}

} // namespace

int SampleLayout::sampleAt(std::int64_t frame, int channel) const
{
    const std::size_t index = static_cast<std::size_t>(frame) * channels + channel;
    if (bits == 8)
        return samples[index];
    std::int16_t v;
    std::memcpy(&v, samples + 2 * index, 2);
    return v;
}

MinMax scanFrames(const SampleLayout& layout, int channel, std::int64_t first, std::int64_t last)
{
    if (!layout.valid() || channel < 0 || channel >= layout.channels)
        return {};
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, layout.frameCount - 1);
    if (first > last)
        return {};
    if (layout.bits == 8)
        return scanTyped<std::uint8_t>(layout.samples, layout.channels, channel, first, last);
    return scanTyped<std::int16_t>(layout.samples, layout.channels, channel, first, last);
}

void SampleSummary::clear()
{
    layout_ = {};
    built_ = false;
    levels_.clear();
}

bool SampleSummary::build(const SampleLayout& layout)
{
    clear();
    if (!layout.valid())
        return false;
    try {
        std::vector<Level> levels;
        std::int64_t blocks = (layout.frameCount + kBlockFrames - 1) / kBlockFrames;
        do {
            Level level;
            level.blocks = blocks;
            level.mins.resize(static_cast<std::size_t>(blocks) * layout.channels);
            level.maxs.resize(static_cast<std::size_t>(blocks) * layout.channels);
            levels.push_back(std::move(level));
            blocks = (blocks + kFanOut - 1) / kFanOut;
        } while (levels.back().blocks > kFanOut);
        levels_ = std::move(levels);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    layout_ = layout;
    built_ = true;
    if (levels_[0].blocks > 0) {
        computeBase(0, levels_[0].blocks - 1);
        for (std::size_t l = 1; l < levels_.size(); ++l)
            computeLevel(l, 0, levels_[l].blocks - 1);
    }
    return true;
}

void SampleSummary::computeBase(std::int64_t firstBlock, std::int64_t lastBlock)
{
    Level& base = levels_[0];
    const int channels = layout_.channels;
    for (std::int64_t b = firstBlock; b <= lastBlock; ++b) {
        const std::int64_t first = b * kBlockFrames;
        const std::int64_t last = std::min(first + kBlockFrames, layout_.frameCount) - 1;
        MinMax m[2];
        if (last - first + 1 == kBlockFrames) {
            if (layout_.bits == 8)
                wholeBlockExtremes<std::uint8_t>(layout_, b, m);
            else
                wholeBlockExtremes<std::int16_t>(layout_, b, m);
        } else {
            for (int c = 0; c < channels; ++c)
                m[c] = scanFrames(layout_, c, first, last);
        }
        for (int c = 0; c < channels; ++c) {
            base.mins[static_cast<std::size_t>(b) * channels + c] = static_cast<std::int16_t>(m[c].min);
            base.maxs[static_cast<std::size_t>(b) * channels + c] = static_cast<std::int16_t>(m[c].max);
        }
    }
}

void SampleSummary::computeLevel(std::size_t l, std::int64_t firstBlock, std::int64_t lastBlock)
{
    const Level& below = levels_[l - 1];
    Level& level = levels_[l];
    const int channels = layout_.channels;
    for (std::int64_t b = firstBlock; b <= lastBlock; ++b) {
        const std::int64_t childEnd = std::min((b + 1) * kFanOut, below.blocks);
        for (int c = 0; c < channels; ++c) {
            MinMax m;
            for (std::int64_t child = b * kFanOut; child < childEnd; ++child) {
                const std::size_t i = static_cast<std::size_t>(child) * channels + c;
                m.add(MinMax{below.mins[i], below.maxs[i]});
            }
            level.mins[static_cast<std::size_t>(b) * channels + c] = static_cast<std::int16_t>(m.min);
            level.maxs[static_cast<std::size_t>(b) * channels + c] = static_cast<std::int16_t>(m.max);
        }
    }
}

void SampleSummary::update(std::int64_t first, std::int64_t last)
{
    if (!built_)
        return;
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, layout_.frameCount - 1);
    if (first > last)
        return;
    std::int64_t b0 = first >> kBlockShift;
    std::int64_t b1 = last >> kBlockShift;
    computeBase(b0, b1);
    for (std::size_t l = 1; l < levels_.size(); ++l) {
        b0 >>= kLevelShift;
        b1 >>= kLevelShift;
        computeLevel(l, b0, b1);
    }
}

void SampleSummary::addBlocks(MinMax& result, std::size_t level, int channel, std::int64_t first,
                              std::int64_t end) const
{
    const int channels = layout_.channels;
    auto addRange = [&](const Level& lv, std::int64_t from, std::int64_t to) {
        const std::int16_t* mins = lv.mins.data() + channel;
        const std::int16_t* maxs = lv.maxs.data() + channel;
        int lo = result.min;
        int hi = result.max;
        for (std::int64_t b = from; b < to; ++b) {
            lo = std::min<int>(lo, mins[static_cast<std::size_t>(b) * channels]);
            hi = std::max<int>(hi, maxs[static_cast<std::size_t>(b) * channels]);
        }
        result.min = lo;
        result.max = hi;
    };
    // Whole groups of 16 blocks are taken from the next level up; only the ragged ends are read here.
    while (level + 1 < levels_.size()) {
        const std::int64_t up0 = (first + kFanOut - 1) >> kLevelShift;
        const std::int64_t up1 = end >> kLevelShift;
        if (up0 >= up1)
            break;
        addRange(levels_[level], first, up0 << kLevelShift);
        addRange(levels_[level], up1 << kLevelShift, end);
        ++level;
        first = up0;
        end = up1;
    }
    addRange(levels_[level], first, end);
}

MinMax SampleSummary::minMax(int channel, std::int64_t first, std::int64_t last) const
{
    if (!built_ || channel < 0 || channel >= layout_.channels)
        return {};
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, layout_.frameCount - 1);
    if (first > last)
        return {};
    const std::int64_t b0 = (first + kBlockFrames - 1) >> kBlockShift;  // first whole block
    const std::int64_t b1 = (last + 1) >> kBlockShift;                   // one past the last whole block
    if (b0 >= b1)
        return scanFrames(layout_, channel, first, last);
    MinMax result = scanFrames(layout_, channel, first, b0 * kBlockFrames - 1);
    result.add(scanFrames(layout_, channel, b1 * kBlockFrames, last));
    addBlocks(result, 0, channel, b0, b1);
    return result;
}

SampleSummary SampleSummary::copyFor(const unsigned char* samples) const
{
    try {
        SampleSummary copy = *this;
        copy.layout_.samples = samples;
        if (!samples)
            copy.clear();
        return copy;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::size_t SampleSummary::memoryBytes() const
{
    std::size_t total = 0;
    for (const Level& l : levels_)
        total += (l.mins.size() + l.maxs.size()) * sizeof(std::int16_t);
    return total;
}

SampleLayout layoutOf(const SoundDocument& doc)
{
    SampleLayout layout;
    if (!doc.hasData())
        return layout;
    layout.samples = doc.samples.data();
    layout.channels = doc.format.nChannels;
    layout.bits = doc.format.wBitsPerSample;
    // Never more frames than the buffer holds, whatever frameCount claims.
    const std::size_t frameBytes = static_cast<std::size_t>(layout.channels) * (layout.bits / 8);
    std::int64_t frames = std::max<std::int64_t>(doc.frameCount, 0);
    if (frameBytes > 0)
        frames = std::min<std::int64_t>(frames, static_cast<std::int64_t>(doc.samples.size() / frameBytes));
    layout.frameCount = frames;
    return layout;
}

void ensureSummary(SoundDocument& doc)
{
    const SampleLayout layout = layoutOf(doc);
    if (!layout.valid()) {
        doc.summary.clear();
        return;
    }
    if (!doc.summary.describes(layout))
        doc.summary.build(layout);
}

void noteSamplesChanged(SoundDocument& doc, std::int64_t firstFrame, std::int64_t lastFrame)
{
    if (doc.summary.describes(layoutOf(doc)))
        doc.summary.update(firstFrame, lastFrame);
}

} // namespace sonavik
