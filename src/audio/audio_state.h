// The module state that playback and the capture share (inside audio/ only; others use
// playback.h and capture.h). Program's thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/wave/wave_out.h"
#include "tape/eject_read.h"
#include "tape/frame.h"

inline constexpr int kPlayBuffers = 4;
inline constexpr int kFramesPerBuffer = 30;
inline constexpr std::int32_t kPlayBufferBytes = kFramesPerBuffer * static_cast<std::int32_t>(kFrameAudioBytes);

extern WAVEFORMATEX WaveFormat;
extern std::int32_t WaveBufSize;
// The play buffers' memory, zero-filled at allocation and fixed until the next start frees it.
extern std::array<std::unique_ptr<std::uint8_t[]>, kPlayBuffers> WaveBufHandles;
extern std::array<std::uint8_t*, kPlayBuffers> WaveBuffers;
extern std::array<WAVEHDR, kPlayBuffers> WaveHeaders;
extern HWAVEOUT hWaveOut;
extern std::array<char, 250> WaveErrText;
extern HWND hDeckWnd;
extern WNDPROC PrevWndProc;

// The open capture file's descriptor; 0 when none is open.
extern int CaptureFileNum;

// One frame read of the playback or the capture, and what it means for the stream.
enum class FrameStatus {
    Audio,      // FrameBuffer holds the next frame
    Stale,      // the read failed: FrameBuffer still holds the previous frame, which stands in
    EndOfTape,  // the end of the recorded area: no more audio
};
FrameStatus ReadNextFrame();

// Playback and capture bookkeeping shared by the two files.
bool CaptureLoopRunning();
// Counts the captures started, so a refill can tell that one began while it was reading.
std::uint64_t CaptureStarts();
// Marks the capture loop running (counting a start) or ended.
void BeginCaptureLoop(bool running);
// A start waits for the previous device's teardown.
bool StartPending();

// Capture file operations (capture.cpp).
// Truncates or creates `path` and writes the header; false with a message shown on failure.
bool OpenCaptureFile(const std::string& path);
// Appends `bytes` of audio. Otherwise the message is shown and the file finished.
enum class AppendResult { Written, FileError, SizeLimit };
AppendResult AppendCaptureAudio(const std::uint8_t* data, std::size_t bytes);
// Tests: the largest file length a capture may reach (default: what 32-bit WAV sizes state).
void SetCaptureFileLimit(std::uint64_t bytes);
// The size fix-up and close; nothing when no file is open.
void FinishCaptureFile();

// Runs the end-of-tape handler (playback.cpp).
void NotifyEndOfTape();
