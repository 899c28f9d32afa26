// TEST UNIT READY outcomes and the MODE SELECT / MODE SENSE commands as they go out.
#include <algorithm>
#include <cstring>

#include "tape/unit_mode.h"
#include "tape_fixture.h"

namespace tape_test {
namespace {

using testing_support::CheckCondition;
using testing_support::WithStatus;

struct TurCase {
    const char* name;
    aspi::ExecResult answer;
    std::int32_t code;
    const char* message;  // nullptr: none
};

class TestUnitReadyOutcome : public TapeCommandTest, public ::testing::WithParamInterface<TurCase> {};

TEST_P(TestUnitReadyOutcome, GivesItsCodeAndExactMessageWithoutShowingIt)
{
    AnswerAll(GetParam().answer);
    const UnitReadiness r = CheckUnitReady(kAdapter, kTarget);
    EXPECT_EQ(r.code, GetParam().code);
    EXPECT_EQ(r.message, GetParam().message ? GetParam().message : "");
    EXPECT_TRUE(messages.empty());

    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.direction, aspi::Direction::None);
    EXPECT_EQ(c.length, 0u);
    EXPECT_EQ(c.target, kTarget);
}

INSTANTIATE_TEST_SUITE_P(
    AllOutcomes, TestUnitReadyOutcome,
    ::testing::Values(
        TurCase{"Ready", WithStatus(SS_COMP), 6, nullptr},
        TurCase{"NoTape", CheckCondition(2, 0x3A, 0), 0, nullptr},
        TurCase{"NoTapeAnyAscq", CheckCondition(2, 0x3A, 0x07), 0, nullptr},
        TurCase{"OperatorRequest", CheckCondition(2, 0x5A, 0x01), 0, nullptr},
        TurCase{"BecomingReady", CheckCondition(2, 0x04, 0x01), 5, nullptr},
        TurCase{"NotReadyOtherAscq", CheckCondition(2, 0x04, 0x02), -99,
                "Error in TestUnitReady function: Unit not ready ASCQ."},
        TurCase{"NotReadyOtherAsc", CheckCondition(2, 0x30, 0x00), -99,
                "Error in TestUnitReady function: Unit not ready ASC."},
        TurCase{"MediumChanged", CheckCondition(6, 0x28, 0), 1, nullptr},
        TurCase{"Reset", CheckCondition(6, 0x29, 0x02), 4, nullptr},
        TurCase{"UnitAttentionOtherAsc", CheckCondition(6, 0x30, 0), -99,
                "Error in TestUnitReady function: Unit Attention ASC= 48."},
        TurCase{"NotReadyWithEomFlagIsNotTakenForTheKey", CheckCondition(0x42, 0x3A, 0), -99,
                "Error in TestUnitReady function: Sense Key= 66."},
        TurCase{"MediumError", CheckCondition(3, 0x11, 0), -99, "Error in TestUnitReady function: Sense Key= 3."},
        TurCase{"Aborted", WithStatus(SS_ABORTED), -99, "Error in TestUnitReady function: SRB Command status= 2."},
        TurCase{"InvalidAdapter", WithStatus(SS_INVALID_HA), -99,
                "Error in TestUnitReady function: SRB Command status= 129."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TapeCommandTest, ModeSelectSendsTheListWithItsCommand)
{
    EXPECT_TRUE(TrySelectAudioMode(kAdapter, kTarget));
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x15, 0, 0, 0, 0x0C, 0}));
    EXPECT_EQ(c.direction, aspi::Direction::Out);
    EXPECT_EQ(c.length, 12u);
    EXPECT_EQ(c.dataOut, Bytes({0x00, 0x00, 0x10, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(TapeCommandTest, EverySelectionListCarriesBlockLength512AndNoBlockCount)
{
    EXPECT_TRUE(TrySelectDensity(kAdapter, kTarget, 0x13));
    EXPECT_TRUE(TryModeSelect(kAdapter, kTarget, kUnbufferedAudioList));
    EXPECT_TRUE(TryModeSelect(kAdapter, kTarget, kDataModeList));
    const auto sent = bus->commands();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].dataOut, Bytes({0x00, 0x00, 0x10, 0x08, 0x13, 0, 0, 0, 0, 0x00, 0x02, 0x00}));
    EXPECT_EQ(sent[1].dataOut, Bytes({0x00, 0x00, 0x00, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00}));
    EXPECT_EQ(sent[2].dataOut, Bytes({0x00, 0x00, 0x10, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x02, 0x00}));
}

TEST_F(TapeCommandTest, ModeSelectRefusedByTheDriveFailsWithoutText)
{
    AnswerAll(CheckCondition(5, 0x26, 0));
    const Status s = TrySelectAudioMode(kAdapter, kTarget);
    EXPECT_FALSE(s);
    EXPECT_EQ(s.error(), "");
    EXPECT_TRUE(messages.empty());
}

TEST_F(TapeCommandTest, ModeSelectOtherFailureFailsWithItsText)
{
    AnswerAll(WithStatus(SS_INVALID_HA));
    const Status invalid = TryModeSelect(kAdapter, kTarget, kAudioModeList);
    AnswerAll(WithStatus(SS_ABORTED));
    const Status aborted = TryModeSelect(kAdapter, kTarget, kAudioModeList);
    EXPECT_FALSE(invalid);
    EXPECT_FALSE(aborted);
    EXPECT_EQ(invalid.error(), "Undefined error in ModeSelect procedure.");
    EXPECT_EQ(aborted.error(), "Undefined error in ModeSelect procedure.");
    EXPECT_TRUE(messages.empty());
}

TEST_F(TapeCommandTest, ModeSenseAsksForHeaderAndBlockDescriptor)
{
    bus->answer = [](const aspi::ExecRequest& req) {
        const std::uint8_t reply[12] = {11, 0, 0x10, 8, 0x80, 0, 0, 0, 0, 0, 2, 0};
        std::memcpy(req.data, reply, std::min<std::uint32_t>(req.dataLen, sizeof reply));
        aspi::ExecResult r;
        r.transferred = req.dataLen;
        return r;
    };
    ModeParameterList data{};
    ModeSense(kAdapter, kTarget, data);
    EXPECT_EQ(data[4], AudioDensity);
    EXPECT_EQ(data[2], 0x10);
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x1A, 0, 0, 0, 0x0C, 0}));
    EXPECT_EQ(c.direction, aspi::Direction::In);
    EXPECT_EQ(c.length, 12u);
    EXPECT_EQ(GetDensityCode(kAdapter, kTarget), AudioDensity);
}

TEST_F(TapeCommandTest, FailedModeSenseLeavesTheBufferAndGivesDensityZero)
{
    // A drive that writes part of its answer before failing.
    bus->answer = [](const aspi::ExecRequest& req) {
        std::memset(req.data, 0x80, req.dataLen);
        return CheckCondition(2, 0x3A, 0);
    };
    ModeParameterList data;
    data.fill(0x55);
    ModeSense(kAdapter, kTarget, data);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0x55; }));
    EXPECT_EQ(GetDensityCode(kAdapter, kTarget), 0);
    EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace tape_test
