// The window as drawn: positions, tooltips and focus order of the controls, the LED artwork
// and its cells, the button pictures, and the pixels of the panel after each display.
#include <QImage>
#include <QLabel>
#include <QMenuBar>

#include "deck/button_pictures.h"
#include "deck/clp_digits.h"
#include "deck/led_artwork.h"
#include "deck/level_meter.h"
#include "deck_fixture.h"

namespace deck_test {
namespace {

bool IsGreen(QRgb p) { return qGreen(p) > 100 && qGreen(p) > qRed(p) + 50 && qGreen(p) > qBlue(p) + 50; }
bool IsBlack(QRgb p) { return qRed(p) < 24 && qGreen(p) < 24 && qBlue(p) < 24; }

QImage Grab(frmDeck& d, QWidget* box)
{
    return d.grab(QRect(box->mapTo(&d, QPoint(0, 0)), box->size())).toImage();
}

QRect InClient(frmDeck& d, QWidget* w) { return QRect(w->mapTo(d.centralWidget(), QPoint(0, 0)), w->size()); }

TEST_F(DeckTest, ControlsSitAtTheirPlacesWithTheirTooltips)
{
    Start(nullptr);
    frmDeck& d = deck();
    struct Place {
        QWidget* w;
        QRect rect;
        const char* tip;
    };
    const std::vector<Place> places{
        {d.Frame5, {16, 0, 265, 112}, ""},
        {d.cmdAtime, {328, 8, 41, 17}, "Seek to an Absolute Time"},
        {d.cmdPno, {328, 24, 41, 17}, "Seek to a Program Number"},
        {d.cmdPtime, {328, 40, 41, 17}, "Seek to a Program Time"},
        {d.cmdPad[1], {304, 72, 25, 25}, "Time or Program Number Entry"},
        {d.cmdPad[5], {336, 104, 25, 25}, "Time or Program Number Entry"},
        {d.cmdPad[9], {368, 136, 25, 25}, "Time or Program Number Entry"},
        {d.cmdPad[0], {304, 168, 25, 25}, "Time or Program Number Entry"},
        {d.cmdExecute, {336, 168, 57, 25}, "Execute Seek Command"},
        {d.cmdBOT, {16, 128, 41, 25}, "Beginning of Tape"},
        {d.cmdNext, {72, 128, 41, 25}, "Previous Program"},
        {d.cmdPrev, {128, 128, 41, 25}, "Next Program"},
        {d.cmdEOT, {184, 128, 41, 25}, "End of Tape"},
        {d.cmdEject, {240, 128, 41, 25}, "Eject Tape"},
        {d.cmdPlay, {16, 168, 41, 25}, "Play Tape"},
        {d.cmdCue, {72, 168, 41, 25}, "Cue Tape"},
        {d.cmdStop, {128, 168, 41, 25}, "Stop Tape"},
        {d.cmdRecord, {184, 168, 41, 25}, "Record to Tape"},
        {d.picAtime[0], {100, 22, 17, 29}, "Absolute Time"},
        {d.picColon[0], {116, 22, 9, 29}, "Absolute Time"},
        {d.picAtime[1], {124, 22, 17, 29}, "Absolute Time"},
        {d.picAtime[2], {140, 22, 17, 29}, "Absolute Time"},
        {d.picColon[1], {156, 22, 9, 29}, "Absolute Time"},
        {d.picAtime[3], {164, 22, 17, 29}, "Absolute Time"},
        {d.picAtime[4], {180, 22, 17, 29}, "Absolute Time"},
        {d.picPtime[0], {100, 66, 17, 29}, "Program Time"},
        {d.picColon[2], {116, 66, 9, 29}, "Program Time"},
        {d.picPtime[4], {180, 66, 17, 29}, "Program Time"},
        {d.picColon[4], {272, 269, 9, 29}, "Program Time"},  // below the client area
        {d.lblPno, {224, 64, 49, 17}, "Program Number"},
        {d.lblKhz, {224, 88, 49, 17}, "Sample Rate"},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.w->objectName().toStdString());
        EXPECT_EQ(InClient(d, p.w), p.rect);
        EXPECT_EQ(p.w->toolTip().toStdString(), p.tip);
    }
    EXPECT_EQ(d.lblAtime->text(), "A-Time:");
    EXPECT_EQ(d.lblPtime->text(), "P-Time:");
    EXPECT_EQ(d.lblKhz->text(), "48 KHz");
    EXPECT_EQ(d.lblAtime->font().pointSize(), 12);
    EXPECT_EQ(d.cmdExecute->text(), "Execute");
    EXPECT_EQ(d.cmdAtime->text(), "ATime");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(d.cmdPad[static_cast<std::size_t>(i)]->text(), QString::number(i));
    // Buttons with a picture have no caption.
    EXPECT_TRUE(d.cmdPlay->text().isEmpty());
    // Named for the program's readers and testers.
    EXPECT_EQ(d.findChild<QPushButton*>("cmdPad(7)"), d.cmdPad[7]);
    EXPECT_EQ(d.findChild<QWidget*>("picColon(3)"), d.picColon[3]);
}

TEST_F(DeckTest, TheClientAreaFitsTheControlsBelowTheMenuBar)
{
    Start(nullptr);
    frmDeck& d = deck();
    QApplication::processEvents();
    QWidget* client = d.centralWidget();
    // The panel's 208 pixels, the status line and the two level meters under them.
    EXPECT_EQ(client->size(), QSize(409, 249));
    EXPECT_EQ(d.size(), QSize(409, d.menuBar()->height() + 249));
    EXPECT_EQ(client->mapTo(&d, QPoint(0, 0)), QPoint(0, d.menuBar()->height()));

    // Every shown control lies inside the client area, and the area ends shortly below the
    // lowest of them (no empty band); the colon template alone lies outside, unseen.
    int lowest = 0;
    for (QWidget* w : client->findChildren<QWidget*>()) {
        const QRect r = InClient(d, w);
        if (w == d.picColon[4]) {
            EXPECT_FALSE(client->rect().intersects(r));
            continue;
        }
        if (!w->isVisibleTo(client) || w == d.lblStatus || w == d.mtrLeft || w == d.mtrRight)
            continue;
        SCOPED_TRACE(w->objectName().toStdString());
        EXPECT_TRUE(client->rect().contains(r));
        lowest = std::max(lowest, r.bottom() + 1);
    }
    EXPECT_EQ(lowest, 193);
    // The status line lies below every control, inside the area, to its end.
    const QRect status = InClient(d, d.lblStatus);
    EXPECT_TRUE(d.lblStatus->isVisibleTo(client));
    EXPECT_GE(status.top(), lowest);
    EXPECT_TRUE(client->rect().contains(status));
    EXPECT_EQ(status.bottom() + 1, 226);
    // The meters under it, to the area's end.
    EXPECT_GE(d.mtrLeft->geometry().top(), status.bottom() + 1);
    EXPECT_EQ(d.mtrRight->geometry().bottom() + 1 + 4, client->height());
    // The window cannot be resized beyond its panel.
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
}

TEST_F(DeckTest, TabWalksTheControlsInTheDeckOrder)
{
    Start(nullptr);
    frmDeck& d = deck();
    // The panel's order: the transport's rows, the seek buttons, the keypad and Execute; the
    // LED boxes are readings, not stops (deck_access_test walks the whole chain).
    std::vector<QWidget*> expected{d.cmdBOT,  d.cmdNext, d.cmdPrev, d.cmdEOT,   d.cmdEject,
                                   d.cmdPlay, d.cmdCue,  d.cmdStop, d.cmdRecord};
    for (QWidget* w :
         {static_cast<QWidget*>(d.cmdAtime), static_cast<QWidget*>(d.cmdPno), static_cast<QWidget*>(d.cmdPtime)})
        expected.push_back(w);
    for (int i = 1; i <= 9; ++i)
        expected.push_back(d.cmdPad[static_cast<std::size_t>(i)]);
    expected.push_back(d.cmdPad[0]);
    expected.push_back(d.cmdExecute);

    std::vector<QWidget*> walked{d.cmdBOT};
    const std::set<QWidget*> members(expected.begin(), expected.end());
    for (QWidget* w = d.cmdBOT->nextInFocusChain(); w != d.cmdBOT && walked.size() < expected.size();
         w = w->nextInFocusChain())
        if (members.count(w))
            walked.push_back(w);
    EXPECT_EQ(walked, expected);
}

TEST(LedArtwork, EachCellLightsExactlyItsSegments)
{
    const QImage strip = deck::MakeGlyphStrip(1).toImage();
    ASSERT_EQ(strip.size(), QSize(238, 29));
    // Centres of segments a to g inside a cell.
    const QPoint centres[7] = {{8, 3}, {13, 9}, {13, 20}, {8, 25}, {3, 20}, {3, 9}, {8, 14}};
    for (int cell = 0; cell < 14; ++cell)
        for (int s = 0; s < 7; ++s) {
            const QRgb p = strip.pixel(centres[s] + QPoint(cell * 17, 0));
            const bool lit = deck::SegmentsOfCell(cell) & (1u << s);
            EXPECT_EQ(IsGreen(p), lit) << "cell " << cell << " segment " << char('a' + s);
            if (!lit) {
                EXPECT_TRUE(IsBlack(p)) << "cell " << cell << " segment " << char('a' + s);
            }
        }
    // Corners and the cell's edges stay black, so neighbouring boxes do not run together.
    for (int cell = 0; cell < 14; ++cell)
        for (int y = 0; y < 29; ++y)
            EXPECT_TRUE(IsBlack(strip.pixel(cell * 17, y)));
}

TEST(LedArtwork, CellsAreCutInDevicePixelsAtEveryRatio)
{
    for (qreal ratio : {1.0, 2.0}) {
        const deck::clpDigits clip(deck::MakeGlyphStrip(ratio), 14);
        EXPECT_EQ(clip.CellWidth(), 17);
        EXPECT_EQ(clip.CellHeight(), 29);
        const QPixmap eight = clip.GraphicCell(8);
        EXPECT_EQ(eight.deviceIndependentSize(), QSizeF(17, 29));
        EXPECT_EQ(eight.size(), QSize(qRound(17 * ratio), qRound(29 * ratio)));
        EXPECT_TRUE(clip.GraphicCell(14).isNull());
        EXPECT_TRUE(clip.GraphicCell(-1).isNull());
    }
    // Cell n of a 2x strip is cell n of the 1x strip, drawn finer: same lit segments.
    const QImage one = deck::clpDigits(deck::MakeGlyphStrip(1)).GraphicCell(4).toImage();
    const QImage two = deck::clpDigits(deck::MakeGlyphStrip(2)).GraphicCell(4).toImage();
    for (const QPoint p : {QPoint(8, 3), QPoint(13, 9), QPoint(8, 14), QPoint(3, 9), QPoint(8, 25)})
        EXPECT_EQ(IsGreen(one.pixel(p)), IsGreen(two.pixel(p * 2 + QPoint(1, 1))));
    const QImage colon = deck::MakeLitColon(1).toImage();
    EXPECT_EQ(colon.size(), QSize(9, 29));
    EXPECT_TRUE(IsGreen(colon.pixel(4, 9)));
    EXPECT_TRUE(IsGreen(colon.pixel(4, 20)));
    EXPECT_TRUE(IsBlack(colon.pixel(4, 14)));
}

TEST(ButtonPictures, DisabledPicturesLookDifferentAndRecordIsRed)
{
    using deck::TransportPicture;
    for (auto pic : {TransportPicture::Play, TransportPicture::Stop, TransportPicture::Cue, TransportPicture::Record,
                     TransportPicture::SkipBack, TransportPicture::SkipForward, TransportPicture::Bot,
                     TransportPicture::Eot, TransportPicture::Eject}) {
        const QImage on = deck::DrawTransportPicture(pic, true, 1).toImage();
        const QImage off = deck::DrawTransportPicture(pic, false, 1).toImage();
        ASSERT_EQ(on.size(), QSize(41, 25));
        // The symbol's centre: dark (or red) when enabled, a light grey when disabled.
        int changed = 0;
        for (int y = 0; y < 25; ++y)
            for (int x = 0; x < 41; ++x)
                changed += qAbs(qGray(on.pixel(x, y)) - qGray(off.pixel(x, y))) > 40;
        EXPECT_GT(changed, 20) << static_cast<int>(pic);
    }
    const QImage rec = deck::DrawTransportPicture(TransportPicture::Record, true, 1).toImage();
    const QRgb centre = rec.pixel(20, 12);
    EXPECT_GT(qRed(centre), 150);
    EXPECT_LT(qGreen(centre), 80);
}

TEST_F(DeckTest, TheGrabbedPanelShowsDashesDataAndDarkColons)
{
    Start(nullptr);
    frmDeck& d = deck();

    d.SetDisplayToBlank();
    const QImage dash = Grab(d, d.picAtime[1]);
    ASSERT_EQ(dash.size(), QSize(17, 29));
    int greenInMiddle = 0;
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 17; ++x) {
            const bool middle = y >= 11 && y <= 17;
            if (!IsGreen(dash.pixel(x, y)))
                continue;
            if (middle)
                ++greenInMiddle;
            else
                ADD_FAILURE() << "green outside the middle at " << x << "," << y;
        }
    EXPECT_GT(greenInMiddle, 15);
    const QImage colon = Grab(d, d.picColon[0]);
    EXPECT_TRUE(IsGreen(colon.pixel(4, 9)));

