// One DAT audio frame as an audio-capable drive delivers it: 5760 bytes of audio, seven
// 8-byte subcode packs, a 4-byte sub ID and a 2-byte main ID. Decode() reads what the subcode
// says; any 5822 bytes give a result (fields that make no sense are marked not valid).
//
//   const dat::Frame f = dat::Decode(std::span<const std::uint8_t, dat::kFrameBytes>(bytes, 5822));
//   f.mainId.RateText();                  // "44.1 KHz"
//   if (f.absoluteTime) FormatHms(f.absoluteTime->time);
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "dat/time_code.h"

namespace dat {

inline constexpr std::size_t kFrameBytes = 5822;
inline constexpr std::size_t kAudioAreaBytes = 5760;
inline constexpr std::size_t kPackCount = 7;
inline constexpr std::size_t kPackBytes = 8;
inline constexpr std::size_t kPacksOffset = 5760;
inline constexpr std::size_t kSubIdOffset = 5816;
inline constexpr std::size_t kMainIdOffset = 5820;

using FrameBytes = std::span<const std::uint8_t, kFrameBytes>;
using MutableFrameBytes = std::span<std::uint8_t, kFrameBytes>;

enum class Quantization : std::uint8_t { Linear16, NonLinear12, Unknown };

struct MainId {
    std::uint8_t format = 0;        // 0 audio
    std::uint8_t emphasisCode = 0;  // 0 none, 1 50/15 us, others reserved
    std::uint8_t rateCode = 0;      // 0 48 kHz, 1 44.1 kHz, 2 32 kHz, 3 reserved
    std::uint8_t channelCode = 0;   // 0 two, 1 four, others reserved
    std::uint8_t quantizationCode = 0;
    std::uint8_t trackPitchCode = 0;  // 0 normal, 1 wide
    std::uint8_t copyCode = 0;        // 0 permitted, 2 prohibited
    std::uint8_t packCode = 0;

    bool Emphasis() const { return emphasisCode == 1; }
    // 48000, 44100 or 32000; 0 when the code is reserved.
    std::uint32_t SampleRateHz() const;
    // 2 or 4; 0 when the code is reserved.
    unsigned Channels() const;
    Quantization QuantizationKind() const;
    bool WideTrackPitch() const { return trackPitchCode == 1; }
    bool CopyProhibited() const { return copyCode == 2; }
    // 12-bit non-linear samples or four channels.
    bool IsLongPlay() const;
    // "48 KHz", "44.1 KHz", "32 KHz", "-- KHz" for a reserved code; " LP" added for long play.
    std::string RateText() const;

    friend bool operator==(const MainId&, const MainId&) = default;
};

// A program number as three digits say it: a number 0-799, the lead-in (0 B B), the lead-out
// (0 E E), or not valid (any other digits, such as 0xA "not currently valid").
struct ProgramNumber {
    enum class Kind : std::uint8_t { Number, LeadIn, LeadOut, Invalid };
    Kind kind = Kind::Invalid;
    std::uint16_t number = 0;                   // for Kind::Number
    std::array<std::uint8_t, 3> digits{0xA, 0xA, 0xA};  // hundreds, tens, units as read

    static ProgramNumber FromDigits(std::uint8_t hundreds, std::uint8_t tens, std::uint8_t units);
    static ProgramNumber Of(unsigned number);  // 0-799; larger numbers give Invalid
    static ProgramNumber LeadIn() { return FromDigits(0, 0xB, 0xB); }
    static ProgramNumber LeadOut() { return FromDigits(0, 0xE, 0xE); }
    bool IsNumber() const { return kind == Kind::Number; }

    friend bool operator==(const ProgramNumber&, const ProgramNumber&) = default;
};

struct SubId {
    bool toc = false, skip = false, start = false, priority = false;  // control ID flags
    std::uint8_t dataId = 0;  // 0 audio
    ProgramNumber program;
    std::uint8_t packCount = 0;  // packs in use, as the sub ID says (0-15)
    std::uint8_t interpolation = 0;  // the raw byte
    bool leftConcealed = false;   // 0x40
    bool rightConcealed = false;  // 0x20
};

enum class PackItem : std::uint8_t {
    Empty = 0,
    ProgramTime = 1,
    AbsoluteTime = 2,
    RunningTime = 3,
    Toc = 4,
    Date = 5,
    Catalog = 6,
    Isrc = 7,
    ProBinary = 8,
};

// A program, absolute or running time pack.
struct TimePack {
    ProgramNumber program;
    bool flag = false;  // on a running time pack: professional running time
    std::optional<std::uint8_t> index;  // 0-99; nullopt when its digits are not decimal
    TimeCode time;

    friend bool operator==(const TimePack&, const TimePack&) = default;
};

// A table-of-contents entry: a program and where it starts (the time code of the pack).
struct TocEntry {
    ProgramNumber program;
    std::optional<std::uint8_t> index;
    TimeCode start;

    friend bool operator==(const TocEntry&, const TocEntry&) = default;
};

struct DatePack {
    unsigned weekday = 0;  // 1 Sunday to 7 Saturday; 0 when out of range
    unsigned year = 0;     // two digits, as recorded
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool valid = false;    // every field decimal and in range (the weekday aside)

    friend bool operator==(const DatePack&, const DatePack&) = default;
};

// Catalog number and ISRC packs: the 52 bits after the item nibble, as recorded, and the
// digits they spell when every nibble is decimal. How an ISRC's letters are coded is not
// documented, so only the raw bits are given for it.
struct CodePack {
    std::array<std::uint8_t, 7> raw{};  // byte 0 low nibble, then bytes 1-6
    std::string digits;                 // 13 decimal digits, or empty

    friend bool operator==(const CodePack&, const CodePack&) = default;
};

struct Frame {
    MainId mainId;
    SubId subId;
    // The packs of this frame; a kind that appears twice keeps the later pack.
    std::optional<TimePack> programTime, absoluteTime, runningTime;
    std::optional<DatePack> date;
    std::optional<CodePack> catalog, isrc;
    std::array<TocEntry, kPackCount> toc{};
    std::size_t tocCount = 0;
};

Frame Decode(FrameBytes frame);
// nullopt unless `data` holds exactly kFrameBytes bytes.
std::optional<Frame> Decode(const std::uint8_t* data, std::size_t size);

MainId DecodeMainId(const std::uint8_t* mainId);
SubId DecodeSubId(const std::uint8_t* subId);

}  // namespace dat
