// The console's device-type listing: one line per target ID of one host adapter.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The adapter number last typed into the console and listed.
extern std::uint8_t ConsoleAdapter;

// The text printed before the target number for a SCSI peripheral device type.
std::string DeviceTypeText(std::uint8_t deviceType);

// Lists adapter `ConsoleAdapter`: refreshes its table entry with HostAdapterInquiry, then
// hands one line per target to `printLine` (the adapter's own line, the device found, or
// "No Device at SCSI ID #"). Messages: "Invalid Host Adapter number" for a refused adapter
// or target request; an undefined inquiry result ends the program after its message.
void ListDeviceTypes(const std::function<void(const std::string&)>& printLine);
