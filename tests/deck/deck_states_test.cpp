// The deck's panel states and transitions: start-up, the wait-for-tape poll, every transport
// button, eject success and failure, closing and File, Exit during a command.
#include <QAction>
#include <QCoreApplication>
#include <map>
#include <sstream>

#include "deck_fixture.h"
#include "sim/tape.h"
#include "tape/lock_limits.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

constexpr std::uint8_t kLocate10 = 0x2B;
constexpr std::uint8_t kLoadUnload = 0x1B;
const std::string kDashes = "-:--:--";

// Clicks the button or runs the event a word names.
void Do(frmDeck& d, const std::string& event)
{
    static const std::map<std::string, QPushButton* frmDeck::*> kButtons{
        {"Play", &frmDeck::cmdPlay},   {"Stop", &frmDeck::cmdStop},     {"Cue", &frmDeck::cmdCue},
        {"Record", &frmDeck::cmdRecord}, {"Next", &frmDeck::cmdNext},   {"Prev", &frmDeck::cmdPrev},
        {"BOT", &frmDeck::cmdBOT},     {"EOT", &frmDeck::cmdEOT},       {"Eject", &frmDeck::cmdEject},
        {"ATime", &frmDeck::cmdAtime}, {"PNo", &frmDeck::cmdPno},       {"PTime", &frmDeck::cmdPtime},
        {"Execute", &frmDeck::cmdExecute},
    };
    if (event == "Tick") {
        d.tmrWait4Tape_Timer();
        return;
    }
    QPushButton* b = event.size() == 1 ? d.cmdPad[static_cast<std::size_t>(event[0] - '0')] : d.*kButtons.at(event);
    ASSERT_TRUE(b->isEnabled()) << event << " is disabled";
    b->click();
}

struct WalkRow {
    const char* events;  // from Ready, space-separated
    std::set<std::string> enabled;
    std::string upper, lower;  // "*": whatever playback has reached when the walk ends
    bool timerRunning;
    std::string pno = "PNo - -";
    std::vector<std::string> messages = {};
    friend void PrintTo(const WalkRow& row, std::ostream* os) { *os << '"' << row.events << '"'; }
};

class DeckWalk : public DeckTest, public ::testing::WithParamInterface<WalkRow> {};

TEST_P(DeckWalk, EndsInTheExpectedState)
{
    const WalkRow& row = GetParam();
    StartReady();
    std::istringstream events(row.events);
    for (std::string e; events >> e;) {
        SCOPED_TRACE(e);
        Do(deck(), e);
        testing_support::PumpPosted();
    }
    EXPECT_EQ(EnabledButtons(deck()), row.enabled);
    if (row.upper != "*") {
        EXPECT_EQ(RowText(deck(), true), row.upper);
        EXPECT_EQ(RowText(deck(), false), row.lower);
        EXPECT_EQ(deck().lblPno->text().toStdString(), row.pno);
    }
    EXPECT_EQ(deck().tmrWait4Tape->isActive(), row.timerRunning);
    EXPECT_EQ(messages, row.messages);
}

const std::set<std::string> kStopOnly{"cmdStop"};
// A stopped deck shows where the tape stands; EOT's lead-out has no valid time.
const std::string kAtBot = "0:00:00";

INSTANTIATE_TEST_SUITE_P(
    FromReady, DeckWalk,
    ::testing::Values(
        WalkRow{"", ReadyButtons(), kDashes, kDashes, false},
        WalkRow{"Play", kStopOnly, "*", "*", false},
        // Stop locates back to the frame heard (the fake device plays nothing; where Stop
        // resumes is tested with a device that plays), then one READ POSITION.
        WalkRow{"Play Stop", ReadyButtons(), "*", "*", false},
        WalkRow{"Cue", kStopOnly, kDashes, kDashes, false},
        // cmdNext is Previous Program: READ POSITION finds program 1, so LOCATE to BOT, READ
        // POSITION. cmdPrev is Next Program: READ POSITION, LOCATE to program 2, READ POSITION.
        WalkRow{"Next", ReadyButtons(), kAtBot, kAtBot, false, "PNo 01"},
        WalkRow{"Prev", ReadyButtons(), "0:00:30", kAtBot, false, "PNo 02"},
        WalkRow{"BOT", ReadyButtons(), kAtBot, kAtBot, false, "PNo 01"},
        WalkRow{"EOT", ReadyButtons(), kDashes, kDashes, false},
        WalkRow{"EOT BOT", ReadyButtons(), kAtBot, kAtBot, false, "PNo 01"},
        WalkRow{"ATime", Union(ReadyButtons(), PadButtons()), kDashes, kDashes, false},
        WalkRow{"PTime 1 2", Union(ReadyButtons(), PadButtons()), "1:2-:--", kDashes, false},
        WalkRow{"PTime 1 2 3 4 5", Union(ReadyButtons(), {"cmdExecute"}), "1:23:45", kDashes, false},
        // Nothing has said which program the tape is in: a message, and nothing is sent.
        WalkRow{"PTime 1 2 3 4 5 Execute", ReadyButtons(), "1:23:45", kDashes, false, "PNo - -",
                {"No current program: the tape does not stand in a program."}},
        WalkRow{"PNo 1 Play", kStopOnly, "*", "*", false},
        WalkRow{"ATime 2 BOT", ReadyButtons(), kAtBot, kAtBot, false, "PNo 01"},
        WalkRow{"PTime 1 2 3 4 5 Cue Stop", ReadyButtons(), kAtBot, kAtBot, false, "PNo 01"},
        WalkRow{"Eject", {}, kDashes, kDashes, true},
        WalkRow{"PNo 0 Eject Tick", {}, kDashes, kDashes, true}));

