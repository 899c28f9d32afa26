#include "tape/eject_read.h"

#include <array>

#include "platform/aspi/scsi_codes.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

constexpr std::array<std::uint8_t, 6> kUnloadCdb{scsi::op::LoadUnload, 0, 0, 0, 0, 0};  // IMMED and LOAD clear
constexpr std::uint8_t kReadOpcode = scsi::op::Read6;                          // READ(6), FIXED clear
constexpr std::uint8_t kWriteOpcode = scsi::op::Write6;                        // WRITE(6), FIXED clear

std::array<std::uint8_t, 6> TransferCdb(std::uint8_t opcode, std::uint32_t n)
{
    return {
        opcode, 0, static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n),
        0};
}

}  // namespace

bool EjectTape(std::uint8_t adapter, std::uint8_t target)
{
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, kUnloadCdb, nullptr, 0);
    SendAndWait(srb, nullptr);
    return LoadStatus(srb) == SS_COMP;
}

ReadOutcome ReadTapeBlock(std::uint8_t adapter, std::uint8_t target, std::uint8_t* buffer, std::int32_t count)
{
    ReadOutcome outcome;
    if (count < 0 || count > kMaxReadBytes || (count > 0 && !buffer)) {
        outcome.refused = true;
        return outcome;
    }
    const auto n = static_cast<std::uint32_t>(count);
    const std::array<std::uint8_t, 6> cdb = TransferCdb(kReadOpcode, n);
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_IN, cdb, buffer, n);
    SendAndWait(srb, buffer);

    outcome.srbStatus = LoadStatus(srb);
    outcome.completed = outcome.srbStatus == SS_COMP;
    if (outcome.srbStatus == SS_ERR) {
        outcome.sense = scsi::DecodeSense(srb.SenseArea, sizeof srb.SenseArea);
    }
    return outcome;
}

WriteOutcome WriteTapeBlock(std::uint8_t adapter, std::uint8_t target, const std::uint8_t* buffer, std::int32_t count)
{
    WriteOutcome outcome;
    if (count <= 0 || count > kMaxReadBytes || !buffer) {
        outcome.refused = true;
        return outcome;
    }
    const auto n = static_cast<std::uint32_t>(count);
    SRB_ExecSCSICmd srb;
    // The record's buffer is not written through: data out only reads it.
    auto* data = const_cast<std::uint8_t*>(buffer);
    FillExecRecord(srb, adapter, target, SRB_DIR_OUT, TransferCdb(kWriteOpcode, n), data, n);
    SendAndWait(srb, data);

    outcome.srbStatus = LoadStatus(srb);
    outcome.completed = outcome.srbStatus == SS_COMP;
    if (outcome.srbStatus == SS_ERR)
        outcome.sense = scsi::DecodeSense(srb.SenseArea, sizeof srb.SenseArea);
    return outcome;
}
