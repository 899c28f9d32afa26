// Seeking from the deck on the virtual drive: Execute by absolute time, program number and
// program time, Previous and Next Program, a seek during playback, and Stop that resumes.
#include <QAction>
#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <sstream>

#include "audio/frame_reader.h"
#include "dat/time_code.h"
#include "deck_fixture.h"
#include "sim/tape.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

using Cdb = std::vector<std::uint8_t>;
constexpr std::uint8_t kLocate10 = 0x2B;
constexpr std::uint8_t kReadPosition = 0x34;
constexpr std::uint8_t kRead6 = 0x08;
const char* const kNoProgram = "No current program: the tape does not stand in a program.";

// Presses the words in order: seek types, digits, Execute, Next (Next Program), Prev
// (Previous Program). The skip buttons go by their pictures and tooltips.
void Enter(frmDeck& d, const std::string& words)
{
    std::istringstream in(words);
    for (std::string w; in >> w;) {
        QPushButton* b = w == "ATime"     ? d.cmdAtime
                         : w == "PNo"     ? d.cmdPno
                         : w == "PTime"   ? d.cmdPtime
                         : w == "Execute" ? d.cmdExecute
                         : w == "Next"    ? d.cmdPrev
                         : w == "Prev"    ? d.cmdNext
                                          : d.cmdPad[static_cast<std::size_t>(w[0] - '0')];
        ASSERT_TRUE(b->isEnabled()) << w;
        b->click();
    }
}

class DeckSeek : public DeckTest {
protected:
    std::uint64_t TapeFrame() { return bus->driveState(AspiAdapter, AspiTarget)->frame; }
    std::string Upper() { return RowText(deck(), true); }
    std::string Lower() { return RowText(deck(), false); }
    std::string Pno() { return deck().lblPno->text().toStdString(); }
    // The opcodes sent since the recorder was last cleared.
    std::vector<std::uint8_t> Opcodes()
    {
        std::vector<std::uint8_t> out;
        for (const auto& c : recorder->commands())
            out.push_back(c.cdb.at(0));
        return out;
    }
    void ExpectReady()
    {
        EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
        EXPECT_FALSE(PlayActive);
    }
};

TEST_F(DeckSeek, ExecuteByAbsoluteTimeAndByProgramSendsTheLocateAndShowsWhereTheTapeIs)
{
    StartReady();
    recorder->clear();
    Enter(deck(), "ATime 0 0 1 0 5 Execute");
    // One LOCATE by absolute time, then one READ POSITION for the panel.
    ASSERT_EQ(Opcodes(), (std::vector<std::uint8_t>{kLocate10, kReadPosition}));
    EXPECT_EQ(recorder->commands()[0].cdb, (Cdb{0x2B, 0x04, 0x00, 0x20, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Upper(), "0:01:05");
    ExpectReady();

    recorder->clear();
    Enter(deck(), "PNo 0 0 0 0 2 Execute");
    ASSERT_EQ(Opcodes(), (std::vector<std::uint8_t>{kLocate10, kReadPosition}));
    EXPECT_EQ(recorder->commands()[0].cdb, (Cdb{0x2B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Lower(), "0:00:00");
    EXPECT_EQ(Pno(), "PNo 02");
    ExpectReady();

    // Five digits read as one number: 0:01:23 is program 123, with three digit bytes.
    recorder->clear();
    Enter(deck(), "PNo 0 0 1 2 3 Execute");
    ASSERT_FALSE(recorder->commands().empty());
    EXPECT_EQ(recorder->commands()[0].cdb, (Cdb{0x2B, 0x04, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00}));
    ASSERT_EQ(messages.size(), 1u);  // the demo tape has four programs
    EXPECT_EQ(messages[0].rfind("Locate failed: BLANK CHECK", 0), 0u) << messages[0];
    ExpectReady();
}

TEST_F(DeckSeek, RefusedEntriesSendNothing)
{
    StartReady();
    recorder->clear();
    // Above 799, as the console says it.
    Enter(deck(), "PNo 0 0 8 0 0 Execute");
    ASSERT_EQ(messages, std::vector<std::string>{"Program number exceeds 799."});
    // A program time needs a program to be in: nothing has told the deck where the tape is.
    Enter(deck(), "PTime 0 0 0 1 0 Execute");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], kNoProgram);
    EXPECT_TRUE(recorder->commands().empty());
    // Both leave the entry on the panel and the deck Ready.
    EXPECT_EQ(Upper(), "0:00:10");
    ExpectReady();
}

TEST_F(DeckSeek, AMissingProgramOrTimeShowsTheFailureAndTheTapeStays)
{
    StartReady();
    Enter(deck(), "ATime 0 0 1 0 5 Execute");
    const std::uint64_t at = TapeFrame();
    Enter(deck(), "PNo 0 0 7 5 9 Execute");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Locate failed: BLANK CHECK", 0), 0u) << messages[0];
    EXPECT_EQ(TapeFrame(), at);  // back from the end of the recording
    EXPECT_EQ(Upper(), "0:01:05");
    ExpectReady();

    Enter(deck(), "ATime 2 5 9 5 9 Execute");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].rfind("Locate failed: BLANK CHECK", 0), 0u) << messages[1];
    EXPECT_EQ(TapeFrame(), at);
    ExpectReady();
}

