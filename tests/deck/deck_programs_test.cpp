// Options, Scan Programs on the virtual drive: the list of programs with start and length, the
// total recorded time and the A-Time row's remaining time, a double-click that plays a
// program, the scan's time at search speed, and Stop, Eject and a tape taken out mid-scan.
#include <QMouseEvent>
#include <QTreeWidget>

#include "dat/time_code.h"
#include "deck/program_list.h"
#include "deck_fixture.h"
#include "sim/tape.h"

namespace deck_test {
namespace {

constexpr std::uint8_t kLocate10 = 0x2B;
constexpr std::uint8_t kRead6 = 0x08;
constexpr std::uint8_t kLoadUnload = 0x1B;

std::vector<std::int16_t> Tone(double seconds)
{
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(seconds * 48000) * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>((i * 37) % 2000 - 1000);
    return pcm;
}

// A mouse event as the window system delivers it: a press the widget leaves goes to its parent.
void Mouse(QWidget* w, QEvent::Type type, QPoint at = {2, 2})
{
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Click(QWidget* w, QPoint at = {2, 2})
{
    Mouse(w, QEvent::MouseButtonPress, at);
    Mouse(w, QEvent::MouseButtonRelease, at);
}

void DoubleClick(QWidget* w, QPoint at)
{
    Click(w, at);
    Mouse(w, QEvent::MouseButtonDblClick, at);
    Mouse(w, QEvent::MouseButtonRelease, at);
}

std::string Hms(std::uint64_t frames) { return dat::FormatHms(dat::TimeCodeOfIndex(frames)); }

class DeckPrograms : public DeckTest {
protected:
    QTreeWidget& List() { return *deck().programPanel->lstPrograms; }
    std::vector<std::vector<std::string>> Rows()
    {
        std::vector<std::vector<std::string>> rows;
        for (int i = 0; i < List().topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = List().topLevelItem(i);
            rows.push_back({item->text(0).toStdString(), item->text(1).toStdString(), item->text(2).toStdString()});
        }
        return rows;
    }
    std::string Status() { return deck().programPanel->lblProgramsStatus->text().toStdString(); }
    void Scan()
    {
        deck().mnuOptions->popup({0, 0});  // the menu enables the item for a tape standing still
        ASSERT_TRUE(deck().mnuOptionsScan->isEnabled());
        deck().mnuOptions->hide();
        deck().mnuOptionsScan->trigger();
    }
    std::vector<std::vector<std::uint8_t>> Locates()
    {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& c : CommandsWithOpcode(kLocate10))
            out.push_back(c.cdb);
        return out;
    }
    static std::vector<std::uint8_t> LocateProgram(std::uint8_t tens, std::uint8_t units)
    {
        return {0x2B, 0x04, 0x00, 0x00, 0x00, tens, units, 0x00, 0x00, 0x00};
    }
};

TEST_F(DeckPrograms, ScanListsEachProgramWithStartAndLengthThenTheTotalAndTheTimeLeft)
{
    auto tape = sim::MakePcmTape({Tone(61.5), Tone(4), Tone(9)});
    StartReady(tape);
    EXPECT_FALSE(deck().lblTotal->isVisible());
    recorder->clear();
    Scan();

    const std::uint64_t p1 = sim::FirstFrameOfProgram(*tape, 1), p2 = sim::FirstFrameOfProgram(*tape, 2),
                        p3 = sim::FirstFrameOfProgram(*tape, 3);
    const std::uint64_t end = tape->frameCount() - sim::kLeadOutFrames;
    using Row = std::vector<std::string>;
    EXPECT_EQ(Rows(), (std::vector<Row>{
                          {"1", Hms(p1), Hms(p2 - p1)}, {"2", Hms(p2), Hms(p3 - p2)}, {"3", Hms(p3), Hms(end - p3)}}));
    EXPECT_EQ(Rows()[0][2], "0:01:01");  // whole seconds, as the panel counts
    EXPECT_EQ(Status(), "3 programs on the tape.");
    EXPECT_TRUE(deck().programPanel->isVisible());
    // Locates only, by number, and the end: no sound is read to find the programs.
    EXPECT_TRUE(CommandsWithOpcode(kRead6).empty());
    EXPECT_EQ(Locates(),
              (std::vector<std::vector<std::uint8_t>>{LocateProgram(0, 1), LocateProgram(0, 2), LocateProgram(0, 3),
                                                      LocateProgram(0, 4), LocateProgram(0x0E, 0x0E)}));
    // The tape waits at the end of the recording, the deck Ready, and no message for the
    // number the tape does not hold.
    EXPECT_EQ(bus->driveState(AspiAdapter, AspiTarget)->frame, end);
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    EXPECT_TRUE(messages.empty()) << messages.front();
    ASSERT_TRUE(deck().TotalTime());
    EXPECT_EQ(dat::FormatHms(*deck().TotalTime()), Hms(end));
    EXPECT_EQ(deck().lblTotal->text().toStdString(), "TOTAL " + Hms(end));
    EXPECT_EQ(deck().programPanel->lblProgramsTotal->text().toStdString(), "Total recorded time: " + Hms(end));

    // A click on the A-Time row counts down to the end; a second one counts up again.
    deck().cmdBOT->click();
    EXPECT_EQ(RowText(deck(), true), "0:00:00");
    Click(deck().picAtime[2]);
    EXPECT_EQ(RowText(deck(), true), Hms(end));
    EXPECT_TRUE(deck().lblRemain->isVisibleTo(&deck()));
    EXPECT_EQ(deck().Frame1->accessibleName().toStdString(), "Remaining Time");
    Click(deck().lblAtime);
    EXPECT_EQ(RowText(deck(), true), "0:00:00");
    EXPECT_FALSE(deck().lblRemain->isVisibleTo(&deck()));

    // A double-click on a program locates it and plays from its start.
    recorder->clear();
    QTreeWidgetItem* second = List().topLevelItem(1);
    const QRect at = List().visualItemRect(second);
    DoubleClick(List().viewport(), at.center());
    ASSERT_FALSE(Locates().empty());
    EXPECT_EQ(Locates().front(), LocateProgram(0, 2));
    EXPECT_TRUE(PlayActive);
    EXPECT_TRUE(deck().cmdStop->isEnabled());
    deck().cmdStop->click();
}

TEST_F(DeckPrograms, EndOfTapeShowsTheTotalAndAnotherTapeForgetsIt)
{
    auto tape = sim::MakeDemoTape();
    StartReady(tape);
    // Without a scan, the remaining time has nothing to count from.
    Click(deck().lblAtime);
    EXPECT_FALSE(deck().lblRemain->isVisibleTo(&deck()));
    deck().cmdEOT->click();
    ASSERT_TRUE(deck().TotalTime());
    EXPECT_EQ(dat::FormatHms(*deck().TotalTime()), Hms(tape->frameCount() - sim::kLeadOutFrames));
    EXPECT_TRUE(deck().lblTotal->isVisibleTo(&deck()));

    deck().cmdEject->click();
    EXPECT_FALSE(deck().TotalTime());
    EXPECT_FALSE(deck().lblTotal->isVisibleTo(&deck()));
}

TEST_F(DeckPrograms, ScanTakesUnderOnePercentOfThePlayingTimeAtSearchSpeed)
{
    // Three programs of ten minutes; the drive reads in real time and searches at its own
    // speed, both on the virtual clock.
    readSpeed = 1;
    constexpr std::uint64_t kPairs = 10ull * 60 * 48000;
    auto tape = sim::MakeLoopedPcmTape(Tone(1), 3, kPairs);
    StartReady(tape);
    const double before = clock->now();
    Scan();
    const double took = clock->now() - before;
    const double playing = static_cast<double>(tape->frameCount() - sim::kLeadOutFrames) * 0.03;
    EXPECT_EQ(Rows().size(), 3u);
    EXPECT_EQ(Rows()[2][2], "0:10:00");
    EXPECT_GT(took, 0.0);
    EXPECT_LT(took, playing / 100) << took << " s of " << playing << " s";
    RecordProperty("scan_seconds", std::to_string(took));
}

// Stop, Eject or a tape taken out while the second program is being searched for.
class DeckScanEnded : public DeckPrograms {
protected:
    void ScanHeldAtSecondLocate(std::function<void()> during)
    {
        HoldCommand(kLocate10, 2);
        StartReady(sim::MakeDemoTape());
        bool ran = false;
        WhenHeld([&] {
            // Events still run while the drive searches: the deck can be told to stop.
            EXPECT_TRUE(deck().ScanRunning());
            EXPECT_EQ(EnabledButtons(deck()), (std::set<std::string>{"cmdEject", "cmdStop"}));
            during();
            ran = true;
            gate->release();
        });
        Scan();
        ASSERT_TRUE(ran);
        EXPECT_FALSE(deck().ScanRunning());
        // The command under way ends; nothing after it searches on.
        EXPECT_EQ(Locates().size(), 2u);
    }
};

TEST_F(DeckScanEnded, StopKeepsWhatWasFoundAndTheDeckIsReady)
{
    ScanHeldAtSecondLocate([this] { deck().cmdStop->click(); });
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0][0], "1");
    EXPECT_EQ(Status(), "Scan stopped: 1 program found so far.");
    EXPECT_FALSE(deck().TotalTime());
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DeckScanEnded, EjectEjectsOnceTheSearchHasEnded)
{
    ScanHeldAtSecondLocate([this] { deck().cmdEject->click(); });
    EXPECT_EQ(CommandsWithOpcode(kLoadUnload).size(), 1u);
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
    EXPECT_TRUE(Rows().empty());  // the tape is gone, and what was found with it
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DeckScanEnded, ATapeTakenOutLeavesTheDeckWaitingForTheNext)
{
    ScanHeldAtSecondLocate([this] { bus->removeTape(AspiAdapter, AspiTarget); });
    EXPECT_TRUE(deck().tmrWait4Tape->isActive());
    EXPECT_TRUE(EnabledButtons(deck()).empty());
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(messages.empty()) << messages.front();
    bus->insertTape(AspiAdapter, AspiTarget, sim::MakeDemoTape());
    clock->advance(10);
    for (int i = 0; i < 3 && deck().tmrWait4Tape->isActive(); ++i)
        Tick();
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
}

}  // namespace
}  // namespace deck_test
