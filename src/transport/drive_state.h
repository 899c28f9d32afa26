// Module state of start-up: the selected drive and the adapter table. Written by Main
// (and the console's device listing refreshes table entries); read by every command caller.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct AdapterInfo {
    std::uint8_t ScsiId = 0;
    std::string Identifier;
    std::uint8_t MaxTarget = 0;  // highest target ID to scan
    std::array<std::uint8_t, 32> DeviceTypes{};  // 0-30 type, 31 none, 255 the adapter itself
};

inline constexpr std::uint8_t kNoDeviceEntry = 31;
inline constexpr std::uint8_t kAdapterEntry = 255;

extern std::uint8_t AspiAdapter;
extern std::uint8_t AspiTarget;
extern bool DriveFound;
extern std::array<AdapterInfo, 8> Adapters;

// Puts the start-up state back to its initial values (tests).
void ResetDriveState();
