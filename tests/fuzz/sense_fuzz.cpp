// Sense data as a device or the kernel returns it, fixed or descriptor format and any
// length: normalised to the fixed format, decoded and put into words.
#include <cstddef>
#include <cstdint>

#include "platform/aspi/sense.h"
#include "platform/aspi/sense_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte is the room the caller gives (as a request record's sense area does).
    const std::size_t room = data[0];
    ++data;
    --size;
    std::uint8_t fixed[256];
    const std::size_t n = aspi::ToFixedSense(data, size, fixed, room);
    if (n > room)
        __builtin_trap();
    const scsi::Sense s = scsi::DecodeSense(fixed, n);
    (void)s.text();
    (void)scsi::DecodeSense(data, size).text();
    return 0;
}
