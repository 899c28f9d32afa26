// The virtual drive through the manager: each command's outcome and sense data, the medium
// states, the end of the recorded area, locates with READ POSITION, eject and the faults.
#include <gtest/gtest.h>

#include "dat/frame_builder.h"
#include "platform/aspi/sg_backend.h"
#include "sim/virtual_bus.h"
#include "sim_commands.h"

using namespace simtest;
using aspi::Direction;

namespace {

std::vector<std::int16_t> Ramp(std::size_t pairs, std::int16_t base)
{
    std::vector<std::int16_t> pcm(2 * pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        pcm[2 * i] = static_cast<std::int16_t>(base + i % 1000);
        pcm[2 * i + 1] = static_cast<std::int16_t>(-base - static_cast<int>(i % 777));
    }
    return pcm;
}

class VirtualDrive : public ::testing::Test {
protected:
    void TearDown() override { aspi::InstallBackend(nullptr); }

    // A bus with one drive at target 4; the power-on attention already taken.
    void start(sim::DriveConfig drive, double readSpeed = 0, bool takeAttention = true)
    {
        sim::BusConfig config;
        config.readSpeed = readSpeed;
        config.clock = clock;
        config.adapters[0].devices.push_back(drive);
        sim::DriveConfig cdrom;
        cdrom.target = 2;
        cdrom.type = 5;
        config.adapters[0].devices.push_back(cdrom);
        std::string error;
        auto made = sim::CreateBus(config, error);
        ASSERT_TRUE(made) << error;
        bus = made.get();
        aspi::InstallBackend(std::move(made));
        if (takeAttention) {
            Reply r = TestUnitReady();
            ASSERT_EQ(r.senseKey, 6);
            ASSERT_EQ(r.asc, 0x29);
        }
    }

    // Two programs: 10 frames and a half, and 400 frames.
    std::shared_ptr<const sim::Tape> twoPrograms()
    {
        return sim::MakePcmTape({Ramp(1440 * 10 + 720, 100), Ramp(1440 * 400, 5000)});
    }

    std::shared_ptr<sim::VirtualClock> clock = std::make_shared<sim::VirtualClock>();
    sim::Bus* bus = nullptr;
};

void ExpectSense(const Reply& r, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq)
{
    EXPECT_EQ(r.status, SS_ERR);
    EXPECT_EQ(r.sense[0] & 0x7F, 0x70);
    EXPECT_EQ(r.senseKey, key);
    EXPECT_EQ(r.asc, asc);
    EXPECT_EQ(r.ascq, ascq);
}

TEST_F(VirtualDrive, PowerOnAttentionComesOnceThenTheLoadedTapeIsReady)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    start(d, 0, false);
    // Whatever the first command is, it hears of the power-on.
    ExpectSense(ModeSense(), 6, 0x29, 0x00);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);
}

TEST_F(VirtualDrive, EmptyDriveInsertedTapeBecomingReadyThenReady)
{
    sim::DriveConfig d;
    d.becomingReadySeconds = 2;
    start(d);
    ExpectSense(TestUnitReady(), 2, 0x3A, 0x00);
    ExpectSense(ReadFrames(1), 2, 0x3A, 0x00);

    ASSERT_TRUE(bus->insertTape(0, 4, twoPrograms()));
    ExpectSense(TestUnitReady(), 6, 0x28, 0x00);
    ExpectSense(TestUnitReady(), 2, 0x04, 0x01);
    clock->advance(1.0);
    ExpectSense(TestUnitReady(), 2, 0x04, 0x01);
    clock->advance(1.0);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);
}

TEST_F(VirtualDrive, TapeAtPowerOnCanBeMadeToGoThroughBecomingReady)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    d.readyAtPowerOn = false;
    d.becomingReadySeconds = 5;
    start(d);
    // The start-up probe's four attempts: the attention, then three times becoming ready.
    for (int i = 0; i < 3; ++i)
        ExpectSense(TestUnitReady(), 2, 0x04, 0x01);
    clock->advance(5);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);
}

