// The capture loop: the tape's audio, frame by frame, into the WAV capture file until a stop,
// the end of the recorded area or a file error.
#pragma once

#include <string>

#include "audio/wav_writer.h"

enum class CaptureResult {
    Stopped,     // a stop ended it (file finished by the stop)
    EndOfTape,   // the end of the recorded area ended it (file finished)
    FileError,   // the file could not be created or written (message shown, file finished)
    SizeLimit,   // it would have passed 4 GiB (message shown, file finished)
    NotStarted,  // a capture was already running
};

// The console's Read Tape, the deck's Save Only and --capture: truncates `path`, writes the
// header, sets PlayActive and reads frames into the file until a stop, the end of the tape or
// a file error. A playback that runs is stopped first. Returns when the file is finished.
CaptureResult RunCapture(const std::string& path = kCaptureFileName);
