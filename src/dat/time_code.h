// DAT time codes: hours, minutes, seconds and a frame count at 33 1/3 frames per second (100
// frames every three seconds: the frame field counts 0-32, or 0-33 in seconds s % 3 == 2).
//
//   dat::TimeCode t = dat::TimeCodeOfIndex(4321);        // 0:02:09 frame 22
//   std::optional<std::uint32_t> n = dat::IndexOfTimeCode(t);
//   dat::FormatHmsf(t);                                   // "00:02:09.22"
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dat {

inline constexpr std::uint32_t kFramesPerHour = 120000;
inline constexpr std::uint32_t kFramesPerMinute = 2000;
inline constexpr unsigned kMaxHours = 99;  // two BCD digits

struct TimeCode {
    unsigned h = 0, m = 0, s = 0, f = 0;
    bool valid = false;

    friend bool operator==(const TimeCode&, const TimeCode&) = default;
};

// True when the fields are in range: h <= 99, m, s <= 59, f <= 32 (33 when s % 3 == 2).
bool InRange(const TimeCode& t);
// The frame index from 0:00:00.00; nullopt when `t` is marked invalid or out of range.
std::optional<std::uint32_t> IndexOfTimeCode(const TimeCode& t);
// The time code of frame `index`; marked invalid beyond 99:59:59.
TimeCode TimeCodeOfIndex(std::uint64_t index);

// From four BCD bytes h m s f as a pack or READ POSITION holds them; invalid when a digit is
// not decimal (0xA is "not valid") or a field is out of range.
TimeCode TimeCodeFromBcd(const std::uint8_t* hmsf);
// Four BCD bytes; an invalid time code gives AA AA AA AA.
void TimeCodeToBcd(const TimeCode& t, std::uint8_t* hmsf);

// "h:mm:ss" (hours as few digits as needed), "-:--:--" when invalid.
std::string FormatHms(const TimeCode& t);
// "hh:mm:ss.ff", "--:--:--.--" when invalid.
std::string FormatHmsf(const TimeCode& t);

// A BCD byte's value 0-99, or -1 when a digit is above 9.
int FromBcd(std::uint8_t b);
// `v` (0-99) as BCD.
std::uint8_t ToBcd(unsigned v);

}  // namespace dat
