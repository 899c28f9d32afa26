// The virtual SCSI bus with its audio-capable DAT drive, as a manager backend.
#pragma once

#include <memory>
#include <string>

#include "platform/aspi/backend.h"
#include "sim/virtual_bus.h"

namespace sim {

// Builds the bus for --simulate[=FILE]: an empty argument gives the built-in demo bus; FILE
// is an audio file, a raw frame dump or a .json bus description. On failure returns nullptr
// and sets `error` to a message naming the file and the reason.
std::unique_ptr<aspi::Backend> CreateSimulatedBus(const std::string& argument, std::string& error);

// The configuration CreateSimulatedBus builds from the same argument, not yet checked by
// CreateBus. False with `error` set as CreateSimulatedBus words it.
bool SimulatedBusConfig(const std::string& argument, BusConfig& config, std::string& error);

}  // namespace sim
