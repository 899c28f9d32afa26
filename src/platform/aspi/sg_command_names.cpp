#include "platform/aspi/sg_command_names.h"

#include <cstdio>

namespace aspi {
namespace {

struct Entry {
    std::uint8_t opcode;
    const char* name;
    bool longRunning;
};

// Sequential-access commands (SSC) and the primary commands (SPC) a tape drive receives.
constexpr Entry kCommands[] = {
    {0x00, "TEST UNIT READY", false},
    {0x01, "REWIND", true},
    {0x03, "REQUEST SENSE", false},
    {0x04, "FORMAT MEDIUM", true},
    {0x05, "READ BLOCK LIMITS", false},
    {0x08, "READ(6)", false},
    {0x0A, "WRITE(6)", false},
    {0x10, "WRITE FILEMARKS(6)", false},
    {0x11, "SPACE(6)", true},
    {0x12, "INQUIRY", false},
    {0x15, "MODE SELECT(6)", false},
    {0x19, "ERASE(6)", true},
    {0x1A, "MODE SENSE(6)", false},
    {0x1B, "LOAD UNLOAD", true},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL", false},
    {0x2B, "LOCATE(10)", true},
    {0x34, "READ POSITION", false},
    {0x91, "SPACE(16)", true},
    {0x92, "LOCATE(16)", true},
};

}  // namespace

std::string CommandName(std::uint8_t opcode)
{
    for (const Entry& e : kCommands)
        if (e.opcode == opcode)
            return e.name;
    char text[24];
    std::snprintf(text, sizeof text, "command 0x%02X", opcode);
    return text;
}

bool IsLongTapeCommand(std::uint8_t opcode)
{
    for (const Entry& e : kCommands)
        if (e.opcode == opcode)
            return e.longRunning;
    return false;
}

}  // namespace aspi
