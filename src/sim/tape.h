// Tapes for the virtual drive: what a cassette holds, frame by frame.
//
//   auto tape = sim::MakePcmTape({programOne, programTwo});  // interleaved L/R, 48 kHz
//   std::vector<std::uint8_t> audio = sim::FrameAudio(*tape, 0);  // frame 0's audio area
//
// A tape made from PCM (or audio files, or the demo) starts at absolute time 00:00:00 with
// program 1; each program fills whole frames (its last frame padded with silence) and carries
// a start ID on its first 300 frames; after the last program come 300 frames of lead-out
// (program 0EE, time codes invalid), then blank tape. A frame dump is played as it stands.
// Programs may have different rates (48, 44.1 or 32 kHz): a frame holds the stereo pairs its
// rate's format gives (dat::StereoFormatAt), and the rest of its audio area is zero.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dat/nonlinear.h"

namespace sim {

inline constexpr std::uint32_t kStartIdFrames = 300;
inline constexpr std::uint32_t kLeadOutFrames = 300;
inline constexpr std::uint8_t kAudioDensity = 0x80;
inline constexpr std::uint8_t kDdsDensity = 0x13;  // DDS, 4 mm data tape

// Where a frame stands, as its subcode says. Digits and BCD bytes as the drive reports them
// in READ POSITION; 0xAA time bytes (digits 0xA) are "not valid".
struct FramePosition {
    std::uint8_t program[3] = {0, 0, 0};  // hundreds, tens, units digit; 0,0xE,0xE lead-out
    std::uint8_t index = 0;               // BCD
    std::uint8_t programTime[4] = {0xAA, 0xAA, 0xAA, 0xAA};  // h m s frame, BCD
    std::uint8_t absoluteTime[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    std::uint8_t runTime[4] = {0xAA, 0xAA, 0xAA, 0xAA};
};

class Tape {
public:
    virtual ~Tape() = default;
    // 0x80 for an audio tape, a DDS code for a data tape.
    virtual std::uint8_t density() const = 0;
    bool isAudio() const { return density() == kAudioDensity; }
    // Frames recorded (lead-out included); beyond them the tape is blank.
    virtual std::uint64_t frameCount() const = 0;
    // Writes the 5822 bytes of frame n < frameCount(). Thread-safe (tapes are immutable).
    virtual void readFrame(std::uint64_t n, std::uint8_t* out) const = 0;
    // The position frame n < frameCount() carries.
    virtual FramePosition position(std::uint64_t n) const = 0;
};

// The start of a recording, as the date pack gives it; later frames add their absolute time.
struct RecordingDate {
    int year = 2000;
    unsigned month = 1, day = 1, hour = 0, minute = 0, second = 0;

    friend bool operator==(const RecordingDate&, const RecordingDate&) = default;
};

// What a recorder writes besides the audio.
struct RecordingOptions {
    bool emphasis = false;  // the main ID's 50/15 us bit; the audio is written as given
    std::optional<RecordingDate> date;  // a date pack in every frame
    bool runningTime = true;  // the running-time pack (equal to the absolute time)
    // 12-bit non-linear recordings at 32 kHz: long play (two channels, 60 ms frames) or the
    // four-channel mode (30 ms frames); the source is compressed and packed in `lpLayout`.
    bool longPlay = false;
    unsigned channels = 2;  // 4: the four-channel mode
    dat::NonLinearLayout lpLayout = dat::NonLinearLayout::A;
    // Time-code frames a long-play frame advances: 1 (the counters run at half speed) or 2.
    unsigned lpTimeStep = 1;

    bool NonLinear() const { return longPlay || channels == 4; }

