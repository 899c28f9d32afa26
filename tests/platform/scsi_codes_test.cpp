// The one table of SCSI codes and the sense decoder and builder that the drive routines, the
// frame reader and the virtual drive share.
#include <gtest/gtest.h>

#include "platform/aspi/scsi_codes.h"
#include "platform/aspi/sense.h"

namespace {

using scsi::Asc;
using scsi::DecodeSense;

TEST(SenseDecoder, FixedFormatGivesKeyFlagsInformationAndCodes)
{
    // 0xF0: VALID + current error; byte 2 0xA3: FILEMARK, ILI, MEDIUM ERROR; information
    // 00 00 16 BE (5822 not transferred); ASC/ASCQ 11/00.
    const std::uint8_t sense[18] = {0xF0, 0, 0xA3, 0x00, 0x00, 0x16, 0xBE, 10, 0, 0, 0, 0, 0x11, 0x00};
    const scsi::Sense s = DecodeSense(sense, sizeof sense);
    EXPECT_TRUE(s.present);
    EXPECT_EQ(s.keyByte, 0xA3);
    EXPECT_EQ(s.key, scsi::key::MediumError);
    EXPECT_TRUE(s.filemark);
    EXPECT_FALSE(s.endOfMedium);
    EXPECT_TRUE(s.incorrectLength);
    ASSERT_TRUE(s.information.has_value());
    EXPECT_EQ(*s.information, 5822u);
    EXPECT_EQ(s.code, scsi::asc::UnrecoveredReadError);
    EXPECT_EQ(s.text(), "MEDIUM ERROR, unrecovered read error (11/00)");
}

TEST(SenseDecoder, ShortMissingOrForeignSenseNeverReadsPastItsLength)
{
    // The request record's 14-byte area: ASC/ASCQ still inside.
    const std::uint8_t area[14] = {0x70, 0, 0x02, 0, 0, 0, 0, 6, 0, 0, 0, 0, 0x04, 0x01};
    EXPECT_EQ(DecodeSense(area, sizeof area).code, scsi::asc::BecomingReady);
    // Cut before the codes: they read as zero, the key is still there.
    const scsi::Sense cut = DecodeSense(area, 3);
    EXPECT_EQ(cut.key, scsi::key::NotReady);
    EXPECT_EQ(cut.code, (Asc{0, 0}));
    EXPECT_FALSE(DecodeSense(nullptr, 18).present);
    EXPECT_FALSE(DecodeSense(area, 0).present);
    // Descriptor format is not fixed format: the converter's business, not the decoder's.
    const std::uint8_t descriptor[8] = {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0};
    EXPECT_FALSE(DecodeSense(descriptor, sizeof descriptor).present);
    // VALID without the bytes of the information field: no information.
    const std::uint8_t valid[5] = {0xF0, 0, 0x08, 0, 0};
    EXPECT_FALSE(DecodeSense(valid, sizeof valid).information.has_value());
}

TEST(SenseBuilder, WhatItBuildsDecodesToTheSameValues)
{
    std::uint8_t out[32];
    std::fill(std::begin(out), std::end(out), 0xEE);
    EXPECT_EQ(scsi::BuildFixedSense(out, scsi::key::BlankCheck, scsi::asc::EndOfDataDetected, 11644u), 18u);
    const scsi::Sense s = DecodeSense(out, 18);
    EXPECT_TRUE(s.present);
    EXPECT_EQ(s.key, scsi::key::BlankCheck);
    EXPECT_EQ(s.code, scsi::asc::EndOfDataDetected);
    EXPECT_EQ(s.information, 11644u);
    EXPECT_EQ(out[7], 10) << "additional sense length";
    for (std::size_t i = 18; i < sizeof out; ++i)
        EXPECT_EQ(out[i], 0) << "byte " << i << " beyond the sense is cleared";

    std::uint8_t none[18];
    scsi::BuildFixedSense(none, scsi::key::NotReady, scsi::asc::MediumNotPresent);
    EXPECT_EQ(none[0], 0x70) << "no VALID bit without information";
    EXPECT_FALSE(DecodeSense(none, 18).information.has_value());

    std::uint8_t small[4];
    EXPECT_EQ(scsi::BuildFixedSense(small, scsi::key::IllegalRequest, scsi::asc::InvalidOpcode), 4u);
    EXPECT_EQ(small[2], scsi::key::IllegalRequest);
}

TEST(ScsiCodeTable, NamesTextsAndTimeoutClasses)
{
    EXPECT_EQ(scsi::CommandName(scsi::op::Locate10), "LOCATE(10)");
    EXPECT_EQ(scsi::CommandName(0x3C), "command 0x3C");
    EXPECT_TRUE(scsi::IsLongTapeCommand(scsi::op::Rewind));
    EXPECT_TRUE(scsi::IsLongTapeCommand(scsi::op::LoadUnload));
    EXPECT_FALSE(scsi::IsLongTapeCommand(scsi::op::Read6));
    EXPECT_FALSE(scsi::IsLongTapeCommand(0x3C));
    EXPECT_EQ(scsi::SenseKeyText(scsi::key::IllegalRequest), "ILLEGAL REQUEST");
    EXPECT_EQ(scsi::SenseKeyText(0x1F), "sense key 0x1F");
    EXPECT_EQ(scsi::AscText(scsi::asc::IncompatibleMediumFormat), "cannot read medium - incompatible format");
    EXPECT_EQ(scsi::AscText(Asc{0x3B, 0x0C}), "ASC/ASCQ 0x3B/0x0C");
}

}  // namespace
