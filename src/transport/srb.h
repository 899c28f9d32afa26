// Building execute records: the one way every command routine fills its request block.
#pragma once

#include <cstdint>
#include <span>

#include "platform/aspi/aspi.h"

// Zeroes `srb` and fills it for one command: adapter and target, the direction flags
// (0, SRB_DIR_IN or SRB_DIR_OUT), the CDB (6 to 16 bytes; the rest stays 0), and the data
// buffer: `bufLen` bytes at `buffer`, or with `bufLen` 0 no data (SRB_BufPointer 1).
// SRB_BufPointer keeps only the low 32 bits of the address; the real address travels beside
// the record (SendAndWait). SRB_SenseLen is 14 and SRB_PostProc 1, whatever the command.
void FillExecRecord(SRB_ExecSCSICmd& srb, std::uint8_t adapter, std::uint8_t target, std::uint8_t flags,
                    std::span<const std::uint8_t> cdb, void* buffer, std::uint32_t bufLen);

inline constexpr std::uint8_t kExecSenseLen = 14;

// One get-device-type request for LUN 0 of `target` on `adapter`: the manager's status
// (SS_COMP, SS_NO_DEVICE, SS_INVALID_HA, ...) and, with SS_COMP, the peripheral device type.
struct DeviceTypeAnswer {
    std::uint32_t status = 0;
    std::uint8_t deviceType = 0;
};
DeviceTypeAnswer GetDeviceType(std::uint8_t adapter, std::uint8_t target);
