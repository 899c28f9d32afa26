// The TCMU command ring as the kernel shares it: the input is the whole shared area (the
// mailbox at its start, then the ring and the data buffers). Whatever it holds, serving it
// stays inside the area and ends, and each command reaches the virtual drive.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/drive_commands.h"
#include "sim/tape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const auto tape = sim::MakePcmTape({std::vector<std::int16_t>(2 * 1440 * 4, 0)});
    // The kernel's area is page-aligned; its head and tail are read as aligned words.
    std::vector<std::uint64_t> storage((size + 7) / 8 + 1);
    auto* area = reinterpret_cast<std::uint8_t*>(storage.data());
    if (size > 0)
        std::memcpy(area, data, size);
    sim::tcmu::CommandRing ring(area, size);
    if (!ring.check())
        return 0;
    auto bus = fuzz::DriveBus(tape);
    const std::size_t served = ring.serve([&](sim::tcmu::RingCommand& command) {
        if (command.cdb.empty() || command.cdb.size() > 16)
            __builtin_trap();
        return sim::tcmu::RunOnDrive(*bus, 0, 4, command);
    });
    (void)served;
    return 0;
}
