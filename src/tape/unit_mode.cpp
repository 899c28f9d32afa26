#include "tape/unit_mode.h"

#include <string>

#include "platform/aspi/sense.h"
#include "platform/ui/message_box.h"
#include "transport/basic_text.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

constexpr std::array<std::uint8_t, 6> kTestUnitReadyCdb{scsi::op::TestUnitReady, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 6> kModeSelectCdb{scsi::op::ModeSelect6, 0, 0, 0, 12, 0};  // PF, SP clear
constexpr std::array<std::uint8_t, 6> kModeSenseCdb{scsi::op::ModeSense6, 0, 0, 0, 12, 0};   // page 0, current values

constexpr std::size_t kDensityByte = 4;

const std::string kTurError = "Error in TestUnitReady function: ";

std::int32_t Unexpected(const std::string& what)
{
    ui::ShowMessage(kTurError + what);
    return kTurOther;
}

std::int32_t NotReady(scsi::Asc code)
{
    switch (code.asc) {
    case scsi::asc::NotReadyFamily:
        return code == scsi::asc::BecomingReady ? kTurBecomingReady : Unexpected("Unit not ready ASCQ.");
    case scsi::asc::MediumNotPresent.asc:
    case scsi::asc::OperatorRequestFamily:
        return kTurNoTape;
    default:
        return Unexpected("Unit not ready ASC.");
    }
}

std::int32_t UnitAttention(scsi::Asc code)
{
    switch (code.asc) {
    case scsi::asc::MediumChanged.asc:
        return kTurMediumChanged;
    case scsi::asc::PowerOnOrReset.asc:
        return kTurReset;
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

std::int32_t TestUnitReady(std::uint8_t adapter, std::uint8_t target)
{
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, 0, kTestUnitReadyCdb, nullptr, 0);
    SendAndWait(srb, nullptr);

    const std::uint8_t status = LoadStatus(srb);
    if (status == SS_COMP)
        return kTurReady;
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

bool ModeSelect(std::uint8_t adapter, std::uint8_t target, const ModeParameterList& list)
{
    ModeParameterList out = list;  // the record's buffer is writable; the caller's list is not
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_OUT, kModeSelectCdb, out.data(), out.size());
    SendAndWait(srb, out.data());

    const std::uint8_t status = LoadStatus(srb);
    if (status == SS_COMP)
        return true;
    if (status != SS_ERR)
        ui::ShowMessage("Undefined error in ModeSelect procedure.");
    return false;
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

bool SelectAudioMode(std::uint8_t adapter, std::uint8_t target)
{
    return ModeSelect(adapter, target, kAudioModeList);
}

bool SelectDensity(std::uint8_t adapter, std::uint8_t target, std::uint8_t density)
{
    return ModeSelect(adapter, target, ListWithDensity(density));
}
