// LOAD UNLOAD (eject) and READ(6), the frame read.
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
