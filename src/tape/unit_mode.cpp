#include "tape/unit_mode.h"

#include <string>

#include "platform/aspi/sense.h"
#include "transport/basic_text.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

constexpr std::array<std::uint8_t, 6> kTestUnitReadyCdb{scsi::op::TestUnitReady, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 6> kModeSelectCdb{scsi::op::ModeSelect6, 0, 0, 0, 12, 0};  // PF, SP clear
constexpr std::array<std::uint8_t, 6> kModeSenseCdb{scsi::op::ModeSense6, 0, 0, 0, 12, 0};   // page 0, current values

constexpr std::size_t kDensityByte = 4;

const std::string kTurError = "Error in TestUnitReady function: ";

UnitReadiness Readiness(std::int32_t code) { return UnitReadiness{code, {}}; }

UnitReadiness Unexpected(const std::string& what) { return UnitReadiness{kTurOther, kTurError + what}; }

UnitReadiness NotReady(scsi::Asc code)
{
    switch (code.asc) {
    case scsi::asc::NotReadyFamily:
        return code == scsi::asc::BecomingReady ? Readiness(kTurBecomingReady) : Unexpected("Unit not ready ASCQ.");
    case scsi::asc::MediumNotPresent.asc:
    case scsi::asc::OperatorRequestFamily:
        return Readiness(kTurNoTape);
    default:
        return Unexpected("Unit not ready ASC.");
    }
}

UnitReadiness UnitAttention(scsi::Asc code)
{
    switch (code.asc) {
    case scsi::asc::MediumChanged.asc:
        return Readiness(kTurMediumChanged);
    case scsi::asc::PowerOnOrReset.asc:
        return Readiness(kTurReset);
    default:
        return Unexpected("Unit Attention ASC=" + NumText(code.asc) + ".");
    }
}

ModeParameterList ListWithDensity(std::uint8_t density)
{
    ModeParameterList list = kAudioModeList;
    list[kDensityByte] = density;
    return list;
}

}  // namespace

UnitReadiness CheckUnitReady(std::uint8_t adapter, std::uint8_t target)
{
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, kTestUnitReadyCdb, nullptr, 0);
    SendAndWait(srb, nullptr);

    const std::uint8_t status = LoadStatus(srb);
    if (status == SS_COMP)
        return Readiness(kTurReady);
    if (status != SS_ERR)
        return Unexpected("SRB Command status=" + NumText(status) + ".");
    // The whole byte: a set filemark, EOM or ILI flag is reported, not taken for the key.
    const scsi::Sense sense = scsi::DecodeSense(srb.SenseArea, sizeof srb.SenseArea);
    if (sense.keyByte == scsi::key::NotReady)
        return NotReady(sense.code);
    if (sense.keyByte == scsi::key::UnitAttention)
        return UnitAttention(sense.code);
    return Unexpected("Sense Key=" + NumText(sense.keyByte) + ".");
}

Status TryModeSelect(std::uint8_t adapter, std::uint8_t target, const ModeParameterList& list)
{
    ModeParameterList out = list;  // the record's buffer is writable; the caller's list is not
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_OUT, kModeSelectCdb, out.data(), out.size());
    SendAndWait(srb, out.data());

    const std::uint8_t status = LoadStatus(srb);
    if (status == SS_COMP)
        return Status::Ok();
    return Status::Error(status == SS_ERR ? std::string() : std::string("Undefined error in ModeSelect procedure."));
}

void ModeSense(std::uint8_t adapter, std::uint8_t target, ModeParameterList& buffer)
{
    // Read aside so that a failed command leaves the caller's buffer as it was.
    ModeParameterList in{};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_IN, kModeSenseCdb, in.data(), in.size());
    SendAndWait(srb, in.data());
    if (LoadStatus(srb) == SS_COMP)
        buffer = in;
}

std::uint8_t GetDensityCode(std::uint8_t adapter, std::uint8_t target)
{
    ModeParameterList data{};
    ModeSense(adapter, target, data);
    return data[kDensityByte];
}

Status TrySelectAudioMode(std::uint8_t adapter, std::uint8_t target)
{
    return TryModeSelect(adapter, target, kAudioModeList);
}

Status TrySelectDensity(std::uint8_t adapter, std::uint8_t target, std::uint8_t density)
{
    return TryModeSelect(adapter, target, ListWithDensity(density));
}
