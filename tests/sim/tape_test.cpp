// Tapes: time codes, the subcode of each frame, programs and lead-out, the demo music, and a
// raw dump played back through the drive byte for byte.
#include <gtest/gtest.h>

#include "sim/virtual_bus.h"
#include "sim_commands.h"

namespace {

TEST(TimeCode, HundredFramesEveryThreeSeconds)
{
    struct Row {
        std::uint64_t index;
        unsigned h, m, s, f;
    };
    for (const Row& row : {Row{0, 0, 0, 0, 0}, Row{32, 0, 0, 0, 32}, Row{33, 0, 0, 1, 0}, Row{66, 0, 0, 2, 0},
                           Row{99, 0, 0, 2, 33}, Row{100, 0, 0, 3, 0}, Row{1999, 0, 0, 59, 33},
                           Row{2000, 0, 1, 0, 0}, Row{120000, 1, 0, 0, 0}}) {
        const sim::TimeCode t = sim::TimeCodeOfFrame(row.index);
        EXPECT_EQ(t.hours, row.h) << row.index;
        EXPECT_EQ(t.minutes, row.m) << row.index;
        EXPECT_EQ(t.seconds, row.s) << row.index;
        EXPECT_EQ(t.frame, row.f) << row.index;
        EXPECT_EQ(sim::FrameOfTimeCode(t), row.index);
    }
    const std::uint8_t invalid[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(sim::FrameOfBcd(invalid), -1);
    const std::uint8_t valid[4] = {0x01, 0x02, 0x05, 0x10};
    EXPECT_EQ(sim::FrameOfBcd(valid), 120000 + 4000 + 165 + 1 + 10);
}

TEST(PcmTape, FramesCarryAudioAndSubcodes)
{
    std::vector<std::int16_t> first(2 * 1440 * 301 + 8);
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<std::int16_t>(i * 7);
    auto tape = sim::MakePcmTape({first, std::vector<std::int16_t>(2 * 1440, 3)});
    // 302 frames (the last padded), one frame, 300 of lead-out.
    ASSERT_EQ(tape->frameCount(), 302u + 1 + 300);

    auto f0 = sim::FrameBytes(*tape, 0);
    EXPECT_EQ(f0[2], 7);  // the second sample (right), little-endian
    EXPECT_EQ(f0[3], 0);
    // Program time pack: item 1, program 001, index 1, 00:00:00 frame 0, parity.
    const std::uint8_t* pack = &f0[5760];
    EXPECT_EQ(pack[0], 0x10);
    EXPECT_EQ(pack[1], 0x01);
    EXPECT_EQ(pack[2], 0x01);
    std::uint8_t parity = 0;
    for (int i = 0; i < 7; ++i)
        parity ^= pack[i];
    EXPECT_EQ(pack[7], parity);
    EXPECT_EQ(f0[5768] >> 4, 2);  // absolute time pack
    EXPECT_EQ(f0[5776] >> 4, 3);  // running time pack
    EXPECT_EQ(f0[5816], 0x40);  // start ID
    EXPECT_EQ(f0[5818], 0x01);  // program 001
    EXPECT_EQ(f0[5820], 0);
    EXPECT_EQ(f0[5821], 0);

    EXPECT_EQ(sim::FrameBytes(*tape, 299)[5816], 0x40);
    EXPECT_EQ(sim::FrameBytes(*tape, 300)[5816], 0x00);
    // The last frame of program 1 holds 4 pairs, then silence.
    auto last = sim::FrameBytes(*tape, 301);
    EXPECT_NE(last[4], 0);
    EXPECT_TRUE(std::all_of(last.begin() + 16, last.begin() + 5760, [](std::uint8_t b) { return b == 0; }));
    auto second = sim::FrameBytes(*tape, 302);
    EXPECT_EQ(second[5818], 0x02);
    EXPECT_EQ(second[5816], 0x40);
    EXPECT_EQ(sim::FirstFrameOfProgram(*tape, 2), 302u);
    auto leadOut = sim::FrameBytes(*tape, 303);
    EXPECT_EQ(leadOut[5818], 0xEE);
    EXPECT_EQ(leadOut[5760 + 3], 0xAA);
}

TEST(DemoTape, ProgramsAreMusicAndDifferent)
{
    auto tape = sim::MakeDemoTape();
    std::vector<std::vector<std::uint8_t>> samples;
    for (unsigned p = 1; p <= 4; ++p) {
        const std::uint64_t first = sim::FirstFrameOfProgram(*tape, p);
        ASSERT_LT(first, tape->frameCount()) << p;
        auto audio = sim::FrameAudio(*tape, first + 100);
        EXPECT_TRUE(std::any_of(audio.begin(), audio.end(), [](std::uint8_t b) { return b != 0; })) << p;
        samples.push_back(audio);
    }
    for (std::size_t a = 0; a < samples.size(); ++a)
        for (std::size_t b = a + 1; b < samples.size(); ++b)
            EXPECT_NE(samples[a], samples[b]);
    // About half a minute each: 28 to 32 s.
    EXPECT_GT(sim::FirstFrameOfProgram(*tape, 2), 28u * 100 / 3);
    EXPECT_LT(sim::FirstFrameOfProgram(*tape, 2), 33u * 100 / 3);
}

class DumpPlayback : public ::testing::Test {
protected:
    void TearDown() override { aspi::InstallBackend(nullptr); }
};

TEST_F(DumpPlayback, RawDumpIsReadBackByteForByteWithPositionsFromItsSubcodes)
{
    // A dump taken off the middle of a tape: program 2 from 00:00:03 on.
    auto source = sim::MakePcmTape({std::vector<std::int16_t>(2 * 1440 * 100, 1),
                                    std::vector<std::int16_t>(2 * 1440 * 50, 9)});
    std::vector<std::uint8_t> bytes;
    for (std::uint64_t n = 90; n < 130; ++n) {
        auto f = sim::FrameBytes(*source, n);
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    // Some frames carry no absolute time pack: the position keeps the last one seen.
    std::fill(bytes.begin() + 5 * 5822 + 5768, bytes.begin() + 5 * 5822 + 5776, 0);
    std::string error;
    auto dump = sim::MakeFrameDumpTape(bytes, error);
    ASSERT_TRUE(dump) << error;

    sim::BusConfig config;
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
    sim::DriveConfig d;
    d.tape = dump;
    config.adapters[0].devices.push_back(d);
    aspi::InstallBackend(sim::CreateBus(config, error));
    simtest::TestUnitReady();

    simtest::Reply all = simtest::ReadFrames(40);
    ASSERT_EQ(all.status, SS_COMP);
    EXPECT_EQ(all.data, bytes);
    EXPECT_EQ(simtest::ReadFrames(1).senseKey, 8);

    ASSERT_EQ(simtest::LocateProgram(0, 0, 2).status, SS_COMP);
    simtest::Reply pos = simtest::ReadPosition();
    EXPECT_EQ(pos.data[6], 2);
    EXPECT_EQ(sim::FrameOfBcd(*reinterpret_cast<const std::uint8_t(*)[4]>(&pos.data[12])), 100);
    ASSERT_EQ(simtest::LocateTime(0, 0, 0x03).status, SS_COMP);  // 3 s = frame 100
    EXPECT_EQ(simtest::ReadPosition().data[6], 2);
    EXPECT_EQ(simtest::LocateProgram(0, 0, 1).status, SS_COMP);
    EXPECT_EQ(simtest::ReadFrames(1).data, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 5822));
    // No lead-out in the dump: the end of the recorded area is after its last frame.
    EXPECT_EQ(simtest::LocateProgram(0, 0x0E, 0x0E).status, SS_COMP);
    EXPECT_EQ(simtest::ReadFrames(1).senseKey, 8);
}

}  // namespace
