// The execute record as every command routine fills it.
#include <array>
#include <cstring>
#include <gtest/gtest.h>

#include "transport/srb.h"

namespace {

TEST(ExecRecord, CommandWithoutDataCarriesTheFixedValues)
{
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0xAA, sizeof srb);  // filling must not keep stale bytes
    const std::array<std::uint8_t, 6> tur{};
    FillExecRecord(srb, 2, 4, 0, tur, nullptr, 0);

    const auto* raw = reinterpret_cast<const std::uint8_t*>(&srb);
    EXPECT_EQ(raw[0], SC_EXEC_SCSI_CMD);
    EXPECT_EQ(raw[1], SS_PENDING);
    EXPECT_EQ(raw[2], 2);
    EXPECT_EQ(raw[3], 0);  // flags
    EXPECT_EQ(raw[8], 4);  // target
    EXPECT_EQ(srb.SRB_BufLen, 0u);
    EXPECT_EQ(srb.SRB_BufPointer, 1u);
    EXPECT_EQ(raw[20], 14);  // sense length
    EXPECT_EQ(raw[21], 6);   // CDB length
    EXPECT_EQ(srb.SRB_PostProc, 1u);
    for (int i = 32; i < 48; ++i)
        EXPECT_EQ(raw[i], 0) << "SRB_Rsvd3 byte " << i - 32;
    for (int i = 48 + 6; i < 64; ++i)
        EXPECT_EQ(raw[i], 0) << "CDB byte " << i - 48;
}

TEST(ExecRecord, TransferKeepsOnlyTheLowAddressBitsInTheRecord)
{
    SRB_ExecSCSICmd srb;
    std::array<std::uint8_t, 12> buffer{};
    const std::array<std::uint8_t, 6> sense{0x1A, 0, 0, 0, 0x0C, 0};
    FillExecRecord(srb, 0, 3, SRB_DIR_IN, sense, buffer.data(), 12);
    EXPECT_EQ(srb.SRB_Flags, SRB_DIR_IN);
    EXPECT_EQ(srb.SRB_BufLen, 12u);
    EXPECT_EQ(srb.SRB_BufPointer, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer.data())));
    // Little-endian on the wire: byte 12 is the low byte of the length.
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(&srb)[12], 12);
}

TEST(ExecRecord, TenByteDataOutCommandLeavesEveryReservedByteZero)
{
    SRB_ExecSCSICmd srb;
    std::memset(&srb, 0xAA, sizeof srb);
    std::array<std::uint8_t, 12> list{};
    const std::array<std::uint8_t, 10> locate{0x2B, 0x04, 0x00, 0x20, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00};
    FillExecRecord(srb, 1, 5, SRB_DIR_OUT, locate, list.data(), 12);

    const auto* raw = reinterpret_cast<const std::uint8_t*>(&srb);
    EXPECT_EQ(raw[3], 0x10);
    for (int i : {4, 5, 6, 7, 9, 10, 11, 22, 23, 28, 29, 30, 31})
        EXPECT_EQ(raw[i], 0) << "byte " << i;
    EXPECT_EQ(raw[20], 14);
    EXPECT_EQ(raw[21], 10);
    EXPECT_EQ(raw[24], 1);  // SRB_PostProc, little-endian
    EXPECT_EQ(raw[25] | raw[26] | raw[27], 0);
    EXPECT_EQ(std::memcmp(raw + 48, locate.data(), 10), 0);
    for (int i = 48 + 10; i < 80; ++i)
        EXPECT_EQ(raw[i], 0) << "byte " << i;
}

}  // namespace
