#include "transport/scan_table.h"

#include <array>

#include "platform/aspi/backend.h"
#include "transport/drive_state.h"
#include "transport/startup.h"

namespace {

constexpr std::uint8_t kHighestReservedType = 30;

std::string Address(std::size_t adapter, std::int32_t target)
{
    return std::to_string(adapter) + ":" + std::to_string(target);
}

std::string WithLocation(std::string text, const std::string& location)
{
    return location.empty() ? text : text + "  " + location;
}

std::string AdapterLine(std::size_t a)
{
    const AdapterInfo& info = Adapters[a];
    std::string line = "Adapter " + std::to_string(a) + ": \"" + info.Identifier + "\", SCSI ID " +
                       std::to_string(info.ScsiId) + ", " + std::to_string(info.TargetCount) +
                       (info.TargetCount == 1 ? " target" : " targets");
    if (IsAtapiIdentifier(info.Identifier))
        line += ", ATAPI: not scanned";
    else if (info.TargetCount == 0)
        line += ": nothing to scan";
    return WithLocation(line, aspi::AdapterLocation(static_cast<std::uint8_t>(a)));
}

}  // namespace

std::string DeviceEntryText(std::uint8_t entry)
{
    static const std::array<const char*, 10> kTypes = {
        "disk", "tape", "printer", "processor", "WORM", "CD-ROM", "scanner", "optical memory", "medium changer",
        "communications"};
    if (entry < kTypes.size())
        return kTypes[entry];
    if (entry <= kHighestReservedType)
        return "reserved type " + std::to_string(entry);
    if (entry == kNoDeviceEntry)
        return "none";
    if (entry == kAdapterEntry)
        return "adapter itself";
    return "type " + std::to_string(entry);
}

std::vector<std::string> FormatAdapterTable()
{
    std::vector<std::string> lines;
    const auto inquired = static_cast<std::size_t>(InquiredAdapterCount());
    for (std::size_t a = 0; a < inquired && a < Adapters.size(); ++a) {
        lines.push_back(AdapterLine(a));
        const AdapterInfo& info = Adapters[a];
        if (IsAtapiIdentifier(info.Identifier))
            continue;
        for (std::int32_t t = 0; t < info.TargetCount; ++t) {
            const std::uint8_t entry = info.DeviceTypes[static_cast<std::size_t>(t)];
            std::string line = "  " + Address(a, t) + "  " + DeviceEntryText(entry);
            if (entry != kNoDeviceEntry && entry != kAdapterEntry)
                line = WithLocation(line, aspi::DeviceLocation(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(t)));
            lines.push_back(line);
        }
    }
    return lines;
}