TEST_F(VirtualDrive, ModeSenseGivesTheTapesDensityAndModeSelectSetsTheMode)
{
    sim::DriveConfig d;
    start(d);
    Reply sense = ModeSense();
    ASSERT_EQ(sense.status, SS_COMP);
    ASSERT_EQ(sense.data.size(), 12u);
    EXPECT_EQ(sense.data[3], 8);
    EXPECT_EQ(sense.data[4], 0x00);  // empty drive: the mode's density
    EXPECT_EQ(ModeSelect(0x80).status, SS_COMP);
    EXPECT_EQ(ModeSense().data[4], 0x80);
    EXPECT_EQ(ModeSelect(0x00).status, SS_COMP);
    EXPECT_EQ(ModeSense().data[4], 0x00);
    EXPECT_EQ(sense.data[9] << 16 | sense.data[10] << 8 | sense.data[11], 512);

    bus->insertTape(0, 4, sim::MakeDataTape());
    TestUnitReady();
    EXPECT_EQ(ModeSense().data[4], 0x13);
    bus->insertTape(0, 4, twoPrograms());
    TestUnitReady();
    EXPECT_EQ(ModeSense().data[4], 0x80);
    ExpectSense(ModeSelect(0x55), 5, 0x26, 0x00);
}

TEST_F(VirtualDrive, DriveWithoutAudioRefusesTheAudioDensity)
{
    sim::DriveConfig d;
    d.audio = false;
    d.tape = sim::MakeDataTape();
    start(d);
    Reply r = ModeSelect(0x80);
    EXPECT_EQ(r.status, SS_ERR);
    EXPECT_EQ(r.senseKey, 5);
    EXPECT_EQ(ModeSelect(0x13).status, SS_COMP);
}

TEST_F(VirtualDrive, ReadDeliversWholeFramesAndAdvances)
{
    auto tape = twoPrograms();
    sim::DriveConfig d;
    d.tape = tape;
    start(d);
    Reply one = ReadFrames(1);
    ASSERT_EQ(one.status, SS_COMP);
    EXPECT_EQ(one.data, sim::FrameBytes(*tape, 0));
    Reply three = ReadFrames(3);
    ASSERT_EQ(three.status, SS_COMP);
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(std::equal(three.data.begin() + k * 5822, three.data.begin() + (k + 1) * 5822,
                               sim::FrameBytes(*tape, 1 + k).begin()));
    EXPECT_EQ(bus->driveState(0, 4)->frame, 4u);
}

TEST_F(VirtualDrive, ReadOfAnyOtherLengthIsAnIllegalRequest)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    start(d);
    ExpectSense(Send({0x08, 0, 0, 0x16, 0xBD, 0}, Direction::In, 5821), 5, 0x24, 0x00);
    ExpectSense(Send({0x08, 0, 0, 0x16, 0xBF, 0}, Direction::In, 5823), 5, 0x24, 0x00);
    ExpectSense(Send({0x08, 0x01, 0, 0, 1, 0}, Direction::In, 5822), 5, 0x24, 0x00);  // fixed bit
    EXPECT_EQ(bus->driveState(0, 4)->frame, 0u);
}

TEST_F(VirtualDrive, AudioReadFailsInDataModeAndOnDataTapes)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    start(d);
    ASSERT_EQ(ModeSelect(0x00).status, SS_COMP);
    EXPECT_EQ(ReadFrames(1).status, SS_ERR);
    ASSERT_EQ(ModeSelect(0x80).status, SS_COMP);
    EXPECT_EQ(ReadFrames(1).status, SS_COMP);

    bus->insertTape(0, 4, sim::MakeDataTape());
    TestUnitReady();
    clock->advance(10);
    ModeSelect(0x80);
    Reply r = ReadFrames(1);
    EXPECT_EQ(r.status, SS_ERR);
    EXPECT_NE(r.senseKey, 0);
}

