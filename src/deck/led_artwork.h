// The LED panel's artwork: the glyph strip (14 seven-segment cells) and the lit colon,
// drawn from segment geometry so that they stay crisp at any device pixel ratio.
#pragma once

#include <QPixmap>
#include <vector>

namespace deck {

inline constexpr int kCellWidth = 17;
inline constexpr int kCellHeight = 29;
inline constexpr int kCellCount = 14;
inline constexpr int kColonWidth = 9;

// Cells of the strip after the ten digits.
inline constexpr int kCellDash = 10;
inline constexpr int kCellD = 11;
inline constexpr int kCellA = 12;
inline constexpr int kCellT = 13;

// Segments a to g of a seven-segment figure, one bit each (a = bit 0 ... g = bit 6).
unsigned SegmentsOfCell(int cell);

// The strip, 238 x 29 logical pixels: cells 0-9 the digits, then dash, d, A, t; bright green
// on black. Rendered at `devicePixelRatio` device pixels per logical pixel.
QPixmap MakeGlyphStrip(qreal devicePixelRatio);

// One cell of the strip drawn on its own, 17 x 29 logical pixels. At a fractional ratio
// (1.25, 1.5) a cell of the strip does not start on a whole device pixel, so the panel
// draws each cell by itself rather than cutting the strip; a null pixmap outside 0-13.
QPixmap MakeGlyphCell(int cell, qreal devicePixelRatio);
// Cells 0-13, each by MakeGlyphCell.
std::vector<QPixmap> MakeGlyphCells(qreal devicePixelRatio);

// The lit colon, 9 x 29 logical pixels: two green dots on black.
QPixmap MakeLitColon(qreal devicePixelRatio);

// The lit segments' colour.
QColor LedGreen();

}  // namespace deck
