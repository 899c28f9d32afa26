// The capture loop: the tape's audio, frame by frame, into the WAV capture file until a stop,
// the end of the recorded area, a failure or a file error. Frames the drive could not read
// are written as silence of the tape's rate, so the file stays in step with the tape.
#pragma once

#include <string>

#include "audio/wav_writer.h"

enum class CaptureResult {
    Stopped,     // a stop ended it (file finished by the stop)
    EndOfTape,   // the end of the recorded area ended it (file finished)
    FileError,   // the file could not be created or written (message shown, file finished)
    SizeLimit,   // it would have passed 4 GiB (message shown, file finished)
    NotStarted,  // a capture was already running
    ReadFailed,  // the drive failed (wrong medium, lost, timeout, too many bad frames, long
                 // play): message shown, file finished with what was read
    RateChange,  // the sampling rate changed within the tape: the file ends there (message shown)
};

// The console's Read Tape, the deck's Save Only and --capture: truncates `path`, writes the
// header, sets PlayActive and reads frames into the file until a stop, the end of the tape or
// a failure. A playback that runs is stopped first. Returns when the file is finished; the
// pass's report (FramePassReport) tells what was read.
CaptureResult RunCapture(const std::string& path = kCaptureFileName);
