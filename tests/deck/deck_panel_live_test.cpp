// The panel while the deck plays: the position of the audio being heard (the buffer the
// device plays, not the frames read ahead), the tape's rate and its emphasis; and where the
// tape stands once it is stopped.
#include <QImage>
#include <QLabel>
#include <QPushButton>

#include "audio/playback.h"
#include "dat/time_code.h"
#include "deck_fixture.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

using testing_support::PumpPosted;
using testing_support::PumpUntil;
using testing_support::WaveCall;

class DeckPanelLive : public DeckTest {
protected:
    std::size_t Writes() const { return fakeWave.callsOf(WaveCall::Write).size(); }
    std::size_t Reads() const
    {
        std::size_t n = 0;
        for (const auto& c : recorder->commands())
            n += !c.cdb.empty() && c.cdb[0] == 0x08;
        return n;
    }
    // A tape of `seconds` of one 44.1 kHz program, recorded with pre-emphasis.
    static std::shared_ptr<const sim::Tape> EmphasizedTape(int seconds)
    {
        sim::PcmProgram p;
        p.sampleRateHz = 44100;
        p.pcm.assign(static_cast<std::size_t>(seconds) * 44100 * 2, 1000);
        sim::RecordingOptions options;
        options.emphasis = true;
        return sim::MakeRecordedTape({p}, options);
    }
};

TEST_F(DeckPanelLive, TheRowsFollowTheBufferHeardAndTheStopShowsWhereTheTapeIs)
{
    StartReady();  // the demo tape: program 1 from 0:00:00
    deck().cmdPlay->click();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 4; }));
    // Four buffers read ahead (3.6 s of tape); the device plays the first.
    deck().tmrPanel_Timer();
    EXPECT_EQ(RowText(deck(), true), "0:00:00");
    EXPECT_EQ(RowText(deck(), false), "0:00:00");
    EXPECT_EQ(deck().lblPno->text(), "PNo 01");
    EXPECT_EQ(deck().lblKhz->text(), "48 KHz");
    EXPECT_FALSE(deck().lblEmph->isVisibleTo(&deck()));
    const QImage early = deck().Frame5->grab().toImage();

    // Three buffers played: the fourth (frames 90 to 119, 2.7 s to 3.6 s) is heard.
    fakeWave.handBack(3);
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 7; }));
    deck().tmrPanel_Timer();
    const std::string heard = RowText(deck(), true);
    EXPECT_TRUE(heard == "0:00:02" || heard == "0:00:03") << heard;
    EXPECT_NE(deck().Frame5->grab().toImage(), early) << "the panel did not move";

    // Stopped: the tape goes back to the frame heard, and one READ POSITION shows it there,
    // not where the reads ahead had taken it.
    EXPECT_GT(Reads(), 200u);
    deck().cmdStop->click();
    ASSERT_TRUE(PumpUntil([&] { return deck().cmdPlay->isEnabled() && recorder->commands().back().cdb[0] == 0x34; }));
    PumpPosted();
    EXPECT_EQ(RowText(deck(), true), heard);
    EXPECT_EQ(deck().lblPno->text(), "PNo 01");
}

TEST_F(DeckPanelLive, AnEmphasizedTapeLightsEmphAndStatesItsRate)
{
    StartReady(EmphasizedTape(4));
    deck().cmdPlay->click();
    ASSERT_TRUE(PumpUntil([&] { return Writes() >= 1; }));
    deck().tmrPanel_Timer();
    EXPECT_EQ(deck().lblKhz->text(), "44.1 KHz");
    EXPECT_TRUE(deck().lblEmph->isVisibleTo(&deck()));
    // The device plays at the tape's rate.
    EXPECT_EQ(fakeWave.lastFormat.nSamplesPerSec, 44100u);
}

}  // namespace
}  // namespace deck_test
