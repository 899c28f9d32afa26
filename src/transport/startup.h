// Start-up and drive discovery: ASPIInitialize, HostAdapterInquiry and Main.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

std::uint8_t HiByte(std::uint32_t v);
std::uint8_t LoByte(std::uint32_t v);

// The number of host adapters (0 when the manager failed to initialise); any other manager
// status shows its message and ends the program.
std::int32_t ASPIInitialize();
// 1 with Adapters[adapter] filled, 129 for SS_INVALID_HA, -99 otherwise.
std::int32_t HostAdapterInquiry(std::uint8_t& adapter);

// Start-up: initialise, inquire, scan, probe, select; a fatal condition shows its message
// and ends the program. Success hands over to the deck presenter.
void Main();

// What Main hands over to after a successful start-up (the deck window's presentation);
// nothing by default.
void SetDeckPresenter(std::function<void()> presenter);

// The four drive commands the probe of a tape device uses. They live in tape/, above this
// layer, so whoever runs Main hands them in: SetProbeCommands(AudioDriveProbe()) from
// "tape/drive_probe.h". Without them no tape device passes the probe.
struct ProbeCommands {
    std::int32_t (*testUnitReady)(std::uint8_t adapter, std::uint8_t target) = nullptr;
    std::uint8_t (*getDensityCode)(std::uint8_t adapter, std::uint8_t target) = nullptr;
    bool (*selectAudioMode)(std::uint8_t adapter, std::uint8_t target) = nullptr;
    bool (*selectDensity)(std::uint8_t adapter, std::uint8_t target, std::uint8_t density) = nullptr;
};
void SetProbeCommands(const ProbeCommands& commands);

// Asked between discovery's commands (and before each target): true ends Main at once,
// without a message, through ui::EndProgram(130). Empty: never.
void SetDiscoveryInterrupt(std::function<bool()> interrupted);

// Whether the probe tells a failure cause the backend knows (no permission, no sg module, no
// node, the device gone, no answer in time) as one message per cause, in place of its
// commands' own messages; true by default (the deck's boxes). The window-less modes turn it
// off: there the backend's own stderr line already said it.
void SetTellKnownCauses(bool tell);

// "adapter:target" of a tape device the last Main passed over because it was still becoming
// ready; empty when there was none.
std::string TapeDeviceBecomingReady();

// How many adapters the last Main inquired successfully, from adapter 0 on (0 to 8).
std::int32_t InquiredAdapterCount();
// True for an identifier that names an ATAPI adapter (any case); Main does not scan those.
bool IsAtapiIdentifier(const std::string& identifier);
