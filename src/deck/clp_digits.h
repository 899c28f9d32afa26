// clpDigits: cuts one bitmap into equal cells and hands out the picture of a cell by index
// (one row of 14 cells for the LED glyph strip).
#pragma once

#include <QPixmap>
#include <vector>

namespace deck {

class clpDigits {
public:
    // `picture` is divided into `rows` x `cols` cells of equal logical size.
    explicit clpDigits(QPixmap picture, int cols = 14, int rows = 1);
    // Cells drawn one by one (one row): handed out as they are, never cut, so they stay
    // whole at a fractional device pixel ratio.
    explicit clpDigits(std::vector<QPixmap> cells);

    int CellCount() const { return cols_ * rows_; }
    int CellWidth() const;   // logical pixels
    int CellHeight() const;
    // The picture of cell `index` (numbered row by row from the top left), at the strip's
    // device pixel ratio; a null pixmap for an index outside the strip.
    QPixmap GraphicCell(int index) const;

private:
    QPixmap picture_;
    std::vector<QPixmap> cells_;
    int cols_;
    int rows_;
};

}  // namespace deck