TEST_F(VirtualDrive, EndOfRecordedAreaIsLeadOutThenBlankCheck)
{
    auto tape = twoPrograms();
    sim::DriveConfig d;
    d.tape = tape;
    start(d);
    const std::uint64_t leadOut = 11 + 400;
    ASSERT_EQ(tape->frameCount(), leadOut + 300);
    ASSERT_EQ(LocateProgram(0, 0x0E, 0x0E).status, SS_COMP);
    EXPECT_EQ(bus->driveState(0, 4)->frame, leadOut);
    Reply pos = ReadPosition();
    EXPECT_EQ(pos.data[4], 0);
    EXPECT_EQ(pos.data[5], 0x0E);
    EXPECT_EQ(pos.data[6], 0x0E);
    EXPECT_EQ(pos.data[12], 0xAA);  // time codes invalid in the lead-out

    Reply leadOutFrames = ReadFrames(299);
    ASSERT_EQ(leadOutFrames.status, SS_COMP);
    EXPECT_TRUE(std::all_of(leadOutFrames.data.begin(), leadOutFrames.data.begin() + 5760,
                            [](std::uint8_t b) { return b == 0; }));
    // Two frames asked, one left: the one is delivered, then end-of-data with the residue.
    Reply last = ReadFrames(2);
    ExpectSense(last, 8, 0x00, 0x05);
    EXPECT_EQ(last.sense[0] & 0x80, 0x80);
    EXPECT_EQ(last.sense[3] << 24 | last.sense[4] << 16 | last.sense[5] << 8 | last.sense[6], 5822);
    ExpectSense(ReadFrames(1), 8, 0x00, 0x05);
}

TEST_F(VirtualDrive, LocateByProgramAndTimeWithReadPosition)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    start(d);
    ASSERT_EQ(LocateProgram(0, 0, 2).status, SS_COMP);
    Reply pos = ReadPosition();
    ASSERT_EQ(pos.status, SS_COMP);
    EXPECT_EQ(std::vector<std::uint8_t>(pos.data.begin() + 4, pos.data.begin() + 8),
              (std::vector<std::uint8_t>{0, 0, 2, 1}));
    EXPECT_EQ(std::vector<std::uint8_t>(pos.data.begin() + 8, pos.data.begin() + 12),
              (std::vector<std::uint8_t>{0, 0, 0, 0}));
    // Program 2 starts at frame 11: 0 s and frame 11 of absolute time.
    EXPECT_EQ(std::vector<std::uint8_t>(pos.data.begin() + 12, pos.data.begin() + 20),
              (std::vector<std::uint8_t>{0, 0, 0, 0x11, 0, 0, 0, 0x11}));

    ASSERT_EQ(LocateTime(0, 0, 0x10).status, SS_COMP);  // 10 s = frame 333
    EXPECT_EQ(bus->driveState(0, 4)->frame, 333u);
    pos = ReadPosition();
    EXPECT_EQ(pos.data[6], 2);
    EXPECT_EQ(std::vector<std::uint8_t>(pos.data.begin() + 8, pos.data.begin() + 16),
              (std::vector<std::uint8_t>{0, 0, 0x09, 0x22, 0, 0, 0x10, 0}));  // 322 frames in

    ASSERT_EQ(Rewind().status, SS_COMP);
    pos = ReadPosition();
    EXPECT_EQ(pos.data[0] & 0x80, 0x80);  // beginning of partition
    EXPECT_EQ(pos.data[6], 1);
}

TEST_F(VirtualDrive, LocateToWhatIsNotThereFailsAndStopsAtTheEnd)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    start(d);
    ExpectSense(LocateProgram(0, 0, 9), 8, 0x00, 0x05);
    EXPECT_EQ(bus->driveState(0, 4)->frame, 711u);
    ExpectSense(LocateTime(0, 0x59, 0), 8, 0x00, 0x05);
    ExpectSense(LocateTime(0, 0x61, 0), 5, 0x24, 0x00);  // not a time
    ExpectSense(LocateProgram(0, 0x0A, 0), 5, 0x24, 0x00);
    EXPECT_EQ(bus->driveState(0, 4)->frame, 711u);
}

