// Playback of tape audio through the wave output layer: a ring of four play buffers that the
// deck window's procedure refills from the tape, 30 frames at a time, on each buffer-done
// notification.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

class QWidget;

// Module state of playback and capture (one instance; ResetAudioState() puts it back).
extern bool PlayActive;
extern std::array<std::uint8_t, 5822> FrameBuffer;

// Installs DeckWindowProc on the deck window (the target of buffer-done notifications) and
// clears PlayActive. Called once by the deck window's load handler.
void HookDeckWindow(QWidget* deckWindow);
// Allocates the four play buffers, fills the wave format and starts; does nothing while
// playback or a capture runs.
void BeginPlayback();
// Opens the device and posts the four start notifications; true when playback runs.
bool StartPlayback();
// Clears PlayActive, resets the device (the teardown follows on the returned buffers) and
// finishes an open capture file.
void StopPlayback();

// Called on the program's thread when playback or a capture has ended by itself at the end
// of the recorded area (after the queued audio has played out); the deck returns to Ready.
void SetEndOfTapeHandler(std::function<void()> handler);

// Tests: back to the initial state (device closed, no buffers, no capture).
void ResetAudioState();
