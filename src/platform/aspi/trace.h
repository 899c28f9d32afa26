// The request trace (--scsi-trace): one line per request, written with a single write() and
// so whole even when the process is killed. Formats:
//   A:T EXEC <CDB> flags=XX len=N status=S [out=..|in=..] [sense=..] t=MS
//   A HA_INQUIRY status=S t=MS
//   A:T GET_DEV_TYPE status=S type=N t=MS
#pragma once

#include <cstdint>
#include <string>

#include "platform/aspi/aspi.h"

namespace aspi {

// Upper-case two-digit hex bytes separated by single spaces.
std::string HexBytes(const std::uint8_t* data, std::size_t len);

// The line for a completed execute record; `data` is the caller's buffer, `transferred`
// the bytes the device moved. No trailing newline.
std::string FormatExecTrace(const SRB_ExecSCSICmd& srb, const std::uint8_t* data,
                            std::uint32_t transferred, long long ms);
std::string FormatInquiryTrace(std::uint8_t adapter, std::uint8_t status, long long ms);
std::string FormatDevTypeTrace(std::uint8_t adapter, std::uint8_t target, std::uint8_t status,
                               std::uint8_t type, long long ms);

}  // namespace aspi
