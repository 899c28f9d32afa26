// The virtual drive behind a command ring: each command the kernel hands over is run by the
// virtual bus's drive, exactly as --simulate runs it, and its outcome is put in SCSI terms.
#pragma once

#include <cstdint>

#include "platform/aspi/backend.h"
#include "sim/tcmu/command_ring.h"

namespace sim::tcmu {

// Which way a command's data goes, by operation code: MODE SELECT and WRITE send, the rest read.
aspi::Direction DataDirection(std::uint8_t opcode, std::size_t dataLength);

// Runs `command` on the device at adapter:target of `bus` and turns the result into a reply.
// A result that has no SCSI status (the drive's wait cancelled, a drive gone from the bus)
// becomes CHECK CONDITION, ABORTED COMMAND: the kernel then fails the command as it would
// for a real device that dropped it.
RingReply RunOnDrive(aspi::Backend& bus, std::uint8_t adapter, std::uint8_t target, RingCommand& command);

}  // namespace sim::tcmu
