// Recording audio files onto a DAT cassette, frame by frame, and reading the tape back to
// prove it. Single-threaded and step-driven, so that a windowless loop or a window's timer
// can drive it:
//
//   std::string error;
//   std::optional<RecordPlan> plan = RecordPlan::FromFiles({"a.wav", "b.flac"}, settings, error);
//   TapeRecorder recorder(std::move(*plan));
//   if (std::string refusal = recorder.Prepare(overwrite); !refusal.empty()) ...nothing written...
//   while (recorder.Step()) { ...progress; recorder.Stop() on a user's stop... }
//   if (recorder.State() == RecordState::Done) {
//       recorder.BeginVerify();
//       while (recorder.VerifyStep()) ...progress...
//       recorder.Verification().Clean();
//   }
//
// The tape it writes: 100 frames of lead-in (program 0BB, time codes invalid), then one
// program per file (program numbers from 1, a start ID on its first frames, program time from
// 0, absolute and running time from 0 at the first program without a break, a date pack),
// then 300 frames of lead-out (program 0EE, time codes invalid), and nothing after it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/frame_reader.h"
#include "dat/frame_builder.h"

inline constexpr std::uint64_t kLeadInFrames = 100;
inline constexpr std::uint64_t kRecordLeadOutFrames = 300;
inline constexpr unsigned kMinStartIdSeconds = 9;

struct RecordSettings {
    bool emphasis = false;                         // the main ID says 50/15 us; the samples are written as given
    unsigned startIdSeconds = kMinStartIdSeconds;  // at least 9
    dat::DateTime date;                            // the date pack at absolute time 0
    double gapSeconds = 0;                         // silence at the end of every program but the last
};

struct PlannedProgram {
    std::string name;                                      // the file it comes from
    unsigned number = 1;                                   // 1, 2, 3...
    std::uint64_t pairs = 0;                               // stereo pairs of the source
    std::uint64_t firstFrame = 0;                          // on the tape, counted from its first frame (the lead-in's)
    std::uint64_t frames = 0;                              // its frames: the source, the gap, the last frame's padding
    std::shared_ptr<const std::vector<std::int16_t>> pcm;  // interleaved left, right
};

// What goes on the tape, worked out before the tape moves: every frame can be built from it,
// for writing and again for the comparison of the verify.
class RecordPlan {
public:
    // Reads every file through libsndfile (WAV/BWF, FLAC, AIFF) and checks it: one rate of
    // 48000, 44100 or 32000 Hz for all, 16-bit, one or two channels (one is written to both).
    // nullopt with `error` naming the file, what is wrong and the sox command that converts it.
    static std::optional<RecordPlan> FromFiles(const std::vector<std::string>& paths, const RecordSettings& settings,
                                               std::string& error);
    // Programs of interleaved stereo PCM at `rate` (48000, 44100 or 32000), for tests and the
    // bench. Empty programs are one frame of silence.
    static RecordPlan FromPcm(std::vector<std::vector<std::int16_t>> programs, std::uint32_t rate,
                              const RecordSettings& settings, std::vector<std::string> names = {});

    std::uint32_t Rate() const { return rate_; }
    const RecordSettings& Settings() const { return settings_; }
    const std::vector<PlannedProgram>& Programs() const { return programs_; }
    // Start ID frames at the start of each program.
    std::uint64_t StartIdFrames() const;
    // The first frame of the lead-out: after the last program, or where a stop ended them.
    std::uint64_t LeadOutStart() const { return leadOutStart_; }
    // Every frame to write, the lead-out's included.
    std::uint64_t FrameCount() const { return leadOutStart_ + kRecordLeadOutFrames; }
    // The programs' playing time in seconds (the recorded frames, gaps and padding included).
    double ProgramSeconds() const;
    // The lead-out begins at `frame` (a stop): the programs end there. Only moves it earlier.
    void EndProgramsAt(std::uint64_t frame);

    // Frame n < FrameCount() as it is to be on the tape.
    void BuildFrame(std::uint64_t n, std::uint8_t* out) const;
    // The program (0-based) frame n stands in; nullopt for the lead-in and lead-out.
    std::optional<std::size_t> ProgramAt(std::uint64_t n) const;
    // The absolute time of frame n (invalid in the lead-in and lead-out).
    dat::TimeCode AbsoluteTimeAt(std::uint64_t n) const;
    // "program 2 at 0:03:12", "the lead-in", "the lead-out".
    std::string PlaceText(std::uint64_t n) const;

private:
    RecordPlan() = default;
    void layOut();

