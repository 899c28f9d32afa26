// A transport button whose 41 x 25 picture fills it: the picture has its own face, so the
// style draws nothing but the focus frame.
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

private:
    const QPixmap& Cached(bool enabled);

    TransportPicture picture_;
    QPixmap enabled_, disabled_;
    qreal cachedRatio_ = 0;
};

}  // namespace deck
