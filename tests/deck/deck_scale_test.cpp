// The LED panel at the scale factor this process runs with (QT_SCALE_FACTOR, set per test by
// CMake): every box shows its whole cell, at its place, with no slice of a neighbouring cell,
// in its own picture and in a picture of the whole window (as the docs' screenshots are taken).
#include <QApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "deck/frm_deck.h"
#include "led_pixels.h"

namespace {

TEST(DeckScale, EveryDigitIsWholeAtThisScaleFactor)
{
    const char* factor = std::getenv("QT_SCALE_FACTOR");
    const qreal ratio = factor ? std::atof(factor) : 1.0;
    SCOPED_TRACE(std::string("QT_SCALE_FACTOR ") + (factor ? factor : "unset"));
    ASSERT_DOUBLE_EQ(qApp->devicePixelRatio(), ratio);

    frmDeck deck;
    deck.show();
    const auto rows = {&deck.picAtime, &deck.picPtime};
    const auto checkRows = [&] {
        for (const auto* row : rows) {
            for (deck::LedBox* box : *row) {
                const QImage img = box->grab().toImage();
                ASSERT_GE(img.width(), static_cast<int>(std::floor(deck::kCellWidth * ratio)));
                ASSERT_GE(img.height(), static_cast<int>(std::floor(deck::kCellHeight * ratio)));
                EXPECT_EQ(led_pixels::Problems(img, {0, 0}, box, ratio), "");
            }
        }
        const QImage window = deck.grab().toImage();
        EXPECT_EQ(led_pixels::WindowProblems(window, &deck, rows, ratio), "") << "in the window's picture";
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