TEST_F(VirtualDrive, EjectIsRefusedWhilePreventedAndTheTapeComesBack)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    d.reinsertAfterEjectSeconds = 3;
    d.becomingReadySeconds = 2;
    start(d, 2);
    ASSERT_EQ(PreventRemoval(true).status, SS_COMP);
    ExpectSense(Eject(), 5, 0x53, 0x02);
    EXPECT_TRUE(bus->driveState(0, 4)->tapeLoaded);
    ASSERT_EQ(PreventRemoval(false).status, SS_COMP);
    EXPECT_EQ(Eject().status, SS_COMP);
    ExpectSense(TestUnitReady(), 2, 0x3A, 0x00);
    ExpectSense(Eject(), 2, 0x3A, 0x00);
    clock->advance(3);
    ExpectSense(TestUnitReady(), 6, 0x28, 0x00);
    ExpectSense(TestUnitReady(), 2, 0x04, 0x01);
    clock->advance(2);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);
    EXPECT_EQ(ReadPosition().data[6], 1);
}

TEST_F(VirtualDrive, WithoutReinsertionAnEjectedTapeStaysOutUntilLoaded)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    d.becomingReadySeconds = 1;
    start(d);
    ASSERT_EQ(Eject().status, SS_COMP);
    clock->advance(3600);
    ExpectSense(TestUnitReady(), 2, 0x3A, 0x00);
    ASSERT_EQ(Send({0x1B, 0, 0, 0, 0x01, 0}).status, SS_COMP);  // LOAD
    ExpectSense(TestUnitReady(), 6, 0x28, 0x00);
    clock->advance(1);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);
}

TEST_F(VirtualDrive, BlockLimitsAndUnknownOpcodes)
{
    sim::DriveConfig d;
    start(d);
    Reply limits = Send({0x05, 0, 0, 0, 0, 0}, Direction::In, 6);
    ASSERT_EQ(limits.status, SS_COMP);
    EXPECT_EQ(limits.data, (std::vector<std::uint8_t>{0, 0xFF, 0xFF, 0xFF, 0, 1}));
    ExpectSense(Send({0x0A, 0, 0, 0, 1, 0}), 2, 0x3A, 0x00);  // WRITE: known, and needs a tape
    ExpectSense(Send({0x19, 0, 0, 0, 0, 0}), 5, 0x20, 0x00);  // ERASE
}

TEST_F(VirtualDrive, OtherDevicesAndAddresses)
{
    sim::DriveConfig d;
    start(d);
    std::uint8_t type = 0;
    EXPECT_EQ(bus->deviceType(0, 2, 0, type), SS_COMP);
    EXPECT_EQ(type, 5);
    EXPECT_EQ(bus->deviceType(0, 3, 0, type), SS_NO_DEVICE);
    EXPECT_EQ(bus->deviceType(1, 4, 0, type), SS_INVALID_HA);
    ExpectSense(TestUnitReady(2), 5, 0x20, 0x00);
    EXPECT_EQ(TestUnitReady(3).status, SS_ERR);
    EXPECT_EQ(Send({0, 0, 0, 0, 0, 0}, Direction::None, 0, {}, 1, 4).status, SS_INVALID_HA);
    aspi::AdapterInquiry inquiry;
    ASSERT_EQ(bus->inquiry(0, inquiry), SS_COMP);
    EXPECT_EQ(inquiry.identifier, "VIRTUAL SCSI");
    EXPECT_EQ(inquiry.scsiId, 7);
    EXPECT_EQ(inquiry.targetCount, 8);
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0101u);
}

TEST_F(VirtualDrive, MediumErrorsFailAndMovePastConcealedFramesAreFlagged)
{
    auto tape = twoPrograms();
    sim::DriveConfig d;
    d.tape = tape;
    d.mediumErrors = {2};
    d.concealed = {5};
    start(d);
    Reply r = ReadFrames(3);
    ExpectSense(r, 3, 0x11, 0x00);
    EXPECT_EQ(bus->driveState(0, 4)->frame, 3u);
    EXPECT_TRUE(std::equal(r.data.begin(), r.data.begin() + 5822, sim::FrameBytes(*tape, 0).begin()));
    ASSERT_EQ(ReadFrames(2).status, SS_COMP);
    Reply concealed = ReadFrames(1);
    ASSERT_EQ(concealed.status, SS_COMP);
    EXPECT_EQ(concealed.data[5819], 0x60);
    const auto original = sim::FrameBytes(*tape, 5);
    EXPECT_NE(std::vector<std::uint8_t>(concealed.data.begin(), concealed.data.begin() + 5760),
              std::vector<std::uint8_t>(original.begin(), original.begin() + 5760));
    // Subcodes other than the flags stay as recorded.
    EXPECT_TRUE(std::equal(concealed.data.begin() + 5760, concealed.data.begin() + 5819, original.begin() + 5760));
}

