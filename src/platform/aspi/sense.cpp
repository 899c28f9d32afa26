#include "platform/aspi/sense.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace scsi {
namespace {

constexpr std::uint8_t kCurrentFixed = 0x70;
constexpr std::uint8_t kDeferredFixed = 0x71;
constexpr std::uint8_t kValidBit = 0x80;
constexpr std::uint8_t kFilemarkBit = 0x80;
constexpr std::uint8_t kEomBit = 0x40;
constexpr std::uint8_t kIliBit = 0x20;
constexpr std::uint8_t kKeyMask = 0x0F;
constexpr std::uint8_t kAdditionalLength = kFixedSenseBytes - 8;

}  // namespace

Sense DecodeSense(const std::uint8_t* sense, std::size_t len)
{
    Sense s;
    if (!sense)
        return s;
    const auto at = [&](std::size_t i) -> std::uint8_t { return i < len ? sense[i] : 0; };
    const std::uint8_t response = at(0) & 0x7F;
    s.present = response == kCurrentFixed || response == kDeferredFixed;
    s.keyByte = at(2);
    s.key = s.keyByte & kKeyMask;
    s.filemark = (s.keyByte & kFilemarkBit) != 0;
    s.endOfMedium = (s.keyByte & kEomBit) != 0;
    s.incorrectLength = (s.keyByte & kIliBit) != 0;
    if ((at(0) & kValidBit) && len >= 7)
        s.information = static_cast<std::uint32_t>(at(3)) << 24 | static_cast<std::uint32_t>(at(4)) << 16 |
                        static_cast<std::uint32_t>(at(5)) << 8 | at(6);
    s.code = {at(12), at(13)};
    return s;
}

std::string Sense::text() const
{
    char codes[16];
    std::snprintf(codes, sizeof codes, " (%02X/%02X)", code.asc, code.ascq);
    return SenseKeyText(key) + ", " + AscText(code) + codes;
}

std::size_t BuildFixedSense(std::span<std::uint8_t> to, std::uint8_t senseKey, Asc code,
                            std::optional<std::uint32_t> information)
{
    std::uint8_t out[kFixedSenseBytes] = {};
    out[0] = kCurrentFixed;
    out[2] = senseKey & kKeyMask;
    if (information) {
        out[0] |= kValidBit;
        out[3] = static_cast<std::uint8_t>(*information >> 24);
        out[4] = static_cast<std::uint8_t>(*information >> 16);
        out[5] = static_cast<std::uint8_t>(*information >> 8);
        out[6] = static_cast<std::uint8_t>(*information);
    }
    out[7] = kAdditionalLength;
    out[12] = code.asc;
    out[13] = code.ascq;
    std::fill(to.begin(), to.end(), 0);
    const std::size_t n = std::min(to.size(), kFixedSenseBytes);
    std::memcpy(to.data(), out, n);
    return n;
}

}  // namespace scsi
