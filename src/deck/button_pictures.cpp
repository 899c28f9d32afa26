#include "deck/button_pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

namespace deck {
namespace {

constexpr qreal kCx = kButtonPictureWidth / 2.0;
constexpr qreal kCy = kButtonPictureHeight / 2.0;
constexpr qreal kSymbolHalfHeight = 5.5;
constexpr qreal kTriangleWidth = 8.0;
constexpr qreal kBarWidth = 2.5;

QPainterPath RightTriangle(qreal left)
{
    QPainterPath p;
    p.moveTo(left, kCy - kSymbolHalfHeight);
    p.lineTo(left + kTriangleWidth, kCy);
    p.lineTo(left, kCy + kSymbolHalfHeight);
    p.closeSubpath();
    return p;
}

QPainterPath Bar(qreal left)
{
    QPainterPath p;
    p.addRect(QRectF(left, kCy - kSymbolHalfHeight, kBarWidth, 2 * kSymbolHalfHeight));
    return p;
}

// Pieces laid out left to right, centred on the face.
QPainterPath Row(std::initializer_list<char> pieces, qreal spacing)
{
    qreal width = 0;
    for (char c : pieces)
        width += (c == '|' ? kBarWidth : kTriangleWidth);
    width += spacing * (static_cast<qreal>(pieces.size()) - 1);
    qreal x = kCx - width / 2;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (char c : pieces) {
        path.addPath(c == '|' ? Bar(x) : RightTriangle(x));
        x += (c == '|' ? kBarWidth : kTriangleWidth) + spacing;
    }
    return path;
}

QPainterPath Mirrored(const QPainterPath& path)
{
    return QTransform(-1, 0, 0, 1, kButtonPictureWidth, 0).map(path);
}

QPainterPath Symbol(TransportPicture picture)
{
    QPainterPath p;
    p.setFillRule(Qt::WindingFill);
    switch (picture) {
    case TransportPicture::Play:
        return Row({'>'}, 0).translated(1, 0);  // optical centre of a triangle
    case TransportPicture::Stop:
        p.addRect(QRectF(kCx - 5, kCy - 5, 10, 10));
        return p;
    case TransportPicture::Cue:
        return Row({'>', '>'}, 0);
    case TransportPicture::Record:
        p.addEllipse(QPointF(kCx, kCy), 5.5, 5.5);
        return p;
    case TransportPicture::SkipForward:
        return Row({'>', '|'}, 1);
    case TransportPicture::SkipBack:
        return Mirrored(Row({'>', '|'}, 1));
    case TransportPicture::Eot:
        return Row({'>', '>', '|'}, 0);
    case TransportPicture::Bot:
        return Mirrored(Row({'>', '>', '|'}, 0));
    case TransportPicture::Eject:
        p.moveTo(kCx - 6.5, kCy + 1);
        p.lineTo(kCx, kCy - 6);
        p.lineTo(kCx + 6.5, kCy + 1);
        p.closeSubpath();
        p.addRect(QRectF(kCx - 6.5, kCy + 3, 13, 2.5));
        return p;
    }
    return p;
}

// The colours of a face: the deck's own light ones, or those of a dark palette.
struct FaceColors {
    QColor top, bottom, border, symbol, emboss;
    bool emboss2 = true;  // the disabled symbol's light copy one pixel down-right
};

QColor Mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t));
}

FaceColors ColorsFor(bool enabled, const QPalette* palette)
{
    if (!palette || !IsDarkPalette(*palette)) {
        if (enabled)
            return {QColor(250, 250, 250), QColor(196, 198, 202), QColor(88, 90, 96), QColor(32, 32, 36), Qt::white};
        return {QColor(226, 226, 226), QColor(214, 214, 214), QColor(160, 160, 160), QColor(150, 150, 150), Qt::white};
    }
    const QColor button = palette->color(QPalette::Active, QPalette::Button);
    const QColor text = palette->color(QPalette::Active, QPalette::ButtonText);
    if (enabled)
        return {button.lighter(135), button.darker(110), Mix(button, text, 0.45), text, Qt::black};
    // Flatter and dimmer: a symbol a little lighter than the face, with a dark shadow.
    return {button, button, Mix(button, text, 0.25), Mix(button, text, 0.35), button.darker(170)};
}

void DrawFace(QPainter& painter, const FaceColors& c)
{
    const QRectF face(0.5, 0.5, kButtonPictureWidth - 1, kButtonPictureHeight - 1);
    QLinearGradient fill(0, 0, 0, kButtonPictureHeight);
    fill.setColorAt(0, c.top);
    fill.setColorAt(1, c.bottom);
    painter.setPen(QPen(c.border, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(face, 3, 3);
}

}  // namespace

bool IsDarkPalette(const QPalette& palette)
{
    return palette.color(QPalette::Active, QPalette::Button).lightness() < 128;
}

QPixmap DrawTransportPicture(TransportPicture picture, bool enabled, qreal devicePixelRatio, const QPalette* palette)
{
    QPixmap pix(qRound(kButtonPictureWidth * devicePixelRatio), qRound(kButtonPictureHeight * devicePixelRatio));
    pix.setDevicePixelRatio(devicePixelRatio);
    pix.fill(Qt::transparent);
    QPainter painter(&pix);
    painter.setRenderHint(QPainter::Antialiasing);
    const FaceColors colors = ColorsFor(enabled, palette);
    DrawFace(painter, colors);

    const QPainterPath symbol = Symbol(picture);
    painter.setPen(Qt::NoPen);
    if (enabled) {
        const bool red = picture == TransportPicture::Record;
        painter.setBrush(red ? QColor(214, 32, 28) : colors.symbol);
        painter.drawPath(symbol);
    } else {
        // The classic disabled look: a grey symbol over a copy one pixel down-right.
        painter.setBrush(colors.emboss);
        painter.drawPath(symbol.translated(1, 1));
        painter.setBrush(colors.symbol);
        painter.drawPath(symbol);
    }
    return pix;
}

}  // namespace deck
