#include "audio/playback.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "audio/frame_reader.h"
#include "platform/ui/message_box.h"

bool PlayActive = false;

namespace {

constexpr int kPlayBuffers = 4;
constexpr int kFramesPerBuffer = 30;
constexpr std::int32_t kPlayBufferBytes = kFramesPerBuffer * static_cast<std::int32_t>(kFrameAudioBytes);

// The play buffers' memory is zero-filled at allocation and fixed until the next start frees it.
WAVEFORMATEX WaveFormat;
std::int32_t WaveBufSize = 0;
std::array<std::unique_ptr<std::uint8_t[]>, kPlayBuffers> WaveBufHandles;
std::array<std::uint8_t*, kPlayBuffers> WaveBuffers{};
std::array<WAVEHDR, kPlayBuffers> WaveHeaders{};
HWAVEOUT hWaveOut = 0;
std::array<char, 250> WaveErrText{};
HWND hDeckWnd = nullptr;
WNDPROC PrevWndProc = nullptr;

// What the module keeps beyond the named state: the device's life, the refill queue and the
// start that waits for a teardown.
struct Engine {
    QPointer<QObject> deckGuard;  // hDeckWnd, unless the window has gone
    bool deviceOpen = false;      // hWaveOut is open (closed by a teardown)
    std::deque<WAVEHDR*> pendingRefills;  // buffer-done messages waiting their turn, in order
    bool refillRunning = false;
    bool endOfTape = false;  // the stream met the end of the recorded area: no more reads
    bool startPending = false;
    std::optional<std::string> pendingCapturePath;
    bool captureLoop = false;  // the capture loop has the tape
    std::uint64_t captureStarts = 0;
    std::vector<std::uint8_t> staging;  // one refill's 30 frames
    std::function<void()> endOfTapeHandler;
};

Engine& S()
{
    static Engine e;
    return e;
}

void ShowDeviceError(MMRESULT code)
{
    waveOutGetErrorTextA(code, WaveErrText.data(), static_cast<UINT>(WaveErrText.size()));
    ui::ShowMessage(std::string(WaveErrText.data()));
}

bool IsPlayHeader(const WAVEHDR* h)
{
    for (const WAVEHDR& w : WaveHeaders)
        if (&w == h)
            return true;
    return false;
}

bool AnyBufferQueued()
{
    for (const WAVEHDR& w : WaveHeaders)
        if (w.dwFlags & WHDR_INQUEUE)
            return true;
    return false;
}

// Unprepares the four headers and closes the device; both fail while a buffer is queued,
// and the next handed-back buffer tries again.
void TearDown()
{
    for (WAVEHDR& w : WaveHeaders)
        waveOutUnprepareHeader(hWaveOut, &w, sizeof(WAVEHDR));
    if (waveOutClose(hWaveOut) == MMSYSERR_NOERROR)
        S().deviceOpen = false;
}

// Reads 30 frames into the staging area and queues them in the buffer of `h`.
void Refill(WAVEHDR* h)
{
    Engine& e = S();
    // A stale start message for a buffer that the device holds again: never touch it.
    if (!IsPlayHeader(h) || (h->dwFlags & WHDR_INQUEUE) || e.endOfTape)
        return;
    const std::uint64_t starts = e.captureStarts;
    std::size_t filled = 0;
    for (int i = 0; i < kFramesPerBuffer; ++i) {
        const FrameStatus status = ReadNextFrame().status;
        if (e.captureStarts != starts)
            return;  // a capture took the tape over while we read: it has the frames now
        if (status == FrameStatus::EndOfTape) {
            e.endOfTape = true;
            break;
        }
        std::memcpy(e.staging.data() + filled, FrameBuffer.data(), kFrameAudioBytes);
        filled += kFrameAudioBytes;
    }
    if (filled == 0)
        return;
    std::memset(e.staging.data() + filled, 0, static_cast<std::size_t>(WaveBufSize) - filled);
    if (CaptureFileNum > 0)
        AppendCaptureAudio(e.staging.data(), filled);  // Play and Save: the frames in tape order
    std::memcpy(h->lpData, e.staging.data(), static_cast<std::size_t>(WaveBufSize));
    // The last buffer before the end of the tape queues only the frames read: the device
    // plays the tape's audio and nothing after it (the rest of the buffer is silence anyway).
    h->dwBufferLength = static_cast<DWORD>(filled);
    h->dwLoops = 0;
    waveOutWrite(hWaveOut, h, sizeof(WAVEHDR));
}

void AllocatePlayBuffers()
{
    WaveBufSize = kPlayBufferBytes;
    for (int i = 0; i < kPlayBuffers; ++i) {
        WaveBufHandles[i] = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(WaveBufSize));  // zeroed
        WaveBuffers[i] = WaveBufHandles[i].get();
    }
    S().staging.assign(static_cast<std::size_t>(WaveBufSize), 0);
    WaveFormat = {};
    WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    WaveFormat.nChannels = 2;
    WaveFormat.nSamplesPerSec = 48000;
    WaveFormat.nAvgBytesPerSec = 192000;
    WaveFormat.nBlockAlign = 4;
    WaveFormat.wBitsPerSample = 16;
    WaveFormat.cbSize = 0;
}

// The start proper, once no device can hold the buffers any more.
void StartNow(const std::optional<std::string>& capturePath)
{
    if (PlayActive)
        return;
    if (capturePath && !OpenCaptureFile(*capturePath))
        return;
    AllocatePlayBuffers();
    if (!StartPlayback())
        FinishCaptureFile();
}

