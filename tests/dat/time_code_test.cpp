// Time codes at 33 1/3 frames per second, both ways, and what is refused as out of range.
#include <gtest/gtest.h>

#include "dat/time_code.h"

namespace {

TEST(TimeCode, IndexAndBackOverTwoHours)
{
    // Every frame of two hours: the index comes back, fields stay in range, and the time code
    // only ever steps forward by one frame.
    dat::TimeCode previous = dat::TimeCodeOfIndex(0);
    EXPECT_EQ(previous, (dat::TimeCode{0, 0, 0, 0, true}));
    for (std::uint32_t n = 1; n <= 2 * dat::kFramesPerHour; ++n) {
        const dat::TimeCode t = dat::TimeCodeOfIndex(n);
        ASSERT_TRUE(t.valid && dat::InRange(t)) << n;
        ASSERT_EQ(dat::IndexOfTimeCode(t), n);
        const bool nextFrame = t.f == previous.f + 1 && t.s == previous.s;
        const bool nextSecond = t.f == 0 && previous.f == (previous.s % 3 == 2 ? 33u : 32u);
        ASSERT_TRUE(nextFrame || nextSecond) << n << " after " << dat::FormatHmsf(previous);
        previous = t;
    }
    EXPECT_EQ(previous, (dat::TimeCode{2, 0, 0, 0, true}));
}

TEST(TimeCode, OutOfRangeIsInvalidNotGarbage)
{
    const dat::TimeCode bad[] = {
        {0, 0, 0, 33, true},   // frame 33 in a second where s % 3 != 2
        {0, 0, 2, 34, true},   // beyond 33 anywhere
        {0, 60, 0, 0, true},   {0, 0, 60, 0, true}, {100, 0, 0, 0, true},
        {0, 0, 0, 0, false},   // marked invalid
    };
    for (const dat::TimeCode& t : bad) {
        EXPECT_FALSE(dat::IndexOfTimeCode(t)) << t.h << ":" << t.m << ":" << t.s << "." << t.f;
        EXPECT_EQ(dat::FormatHms(t), "-:--:--");
        std::uint8_t bcd[4];
        dat::TimeCodeToBcd(t, bcd);
        EXPECT_EQ(bcd[0], 0xAA);
        EXPECT_EQ(bcd[3], 0xAA);
    }
    EXPECT_FALSE(dat::TimeCodeOfIndex(100ull * dat::kFramesPerHour).valid);
    EXPECT_TRUE(dat::TimeCodeOfIndex(100ull * dat::kFramesPerHour - 1).valid);
}

TEST(TimeCode, BcdBytesAndFormats)
{
    const std::uint8_t bcd[4] = {0x00, 0x12, 0x03, 0x17};
    const dat::TimeCode t = dat::TimeCodeFromBcd(bcd);
    EXPECT_EQ(t, (dat::TimeCode{0, 12, 3, 17, true}));
    EXPECT_EQ(dat::FormatHmsf(t), "00:12:03.17");
    EXPECT_EQ(dat::FormatHms(t), "0:12:03");
    EXPECT_EQ(dat::FormatHms({12, 0, 5, 0, true}), "12:00:05");
    std::uint8_t back[4];
    dat::TimeCodeToBcd(t, back);
    EXPECT_TRUE(std::equal(back, back + 4, bcd));

    const std::uint8_t hexDigit[4] = {0x00, 0x1A, 0x00, 0x00};  // minutes 1A: not decimal
    EXPECT_FALSE(dat::TimeCodeFromBcd(hexDigit).valid);
    EXPECT_EQ(dat::FromBcd(0x99), 99);
    EXPECT_EQ(dat::FromBcd(0xA0), -1);
}

}  // namespace