    std::uint32_t rate_ = 48000;
    RecordSettings settings_;
    std::vector<PlannedProgram> programs_;
    std::uint64_t leadOutStart_ = kLeadInFrames;
};

// What the first frames of a tape hold, read before anything is written.
struct TapeContents {
    bool writeProtected = false;
    bool blank = false;
    bool dataTape = false;
    std::string description;  // "blank", "a data tape", "audio: program 1 from 0:00:00, 48 KHz, ..."
    std::string error;        // the drive could not be asked; nothing may be written
};

enum class RecordState { Ready, Writing, Done, Stopped, Failed };

// Where a recording or its verify stands, for a progress line or a window.
struct RecordProgress {
    bool verifying = false;
    std::string place;         // "program 2", "lead-in", "lead-out"
    dat::TimeCode absolute;    // of the last program frame written or read
    std::uint64_t frames = 0;  // written (or read back)
    std::uint64_t totalFrames = 0;
    std::uint64_t bytes = 0;  // written to the drive (or read back)
    double audioSeconds = 0;  // the sound of the frames so far
    std::uint64_t mismatches = 0;
    std::uint64_t unreadable = 0;
};

// What the read-back found.
struct Verification {
    bool finished = false;                                 // every written frame was looked at
    std::uint64_t frames = 0;                              // frames compared equal
    FrameRanges mismatched;                                // absolute-time ranges of program frames read back different
    FrameRanges unreadable;                                // and of those that could not be read
    std::uint64_t leadMismatched = 0, leadUnreadable = 0;  // lead-in and lead-out frames
    std::string message;                                   // why reading stopped before the end, when it did

    bool Clean() const
    {
        return finished && mismatched.count == 0 && unreadable.count == 0 && leadMismatched == 0 && leadUnreadable == 0;
    }
    // The summary's lines.
    std::vector<std::string> Lines() const;
};

class TapeRecorder {
public:
    explicit TapeRecorder(RecordPlan plan);

    const RecordPlan& Plan() const { return plan_; }
    // Audio mode (MODE SELECT), the write-protect flag (MODE SENSE), REWIND, the first frames
    // read, REWIND: what the cassette holds. Nothing is written.
    TapeContents Inspect();
    // Inspect, then the decision: empty when the tape may be written (blank, or `overwrite`),
    // else why not. After it the tape stands at its start.
    std::string Prepare(bool overwrite);

    // Writes the next frame. False once there is nothing more to write (Done, Stopped) or a
    // write failed (Failed: Message() says where and why; nothing more is written).
    bool Step();
    // Ends the programs after the frame under way; the lead-out follows. Any thread of the
    // program's own (a signal's handler run on it, a window's button).
    void Stop() { stopAsked_ = true; }
    RecordState State() const { return state_; }
    // The failure, or for a stop where it stopped.
    const std::string& Message() const { return message_; }
    // The absolute time of the last program frame written.
    dat::TimeCode ReachedTime() const { return reached_; }

    // Rewinds and starts reading the written frames back.
    void BeginVerify();
    // Reads and compares one frame; false once the verify is over (or stopped).
    bool VerifyStep();
    void StopVerify() { verifyStopAsked_ = true; }
    const Verification& Result() const { return verification_; }

    const RecordProgress& Progress() const { return progress_; }

private:
    void fail(const std::string& text);
    void compare(std::uint64_t n, const FrameRead& r);
    void lose(std::uint64_t first, std::uint64_t end);

    RecordPlan plan_;
    RecordState state_ = RecordState::Ready;
    std::uint64_t next_ = 0;
    bool stopAsked_ = false;
    bool stoppedEarly_ = false;  // the stop came before the programs' end
    bool verifyStopAsked_ = false;
    bool lostBefore_ = false;
    std::string message_;
    dat::TimeCode reached_;
    RecordProgress progress_;
    Verification verification_;
    std::vector<std::uint8_t> frame_;
};

// Two frames agree in what the verify compares: the audio the main ID says is sound, the main
// ID, the program number, the control IDs and the program, absolute and running time codes.
bool SameRecordedFrame(const std::uint8_t* written, const std::uint8_t* read);
