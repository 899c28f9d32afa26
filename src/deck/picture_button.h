// A transport button whose 41 x 25 picture fills it: the picture has its own face, so the
// style draws nothing but the focus frame. The face follows the palette (light or dark).
#pragma once

#include <QPushButton>

#include "deck/button_pictures.h"

namespace deck {

class PictureButton : public QPushButton {
    Q_OBJECT
public:
    PictureButton(TransportPicture picture, QWidget* parent);
    TransportPicture Picture() const { return picture_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    const QPixmap& Cached(bool enabled);

    TransportPicture picture_;
    QPixmap enabled_, disabled_;
    qreal cachedRatio_ = 0;  // 0: to be drawn (anew after a palette change)
};

}  // namespace deck
