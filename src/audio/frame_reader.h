// The frame read of every pass over the tape (playback, capture, Play and Save, the archive,
// the deck's seek): one READ(6) of a whole DAT frame, what the outcome means for the stream,
// when the pass must end, and the tape's own clock that keeps the stream in step with the
// tape when frames cannot be read. Nothing else reads the drive's frames.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "dat/audio_format.h"
#include "dat/frame.h"
#include "dat/nonlinear.h"
#include "dat/subcode_state.h"
#include "tape/eject_read.h"

enum class FrameStatus {
    Audio,        // the next frame, with its bytes
    Concealed,    // as Audio, but the drive interpolated one or both channels
    Unreadable,   // this frame could not be read (MEDIUM ERROR, a recovered error without data): read on
    EndOfTape,    // the end of the recorded area (BLANK CHECK, lead-out): no more audio
    NoTape,       // NOT READY: the tape was taken out, or is not ready; the rest is not read
    WrongMedium,  // a data tape or the drive not in audio mode: nothing here is audio
    DriveLost,    // no device, or a transport or host error
    Timeout,      // the READ did not end within its time
    Unsupported,  // a main ID no deck records (a reserved rate or coding): nothing here is audio
    TooManyBad,   // the limit of failed reads in a row was reached: the pass ends here
};

// One READ of the pass, with the bytes it brought.
struct FrameRead {
    FrameStatus status = FrameStatus::Audio;
    ReadOutcome outcome;  // the READ itself: why it failed, when it did
    dat::Frame frame;     // the decoded subcode (Audio, Concealed, Unsupported, EndOfTape by lead-out)
    std::optional<dat::AudioFormat> format;  // Audio and Concealed: what the audio area holds
    // The frame as the drive delivered it (Audio, Concealed, Unsupported, EndOfTape by
    // lead-out); after a failed read, what the drive left there.
    std::array<std::uint8_t, dat::kFrameBytes> bytes{};
    // A 12-bit frame's samples decoded to 16-bit linear in the tape's layout (Audio, Concealed).
    std::array<std::int16_t, dat::kNonLinearSamples> pcm{};
    // Audio or Concealed: frames lost before this one (each stands as silence of the tape's
    // rate), and whether this frame repeats one already delivered (not to be used again).
    // EndOfTape: frames lost just before the end.
    std::uint32_t missingBefore = 0;
    bool repeat = false;
    std::string message;  // why the pass ends, for every status that ends it

    // A new frame of audio to use.
    bool Delivered() const { return (status == FrameStatus::Audio || status == FrameStatus::Concealed) && !repeat; }
    // The pass cannot go on: `message` says why.
    bool Failed() const
    {
        return status != FrameStatus::Audio && status != FrameStatus::Concealed && status != FrameStatus::Unreadable &&
               status != FrameStatus::EndOfTape;
    }
    // The sound of a delivered frame as 16-bit linear PCM, least significant byte first: the
    // drive's bytes, or the decoded samples of a 12-bit frame.
    std::size_t AudioBytes() const { return format ? format->PcmBytes() : 0; }
    const std::uint8_t* Audio() const
    {
        return format && format->NonLinear() ? reinterpret_cast<const std::uint8_t*>(pcm.data()) : bytes.data();
    }
};

// Absolute-time ranges of frames, as "00:12:03.17-00:12:03.21" for a report.
struct FrameRanges {
    std::uint64_t count = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // frame indices; -1 when unknown
    // `step`: time-code frames from one tape frame to the next.
    void add(std::int64_t first, std::int64_t last, unsigned step = 1);
    std::string text() const;  // the ranges, comma-separated; "" when none
};

// How a tape's 12-bit frames are unpacked: found from the sound, or set by --lp-layout.
struct LayoutChoice {
    dat::NonLinearLayout layout = dat::NonLinearLayout::A;
    bool forced = false;     // set by --lp-layout
    bool clear = false;      // found: the best well ahead of the second best
    double ratio = 0;        // found: second best's roughness over the best's (0: nothing heard)
    std::size_t frames = 0;  // found: the non-silent frames that voted

    // "a (found: 27.4 times smoother than the next best, 16 frames)", "a (not clear: ...)",
    // "b (set by --lp-layout)".
    std::string Text() const;
};

// What one pass of reading (a playback or a capture) met, for its summary.
struct ReadReport {
    std::uint32_t sampleRate = 0;  // of the first audio frame; 0 before one
    std::optional<dat::AudioFormat> format;  // of the first audio frame
    std::optional<LayoutChoice> layout;      // a tape of 12-bit frames: how they were unpacked
    // Time-code frames one tape frame advances, measured from frames read one after the other
    // (1 in standard play; 1 or 2 in long play); 0 before two such frames.
    unsigned timeStep = 0;
    bool emphasis = false;
    std::string rateText;          // "48 KHz", "44.1 KHz", "32 KHz LP"
    std::set<unsigned> programs;
    std::optional<dat::TimeCode> firstTime, lastTime;  // absolute times of the frames delivered
    std::uint64_t frames = 0;      // audio frames delivered (concealed included, inserted silence not)
    FrameRanges unreadable;        // frames lost, by the tape's clock (or by failed reads)
    FrameRanges concealed;
    std::uint32_t consecutiveFailures = 0;  // failed reads since the last good frame
};

// Starts a pass: the tape's clock and the report begin anew. Frames read ahead and not
// handed on are dropped (the pass starts where the tape now stands).
void BeginFramePass();

// The layout of 12-bit frames: `layout` for every tape (--lp-layout), or nullopt to find it
// from each tape's sound. The first 12-bit frames of a pass are held back until the sound
// has decided (kLayoutVoteFrames non-silent frames, or kLayoutHoldFrames frames at most), so
// that every sample handed on is decoded the one way; the choice then holds for the tape.
void SetNonLinearLayout(std::optional<dat::NonLinearLayout> layout);
inline constexpr std::size_t kLayoutVoteFrames = 16;
inline constexpr std::size_t kLayoutHoldFrames = 200;  // 12 s of long play
// A new tape: its layout is found again.
void ForgetTapeLayout();
// The tape's layout, once decided.
std::optional<LayoutChoice> TapeLayout();
// Reads the next frame from the selected drive and classifies it: what the pass learns of
// it, the bad-frame limit and the refusals are decided here, and nowhere else.
FrameRead ReadNextFrame();
// Reads one frame and classifies it without counting it in the pass (the frames a seek
// reads past to stand at a frame within a second); a 12-bit frame is decoded in the tape's
// layout, or `a` before one is known.
FrameRead ReadFrameOutsidePass();
// The pass so far.
const ReadReport& FramePassReport();
// The absolute time of the last frame delivered, as "h:mm:ss" ("-:--:--" before one).
std::string LastFrameTimeText();
// The absolute frame index after the last frame delivered: where failed reads since then
// began. None before a frame with a time.
std::optional<std::int64_t> FirstBadFrameIndex();
// The caller moved the tape on within the pass (a locate past damage): frames read ahead are
// dropped, the count of failed reads in a row starts again, and the next frame delivered
// counts the frames passed over by the tape's clock.
void FramePassMoved();

// How many failed reads in a row end a pass (default 100, about 3 seconds of tape).
void SetMaxBadFrames(std::uint32_t frames);
std::uint32_t MaxBadFrames();

// "Errors: 3 unreadable frames (00:00:01.02-00:00:01.04), 5 concealed frames (...)." or "".
std::string ErrorSummary(const ReadReport& report);
