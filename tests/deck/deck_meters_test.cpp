// The deck's level meters, status line and its look under a dark palette and another style:
// the meters read the sound at the position the device reports as heard, the status line
// tells the tape's rate, mode and bad frames of this play, the transport follows a dark
// palette, and no text button's caption is cut off.
#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <cmath>

#include "deck/button_pictures.h"
#include "deck/caption_fit.h"
#include "deck/level_meter.h"
#include "deck/picture_button.h"
#include "deck_fixture.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

// Bursts of ten frames (300 ms), a square wave at -6 dBFS left and -20 dBFS right, each
// followed by ten frames of silence.
constexpr std::int16_t kLeft = 16423;
constexpr std::int16_t kRight = 3277;

std::shared_ptr<const sim::Tape> BurstTape(std::size_t frames = 400)
{
    std::vector<std::int16_t> pcm(frames * 1440 * 2, 0);
    for (std::size_t i = 0; i < frames * 1440; ++i) {
        if ((i / 1440 / 10) % 2 == 1)
            continue;
        const int sign = (i / 24) % 2 ? -1 : 1;
        pcm[2 * i] = static_cast<std::int16_t>(sign * kLeft);
        pcm[2 * i + 1] = static_cast<std::int16_t>(sign * kRight);
    }
    return sim::MakePcmTape({pcm});
}

class DeckMeters : public DeckTest {
protected:
    // The device has played `frames` frames of the tape; one tick of the meters follows.
    void HeardUpTo(double frames)
    {
        fakeWave.playedSamples = static_cast<std::uint64_t>(frames * 1440);
        deck().meterFeed->Sample();
    }
};

TEST_F(DeckMeters, MetersShowThePeakOfWhatTheDeviceSoundsAndHoldIt)
{
    StartReady(BurstTape());
    frmDeck& d = deck();
    EXPECT_TRUE(std::isinf(d.mtrLeft->LevelDb()));
    d.cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    EXPECT_TRUE(d.meterFeed->Running());

    // Four buffers (120 frames) queued, nothing played: the meters stay down.
    HeardUpTo(0);
    EXPECT_TRUE(std::isinf(d.mtrLeft->LevelDb()));
    EXPECT_TRUE(std::isinf(d.mtrRight->LevelDb()));

    HeardUpTo(5);  // inside the first burst
    EXPECT_NEAR(d.mtrLeft->LevelDb(), -6.0, 0.05);
    EXPECT_NEAR(d.mtrRight->LevelDb(), -20.0, 0.05);
    EXPECT_NEAR(d.mtrLeft->HoldDb(), -6.0, 0.05);

    HeardUpTo(15);  // inside the silence: the bar drops at once, the mark stays
    EXPECT_TRUE(std::isinf(d.mtrLeft->LevelDb()));
    EXPECT_TRUE(std::isinf(d.mtrRight->LevelDb()));
    EXPECT_NEAR(d.mtrLeft->HoldDb(), -6.0, 0.05);
    EXPECT_NE(d.mtrLeft->accessibleDescription().indexOf("silence"), -1);

    // Buffers handed back are still being heard (the device's own buffer lies beyond): the
    // meter reads what the position says, not the buffer that came back last.
    fakeWave.handBack(3);
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    HeardUpTo(41);  // frames 40 to 49: the third burst
    EXPECT_NEAR(d.mtrRight->LevelDb(), -20.0, 0.05);

    // Stop: the feed notices that nothing plays, clears the meters and rests.
    d.cmdStop->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return d.cmdPlay->isEnabled(); }));
    d.meterFeed->Sample();
    EXPECT_TRUE(std::isinf(d.mtrLeft->LevelDb()));
    EXPECT_TRUE(std::isinf(d.mtrLeft->HoldDb()));
    EXPECT_FALSE(d.meterFeed->Running());
}

TEST(LevelMeter, TheMarkHoldsTheHighestPeakForItsTimeThenFollowsTheBar)
{
    deck::LevelMeter m("L", "Left Channel Level", nullptr);
    m.SetPeak(16423, 0);
    m.SetPeak(3277, 100);
    EXPECT_NEAR(m.LevelDb(), -20.0, 0.01);
    EXPECT_NEAR(m.HoldDb(), -6.0, 0.01);
    m.SetPeak(3277, deck::LevelMeter::kHoldMs - 1);
    EXPECT_NEAR(m.HoldDb(), -6.0, 0.01);
    m.SetPeak(3277, deck::LevelMeter::kHoldMs);  // held its time: down to the bar
    EXPECT_NEAR(m.HoldDb(), -20.0, 0.01);
    m.SetPeak(32768, deck::LevelMeter::kHoldMs + 10);  // a higher peak takes the mark at once
    EXPECT_NEAR(m.HoldDb(), 0.0, 0.01);
    EXPECT_TRUE(std::isinf(deck::LevelMeter::DbOf(0)));
}

// A screen reader is told the level a few times a second, not at every tick, but never left
// with a stale one: the level of the moment once its time is up, silence at once.
TEST(LevelMeter, TheDescriptionFollowsTheSoundAFewTimesASecondAndSilenceAtOnce)
{
    deck::LevelMeter m("L", "Left Channel Level", nullptr);
    m.SetPeak(16423, 1000);
    const QString first = m.accessibleDescription();
    EXPECT_TRUE(first.startsWith("-6.0 dBFS")) << first.toStdString();
    m.SetPeak(3277, 1100);
    EXPECT_EQ(m.accessibleDescription(), first);
    m.SetPeak(3277, 1000 + 250);  // the same level, a tick later: now it is told
    EXPECT_TRUE(m.accessibleDescription().startsWith("-20.0 dBFS, peak -6.0 dBFS"))
        << m.accessibleDescription().toStdString();
    m.SetPeak(0, 1260);
    EXPECT_TRUE(m.accessibleDescription().startsWith("silence")) << m.accessibleDescription().toStdString();
}

