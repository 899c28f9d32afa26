// The WAV capture file "Audio48.wav": header with both sizes 0, audio appended frame by
// frame, sizes fixed up by the stop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

inline constexpr const char* kCaptureFileName = "Audio48.wav";

enum class CaptureResult {
    Stopped,     // a stop ended it (file finished by the stop)
    EndOfTape,   // the end of the recorded area ended it (file finished)
    FileError,   // the file could not be created or written (message shown, file finished)
    SizeLimit,   // it would have passed 4 GiB (message shown, file finished)
    NotStarted,  // playback or a capture was already running
};

// The console's Read Tape: truncates `path`, writes the header, sets PlayActive and reads
// frames into the file until a stop, the end of the tape or a file error. Returns when the
// file is finished.
CaptureResult RunCapture(const std::string& path = kCaptureFileName);

// Deck "Play and Save": playback whose refills also append their frames to `path`.
// Same start conditions as BeginPlayback.
void BeginPlaybackAndCapture(const std::string& path = kCaptureFileName);

// Called after each frame a capture appends (frames and audio bytes in the file so far).
// Empty: none.
using CaptureProgressHandler = std::function<void(std::uint64_t frames, std::uint64_t audioBytes)>;
void SetCaptureProgressHandler(CaptureProgressHandler handler);
