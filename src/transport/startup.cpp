#include "transport/startup.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/aspi/aspi.h"
#include "platform/ui/message_box.h"
#include "transport/basic_text.h"
#include "transport/drive_state.h"
#include "transport/result_codes.h"
#include "transport/srb.h"

namespace {

constexpr std::int32_t kMaxAdapters = static_cast<std::int32_t>(std::tuple_size_v<decltype(Adapters)>);
constexpr std::size_t kTargetCountByte = 3;  // of HA_Unique
constexpr std::uint8_t kTapeDevice = 1;      // sequential access
constexpr int kProbeAttempts = 4;
constexpr int kExitFailure = 1;

struct StartupState {
    std::function<void()> presenter;
    ProbeCommands probe;
    std::int32_t inquired = 0;
    bool ended = false;  // a fatal message has ended the program (its handler may return)
};

StartupState& State()
{
    static StartupState s;
    return s;
}

void EndWith(const std::string& message)
{
    State().ended = true;
    ui::ShowMessage(message);
    ui::EndProgram(kExitFailure);
}

void Record(std::uint8_t adapter, std::int32_t target, std::uint8_t entry)
{
    Adapters[adapter].DeviceTypes[static_cast<std::size_t>(target)] = entry;
}

// At most four attempts, one after the other; the last drive that passes is the one kept.
void ProbeTapeDevice(std::uint8_t adapter, std::uint8_t target)
{
    const ProbeCommands& p = State().probe;
    if (!p.testUnitReady || !p.getDensityCode || !p.selectAudioMode || !p.selectDensity)
        return;
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        const std::int32_t u = p.testUnitReady(adapter, target);
        if (u != kTurReady && u != kTurNoTape)  // no tape: the mode commands still work
            continue;
        const std::uint8_t density = p.getDensityCode(adapter, target);
        if (!p.selectAudioMode(adapter, target))
            continue;
        p.selectDensity(adapter, target, density);  // back to what it was; result not needed
        AspiAdapter = adapter;
        AspiTarget = target;
        DriveFound = true;
        return;
    }
}

// Asks for the device type at one target; false when the program has ended.
bool ExamineTarget(std::uint8_t adapter, std::int32_t target)
{
    const DeviceTypeAnswer answer = GetDeviceType(adapter, static_cast<std::uint8_t>(target));
    switch (answer.status) {
    case SS_COMP:
        Record(adapter, target, answer.deviceType);
        if (answer.deviceType == kTapeDevice)
            ProbeTapeDevice(adapter, static_cast<std::uint8_t>(target));
        return true;
    case SS_NO_DEVICE:
        Record(adapter, target, kNoDeviceEntry);
        return true;
    case SS_INVALID_HA:
        EndWith("Invalid Host Adapter number in sub Main.");
        return false;
    default:
        EndWith("Undefined AspiStatus in sub Main.");
        return false;
    }
}

// Every target the adapter reports, in ascending order; false when the program has ended.
bool ScanTargets(std::uint8_t adapter)
{
    const AdapterInfo& info = Adapters[adapter];
    for (std::int32_t t = 0; t < info.TargetCount; ++t) {
        if (t == info.ScsiId)
            Record(adapter, t, kAdapterEntry);  // the adapter itself: no request
        else if (!ExamineTarget(adapter, t))
            return false;
    }
    return true;
}

// Inquires and scans one adapter; false when the program has ended.
bool ScanAdapter(std::uint8_t adapter)
{
    switch (HostAdapterInquiry(adapter)) {
    case kInquiryOk:
        ++State().inquired;
        return IsAtapiIdentifier(Adapters[adapter].Identifier) || ScanTargets(adapter);
    case kInquiryInvalidAdapter:
        EndWith("Invalid Host Adapter number in sub Main.");
        return false;
    default:
        EndWith("Undefined value returned from HostAdapterInquiry function in sub Main.");
        return false;
    }
}

}  // namespace

std::uint8_t HiByte(std::uint32_t v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t LoByte(std::uint32_t v) { return static_cast<std::uint8_t>(v); }

std::int32_t ASPIInitialize()
{
    const std::uint32_t v = GetASPI32SupportInfo();
    const std::uint8_t status = HiByte(v);
    if (status == SS_COMP)
        return LoByte(v);
    if (status != SS_FAILED_INIT)
        EndWith("ASPIInitialize:ASPIStatus=" + HexText(v) + "H");
    return 0;
}

std::int32_t HostAdapterInquiry(std::uint8_t& adapter)
{
    // The table has no entry beyond adapter 7: such a number counts as invalid.
    if (adapter >= kMaxAdapters)
        return kInquiryInvalidAdapter;
    SRB_HAInquiry srb;
    std::memset(&srb, 0, sizeof srb);
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = adapter;
    const std::uint32_t r = SendASPI32Command(&srb);
    if (r == SS_INVALID_HA)
        return kInquiryInvalidAdapter;
    if (r != SS_COMP)
        return kInquiryUndefined;

    AdapterInfo& info = Adapters[adapter];
    info.ScsiId = srb.HA_SCSI_ID;
    const auto* id = reinterpret_cast<const char*>(srb.HA_Identifier);
    // Up to the first NUL; without one, all sixteen characters.
    info.Identifier.assign(id, strnlen(id, sizeof srb.HA_Identifier));
    info.TargetCount = srb.HA_Unique[kTargetCountByte];
    // No targets leaves nothing to scan; MaxTarget must not wrap round to 255.
    info.MaxTarget = info.TargetCount > 0 ? static_cast<std::uint8_t>(info.TargetCount - 1) : 0;
    return kInquiryOk;
}

void Main()
{
    State().ended = false;
    State().inquired = 0;
    const std::int32_t n = ASPIInitialize();
    if (State().ended)
        return;
    if (n == 0) {
        EndWith("Could not initialize ASPI Manager (WNASPI32.DLL). Program will terminate.");
        return;
    }
    const std::int32_t scanned = std::min(n, kMaxAdapters);
    for (std::int32_t a = 0; a < scanned; ++a) {
        if (!ScanAdapter(static_cast<std::uint8_t>(a)))
            return;
    }
    if (!DriveFound) {
        EndWith("An audio-capable tape drive was not found. Program will exit.");
        return;
    }
    if (State().presenter)
        State().presenter();
}

void SetDeckPresenter(std::function<void()> presenter) { State().presenter = std::move(presenter); }

void SetProbeCommands(const ProbeCommands& commands) { State().probe = commands; }

std::int32_t InquiredAdapterCount() { return State().inquired; }

bool IsAtapiIdentifier(const std::string& identifier)
{
    std::string upper = identifier;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find("ATAPI") != std::string::npos;
}
