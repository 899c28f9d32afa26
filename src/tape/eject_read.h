// LOAD UNLOAD (eject), READ(6), the frame read, and WRITE(6), the frame write.
#pragma once

#include <cstdint>

#include "platform/aspi/sense.h"

// What one READ came to. `completed` is SRB_Status == SS_COMP; otherwise the buffer holds
// what it held before.
struct ReadOutcome {
    bool completed = false;
    bool refused = false;        // byte count outside 0..16777215: nothing was sent
    std::uint8_t srbStatus = 0;
    scsi::Sense sense;           // SS_ERR only
    // BLANK CHECK: the end of the recorded area.
    bool endOfData() const { return !completed && sense.key == scsi::key::BlankCheck; }
};

inline constexpr std::int32_t kMaxReadBytes = 16777215;

// True when the unload completed (the tape is out).
bool EjectTape(std::uint8_t adapter, std::uint8_t target);
// One variable-length READ of `count` bytes into `buffer` (which holds at least `count`).
ReadOutcome ReadTapeBlock(std::uint8_t adapter, std::uint8_t target, std::uint8_t* buffer, std::int32_t count);

// What one WRITE came to. `completed` is SRB_Status == SS_COMP.
struct WriteOutcome {
    bool completed = false;
    bool refused = false;  // byte count outside 1..16777215 or no buffer: nothing was sent
    std::uint8_t srbStatus = 0;
    scsi::Sense sense;  // SS_ERR only
    // DATA PROTECT: the cassette's write-protect tab is set.
    bool writeProtected() const { return !completed && sense.key == scsi::key::DataProtect; }
};

// One variable-length WRITE of `count` bytes from `buffer` (data out); one DAT frame is 5822.
WriteOutcome WriteTapeBlock(std::uint8_t adapter, std::uint8_t target, const std::uint8_t* buffer, std::int32_t count);
