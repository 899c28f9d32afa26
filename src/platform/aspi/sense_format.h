// Sense data as the request record's sense area holds it: the fixed format (0x70/0x71).
// Devices with D_SENSE set in their Control mode page answer in the descriptor format
// (0x72/0x73) instead, and sg passes those bytes on unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace aspi {

inline constexpr std::size_t kFixedSenseLen = 18;

// Writes `in` (`inLen` bytes, either format) to `out` in the fixed format and returns the
// number of bytes written (at most `outCap`). Fixed-format and unknown sense is copied as it
// is; descriptor sense becomes 18 bytes with the key, ASC, ASCQ, INFORMATION (when it fits
// in 32 bits) and the FILEMARK, EOM and ILI bits of the stream-commands descriptor. Every
// byte read is checked against `inLen`.
std::size_t ToFixedSense(const std::uint8_t* in, std::size_t inLen, std::uint8_t* out, std::size_t outCap);

}  // namespace aspi
