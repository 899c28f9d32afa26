// Reading and building fixed-format sense data (what a request record's sense area holds):
// the one place that knows which byte carries what.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/aspi/scsi_codes.h"

namespace scsi {

struct Sense {
    bool present = false;       // a fixed-format response code (0x70 or 0x71) was found
    std::uint8_t keyByte = 0;   // byte 2 whole: the key with the FILEMARK, EOM and ILI bits
    std::uint8_t key = 0;       // the sense key alone
    bool filemark = false;
    bool endOfMedium = false;
    bool incorrectLength = false;
    std::optional<std::uint32_t> information;  // when the VALID bit is set
    Asc code{0, 0};

    // "MEDIUM ERROR, unrecovered read error (11/00)", for messages.
    std::string text() const;
};

// Decodes `len` bytes of fixed-format sense; bytes beyond `len` read as zero, and anything
// else (descriptor format, garbage) gives a Sense with only what could be read.
Sense DecodeSense(const std::uint8_t* sense, std::size_t len);

inline constexpr std::size_t kFixedSenseBytes = 18;

// Fills `out` with fixed-format sense (current error, 18 bytes, the rest zero; a shorter
// `out` gets the first bytes): the key, ASC/ASCQ and, when given, the INFORMATION field with
// the VALID bit (for a READ, the residue). Returns the bytes of sense written.
std::size_t BuildFixedSense(std::span<std::uint8_t> out, std::uint8_t senseKey, Asc code,
                            std::optional<std::uint32_t> information = std::nullopt);

}  // namespace scsi
