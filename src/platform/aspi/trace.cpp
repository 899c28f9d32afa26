#include "platform/aspi/trace.h"

#include <cstdio>

namespace aspi {

namespace {
constexpr std::uint32_t kMaxTracedData = 64;
}

std::string HexBytes(const std::uint8_t* data, std::size_t len)
{
    std::string out;
    out.reserve(len * 3);
    char b[4];
    for (std::size_t i = 0; i < len; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", data[i]);
        out += b;
    }
    return out;
}

std::string FormatExecTrace(const SRB_ExecSCSICmd& srb, const std::uint8_t* data,
                            std::uint32_t transferred, long long ms)
{
    char head[96];
    std::string line = std::to_string(srb.SRB_HaId) + ":" + std::to_string(srb.SRB_Target) + " EXEC ";
    line += HexBytes(srb.CDBByte, srb.SRB_CDBLen > 16 ? 16 : srb.SRB_CDBLen);
    std::snprintf(head, sizeof head, " flags=%02X len=%u status=%u", srb.SRB_Flags,
                  static_cast<unsigned>(srb.SRB_BufLen), static_cast<unsigned>(srb.SRB_Status));
    line += head;
    const std::uint32_t len = srb.SRB_BufLen;
    if (data && len > 0 && len <= kMaxTracedData) {
        if (srb.SRB_Flags & SRB_DIR_OUT)
            line += " out=" + HexBytes(data, len);
        else if ((srb.SRB_Flags & SRB_DIR_IN) && transferred > 0)
            line += " in=" + HexBytes(data, transferred < len ? transferred : len);
    }
    if (srb.SRB_Status == SS_ERR)
        line += " sense=" + HexBytes(srb.SenseArea, 14);
    line += " t=" + std::to_string(ms);
    return line;
}

std::string FormatInquiryTrace(std::uint8_t adapter, std::uint8_t status, long long ms)
{
    return std::to_string(adapter) + " HA_INQUIRY status=" + std::to_string(status) +
           " t=" + std::to_string(ms);
}

std::string FormatDevTypeTrace(std::uint8_t adapter, std::uint8_t target, std::uint8_t status,
                               std::uint8_t type, long long ms)
{
    return std::to_string(adapter) + ":" + std::to_string(target) +
           " GET_DEV_TYPE status=" + std::to_string(status) + " type=" + std::to_string(type) +
           " t=" + std::to_string(ms);
}

}  // namespace aspi
