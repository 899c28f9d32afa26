// READ POSITION and the eight report lines.
#include <cstring>

#include "tape/position_record.h"
#include "tape_fixture.h"

namespace tape_test {
namespace {

PositionRecord RecordWith(std::initializer_list<std::uint8_t> bytes4to19)
{
    PositionRecord r{0xFF, 0xFF, 0xFF, 0xFF};  // the header never reaches the report
    std::copy(bytes4to19.begin(), bytes4to19.end(), r.begin() + 4);
    return r;
}

TEST(PositionReport, PrintsBcdWithoutLeadingZeros)
{
    const auto lines = FormatPositionReport(
        RecordWith({0x01, 0x02, 0x03, 0x01, 0x00, 0x05, 0x09, 0x12, 0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0}));
    EXPECT_EQ(lines, (std::vector<std::string>{"Program # = 123", "Index # = 1", "Program Time = 0:5:9",
                                               "Program Frame = 12", "Absolute Time = 1:2:3",
                                               "Absolute Frame = 4", "Run Time = 0:0:0", "Run Frame = 0"}));
}

TEST(PositionReport, ProgramDigitsKeepTheirPlaces)
{
    auto program = [](std::uint8_t h, std::uint8_t t, std::uint8_t u) {
        return FormatPositionReport(RecordWith({h, t, u}))[0];
    };
    EXPECT_EQ(program(0, 0, 7), "Program # = 007");
    EXPECT_EQ(program(0, 14, 14), "Program # = 0EE");
    EXPECT_EQ(FormatPositionReport(RecordWith({0, 0, 0, 0, 0x01, 0x05, 0x09}))[2], "Program Time = 1:5:9");
}

TEST(PositionReport, ZeroRecordIsTheFailureReport)
{
    const auto lines = FormatPositionReport(PositionRecord{});
    EXPECT_EQ(lines[0], "Program # = 000");
    EXPECT_EQ(lines[1], "Index # = 0");
    EXPECT_EQ(lines[4], "Absolute Time = 0:0:0");
}

TEST_F(TapeCommandTest, ReadPositionAsksForTheDatFormat)
{
    bus->answer = [](const aspi::ExecRequest& req) {
        std::memset(req.data, 0x11, req.dataLen);
        aspi::ExecResult r;
        r.transferred = req.dataLen;
        return r;
    };
    PositionRecord record{};
    ReadPosition(kAdapter, kTarget, record);
    EXPECT_EQ(record[19], 0x11);
    const SentCommand c = OnlyCommand();
    EXPECT_EQ(c.cdb, Bytes({0x34, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.direction, aspi::Direction::In);
    EXPECT_EQ(c.length, 20u);
}

}  // namespace
}  // namespace tape_test
