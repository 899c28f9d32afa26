// Start-up and drive discovery: ASPIInitialize, HostAdapterInquiry and Main.
#pragma once

#include <cstdint>
#include <functional>

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
