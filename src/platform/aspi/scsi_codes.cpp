#include "platform/aspi/scsi_codes.h"

#include <cstdio>

namespace scsi {
namespace {

// How long the host gives a command: commands that stay put answer within seconds, a READ
// or WRITE may have to wait for the tape to reach speed, and the rest may cross the whole
// tape.
enum class Span { Still, Moves, Crosses };

struct Command {
    std::uint8_t opcode;
    const char* name;
    Span span;
};

constexpr Command kCommands[] = {
    {op::TestUnitReady, "TEST UNIT READY", Span::Still},
    {op::Rewind, "REWIND", Span::Crosses},
    {op::RequestSense, "REQUEST SENSE", Span::Still},
    {op::FormatMedium, "FORMAT MEDIUM", Span::Crosses},
    {op::ReadBlockLimits, "READ BLOCK LIMITS", Span::Still},
    {op::Read6, "READ(6)", Span::Moves},
    {op::Write6, "WRITE(6)", Span::Moves},
    {op::WriteFilemarks6, "WRITE FILEMARKS(6)", Span::Moves},
    {op::Space6, "SPACE(6)", Span::Crosses},
    {op::Inquiry, "INQUIRY", Span::Still},
    {op::ModeSelect6, "MODE SELECT(6)", Span::Still},
    {op::Erase6, "ERASE(6)", Span::Crosses},
    {op::ModeSense6, "MODE SENSE(6)", Span::Still},
    {op::LoadUnload, "LOAD UNLOAD", Span::Crosses},
    {op::PreventAllow, "PREVENT ALLOW MEDIUM REMOVAL", Span::Still},
    {op::Locate10, "LOCATE(10)", Span::Crosses},
    {op::ReadPosition, "READ POSITION", Span::Still},
    {op::Space16, "SPACE(16)", Span::Crosses},
    {op::Locate16, "LOCATE(16)", Span::Crosses},
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
    {asc::EndOfPartition, "end-of-partition/medium detected"},
    {asc::EndOfDataDetected, "end of data detected"},
    {asc::BecomingReady, "logical unit is in process of becoming ready"},
    {asc::WriteError, "write error"},
    {asc::UnrecoveredReadError, "unrecovered read error"},
    {asc::ParameterListLengthError, "parameter list length error"},
    {asc::InvalidOpcode, "invalid command operation code"},
    {asc::InvalidFieldInCdb, "invalid field in CDB"},
    {asc::InvalidFieldInParameterList, "invalid field in parameter list"},
    {asc::WriteProtected, "write protected"},
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
    return c && c->span == Span::Crosses;
}

unsigned CommandTimeoutMs(std::uint8_t opcode)
{
    const Command* c = Find(opcode);
    if (!c)
        return kDataCommandTimeoutMs;  // unknown: as long as a READ, not an hour
    switch (c->span) {
    case Span::Still: return kQuickCommandTimeoutMs;
    case Span::Moves: return kDataCommandTimeoutMs;
    case Span::Crosses: return kLongCommandTimeoutMs;
    }
    return kDataCommandTimeoutMs;
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