TEST_F(VirtualDrive, ReadSpeedSetsHowLongFramesTakeOnTheClock)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    start(d, 2);
    const double before = clock->now();
    ASSERT_EQ(ReadFrames(100).status, SS_COMP);
    EXPECT_NEAR(clock->now() - before, 1.5, 1e-9);  // 100 frames of 30 ms at twice real time
}

TEST_F(VirtualDrive, AFrameTakesAsLongAsItsFormatsSound)
{
    // Ten long-play frames (12-bit at 32 kHz: 60 ms each), then ten of standard play (30 ms).
    std::vector<std::uint8_t> dump(20 * dat::kFrameBytes, 0);
    for (std::size_t n = 0; n < 20; ++n) {
        dat::SubcodeWriter w(dat::MutableFrameBytes(dump.data() + n * dat::kFrameBytes, dat::kFrameBytes));
        w.SetMainId({.sampleRateHz = n < 10 ? 32000u : 48000u, .nonLinear12 = n < 10});
        w.SetSubId({});
    }
    std::string error;
    sim::DriveConfig d;
    d.tape = sim::MakeFrameDumpTape(std::move(dump), error);
    ASSERT_TRUE(d.tape) << error;
    d.mediumErrors = {15};
    start(d, 2);
    double before = clock->now();
    ASSERT_EQ(ReadFrames(12).status, SS_COMP);
    EXPECT_NEAR(clock->now() - before, (10 * 0.06 + 2 * 0.03) / 2, 1e-9);
    // A frame the drive gives up on took its time too.
    before = clock->now();
    EXPECT_EQ(ReadFrames(5).senseKey, 3);
    EXPECT_NEAR(clock->now() - before, 4 * 0.03 / 2, 1e-9);
}

TEST_F(VirtualDrive, AfterCancelCommandsThatTakeTimeEndAborted)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    start(d, 2);
    bus->cancel();  // what the manager does at program end
    EXPECT_EQ(ReadFrames(1).status, SS_ABORTED);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);  // takes no time, so it still completes
}

TEST(RealClock, CancelEndsAWaitAndEveryLaterOne)
{
    sim::RealClock clock;
    std::thread waiter([&] { EXPECT_FALSE(clock.wait(3600)); });
    clock.cancel();
    waiter.join();
    EXPECT_FALSE(clock.wait(3600));
}

}  // namespace

TEST_F(VirtualDrive, ConcealedFrameAtALowerRateKeepsTheUnusedAreaZero)
{
    std::vector<std::int16_t> pcm(2 * 1323 * 4, 1200);
    auto tape = sim::MakeRecordedTape({{pcm, 44100}});
    sim::DriveConfig d;
    d.tape = tape;
    d.concealed = {1};
    start(d);
    Reply r = ReadFrames(2);
    ASSERT_EQ(r.status, SS_COMP);
    const std::uint8_t* frame = r.data.data() + 5822;
    EXPECT_EQ(frame[5819], 0x60);
    EXPECT_TRUE(std::all_of(frame + 5292, frame + 5760, [](std::uint8_t b) { return b == 0; }));
    // Interpolated between the neighbours' samples, which are all 1200.
    EXPECT_EQ(frame[5288] | frame[5289] << 8, 1200);
}

namespace {

std::uint32_t Information(const Reply& r)
{
    return std::uint32_t{r.sense[3]} << 24 | r.sense[4] << 16 | r.sense[5] << 8 | r.sense[6];
}

bool SameFrames(const Reply& r, const sim::Tape& tape, std::uint64_t first, std::uint64_t count)
{
    for (std::uint64_t k = 0; k < count; ++k) {
        const auto expected = sim::FrameBytes(tape, first + k);
        if (!std::equal(expected.begin(), expected.end(), r.data.begin() + k * 5822))
            return false;
    }
    return true;
}

}  // namespace

