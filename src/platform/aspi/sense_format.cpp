#include "platform/aspi/sense_format.h"

#include <algorithm>
#include <cstring>

namespace aspi {
namespace {

constexpr std::uint8_t kDescInformation = 0x00;
constexpr std::uint8_t kDescStreamCommands = 0x04;

struct Normalised {
    std::uint8_t key = 0, asc = 0, ascq = 0;
    std::uint8_t streamBits = 0;  // FILEMARK 0x80, EOM 0x40, ILI 0x20
    bool infoValid = false;
    std::uint32_t info = 0;
    bool deferred = false;
};

Normalised FromDescriptorFormat(const std::uint8_t* in, std::size_t inLen)
{
    Normalised n;
    n.deferred = (in[0] & 0x7F) == 0x73;
    if (inLen > 1)
        n.key = in[1] & 0x0F;
    if (inLen > 2)
        n.asc = in[2];
    if (inLen > 3)
        n.ascq = in[3];
    const std::size_t end = inLen > 7 ? std::min<std::size_t>(inLen, 8 + std::size_t{in[7]}) : 0;
    for (std::size_t pos = 8; pos + 2 <= end;) {
        const std::uint8_t type = in[pos];
        const std::size_t len = in[pos + 1];
        const std::size_t avail = std::min(len, end - pos - 2);
        const std::uint8_t* d = in + pos + 2;  // the descriptor's body: `avail` bytes
        if (type == kDescInformation && avail >= 10) {
            std::uint64_t v = 0;
            for (int i = 2; i < 10; ++i)
                v = (v << 8) | d[i];
            // A negative value (ILI after a longer block) is sign-extended: keep its low
            // 32 bits. Anything else beyond 32 bits does not fit the fixed format.
            const std::uint64_t high = v >> 32;
            const bool fits = high == 0 || (high == 0xFFFFFFFFu && (v & 0x80000000u));
            n.infoValid = (d[0] & 0x80) && fits;
            n.info = static_cast<std::uint32_t>(v);
        } else if (type == kDescStreamCommands && avail >= 2) {
            n.streamBits = d[1] & 0xE0;
        }
        pos += 2 + len;
    }
    return n;
}

}  // namespace

std::size_t ToFixedSense(const std::uint8_t* in, std::size_t inLen, std::uint8_t* out, std::size_t outCap)
{
    if (!in || inLen == 0 || !out || outCap == 0)
        return 0;
    const std::uint8_t code = in[0] & 0x7F;
    if (code != 0x72 && code != 0x73) {
        const std::size_t n = std::min(inLen, outCap);
        std::memcpy(out, in, n);
        return n;
    }
    const Normalised n = FromDescriptorFormat(in, inLen);
    std::uint8_t fixed[kFixedSenseLen] = {};
    fixed[0] = static_cast<std::uint8_t>((n.infoValid ? 0x80 : 0) | (n.deferred ? 0x71 : 0x70));
    fixed[2] = static_cast<std::uint8_t>(n.streamBits | n.key);
    fixed[3] = static_cast<std::uint8_t>(n.info >> 24);
    fixed[4] = static_cast<std::uint8_t>(n.info >> 16);
    fixed[5] = static_cast<std::uint8_t>(n.info >> 8);
    fixed[6] = static_cast<std::uint8_t>(n.info);
    fixed[7] = kFixedSenseLen - 8;
    fixed[12] = n.asc;
    fixed[13] = n.ascq;
    const std::size_t len = std::min(kFixedSenseLen, outCap);
    std::memcpy(out, fixed, len);
    return len;
}

}  // namespace aspi