    friend bool operator==(const RecordingOptions&, const RecordingOptions&) = default;
};

// 48000, 44100 or 32000.
bool IsTapeRate(std::uint32_t sampleRateHz);
// Stereo pairs in one frame at `sampleRateHz`; a rate that is not a tape's
// counts as 48000.
std::uint32_t PairsPerFrame(std::uint32_t sampleRateHz);

struct PcmProgram {
    std::vector<std::int16_t> pcm;  // interleaved stereo (left, right), 16-bit; four channels on a four-channel tape
    std::uint32_t sampleRateHz = 48000;  // 48000, 44100 or 32000
};

// An audio tape from in-memory PCM: one vector per program, interleaved stereo (left, right)
// 16-bit samples at 48 kHz. Programs must not be empty.
std::shared_ptr<const Tape> MakePcmTape(std::vector<std::vector<std::int16_t>> programs);
// The same with a rate per program and the recorder's options. A rate other than 48000,
// 44100 or 32000, or other than 32000 on a long-play or four-channel tape: nullptr.
std::shared_ptr<const Tape> MakeRecordedTape(std::vector<PcmProgram> programs, const RecordingOptions& options = {});
// `programs` programs of `pairsPerProgram` stereo pairs each, repeating `pcm` (for long tapes
// that would not fit in memory, e.g. a 60-minute benchmark tape).
std::shared_ptr<const Tape> MakeLoopedPcmTape(std::vector<std::int16_t> pcm, unsigned programs,
                                              std::uint64_t pairsPerProgram);
// The built-in demo: four programs of synthesized music, about half a minute each. The music
// is made on the first frame read, not here.
std::shared_ptr<const Tape> MakeDemoTape(const RecordingOptions& options = {});
// A DDS data tape (no audio, nothing readable in audio mode).
std::shared_ptr<const Tape> MakeDataTape();
// A raw dump of 5822-byte frames, as `dd bs=5822` copies them off a drive in audio mode.
// Empty or not a multiple of 5822 bytes: nullptr with `error` set.
std::shared_ptr<const Tape> MakeFrameDumpTape(std::vector<std::uint8_t> bytes, std::string& error);
// The same read from the file at `path` as the drive comes to each frame: only the frames'
// positions are held in memory. On failure nullptr and `error` names the file and the reason.
std::shared_ptr<const Tape> OpenFrameDumpTape(const std::string& path, std::string& error);

// Files. On failure nullptr and `error` names the file and the reason.
// Audio files through libsndfile, one program each: 48000, 44100 or 32000 Hz (files of
// different rates give rate changes within the tape), 16-bit, 1 or 2 channels (4 for a
// four-channel tape, 32000 Hz only for it and for long play).
std::shared_ptr<const Tape> LoadAudioFiles(const std::vector<std::string>& paths, std::string& error,
                                           const RecordingOptions& options = {});
std::shared_ptr<const Tape> LoadFrameDump(const std::string& path, std::string& error);
// An audio file if libsndfile reads it, else a frame dump if its size fits, else an error.
// A dump plays as it stands: options other than the defaults are an error for it.
std::shared_ptr<const Tape> LoadTapeFile(const std::string& path, std::string& error,
                                         const RecordingOptions& options = {});

// Frame n as the tape holds it: the whole frame, or only its audio area.
std::vector<std::uint8_t> FrameBytes(const Tape& tape, std::uint64_t n);
std::vector<std::uint8_t> FrameAudio(const Tape& tape, std::uint64_t n);
// The first frame of program `number` (1-based) on a tape made from PCM or files.
std::uint64_t FirstFrameOfProgram(const Tape& tape, unsigned number);

// Time codes: 33 1/3 frames per second (frame counts 0-32, or 0-33 in seconds s % 3 == 2).
struct TimeCode {
    unsigned hours = 0, minutes = 0, seconds = 0, frame = 0;
};
TimeCode TimeCodeOfFrame(std::uint64_t index);
std::uint64_t FrameOfTimeCode(const TimeCode& t);
inline std::uint8_t ToBcd(unsigned v) { return static_cast<std::uint8_t>(((v / 10) % 10) << 4 | (v % 10)); }
// A BCD byte's value, or -1 when a digit is above 9.
int FromBcd(std::uint8_t b);
// The frame index a BCD h m s f position means, or -1 when invalid.
std::int64_t FrameOfBcd(const std::uint8_t (&hmsf)[4]);

}  // namespace sim
