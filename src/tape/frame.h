// The DAT audio frame as the drive delivers it in audio mode: 5760 bytes of audio, then
// seven subcode packs, the sub ID and the main ID (5822 bytes in all).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kFrameBytes = 5822;
inline constexpr std::size_t kFrameAudioBytes = 5760;
inline constexpr std::size_t kSubIdOffset = 5816;

// The program number of a frame from its sub ID: hundreds, tens and units digits.
struct ProgramDigits {
    std::uint8_t hundreds, tens, units;
};

inline ProgramDigits FrameProgramNumber(const std::uint8_t* frame)
{
    const std::uint8_t* sid = frame + kSubIdOffset;
    return {static_cast<std::uint8_t>(sid[1] >> 4), static_cast<std::uint8_t>(sid[2] >> 4),
            static_cast<std::uint8_t>(sid[2] & 0x0F)};
}

// The lead-out after the last recording carries program number 0EE.
inline bool IsLeadOutFrame(const std::uint8_t* frame)
{
    const ProgramDigits p = FrameProgramNumber(frame);
    return p.hundreds == 0 && p.tens == 0xE && p.units == 0xE;
}
