#include "tape/lock_limits.h"

#include "platform/aspi/scsi_codes.h"
#include "transport/basic_text.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

constexpr std::uint8_t kPreventAllowOpcode = scsi::op::PreventAllow;
constexpr std::array<std::uint8_t, 6> kReadBlockLimitsCdb{scsi::op::ReadBlockLimits, 0, 0, 0, 0, 0};

}  // namespace

bool PreventAllowRemoval(std::uint8_t adapter, std::uint8_t target, std::uint8_t prevent)
{
    const std::array<std::uint8_t, 6> cdb{kPreventAllowOpcode, 0, 0, 0, prevent, 0};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, cdb, nullptr, 0);
    SendAndWait(srb, nullptr);
    return LoadStatus(srb) == SS_COMP;
}

std::string ReadBlockLimits(std::uint8_t adapter, std::uint8_t target)
{
    std::array<std::uint8_t, 6> data{};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_IN, kReadBlockLimitsCdb, data.data(), data.size());
    SendAndWait(srb, data.data());
    return FormatBlockLimits(data);
}

std::string FormatBlockLimits(const std::array<std::uint8_t, 6>& data)
{
    const long long maximum = (data[1] << 16) | (data[2] << 8) | data[3];
    const long long minimum = (data[4] << 8) | data[5];
    // Each number carries its own sign space, which also parts them.
    return NumText(minimum) + NumText(maximum);
}
