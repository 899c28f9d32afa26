// Unit readiness and mode parameters: TEST UNIT READY, MODE SELECT(6), MODE SENSE(6).
#pragma once

#include <array>
#include <cstdint>

#include "transport/result_codes.h"

using ModeParameterList = std::array<std::uint8_t, 12>;

inline constexpr std::uint8_t AudioDensity = 0x80;

// The parameter lists the program sends (byte 0 first).
inline constexpr ModeParameterList kAudioModeList{0x00, 0x00, 0x10, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00};
inline constexpr ModeParameterList kUnbufferedAudioList{0x00, 0x00, 0x00, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00};
inline constexpr ModeParameterList kDataModeList{0x00, 0x00, 0x10, 0x08, 0x00, 0, 0, 0, 0, 0x00, 0x02, 0x00};

// One of the kTur codes of transport/result_codes.h; an unexpected outcome shows its message box first and gives -99.
std::int32_t TestUnitReady(std::uint8_t adapter, std::uint8_t target);
// True when MODE SELECT completed; SS_ERR gives false silently, other failures a message.
bool ModeSelect(std::uint8_t adapter, std::uint8_t target, const ModeParameterList& list);
// MODE SENSE into `buffer`; after a failure the buffer keeps what it held.
void ModeSense(std::uint8_t adapter, std::uint8_t target, ModeParameterList& buffer);
// Byte 4 of a fresh MODE SENSE (0 when it failed).
std::uint8_t GetDensityCode(std::uint8_t adapter, std::uint8_t target);
bool SelectAudioMode(std::uint8_t adapter, std::uint8_t target);
bool SelectDensity(std::uint8_t adapter, std::uint8_t target, std::uint8_t density);
