#pragma once
// Numbered selections with their alpha envelopes, and the transient red selection.

#include <array>
#include <cstdint>

namespace sonavik {

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

} // namespace sonavik
