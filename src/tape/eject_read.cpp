#include "tape/eject_read.h"

#include <array>

#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

constexpr std::array<std::uint8_t, 6> kUnloadCdb{0x1B, 0, 0, 0, 0, 0};  // IMMED and LOAD clear
constexpr std::uint8_t kReadOpcode = 0x08;                                // READ(6), FIXED clear
constexpr std::uint8_t kSenseKeyMask = 0x0F;

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
    const std::array<std::uint8_t, 6> cdb{kReadOpcode,
                                          0,
                                          static_cast<std::uint8_t>(n >> 16),
                                          static_cast<std::uint8_t>(n >> 8),
                                          static_cast<std::uint8_t>(n),
                                          0};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_IN, cdb, buffer, n);
    SendAndWait(srb, buffer);

    outcome.srbStatus = LoadStatus(srb);
    outcome.completed = outcome.srbStatus == SS_COMP;
    if (outcome.srbStatus == SS_ERR) {
        outcome.senseKey = srb.SenseArea[2] & kSenseKeyMask;
        outcome.asc = srb.SenseArea[12];
        outcome.ascq = srb.SenseArea[13];
    }
    return outcome;
}
