#include "document/selection.h"

#include "document/sound_document.h"
#include "platform/ui.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace sonavik {
namespace {

double clampAlpha(double v)
{
    if (v > 1.0)
        return 1.0;
    if (!(v >= 0.0))  // also NaN
        return 0.0;
    return v;
}

// (e^(kx) - 1) / (e^k - 1). Beyond k of about 709 e^k overflows and the plain quotient becomes inf/inf
// near the end frame; the rearranged form gives the same value without overflowing there.
double expPlusRatio(double k, double x)
{
    const double denominator = std::exp(k) - 1.0;
    if (std::isinf(denominator) && std::isfinite(k))
        return std::exp(k * (x - 1.0)) * (1.0 - std::exp(-k * x)) / (1.0 - std::exp(-k));
    return (std::exp(k * x) - 1.0) / denominator;
}

bool knownShape(SelectionShape shape)
{
    const auto value = static_cast<std::int32_t>(shape);
    return value >= 0 && value <= 4;
}

int occupiedCount(const SelectionTable& table)
{
    return static_cast<int>(std::count_if(table.begin(), table.end(),
                                          [](const Selection& s) { return s.kind != SelectionKind::None; }));
}

void showBox(Ui& ui, const char* text, const char* caption)
{
    ui.messageBox({text, caption, MessageIcon::None, MessageButtons::Ok, MessageOwner::MainWindow});
}

} // namespace

double alphaAt(const Selection& s, std::int64_t frame)
{
    const double a0 = s.alphaStart;
    const double a1 = s.alphaEnd;
    const double parameter = s.shapeParameter;
    double v = 0.0;
    if (s.start == s.end) {
        if (!knownShape(s.shape))
            return 0.0;
        v = (a0 + a1) / 2.0;
    } else {
        const double a = s.start;
        const double b = s.end;
        const double p = static_cast<double>(frame);
        const double inverseLength = 1.0 / (b - a);
        const double x = (p - a) * inverseLength;
        switch (s.shape) {
        case SelectionShape::Linear:
            v = ((b - p) * a0 + (p - a) * a1) * inverseLength;
            break;
        case SelectionShape::Cos:
            v = (a0 - a1) * std::cos(std::numbers::pi * parameter * x) * 0.5 + (a0 + a1) * 0.5;
            break;
        case SelectionShape::ExpPlus:
            v = a0 - (a0 - a1) * expPlusRatio(std::fabs(parameter), x);
            break;
        case SelectionShape::ExpMinus: {
            const double k = std::fabs(parameter);
            v = a0 + (a1 - a0) * (std::exp(-k * x) - 1.0) / (std::exp(-k) - 1.0);
            break;
        }
        case SelectionShape::Staircase: {
            const double steps = parameter >= 2.0 ? parameter : 2.0;
            v = a0 + std::floor(steps * x) * (1.0 / (steps - 1.0)) * (a1 - a0);
            break;
        }
        default:
            return 0.0;
        }
    }
    return clampAlpha(v);
}

double menuParameterOf(SelectionShape shape)
{
    return shape == SelectionShape::Staircase ? 10.0 : 1.0;
}

int findFreeSlot(const SelectionTable& table)
{
    for (int i = 0; i < kSelectionSlots; ++i)
        if (table[i].kind == SelectionKind::None)
            return i;
    return -1;
}

bool isValidSlot(const SelectionTable& table, int slot)
{
    return slot >= 0 && slot < kSelectionSlots && table[slot].kind != SelectionKind::None;
}

bool addSelection(Ui& ui, SelectionTable& table, std::int32_t start, std::int32_t end, SelectionShape shape,
                  double alphaStart, double alphaEnd, double shapeParameter, SelectionKind kind)
{
    if (kind != SelectionKind::Green && kind != SelectionKind::Blue) {
        ui.beep(BeepKind::Error);
        return false;
    }
    // One addition takes at most two slots (itself and a split-off remainder), so 98 is the most we accept.
    if (occupiedCount(table) >= 99) {
        showBox(ui, "これ以上追加できません", kAppCaption);
        return false;
    }
    if (start > end)
        std::swap(start, end);

    for (int j = 0; j < kSelectionSlots; ++j) {
        Selection& old = table[j];
        if (old.kind == SelectionKind::None || end < old.start || old.end < start)
            continue;
        if (old.start >= start && old.end <= end) {
            old.kind = SelectionKind::None;
        } else if (old.start < start) {
            if (end < old.end) {
                // The new range lies inside this one: its tail lives on as a selection of its own.
                const int freeSlot = findFreeSlot(table);
                if (freeSlot < 0) {
                    showBox(ui, "?", "??");
                } else {
                    table[freeSlot] = old;
                    table[freeSlot].start = end + 1;
                }
            }
            old.end = start - 1;
        } else {
            old.start = end + 1;
        }
    }

    const int slot = findFreeSlot(table);
    if (slot < 0) {
        showBox(ui, "??", "???");
        return false;
    }
    table[slot] = Selection{kind, start, end, alphaStart, alphaEnd, shape, shapeParameter};
    return true;
}

void deleteSelection(SelectionTable& table, int slot)
{
    if (slot >= 0 && slot < kSelectionSlots)
        table[slot].kind = SelectionKind::None;
}

void clearSelections(SelectionTable& table, SelectionClear which)
{
    for (Selection& s : table) {
        const bool clear = which == SelectionClear::All
                           || (which == SelectionClear::Blue && s.kind == SelectionKind::Blue)
                           || (which == SelectionClear::Green && s.kind == SelectionKind::Green);
        if (clear)
            s.kind = SelectionKind::None;
    }
}

