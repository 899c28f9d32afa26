// Frame dumps (--simulate=tape.dat): a dump of frames whose subcode is anything, and the
// virtual drive searching, locating and reading on it. The input is the drive's commands
// (see drive_commands.h), a line "##", then the frames' subcode areas, 62 bytes each.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/drive_commands.h"
#include "fuzz/fuzz_input.h"
#include "sim/tape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto parts = fuzz::Split(data, size, "\n##\n");
    const std::string_view commands = parts.size() > 1 ? parts[0] : std::string_view();
    const std::string_view subcodes = parts.back();
    std::string error;
    // What is not a whole number of frames is refused with a reason.
    if (size % dat::kFrameBytes != 0 &&
        (sim::MakeFrameDumpTape(std::vector<std::uint8_t>(data, data + size), error) || error.empty()))
        __builtin_trap();

    std::vector<std::uint8_t> frames =
        fuzz::FramesFromSubcodes(reinterpret_cast<const std::uint8_t*>(subcodes.data()), subcodes.size(), 64);
    if (frames.empty())
        return 0;
    const std::size_t count = frames.size() / dat::kFrameBytes;
    auto tape = sim::MakeFrameDumpTape(std::move(frames), error);
    if (!tape || tape->frameCount() != count)
        __builtin_trap();
    for (std::uint64_t n = 0; n < count; ++n) {
        const sim::FramePosition p = tape->position(n);
        (void)sim::FrameOfBcd(p.absoluteTime);
        (void)sim::FrameOfBcd(p.programTime);
    }
    auto bus = fuzz::DriveBus(tape);
    if (!bus)
        __builtin_trap();
    fuzz::RunCommands(*bus, commands);
    return 0;
}
