// Positioning by DAT address: LOCATE(10) with the BT bit, and REWIND.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::uint8_t kLocateProgram = 0;
inline constexpr std::uint8_t kLocateAbsoluteTime = 1;

// Packed BCD of 0..99. Above 99: its message box and 0. Negative: refused with a message, 0.
std::uint8_t ConvertToBCD(std::int32_t n);
// LOCATE to a program number (type 0, digits sent as they are) or a time (types 1-3, BCD).
// A type above 3 or a negative value is refused with a message and nothing is sent. True when
// the drive reports the locate done; any other outcome shows a message saying what happened
// (the sense, a timeout with its limit, or "Locate aborted ok." for a genuine abort).
bool LocateTape(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                std::int32_t a2, std::int32_t a3);
// What a locate came to, for callers that word the failure themselves.
struct LocateOutcome {
    bool done = false;
    bool notFound = false;  // BLANK CHECK: the address is not on the tape (it stops at the end of data)
    std::string message;    // the text LocateTape would show; empty when done
};
// LocateTape without any message: the outcome says what happened.
LocateOutcome TryLocateTape(std::uint8_t adapter, std::uint8_t target, std::uint8_t locateType, std::int32_t a1,
                            std::int32_t a2, std::int32_t a3);
void RewindTape(std::uint8_t adapter, std::uint8_t target);
