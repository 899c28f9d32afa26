// What sysfs says about the SCSI buses: hosts, channels and devices, read by listing
// directories (the kernel exports no this_id or max_id), and the adapter numbering built
// from them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aspi {

struct SgAddress {
    unsigned host = 0, channel = 0, target = 0;
    std::uint64_t lun = 0;
};

// "H:C:T:L", all decimal; nullopt for anything else (host*, target*, junk).
std::optional<SgAddress> ParseDeviceName(const std::string& name);
std::string DeviceName(const SgAddress& a);

struct SgBus {
    unsigned host = 0, channel = 0;
    std::string procName;           // as the host reports it, trailing newline removed
    std::vector<unsigned> targets;  // targets with a LUN-0 device, ascending
    bool hasTape = false;           // one of them is sequential-access (type 1)
};

// The adapters in the order of their numbers: buses holding a tape device, then the other
// buses with devices, then hosts without devices (as channel 0); each group by host, then
// channel. Empty when sysfs cannot be read.
std::vector<SgBus> ScanSgBuses(const std::string& sysfsRoot);

// The adapter's own SCSI ID and the number of target IDs to scan (HA_Unique byte 3): at
// least 8 and above the highest target present; the ID is 7 unless a device sits there,
// else the highest free ID below the count, else one above the highest target.
std::uint8_t TargetCount(const SgBus& bus);
std::uint8_t AdapterScsiId(const SgBus& bus);

// A sysfs text attribute without its trailing newline; nullopt when it cannot be read.
std::optional<std::string> ReadAttribute(const std::string& path);

// The device's folder (through /sys/bus/scsi/devices, which holds symlinks).
std::string DeviceDir(const std::string& sysfsRoot, const SgAddress& a);

// The device's sg node name ("sg3"), from its generic link or its scsi_generic folder;
// empty when the sg module is not bound to it.
std::string SgNodeName(const std::string& deviceDir);

}  // namespace aspi
