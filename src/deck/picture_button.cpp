#include "deck/picture_button.h"

#include <QEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

namespace deck {

PictureButton::PictureButton(TransportPicture picture, QWidget* parent)
    : QPushButton(parent), picture_(picture)
{
}

QSize PictureButton::sizeHint() const { return {kButtonPictureWidth, kButtonPictureHeight}; }

const QPixmap& PictureButton::Cached(bool enabled)
{
    // Redrawn when the window moves to a screen with another pixel ratio.
    const qreal ratio = devicePixelRatioF();
    if (ratio != cachedRatio_) {
        const QPalette colors = palette();
        enabled_ = DrawTransportPicture(picture_, true, ratio, &colors);
        disabled_ = DrawTransportPicture(picture_, false, ratio, &colors);
        cachedRatio_ = ratio;
    }
    return enabled ? enabled_ : disabled_;
}

void PictureButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        cachedRatio_ = 0;
    QPushButton::changeEvent(event);
}

void PictureButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const bool down = isDown() || isChecked();
    p.drawPixmap(down ? 1 : 0, down ? 1 : 0, Cached(isEnabled()));
    if (down)
        p.fillRect(rect().adjusted(1, 1, -1, -1), QColor(0, 0, 0, 28));
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}

}  // namespace deck
