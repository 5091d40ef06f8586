#pragma once
// The one open sound and the record of the same shape that undo swaps it with.

#include "document/sample_summary.h"
#include "document/selection.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sonavik {

class Ui;

// The fields of a RIFF "fmt " chunk, plus cbSize, which is never written to a file.
struct WaveFormat {
    std::uint16_t wFormatTag = 1;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};

inline constexpr std::size_t kFormatBlockSize = 16;
// The 16-byte body of a "fmt " chunk in file byte order, and back.
void encodeFormatBlock(const WaveFormat& format, unsigned char out[kFormatBlockSize]);
WaveFormat decodeFormatBlock(const unsigned char in[kFormatBlockSize]);

// Heap bytes of interleaved PCM in data-chunk encoding. A buffer of zero bytes still counts as data;
// only a null buffer means "no data".
class SampleBuffer {
public:
    SampleBuffer() = default;
    // Null (no data) when the memory cannot be had. The bytes are not initialised.
    static SampleBuffer allocate(std::size_t size);
    SampleBuffer clone() const;

    bool isNull() const { return !bytes_; }
    std::size_t size() const { return size_; }
    unsigned char* data() { return bytes_.get(); }
    const unsigned char* data() const { return bytes_.get(); }
    void reset() { bytes_.reset(); size_ = 0; }
    // Uses only the first size bytes from now on; the memory stays.
    void truncate(std::size_t size) { size_ = size < size_ ? size : size_; }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_ = 0;
};

// First visible frame, amplitude at the bottom edge, pixels per frame, pixels per amplitude unit.
struct ViewState {
    double x0 = 0.0;
    double y0 = 0.0;
    double sx = 1.0;
    double sy = 1.0;
};

inline constexpr std::size_t kPathCapacity = 1000;  // path buffers hold 999 characters and a NUL

struct SoundDocument {
    WaveFormat format;
    std::int32_t frameCount = 0;
    SampleBuffer samples;
    std::int32_t modified = 0;
    std::string path;
    // Opened from another kind of file, or converted: saving never goes back over path by itself.
    bool converted = false;
    ViewState leftView;
    ViewState rightView;
    SelectionTable leftSelections{};
    SelectionTable rightSelections{};
    // Block extremes of samples for fast drawing; empty, or describing exactly the samples beside it.
    SampleSummary summary;

    bool hasData() const { return !samples.isNull(); }
    // Bytes of nBlockAlign x frameCount, the size of samples.
    std::size_t byteCount() const;
    // A copy of every field, with a private copy of the samples (null if they cannot be had) and of a
    // summary that describes them.
    SoundDocument copyWithSamples() const;
    // A copy of every field except the samples, which stay null, and the summary, which stays empty.
    SoundDocument copyWithoutSamples() const;
};

// Copies the current document, samples included, into the undo store before an edit. Without data, or
// when the copy cannot be allocated, sounds the default beep and returns false; the store then holds
// the current record without samples.
bool snapshotForEdit(const SoundDocument& current, SoundDocument& undoStore, Ui& ui);
// The current document with its buffer becomes the undo store; the current one is left without data.
void moveToUndoStore(SoundDocument& current, SoundDocument& undoStore);
void swapWithUndoStore(SoundDocument& current, SoundDocument& undoStore);
void releaseAll(SoundDocument& current, SoundDocument& undoStore);

} // namespace sonavik
