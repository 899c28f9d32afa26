// Sense data conversion to the fixed format, on captured-style byte fixtures.
#include <gtest/gtest.h>
#include <vector>

#include "platform/aspi/sense_format.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Convert(const Bytes& in, std::size_t cap = 32)
{
    Bytes out(cap, 0xEE);
    out.resize(aspi::ToFixedSense(in.data(), in.size(), out.data(), out.size()));
    return out;
}

TEST(SenseFormat, FixedFormatPassesUnchanged)
{
    // Deferred error, MEDIUM ERROR, 3/11 unrecovered read error.
    const Bytes fixed = {0xF1, 0, 0x03, 0, 0, 0, 1, 10, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(Convert(fixed), fixed);
    EXPECT_EQ(Convert(fixed, 14), Bytes(fixed.begin(), fixed.begin() + 14));
}

TEST(SenseFormat, DescriptorFormatKeepsKeyCodesAndTapeBits)
{
    // READ(6) hit a filemark after a short block: NO SENSE 00/01, FILEMARK and ILI, residue 0x200.
    const Bytes desc = {
        0x72, 0x00, 0x00, 0x01, 0, 0, 0, 16,
        0x04, 0x02, 0x00, 0xA0,                             // stream commands: FILEMARK | ILI
        0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x00,  // information 0x200, VALID
    };
    const Bytes expected = {0xF0, 0, 0xA0, 0, 0, 0x02, 0x00, 10, 0, 0, 0, 0, 0x00, 0x01, 0, 0, 0, 0};
    EXPECT_EQ(Convert(desc), expected);
}

TEST(SenseFormat, NegativeInformationSurvivesAndOversizedIsInvalid)
{
    // A longer block than requested: INFORMATION -2, sign-extended to 64 bits.
    const Bytes negative = {0x72, 0x00, 0, 0, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0,
                            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    const Bytes n = Convert(negative);
    ASSERT_EQ(n.size(), aspi::kFixedSenseLen);
    EXPECT_EQ(n[0], 0xF0);
    EXPECT_EQ(Bytes(n.begin() + 3, n.begin() + 7), (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));

    const Bytes huge = {0x73, 0x03, 0x11, 0x00, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    const Bytes h = Convert(huge);
    EXPECT_EQ(h[0], 0x71) << "deferred, INFORMATION not valid";
    EXPECT_EQ(h[2], 0x03);
    EXPECT_EQ(h[12], 0x11);
}

TEST(SenseFormat, TruncatedDescriptorsAreNeverReadPastTheEnd)
{
    // Additional length claims 16 bytes, but only 3 descriptor bytes arrived.
    const Bytes cut = {0x72, 0x06, 0x28, 0x00, 0, 0, 0, 16, 0x04, 0x02, 0x00};
    const Bytes c = Convert(cut);
    EXPECT_EQ(c[2], 0x06);
    EXPECT_EQ(c[12], 0x28);
    // A descriptor whose length runs past the sense data.
    const Bytes overrun = {0x72, 0x02, 0x04, 0x01, 0, 0, 0, 4, 0x00, 0xFF, 0x80, 0};
    EXPECT_EQ(Convert(overrun)[0], 0x70);
    // Only the response code.
    EXPECT_EQ(Convert(Bytes{0x72})[2], 0);
    EXPECT_TRUE(Convert(Bytes{}).empty());
}

}  // namespace