TEST_F(DeckTest, StartUpShowsTheLampTestThenDataThenDashesAndWaits)
{
    // Pauses long enough for a zero timer to look at the panel inside each of them.
    SetPresentationPauses(5ms, 5ms);
    std::vector<std::string> seen;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!DeckPresented())
            return;
        std::ostringstream s;
        s << RowText(deck(), true) << '|' << RowText(deck(), false) << '|' << EnabledButtons(deck()).size() << '|'
          << deck().tmrWait4Tape->isActive();
        if (seen.empty() || seen.back() != s.str())
            seen.push_back(s.str());
    });
    look.start(0);
    Start(sim::MakeDemoTape());
    look.stop();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0], "8 88 88|8 88 88|0|0");
    EXPECT_EQ(seen[1], "  dA tA|  dA tA|0|0");
    // After the presentation: Waiting for tape.
    EXPECT_TRUE(deck().isVisible());
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{});
    EXPECT_EQ(RowText(deck(), true), kDashes);
    EXPECT_EQ(RowText(deck(), false), kDashes);
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
    EXPECT_EQ(deck().tmrWait4Tape->interval(), 1000);
    EXPECT_EQ(deck().focusWidget(), deck().picAtime[0]);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DeckTest, WithoutATapeTheDeckKeepsWaiting)
{
    Start(nullptr);
    for (int i = 0; i < 3; ++i)
        Tick();
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{});
    EXPECT_EQ(RowText(deck(), true), kDashes);
    EXPECT_EQ(RowText(deck(), false), kDashes);
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
}

TEST_F(DeckTest, ADataTapeShowsDataWithOnlyEjectAndEjectingItWaitsAgain)
{
    Start(sim::MakeDataTape());
    Tick();
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{"cmdEject"});
    EXPECT_EQ(RowText(deck(), true), "  dA tA");
    EXPECT_EQ(RowText(deck(), false), "  dA tA");
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
    // Refreshed on every tick.
    deck().SetDisplayToBlank();
    Tick();
    EXPECT_EQ(RowText(deck(), true), "  dA tA");

    deck().cmdEject->click();
    EXPECT_EQ(CommandsWithOpcode(kLoadUnload).size(), 1u);
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{});
    EXPECT_EQ(RowText(deck(), true), kDashes);
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
    Tick();
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{});

    // An audio tape goes in: after its unit attention and becoming ready, the deck is Ready.
    bus->insertTape(AspiAdapter, AspiTarget, sim::MakeDemoTape());
    clock->advance(10);
    for (int i = 0; i < 3 && deck().tmrWait4Tape->isActive(); ++i)
        Tick();
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    EXPECT_FALSE(deck().tmrWait4Tape->isActive());
}