SelectionTable& selectionTable(SoundDocument& doc, int channel)
{
    return channel == 1 ? doc.rightSelections : doc.leftSelections;
}

const SelectionTable& selectionTable(const SoundDocument& doc, int channel)
{
    return channel == 1 ? doc.rightSelections : doc.leftSelections;
}

bool copySelectionToOtherChannel(Ui& ui, SoundDocument& doc, int sourceChannel, int slot)
{
    if ((sourceChannel != 0 && sourceChannel != 1) || doc.format.nChannels < 2)
        return false;
    const SelectionTable& source = selectionTable(doc, sourceChannel);
    if (!isValidSlot(source, slot))
        return false;
    const Selection s = source[slot];
    return addSelection(ui, selectionTable(doc, 1 - sourceChannel), s.start, s.end, s.shape, s.alphaStart,
                        s.alphaEnd, s.shapeParameter, s.kind);
}

void toggleSelectionKind(SelectionTable& table, int slot)
{
    if (!isValidSlot(table, slot))
        return;
    SelectionKind& kind = table[slot].kind;
    if (kind == SelectionKind::Green)
        kind = SelectionKind::Blue;
    else if (kind == SelectionKind::Blue)
        kind = SelectionKind::Green;
}

void setSelectionShape(SelectionTable& table, int slot, SelectionShape shape)
{
    if (!isValidSlot(table, slot))
        return;
    table[slot].shape = shape;
    table[slot].shapeParameter = menuParameterOf(shape);
}

void setShapeParameter(SelectionTable& table, int slot, double value)
{
    if (isValidSlot(table, slot))
        table[slot].shapeParameter = value;
}

void moveSelectionStart(SelectionTable& table, int slot, std::int64_t frame, std::int32_t frameCount)
{
    if (!isValidSlot(table, slot) || frameCount <= 0)
        return;
    Selection& moved = table[slot];
    // Clamped to the document first and to the other edge last, so start <= end holds even for a
    // selection that reaches past the last frame.
    const std::int64_t limited = std::clamp<std::int64_t>(frame, 0, frameCount - 1);
    moved.start = static_cast<std::int32_t>(std::min<std::int64_t>(limited, moved.end));

    for (int j = 0; j < kSelectionSlots; ++j) {
        Selection& other = table[j];
        if (j == slot || other.kind == SelectionKind::None)
            continue;
        if (other.end >= moved.start && other.start < moved.start)
            other.end = moved.start - 1;
        else if (other.start >= moved.start && moved.end >= other.end)
            other.kind = SelectionKind::None;
    }
}

void moveSelectionEnd(SelectionTable& table, int slot, std::int64_t frame, std::int32_t frameCount)
{
    if (!isValidSlot(table, slot) || frameCount <= 0)
        return;
    Selection& moved = table[slot];
    const std::int64_t limited = std::clamp<std::int64_t>(frame, 0, frameCount - 1);
    moved.end = static_cast<std::int32_t>(std::max<std::int64_t>(limited, moved.start));

    for (int j = 0; j < kSelectionSlots; ++j) {
        Selection& other = table[j];
        if (j == slot || other.kind == SelectionKind::None)
            continue;
        if (moved.end >= other.start && moved.end < other.end)
            other.start = moved.end + 1;
        else if (other.start >= moved.start && moved.end >= other.end)
            other.kind = SelectionKind::None;
    }
}

void setEdgeAlpha(SelectionTable& table, int slot, SelectionEdge edge, int rowInBand, int bandHeight)
{
    if (!isValidSlot(table, slot))
        return;
    double level;
    if (bandHeight <= 1)
        level = rowInBand <= 0 ? 1.0 : 0.0;  // a one-row band has only its top row
    else
        level = (static_cast<double>(bandHeight) - 1.0 - rowInBand) / (static_cast<double>(bandHeight) - 1.0);
    level = std::clamp(level, 0.0, 1.0);
    if (edge == SelectionEdge::Start)
        table[slot].alphaStart = level;
    else
        table[slot].alphaEnd = level;
}

void beginRedSelection(RedSelection& red, int channel, std::int32_t first, std::int32_t last)
{
    if (first > last)
        std::swap(first, last);
    red.redChannel = channel;
    red.anchorFirst = red.redStart = first;
    red.anchorLast = red.redEnd = last;
}

void extendRedSelection(RedSelection& red, std::int32_t first, std::int32_t last)
{
    red.redStart = std::min(first, red.anchorFirst);
    red.redEnd = std::max(last, red.anchorLast);
}

bool convertRedSelection(Ui& ui, SoundDocument& doc, const RedSelection& red, SelectionKind kind)
{
    if (!red.exists())
        return false;
    return addSelection(ui, selectionTable(doc, red.redChannel), red.redStart, red.redEnd, SelectionShape::Linear,
                        1.0, 1.0, 1.0, kind);
}

void clearRedSelection(RedSelection& red)
{
    red.redStart = -1;
}

void resetSelections(SoundDocument& doc, RedSelection& red)
{
    for (Selection& s : doc.leftSelections)
        s.kind = SelectionKind::None;
    for (Selection& s : doc.rightSelections)
        s.kind = SelectionKind::None;
    red.redStart = -1;
    red.redChannel = 0;
}

} // namespace sonavik
