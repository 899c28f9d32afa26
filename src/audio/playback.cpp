#include "audio/playback.h"

#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "audio/deemphasis.h"
#include "audio/frame_reader.h"
#include "platform/ui/message_box.h"

bool PlayActive = false;

namespace {

constexpr int kPlayBuffers = 4;
constexpr int kFramesPerBuffer = 30;
constexpr std::int32_t kPlayBufferBytes = kFramesPerBuffer * static_cast<std::int32_t>(dat::kAudioAreaBytes);

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

// A queued play buffer and the frames it holds, in the order the device plays them.
struct QueuedBuffer {
    WAVEHDR* header;
    std::vector<HeardFrame> frames;
};

// What the module keeps beyond the named state: the device's life, the refill queue, the
// start that waits for a teardown, the tape's rate and what the device is playing.
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
    std::function<void()> endOfTapeHandler;

    std::uint32_t rate = 48000;  // the device's rate: the tape's, from its frames
    // A frame at another rate than the device's: it waits for the device to play out and
    // reopen at its rate.
    std::optional<std::vector<std::uint8_t>> carried;
    std::optional<FrameRead> carriedRead;
    bool rateChange = false;
    bool captureRateSet = false;  // Play and Save: the file's header has the tape's rate
    Deemphasis deemphasis;
    std::vector<std::uint8_t> pending;       // audio read, not yet queued (what the device is to hear)
    std::vector<HeardFrame> pendingFrames;   // one per frame in `pending`
    std::deque<QueuedBuffer> queued;         // in the device, in playing order
    std::chrono::steady_clock::time_point frontSince;  // when queued.front() began to play
    std::optional<HeardFrame> lastHeard;
};

Engine& S()
{
    static Engine e;
    return e;
}

std::size_t FrameBytesAt(std::uint32_t rate) { return static_cast<std::size_t>(rate) * 3 / 100 * 4; }