TEST_F(DeckTest, BotAndEotSendTheirLocatesAndComeBackReady)
{
    StartReady();
    recorder->clear();
    deck().cmdEOT->click();
    deck().cmdBOT->click();
    const auto locates = CommandsWithOpcode(kLocate10);
    ASSERT_EQ(locates.size(), 2u);
    EXPECT_EQ(locates[0].cdb, (std::vector<std::uint8_t>{0x2B, 0x04, 0x00, 0x00, 0x00, 0x0E, 0x0E, 0x00, 0x00, 0x00}));
    EXPECT_EQ(locates[1].cdb, (std::vector<std::uint8_t>{0x2B, 0x04, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    EXPECT_EQ(bus->driveState(AspiAdapter, AspiTarget)->frame, 0u);
}

// Previous and Next Program seek now (deck_seek_test), Record records (deck_record_test); Cue
// still sends nothing.
TEST_F(DeckTest, CueSendsNothing)
{
    StartReady();
    recorder->clear();
    deck().cmdCue->click();
    EXPECT_EQ(EnabledButtons(deck()), kStopOnly);
    deck().cmdStop->click();
    EXPECT_TRUE(recorder->commands().empty());
}

TEST_F(DeckTest, AFailedEjectShowsItsMessageAndLeavesOnlyEject)
{
    StartReady();
    ASSERT_TRUE(PreventAllowRemoval(AspiAdapter, AspiTarget, 1));
    deck().cmdEject->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Error. Tape did not eject for some reason.");
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{"cmdEject"});
    EXPECT_EQ(RowText(deck(), true), kDashes);
    EXPECT_FALSE(deck().tmrWait4Tape->isActive());

    // Retried once the tape is free: it goes out, and the deck waits for a tape.
    ASSERT_TRUE(PreventAllowRemoval(AspiAdapter, AspiTarget, 0));
    deck().cmdEject->click();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_FALSE(bus->driveState(AspiAdapter, AspiTarget)->tapeLoaded);
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
}

TEST_F(DeckTest, ClosingTheWindowDuringPlaybackStopsItThenEndsTheProgram)
{
    StartReady();
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([] { return PlayActive; }));
    bool stoppedBeforeTheEnd = false;
    QObject::connect(&deck(), &frmDeck::programEndRequested, [&] { stoppedBeforeTheEnd = !PlayActive; });
    deck().close();
    EXPECT_TRUE(stoppedBeforeTheEnd);
    EXPECT_EQ(exitRequests, 1);
    EXPECT_FALSE(PlayActive);
    EXPECT_TRUE(deck().Unloaded());
    EXPECT_FALSE(deck().isVisible());
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{});
    EXPECT_EQ(RowText(deck(), true), kDashes);
}

TEST_F(DeckTest, PlayRunsUntilStopAndStopReturnsToReady)
{
    StartReady();
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    EXPECT_TRUE(PlayActive);
    EXPECT_EQ(EnabledButtons(deck()), kStopOnly);
    deck().cmdStop->click();
    EXPECT_FALSE(PlayActive);
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    ASSERT_TRUE(testing_support::PumpUntil([&] { return !fakeWave.anyOpen(); }));
}

TEST_F(DeckTest, WithoutASoundDeviceTheErrorAndWhatToDoAreShownAndTheDeckIsReadyAgain)
{
    fakeWave.openResult = MMSYSERR_BADDEVICEID;
    fakeWave.openText = "no sound card here";
    StartReady();
    deck().cmdPlay->click();
    testing_support::PumpPosted();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("no sound card here"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("--audio-device=NAME"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("aplay -L"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("Options, Save Only"), std::string::npos) << messages[0];
    // No false playing state: Ready at once, without Stop.
    ASSERT_TRUE(testing_support::PumpUntil([&] { return EnabledButtons(deck()) == ReadyButtons(); }));
    EXPECT_FALSE(PlayActive);
    EXPECT_FALSE(deck().tmrPanel->isActive());
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(DeckTest, FileExitClosesTheWindowThenEndsTheProgram)
{
    StartReady();
    deck().cmdPlay->click();
    deck().mnuFileExit->trigger();
    EXPECT_EQ(exitRequests, 1);
    EXPECT_TRUE(deck().Unloaded());
    EXPECT_FALSE(PlayActive);
}

TEST_F(DeckTest, FileExitDuringALocateEndsCleanlyWhenTheLocateReturns)
{
    HoldCommand(kLocate10);
    StartReady();

    bool exitedDuringLocate = false;
    // Runs inside the locate's wait, as a menu click would.
    WhenHeld([&] {
        EXPECT_TRUE(deck().CommandRunning());
        deck().mnuFileExit->trigger();
        exitedDuringLocate = deck().Unloaded();
        gate->release();
    });
    deck().cmdBOT->click();
    EXPECT_TRUE(exitedDuringLocate);
    EXPECT_EQ(exitRequests, 1);
    EXPECT_FALSE(deck().CommandRunning());
    // The handler that resumed after the locate left the closed window alone.
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{});
    EXPECT_FALSE(deck().tmrWait4Tape->isActive());
    EXPECT_TRUE(messages.empty());
}

TEST_F(DeckTest, APollTickDuringAnEjectDoesNotReEnableEject)
{
    HoldCommand(kLoadUnload);
    Start(sim::MakeDataTape());
    Tick();
    ASSERT_EQ(EnabledButtons(deck()), std::set<std::string>{"cmdEject"});
    std::set<std::string> duringEject{"not looked at"};
    WhenHeld([&] {
        Tick();
        duringEject = EnabledButtons(deck());
        gate->release();
    });
    deck().cmdEject->click();
    EXPECT_EQ(duringEject, std::set<std::string>{});
    EXPECT_EQ(EnabledButtons(deck()), std::set<std::string>{});
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
}

}  // namespace
}  // namespace deck_test
