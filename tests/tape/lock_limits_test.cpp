// PREVENT ALLOW MEDIUM REMOVAL and READ BLOCK LIMITS.
#include <cstring>

#include "tape/lock_limits.h"
#include "tape_fixture.h"

namespace tape_test {
namespace {

using testing_support::WithStatus;

TEST_F(TapeCommandTest, PreventAndAllowCarryTheirValueInByte4)
{
    EXPECT_TRUE(PreventAllowRemoval(kAdapter, kTarget, 1));
    EXPECT_TRUE(PreventAllowRemoval(kAdapter, kTarget, 0));
    AnswerAll(WithStatus(SS_ERR));
    EXPECT_FALSE(PreventAllowRemoval(kAdapter, kTarget, 1));
    const auto sent = bus->commands();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].cdb, Bytes({0x1E, 0, 0, 0, 1, 0}));
    EXPECT_EQ(sent[1].cdb, Bytes({0x1E, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sent[0].direction, aspi::Direction::None);
}

TEST(BlockLimits, MinimumFirstEachWithItsSignSpace)
{
    EXPECT_EQ(FormatBlockLimits({0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x01}), " 1 16777215");
    EXPECT_EQ(FormatBlockLimits({0, 0, 0, 0, 0, 0}), " 0 0");
    EXPECT_EQ(FormatBlockLimits({0, 0x00, 0x02, 0x00, 0x02, 0x00}), " 512 512");
}

TEST_F(TapeCommandTest, ReadBlockLimitsReadsSixBytes)
{
    bus->answer = [](const aspi::ExecRequest& req) {
        const std::uint8_t reply[6] = {0, 0x00, 0xF0, 0x00, 0x00, 0x04};
        std::memcpy(req.data, reply, sizeof reply);
        aspi::ExecResult r;
        r.transferred = 6;
        return r;
    };
    EXPECT_EQ(ReadBlockLimits(kAdapter, kTarget), " 4 61440");
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.direction, aspi::Direction::In);
    EXPECT_EQ(c.length, 6u);

    AnswerAll(WithStatus(SS_ERR));
    EXPECT_EQ(ReadBlockLimits(kAdapter, kTarget), " 0 0");
}

}  // namespace
}  // namespace tape_test