    d.SetDisplayToData();
    const QImage dark = Grab(d, d.picAtime[0]);
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 17; ++x)
            ASSERT_TRUE(IsBlack(dark.pixel(x, y))) << x << "," << y;
    const QImage letterD = Grab(d, d.picPtime[1]);
    EXPECT_TRUE(IsGreen(letterD.pixel(13, 20)));  // d: segment c
    EXPECT_TRUE(IsBlack(letterD.pixel(8, 3)));    // no segment a

    d.SetDisplayTo8s();
    for (int c = 0; c < 4; ++c) {
        const QImage off = Grab(d, d.picColon[static_cast<std::size_t>(c)]);
        for (int y = 0; y < 29; ++y)
            for (int x = 0; x < 9; ++x)
                ASSERT_TRUE(IsBlack(off.pixel(x, y))) << "colon " << c;
    }
    const QImage eight = Grab(d, d.picPtime[4]);
    EXPECT_TRUE(IsGreen(eight.pixel(8, 14)));
    EXPECT_TRUE(IsGreen(eight.pixel(8, 3)));
}

TEST_F(DeckTest, AFreshWindowShowsEightsLitColonsAndPnoZero)
{
    // Before the presentation runs (window just created).
    InstallBus(nullptr);
    frmDeck& d = deck();
    EXPECT_EQ(RowText(d, true), "8:88:88");
    EXPECT_EQ(RowText(d, false), "8:88:88");
    EXPECT_EQ(d.lblPno->text(), "PNo 00");
    EXPECT_FALSE(d.tmrWait4Tape->isActive());
    EXPECT_FALSE(d.mnuOptionsSave->isChecked());
    EXPECT_FALSE(d.mnuOptionsOnly->isChecked());
}

}  // namespace
}  // namespace deck_test
