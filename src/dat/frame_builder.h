// Writing the subcode of a frame: the inverse of Decode(), used by the virtual drive and the
// tests so that what is written and what is read cannot drift apart.
//
//   dat::SubcodeWriter w(frame);  // clears the 62 subcode bytes, leaves the audio alone
//   w.SetMainId({.sampleRateHz = 44100});
//   w.AddTimePack(dat::PackItem::ProgramTime, program, 1, time);
//   w.SetSubId({.program = program, .start = true});  // pack count: the packs written so far
#pragma once

#include "dat/frame.h"

namespace dat {

struct MainIdFields {
    std::uint32_t sampleRateHz = 48000;  // 48000, 44100 or 32000; anything else: reserved code 3
    bool emphasis = false;
    bool fourChannels = false;
    bool nonLinear12 = false;  // long-play quantization
    bool wideTrackPitch = false;
    bool copyProhibited = false;
};

struct SubIdFields {
    ProgramNumber program = ProgramNumber::Of(1);
    bool start = false, skip = false, priority = false, toc = false;
    std::uint8_t dataId = 0;
    std::optional<std::uint8_t> packCount{};  // default: the packs written before SubId()
    bool leftConcealed = false, rightConcealed = false;
};

struct Date {
    unsigned year = 0;  // two digits
    unsigned month = 1, day = 1, hour = 0, minute = 0, second = 0;
    unsigned weekday = 0;  // 1 Sunday to 7 Saturday
};

// A calendar date and time, the year in full.
struct DateTime {
    int year = 2000;
    unsigned month = 1, day = 1, hour = 0, minute = 0, second = 0;

    friend bool operator==(const DateTime&, const DateTime&) = default;
};

// What a date pack says `seconds` after `start` (a recording's date advancing with its
// absolute time): the calendar carried over, the weekday worked out.
Date DateAfter(const DateTime& start, std::uint64_t seconds);

// The local time now, as a recording made now dates its tape.
DateTime LocalNow();

// The two bytes of a main ID.
void EncodeMainId(const MainIdFields& fields, std::uint8_t* out);

class SubcodeWriter {
public:
    // Zeroes the frame's 62 subcode bytes (an all-empty subcode, main ID 00 00); the audio
    // area is not touched.
    explicit SubcodeWriter(MutableFrameBytes frame);

    SubcodeWriter& SetMainId(const MainIdFields& fields);
    // Call after the packs when the count is to be the packs written.
    SubcodeWriter& SetSubId(const SubIdFields& fields);

    // Each pack goes into the next free slot of seven, with its parity byte; an eighth is dropped.
    // A program, absolute or running time pack (`flag`: professional running time); `index`
    // 0-99, and an invalid `time` is written as AA AA AA AA.
    SubcodeWriter& AddTimePack(PackItem item, const ProgramNumber& program, std::uint8_t index, const TimeCode& time,
                               bool flag = false);
    // A table-of-contents entry: where `program` starts.
    SubcodeWriter& AddTocPack(const ProgramNumber& program, std::uint8_t index, const TimeCode& start);
    SubcodeWriter& AddDatePack(const Date& date);
    // Catalog number or ISRC: the nibble and six bytes after the item nibble, as given.
    SubcodeWriter& AddCodePack(PackItem item, const std::array<std::uint8_t, 7>& raw);

    // Packs written so far (0-7).
    std::size_t PacksWritten() const { return packs_; }

private:
    std::uint8_t* nextPack();

    std::uint8_t* frame_;
    std::size_t packs_ = 0;
};

}  // namespace dat
