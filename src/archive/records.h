// What an archive knows of each frame it kept, and what follows from it alone: which WAV
// file each frame goes to, the cue points and the rows of the subcode log. Kept compact (one
// record per frame of data/tape.dat) so that a whole tape's worth stays in memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dat/audio_format.h"
#include "dat/frame.h"
#include "dat/nonlinear.h"

namespace archive {

enum class FrameState : std::uint8_t {
    Clean,       // read as recorded
    Concealed,   // the drive interpolated one or both channels
    Unreadable,  // not delivered: zeros in tape.dat, silence in its WAV
    Recovered,   // bad in the first read, clean on a later one
};

struct FrameRecord {
    std::int32_t absolute = -1;     // frame index from absolute time 0; -1 when not known
    std::int32_t programTime = -1;  // frame index within the program; -1 when not known
    std::int32_t runningTime = -1;
    std::uint16_t program = 0;      // for Kind::Number
    dat::ProgramNumber::Kind kind = dat::ProgramNumber::Kind::Invalid;
    std::uint8_t index = 0xFF;      // index number; 0xFF when not known
    std::uint8_t rateCode = 0;      // as the main ID gives it
    std::uint8_t channelCode = 0;   // as the main ID gives it: 1 four channels
    std::uint8_t quantizationCode = 0;  // as the main ID gives it: 1 12-bit non-linear
    bool start = false, skip = false, toc = false;
    bool emphasis = false;
    bool concealedLeft = false, concealedRight = false;
    FrameState state = FrameState::Clean;
    // The date pack: seconds since 1970-01-01 when valid (years 70-99 are 19xx), else -1.
    std::int64_t date = -1;
    // Reads that failed on this frame before it was delivered.
    std::uint16_t failedReads = 0;

    bool readable() const { return state != FrameState::Unreadable; }
    bool numbered() const { return kind == dat::ProgramNumber::Kind::Number && program > 0; }
    bool leadInOrOut() const
    {
        return kind == dat::ProgramNumber::Kind::LeadIn || kind == dat::ProgramNumber::Kind::LeadOut;
    }
    std::uint32_t sampleRate() const;
    // The audio of a kept frame (standard play at its rate for a main ID not understood).
    dat::AudioFormat format() const;
};

// The record of a delivered frame.
FrameRecord RecordOf(const dat::Frame& frame);
// A frame of 5822 zero bytes: what the archive writes for a frame the drive could not
// deliver, so a frame dump of an archive reads it as such again.
bool IsPlaceholder(const std::uint8_t* frame);

// "YYYY-MM-DD", "hh:mm:ss" of a record's date.
std::string DateText(std::int64_t date);
std::string TimeText(std::int64_t date);
// "00:12:03.17" of a frame index; "" when -1.
std::string IndexText(std::int64_t index);

struct CuePoint {
    std::uint32_t sample = 0;  // stereo pairs from the start of the file
    unsigned index = 0;        // the index number that starts there (0: another stretch)
};

// One WAV file of the package.
struct PlannedFile {
    std::string name;         // "001.wav", "000.wav", "002-2.wav"
    unsigned program = 0;     // 0: audio outside numbered programs
    std::uint32_t sampleRate = 48000;
    dat::AudioFormat format = *dat::StereoFormatAt(48000);  // of its frames
    dat::NonLinearLayout layout = dat::NonLinearLayout::A;  // how its 12-bit frames are unpacked
    bool emphasis = false;
    std::vector<std::size_t> frames;  // positions in tape.dat, in order
    std::vector<CuePoint> cues;
    std::int64_t firstAbsolute = -1, lastAbsolute = -1;  // of its frames, where known
    std::int64_t timeReference = 0;  // sample instants from absolute time 0 to its first frame, in real time
    std::int64_t date = -1;          // the date pack of its first dated frame
};

// Splits the frames into WAV files: a new file at each program-number change, start ID and
// rate change; lead-in and lead-out in none; audio outside numbered programs in 000.wav.
// Unreadable frames go where the next frame's program time says they belong.
// `timeStep`: time-code frames one tape frame advances (2 on some long-play tapes).
std::vector<PlannedFile> PlanFiles(const std::vector<FrameRecord>& records, unsigned timeStep = 1);

// Time-code frames one tape frame advances, from neighbouring readable frames: 1 unless most
// of them step by 2 (a long-play tape whose counter runs at real speed).
unsigned TimeStepOf(const std::vector<FrameRecord>& records);

// The subcode log: a header line, then a row for the first and last frame, every frame
// where a subcode value changes (times that do not run on, too) and every unreadable one.
class SubcodeLog {
public:
    static const char* Header();
    // The row of `records[at]` when it is to have one, else "". `timeStep` (TimeStepOf) is
    // how far a time code that runs on advances from one frame to the next.
    static std::string RowFor(const std::vector<FrameRecord>& records, std::size_t at, unsigned timeStep = 1);
    static std::string Row(std::size_t position, const FrameRecord& r);
};

}  // namespace archive
