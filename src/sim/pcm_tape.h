// Inside the virtual drive's tapes: the tape made of PCM programs, shared by the tape makers
// and the demo music.
#pragma once

#include <functional>
#include <mutex>

#include "sim/tape.h"

namespace sim {

using Pcm = std::shared_ptr<const std::vector<std::int16_t>>;
// Reads `count` sample instants of `program` from instant `first` on into `out`, channels
// interleaved as on the tape; what cannot be read is left as it is (zeros). Called from any
// thread: it guards its own state.
using PcmReader = std::function<void(std::size_t program, std::uint64_t first, std::uint64_t count, std::int16_t* out)>;

class PcmTape final : public Tape {
public:
    // One entry of `pairs` per program (its length in sample instants: stereo pairs, or
    // groups of four on a four-channel tape). `load` gives the PCM of
    // one program; it runs once per program, on the first read of one of its frames. A
    // program longer than its PCM repeats the PCM. `rates` gives each program's sampling rate
    // (empty: all 48 kHz); the caller has checked them with IsTapeRate.
    PcmTape(std::vector<std::uint64_t> pairs, std::function<Pcm(std::size_t program)> load,
            std::vector<std::uint32_t> rates = {}, RecordingOptions options = {});
    // The same with the PCM read a frame's worth at a time as frames are read (audio files
    // too long to hold in memory). Programs do not repeat.
    PcmTape(std::vector<std::uint64_t> pairs, PcmReader read, std::vector<std::uint32_t> rates,
            RecordingOptions options);

    std::uint8_t density() const override { return kAudioDensity; }
    std::uint64_t frameCount() const override { return leadOutStart() + kLeadOutFrames; }
    void readFrame(std::uint64_t n, std::uint8_t* out) const override;
    FramePosition position(std::uint64_t n) const override;

private:
    std::uint64_t leadOutStart() const { return firstFrame_.back(); }
    // Sample instants one frame of program p holds.
    std::uint64_t instantsPerFrame(std::size_t program) const;
    // The time-code frames frame n (from a program's or the tape's start) stands at.
    std::uint64_t codeIndex(std::uint64_t n) const { return options_.longPlay ? n * options_.lpTimeStep : n; }
    void writeAudio(std::uint64_t n, std::uint8_t* out) const;
    const std::vector<std::int16_t>& pcm(std::size_t program) const;
    // The program (0-based) frame n < leadOutStart() belongs to.
    std::size_t programOf(std::uint64_t n) const;
    void writeSubcode(std::uint8_t* frame, std::uint64_t n, const FramePosition& pos, std::uint32_t rate,
                      bool startId) const;

    std::vector<std::uint64_t> pairs_;
    std::vector<std::uint32_t> rates_;  // per program
    RecordingOptions options_;
    std::vector<std::uint64_t> firstFrame_;  // per program, then the lead-out's first frame
    std::function<Pcm(std::size_t)> load_;
    PcmReader read_;  // set: the PCM streams from it instead of load_
    std::unique_ptr<std::once_flag[]> loaded_;
    mutable std::vector<Pcm> pcm_;  // entry p written once, under loaded_[p]
};

// A tape of programs of `instants` sample instants at `rates`, their PCM from `read`; nullptr
// when the rates and options do not fit together (as MakeRecordedTape).
std::shared_ptr<const Tape> MakeStreamedTape(std::vector<std::uint64_t> instants, std::vector<std::uint32_t> rates,
                                             PcmReader read, const RecordingOptions& options);

// The demo music: lengths first (cheap), the PCM when asked.
std::vector<std::uint64_t> DemoProgramPairs();
Pcm SynthesizeDemoProgram(std::size_t program);

}  // namespace sim
