// Positioning by DAT address: LOCATE(10) with the BT bit, and REWIND.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/io/result.h"

inline constexpr std::uint8_t kLocateProgram = 0;
inline constexpr std::uint8_t kLocateAbsoluteTime = 1;

// Packed BCD of 0..99; otherwise the text that says why not (a locate then sends 0).
Result<std::uint8_t> ConvertToBCD(std::int32_t n);

// LOCATE(10) to a program number (type 0, digits sent as they are) or a time (types 1-3, BCD),
// before it goes out. A type above 3 or a negative value is refused: nothing is to be sent.
// A time field above 99 goes out as 0, with a note that the user is told before the command.
struct LocateCommand {
    std::array<std::uint8_t, 10> cdb{};
    std::string refusal;             // non-empty: refused, nothing to send
    std::vector<std::string> notes;  // to tell before the command goes out
};
LocateCommand PrepareLocate(std::uint8_t locateType, std::int32_t a1, std::int32_t a2, std::int32_t a3);

// What a locate came to.
struct LocateOutcome {
    bool done = false;
    bool notFound = false;  // BLANK CHECK: the address is not on the tape (it stops at the end of data)
    // Why it is not done, for the user: the refusal, the sense, a timeout with its limit, or
    // "Locate aborted ok." for a genuine abort. Empty when done.
    std::string message;
};
// Sends a prepared locate (a refused one is not sent: its refusal is the message).
LocateOutcome SendLocate(std::uint8_t adapter, std::uint8_t target, const LocateCommand& command);
// PrepareLocate and SendLocate for callers that have no notes to tell (program numbers, and
// times that come from the tape itself).
LocateOutcome TryLocateTape(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                            std::int32_t a2, std::int32_t a3);
void RewindTape(std::uint8_t adapter, std::uint8_t target);
// REWIND that says why it did not complete (the sense, or the status).
Status TryRewindTape(std::uint8_t adapter, std::uint8_t target);
