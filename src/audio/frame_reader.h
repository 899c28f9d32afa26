// The frame read of playback and capture: one READ(6) of a whole DAT frame into FrameBuffer,
// what the outcome means for the stream, and the tape's own clock that keeps the stream in
// step with the tape when frames cannot be read.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dat/frame.h"
#include "dat/subcode_state.h"
#include "tape/eject_read.h"
#include "tape/frame.h"

// Receives each frame read; after a failed read it holds what the drive left there.
extern std::array<std::uint8_t, kFrameBytes> FrameBuffer;

enum class FrameStatus {
    Audio,        // FrameBuffer holds the next frame
    Concealed,    // as Audio, but the drive interpolated one or both channels
    Unreadable,   // this frame could not be read (MEDIUM ERROR, a recovered error without data)
    EndOfTape,    // the end of the recorded area (BLANK CHECK, lead-out): no more audio
    NoTape,       // NOT READY: the tape was taken out, or is not ready; the rest is not read
    WrongMedium,  // a data tape or the drive not in audio mode: nothing here is audio
    DriveLost,    // no device, or a transport or host error
    Timeout,      // the READ did not end within its time
    LongPlay,     // a long-play frame (12-bit or 4 channels), which nothing here may decode
};

struct FrameRead {
    FrameStatus status = FrameStatus::Audio;
    ReadOutcome outcome;  // the READ itself: why it failed, when it did
    dat::Frame frame;     // the decoded subcode (Audio, Concealed, LongPlay, EndOfTape by lead-out)
    // Audio or Concealed: frames lost before this one (each stands as silence of the tape's
    // rate), and whether this frame repeats one already delivered (not to be used again).
    std::uint32_t missingBefore = 0;
    bool repeat = false;
    // Audio bytes of the frame at its rate (5760, 5292 or 3840).
    std::size_t audioBytes() const { return frame.mainId.AudioBytesPerFrame(); }
};

// Absolute-time ranges of frames, as "00:12:03.17-00:12:03.21" for a report.
struct FrameRanges {
    std::uint64_t count = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // frame indices; -1 when unknown
    void add(std::int64_t first, std::int64_t last);
    std::string text() const;  // the ranges, comma-separated; "" when none
};

// What one pass of reading (a playback or a capture) met, for its summary.
struct ReadReport {
    std::uint32_t sampleRate = 0;  // of the first audio frame; 0 before one
    bool emphasis = false;
    std::string rateText;          // "48 KHz", "44.1 KHz", "32 KHz LP"
    std::set<unsigned> programs;
    std::optional<dat::TimeCode> firstTime, lastTime;  // absolute times of the frames delivered
    std::uint64_t frames = 0;      // audio frames delivered (concealed included, inserted silence not)
    FrameRanges unreadable;        // frames lost, by the tape's clock (or by failed reads)
    FrameRanges concealed;
    std::uint32_t consecutiveFailures = 0;  // failed reads since the last good frame
};

// Starts a pass: the tape's clock and the report begin anew.
void BeginFramePass();
// Reads the next frame from the selected drive into FrameBuffer and classifies it.
FrameRead ReadNextFrame();
// The pass so far.
const ReadReport& FramePassReport();
// The absolute time of the last frame delivered, as "h:mm:ss" ("-:--:--" before one).
std::string LastFrameTimeText();

// How many failed reads in a row end a pass (default 100, about 3 seconds of tape).
void SetMaxBadFrames(std::uint32_t frames);
std::uint32_t MaxBadFrames();

// The messages that end a pass for `status` (WrongMedium, NoTape, DriveLost, Timeout, LongPlay, or
// too many failed reads when `tooMany`).
std::string PassEndMessage(const FrameRead& read, bool tooMany = false);
// "Errors: 3 unreadable frames (00:00:01.02-00:00:01.04), 5 concealed frames (...)." or "".
std::string ErrorSummary(const ReadReport& report);
