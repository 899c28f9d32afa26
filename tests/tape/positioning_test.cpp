// LOCATE with its DAT address, BCD times, and REWIND.
#include "tape/positioning.h"
#include "tape_fixture.h"

namespace tape_test {
namespace {

using testing_support::CheckCondition;
using testing_support::WithStatus;

TEST(ConvertToBCD, PacksTwoDecimalDigits)
{
    EXPECT_EQ(*ConvertToBCD(0), 0x00);
    EXPECT_EQ(*ConvertToBCD(7), 0x07);
    EXPECT_EQ(*ConvertToBCD(42), 0x42);
    EXPECT_EQ(*ConvertToBCD(99), 0x99);
}

TEST_F(TapeCommandTest, ConvertToBCDRefusesOutOfRangeWithItsText)
{
    const Result<std::uint8_t> above = ConvertToBCD(100);
    const Result<std::uint8_t> negative = ConvertToBCD(-1);
    EXPECT_FALSE(above);
    EXPECT_FALSE(negative);
    EXPECT_EQ(above.error(), "Number too long to convert to BCD. Must be 99 or less.");
    EXPECT_EQ(negative.error(), "Negative number cannot be converted to BCD. Must be 0 or more.");
    EXPECT_TRUE(messages.empty());
}

struct LocateCase {
    const char* name;
    std::uint8_t type;
    std::int32_t a1, a2, a3;
    std::vector<std::uint8_t> cdb;
};

class LocateAddress : public TapeCommandTest, public ::testing::WithParamInterface<LocateCase> {};

TEST_P(LocateAddress, GoesOutAsLocate10WithoutData)
{
    const LocateCase& p = GetParam();
    const LocateCommand command = PrepareLocate(p.type, p.a1, p.a2, p.a3);
    EXPECT_TRUE(command.notes.empty());
    EXPECT_TRUE(SendLocate(kAdapter, kTarget, command).done);
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, p.cdb);
    EXPECT_EQ(c.direction, aspi::Direction::None);
    EXPECT_EQ(c.length, 0u);
    EXPECT_TRUE(messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, LocateAddress,
    ::testing::Values(
        LocateCase{"Program0", 0, 0, 0, 0, {0x2B, 0x04, 0, 0x00, 0, 0, 0, 0, 0, 0}},
        LocateCase{"Program799", 0, 7, 9, 9, {0x2B, 0x04, 0, 0x00, 7, 9, 9, 0, 0, 0}},
        LocateCase{"EndOfTapeDigitsAreNotBcd", 0, 0, 14, 14, {0x2B, 0x04, 0, 0x00, 0, 0x0E, 0x0E, 0, 0, 0}},
        LocateCase{"BeginningOfTape", 1, 0, 0, 0, {0x2B, 0x04, 0, 0x20, 0, 0, 0, 0, 0, 0}},
        LocateCase{"AbsoluteTime", 1, 1, 59, 30, {0x2B, 0x04, 0, 0x20, 0x01, 0x59, 0x30, 0, 0, 0}},
        LocateCase{"Type3IsBcdToo", 3, 12, 34, 56, {0x2B, 0x04, 0, 0x60, 0x12, 0x34, 0x56, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TapeCommandTest, LocateTimeAbove99HasItsNoteAndStillGoesOut)
{
    const LocateCommand command = PrepareLocate(kLocateAbsoluteTime, 1, 100, 5);
    EXPECT_TRUE(bus->commands().empty()) << "preparing sends nothing";
    EXPECT_EQ(command.notes, std::vector<std::string>{"Number too long to convert to BCD. Must be 99 or less."});
    EXPECT_TRUE(SendLocate(kAdapter, kTarget, command).done);
    EXPECT_EQ(OnlyCommand().cdb, Bytes({0x2B, 0x04, 0, 0x20, 0x01, 0x00, 0x05, 0, 0, 0}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(TapeCommandTest, LocateRefusalsSendNothing)
{
    std::vector<std::string> told;
    for (const LocateCommand& c : {PrepareLocate(4, 0, 0, 0), PrepareLocate(kLocateAbsoluteTime, 0, -1, 0),
                                   PrepareLocate(kLocateProgram, -5, 0, 0),
                                   PrepareLocate(kLocateProgram, 0, 256, 0)}) {  // 256 would wrap to digit 0
        const LocateOutcome out = SendLocate(kAdapter, kTarget, c);
        EXPECT_FALSE(out.done);
        EXPECT_EQ(out.message, c.refusal);
        told.push_back(out.message);
    }
    EXPECT_TRUE(bus->commands().empty());
    EXPECT_EQ(told, (std::vector<std::string>{"Wrong Locate Type specified.",
                                              "Locate address out of range. Nothing was sent.",
                                              "Locate address out of range. Nothing was sent.",
                                              "Locate address out of range. Nothing was sent."}));
}

TEST_F(TapeCommandTest, LocateSaysHowItFailedAndNeverCallsATimeoutOk)
{
    std::vector<std::string> told;
    const auto locate = [&](std::uint8_t type, std::int32_t a1, std::int32_t a2, std::int32_t a3) {
        const LocateOutcome out = TryLocateTape(kAdapter, kTarget, type, a1, a2, a3);
        if (!out.done)
            told.push_back(out.message);
        return out.done;
    };
    AnswerAll(WithStatus(SS_COMP));
    EXPECT_TRUE(locate(kLocateProgram, 0, 0, 1));
    EXPECT_TRUE(told.empty());

    AnswerAll(CheckCondition(8, 0x00, 0x05));  // a program that is not on the tape
    EXPECT_FALSE(locate(kLocateProgram, 0, 0, 9));
    AnswerAll(WithStatus(SS_ABORTED));  // a genuine abort
    EXPECT_FALSE(locate(kLocateProgram, 0, 0, 1));
    aspi::ExecResult timedOut = WithStatus(SS_ABORTED);
    timedOut.haStat = 0x03;  // DID_TIME_OUT
    AnswerAll(timedOut);
    EXPECT_FALSE(locate(kLocateAbsoluteTime, 1, 0, 0));
    AnswerAll(WithStatus(SS_NO_DEVICE));
    EXPECT_FALSE(locate(kLocateAbsoluteTime, 1, 0, 0));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(told, (std::vector<std::string>{
                            "Locate failed: BLANK CHECK, end of data detected (00/05).",
                            "Locate aborted ok.",
                            "Locate timed out: the drive did not finish within its time limit of 3600 seconds.",
                            "Locate failed: the drive did not answer (status 130).",
                        }));
}

// Only BLANK CHECK counts as an
// address that is not on the tape (a MEDIUM ERROR or a lost drive must not read as one).
TEST_F(TapeCommandTest, TryLocateTellsAMissingAddressFromOtherFailuresWithoutAMessage)
{
    AnswerAll(CheckCondition(8, 0x00, 0x05));
    LocateOutcome out = TryLocateTape(kAdapter, kTarget, kLocateProgram, 0, 0, 9);
    EXPECT_FALSE(out.done);
    EXPECT_TRUE(out.notFound);
    EXPECT_EQ(out.message, "Locate failed: BLANK CHECK, end of data detected (00/05).");
    EXPECT_EQ(OnlyCommand().cdb, Bytes({0x2B, 0x04, 0, 0x00, 0, 0, 9, 0, 0, 0}));

    AnswerAll(CheckCondition(3, 0x14, 0x00));
    out = TryLocateTape(kAdapter, kTarget, kLocateAbsoluteTime, 0, 1, 5);
    EXPECT_FALSE(out.done);
    EXPECT_FALSE(out.notFound);
    AnswerAll(WithStatus(SS_NO_DEVICE));
    EXPECT_FALSE(TryLocateTape(kAdapter, kTarget, kLocateAbsoluteTime, 0, 1, 5).notFound);
    out = TryLocateTape(kAdapter, kTarget, 4, 0, 0, 0);
    EXPECT_EQ(out.message, "Wrong Locate Type specified.");
    EXPECT_FALSE(out.notFound);

    AnswerAll(WithStatus(SS_COMP));
    out = TryLocateTape(kAdapter, kTarget, kLocateAbsoluteTime, 0, 1, 5);
    EXPECT_TRUE(out.done);
    EXPECT_TRUE(out.message.empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(TapeCommandTest, RewindWaitsForTheWholeMovement)
{
    RewindTape(kAdapter, kTarget);
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x01, 0, 0, 0, 0, 0}));  // immediate bit clear
    EXPECT_EQ(c.direction, aspi::Direction::None);
}

}  // namespace
}  // namespace tape_test
