#include "transport/drive_state.h"

std::uint8_t AspiAdapter = 0;
std::uint8_t AspiTarget = 0;
bool DriveFound = false;
std::array<AdapterInfo, 8> Adapters{};

void ResetDriveState()
{
    AspiAdapter = 0;
    AspiTarget = 0;
    DriveFound = false;
    Adapters = {};
}
