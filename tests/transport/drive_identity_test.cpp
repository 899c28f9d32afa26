// Naming a drive from its INQUIRY data, and what is known of its audio firmware.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "transport/drive_identity.h"

namespace {

std::array<std::uint8_t, 36> Inquiry(const char* vendor, const char* product, const char* revision)
{
    std::array<std::uint8_t, 36> d{};
    d[0] = 0x01;  // sequential access
    std::memset(d.data() + 8, ' ', 28);
    std::memcpy(d.data() + 8, vendor, std::strlen(vendor));
    std::memcpy(d.data() + 16, product, std::strlen(product));
    std::memcpy(d.data() + 32, revision, std::strlen(revision));
    return d;
}

DriveIdentity Id(const char* vendor, const char* product, const char* revision)
{
    const auto d = Inquiry(vendor, product, revision);
    return ParseInquiry(d.data(), d.size()).value();
}

TEST(DriveIdentity, FieldsArePaddingFreeAndSafeToPrint)
{
    const DriveIdentity id = Id("ARCHIVE", "Python 25601-XXX", "2.63");
    EXPECT_EQ(DriveIdentityText(id), "ARCHIVE Python 25601-XXX, firmware 2.63");

    auto d = Inquiry("HP", "C1537A", "L708");
    d[20] = 0x1B;  // an escape byte must not reach the terminal
    d[12] = 0;     // NUL padding is padding
    d[33] = 0xC5;  // nor a byte outside ASCII
    const auto odd = ParseInquiry(d.data(), d.size()).value();
    EXPECT_EQ(odd.vendor, "HP");
    EXPECT_EQ(odd.product, "C153 A");
    EXPECT_EQ(odd.revision, "L 08");

    // Leading spaces go too, so that --scan, the deck and bag-info name a drive the same way.
    const auto padded = Inquiry(" SONY", "  SDT-9000", " 1.1");
    const DriveIdentity sony = ParseInquiry(padded.data(), padded.size()).value();
    EXPECT_EQ(DriveIdentityText(sony), "SONY SDT-9000, firmware 1.1");
    std::array<std::uint8_t, 36> blank{};
    const DriveIdentity none = ParseInquiry(blank.data(), blank.size()).value();
    EXPECT_TRUE(none.vendor.empty() && none.product.empty() && none.revision.empty());

    EXPECT_FALSE(ParseInquiry(d.data(), 35).has_value()) << "short data names nothing";
    EXPECT_FALSE(ParseInquiry(nullptr, 36).has_value());
}

TEST(DriveIdentity, AudioFirmwareHints)
{
    for (const auto& id : {Id("ARCHIVE", "Python 25601-XXX", "2.75"), Id("ARCHIVE", "Python 01931-XXX", "5AC"),
                           Id("ARCHIVE", "Python 25501-XXX", "4.01"), Id("SONY", "SDT-9000", "1.13")}) {
        const std::string hint = AudioFirmwareHint(id);
        EXPECT_EQ(hint.rfind("Audio firmware:", 0), 0u) << DriveIdentityText(id) << ": " << hint;
    }
    for (const auto& id : {Id("ARCHIVE", "Python 25601-XXX", "2.50"), Id("ARCHIVE", "Python 28388-XXX", "5.45"),
                           Id("SONY", "SDT-9000", "12.1")}) {
        const std::string hint = AudioFirmwareHint(id);
        EXPECT_NE(hint.find("not one known to read audio"), std::string::npos) << DriveIdentityText(id) << ": " << hint;
    }
    EXPECT_NE(AudioFirmwareHint(Id("HP", "C1537A", "L708")).find("data-only"), std::string::npos);
    EXPECT_EQ(AudioFirmwareHint(Id("SONY", "SDT-5000", "3.26")), "") << "nothing known either way";
    EXPECT_NE(AudioFirmwareHint(Id("VANTREL", "VIRTUAL DAT", "1.0")).find("virtual audio DAT drive"), std::string::npos)
        << "the project's own drive is not taken for a data-only one";
}

}  // namespace
