#pragma once
// Numbered selections with their alpha envelopes, and the transient red selection.

#include <array>
#include <cstdint>

namespace sonavik {

class Ui;
struct SoundDocument;

enum class SelectionKind : std::int32_t { None = 0, Green = 1, Blue = 2 };
enum class SelectionShape : std::int32_t { Linear = 0, Cos = 1, ExpPlus = 2, ExpMinus = 3, Staircase = 4 };

struct Selection {
    SelectionKind kind = SelectionKind::None;
    std::int32_t start = 0;
    std::int32_t end = 0;
    double alphaStart = 1.0;
    double alphaEnd = 1.0;
    SelectionShape shape = SelectionShape::Linear;
    double shapeParameter = 1.0;
};

inline constexpr int kSelectionSlots = 100;
using SelectionTable = std::array<Selection, kSelectionSlots>;

// One red selection for the whole program, in the view of redChannel; redStart == -1 means none.
struct RedSelection {
    std::int32_t redStart = -1;
    std::int32_t redEnd = -1;
    std::int32_t redChannel = 0;
    std::int32_t anchorFirst = 0;
    std::int32_t anchorLast = 0;

    bool exists() const { return redStart != -1; }
    void clear() { redStart = -1; }
};

// The weight in [0, 1] with which an edit acts on frame of s; the frame may lie outside the range.
// Any shape outside the five gives 0, and so does a result that is not a number.
double alphaAt(const Selection& s, std::int64_t frame);
// The parameter that choosing a shape from the menu stores: 10 steps for Staircase, 1.0 otherwise.
double menuParameterOf(SelectionShape shape);

// Lowest free slot, or -1 when all 100 are occupied.
int findFreeSlot(const SelectionTable& table);
// In range and occupied.
bool isValidSlot(const SelectionTable& table, int slot);

// Stores [start, end] (given in either order) in the lowest free slot after freeing, truncating or
// splitting whatever it overlaps, whatever its colour. A kind other than green or blue beeps; a table
// with 99 or more occupied slots says so. Both leave the table unchanged and return false.
bool addSelection(Ui& ui, SelectionTable& table, std::int32_t start, std::int32_t end, SelectionShape shape,
                  double alphaStart, double alphaEnd, double shapeParameter, SelectionKind kind);

// The operations below that take a slot do nothing for a slot that is out of range or free;
// the callers beep.
void deleteSelection(SelectionTable& table, int slot);

enum class SelectionClear { Blue, Green, All };
void clearSelections(SelectionTable& table, SelectionClear which);

// Channel 1 is the right table; any other value is the left one.
SelectionTable& selectionTable(SoundDocument& doc, int channel);
const SelectionTable& selectionTable(const SoundDocument& doc, int channel);

// addSelection of the slot's every field into the other channel's table. False without touching
// anything for a mono document, a channel other than 0 or 1, or an invalid slot.
bool copySelectionToOtherChannel(Ui& ui, SoundDocument& doc, int sourceChannel, int slot);

// Green becomes blue and blue green.
void toggleSelectionKind(SelectionTable& table, int slot);
// Also resets the parameter to the shape's menu value; the levels stay.
void setSelectionShape(SelectionTable& table, int slot, SelectionShape shape);
// Stored unchecked.
void setShapeParameter(SelectionTable& table, int slot, double value);

// Edge drags: the edge goes to frame, kept within the selection's other edge and the document's
// frames; neighbours that the edge runs into are pushed back, those it passes completely are freed.
// Nothing happens when the document has no frames.
void moveSelectionStart(SelectionTable& table, int slot, std::int64_t frame, std::int32_t frameCount);
void moveSelectionEnd(SelectionTable& table, int slot, std::int64_t frame, std::int32_t frameCount);

enum class SelectionEdge { Start, End };
// rowInBand counts from the top row of the alpha band (level 1) to its bottom row (level 0);
// rows outside the band give 1 above and 0 below.
void setEdgeAlpha(SelectionTable& table, int slot, SelectionEdge edge, int rowInBand, int bandHeight);

// Red selection drags: [first, last] is the frame range of the pointer's column.
void beginRedSelection(RedSelection& red, int channel, std::int32_t first, std::int32_t last);
void extendRedSelection(RedSelection& red, std::int32_t first, std::int32_t last);
// Adds the red range as a Linear selection with both levels 1.0 to its channel's table; the red
// selection stays. False when there is none, or as addSelection.
bool convertRedSelection(Ui& ui, SoundDocument& doc, const RedSelection& red, SelectionKind kind);
void clearRedSelection(RedSelection& red);
// For a new document: both tables emptied, no red selection, red channel back to the left.
void resetSelections(SoundDocument& doc, RedSelection& red);

} // namespace sonavik
