// LOAD UNLOAD and the frame READ.
#include <array>

#include "tape/eject_read.h"
#include "dat/frame.h"
#include "tape_fixture.h"

namespace tape_test {
namespace {

using testing_support::CheckCondition;
using testing_support::WithStatus;

TEST_F(TapeCommandTest, EjectIsTrueOnlyWhenTheUnloadCompleted)
{
    EXPECT_TRUE(EjectTape(kAdapter, kTarget));
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x1B, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.direction, aspi::Direction::None);
    for (auto failure : {CheckCondition(2, 0x3A, 0), WithStatus(SS_ABORTED), WithStatus(SS_INVALID_HA)}) {
        AnswerAll(failure);
        EXPECT_FALSE(EjectTape(kAdapter, kTarget));
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(TapeCommandTest, ReadOfOneFrameCarriesTheCountInTheCdb)
{
    std::array<std::uint8_t, dat::kFrameBytes> frame{};
    const ReadOutcome r = ReadTapeBlock(kAdapter, kTarget, frame.data(), dat::kFrameBytes);
    EXPECT_TRUE(r.completed);
    EXPECT_FALSE(r.refused);
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x08, 0x00, 0x00, 0x16, 0xBE, 0x00}));
    EXPECT_EQ(c.direction, aspi::Direction::In);
    EXPECT_EQ(c.length, 5822u);
}

TEST_F(TapeCommandTest, ReadOfZeroAndOfTheLargestCount)
{
    EXPECT_TRUE(ReadTapeBlock(kAdapter, kTarget, nullptr, 0).completed);
    std::vector<std::uint8_t> big(kMaxReadBytes);
    ReadTapeBlock(kAdapter, kTarget, big.data(), kMaxReadBytes);
    const auto sent = bus->commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].cdb, Bytes({0x08, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[0].length, 0u);
    EXPECT_EQ(sent[1].cdb, Bytes({0x08, 0, 0xFF, 0xFF, 0xFF, 0}));
    EXPECT_EQ(sent[1].length, 16777215u);
}

TEST_F(TapeCommandTest, WriteOfOneFrameSendsItsBytesOutAndReportsTheSense)
{
    std::array<std::uint8_t, dat::kFrameBytes> frame{};
    frame[0] = 0xAB;
    const WriteOutcome w = WriteTapeBlock(kAdapter, kTarget, frame.data(), dat::kFrameBytes);
    EXPECT_TRUE(w.completed);
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x0A, 0x00, 0x00, 0x16, 0xBE, 0x00}));
    EXPECT_EQ(c.direction, aspi::Direction::Out);
    EXPECT_EQ(c.length, 5822u);
    ASSERT_EQ(c.dataOut.size(), 5822u);
    EXPECT_EQ(c.dataOut[0], 0xAB);

    AnswerAll(CheckCondition(0x07, 0x27, 0x00));
    const WriteOutcome protectedTape = WriteTapeBlock(kAdapter, kTarget, frame.data(), dat::kFrameBytes);
    EXPECT_FALSE(protectedTape.completed);
    EXPECT_TRUE(protectedTape.writeProtected());
    AnswerAll(CheckCondition(0x03, 0x0C, 0x00));
    const WriteOutcome failed = WriteTapeBlock(kAdapter, kTarget, frame.data(), dat::kFrameBytes);
    EXPECT_FALSE(failed.writeProtected());
    EXPECT_EQ(failed.sense.text(), "MEDIUM ERROR, write error (0C/00)");

    EXPECT_TRUE(WriteTapeBlock(kAdapter, kTarget, frame.data(), 0).refused);
    EXPECT_TRUE(WriteTapeBlock(kAdapter, kTarget, nullptr, 16).refused);
    EXPECT_TRUE(WriteTapeBlock(kAdapter, kTarget, frame.data(), kMaxReadBytes + 1).refused);
}

TEST_F(TapeCommandTest, ReadRefusesCountsOutsideTheField)
{
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_TRUE(ReadTapeBlock(kAdapter, kTarget, buffer.data(), -1).refused);
    EXPECT_TRUE(ReadTapeBlock(kAdapter, kTarget, buffer.data(), kMaxReadBytes + 1).refused);
    EXPECT_TRUE(ReadTapeBlock(kAdapter, kTarget, nullptr, 16).refused);
    EXPECT_TRUE(bus->commands().empty());
}

TEST_F(TapeCommandTest, FailedReadReportsItsSense)
{
    AnswerAll(CheckCondition(0x88, 0x00, 0x05));  // BLANK CHECK with the EOM flag
    std::array<std::uint8_t, dat::kFrameBytes> frame{};
    const ReadOutcome r = ReadTapeBlock(kAdapter, kTarget, frame.data(), dat::kFrameBytes);
    EXPECT_FALSE(r.completed);
    EXPECT_EQ(r.srbStatus, SS_ERR);
    EXPECT_EQ(r.sense.key, 0x08);
    EXPECT_EQ(r.sense.code.ascq, 0x05);
    EXPECT_TRUE(r.endOfData());
}

}  // namespace
}  // namespace tape_test
