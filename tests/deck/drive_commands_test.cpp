// The drive routines as the windows run them: each box keeps its place among the commands.
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "deck/drive_commands.h"
#include "platform/ui/message_box.h"
#include "support/fake_backend.h"

namespace {

using testing_support::CheckCondition;
using testing_support::WithStatus;

class DriveCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto backend = std::make_unique<testing_support::ScriptedBackend>();
        backend->adapters.push_back({});
        backend->adapters[0].devices[4] = 1;
        bus = backend.get();
        aspi::InstallBackend(std::move(backend));
        ui::SetMessageSink([this](const std::string& text) { events.push_back("box: " + text); });
    }
    void TearDown() override
    {
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
    }
    // Every command is noted in `events` and answered with `result`.
    void AnswerAll(const aspi::ExecResult& result)
    {
        bus->answer = [this, result](const aspi::ExecRequest&) {
            events.push_back("command");
            return result;
        };
    }

    testing_support::ScriptedBackend* bus = nullptr;
    std::vector<std::string> events;
};

// A time field that cannot go out as BCD is told before the LOCATE (sent as 00), the
// drive's failure after it; a refusal sends nothing.
TEST_F(DriveCommandsTest, LocateTellsTheNoteBeforeTheCommandAndTheFailureAfter)
{
    AnswerAll(CheckCondition(8, 0x00, 0x05));
    EXPECT_FALSE(LocateTape(0, 4, kLocateAbsoluteTime, 1, 100, 5));
    ASSERT_EQ(bus->commands().size(), 1u);
    EXPECT_EQ(bus->commands()[0].cdb, (std::vector<std::uint8_t>{0x2B, 0x04, 0, 0x20, 0x01, 0x00, 0x05, 0, 0, 0}));
    EXPECT_EQ(events, (std::vector<std::string>{"box: Number too long to convert to BCD. Must be 99 or less.", "command",
                                                "box: Locate failed: BLANK CHECK, end of data detected (00/05)."}));

    events.clear();
    const LocateOutcome quiet = LocateTelling(0, 4, kLocateProgram, 0, 0, 9);
    EXPECT_TRUE(quiet.notFound);
    EXPECT_EQ(events, std::vector<std::string>{"command"}) << "the caller tells this failure itself";

    events.clear();
    EXPECT_FALSE(LocateTape(0, 4, 4, 0, 0, 0));
    EXPECT_EQ(events, std::vector<std::string>{"box: Wrong Locate Type specified."});
}

// The probe's commands: an unexpected TEST UNIT READY and a MODE SELECT failure are told
// once each, a refusal not at all.
TEST_F(DriveCommandsTest, UnitReadyAndModeSelectTellWhatTheyReturn)
{
    AnswerAll(WithStatus(SS_ABORTED));
    EXPECT_EQ(TestUnitReady(0, 4), kTurOther);
    EXPECT_FALSE(SelectAudioMode(0, 4));
    EXPECT_EQ(events, (std::vector<std::string>{"command", "box: Error in TestUnitReady function: SRB Command status= 2.",
                                                "command", "box: Undefined error in ModeSelect procedure."}));
    events.clear();
    AnswerAll(CheckCondition(5, 0x26, 0));
    EXPECT_FALSE(SelectDensity(0, 4, 0x55));
    EXPECT_EQ(events, std::vector<std::string>{"command"});
}

}  // namespace
