#include "deck/caption_fit.h"

#include <QFontMetrics>
#include <QPushButton>
#include <QStyle>

namespace deck {
namespace {

constexpr qreal kSmallestPoints = 6;

bool Fits(const QPushButton& button, const QFont& font)
{
    return QFontMetrics(font).horizontalAdvance(button.text()) + CaptionRoom(button) <= button.width();
}

}  // namespace

int CaptionRoom(const QPushButton& button)
{
    const QStyle* style = button.style();
    return style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button) +
           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button);
}

void FitCaption(QPushButton& button)
{
    QFont font = button.font();
    if (Fits(button, font))
        return;
    // Point sizes keep the caption's look across screens; a font set in pixels shrinks in pixels.
    if (font.pointSizeF() > 0) {
        while (font.pointSizeF() > kSmallestPoints && !Fits(button, font))
            font.setPointSizeF(font.pointSizeF() - 0.5);
    } else {
        while (font.pixelSize() > kSmallestPoints && !Fits(button, font))
            font.setPixelSize(font.pixelSize() - 1);
    }
    button.setFont(font);
}

}  // namespace deck
