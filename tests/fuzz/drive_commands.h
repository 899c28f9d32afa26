// Runs commands taken from fuzz input on a virtual drive, as the TCMU service hands them
// over: each an operation code, the rest of its CDB, one byte giving the data length in
// units of 128 bytes and, for a command that sends data, those bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "sim/tcmu/command_ring.h"
#include "sim/tcmu/drive_service.h"
#include "sim/virtual_bus.h"

namespace fuzz {

// A bus with one audio drive at target 4 holding `tape`, reading as fast as it can on a
// virtual clock, so that no command waits in real time.
inline std::unique_ptr<sim::Bus> DriveBus(std::shared_ptr<const sim::Tape> tape)
{
    sim::BusConfig config;
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
    sim::DriveConfig drive;
    drive.tape = std::move(tape);
    drive.becomingReadySeconds = 0;
    config.adapters[0].devices.push_back(drive);
    std::string error;
    return sim::CreateBus(config, error);
}

inline void RunCommands(aspi::Backend& bus, std::string_view bytes, std::size_t maxCommands = 64)
{
    for (std::size_t n = 0; n < maxCommands && !bytes.empty(); ++n) {
        sim::tcmu::RingCommand command;
        const std::size_t cdbLen = std::min(sim::tcmu::CdbLength(static_cast<std::uint8_t>(bytes[0])), bytes.size());
        command.cdb.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cdbLen));
        bytes.remove_prefix(cdbLen);
        std::size_t dataLen = 0;
        if (!bytes.empty()) {
            dataLen = std::size_t{static_cast<std::uint8_t>(bytes[0])} * 128;
            bytes.remove_prefix(1);
        }
        command.data.assign(dataLen, 0);
        if (sim::tcmu::DataDirection(command.cdb[0], dataLen) == aspi::Direction::Out) {
            const std::size_t given = std::min(dataLen, bytes.size());
            std::copy_n(bytes.begin(), given, command.data.begin());
            bytes.remove_prefix(given);
        }
        const sim::tcmu::RingReply reply = sim::tcmu::RunOnDrive(bus, 0, 4, command);
        if (reply.transferred > command.data.size() || reply.sense.size() > 32)
            __builtin_trap();
    }
}

}  // namespace fuzz
