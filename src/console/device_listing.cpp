#include "console/device_listing.h"

#include <array>

#include "platform/aspi/aspi.h"
#include "platform/ui/message_box.h"
#include "transport/basic_text.h"
#include "transport/drive_state.h"
#include "transport/result_codes.h"
#include "transport/srb.h"
#include "transport/startup.h"

std::uint8_t ConsoleAdapter = 0;

namespace {

constexpr const char* kInvalidAdapter = "Invalid Host Adapter number";

}  // namespace

std::string DeviceTypeText(std::uint8_t deviceType)
{
    static const std::array<const char*, 10> kNamed = {
        "Disk Device at SCSI ID #",          "Tape Device at SCSI ID #",
        "Printer Device at SCSI ID #",       "Processor Device at SCSI ID #",
        "WORM Device at SCSI ID #",          "CDROM Device at SCSI ID #",
        "Scanner Device at SCSI ID #",       "Optical Memory Device at SCSI ID #",
        "Jukebox Device at SCSI ID #",       "Communications Device at SCSI ID #",
    };
    if (deviceType < kNamed.size())
        return kNamed[deviceType];
    if (deviceType <= 30)
        return "Reserved Type at SCSI ID #";
    return "Unknown Device at SCSI ID #";
}

void ListDeviceTypes(const std::function<void(const std::string&)>& printLine)
{
    std::uint8_t adapter = ConsoleAdapter;
    const std::int32_t inquiry = HostAdapterInquiry(adapter);
    if (inquiry == kInquiryInvalidAdapter) {
        ui::ShowMessage(kInvalidAdapter);
        return;
    }
    if (inquiry != kInquiryOk) {
        ui::ShowMessage("Undefined value returned from HostAdapterInquiry function");
        ui::EndProgram(1);
        return;
    }

    const AdapterInfo& info = Adapters[adapter];
    // Targets 0 to MaxTarget; an adapter that reports no targets has nothing to list.
    for (int t = 0; t < info.TargetCount; ++t) {
        if (t == info.ScsiId) {
            printLine(info.Identifier + " Adapter at SCSI ID #" + NumText(t));
            continue;
        }
        const auto [status, deviceType] = GetDeviceType(adapter, static_cast<std::uint8_t>(t));
        if (status == SS_COMP)
            printLine(DeviceTypeText(deviceType) + NumText(t));
        else if (status == SS_INVALID_HA)
            ui::ShowMessage(kInvalidAdapter);
        else if (status == SS_NO_DEVICE)
            printLine("No Device at SCSI ID #" + NumText(t));
    }
}
