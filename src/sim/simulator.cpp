#include "sim/simulator.h"

namespace sim {

std::unique_ptr<aspi::Backend> CreateSimulatedBus(const std::string&, std::string& error)
{
    error = "the virtual SCSI bus is not available in this build yet";
    return nullptr;
}

}  // namespace sim
