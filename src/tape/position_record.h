// READ POSITION with the BT bit and the 20-byte position record.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using PositionRecord = std::array<std::uint8_t, 20>;

// READ POSITION into `record`. True when the command completed; otherwise `record` holds what
// it held before, never bytes the drive did not send.
bool ReadPosition(std::uint8_t adapter, std::uint8_t target, PositionRecord& record);
// READ POSITION without BT: the tape frame the drive stands at, counted from the beginning of
// the tape. nullopt when the command fails or the drive says the position is not known.
std::optional<std::uint32_t> ReadFramePosition(std::uint8_t adapter, std::uint8_t target);
// The eight report lines ("Program # = 123", ..., "Run Frame = 0").
std::vector<std::string> FormatPositionReport(const PositionRecord& record);
