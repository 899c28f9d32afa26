// The frame read of playback and capture: one READ(6) of a whole DAT frame into FrameBuffer,
// and what the outcome means for the stream.
#pragma once

#include <array>
#include <cstdint>

#include "tape/eject_read.h"
#include "tape/frame.h"

// Receives each frame read; after a failed read it still holds the previous frame.
extern std::array<std::uint8_t, kFrameBytes> FrameBuffer;

enum class FrameStatus {
    Audio,      // FrameBuffer holds the next frame
    Stale,      // the read failed: FrameBuffer still holds the previous frame, which stands in
    EndOfTape,  // the end of the recorded area (BLANK CHECK, lead-out, no tape): no more audio
};

struct FrameRead {
    FrameStatus status = FrameStatus::Audio;
    ReadOutcome outcome;  // the READ itself: why it failed, when it did
};

// Reads the next frame from the selected drive into FrameBuffer.
FrameRead ReadNextFrame();
