#include "transport/srb.h"

#include <algorithm>
#include <cstring>

void FillExecRecord(SRB_ExecSCSICmd& srb, std::uint8_t adapter, std::uint8_t target, std::uint8_t flags,
                    std::span<const std::uint8_t> cdb, void* buffer, std::uint32_t bufLen)
{
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Flags = flags;
    srb.SRB_Lun = 0;
    if (bufLen > 0 && buffer) {
        srb.SRB_BufLen = bufLen;
        srb.SRB_BufPointer = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer));
    } else {
        srb.SRB_BufLen = 0;
        srb.SRB_BufPointer = 1;
    }
    srb.SRB_SenseLen = kExecSenseLen;
    const std::size_t n = std::min<std::size_t>(cdb.size(), sizeof srb.CDBByte);
    srb.SRB_CDBLen = static_cast<std::uint8_t>(n);
    srb.SRB_PostProc = 1;
    std::memcpy(srb.CDBByte, cdb.data(), n);
}

DeviceTypeAnswer GetDeviceType(std::uint8_t adapter, std::uint8_t target)
{
    SRB_GDEVBlock srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_GET_DEV_TYPE;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Lun = 0;
    DeviceTypeAnswer answer;
    answer.status = SendASPI32Command(&srb);
    answer.deviceType = srb.SRB_DeviceType;
    return answer;
}
