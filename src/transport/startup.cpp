#include "transport/startup.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

#include "platform/aspi/aspi.h"
#include "platform/aspi/backend.h"
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
constexpr int kExitInterrupted = 130;  // 128 + SIGINT, as a shell reports Ctrl-C

struct StartupState {
    std::function<void()> presenter;
    ProbeCommands probe;
    std::function<bool()> interrupted;
    bool tellCauses = true;
    std::int32_t inquired = 0;
    bool ended = false;  // a fatal message has ended the program (its handler may return)
    std::set<std::string> told;  // causes told during this Main
    std::string becomingReady;   // "adapter:target" passed over while becoming ready
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

bool Interrupted()
{
    return State().interrupted && State().interrupted();
}

// The user asked to stop: no message, the program ends at once.
void EndInterrupted()
{
    State().ended = true;
    ui::EndProgram(kExitInterrupted);
}

// Holds back the messages of the probe's commands while it decides whether they share one
// cause the backend knows: then that cause is told once instead of a box per attempt.
class HeldMessages {
public:
    HeldMessages() : previous_(ui::CurrentMessageSink()) { hold(); }
    ~HeldMessages() { ui::SetMessageSink(previous_); }
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;

    // Shows what was held.
    void flush()
    {
        std::vector<std::string> texts;
        texts.swap(held_);
        if (texts.empty())
            return;
        ui::SetMessageSink(previous_);
        for (const std::string& text : texts)
            ui::ShowMessage(text);
        hold();
    }

    // Drops what was held and shows `text` instead (nothing when it is empty).
    void replace(const std::string& text)
    {
        held_.clear();
        if (!text.empty())
            held_.push_back(text);
        flush();
    }

private:
    void hold()
    {
        ui::SetMessageSink([this](const std::string& text) { held_.push_back(text); });
    }

    ui::MessageSink previous_;
    std::vector<std::string> held_;
};

void Record(std::uint8_t adapter, std::int32_t target, std::uint8_t entry)
{
    Adapters[adapter].DeviceTypes[static_cast<std::size_t>(target)] = entry;
}

// At most four attempts, one after the other; the last drive that passes is the one kept.
// Stops early when the backend knows why the device cannot answer (every attempt would fail
// the same way) or when the user interrupts; false for the latter.
bool ProbeTapeDevice(std::uint8_t adapter, std::uint8_t target)
{
    const ProbeCommands& p = State().probe;
    if (!p.testUnitReady || !p.getDensityCode || !p.selectAudioMode || !p.selectDensity)
        return true;
    HeldMessages messages;
    // After each command: true when the probe of this device is over for a known cause.
    const auto knownCause = [&] {
        const std::string cause = aspi::KnownFailureCause(adapter, target);
        if (cause.empty()) {
            messages.flush();
            return false;
        }
        const bool tell = State().tellCauses && State().told.insert(cause).second;
        messages.replace(tell ? cause : std::string());
        return true;
    };
    std::int32_t last = kTurOther;
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        if (Interrupted())
            return false;
        last = p.testUnitReady(adapter, target);
        if (knownCause())
            break;
        if (last != kTurReady && last != kTurNoTape)  // no tape: the mode commands still work
            continue;
        if (Interrupted())
            return false;
        const std::uint8_t density = p.getDensityCode(adapter, target);
        if (knownCause())
            break;
        if (Interrupted())
            return false;
        const bool selected = p.selectAudioMode(adapter, target);
        if (knownCause())
            break;
        if (!selected)
            continue;
        if (Interrupted())
            return false;
        p.selectDensity(adapter, target, density);  // back to what it was; result not needed
        messages.flush();
        AspiAdapter = adapter;
        AspiTarget = target;
        DriveFound = true;
        return true;
    }
    if (last == kTurBecomingReady)
        State().becomingReady = std::to_string(adapter) + ":" + std::to_string(target);
    return true;
}

// Asks for the device type at one target; false when the program has ended.
bool ExamineTarget(std::uint8_t adapter, std::int32_t target)
{
    const DeviceTypeAnswer answer = GetDeviceType(adapter, static_cast<std::uint8_t>(target));
    switch (answer.status) {
    case SS_COMP:
        Record(adapter, target, answer.deviceType);
        if (answer.deviceType == kTapeDevice && !ProbeTapeDevice(adapter, static_cast<std::uint8_t>(target))) {
            EndInterrupted();
            return false;
        }
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
        if (Interrupted()) {
            EndInterrupted();
            return false;
        }
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
    State().told.clear();
    State().becomingReady.clear();
    const std::int32_t n = ASPIInitialize();
    if (State().ended)
        return;
    if (n == 0) {
        std::string text = "Could not initialize ASPI Manager (WNASPI32.DLL). Program will terminate.";
        if (const std::string hint = aspi::NoAdapterHint(); !hint.empty())
            text += "\n" + hint;
        EndWith(text);
        return;
    }
    const std::int32_t scanned = std::min(n, kMaxAdapters);
    for (std::int32_t a = 0; a < scanned; ++a) {
        if (!ScanAdapter(static_cast<std::uint8_t>(a)))
            return;
    }
    if (Interrupted()) {
        EndInterrupted();
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

void SetDiscoveryInterrupt(std::function<bool()> interrupted) { State().interrupted = std::move(interrupted); }

void SetTellKnownCauses(bool tell) { State().tellCauses = tell; }

std::string TapeDeviceBecomingReady() { return State().becomingReady; }

std::int32_t InquiredAdapterCount() { return State().inquired; }

bool IsAtapiIdentifier(const std::string& identifier)
{
    std::string upper = identifier;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find("ATAPI") != std::string::npos;
}
