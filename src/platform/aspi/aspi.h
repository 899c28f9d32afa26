// The ASPI-compatible manager "aspiwrap": request records and entry points.
//
// The records are byte-exact (little-endian, no padding) because the manager reads and
// writes them in place. Two entry points keep their classic meaning; the others are this
// layer's own additions for 64-bit Linux (see SendASPI32CommandWithBuffer).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "request records are little-endian");

// Request codes (SRB_Cmd).
inline constexpr std::uint8_t SC_HA_INQUIRY = 0;
inline constexpr std::uint8_t SC_GET_DEV_TYPE = 1;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 2;

// Status values (SRB_Status and the value SendASPI32Command returns).
inline constexpr std::uint8_t SS_PENDING = 0;
inline constexpr std::uint8_t SS_COMP = 1;
inline constexpr std::uint8_t SS_ABORTED = 2;
inline constexpr std::uint8_t SS_ERR = 4;
inline constexpr std::uint8_t SS_INVALID_HA = 0x81;   // 129
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;    // 130
inline constexpr std::uint8_t SS_INVALID_SRB = 0xE0;  // malformed request
inline constexpr std::uint8_t SS_FAILED_INIT = 0xE4;  // 228
inline constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;

// Direction flags (SRB_Flags of an execute record).
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;

inline constexpr std::uint8_t kSenseAreaLen = 16;

struct SRB_Header {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t HA_Count;
    std::uint8_t HA_SCSI_ID;
    std::uint8_t HA_ManagerId[16];
    std::uint8_t HA_Identifier[16];
    std::uint8_t HA_Unique[16];
    std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint8_t SRB_DeviceType;
    std::uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    std::uint8_t SRB_Cmd;
    std::uint8_t SRB_Status;
    std::uint8_t SRB_HaId;
    std::uint8_t SRB_Flags;
    std::uint32_t SRB_Hdr_Rsvd;
    std::uint8_t SRB_Target;
    std::uint8_t SRB_Lun;
    std::uint16_t SRB_Rsvd1;
    std::uint32_t SRB_BufLen;
    std::uint32_t SRB_BufPointer;  // low 32 bits of the buffer's address, 1 without data
    std::uint8_t SRB_SenseLen;
    std::uint8_t SRB_CDBLen;
    std::uint8_t SRB_HaStat;
    std::uint8_t SRB_TargStat;
    std::uint32_t SRB_PostProc;
    std::uint32_t SRB_Rsvd2;
    std::uint8_t SRB_Rsvd3[16];
    std::uint8_t CDBByte[16];
    std::uint8_t SenseArea[kSenseAreaLen];
};

static_assert(sizeof(SRB_Header) == 8);
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_SCSI_ID) == 9);
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10);
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(offsetof(SRB_HAInquiry, HA_Rsvd1) == 58);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10);
static_assert(sizeof(SRB_ExecSCSICmd) == 80);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd3) == 32);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);

extern "C" {

// Bits 8-15: manager status (SS_COMP when ready); bits 0-7: number of host adapters.
std::uint32_t GetASPI32SupportInfo(void);

// Inquiry and device-type records complete before the call returns; the result is their
// status. An execute record goes to the manager's worker thread and the call returns
// SS_PENDING at once; SRB_Status turns non-zero when the command has ended. An execute
// record that moves data must come through SendASPI32CommandWithBuffer, since a 64-bit
// address does not fit in SRB_BufPointer: here it is refused with SS_INVALID_SRB.
std::uint32_t SendASPI32Command(void* srb);

// Our entry point for execute records: `buffer` is the data buffer's real address (it must
// stay valid until SRB_Status is non-zero); SRB_BufPointer carries only its low 32 bits.
std::uint32_t SendASPI32CommandWithBuffer(void* srb, void* buffer);

// Called on the manager's worker thread after each execute record has completed (after
// SRB_Status was stored). Lets a waiting loop sleep until then. Hooks are added, never
// replaced: each one added stays until the id it got is removed, so one user cannot switch
// off another's wake-ups.
typedef void (*AspiCompletionHook)(void* context);
// Returns the hook's id (never 0).
int AspiAddCompletionHook(AspiCompletionHook hook, void* context);
void AspiRemoveCompletionHook(int id);

}  // extern "C"
