#pragma once
// The views' bitmap font: one 5 x 7 glyph for each character code 32 to 126.

#include <cstdint>

namespace sonavik {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = 6;

inline constexpr bool hasGlyph(unsigned char code) { return code >= 32 && code <= 126; }

// Row 0 is the top row. Bit 4 is the leftmost column, bit 0 the rightmost; 0 for codes without a glyph.
std::uint8_t glyphRow(unsigned char code, int row);

} // namespace sonavik