TEST_F(VirtualDrive, RetriedFrameFailsItsCountThenReadsWithTheTapeWaitingBeforeIt)
{
    auto tape = twoPrograms();
    sim::DriveConfig d;
    d.tape = tape;
    d.retryErrors = {{5, 2}};
    start(d);
    // The frames before are delivered; the residue is the failed frame.
    Reply first = ReadFrames(6);
    ExpectSense(first, 3, 0x11, 0x00);
    EXPECT_EQ(Information(first), 5822u);
    EXPECT_TRUE(SameFrames(first, *tape, 0, 5));
    EXPECT_EQ(bus->driveState(0, 4)->frame, 5u);
    Reply second = ReadFrames(2);
    ExpectSense(second, 3, 0x11, 0x00);
    EXPECT_EQ(Information(second), 2u * 5822);
    EXPECT_EQ(bus->driveState(0, 4)->frame, 5u);
    // The third attempt reads the frame as recorded, and the next frame follows.
    Reply third = ReadFrames(2);
    ASSERT_EQ(third.status, SS_COMP);
    EXPECT_TRUE(SameFrames(third, *tape, 5, 2));
    EXPECT_EQ(bus->driveState(0, 4)->framesRead, 7u);

    // Every pass over the frame shows the same fault.
    ASSERT_EQ(Rewind().status, SS_COMP);
    ExpectSense(ReadFrames(6), 3, 0x11, 0x00);
    ASSERT_EQ(LocateBlock(0).status, SS_COMP);
    ExpectSense(ReadFrames(6), 3, 0x11, 0x00);
    ExpectSense(ReadFrames(1), 3, 0x11, 0x00);
    EXPECT_EQ(ReadFrames(1).status, SS_COMP);
}

TEST_F(VirtualDrive, FlakyFrameFailsOnItsFirstPassesOnlyAPassEndingAtALocateOrRewind)
{
    auto tape = twoPrograms();
    sim::DriveConfig d;
    d.tape = tape;
    d.flakyFrames = {{5, 2}};
    start(d);
    // Pass 1: the frame fails and the tape moves past it, as a dropout.
    Reply first = ReadFrames(6);
    ExpectSense(first, 3, 0x11, 0x00);
    EXPECT_EQ(Information(first), 5822u);
    EXPECT_EQ(bus->driveState(0, 4)->frame, 6u);
    // Pass 2 (after a locate): it fails again, and the frames after it read.
    ASSERT_EQ(LocateBlock(3).status, SS_COMP);
    ExpectSense(ReadFrames(3), 3, 0x11, 0x00);
    EXPECT_EQ(ReadFrames(2).status, SS_COMP);
    // Pass 3 (after a rewind): it reads as recorded, and so on every later pass.
    for (int pass = 3; pass <= 4; ++pass) {
        ASSERT_EQ(Rewind().status, SS_COMP);
        Reply clean = ReadFrames(7);
        ASSERT_EQ(clean.status, SS_COMP) << pass;
        EXPECT_TRUE(SameFrames(clean, *tape, 0, 7)) << pass;
    }
}

