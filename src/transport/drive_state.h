// Module state of start-up: the selected drive and the adapter table. Written by Main
// (and the console's device listing refreshes table entries); read by every command caller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// One entry per target ID a byte can name: SAS and USB hosts on Linux use IDs above 31.
inline constexpr std::size_t kDeviceTypeEntries = 256;

struct AdapterInfo {
    std::uint8_t ScsiId = 0;
    std::string Identifier;
    std::uint8_t MaxTarget = 0;  // highest target ID to scan (0 also when TargetCount is 0)
    std::array<std::uint8_t, kDeviceTypeEntries> DeviceTypes{};  // 0-30 type, 31 none, 255 the adapter itself
    std::uint8_t TargetCount = 0;  // targets the adapter reports; 0: nothing to scan
};

inline constexpr std::uint8_t kNoDeviceEntry = 31;
inline constexpr std::uint8_t kAdapterEntry = 255;

extern std::uint8_t AspiAdapter;
extern std::uint8_t AspiTarget;
extern bool DriveFound;
extern std::array<AdapterInfo, 8> Adapters;

// Puts the start-up state back to its initial values (tests).
void ResetDriveState();