TEST_F(DeckMeters, MetersLieUnderTheStatusLineAndMoveNoControl)
{
    StartReady(BurstTape(40));
    frmDeck& d = deck();
    QWidget* client = d.centralWidget();
    const QRect status = d.lblStatus->geometry();
    for (deck::LevelMeter* m : {d.mtrLeft, d.mtrRight}) {
        EXPECT_TRUE(m->isVisibleTo(client));
        EXPECT_GE(m->geometry().top(), status.bottom() + 1);
        EXPECT_TRUE(client->rect().contains(m->geometry()));
    }
    EXPECT_FALSE(d.mtrLeft->geometry().intersects(d.mtrRight->geometry()));
    EXPECT_EQ(d.cmdPlay->geometry(), QRect(16, 168, 41, 25));
    EXPECT_EQ(d.mtrLeft->accessibleName(), "Left Channel Level");
}

TEST_F(DeckMeters, TheStatusLineTellsRateModeAndTheBadFramesHeardInThisPlay)
{
    sim::DriveConfig drive;
    drive.mediumErrors = {40, 41};  // in the second buffer (frames 30 to 59)
    drive.concealed = {45};
    Start(BurstTape(100), drive);
    Tick();
    frmDeck& d = deck();
    d.cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    // The first buffer plays: the bad frames were read ahead, but are not heard yet.
    d.tmrPanel_Timer();
    EXPECT_EQ(d.lblStatus->text(), "48 kHz, stereo; 0 unreadable, 0 concealed");
    // Past the bad frames: the counts follow what was heard.
    fakeWave.handBack(2);
    d.tmrPanel_Timer();
    EXPECT_EQ(d.lblStatus->text(), "48 kHz, stereo; 2 unreadable, 1 concealed");

    EXPECT_EQ(TapeStatusText(32000, "long play", true, 3, 0), "32 kHz, long play, emphasis; 3 unreadable, 0 concealed");
    EXPECT_EQ(TapeStatusText(44100, "stereo", false, 0, 0), "44.1 kHz, stereo; 0 unreadable, 0 concealed");
    EXPECT_EQ(TapeStatusText(0, "stereo", false, 0, 0), "");
}

// The palette and style the user may start with (-style fusion, a dark desktop theme).
class DarkDeck : public DeckTest {
protected:
    void SetUp() override
    {
        DeckTest::SetUp();
        oldPalette = QApplication::palette();
        oldStyle = QApplication::style()->name();
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(45, 45, 48));
        dark.setColor(QPalette::WindowText, QColor(220, 220, 220));
        dark.setColor(QPalette::Button, QColor(53, 53, 56));
        dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
        dark.setColor(QPalette::Base, QColor(30, 30, 32));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        QApplication::setPalette(dark);
    }
    void TearDown() override
    {
        DeckTest::TearDown();
        QApplication::setPalette(oldPalette);
        QApplication::setStyle(QStyleFactory::create(oldStyle));
    }
    QPalette oldPalette;
    QString oldStyle;
};

int Lightness(const QImage& image, int x, int y) { return QColor(image.pixel(x, y)).lightness(); }

TEST_F(DarkDeck, TransportButtonsFollowTheDarkPaletteAndCaptionsAreWhole)
{
    StartReady(BurstTape(40));
    frmDeck& d = deck();
    QApplication::processEvents();
    // A face near the button's edge, and the symbol in its middle.
    const qreal ratio = d.cmdPlay->devicePixelRatioF();
    const QImage play = d.cmdPlay->grab().toImage();
    const auto at = [&](const QImage& img, int x, int y) {
        return Lightness(img, static_cast<int>(x * ratio), static_cast<int>(y * ratio));
    };
    EXPECT_LT(at(play, 4, 12), 110) << "the face stays light";
    EXPECT_GT(at(play, 20, 12), 170) << "the symbol is not light on the dark face";
    // Disabled buttons differ from enabled ones under the dark palette too.
    const QPalette pal = d.cmdPlay->palette();
    const QImage on = deck::DrawTransportPicture(deck::TransportPicture::Stop, true, 1, &pal).toImage();
    const QImage off = deck::DrawTransportPicture(deck::TransportPicture::Stop, false, 1, &pal).toImage();
    EXPECT_GT(qAbs(Lightness(on, 20, 12) - Lightness(off, 20, 12)), 40);
    EXPECT_LT(Lightness(off, 4, 12), 110);
    // A light palette keeps the deck's light face.
    QPalette light;
    light.setColor(QPalette::Button, QColor(239, 239, 239));
    EXPECT_GT(Lightness(deck::DrawTransportPicture(deck::TransportPicture::Play, true, 1, &light).toImage(), 4, 12),
              200);

    // Every text button's caption fits inside the style's margins: nothing is cut off.
    int checked = 0;
    for (QPushButton* b : d.centralWidget()->findChildren<QPushButton*>()) {
        if (qobject_cast<deck::PictureButton*>(b) || b->text().isEmpty())
            continue;
        SCOPED_TRACE(b->text().toStdString());
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()) + deck::CaptionRoom(*b), b->width());
        ++checked;
    }
    EXPECT_GE(checked, 14);  // ATime, PNo, PTime, ten digits, Execute
    EXPECT_EQ(d.cmdExecute->geometry(), QRect(336, 168, 57, 25));
}

}  // namespace
}  // namespace deck_test
