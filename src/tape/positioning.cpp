#include "tape/positioning.h"

#include <array>
#include <string>

#include "platform/aspi/sense.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

constexpr std::uint8_t kLocateOpcode = scsi::op::Locate10;
constexpr std::uint8_t kLocateBlockAddressType = 0x04;  // BT: the drive's own audio addresses
constexpr std::uint8_t kHighestLocateType = 3;
constexpr std::uint8_t kLocateTypeShift = 5;            // the type sits in the top three bits
constexpr std::int32_t kHighestAddressByte = 255;
constexpr std::int32_t kHighestBcd = 99;
constexpr std::array<std::uint8_t, 6> kRewindCdb{scsi::op::Rewind, 0, 0, 0, 0, 0};

bool AnyNegative(std::int32_t a1, std::int32_t a2, std::int32_t a3) { return a1 < 0 || a2 < 0 || a3 < 0; }

bool AnyAboveByte(std::int32_t a1, std::int32_t a2, std::int32_t a3)
{
    return a1 > kHighestAddressByte || a2 > kHighestAddressByte || a3 > kHighestAddressByte;
}

// Program digits go out as they are; times, packed BCD (0, with a note, when one cannot be).
std::uint8_t AddressByte(std::uint8_t locateType, std::int32_t value, std::vector<std::string>& notes)
{
    if (locateType == kLocateProgram)
        return static_cast<std::uint8_t>(value);
    const Result<std::uint8_t> bcd = ConvertToBCD(value);
    if (!bcd) {
        notes.push_back(bcd.error());
        return 0;
    }
    return *bcd;
}

}  // namespace

Result<std::uint8_t> ConvertToBCD(std::int32_t n)
{
    if (n < 0)
        return Result<std::uint8_t>::Error("Negative number cannot be converted to BCD. Must be 0 or more.");
    if (n > kHighestBcd)
        return Result<std::uint8_t>::Error("Number too long to convert to BCD. Must be 99 or less.");
    return static_cast<std::uint8_t>((n / 10) * 16 + n % 10);
}

LocateCommand PrepareLocate(std::uint8_t locateType, std::int32_t a1, std::int32_t a2, std::int32_t a3)
{
    LocateCommand command;
    if (locateType > kHighestLocateType) {
        command.refusal = "Wrong Locate Type specified.";
        return command;
    }
    // Times and program digits are never negative, and a digit above a byte would wrap into
    // another address: refuse both before anything moves the tape.
    if (AnyNegative(a1, a2, a3) || (locateType == kLocateProgram && AnyAboveByte(a1, a2, a3))) {
        command.refusal = "Locate address out of range. Nothing was sent.";
        return command;
    }
    // The fields in order, so that their notes come in order.
    const std::uint8_t b1 = AddressByte(locateType, a1, command.notes);
    const std::uint8_t b2 = AddressByte(locateType, a2, command.notes);
    const std::uint8_t b3 = AddressByte(locateType, a3, command.notes);
    command.cdb = {kLocateOpcode,
                   kLocateBlockAddressType,
                   0,
                   static_cast<std::uint8_t>(locateType << kLocateTypeShift),
                   b1,
                   b2,
                   b3,
                   0,
                   0,
                   0};
    return command;
}

LocateOutcome SendLocate(std::uint8_t adapter, std::uint8_t target, const LocateCommand& command)
{
    LocateOutcome out;
    if (!command.refusal.empty()) {
        out.message = command.refusal;
        return out;
    }
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, command.cdb, nullptr, 0);
    SendAndWait(srb, nullptr);
    const std::uint8_t status = LoadStatus(srb);
    if (status == SS_COMP) {
        out.done = true;
        return out;
    }
    const scsi::Sense sense = scsi::DecodeSense(srb.SenseArea, sizeof srb.SenseArea);
    if (status == SS_ABORTED && srb.SRB_HaStat == scsi::host::TimedOut)
        out.message = "Locate timed out: the drive did not finish within its time limit of " +
                      std::to_string(scsi::CommandTimeoutMs(kLocateOpcode) / 1000) + " seconds.";
    else if (status == SS_ABORTED)
        out.message = "Locate aborted ok.";
    else if (status == SS_ERR && sense.present)
        out.message = "Locate failed: " + sense.text() + ".";
    else
        out.message = "Locate failed: the drive did not answer (status " + std::to_string(status) + ").";
    out.notFound = status == SS_ERR && sense.present && sense.key == scsi::key::BlankCheck;
    return out;
}

LocateOutcome TryLocateTape(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                            std::int32_t a2, std::int32_t a3)
{
    return SendLocate(adapter, target, PrepareLocate(locateType, a1, a2, a3));
}

void RewindTape(std::uint8_t adapter, std::uint8_t target)
{
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, kRewindCdb, nullptr, 0);
    SendAndWait(srb, nullptr);
}

Status TryRewindTape(std::uint8_t adapter, std::uint8_t target)
{
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, kRewindCdb, nullptr, 0);
    SendAndWait(srb, nullptr);
    const std::uint8_t status = LoadStatus(srb);
    if (status == SS_COMP)
        return Status::Ok();
    const scsi::Sense sense = scsi::DecodeSense(srb.SenseArea, sizeof srb.SenseArea);
    if (status == SS_ERR && sense.present)
        return Status::Error("Rewind failed: " + sense.text() + ".");
    return Status::Error("Rewind failed: the drive did not answer (status " + std::to_string(status) + ").");
}
