// One box of the LED panel: shows one picture (a cell of the glyph strip or the colon) on
// black, or nothing (black). It can take the focus, as the panel's boxes are focus stops.
#pragma once

#include <QPixmap>
#include <QWidget>

namespace deck {

class LedBox : public QWidget {
    Q_OBJECT
public:
    // What a box shows, for readers of the panel: a cell index 0-13, the colon, or nothing.
    static constexpr int kEmpty = -1;
    static constexpr int kColon = 100;

    explicit LedBox(QWidget* parent);

    // Replaces the picture; a null pixmap is the empty picture. `shown` says what it is.
    void SetPicture(const QPixmap& picture, int shown);
    const QPixmap& Picture() const { return picture_; }
    int Shown() const { return shown_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
    int shown_ = kEmpty;
};

}  // namespace deck