TEST_F(VirtualDrive, VanishedDriveAnswersEveryCommandWithNoDevice)
{
    sim::DriveConfig d;
    d.tape = twoPrograms();
    d.vanishAfterReads = 2;
    start(d);
    ASSERT_EQ(ReadFrames(1).status, SS_COMP);
    ASSERT_EQ(ReadPosition().status, SS_COMP);  // only READs count
    ASSERT_EQ(ReadFrames(1).status, SS_COMP);
    EXPECT_FALSE(bus->driveState(0, 4)->vanished);

    // The loss is reported by the host once, then the device is simply not there.
    Reply lost = ReadFrames(1);
    EXPECT_EQ(lost.status, SS_NO_DEVICE);
    EXPECT_EQ(lost.haStat, 0x01);
    for (const Reply& r : {TestUnitReady(), ReadFrames(1), ReadPosition(), Rewind(), ModeSelect(0x80)}) {
        EXPECT_EQ(r.status, SS_NO_DEVICE);
        EXPECT_EQ(r.haStat, 0);
    }
    EXPECT_TRUE(bus->driveState(0, 4)->vanished);
    EXPECT_EQ(bus->driveState(0, 4)->framesRead, 2u);
    std::uint8_t type = 0;
    EXPECT_EQ(bus->deviceType(0, 4, 0, type), SS_NO_DEVICE);

    // 0: the drive answers everything up to its first READ.
    d.vanishAfterReads = 0;
    start(d);
    EXPECT_EQ(TestUnitReady().status, SS_COMP);
    EXPECT_EQ(ReadFrames(1).status, SS_NO_DEVICE);
    EXPECT_EQ(TestUnitReady().status, SS_NO_DEVICE);
}

TEST_F(VirtualDrive, ReadReachingTheTimeoutFrameEndsAsTheKernelEndsATimedOutCommand)
{
    auto tape = twoPrograms();
    sim::DriveConfig d;
    d.tape = tape;
    d.readTimeoutAt = 3;
    start(d);
    const double before = clock->now();
    Reply r = ReadFrames(5);
    EXPECT_EQ(r.status, SS_ABORTED);
    EXPECT_EQ(r.haStat, 0x03);  // DID_TIME_OUT
    // The READ timeout of the sg backend passed on the clock (and not in real time).
    EXPECT_DOUBLE_EQ(clock->now() - before, aspi::kSgShortTimeoutMs / 1000.0);
    EXPECT_EQ(bus->driveState(0, 4)->frame, 3u);
    EXPECT_EQ(bus->driveState(0, 4)->framesRead, 0u);
    EXPECT_EQ(ReadFrames(1).status, SS_ABORTED);  // it hangs there every time

    // Past the frame the tape reads again.
    ASSERT_EQ(LocateBlock(4).status, SS_COMP);
    Reply after = ReadFrames(1);
    ASSERT_EQ(after.status, SS_COMP);
    EXPECT_TRUE(SameFrames(after, *tape, 4, 1));

    // Program end cancels the wait: that is a plain abort, not a timeout.
    ASSERT_EQ(LocateBlock(3).status, SS_COMP);
    bus->cancel();
    Reply cancelled = ReadFrames(1);
    EXPECT_EQ(cancelled.status, SS_ABORTED);
    EXPECT_EQ(cancelled.haStat, 0);
}

TEST_F(VirtualDrive, DataModeReadOfAnAudioTapeFailsEveryTimeWithoutMoving)
{
    auto tape = twoPrograms();
    sim::DriveConfig d;
    d.tape = tape;
    start(d);
    ASSERT_EQ(ModeSelect(0x00).status, SS_COMP);  // the console's Data Mode list
    for (int i = 0; i < 3; ++i)
        ExpectSense(ReadFrames(1), 3, 0x30, 0x02);
    ExpectSense(ReadFrames(4), 3, 0x30, 0x02);
    EXPECT_EQ(bus->driveState(0, 4)->frame, 0u);
    EXPECT_EQ(bus->driveState(0, 4)->framesRead, 0u);
    ASSERT_EQ(ModeSelect(0x80).status, SS_COMP);
    Reply audio = ReadFrames(1);
    ASSERT_EQ(audio.status, SS_COMP);
    EXPECT_TRUE(SameFrames(audio, *tape, 0, 1));
}

namespace {

std::vector<std::uint8_t> Bytes(const Reply& r, std::size_t from, std::size_t to)
{
    return std::vector<std::uint8_t>(r.data.begin() + from, r.data.begin() + to);
}

}  // namespace

