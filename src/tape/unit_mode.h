// Unit readiness and mode parameters: TEST UNIT READY, MODE SELECT(6), MODE SENSE(6).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/io/result.h"
#include "transport/result_codes.h"

using ModeParameterList = std::array<std::uint8_t, 12>;

inline constexpr std::uint8_t AudioDensity = 0x80;

// The parameter lists the program sends (byte 0 first).
inline constexpr ModeParameterList kAudioModeList{0x00, 0x00, 0x10, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00};
inline constexpr ModeParameterList kUnbufferedAudioList{0x00, 0x00, 0x00, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00};
inline constexpr ModeParameterList kDataModeList{0x00, 0x00, 0x10, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x02, 0x00};

// What TEST UNIT READY came to: one of the kTur codes of transport/result_codes.h, and for an
// unexpected outcome (kTurOther) the text that tells the user what it was.
struct UnitReadiness {
    std::int32_t code = kTurOther;
    std::string message;  // empty unless code is kTurOther
};
UnitReadiness CheckUnitReady(std::uint8_t adapter, std::uint8_t target);
// MODE SELECT: ok when it completed. A refusal (SS_ERR) fails with an empty text, which the
// user is not told; any other failure with its text.
Status TryModeSelect(std::uint8_t adapter, std::uint8_t target, const ModeParameterList& list);
// MODE SENSE into `buffer`; after a failure the buffer keeps what it held.
void ModeSense(std::uint8_t adapter, std::uint8_t target, ModeParameterList& buffer);
// Byte 4 of a fresh MODE SENSE (0 when it failed).
std::uint8_t GetDensityCode(std::uint8_t adapter, std::uint8_t target);
// TryModeSelect with the audio list, or with the audio list at another density.
Status TrySelectAudioMode(std::uint8_t adapter, std::uint8_t target);
Status TrySelectDensity(std::uint8_t adapter, std::uint8_t target, std::uint8_t density);
