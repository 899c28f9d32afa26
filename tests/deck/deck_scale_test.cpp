// The LED panel at the scale factor this process runs with (QT_SCALE_FACTOR, set per test by
// CMake): every box shows its whole cell, at its place, with no slice of a neighbouring cell.
#include <QApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "deck/frm_deck.h"
#include "deck/led_artwork.h"
#include "deck/led_box.h"

namespace {

bool IsGreen(QRgb p) { return qGreen(p) > 100 && qGreen(p) > qRed(p) + 50 && qGreen(p) > qBlue(p) + 50; }
bool IsDark(QRgb p) { return qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) < 40; }

// Checks one box's pixels against the segments of the cell it says it shows.
void ExpectWholeCell(deck::LedBox* box, qreal ratio)
{
    const int cell = box->Shown();
    const QImage img = box->grab().toImage();
    if (cell == deck::LedBox::kEmpty) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                ASSERT_TRUE(IsDark(img.pixel(x, y))) << box->objectName().toStdString() << " is not dark";
        return;
    }
    ASSERT_GE(cell, 0);
    ASSERT_LT(cell, deck::kCellCount);
    SCOPED_TRACE(box->objectName().toStdString() + " cell " + std::to_string(cell));
    ASSERT_GE(img.width(), static_cast<int>(std::floor(deck::kCellWidth * ratio)));
    ASSERT_GE(img.height(), static_cast<int>(std::floor(deck::kCellHeight * ratio)));
    const auto at = [&](qreal x, qreal y) {
        return img.pixel(std::min(img.width() - 1, static_cast<int>(x * ratio)),
                         std::min(img.height() - 1, static_cast<int>(y * ratio)));
    };
    // Centres of segments a to g in logical pixels: lit exactly as the cell's figure says. A cut
    // strip shifts the figure sideways, so a right-hand segment goes missing or a dash gains one.
    const QPointF centres[7] = {{8.5, 3.5}, {13.5, 9}, {13.5, 20}, {8.5, 25.5}, {3.5, 20}, {3.5, 9}, {8.5, 14.5}};
    for (int s = 0; s < 7; ++s) {
        const bool lit = deck::SegmentsOfCell(cell) & (1u << s);
        EXPECT_EQ(IsGreen(at(centres[s].x(), centres[s].y())), lit) << "segment " << char('a' + s);
    }
    // The box's outer columns stay dark: no edge of the neighbouring cell is drawn in them.
    for (qreal y = 0.5; y < deck::kCellHeight; y += 1) {
        EXPECT_TRUE(IsDark(at(0.3, y))) << "left edge, y " << y;
        EXPECT_TRUE(IsDark(at(16.4, y))) << "right edge, y " << y;
    }
}

TEST(DeckScale, EveryDigitIsWholeAtThisScaleFactor)
{
    const char* factor = std::getenv("QT_SCALE_FACTOR");
    const qreal ratio = factor ? std::atof(factor) : 1.0;
    SCOPED_TRACE(std::string("QT_SCALE_FACTOR ") + (factor ? factor : "unset"));
    ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), ratio);

    frmDeck deck;
    deck.show();
    const auto checkRows = [&] {
        for (const auto* row : {&deck.picAtime, &deck.picPtime})
            for (deck::LedBox* box : *row)
                ExpectWholeCell(box, ratio);
    };
    {
        SCOPED_TRACE("8s");
        deck.SetDisplayTo8s();
        checkRows();
    }
    {
        SCOPED_TRACE("dashes");
        deck.SetDisplayToBlank();
        checkRows();
    }
    {
        SCOPED_TRACE("dAtA");
        deck.SetDisplayToData();
        checkRows();
    }
    {
        SCOPED_TRACE("every digit");
        deck.SetDisplayToPosition(dat::TimeCode{1, 23, 48, 0, true}, dat::TimeCode{9, 7, 56, 0, true},
                                  dat::ProgramNumber::Of(1));
        checkRows();
    }
}

}  // namespace
