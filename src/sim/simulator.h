// The virtual SCSI bus with its audio-capable DAT drive, as a manager backend.
#pragma once

#include <memory>
#include <string>

#include "platform/aspi/backend.h"

namespace sim {

// Builds the bus for --simulate[=FILE]: an empty argument gives the built-in demo bus; FILE
// is an audio file, a raw frame dump or a .json bus description. On failure returns nullptr
// and sets `error` to a message naming the file and the reason.
std::unique_ptr<aspi::Backend> CreateSimulatedBus(const std::string& argument, std::string& error);

}  // namespace sim
