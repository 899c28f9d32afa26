#include "sim/tcmu/drive_service.h"

#include <algorithm>

#include "platform/aspi/scsi_codes.h"
#include "platform/aspi/sense.h"

namespace sim::tcmu {

aspi::Direction DataDirection(std::uint8_t opcode, std::size_t dataLength)
{
    if (dataLength == 0)
        return aspi::Direction::None;
    const bool sends = opcode == scsi::op::ModeSelect6 || opcode == scsi::op::Write6;
    return sends ? aspi::Direction::Out : aspi::Direction::In;
}

RingReply RunOnDrive(aspi::Backend& bus, std::uint8_t adapter, std::uint8_t target, RingCommand& command)
{
    aspi::ExecRequest request;
    request.adapter = adapter;
    request.target = target;
    request.cdb = command.cdb.data();
    request.cdbLen = static_cast<std::uint8_t>(std::min<std::size_t>(command.cdb.size(), 16));
    request.direction = DataDirection(command.cdb.empty() ? 0xFF : command.cdb[0], command.data.size());
    request.data = command.data.empty() ? nullptr : command.data.data();
    request.dataLen = static_cast<std::uint32_t>(command.data.size());
    // Data-in room starts clear, so nothing the initiator sent can be read back as an answer.
    if (request.direction == aspi::Direction::In)
        std::fill(command.data.begin(), command.data.end(), 0);

    const aspi::ExecResult result = bus.execute(request);
    RingReply reply;
    reply.dataIn = request.direction == aspi::Direction::In;
    reply.transferred = reply.dataIn ? std::min(result.transferred, request.dataLen) : 0;
    if (result.srbStatus == SS_COMP) {
        reply.status = scsi::status::Good;
    } else if (result.srbStatus == SS_ERR && result.targStat != scsi::status::Good) {
        reply.status = result.targStat;
        reply.sense.assign(result.sense, result.sense + result.senseLen);
    } else {
        reply.status = scsi::status::CheckCondition;
        std::uint8_t sense[32] = {};
        const std::size_t n = scsi::BuildFixedSense(sense, scsi::key::AbortedCommand, scsi::Asc{0, 0}, std::nullopt);
        reply.sense.assign(sense, sense + n);
        reply.transferred = 0;
    }
    return reply;
}

}  // namespace sim::tcmu
