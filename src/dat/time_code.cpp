#include "dat/time_code.h"

#include <cstdio>

namespace dat {

int FromBcd(std::uint8_t b)
{
    const int hi = b >> 4, lo = b & 0x0F;
    if (hi > 9 || lo > 9)
        return -1;
    return hi * 10 + lo;
}

std::uint8_t ToBcd(unsigned v)
{
    v %= 100;
    return static_cast<std::uint8_t>((v / 10) << 4 | (v % 10));
}

bool InRange(const TimeCode& t)
{
    const unsigned lastFrame = t.s % 3 == 2 ? 33 : 32;
    return t.h <= kMaxHours && t.m <= 59 && t.s <= 59 && t.f <= lastFrame;
}

std::optional<std::uint32_t> IndexOfTimeCode(const TimeCode& t)
{
    if (!t.valid || !InRange(t))
        return std::nullopt;
    return kFramesPerHour * t.h + kFramesPerMinute * t.m + 33 * t.s + t.s / 3 + t.f;
}

TimeCode TimeCodeOfIndex(std::uint64_t index)
{
    TimeCode t;
    if (index >= std::uint64_t{kFramesPerHour} * (kMaxHours + 1))
        return t;
    t.h = static_cast<unsigned>(index / kFramesPerHour);
    unsigned r = static_cast<unsigned>(index % kFramesPerHour);
    t.m = r / kFramesPerMinute;
    r %= kFramesPerMinute;
    // Each group of three seconds holds 33, 33 and 34 frames.
    const unsigned group = r / 100, q = r % 100;
    const unsigned s = q < 33 ? 0 : q < 66 ? 1 : 2;
    t.s = group * 3 + s;
    t.f = q - 33 * s;
    t.valid = true;
    return t;
}

TimeCode TimeCodeFromBcd(const std::uint8_t* hmsf)
{
    const int h = FromBcd(hmsf[0]), m = FromBcd(hmsf[1]), s = FromBcd(hmsf[2]), f = FromBcd(hmsf[3]);
    TimeCode t;
    if (h < 0 || m < 0 || s < 0 || f < 0)
        return t;
    t = {unsigned(h), unsigned(m), unsigned(s), unsigned(f), true};
    t.valid = InRange(t);
    return t;
}

void TimeCodeToBcd(const TimeCode& t, std::uint8_t* hmsf)
{
    if (!t.valid || !InRange(t)) {
        hmsf[0] = hmsf[1] = hmsf[2] = hmsf[3] = 0xAA;
        return;
    }
    hmsf[0] = ToBcd(t.h);
    hmsf[1] = ToBcd(t.m);
    hmsf[2] = ToBcd(t.s);
    hmsf[3] = ToBcd(t.f);
}

std::string FormatHms(const TimeCode& t)
{
    if (!t.valid || !InRange(t))
        return "-:--:--";
    char text[16];
    std::snprintf(text, sizeof text, "%u:%02u:%02u", t.h, t.m, t.s);
    return text;
}

std::string FormatHmsf(const TimeCode& t)
{
    if (!t.valid || !InRange(t))
        return "--:--:--.--";
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%02u", t.h, t.m, t.s, t.f);
    return text;
}

}  // namespace dat