// A start must not free or re-prepare buffers that the previous device may still hold.
// True when that device is closed (after finishing its teardown here if nothing else runs).
bool PreviousDeviceClosed()
{
    Engine& e = S();
    if (!e.deviceOpen && !e.refillRunning)
        return true;
    if (e.refillRunning) {
        // Inside a refill's read: the refill still holds a buffer; the start waits for it.
        if (e.deviceOpen)
            waveOutReset(hWaveOut);
        return false;
    }
    waveOutReset(hWaveOut);  // hands back every buffer at once
    TearDown();
    return !e.deviceOpen;
}

void BeginOrDefer(std::optional<std::string> capturePath)
{
    if (PlayActive)
        return;
    if (!PreviousDeviceClosed()) {
        S().startPending = true;
        S().pendingCapturePath = std::move(capturePath);
        return;
    }
    S().startPending = false;
    StartNow(capturePath);
}

// After the messages are worked off: the end of the tape, and a start that was waiting.
void AfterMessages()
{
    Engine& e = S();
    if (PlayActive && e.endOfTape && !e.captureLoop && !AnyBufferQueued()) {
        StopPlayback();
        TearDown();  // nothing is queued: closes, letting what ALSA holds play out
        NotifyEndOfTape();
    }
    if (e.startPending && !PlayActive && !e.deviceOpen) {
        e.startPending = false;
        std::optional<std::string> path = std::move(e.pendingCapturePath);
        e.pendingCapturePath.reset();
        StartNow(path);
    }
}

// One buffer-done message: refills run one at a time, in the order of their messages; one
// that arrives while a refill is reading waits in the queue.
void TakeUpBufferDone(WAVEHDR* h)
{
    Engine& e = S();
    e.pendingRefills.push_back(h);
    if (e.refillRunning)
        return;
    e.refillRunning = true;
    while (!e.pendingRefills.empty()) {
        WAVEHDR* next = e.pendingRefills.front();
        e.pendingRefills.pop_front();
        if (PlayActive && !e.captureLoop)
            Refill(next);
        else
            TearDown();
    }
    e.refillRunning = false;
    AfterMessages();
}

bool DeckWindowProc(HWND window, QEvent* event)
{
    if (const WindowMessageEvent* m = AsWindowMessage(event); m && m->message == MM_WOM_DONE)
        TakeUpBufferDone(reinterpret_cast<WAVEHDR*>(m->lParam));
    return CallWindowProcA(PrevWndProc, window, event);
}

}  // namespace

bool CaptureLoopRunning() { return S().captureLoop; }

void NotifyEndOfTape()
{
    if (S().endOfTapeHandler)
        S().endOfTapeHandler();
}

void BeginCaptureLoop(bool running)
{
    if (running)
        ++S().captureStarts;
    S().captureLoop = running;
}

bool StartPending() { return S().startPending; }

void HookDeckWindow(QWidget* deckWindow)
{
    hDeckWnd = deckWindow;
    S().deckGuard = deckWindow;
    const WNDPROC previous = SetWindowProc(deckWindow, &DeckWindowProc);
    if (previous != &DeckWindowProc)
        PrevWndProc = previous;
    PlayActive = false;
}

void BeginPlayback() { BeginOrDefer(std::nullopt); }

void BeginPlaybackAndCapture(const std::string& path) { BeginOrDefer(path); }

bool StartPlayback()
{
    if (PlayActive)
        return true;
    if (!S().deckGuard)
        hDeckWnd = nullptr;
    const MMRESULT opened = waveOutOpen(&hWaveOut, WAVE_MAPPER, &WaveFormat, reinterpret_cast<DWORD_PTR>(hDeckWnd), 0,
                                        CALLBACK_WINDOW);
    if (opened != MMSYSERR_NOERROR) {
        ShowDeviceError(opened);
        return false;
    }
    S().deviceOpen = true;
    S().endOfTape = false;
    for (int i = 0; i < kPlayBuffers; ++i) {
        WAVEHDR& h = WaveHeaders[i];
        h.lpData = reinterpret_cast<char*>(WaveBuffers[i]);
        h.dwBufferLength = static_cast<DWORD>(WaveBufSize);
        h.dwFlags = 0;
        h.dwLoops = 0;
        if (const MMRESULT r = waveOutPrepareHeader(hWaveOut, &h, sizeof(WAVEHDR)))
            ShowDeviceError(r);
    }
    PlayActive = true;
    for (WAVEHDR& h : WaveHeaders)
        PostMessageA(hDeckWnd, MM_WOM_DONE, 0, reinterpret_cast<LPARAM>(&h));
    return true;
}

void StopPlayback()
{
    PlayActive = false;
    S().startPending = false;
    S().pendingCapturePath.reset();
    if (hWaveOut > 0)
        waveOutReset(hWaveOut);
    FinishCaptureFile();
}

void SetEndOfTapeHandler(std::function<void()> handler) { S().endOfTapeHandler = std::move(handler); }

void ResetAudioState()
{
    Engine& e = S();
    PlayActive = false;
    if (e.deviceOpen) {
        waveOutReset(hWaveOut);
        TearDown();
    }
    FinishCaptureFile();
    e.deviceOpen = false;
    e.pendingRefills.clear();
    e.refillRunning = false;
    e.endOfTape = false;
    e.startPending = false;
    e.pendingCapturePath.reset();
    e.captureLoop = false;
    e.endOfTapeHandler = nullptr;
    for (auto& b : WaveBufHandles)
        b.reset();
    WaveBuffers = {};
    WaveHeaders = {};
    WaveFormat = {};
    WaveBufSize = 0;
    hWaveOut = 0;
    WaveErrText = {};
    FrameBuffer = {};
}

WAVEHDR* PlayHeader(int index) { return &WaveHeaders.at(static_cast<std::size_t>(index)); }
