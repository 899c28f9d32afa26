// Names of the SCSI commands the program sends, for messages that name the failed step.
#pragma once

#include <cstdint>
#include <string>

namespace aspi {

// "REWIND", "MODE SELECT(6)", ...; "command 0xNN" for an opcode not in the table.
std::string CommandName(std::uint8_t opcode);

// Whether the command may move the tape over its whole length (locate, rewind, space,
// load/unload, erase, format): those get the long timeout.
bool IsLongTapeCommand(std::uint8_t opcode);

}  // namespace aspi
