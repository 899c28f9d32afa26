// --scan: start-up discovery without a window. Messages that would be boxes go to stderr,
// one line each; the table goes to stdout; the exit status says whether a drive was chosen.
#include <cstdio>

#include "app/run_modes.h"
#include "app/windowless_startup.h"
#include "platform/aspi/backend.h"
#include "transport/drive_identity.h"
#include "transport/drive_state.h"
#include "transport/scan_table.h"
#include "transport/startup.h"

namespace {

constexpr std::uint8_t kTapeType = 1;

// Each tape device named from its own INQUIRY answer, so that a drive passed over can be told
// from the one that plays; a bus that does not answer INQUIRY adds nothing.
void NameTapeDrives()
{
    const auto inquired = static_cast<std::size_t>(InquiredAdapterCount());
    for (std::size_t a = 0; a < inquired && a < Adapters.size(); ++a) {
        const AdapterInfo& info = Adapters[a];
        for (std::size_t t = 0; t < info.TargetCount; ++t) {
            const auto adapter = static_cast<std::uint8_t>(a);
            const auto target = static_cast<std::uint8_t>(t);
            // One that could not be reached was already explained; asking again adds a line.
            if (info.DeviceTypes[t] != kTapeType || !aspi::KnownFailureCause(adapter, target).empty())
                continue;
            const auto id = InquireDrive(adapter, target);
            if (!id)
                continue;
            std::printf("Tape drive %u:%u: %s\n", unsigned{adapter}, unsigned{target}, DriveIdentityText(*id).c_str());
            if (const std::string hint = AudioFirmwareHint(*id); !hint.empty())
                std::printf("  %s\n", hint.c_str());
        }
    }
}

}  // namespace

int RunScanMode(const Options&)
{
    const int status = RunWindowlessStartup();
    for (const std::string& line : FormatAdapterTable())
        std::printf("%s\n", line.c_str());
    if (status == 0 || status == 1)
        NameTapeDrives();
    if (status == 0)
        std::printf("Selected drive: %u:%u\n", unsigned{AspiAdapter}, unsigned{AspiTarget});
    std::fflush(stdout);
    return status;
}
