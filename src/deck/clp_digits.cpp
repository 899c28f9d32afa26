#include "deck/clp_digits.h"

#include <QRect>

namespace deck {

clpDigits::clpDigits(QPixmap picture, int cols, int rows)
    : picture_(std::move(picture)), cols_(cols > 0 ? cols : 1), rows_(rows > 0 ? rows : 1)
{
}

clpDigits::clpDigits(std::vector<QPixmap> cells)
    : cells_(std::move(cells)), cols_(cells_.empty() ? 1 : static_cast<int>(cells_.size())), rows_(1)
{}

int clpDigits::CellWidth() const
{
    if (!cells_.empty())
        return qRound(cells_.front().deviceIndependentSize().width());
    return qRound(picture_.deviceIndependentSize().width()) / cols_;
}

int clpDigits::CellHeight() const
{
    if (!cells_.empty())
        return qRound(cells_.front().deviceIndependentSize().height());
    return qRound(picture_.deviceIndependentSize().height()) / rows_;
}

QPixmap clpDigits::GraphicCell(int index) const
{
    if (index < 0 || index >= CellCount())
        return {};
    if (!cells_.empty())
        return cells_[static_cast<std::size_t>(index)];
    if (picture_.isNull())
        return {};
    // Cut in device pixels, so a 2x strip yields 2x cells without resampling.
    const int w = picture_.width() / cols_;
    const int h = picture_.height() / rows_;
    QPixmap cell = picture_.copy(QRect((index % cols_) * w, (index / cols_) * h, w, h));
    cell.setDevicePixelRatio(picture_.devicePixelRatio());
    return cell;
}

}  // namespace deck