HeardFrame HeardOf(const FrameRead& r, std::uint32_t rate, bool silence)
{
    HeardFrame h;
    if (r.frame.absoluteTime)
        h.absoluteTime = r.frame.absoluteTime->time;
    if (r.frame.programTime)
        h.programTime = r.frame.programTime->time;
    h.program = r.frame.subId.program;
    h.rateText = r.frame.mainId.RateText();
    h.sampleRate = rate;
    h.emphasis = r.frame.mainId.Emphasis();
    h.silence = silence;
    return h;
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

// Ends playback at once after a failure of the drive: the message, then the deck is Ready.
void FailPlayback(const std::string& message)
{
    StopPlayback();
    ui::ShowMessage(message);
    NotifyEndOfTape();
}

// Play and Save: the frames in tape order, bit-exact, at the tape's rate.
void CaptureFrame(const std::uint8_t* audio, std::size_t bytes, std::uint32_t rate)
{
    Engine& e = S();
    if (CaptureFileNum <= 0)
        return;
    if (!e.captureRateSet) {
        SetCaptureFileRate(rate);
        e.captureRateSet = true;
    }
    AppendCaptureAudio(audio, bytes);
}

// Puts one frame (or the silence that stands for a lost one) after what waits to be queued.
void Stage(const std::uint8_t* audio, std::size_t bytes, const HeardFrame& heard, bool emphasis)
{
    Engine& e = S();
    const std::size_t at = e.pending.size();
    e.pending.insert(e.pending.end(), audio, audio + bytes);
    if (emphasis)
        e.deemphasis.process(e.pending.data() + at, bytes);
    e.pendingFrames.push_back(heard);
}

// One frame that read (or the carried one): the lost frames before it as silence, then its
// audio. False when it is at another rate than the device's: it waits for the reopen.
bool TakeFrame(const FrameRead& r, const std::uint8_t* audio)
{
    Engine& e = S();
    const std::uint32_t rate = r.format->rate;
    if (rate != e.rate) {
        e.carried.emplace(audio, audio + r.AudioBytes());
        e.carriedRead = r;
        e.rateChange = true;
        if (CaptureFileNum > 0) {
            FinishCaptureFile();
            ui::ShowMessage("The sampling rate changes from " + std::to_string(e.rate) + " Hz to " +
                            std::to_string(rate) + " Hz at " + LastFrameTimeText() +
                            ". The capture file ends before the change; playback goes on.");
        }
        return false;
    }
    const std::vector<std::uint8_t> silence(r.AudioBytes(), 0);
    for (std::uint32_t i = 0; i < r.missingBefore; ++i) {
        CaptureFrame(silence.data(), silence.size(), rate);
        Stage(silence.data(), silence.size(), HeardOf(r, rate, true), false);
    }
    CaptureFrame(audio, r.AudioBytes(), rate);
    Stage(audio, r.AudioBytes(), HeardOf(r, rate, false), r.frame.mainId.Emphasis());
    return true;
}

// Reads frames until a buffer's worth waits (30 frames at the tape's rate), the end of the
// tape, a rate change or a failure. False when playback has ended meanwhile.
bool ReadAhead(std::size_t capacity)
{
    Engine& e = S();
    const std::uint64_t starts = e.captureStarts;
    while (e.pending.size() < capacity && !e.endOfTape && !e.rateChange) {
        if (e.carriedRead) {
            const FrameRead r = *e.carriedRead;
            const std::vector<std::uint8_t> audio = std::move(*e.carried);
            e.carriedRead.reset();
            e.carried.reset();
            TakeFrame(r, audio.data());
            continue;
        }
        const FrameRead r = ReadNextFrame();
        if (e.captureStarts != starts)
            return false;  // a capture took the tape over while we read: it has the frames now
        switch (r.status) {
        case FrameStatus::Unreadable:
            break;  // muted: the next frame that reads says how many were lost
        case FrameStatus::EndOfTape: {
            const std::vector<std::uint8_t> silence(FrameBytesAt(e.rate), 0);
            for (std::uint32_t i = 0; i < r.missingBefore; ++i) {
                CaptureFrame(silence.data(), silence.size(), e.rate);
                Stage(silence.data(), silence.size(), e.lastHeard.value_or(HeardFrame{}), false);
            }
            e.endOfTape = true;
            break;
        }
        case FrameStatus::Audio:
        case FrameStatus::Concealed:
            if (!r.repeat)
                TakeFrame(r, r.Audio());
            break;
        default:
            FailPlayback(r.message);
            return false;
        }
    }
    return true;
}

// Reads ahead and queues one buffer's worth in the buffer of `h`.
void Refill(WAVEHDR* h)
{
    Engine& e = S();
    // A stale start message for a buffer that the device holds again: never touch it.
    if (!IsPlayHeader(h) || (h->dwFlags & WHDR_INQUEUE))
        return;
    const std::size_t capacity = std::min<std::size_t>(kFramesPerBuffer * FrameBytesAt(e.rate),
                                                       static_cast<std::size_t>(WaveBufSize));
    if (!ReadAhead(capacity))
        return;
    // Whole frames only: a buffer never splits a frame.
    std::size_t bytes = 0, frames = 0;
    while (frames < e.pendingFrames.size() && bytes + FrameBytesAt(e.rate) <= capacity) {
        bytes += FrameBytesAt(e.rate);
        ++frames;
    }
    bytes = std::min(bytes, e.pending.size());
    if (bytes == 0)
        return;
    std::memcpy(h->lpData, e.pending.data(), bytes);
    e.pending.erase(e.pending.begin(), e.pending.begin() + static_cast<std::ptrdiff_t>(bytes));
    QueuedBuffer q{h, std::vector<HeardFrame>(e.pendingFrames.begin(), e.pendingFrames.begin() + static_cast<std::ptrdiff_t>(frames))};
    e.pendingFrames.erase(e.pendingFrames.begin(), e.pendingFrames.begin() + static_cast<std::ptrdiff_t>(frames));
    // The last buffer before the end of the tape queues only the frames read: the device
    // plays the tape's audio and nothing after it.
    h->dwBufferLength = static_cast<DWORD>(bytes);
    h->dwLoops = 0;
    if (e.queued.empty())
        e.frontSince = std::chrono::steady_clock::now();
    e.queued.push_back(std::move(q));
    waveOutWrite(hWaveOut, h, sizeof(WAVEHDR));
}

// A buffer came back: the next one in the queue is what the device plays now. The start
// messages name buffers that were never queued: they change nothing.
void BufferReturned(const WAVEHDR* h)
{
    Engine& e = S();
    const auto it = std::find_if(e.queued.begin(), e.queued.end(), [h](const QueuedBuffer& q) { return q.header == h; });
    if (it == e.queued.end())
        return;
    if (!it->frames.empty())
        e.lastHeard = it->frames.back();
    e.queued.erase(e.queued.begin(), it + 1);
    e.frontSince = std::chrono::steady_clock::now();
}

void AllocatePlayBuffers(std::uint32_t rate)
{
    WaveBufSize = kPlayBufferBytes;  // room for 30 frames at the highest rate
    for (int i = 0; i < kPlayBuffers; ++i) {
        WaveBufHandles[i] = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(WaveBufSize));  // zeroed
        WaveBuffers[i] = WaveBufHandles[i].get();
    }
    WaveFormat = {};
    WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    WaveFormat.nChannels = 2;
    WaveFormat.nSamplesPerSec = rate;
    WaveFormat.nAvgBytesPerSec = rate * 4;
    WaveFormat.nBlockAlign = 4;
    WaveFormat.wBitsPerSample = 16;
    WaveFormat.cbSize = 0;
}

