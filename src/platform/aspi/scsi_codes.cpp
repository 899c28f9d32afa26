#include "platform/aspi/scsi_codes.h"

#include <cstdio>

namespace scsi {
namespace {

struct Command {
    std::uint8_t opcode;
    const char* name;
    bool longRunning;
};

constexpr Command kCommands[] = {
    {op::TestUnitReady, "TEST UNIT READY", false},
    {op::Rewind, "REWIND", true},
    {op::RequestSense, "REQUEST SENSE", false},
    {op::FormatMedium, "FORMAT MEDIUM", true},
    {op::ReadBlockLimits, "READ BLOCK LIMITS", false},
    {op::Read6, "READ(6)", false},
    {op::Write6, "WRITE(6)", false},
    {op::WriteFilemarks6, "WRITE FILEMARKS(6)", false},
    {op::Space6, "SPACE(6)", true},
    {op::Inquiry, "INQUIRY", false},
    {op::ModeSelect6, "MODE SELECT(6)", false},
    {op::Erase6, "ERASE(6)", true},
    {op::ModeSense6, "MODE SENSE(6)", false},
    {op::LoadUnload, "LOAD UNLOAD", true},
    {op::PreventAllow, "PREVENT ALLOW MEDIUM REMOVAL", false},
    {op::Locate10, "LOCATE(10)", true},
    {op::ReadPosition, "READ POSITION", false},
    {op::Space16, "SPACE(16)", true},
    {op::Locate16, "LOCATE(16)", true},
};

constexpr const char* kSenseKeys[16] = {
    "NO SENSE",        "RECOVERED ERROR", "NOT READY",       "MEDIUM ERROR",
    "HARDWARE ERROR",  "ILLEGAL REQUEST", "UNIT ATTENTION",  "DATA PROTECT",
    "BLANK CHECK",     "VENDOR SPECIFIC", "COPY ABORTED",    "ABORTED COMMAND",
    "EQUAL",           "VOLUME OVERFLOW", "MISCOMPARE",      "COMPLETED",
};

struct AscEntry {
    Asc code;
    const char* text;
};

constexpr AscEntry kAscs[] = {
    {asc::NoAdditionalSense, "no additional sense information"},
    {asc::EndOfDataDetected, "end of data detected"},
    {asc::BecomingReady, "logical unit is in process of becoming ready"},
    {asc::UnrecoveredReadError, "unrecovered read error"},
    {asc::ParameterListLengthError, "parameter list length error"},
    {asc::InvalidOpcode, "invalid command operation code"},
    {asc::InvalidFieldInCdb, "invalid field in CDB"},
    {asc::InvalidFieldInParameterList, "invalid field in parameter list"},
    {asc::MediumChanged, "not ready to ready change, medium may have changed"},
    {asc::PowerOnOrReset, "power on, reset, or bus device reset occurred"},
    {asc::IncompatibleMediumFormat, "cannot read medium - incompatible format"},
    {asc::MediumNotPresent, "medium not present"},
    {asc::MediumRemovalPrevented, "medium removal prevented"},
    {asc::OperatorRequest, "operator medium removal request"},
};

const Command* Find(std::uint8_t opcode)
{
    for (const Command& c : kCommands)
        if (c.opcode == opcode)
            return &c;
    return nullptr;
}

}  // namespace

std::string CommandName(std::uint8_t opcode)
{
    if (const Command* c = Find(opcode))
        return c->name;
    char text[24];
    std::snprintf(text, sizeof text, "command 0x%02X", opcode);
    return text;
}

bool IsLongTapeCommand(std::uint8_t opcode)
{
    const Command* c = Find(opcode);
    return c && c->longRunning;
}

unsigned CommandTimeoutMs(std::uint8_t opcode)
{
    return IsLongTapeCommand(opcode) ? kLongCommandTimeoutMs : kShortCommandTimeoutMs;
}

std::string SenseKeyText(std::uint8_t senseKey)
{
    if (senseKey < 16)
        return kSenseKeys[senseKey];
    char text[24];
    std::snprintf(text, sizeof text, "sense key 0x%X", senseKey);
    return text;
}

std::string AscText(Asc code)
{
    for (const AscEntry& e : kAscs)
        if (e.code == code)
            return e.text;
    char text[32];
    std::snprintf(text, sizeof text, "ASC/ASCQ 0x%02X/0x%02X", code.asc, code.ascq);
    return text;
}

}  // namespace scsi
