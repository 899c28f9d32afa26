// The adapter table as --scan prints it, so that a user can see which drive is which.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A short name for one DeviceTypes entry: "tape", "none", "adapter itself", ...
std::string DeviceEntryText(std::uint8_t entry);

// One line per adapter the last Main inquired (number, identifier, SCSI ID, target count and
// where the manager finds it), then one indented line per target scanned on it.
std::vector<std::string> FormatAdapterTable();
