#include "edit/trim_delete.h"

#include "document/workspace.h"
#include "edit/command_ids.h"
#include "edit/edit_dispatcher.h"
#include "platform/os.h"
#include "platform/ui.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sonavik {
namespace {

// Inclusive frames of one targeted region, limited to the frames the source has.
struct Span {
    std::int64_t first;
    std::int64_t last;
    std::int64_t length() const { return last - first + 1; }
};

Span clampSpan(std::int64_t start, std::int64_t end, std::int64_t length)
{
    return {std::max<std::int64_t>(start, 0), std::min<std::int64_t>(end, length - 1)};
}

// Sorted spans merged where they overlap, so each deleted frame counts once.
std::vector<Span> unionOf(const std::vector<Span>& sorted)
{
    std::vector<Span> out;
    for (const Span& s : sorted) {
        if (!out.empty() && s.first <= out.back().last + 1)
            out.back().last = std::max(out.back().last, s.last);
        else
            out.push_back(s);
    }
    return out;
}

// How many deleted frames lie below frame: a frame's new place is frame minus this.
std::int64_t deletedBelow(const std::vector<Span>& merged, std::int64_t frame)
{
    std::int64_t n = 0;
    for (const Span& s : merged) {
        if (s.first >= frame)
            break;
        n += std::min(s.last, frame - 1) - s.first + 1;
    }
    return n;
}

std::int32_t toFrame(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

bool isWholeChannelTarget(int target) { return target >= 0 && target <= 2; }

// Whether slot of channel's table is one of the target's selections (codes 3 to 11, 13, 14).
bool isTargetedSlot(const Selection& s, int target, int channel, int slotIndex, int givenSlot)
{
    if (s.kind == SelectionKind::None)
        return false;
    if (target == 13 || target == 14)
        return slotIndex == givenSlot && channel == (target == 13 ? 0 : 1);
    switch (target % 3) {
    case 0:  // 3, 6, 9
        return true;
    case 1:  // 4, 7, 10
        return s.kind == SelectionKind::Blue;
    default:  // 5, 8, 11
        return s.kind == SelectionKind::Green;
    }
}

class SampleCopier {
public:
    SampleCopier(const SoundDocument& from, SoundDocument& to, int channel)
        : src_(from.samples.data()), dst_(to.samples.data()), channels_(from.format.nChannels),
          size_(from.format.wBitsPerSample == 8 ? 1 : 2), channel_(channel), limit_(to.frameCount)
    {
    }
    // Appends source frames [first, last]; nothing beyond the new length is written.
    void append(std::int64_t first, std::int64_t last)
    {
        for (std::int64_t p = first; p <= last && next_ < limit_; ++p, ++next_)
            std::memcpy(dst_ + offset(next_), src_ + offset(p), size_);
    }

private:
    std::size_t offset(std::int64_t frame) const
    {
        return (static_cast<std::size_t>(frame) * channels_ + channel_) * size_;
    }
    const unsigned char* src_;
    unsigned char* dst_;
    int channels_;
    std::size_t size_;
    int channel_;
    std::int64_t limit_;
    std::int64_t next_ = 0;
};

} // namespace

bool trimOrDelete(Workspace& ws, Ui& ui, int commandId, int target, int slot)
{
    const bool trim = commandId == cmd::Trim;
    if (!trim && commandId != cmd::Delete)
        return false;
    SoundDocument& doc = ws.document;
    const SoundDocument& source = ws.undoStore;
    const int channels = source.format.nChannels;
    const std::int64_t length = source.frameCount;
    const std::size_t sampleSize = source.format.wBitsPerSample == 8 ? 1 : 2;
    if (!source.hasData() || (channels != 1 && channels != 2) || length < 0
        || source.samples.size() < static_cast<std::size_t>(length) * channels * sampleSize) {
        ui.beep(BeepKind::Default);
        return false;
    }

    const std::vector<EditRegion> regions = targetRegions(source, ws.red, target, slot);
    bool targeted[2] = {false, false};
    std::vector<Span> spans[2];
    std::int64_t newLength[2] = {0, 0};
    for (int c = 0; c < channels; ++c) {
        targeted[c] = targetsChannel(target, c, ws.red);
        std::int64_t sum = 0;
        if (targeted[c]) {
            for (const EditRegion& r : regions) {
                const Span s = clampSpan(r.start, r.end, length);
                if (r.channel == c && s.first <= s.last) {
                    spans[c].push_back(s);
                    sum += s.length();
                }
            }
            std::stable_sort(spans[c].begin(), spans[c].end(),
                             [](const Span& a, const Span& b) { return a.first < b.first; });
        }
        newLength[c] = trim ? (targeted[c] ? sum : 0) : (targeted[c] ? length - sum : length);
    }
    const std::int64_t newFrames = std::max(newLength[0], newLength[1]);
    if (newFrames < 0) {
        showError(ui, "新しい長さがゼロ未満（バグ）");
        return false;
    }

    doc.samples.reset();
    doc.summary.clear();
    const std::size_t bytes = static_cast<std::size_t>(source.format.nBlockAlign) * static_cast<std::size_t>(newFrames);
    if (memoryRoomFor(bytes))
        doc.samples = SampleBuffer::allocate(bytes);
    if (doc.samples.isNull()) {
        showError(ui, "メモリ割り当てに失敗しました。undo してください。");
        return false;
    }
    std::memset(doc.samples.data(), source.format.wBitsPerSample == 8 ? 128 : 0, bytes);
    doc.frameCount = static_cast<std::int32_t>(newFrames);
    ui.setCursor(CursorKind::Wait);

    for (int c = 0; c < channels; ++c) {
        SampleCopier copy(source, doc, c);
        if (!targeted[c]) {
            if (!trim)
                copy.append(0, length - 1);
        } else if (trim) {
            for (const Span& s : spans[c])
                copy.append(s.first, s.last);
        } else {
            std::int64_t next = 0;
            for (const Span& s : spans[c]) {
                copy.append(next, s.first - 1);
                next = std::max(next, s.last + 1);
            }
            copy.append(next, length - 1);
        }
    }

    for (int c = 0; c < 2; ++c) {
        const SelectionTable& from = selectionTable(source, c);
        SelectionTable& to = selectionTable(doc, c);
        to = from;
        const bool channelTargeted = c < channels && targeted[c];
        if (!channelTargeted) {
            if (trim)
                clearSelections(to, SelectionClear::All);
            continue;
        }
        const std::vector<Span> merged = unionOf(spans[c]);
        if (isWholeChannelTarget(target)) {
            if (!trim)
                clearSelections(to, SelectionClear::All);
        } else if (target == 12) {
            if (trim) {
                const std::int64_t first = merged.empty() ? 0 : merged.front().first;
                const std::int64_t n = merged.empty() ? 0 : merged.front().length();
                for (Selection& s : to) {
                    if (s.kind == SelectionKind::None)
                        continue;
                    s.start = toFrame(std::max<std::int64_t>(s.start - first, 0));
                    s.end = toFrame(std::min<std::int64_t>(s.end - first, n - 1));
                }
            } else {
                for (Selection& s : to) {
                    if (s.kind == SelectionKind::None)
                        continue;
                    s.start = toFrame(s.start - deletedBelow(merged, s.start));
                    s.end = toFrame(s.end - deletedBelow(merged, static_cast<std::int64_t>(s.end) + 1));
                }
            }
        } else if (trim) {
            std::vector<int> kept;
            for (int i = 0; i < kSelectionSlots; ++i) {
                if (isTargetedSlot(to[i], target, c, i, slot))
                    kept.push_back(i);
                else
                    to[i].kind = SelectionKind::None;
            }
            std::stable_sort(kept.begin(), kept.end(), [&](int a, int b) { return to[a].start < to[b].start; });
            std::int64_t next = 0;
            for (int i : kept) {
                const Span s = clampSpan(to[i].start, to[i].end, length);
                const std::int64_t n = std::max<std::int64_t>(s.length(), 0);
                to[i].start = toFrame(next);
                to[i].end = toFrame(next + n - 1);
                next += n;
            }
        } else {
            for (int i = 0; i < kSelectionSlots; ++i) {
                Selection& s = to[i];
                if (isTargetedSlot(s, target, c, i, slot)) {
                    s.kind = SelectionKind::None;
                } else if (s.kind != SelectionKind::None) {
                    s.start = toFrame(s.start - deletedBelow(merged, s.start));
                    s.end = toFrame(s.end - deletedBelow(merged, static_cast<std::int64_t>(s.end) + 1));
                }
            }
        }
    }

    clearRedSelection(ws.red);
    for (SelectionTable* table : {&doc.leftSelections, &doc.rightSelections})
        for (Selection& s : *table)
            if (s.kind != SelectionKind::None && s.end < s.start)
                s.kind = SelectionKind::None;
    return true;
}

} // namespace sonavik
