#include "deck/led_box.h"

#include <QPainter>

namespace deck {

LedBox::LedBox(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LedBox::SetPicture(const QPixmap& picture, int shown)
{
    picture_ = picture;
    shown_ = picture.isNull() ? kEmpty : shown;
    update();
}

void LedBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!picture_.isNull())
        p.drawPixmap(0, 0, picture_);
}

}  // namespace deck