TEST_F(DeckSeek, ProgramTimeCountsFromTheStartOfTheCurrentProgram)
{
    auto tape = sim::MakeDemoTape();
    StartReady(tape);
    Enter(deck(), "PNo 0 0 0 0 2 Execute");
    recorder->clear();
    Enter(deck(), "PTime 0 0 0 1 7 Execute");
    // The program's start, its absolute time, the time there, then the panel's position.
    const auto ops = Opcodes();
    ASSERT_GE(ops.size(), 4u);
    EXPECT_EQ((std::vector<std::uint8_t>(ops.begin(), ops.begin() + 3)),
              (std::vector<std::uint8_t>{kLocate10, kReadPosition, kLocate10}));
    EXPECT_EQ(recorder->commands()[0].cdb, (Cdb{0x2B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(ops.back(), kReadPosition);
    for (std::size_t i = 3; i + 1 < ops.size(); ++i)
        EXPECT_EQ(ops[i], kRead6);  // reads on within the second, to the frame
    EXPECT_EQ(Lower(), "0:00:17");
    EXPECT_EQ(Pno(), "PNo 02");
    // The frame itself, not only its second: 17 s of frames after the program's start.
    EXPECT_EQ(TapeFrame(), sim::FirstFrameOfProgram(*tape, 2) + *dat::IndexOfTimeCode({0, 0, 17, 0, true}));
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DeckSeek, StopLocatesBackOnlyAfterAPlayThatFedTheDevice)
{
    StartReady();
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    recorder->clear();
    deck().cmdStop->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return !CommandsWithOpcode(kReadPosition).empty(); }));
    // LOCATE by absolute time to the second heard, READs on to its frame, READ POSITION.
    auto ops = Opcodes();
    ASSERT_GE(ops.size(), 2u);
    EXPECT_EQ(ops.front(), kLocate10);
    EXPECT_EQ(recorder->commands()[0].cdb[3], 0x20);
    EXPECT_EQ(ops.back(), kReadPosition);
    for (std::size_t i = 1; i + 1 < ops.size(); ++i)
        EXPECT_EQ(ops[i], kRead6);
    ExpectReady();

    // Cue moved nothing: Stop only reads the position.
    deck().cmdCue->click();
    recorder->clear();
    deck().cmdStop->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return !CommandsWithOpcode(kReadPosition).empty(); }));
    EXPECT_EQ(Opcodes(), std::vector<std::uint8_t>{kReadPosition});
    EXPECT_TRUE(messages.empty()) << messages.front();
}

