#pragma once
// Per-channel minimum and maximum of every block of 256 frames, and of every 16 of those blocks again
// (4096, 65536, ... frames), so the extremes of any frame range cost about as much as reading 500
// samples however long the range is.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sonavik {

struct SoundDocument;

// Raw amplitudes: 0 to 255 for 8-bit data, -32768 to 32767 for 16-bit data. min > max means "no frame".
struct MinMax {
    int min = 1 << 30;
    int max = -(1 << 30);

    bool isEmpty() const { return min > max; }
    void add(int v)
    {
        if (v < min)
            min = v;
        if (v > max)
            max = v;
    }
    void add(const MinMax& other)
    {
        if (other.min < min)
            min = other.min;
        if (other.max > max)
            max = other.max;
    }
    friend bool operator==(const MinMax&, const MinMax&) = default;
};

// The samples a summary describes: interleaved PCM in data-chunk encoding.
struct SampleLayout {
    const unsigned char* samples = nullptr;
    std::int64_t frameCount = 0;
    int channels = 0;
    int bits = 0;

    bool valid() const { return samples && frameCount >= 0 && (channels == 1 || channels == 2) && (bits == 8 || bits == 16); }
    int sampleAt(std::int64_t frame, int channel) const;
    friend bool operator==(const SampleLayout&, const SampleLayout&) = default;
};

// Every frame of [first, last] of one channel read one by one: the reference the summary must equal.
// The range is limited to the frames that exist.
MinMax scanFrames(const SampleLayout& layout, int channel, std::int64_t first, std::int64_t last);

class SampleSummary {
public:
    static constexpr int kBlockShift = 8;  // 256 frames per finest block
    static constexpr int kLevelShift = 4;  // 16 blocks per block of the next level

    // One pass over the samples. False (and an empty summary) when the memory cannot be had or the
    // layout is not one the editor reads.
    bool build(const SampleLayout& layout);
    void clear();
    bool empty() const { return !built_; }
    // True only for a summary built from exactly this buffer, length and format.
    bool describes(const SampleLayout& layout) const { return built_ && layout_ == layout; }
    const SampleLayout& layout() const { return layout_; }

    // Re-reads the frames [first, last] (limited to the frames that exist) after they were changed in place.
    void update(std::int64_t first, std::int64_t last);
    // The extremes of channel over [first, last], limited to the frames that exist; equal to scanFrames.
    MinMax minMax(int channel, std::int64_t first, std::int64_t last) const;

    // A copy for an identical copy of the bytes at another address; empty if the memory cannot be had.
    SampleSummary copyFor(const unsigned char* samples) const;
    std::size_t memoryBytes() const;

private:
    struct Level {
        std::int64_t blocks = 0;
        std::vector<std::int16_t> mins;  // [block * channels + channel]
        std::vector<std::int16_t> maxs;
    };

    void computeBase(std::int64_t firstBlock, std::int64_t lastBlock);
    void computeLevel(std::size_t level, std::int64_t firstBlock, std::int64_t lastBlock);
    void addBlocks(MinMax& result, std::size_t level, int channel, std::int64_t first, std::int64_t end) const;

    SampleLayout layout_;
    bool built_ = false;
    std::vector<Level> levels_;
};

// Builds the document's summary unless it already describes the document's samples; clears it for a
// document without data. Leaves it empty when the memory cannot be had (rendering then reads every frame).
void ensureSummary(SoundDocument& doc);
// To be called after samples [firstFrame, lastFrame] were changed in place. A summary that no longer
// matches the buffer, length or format is left for ensureSummary to rebuild.
void noteSamplesChanged(SoundDocument& doc, std::int64_t firstFrame, std::int64_t lastFrame);
// The layout of the document's samples (samples null when it has no data).
SampleLayout layoutOf(const SoundDocument& doc);

} // namespace sonavik
