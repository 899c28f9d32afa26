// PREVENT ALLOW MEDIUM REMOVAL and READ BLOCK LIMITS.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// prevent: 1 locks the tape in, 0 releases it. True when the command completed.
bool PreventAllowRemoval(std::uint8_t adapter, std::uint8_t target, std::uint8_t prevent);
// READ BLOCK LIMITS; returns the console's one line: minimum, then maximum.
std::string ReadBlockLimits(std::uint8_t adapter, std::uint8_t target);
// The line for six bytes of block-limits data.
std::string FormatBlockLimits(const std::array<std::uint8_t, 6>& data);
