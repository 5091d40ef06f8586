#include "document/sound_document.h"

#include "platform/os.h"
#include "platform/ui.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace sonavik {

void encodeFormatBlock(const WaveFormat& f, unsigned char out[kFormatBlockSize])
{
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        out[at] = static_cast<unsigned char>(v);
        out[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    put16(0, f.wFormatTag);
    put16(2, f.nChannels);
    put32(4, f.nSamplesPerSec);
    put32(8, f.nAvgBytesPerSec);
    put16(12, f.nBlockAlign);
    put16(14, f.wBitsPerSample);
}

WaveFormat decodeFormatBlock(const unsigned char in[kFormatBlockSize])
{
    auto get16 = [&](std::size_t at) { return static_cast<std::uint16_t>(in[at] | (in[at + 1] << 8)); };
    auto get32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(in[at]) | (static_cast<std::uint32_t>(in[at + 1]) << 8)
               | (static_cast<std::uint32_t>(in[at + 2]) << 16) | (static_cast<std::uint32_t>(in[at + 3]) << 24);
    };
    WaveFormat f;
    f.wFormatTag = get16(0);
    f.nChannels = get16(2);
    f.nSamplesPerSec = get32(4);
    f.nAvgBytesPerSec = get32(8);
    f.nBlockAlign = get16(12);
    f.wBitsPerSample = get16(14);
    f.cbSize = 0;
    return f;
}

SampleBuffer SampleBuffer::allocate(std::size_t size)
{
    SampleBuffer buffer;
    // Plain new[] leaves the bytes uninitialised: an hour of sound is not zeroed just to be overwritten.
    buffer.bytes_.reset(new (std::nothrow) unsigned char[size == 0 ? 1 : size]);
    buffer.size_ = buffer.bytes_ ? size : 0;
    return buffer;
}

SampleBuffer SampleBuffer::clone() const
{
    if (isNull())
        return {};
    SampleBuffer copy = allocate(size_);
    if (copy.isNull() || size_ == 0)
        return copy;
    // The copy's pages are new: most of the time of copying an hour goes into the system mapping them,
    // which every core can do for its own share at once (the undo copy of every edit is one).
    constexpr std::size_t kShareUnit = std::size_t{1} << 21;
    constexpr std::size_t kMinShare = std::size_t{16} << 20;
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t shares = std::min<std::size_t>({cores, 4, std::max<std::size_t>(1, size_ / kMinShare)});
    const std::size_t share = (size_ / shares + kShareUnit - 1) / kShareUnit * kShareUnit;
    auto copyShare = [&](std::size_t i) {
        const std::size_t from = std::min(size_, i * share);
        const std::size_t to = std::min(size_, from + share);
        std::memcpy(copy.data() + from, data() + from, to - from);
    };
    std::vector<std::thread> helpers;
    std::size_t done = 1; // share 0 is this thread's
    for (; done < shares; ++done) {
        try {
            helpers.emplace_back(copyShare, done);
        } catch (const std::system_error&) {
            break;
        }
    }
    for (std::size_t i = done; i < shares; ++i)
        copyShare(i);
    copyShare(0);
    for (std::thread& helper : helpers)
        helper.join();
    return copy;
}

std::size_t SoundDocument::byteCount() const
{
    if (frameCount <= 0)
        return 0;
    return static_cast<std::size_t>(format.nBlockAlign) * static_cast<std::size_t>(frameCount);
}

namespace {

// The summary of `from` rebound to the identical bytes of `to`, or an empty one when it did not describe
// `from` or `to` has no samples.
SampleSummary summaryForCopy(const SoundDocument& from, const SoundDocument& to)
{
    if (to.samples.isNull() || !from.summary.describes(layoutOf(from)))
        return {};
    return from.summary.copyFor(to.samples.data());
}

} // namespace

SoundDocument SoundDocument::copyWithoutSamples() const
{
    SoundDocument copy;
    copy.format = format;
    copy.frameCount = frameCount;
    copy.modified = modified;
    copy.path = path;
    copy.converted = converted;
    copy.leftView = leftView;
    copy.rightView = rightView;
    copy.leftSelections = leftSelections;
    copy.rightSelections = rightSelections;
    return copy;
}

SoundDocument SoundDocument::copyWithSamples() const
{
    SoundDocument copy = copyWithoutSamples();
    copy.samples = samples.clone();
    copy.summary = summaryForCopy(*this, copy);
    return copy;
}

bool snapshotForEdit(const SoundDocument& current, SoundDocument& undoStore, Ui& ui)
{
    if (!current.hasData()) {
        ui.beep(BeepKind::Default);
        return false;
    }
    // The store's old buffer goes first; its memory is then part of the room for the copy.
    undoStore = current.copyWithoutSamples();
    const std::size_t bytes = current.samples.size();
    if (!memoryRoomFor(bytes) || (undoStore.samples = current.samples.clone()).isNull()) {
        ui.beepWithReason(BeepKind::Default, noMemoryReason("the undo copy of the sound", bytes));
        return false;
    }
    undoStore.summary = summaryForCopy(current, undoStore);
    return true;
}

void moveToUndoStore(SoundDocument& current, SoundDocument& undoStore)
{
    undoStore = current.copyWithoutSamples();
    undoStore.samples = std::move(current.samples);
    undoStore.summary = std::move(current.summary);
    current.samples.reset();
    current.summary.clear();
}

void swapWithUndoStore(SoundDocument& current, SoundDocument& undoStore)
{
    std::swap(current, undoStore);
}

void releaseAll(SoundDocument& current, SoundDocument& undoStore)
{
    undoStore.samples.reset();
    undoStore.summary.clear();
    current.samples.reset();
    current.summary.clear();
}

} // namespace sonavik
