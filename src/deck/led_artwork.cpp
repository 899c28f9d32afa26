#include "deck/led_artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <array>

namespace deck {
namespace {

// Segment centre lines in one cell. Edges fall on whole pixels (stroke 3 around .5
// centres), so the figures are sharp at 1x; only the bevelled ends are antialiased.
constexpr qreal kLeft = 3.5, kRight = 13.5;
constexpr qreal kTop = 3.5, kMiddle = 14.5, kBottom = 25.5;
constexpr qreal kHalf = 1.5;  // half the stroke
constexpr qreal kGap = 0.6;   // between neighbouring segments

// A bevelled bar from p to q (horizontal or vertical), the classic segment shape.
QPolygonF Segment(QPointF p, QPointF q)
{
    const bool horizontal = p.y() == q.y();
    const QPointF along = horizontal ? QPointF(1, 0) : QPointF(0, 1);
    const QPointF across = horizontal ? QPointF(0, 1) : QPointF(1, 0);
    const QPointF a = p + along * kGap, b = q - along * kGap;
    return QPolygonF({a, a + (along - across) * kHalf, b - (along + across) * kHalf, b,
                      b + (across - along) * kHalf, a + (along + across) * kHalf});
}

std::array<QPolygonF, 7> SegmentShapes(qreal x0)
{
    const auto pt = [x0](qreal x, qreal y) { return QPointF(x0 + x, y); };
    return {
        Segment(pt(kLeft, kTop), pt(kRight, kTop)),          // a
        Segment(pt(kRight, kTop), pt(kRight, kMiddle)),      // b
        Segment(pt(kRight, kMiddle), pt(kRight, kBottom)),   // c
        Segment(pt(kLeft, kBottom), pt(kRight, kBottom)),    // d
        Segment(pt(kLeft, kMiddle), pt(kLeft, kBottom)),     // e
        Segment(pt(kLeft, kTop), pt(kLeft, kMiddle)),        // f
        Segment(pt(kLeft, kMiddle), pt(kRight, kMiddle)),    // g
    };
}

QPixmap BlackPixmap(int width, qreal dpr)
{
    QPixmap pix(qRound(width * dpr), qRound(kCellHeight * dpr));
    pix.setDevicePixelRatio(dpr);
    pix.fill(Qt::black);
    return pix;
}

// A faint halo under the lit shape, as the light of a real display spreads a little.
void DrawLit(QPainter& p, const QPainterPath& shape)
{
    p.setPen(QPen(QColor(40, 200, 70, 60), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
    p.setPen(Qt::NoPen);
    p.setBrush(LedGreen());
    p.drawPath(shape);
}

}  // namespace

QColor LedGreen() { return QColor(70, 255, 100); }

unsigned SegmentsOfCell(int cell)
{
    // Bits: a b c d e f g from bit 0.
    static constexpr std::array<unsigned, kCellCount> kTable{
        0b0111111,  // 0
        0b0000110,  // 1
        0b1011011,  // 2
        0b1001111,  // 3
        0b1100110,  // 4
        0b1101101,  // 5
        0b1111101,  // 6
        0b0000111,  // 7
        0b1111111,  // 8
        0b1101111,  // 9
        0b1000000,  // dash
        0b1011110,  // d
        0b1110111,  // A
        0b1111000,  // t
    };
    return cell >= 0 && cell < kCellCount ? kTable[static_cast<std::size_t>(cell)] : 0;
}

namespace {

void DrawCell(QPainter& p, int cell, qreal x0)
{
    const auto shapes = SegmentShapes(x0);
    QPainterPath lit;
    lit.setFillRule(Qt::WindingFill);
    for (std::size_t s = 0; s < shapes.size(); ++s)
        if (SegmentsOfCell(cell) & (1u << s))
            lit.addPolygon(shapes[s]);
    lit.closeSubpath();
    DrawLit(p, lit);
}

}  // namespace

QPixmap MakeGlyphStrip(qreal devicePixelRatio)
{
    QPixmap strip = BlackPixmap(kCellWidth * kCellCount, devicePixelRatio);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    for (int cell = 0; cell < kCellCount; ++cell)
        DrawCell(p, cell, cell * kCellWidth);
    return strip;
}

QPixmap MakeGlyphCell(int cell, qreal devicePixelRatio)
{
    if (cell < 0 || cell >= kCellCount)
        return {};
    QPixmap pix = BlackPixmap(kCellWidth, devicePixelRatio);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    DrawCell(p, cell, 0);
    return pix;
}

std::vector<QPixmap> MakeGlyphCells(qreal devicePixelRatio)
{
    std::vector<QPixmap> cells;
    for (int cell = 0; cell < kCellCount; ++cell)
        cells.push_back(MakeGlyphCell(cell, devicePixelRatio));
    return cells;
}

QPixmap MakeLitColon(qreal devicePixelRatio)
{
    QPixmap colon = BlackPixmap(kColonWidth, devicePixelRatio);
    QPainter p(&colon);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath dots;
    // Level with the upper and lower halves of the digits beside it.
    dots.addRect(QRectF(3, 8, 3, 3));
    dots.addRect(QRectF(3, 19, 3, 3));
    DrawLit(p, dots);
    return colon;
}

}  // namespace deck
