// What the virtual drive records: a blank cassette, and the writable layer over a loaded tape
// that WRITE puts frames on. Recording at a frame keeps the tape before it, puts the new frames
// there and leaves nothing after the last one written, as a recorder does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/io/result.h"
#include "sim/tape.h"

namespace sim {

// 2000 frames a minute of standard play.
inline constexpr std::uint64_t kFramesPerMinute = 2000;

// A blank audio cassette: nothing recorded, BLANK CHECK at once.
std::shared_ptr<const Tape> MakeBlankTape();

// A loaded tape with the frames written over it. Changed only by the drive, under its lock.
class WrittenTape final : public Tape {
public:
    explicit WrittenTape(std::shared_ptr<const Tape> base);

    std::uint8_t density() const override;
    std::uint64_t frameCount() const override { return kept_ + positions_.size(); }
    void readFrame(std::uint64_t n, std::uint8_t* out) const override;
    FramePosition position(std::uint64_t n) const override;

    // Frame `at` <= frameCount() becomes `frame` (5822 bytes); the recorded area ends after it.
    void write(std::uint64_t at, const std::uint8_t* frame);

private:
    std::shared_ptr<const Tape> base_;
    std::uint64_t kept_;               // frames of the base still in place
    std::vector<std::uint8_t> bytes_;  // the frames written after them
    std::vector<FramePosition> positions_;
};

// The tape's frames as a raw dump (5822 bytes each) in `path`, written crash-safe: a temporary
// file beside it, flushed to the disk, then renamed over it.
Status SaveFrameDump(const Tape& tape, const std::string& path);

}  // namespace sim
