#include "tape/positioning.h"

#include <array>
#include <string>

#include "platform/aspi/sense.h"
#include "platform/ui/message_box.h"
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

// Program digits go out as they are; times, packed BCD.
std::uint8_t AddressByte(std::uint8_t locateType, std::int32_t value)
{
    return locateType == kLocateProgram ? static_cast<std::uint8_t>(value) : ConvertToBCD(value);
}

}  // namespace

std::uint8_t ConvertToBCD(std::int32_t n)
{
    if (n < 0) {
        ui::ShowMessage("Negative number cannot be converted to BCD. Must be 0 or more.");
        return 0;
    }
    if (n > kHighestBcd) {
        ui::ShowMessage("Number too long to convert to BCD. Must be 99 or less.");
        return 0;
    }
    return static_cast<std::uint8_t>((n / 10) * 16 + n % 10);
}

LocateOutcome TryLocateTape(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                            std::int32_t a2, std::int32_t a3)
{
    LocateOutcome out;
    if (locateType > kHighestLocateType) {
        out.message = "Wrong Locate Type specified.";
        return out;
    }
    // Times and program digits are never negative, and a digit above a byte would wrap into
    // another address: refuse both before anything moves the tape.
    if (AnyNegative(a1, a2, a3) || (locateType == kLocateProgram && AnyAboveByte(a1, a2, a3))) {
        out.message = "Locate address out of range. Nothing was sent.";
        return out;
    }
    const std::array<std::uint8_t, 10> cdb{kLocateOpcode,
                                           kLocateBlockAddressType,
                                           0,
                                           static_cast<std::uint8_t>(locateType << kLocateTypeShift),
                                           AddressByte(locateType, a1),
                                           AddressByte(locateType, a2),
                                           AddressByte(locateType, a3),
                                           0,
                                           0,
                                           0};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, cdb, nullptr, 0);
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

bool LocateTape(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                std::int32_t a2, std::int32_t a3)
{
    const LocateOutcome out = TryLocateTape(adapter, target, locateType, a1, a2, a3);
    if (!out.done)
        ui::ShowMessage(out.message);
    return out.done;
}

void RewindTape(std::uint8_t adapter, std::uint8_t target)
{
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, kRewindCdb, nullptr, 0);
    SendAndWait(srb, nullptr);
}
