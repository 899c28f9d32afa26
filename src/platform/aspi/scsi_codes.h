// The SCSI codes the program and its virtual drive use, in one table: operation codes, sense
// keys and the additional sense codes in use, with the texts that messages and the trace
// show for them.
#pragma once

#include <cstdint>
#include <string>

namespace scsi {

// Operation codes: sequential-access commands and the primary commands a tape drive receives.
namespace op {
inline constexpr std::uint8_t TestUnitReady = 0x00;
inline constexpr std::uint8_t Rewind = 0x01;
inline constexpr std::uint8_t RequestSense = 0x03;
inline constexpr std::uint8_t FormatMedium = 0x04;
inline constexpr std::uint8_t ReadBlockLimits = 0x05;
inline constexpr std::uint8_t Read6 = 0x08;
inline constexpr std::uint8_t Write6 = 0x0A;
inline constexpr std::uint8_t WriteFilemarks6 = 0x10;
inline constexpr std::uint8_t Space6 = 0x11;
inline constexpr std::uint8_t Inquiry = 0x12;
inline constexpr std::uint8_t ModeSelect6 = 0x15;
inline constexpr std::uint8_t Erase6 = 0x19;
inline constexpr std::uint8_t ModeSense6 = 0x1A;
inline constexpr std::uint8_t LoadUnload = 0x1B;
inline constexpr std::uint8_t PreventAllow = 0x1E;
inline constexpr std::uint8_t Locate10 = 0x2B;
inline constexpr std::uint8_t ReadPosition = 0x34;
inline constexpr std::uint8_t Space16 = 0x91;
inline constexpr std::uint8_t Locate16 = 0x92;
}  // namespace op

// Target status bytes.
namespace status {
inline constexpr std::uint8_t Good = 0x00;
inline constexpr std::uint8_t CheckCondition = 0x02;
}  // namespace status

// Host statuses the Linux SCSI midlayer reports (SRB_HaStat on this platform).
namespace host {
inline constexpr std::uint8_t Ok = 0x00;
inline constexpr std::uint8_t NoConnect = 0x01;  // DID_NO_CONNECT: the device is gone
inline constexpr std::uint8_t TimedOut = 0x03;   // DID_TIME_OUT: the command's time ran out
}  // namespace host

// Sense keys (the low nibble of byte 2 of fixed-format sense).
namespace key {
inline constexpr std::uint8_t NoSense = 0x0;
inline constexpr std::uint8_t RecoveredError = 0x1;
inline constexpr std::uint8_t NotReady = 0x2;
inline constexpr std::uint8_t MediumError = 0x3;
inline constexpr std::uint8_t HardwareError = 0x4;
inline constexpr std::uint8_t IllegalRequest = 0x5;
inline constexpr std::uint8_t UnitAttention = 0x6;
inline constexpr std::uint8_t DataProtect = 0x7;
inline constexpr std::uint8_t BlankCheck = 0x8;
inline constexpr std::uint8_t AbortedCommand = 0xB;
inline constexpr std::uint8_t VolumeOverflow = 0xD;
}  // namespace key

// An additional sense code with its qualifier.
struct Asc {
    std::uint8_t asc;
    std::uint8_t ascq;
    friend constexpr bool operator==(Asc, Asc) = default;
};

namespace asc {
inline constexpr Asc NoAdditionalSense{0x00, 0x00};
inline constexpr Asc EndOfPartition{0x00, 0x02};
inline constexpr Asc EndOfDataDetected{0x00, 0x05};
inline constexpr Asc BecomingReady{0x04, 0x01};  // family 0x04: logical unit not ready
inline constexpr Asc WriteError{0x0C, 0x00};
inline constexpr Asc UnrecoveredReadError{0x11, 0x00};
inline constexpr Asc ParameterListLengthError{0x1A, 0x00};
inline constexpr Asc InvalidOpcode{0x20, 0x00};
inline constexpr Asc InvalidFieldInCdb{0x24, 0x00};
inline constexpr Asc InvalidFieldInParameterList{0x26, 0x00};
inline constexpr Asc WriteProtected{0x27, 0x00};
inline constexpr Asc MediumChanged{0x28, 0x00};
inline constexpr Asc PowerOnOrReset{0x29, 0x00};
inline constexpr Asc IncompatibleMediumFormat{0x30, 0x02};
inline constexpr Asc MediumNotPresent{0x3A, 0x00};
inline constexpr Asc MediumRemovalPrevented{0x53, 0x02};
inline constexpr Asc OperatorRequest{0x5A, 0x01};  // family 0x5A: operator request or state change

// The ASC bytes whose whole family matters, whatever the qualifier.
inline constexpr std::uint8_t NotReadyFamily = 0x04;
inline constexpr std::uint8_t IncompatibleMediumFamily = 0x30;
inline constexpr std::uint8_t OperatorRequestFamily = 0x5A;
}  // namespace asc

// "REWIND", "MODE SELECT(6)", ...; "command 0xNN" for an opcode not in the table.
std::string CommandName(std::uint8_t opcode);
// Whether the command may move the tape over its whole length (locate, rewind, space,
// load/unload, erase, format): those get the long timeout.
bool IsLongTapeCommand(std::uint8_t opcode);
// How long a command may take before the host gives up on it: an hour for the commands that
// may move the tape over its whole length, a minute for READ and WRITE (and commands not in
// the table), 15 s for the commands that do not move the tape, so that one unresponsive
// device does not hold discovery for minutes.
inline constexpr unsigned kLongCommandTimeoutMs = 60u * 60u * 1000u;
inline constexpr unsigned kDataCommandTimeoutMs = 60u * 1000u;
inline constexpr unsigned kQuickCommandTimeoutMs = 15u * 1000u;
unsigned CommandTimeoutMs(std::uint8_t opcode);
// "NOT READY", "MEDIUM ERROR", ...; "sense key 0xN" for a value not in the table.
std::string SenseKeyText(std::uint8_t senseKey);
// "medium not present", ...; "ASC/ASCQ 0xNN/0xNN" for a pair not in the table.
std::string AscText(Asc code);

}  // namespace scsi