// Three programs of 10 seconds each.
std::shared_ptr<const sim::Tape> ThreeProgramTape()
{
    return sim::MakeLoopedPcmTape(std::vector<std::int16_t>(2 * 1440, 100), 3, 48000 * 10);
}

TEST_F(DeckSeek, NextAndPreviousProgramWalkTheProgramsAndStopAtTheEnds)
{
    auto tape = ThreeProgramTape();
    StartReady(tape);
    const auto start = [&](unsigned n) { return sim::FirstFrameOfProgram(*tape, n); };
    recorder->clear();
    // A tape not read from yet: one READ POSITION says where it stands, then program 2.
    Enter(deck(), "Next");
    EXPECT_EQ(Opcodes(), (std::vector<std::uint8_t>{kReadPosition, kLocate10, kReadPosition}));
    EXPECT_EQ(recorder->commands()[1].cdb, (Cdb{0x2B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Pno(), "PNo 02");
    EXPECT_EQ(TapeFrame(), start(2));
    Enter(deck(), "Next");
    EXPECT_EQ(Pno(), "PNo 03");
    EXPECT_EQ(TapeFrame(), start(3));
    ExpectReady();

    // Past the last: the drive finds no program 4, and the tape comes back to program 3.
    Enter(deck(), "Next");
    ASSERT_EQ(messages, std::vector<std::string>{"No next program."});
    EXPECT_EQ(Pno(), "PNo 03");
    EXPECT_EQ(Lower(), "0:00:00");
    EXPECT_EQ(TapeFrame(), start(3));
    ExpectReady();

    // At a program's start, Previous goes to the one before; at program 1, to the beginning.
    Enter(deck(), "Prev");
    EXPECT_EQ(Pno(), "PNo 02");
    EXPECT_EQ(TapeFrame(), start(2));
    Enter(deck(), "Prev");
    EXPECT_EQ(Pno(), "PNo 01");
    recorder->clear();
    Enter(deck(), "Prev");
    ASSERT_EQ(recorder->commands().size(), 2u);
    EXPECT_EQ(recorder->commands()[0].cdb, (Cdb{0x2B, 0x04, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(TapeFrame(), 0u);
    EXPECT_EQ(messages.size(), 1u);
    ExpectReady();
}

TEST_F(DeckSeek, PreviousProgramMoreThanThreeSecondsInGoesBackToItsStart)
{
    auto tape = ThreeProgramTape();
    StartReady(tape);
    Enter(deck(), "PNo 0 0 0 0 2 Execute PTime 0 0 0 0 5 Execute");
    ASSERT_EQ(Lower(), "0:00:05");
    Enter(deck(), "Prev");
    EXPECT_EQ(Pno(), "PNo 02");
    EXPECT_EQ(Lower(), "0:00:00");
    EXPECT_EQ(TapeFrame(), sim::FirstFrameOfProgram(*tape, 2));
    // Three seconds in is not more than three: the program before.
    Enter(deck(), "PTime 0 0 0 0 3 Execute Prev");
    EXPECT_EQ(Pno(), "PNo 01");
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DeckSeek, ASeekDuringPlaybackStopsItAndEndsReady)
{
    auto tape = ThreeProgramTape();
    StartReady(tape);
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    // The skip buttons are off while the deck plays, as Play leaves only Stop: the handler
    // itself, as a click arriving with the buttons reachable would run it.
    deck().cmdPrev_Click();  // Next Program
    EXPECT_FALSE(PlayActive);
    ExpectReady();
    EXPECT_EQ(Pno(), "PNo 02");
    EXPECT_EQ(TapeFrame(), sim::FirstFrameOfProgram(*tape, 2));
    ASSERT_TRUE(testing_support::PumpUntil([&] { return !fakeWave.anyOpen(); }));
    EXPECT_TRUE(messages.empty()) << messages.front();
}

// Through an ALSA device that writes what it plays into a file (the file plugin over the null
// device, which takes each buffer at once).
class DeckResume : public DeckSeek {
protected:
    void SetUp() override
    {
        fakeSoundDevice = false;
        DeckSeek::SetUp();
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        rawPath = dir.filePath("device.raw").toStdString();
        // 400 frames (12 seconds) of a pattern no frame repeats.
        std::vector<std::int16_t> pcm(400 * 1440 * 2);
        std::uint32_t x = 2468;
        for (auto& v : pcm) {
            x = x * 1103515245u + 12345u;
            v = static_cast<std::int16_t>(x >> 16);
        }
        tape = sim::MakePcmTape({pcm});
    }
    void TearDown() override
    {
        DeckSeek::TearDown();
        QDir::setCurrent(previous);
    }
    static std::vector<std::uint8_t> ReadAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The tape frame whose audio is the 5760 bytes at `at`; -1 when none is.
    std::int64_t FrameOf(const std::vector<std::uint8_t>& bytes, std::size_t at) const
    {
        for (std::uint64_t n = 0; n < tape->frameCount(); ++n) {
            const auto audio = sim::FrameAudio(*tape, n);
            if (at + audio.size() <= bytes.size() && std::equal(audio.begin(), audio.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)))
                return static_cast<std::int64_t>(n);
        }
        return -1;
    }
    static bool DeviceHoldsNothing()
    {
        for (int i = 0; i < 4; ++i)
            if (PlayHeader(i)->dwFlags & WHDR_INQUEUE)
                return false;
        return true;
    }
    static bool DeviceClosed()
    {
        for (int i = 0; i < 4; ++i)
            if (PlayHeader(i)->dwFlags & WHDR_PREPARED)
                return false;
        return !StartPending();
    }

    QTemporaryDir dir;
    QString previous;
    std::string rawPath;
    std::shared_ptr<const sim::Tape> tape;
};

TEST_F(DeckResume, PlayAfterStopContinuesFromTheLastFrameTheDeviceGot)
{
    SetWaveOutDevice("file:'" + rawPath + "',raw");
    // Stop about 5 seconds in, while the first frame of the seventh buffer is being read: the
    // device has had six buffers of 30 frames, frames 0 to 179.
    HoldCommand(kRead6, 181);
    constexpr std::int64_t kLastGiven = 179;
    StartReady(tape);
    WhenHeld([&] {
        // The device plays out what it was given before the click comes.
        EXPECT_TRUE(testing_support::PumpUntil(DeviceHoldsNothing));
        deck().cmdStop->click();
        gate->release();
    });
    deck().cmdPlay->click();
    // Stop's locate waits for the refill it arrived in; then one READ POSITION fills the panel.
    ASSERT_TRUE(testing_support::PumpUntil([&] {
        return deck().cmdPlay->isEnabled() && !CommandsWithOpcode(kReadPosition).empty() && DeviceClosed();
    }));
    ExpectReady();
    EXPECT_GE(FramePassReport().frames, static_cast<std::uint64_t>(kLastGiven) + 2);  // read ahead of the device
    // What the device got, in tape order from the first frame.
    const auto played = ReadAll(rawPath);
    ASSERT_GE(played.size(), 5760u * (kLastGiven + 1));
    ASSERT_EQ(FrameOf(played, 5760u * kLastGiven), kLastGiven);

    deck().mnuOptionsSave->trigger();
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    const auto wav = ReadAll("Audio48.wav");
    ASSERT_GE(wav.size(), 44u + 5760u);
    const std::int64_t first = FrameOf(wav, 44);
    EXPECT_GE(first, kLastGiven);
    EXPECT_LE(first, kLastGiven + 1);
    // No gap: from its first frame on, the new capture is the tape.
    EXPECT_EQ(wav.size(), 44u + 5760u * static_cast<std::size_t>(400 - first));
    EXPECT_EQ(FrameOf(wav, wav.size() - 5760), 399);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

}  // namespace
}  // namespace deck_test