// The locates the deck sends, as raw CDBs, on a tape of three programs 69 s long.
TEST_F(VirtualDrive, LocateGoesToTheProgramStartOrTheSecondAndReadPositionReportsIt)
{
    auto tape = sim::MakePcmTape({Ramp(1440 * 800, 100), Ramp(1440 * 700, 3000), Ramp(1440 * 800, 9000)});
    sim::DriveConfig d;
    d.tape = tape;
    start(d, 2);

    // Absolute time 0:01:05, 2166 frames from BOT: the first frame of that second.
    double before = clock->now();
    ASSERT_EQ(Send({0x2B, 0x04, 0x00, 0x20, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00}).status, SS_COMP);
    const std::uint64_t atTime = bus->driveState(0, 4)->frame;
    EXPECT_EQ(atTime, 2166u);
    EXPECT_NEAR(clock->now() - before, 0.3 + 2166 * 0.03 / 150, 1e-9);  // the search speed
    Reply pos = ReadPosition();
    ASSERT_EQ(pos.status, SS_COMP);
    EXPECT_EQ(Bytes(pos, 4, 7), (std::vector<std::uint8_t>{0, 0, 3}));
    EXPECT_EQ(Bytes(pos, 12, 16), (std::vector<std::uint8_t>{0, 0x01, 0x05, 0x00}));
    EXPECT_EQ(pos.data[0] & 0x80, 0);
    Reply frame = ReadFrames(1);
    ASSERT_EQ(frame.status, SS_COMP);
    EXPECT_TRUE(SameFrames(frame, *tape, atTime, 1));

    // Program 2, back over program 3's start: its first frame, program time zero.
    const std::uint64_t second = sim::FirstFrameOfProgram(*tape, 2);
    ASSERT_EQ(second, 800u);
    before = clock->now();
    ASSERT_EQ(Send({0x2B, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}).status, SS_COMP);
    EXPECT_EQ(bus->driveState(0, 4)->frame, second);
    EXPECT_NEAR(clock->now() - before, 0.3 + (atTime + 1 - second) * 0.03 / 150, 1e-9);
    pos = ReadPosition();
    EXPECT_EQ(Bytes(pos, 4, 12), (std::vector<std::uint8_t>{0, 0, 2, 1, 0, 0, 0, 0}));
    EXPECT_EQ(Bytes(pos, 12, 16), (std::vector<std::uint8_t>{0, 0, 0x24, 0x00}));  // 800 frames = 24 s
    frame = ReadFrames(1);
    EXPECT_TRUE(SameFrames(frame, *tape, second, 1));

    // Program 1 is BOT.
    ASSERT_EQ(LocateProgram(0, 0, 1).status, SS_COMP);
    pos = ReadPosition();
    EXPECT_EQ(pos.data[0] & 0x80, 0x80);
    EXPECT_EQ(Bytes(pos, 4, 7), (std::vector<std::uint8_t>{0, 0, 1}));
}

TEST_F(VirtualDrive, LocateToAMissingProgramIsBlankCheckAtTheEndOfTheRecordedArea)
{
    auto tape = sim::MakePcmTape({Ramp(1440 * 20, 100), Ramp(1440 * 30, 3000), Ramp(1440 * 40, 9000)});
    sim::DriveConfig d;
    d.tape = tape;
    start(d);
    ASSERT_EQ(LocateProgram(0, 0, 2).status, SS_COMP);
    const std::uint8_t missing[][3] = {{0, 0, 4}, {7, 9, 9}, {0, 0, 0}};
    for (const auto& p : missing) {
        ExpectSense(LocateProgram(p[0], p[1], p[2]), 8, 0x00, 0x05);
        EXPECT_EQ(bus->driveState(0, 4)->frame, tape->frameCount());
        // READ POSITION tells the deck where the search stopped: past the lead-out.
        Reply pos = ReadPosition();
        ASSERT_EQ(pos.status, SS_COMP);
        EXPECT_EQ(Bytes(pos, 4, 7), (std::vector<std::uint8_t>{0, 0x0E, 0x0E}));
        ExpectSense(ReadFrames(1), 8, 0x00, 0x05);
        ASSERT_EQ(LocateProgram(0, 0, 3).status, SS_COMP);  // and the tape can be found again
        EXPECT_EQ(bus->driveState(0, 4)->frame, sim::FirstFrameOfProgram(*tape, 3));
    }
}
