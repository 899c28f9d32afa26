// Whether an LED box shows its whole cell, judged by pixels: each segment lit exactly as the
// cell's figure says, and the box's outer columns dark (no slice of a neighbouring cell). Used
// on a box's own picture and on a picture of the whole window, which the docs show.
#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>
#include <algorithm>
#include <string>

#include "deck/led_artwork.h"
#include "deck/led_box.h"

namespace led_pixels {

inline bool IsGreen(QRgb p) { return qGreen(p) > 100 && qGreen(p) > qRed(p) + 50 && qGreen(p) > qBlue(p) + 50; }
inline bool IsDark(QRgb p) { return qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) < 40; }

// What is wrong with `box` as `img` shows it, with the box's top-left corner at `origin` (in
// logical pixels) and `ratio` device pixels to a logical one; "" when the cell is whole.
inline std::string Problems(const QImage& img, QPointF origin, const deck::LedBox* box, qreal ratio)
{
    const int cell = box->Shown();
    const std::string name = box->objectName().toStdString();
    const auto at = [&](qreal x, qreal y) {
        return img.pixel(std::clamp(static_cast<int>((origin.x() + x) * ratio), 0, img.width() - 1),
                         std::clamp(static_cast<int>((origin.y() + y) * ratio), 0, img.height() - 1));
    };
    std::string out;
    if (cell == deck::LedBox::kEmpty) {
        for (qreal y = 0.5; y < deck::kCellHeight; y += 1)
            for (qreal x = 0.5; x < deck::kCellWidth; x += 1)
                if (!IsDark(at(x, y)))
                    return name + " is not dark; ";
        return {};
    }
    if (cell < 0 || cell >= deck::kCellCount)
        return name + " shows no known cell; ";
    // Centres of segments a to g in logical pixels. A cut strip shifts the figure sideways, so
    // a right-hand segment goes missing or a dash gains one.
    const QPointF centres[7] = {{8.5, 3.5}, {13.5, 9}, {13.5, 20}, {8.5, 25.5}, {3.5, 20}, {3.5, 9}, {8.5, 14.5}};
    for (int s = 0; s < 7; ++s) {
        const bool lit = deck::SegmentsOfCell(cell) & (1u << s);
        if (IsGreen(at(centres[s].x(), centres[s].y())) != lit)
            out += name + " cell " + std::to_string(cell) + " segment " + char('a' + s) + (lit ? " dark; " : " lit; ");
    }
    for (qreal y = 0.5; y < deck::kCellHeight; y += 1) {
        if (!IsDark(at(0.3, y)) || !IsDark(at(16.4, y))) {
            out += name + " has a lit edge at y " + std::to_string(y) + "; ";
            break;
        }
    }
    return out;
}

// Every LED box of `window` in its picture `img` (taken at `ratio`).
template <class Boxes>
std::string WindowProblems(const QImage& img, const QWidget* window, const Boxes& rows, qreal ratio)
{
    std::string out;
    for (const auto* row : rows)
        for (const deck::LedBox* box : *row)
            out += Problems(img, box->mapTo(window, QPointF(0, 0)), box, ratio);
    return out;
}

}  // namespace led_pixels
