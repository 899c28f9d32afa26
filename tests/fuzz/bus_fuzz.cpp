// Bus descriptions (--simulate=FILE.json): any text is refused with a reason or gives a
// configuration that CreateBus accepts or refuses, never a crash. File names are looked up
// in a folder that does not exist, so that the input cannot reach the machine's files
// through a relative name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/virtual_bus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    sim::BusConfig config;
    std::string error;
    if (!sim::ParseBusDescription(text, "/nonexistent/vantrel-fuzz", config, error)) {
        if (error.empty())
            std::abort();  // a refusal always says why
        return 0;
    }
    std::string why;
    auto bus = sim::CreateBus(config, why);
    if (!bus && why.empty())
        std::abort();
    if (bus) {
        // Ask every adapter and device what it is, as a scan does.
        const std::uint32_t adapters = bus->supportInfo() & 0xFF;
        for (std::uint32_t a = 0; a < adapters; ++a) {
            aspi::AdapterInquiry inquiry;
            (void)bus->inquiry(static_cast<std::uint8_t>(a), inquiry);
            for (unsigned t = 0; t < inquiry.targetCount; ++t) {
                std::uint8_t type = 0;
                (void)bus->deviceType(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(t), 0, type);
                (void)bus->deviceLocation(static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(t));
            }
        }
    }
    return 0;
}
