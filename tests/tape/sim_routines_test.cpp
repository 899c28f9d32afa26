// The command routines against the virtual DAT drive: what each one does to a drive that
// answers like a real one.
#include <memory>

#include "sim/virtual_bus.h"
#include "tape/eject_read.h"
#include "dat/frame.h"
#include "tape/lock_limits.h"
#include "tape/position_record.h"
#include "tape/positioning.h"
#include "tape/unit_mode.h"
#include "tape_fixture.h"

namespace tape_test {
namespace {

std::vector<std::int16_t> Tone(std::size_t pairs, std::int16_t level)
{
    std::vector<std::int16_t> pcm(pairs * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(level + static_cast<std::int16_t>(i % 97));
    return pcm;
}

class SimDriveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tape = sim::MakePcmTape({Tone(1440 * 40, 100), Tone(1440 * 40, -3000)});
        clock = std::make_shared<sim::VirtualClock>();
        sim::BusConfig config;
        config.readSpeed = 0;
        config.clock = clock;
        sim::DriveConfig drive;
        drive.target = kTarget;
        drive.tape = tape;
        config.adapters[0].devices.push_back(drive);
        std::string error;
        auto built = sim::CreateBus(config, error);
        ASSERT_TRUE(built) << error;
        bus = built.get();
        aspi::InstallBackend(std::move(built));
        ui::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        ASSERT_EQ(CheckUnitReady(kAdapter, kTarget).code, kTurReset);  // the power-on attention
    }
    void TearDown() override
    {
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
    }

    std::string ReportLine(std::size_t i)
    {
        PositionRecord record{};
        ReadPosition(kAdapter, kTarget, record);
        return FormatPositionReport(record).at(i);
    }

    std::shared_ptr<const sim::Tape> tape;
    std::shared_ptr<sim::VirtualClock> clock;
    sim::Bus* bus = nullptr;
    std::vector<std::string> messages;
};

TEST_F(SimDriveTest, ReadinessThroughATapeChange)
{
    EXPECT_EQ(CheckUnitReady(kAdapter, kTarget).code, kTurReady);
    ASSERT_TRUE(bus->removeTape(kAdapter, kTarget));
    EXPECT_EQ(CheckUnitReady(kAdapter, kTarget).code, kTurNoTape);
    ASSERT_TRUE(bus->insertTape(kAdapter, kTarget, tape));
    EXPECT_EQ(CheckUnitReady(kAdapter, kTarget).code, kTurMediumChanged);
    EXPECT_EQ(CheckUnitReady(kAdapter, kTarget).code, kTurBecomingReady);
    clock->advance(60);
    EXPECT_EQ(CheckUnitReady(kAdapter, kTarget).code, kTurReady);
    EXPECT_TRUE(messages.empty());
}

TEST_F(SimDriveTest, ModeRoutinesSwitchTheDriveDensity)
{
    EXPECT_TRUE(TrySelectDensity(kAdapter, kTarget, 0x13));
    EXPECT_EQ(bus->driveState(kAdapter, kTarget)->modeDensity, 0x13);
    EXPECT_TRUE(TrySelectAudioMode(kAdapter, kTarget));
    EXPECT_EQ(bus->driveState(kAdapter, kTarget)->modeDensity, AudioDensity);
    EXPECT_EQ(GetDensityCode(kAdapter, kTarget), AudioDensity);  // the audio tape's density
    const Status refused = TrySelectDensity(kAdapter, kTarget, 0x55);
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error(), "");  // a refusal: nothing to tell
    EXPECT_TRUE(messages.empty());
}

TEST_F(SimDriveTest, LocateToAProgramThenReadItsFirstFrame)
{
    EXPECT_TRUE(TryLocateTape(kAdapter, kTarget, kLocateProgram, 0, 0, 2).done);
    EXPECT_EQ(ReportLine(0), "Program # = 002");
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    const ReadOutcome r = ReadTapeBlock(kAdapter, kTarget, frame.data(), dat::kFrameBytes);
    ASSERT_TRUE(r.completed);
    EXPECT_EQ(frame, sim::FrameBytes(*tape, sim::FirstFrameOfProgram(*tape, 2)));
    EXPECT_TRUE(messages.empty());
}

TEST_F(SimDriveTest, BeginningOfTapeAndRewind)
{
    EXPECT_TRUE(TryLocateTape(kAdapter, kTarget, kLocateProgram, 0, 0, 2).done);
    EXPECT_TRUE(TryLocateTape(kAdapter, kTarget, kLocateAbsoluteTime, 0, 0, 0).done);
    EXPECT_EQ(ReportLine(4), "Absolute Time = 0:0:0");
    EXPECT_TRUE(TryLocateTape(kAdapter, kTarget, kLocateProgram, 0, 0, 2).done);
    RewindTape(kAdapter, kTarget);
    EXPECT_EQ(bus->driveState(kAdapter, kTarget)->frame, 0u);
}

TEST_F(SimDriveTest, ReadingPastTheRecordingEndsInBlankCheck)
{
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    ReadOutcome r;
    for (std::uint64_t n = 0; n <= tape->frameCount(); ++n) {
        r = ReadTapeBlock(kAdapter, kTarget, frame.data(), dat::kFrameBytes);
        if (!r.completed)
            break;
    }
    EXPECT_TRUE(r.endOfData());
    EXPECT_EQ(bus->driveState(kAdapter, kTarget)->framesRead, tape->frameCount());
}

TEST_F(SimDriveTest, EjectFollowsTheMediumLock)
{
    EXPECT_TRUE(PreventAllowRemoval(kAdapter, kTarget, 1));
    EXPECT_TRUE(bus->driveState(kAdapter, kTarget)->removalPrevented);
    EXPECT_FALSE(EjectTape(kAdapter, kTarget));
    EXPECT_TRUE(PreventAllowRemoval(kAdapter, kTarget, 0));
    EXPECT_TRUE(EjectTape(kAdapter, kTarget));
    EXPECT_FALSE(bus->driveState(kAdapter, kTarget)->tapeLoaded);
    EXPECT_FALSE(EjectTape(kAdapter, kTarget));  // nothing left to eject
}

TEST_F(SimDriveTest, BlockLimitsLine)
{
    EXPECT_EQ(ReadBlockLimits(kAdapter, kTarget), " 1 16777215");
}

}  // namespace
}  // namespace tape_test