// Forgets what was read ahead and what the device held.
void ClearStream()
{
    Engine& e = S();
    e.pending.clear();
    e.pendingFrames.clear();
    e.queued.clear();
    e.carried.reset();
    e.carriedRead.reset();
    e.rateChange = false;
    e.endOfTape = false;
}

// The start proper, once no device can hold the buffers any more. The device opens at the
// rate of the last frames played (48 kHz at first); a first frame at another rate reopens it
// before anything is queued.
void StartNow(const std::optional<std::string>& capturePath)
{
    Engine& e = S();
    if (PlayActive)
        return;
    if (capturePath && !OpenCaptureFile(*capturePath))
        return;
    ClearStream();
    e.captureRateSet = false;
    e.lastHeard.reset();
    BeginFramePass();
    e.deemphasis.reset(e.rate);
    AllocatePlayBuffers(e.rate);
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

// After the messages are worked off: the end of the tape, a rate change, and a start that
// was waiting. Both ends let the device play out what it holds; only a stop drops it.
void AfterMessages()
{
    Engine& e = S();
    if (PlayActive && !e.captureLoop && !AnyBufferQueued() && e.pending.empty()) {
        if (e.endOfTape) {
            PlayActive = false;
            FinishCaptureFile();
            TearDown();  // nothing is queued: closes, letting what ALSA holds play out
            NotifyEndOfTape();
        } else if (e.rateChange) {
            TearDown();
            if (!e.deviceOpen) {
                e.rate = e.carriedRead->frame.mainId.SampleRateHz();
                e.rateChange = false;
                e.deemphasis.reset(e.rate);
                e.queued.clear();
                AllocatePlayBuffers(e.rate);
                PlayActive = false;
                if (!StartPlayback())
                    FailPlayback("The audio device cannot play " + std::to_string(e.rate) + " Hz.");
            }
        }
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
    // Back from the device now, whenever its refill comes: what is heard moves on at once.
    BufferReturned(h);
    e.pendingRefills.push_back(h);
    if (e.refillRunning)
        return;
    e.refillRunning = true;
    while (!e.pendingRefills.empty()) {
        WAVEHDR* next = e.pendingRefills.front();
        e.pendingRefills.pop_front();
        if (PlayActive && !e.captureLoop && !e.endOfTape && !e.rateChange)
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

std::optional<HeardFrame> HeardNow()
{
    Engine& e = S();
    if (!PlayActive)
        return e.lastHeard;
    // The device may have handed buffers back whose messages are not taken up yet: they are
    // heard already, and the first one it still holds is the one playing.
    std::optional<HeardFrame> heard = e.lastHeard;
    for (const QueuedBuffer& q : e.queued) {
        if (q.frames.empty())
            continue;
        if (!(q.header->dwFlags & WHDR_INQUEUE)) {
            heard = q.frames.back();
            continue;
        }
        // A frame lasts 30 ms at every rate.
        const auto played = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                  e.frontSince);
        return q.frames[std::min<std::size_t>(static_cast<std::size_t>(played.count() / 30), q.frames.size() - 1)];
    }
    return heard;
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
    ClearStream();
    e.rate = 48000;
    e.captureRateSet = false;
    e.lastHeard.reset();
    for (auto& b : WaveBufHandles)
        b.reset();
    WaveBuffers = {};
    WaveHeaders = {};
    WaveFormat = {};
    WaveBufSize = 0;
    hWaveOut = 0;
    WaveErrText = {};
}

WAVEHDR* PlayHeader(int index) { return &WaveHeaders.at(static_cast<std::size_t>(index)); }
