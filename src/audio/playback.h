// Playback of tape audio through the wave output layer: a ring of four play buffers that the
// deck window's procedure refills from the tape, 30 frames at a time, on each buffer-done
// notification. Playback also owns the running flag that a capture shares, and the stop.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "audio/peak_log.h"
#include "audio/wav_writer.h"
#include "dat/frame.h"
#include "platform/wave/wave_out.h"

class QWidget;

// True while playback or a capture runs.
extern bool PlayActive;

// Installs DeckWindowProc on the deck window (the target of buffer-done notifications) and
// clears PlayActive. Called once by the deck window's load handler.
void HookDeckWindow(QWidget* deckWindow);
// Allocates the four play buffers, fills the wave format and starts; does nothing while
// playback or a capture runs.
void BeginPlayback();
// Deck "Play and Save": playback whose refills also append their frames to `path`.
// Same start conditions as BeginPlayback.
void BeginPlaybackAndCapture(const std::string& path = kCaptureFileName);
// Opens the device and posts the four start notifications; true when playback runs. A device
// that cannot be opened is told with its own error and this line on what to do.
bool StartPlayback();
inline constexpr const char* kSoundDeviceHint =
    "To play, choose another sound device with --audio-device=NAME (\"aplay -L\" lists the names); to archive "
    "the tape without sound, use Options, Save Only.";
// Clears PlayActive, resets the device (the teardown follows on the returned buffers) and
// finishes an open capture file.
void StopPlayback();

// Called on the program's thread when playback or a capture has ended by itself at the end
// of the recorded area (after the queued audio has played out), or after a failure that
// ended it (whose message went to the audio message handler first, see wav_writer.h); the
// deck returns to Ready.
void SetEndOfTapeHandler(std::function<void()> handler);
void NotifyEndOfTape();

// For the capture loop, which takes the tape over from playback: marks it running (counting
// a start, so that a refill under way leaves the frames to it) or ended.
void BeginCaptureLoop(bool running);
bool CaptureLoopRunning();
// A start that waits for the previous device's teardown.
bool StartPending();

// What the device is playing now: the frame heard (within the buffer that plays, by the time
// it has played), or the last frame heard when nothing plays; nothing before the first.
struct HeardFrame {
    dat::TimeCode absoluteTime;  // invalid: dashes
    dat::TimeCode programTime;
    dat::ProgramNumber program;
    std::string rateText;  // "48 KHz", "44.1 KHz", "32 KHz"
    std::uint32_t sampleRate = 0;
    bool emphasis = false;
    bool silence = false;  // a lost frame's silence
    std::string modeText;  // "stereo", "long play", "four channels"
    // Of this pass, up to and including this frame: frames lost and frames concealed.
    std::uint64_t unreadable = 0;
    std::uint64_t concealed = 0;
};
std::optional<HeardFrame> HeardNow();

// The peaks of each channel in what the device's output sounds now: the sound of the last
// `windowMs` milliseconds before the position the device reports. Nothing while no stream
// plays (a stop, an end, a capture that plays nothing).
std::optional<ChannelPeaks> PeaksHeardNow(std::uint32_t windowMs);

// Tests: back to the initial state (device closed, no buffers, no capture).
void ResetAudioState();
// Tests: the header of play buffer `index` (0 to 3).
WAVEHDR* PlayHeader(int index);
