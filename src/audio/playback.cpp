// Playback as one state machine.
//
// The engine holds everything playback knows but the hooked window; ResetAudioState is
// `engine = {}` once the device is let go. Its phase says what the stream is doing:
//   Stopped      no stream: nothing is read for the device (a stop, an end, a failure).
//   Playing      each buffer the device hands back is refilled from the tape.
//   Ending       the end of the recorded area was read: no more reads; once the device has
//                played out what it holds, the capture file is finished, the device closed
//                and the deck told.
//   RateChange   a frame at another rate than the device's waits in `carried`; once the device
//                has played out, it reopens at that rate and the stream plays on.
//   StartWaiting a start was asked for while the previous device still held buffers (or a
//                refill still read); it begins once that device is closed.
// Invariants:
//   - Playing, Ending and RateChange only while PlayActive (a stop makes the stream Stopped;
//     a read-ahead that the stop arrived in runs on, but no longer moves the phase);
//     StartWaiting only while PlayActive is not. Ending and RateChange come from Playing only.
//   - `carried` holds a frame only in RateChange, and after the reopen in Playing until the
//     first refill takes it (a start clears it).
//   - deviceOpen is the device's own life, apart from the phase: a stopped stream's device
//     stays open until its buffers are all back (each handed-back buffer tries the teardown),
//     and an ending stream's device may close before the end is told.
//   - `refilling`: one buffer-done message is being worked; others queue in pendingRefills and
//     are worked in their order by the same loop, never inside a refill's reads.
//   - captureLoop: the capture loop has the tape (it sets PlayActive itself); no refill reads
//     then, and captureStarts tells a refill whose read a capture began in to leave the frames.
// Step is the one transition function: a buffer-done message (BufferDone), a start, a stop,
// and the play-out check after the messages are worked off (MessagesWorked).
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
#include <variant>
#include <vector>

#include "audio/deemphasis.h"
#include "audio/frame_reader.h"
#include "dat/audio_format.h"

bool PlayActive = false;

namespace {

constexpr int kPlayBuffers = 4;
constexpr std::size_t kFramesPerBuffer = 30;
// The most a frame gives the device: a long-play frame, 1920 stereo pairs (60 ms at 32 kHz).
constexpr std::size_t kMostFrameBytes = 1920 * 4;
// Room for 30 frames of the longest.
constexpr auto kPlayBufferBytes = static_cast<std::int32_t>(kFramesPerBuffer * kMostFrameBytes);
// The device opens at this rate until the tape's frames tell another.
constexpr std::uint32_t kFirstRate = 48000;

// A frame (or a lost frame's silence) as the device plays it: what is heard, how many bytes
// and how long. Long play gives twice the bytes and time of a standard frame at 32 kHz.
struct PlayedFrame {
    HeardFrame heard;
    std::size_t bytes = 0;
    std::uint32_t milliseconds = 30;
};

// A queued play buffer and the frames it holds, in the order the device plays them.
struct QueuedBuffer {
    WAVEHDR* header;
    std::vector<PlayedFrame> frames;
};

enum class Phase { Stopped, Playing, Ending, RateChange, StartWaiting };

// The window that receives the buffer-done messages: set once by HookDeckWindow, kept by a reset.
struct DeckHook {
    HWND hDeckWnd = nullptr;
    WNDPROC PrevWndProc = nullptr;
    QPointer<QObject> deckGuard;  // hDeckWnd, unless the window has gone
};

struct Engine {
    // The wave output state. The play buffers' memory is zero-filled at allocation and fixed
    // until the next start frees it.
    WAVEFORMATEX WaveFormat{};
    std::int32_t WaveBufSize = 0;
    std::array<std::unique_ptr<std::uint8_t[]>, kPlayBuffers> WaveBufHandles;
    std::array<std::uint8_t*, kPlayBuffers> WaveBuffers{};
    std::array<WAVEHDR, kPlayBuffers> WaveHeaders{};
    HWAVEOUT hWaveOut = 0;
    std::array<char, 250> WaveErrText{};

    Phase phase = Phase::Stopped;
    bool deviceOpen = false;  // hWaveOut is open (closed by a teardown)
    std::optional<std::string> startCapturePath;  // StartWaiting: Play and Save's file
    std::deque<WAVEHDR*> pendingRefills;  // buffer-done messages waiting their turn, in order
    bool refilling = false;
    bool captureLoop = false;
    std::uint64_t captureStarts = 0;
    std::function<void()> endOfTapeHandler;

    std::uint32_t rate = kFirstRate;  // the device's rate: the tape's, from its frames
    std::optional<FrameRead> carried;  // RateChange: the frame at the new rate
    std::optional<dat::AudioFormat> captureFormat;  // Play and Save: the file header's (none: not yet)
    std::optional<dat::AudioFormat> lastFormat;     // of the last frame staged
    bool toldFourChannels = false;                  // this start has said it plays channels 1 and 2
    Deemphasis deemphasis;
    std::vector<std::uint8_t> pending;       // audio read, not yet queued (what the device is to hear)
    std::vector<PlayedFrame> pendingFrames;  // one per frame in `pending`
    std::deque<QueuedBuffer> queued;         // in the device, in playing order
    std::chrono::steady_clock::time_point frontSince;  // when queued.front() began to play
    std::optional<HeardFrame> lastHeard;
    PeakLog peaks;  // of what was queued since the device opened (or was reset)
};

DeckHook& Hook()
{
    static DeckHook h;
    return h;
}

Engine& S()
{
    static Engine e;
    return e;
}

// What moves the machine.
struct StartRequested {
    // Play and Save: the capture file. A pointer keeps the events trivial, as the request is
    // taken up before Step returns.
    const std::string* capturePath = nullptr;
};
struct StopRequested {};
struct BufferDone {
    WAVEHDR* header;
};
// After the buffer-done messages are worked off: the play-out of an end or a rate change, and
// a start that was waiting.
struct MessagesWorked {};
using Event = std::variant<StartRequested, StopRequested, BufferDone, MessagesWorked>;

void Step(const Event& event);

// The bytes one frame of `f` gives the device: its sample instants as 16-bit stereo (a
// four-channel frame plays channels 1 and 2).
std::size_t PlayedBytes(const dat::AudioFormat& f) { return std::size_t{f.sampleFrames} * 4; }

// Channels 1 and 2 of a frame's 16-bit PCM, as the device plays it.
std::vector<std::uint8_t> PlayedAudio(const dat::AudioFormat& f, const std::uint8_t* pcm)
{
    if (f.channels == 2)
        return {pcm, pcm + PlayedBytes(f)};
    std::vector<std::uint8_t> out(PlayedBytes(f));
    const std::size_t in = f.PcmBytesPerSampleFrame();
    for (std::size_t i = 0; i < f.sampleFrames; ++i)
        std::memcpy(out.data() + 4 * i, pcm + in * i, 4);
    return out;
}

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
    if (r.format)
        h.modeText = r.format->channels > 2 ? "four channels" : r.format->NonLinear() ? "long play" : "stereo";
    const ReadReport& pass = FramePassReport();
    h.unreadable = pass.unreadable.count;
    h.concealed = pass.concealed.count;
    return h;
}

void TellDeviceError(MMRESULT code)
{
    Engine& e = S();
    waveOutGetErrorTextA(code, e.WaveErrText.data(), static_cast<UINT>(e.WaveErrText.size()));
    TellAudioMessage(std::string(e.WaveErrText.data()));
}

bool IsPlayHeader(const WAVEHDR* h)
{
    for (const WAVEHDR& w : S().WaveHeaders)
        if (&w == h)
            return true;
    return false;
}

bool AnyBufferQueued()
{
    for (const WAVEHDR& w : S().WaveHeaders)
        if (w.dwFlags & WHDR_INQUEUE)
            return true;
    return false;
}

// Unprepares the four headers and closes the device; both fail while a buffer is queued,
// and the next handed-back buffer tries again.
void TearDown()
{
    Engine& e = S();
    for (WAVEHDR& w : e.WaveHeaders)
        waveOutUnprepareHeader(e.hWaveOut, &w, sizeof(WAVEHDR));
    if (waveOutClose(e.hWaveOut) == MMSYSERR_NOERROR)
        e.deviceOpen = false;
}

// Ends playback at once after a failure of the drive: the message, then the deck is Ready.
void FailPlayback(const std::string& message)
{
    StopPlayback();
    TellAudioMessage(message);
    NotifyEndOfTape();
}

// Play and Save: the frames in tape order, bit-exact (12-bit ones decoded), at the tape's
// rate and with all its channels.
void CaptureFrame(const std::uint8_t* audio, const dat::AudioFormat& format)
{
    Engine& e = S();
    if (CaptureFileNum <= 0)
        return;
    if (!e.captureFormat) {
        SetCaptureFileFormat(format);
        e.captureFormat = format;
    }
    AppendCaptureAudio(audio, format.PcmBytes());
}

// Puts one frame of `format` (or the silence that stands for a lost one: `pcm` null) after
// what waits to be queued.
void Stage(const std::uint8_t* pcm, const dat::AudioFormat& format, const HeardFrame& heard, bool emphasis)
{
    Engine& e = S();
    const std::size_t at = e.pending.size();
    const std::size_t bytes = PlayedBytes(format);
    if (pcm) {
        const std::vector<std::uint8_t> played = PlayedAudio(format, pcm);
        e.pending.insert(e.pending.end(), played.begin(), played.end());
    } else {
        e.pending.resize(at + bytes, 0);
    }
    if (emphasis)
        e.deemphasis.process(e.pending.data() + at, bytes);
    e.pendingFrames.push_back({heard, bytes, format.Milliseconds()});
    e.lastFormat = format;
}

// One frame that read (or the carried one): the lost frames before it as silence, then its
// audio. False when it is at another rate than the device's: the read-ahead ends there, and a
// playing stream carries it into RateChange.
bool TakeFrame(const FrameRead& r)
{
    Engine& e = S();
    const std::uint32_t rate = r.format->rate;
    if (rate != e.rate) {
        if (e.phase == Phase::Playing) {
            e.carried = r;
            e.phase = Phase::RateChange;
        }
        if (CaptureFileNum > 0) {
            FinishCaptureFile();
            TellAudioMessage("The sampling rate changes from " + std::to_string(e.rate) + " Hz to " +
                             std::to_string(rate) + " Hz at " + LastFrameTimeText() +
                             ". The capture file ends before the change; playback goes on.");
        }
        return false;
    }
    const dat::AudioFormat& f = *r.format;
    if (e.captureFormat && CaptureFileNum > 0 && e.captureFormat->channels != f.channels) {
        FinishCaptureFile();
        TellAudioMessage("The tape changes from " + std::to_string(e.captureFormat->channels) + " to " +
                         std::to_string(f.channels) + " channels at " + LastFrameTimeText() +
                         ". The capture file ends before the change; playback goes on.");
    }
    if (f.channels > 2 && !e.toldFourChannels) {
        e.toldFourChannels = true;
        TellAudioMessage("This tape has four channels: playback plays channels 1 and 2.");
    }
    const std::vector<std::uint8_t> silence(f.PcmBytes(), 0);
    for (std::uint32_t i = 0; i < r.missingBefore; ++i) {
        CaptureFrame(silence.data(), f);
        Stage(nullptr, f, HeardOf(r, rate, true), false);
    }
    CaptureFrame(r.Audio(), f);
    Stage(r.Audio(), f, HeardOf(r, rate, false), r.frame.mainId.Emphasis());
    return true;
}

// Reads frames until a buffer's worth waits (30 frames), the end of the tape, a rate change
// or a failure. False when playback has ended meanwhile. A stop that arrives during a read
// lets the read-ahead run on to its end; the stream is Stopped then, and what was read is
// dropped by the next start.
bool ReadAhead()
{
    Engine& e = S();
    const std::uint64_t starts = e.captureStarts;
    bool more = true;
    while (more && e.pendingFrames.size() < kFramesPerBuffer) {
        if (e.carried) {
            const FrameRead r = std::move(*e.carried);
            e.carried.reset();
            more = TakeFrame(r);
            continue;
        }
        const FrameRead r = ReadNextFrame();
        if (e.captureStarts != starts)
            return false;  // a capture took the tape over while we read: it has the frames now
        switch (r.status) {
        case FrameStatus::Unreadable:
            break;  // muted: the next frame that reads says how many were lost
        case FrameStatus::EndOfTape: {
            // Lost frames before the end are of the last frame's format.
            const dat::AudioFormat f =
                e.lastFormat.value_or(dat::StereoFormatAt(e.rate).value_or(dat::AudioFormat{e.rate, 2}));
            const std::vector<std::uint8_t> silence(f.PcmBytes(), 0);
            HeardFrame heard =
                !e.pendingFrames.empty() ? e.pendingFrames.back().heard : e.lastHeard.value_or(HeardFrame{});
            heard.unreadable = FramePassReport().unreadable.count;
            for (std::uint32_t i = 0; i < r.missingBefore; ++i) {
                CaptureFrame(silence.data(), f);
                Stage(nullptr, f, heard, false);
            }
            if (e.phase == Phase::Playing)
                e.phase = Phase::Ending;
            more = false;
            break;
        }
        case FrameStatus::Audio:
        case FrameStatus::Concealed:
            if (!r.repeat)
                more = TakeFrame(r);
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
    const auto capacity = static_cast<std::size_t>(e.WaveBufSize);
    if (!ReadAhead())
        return;
    // Whole frames only: a buffer never splits a frame.
    std::size_t bytes = 0, frames = 0;
    while (frames < e.pendingFrames.size() && frames < kFramesPerBuffer &&
           bytes + e.pendingFrames[frames].bytes <= capacity) {
        bytes += e.pendingFrames[frames].bytes;
        ++frames;
    }
    bytes = std::min(bytes, e.pending.size());
    if (bytes == 0)
        return;
    std::memcpy(h->lpData, e.pending.data(), bytes);
    e.peaks.Append(e.pending.data(), bytes);
    e.pending.erase(e.pending.begin(), e.pending.begin() + static_cast<std::ptrdiff_t>(bytes));
    QueuedBuffer q{h, std::vector<PlayedFrame>(e.pendingFrames.begin(),
                                               e.pendingFrames.begin() + static_cast<std::ptrdiff_t>(frames))};
    e.pendingFrames.erase(e.pendingFrames.begin(), e.pendingFrames.begin() + static_cast<std::ptrdiff_t>(frames));
    // The last buffer before the end of the tape queues only the frames read: the device
    // plays the tape's audio and nothing after it.
    h->dwBufferLength = static_cast<DWORD>(bytes);
    h->dwLoops = 0;
    if (e.queued.empty())
        e.frontSince = std::chrono::steady_clock::now();
    e.queued.push_back(std::move(q));
    waveOutWrite(e.hWaveOut, h, sizeof(WAVEHDR));
}

// A buffer came back: the next one in the queue is what the device plays now. The start
// messages name buffers that were never queued: they change nothing.
void BufferReturned(const WAVEHDR* h)
{
    Engine& e = S();
    const auto it =
        std::find_if(e.queued.begin(), e.queued.end(), [h](const QueuedBuffer& q) { return q.header == h; });
    if (it == e.queued.end())
        return;
    if (!it->frames.empty())
        e.lastHeard = it->frames.back().heard;
    e.queued.erase(e.queued.begin(), it + 1);
    e.frontSince = std::chrono::steady_clock::now();
}

void AllocatePlayBuffers(std::uint32_t rate)
{
    Engine& e = S();
    e.WaveBufSize = kPlayBufferBytes;
    for (int i = 0; i < kPlayBuffers; ++i) {
        e.WaveBufHandles[i] = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(e.WaveBufSize));  // zeroed
        e.WaveBuffers[i] = e.WaveBufHandles[i].get();
    }
    const dat::AudioFormat f = dat::StereoFormatAt(rate).value_or(dat::AudioFormat{rate, 2});
    const auto blockAlign = static_cast<std::uint16_t>(f.PcmBytesPerSampleFrame());
    e.WaveFormat = {};
    e.WaveFormat.wFormatTag = WAVE_FORMAT_PCM;
    e.WaveFormat.nChannels = static_cast<std::uint16_t>(f.channels);
    e.WaveFormat.nSamplesPerSec = rate;
    e.WaveFormat.nAvgBytesPerSec = rate * blockAlign;
    e.WaveFormat.nBlockAlign = blockAlign;
    e.WaveFormat.wBitsPerSample = 16;
    e.WaveFormat.cbSize = 0;
}

// Forgets what was read ahead and what the device held.
void ClearStream()
{
    Engine& e = S();
    e.pending.clear();
    e.pendingFrames.clear();
    e.queued.clear();
    e.carried.reset();
    e.phase = Phase::Stopped;
}

// The start proper, once no device can hold the buffers any more. The device opens at the
// rate of the last frames played (48 kHz at first); a first frame at another rate reopens it
// before anything is queued.
void StartNow(const std::optional<std::string>& capturePath)
{
    Engine& e = S();
    if (PlayActive)
        return;
    if (capturePath && !OpenCaptureFile(*capturePath)) {
        NotifyEndOfTape();
        return;
    }
    ClearStream();
    e.captureFormat.reset();
    e.lastFormat.reset();
    e.toldFourChannels = false;
    e.lastHeard.reset();
    BeginFramePass();
    e.deemphasis.reset(e.rate);
    AllocatePlayBuffers(e.rate);
    if (!StartPlayback()) {
        FinishCaptureFile();
        NotifyEndOfTape();
    }
}

// A start must not free or re-prepare buffers that the previous device may still hold.
// True when that device is closed (after finishing its teardown here if nothing else runs).
bool PreviousDeviceClosed()
{
    Engine& e = S();
    if (!e.deviceOpen && !e.refilling)
        return true;
    if (e.refilling) {
        // Inside a refill's read: the refill still holds a buffer; the start waits for it.
        if (e.deviceOpen)
            waveOutReset(e.hWaveOut);
        return false;
    }
    waveOutReset(e.hWaveOut);  // hands back every buffer at once
    TearDown();
    return !e.deviceOpen;
}

// The device has played out what it held (or the stream was stopped): the end of the tape
// is told, a rate change reopens the device, and a waiting start begins. Both ends let the
// device play out what it holds; only a stop drops it.
void AfterPlayOut()
{
    Engine& e = S();
    const bool playedOut = PlayActive && !e.captureLoop && !AnyBufferQueued() && e.pending.empty();
    if (playedOut && e.phase == Phase::Ending) {
        PlayActive = false;
        e.phase = Phase::Stopped;
        FinishCaptureFile();
        TearDown();  // nothing is queued: closes, letting what ALSA holds play out
        NotifyEndOfTape();
    } else if (playedOut && e.phase == Phase::RateChange) {
        TearDown();
        if (!e.deviceOpen) {
            e.rate = e.carried->frame.mainId.SampleRateHz();
            e.phase = Phase::Playing;  // the carried frame is taken by the first refill
            e.deemphasis.reset(e.rate);
            e.queued.clear();
            AllocatePlayBuffers(e.rate);
            PlayActive = false;
            if (!StartPlayback())
                FailPlayback("The audio device cannot play " + std::to_string(e.rate) + " Hz.");
        }
    }
    if (e.phase == Phase::StartWaiting && !PlayActive && !e.deviceOpen) {
        e.phase = Phase::Stopped;
        const std::optional<std::string> path = std::exchange(e.startCapturePath, std::nullopt);
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
    if (e.refilling)
        return;
    e.refilling = true;
    while (!e.pendingRefills.empty()) {
        WAVEHDR* next = e.pendingRefills.front();
        e.pendingRefills.pop_front();
        if (PlayActive && !e.captureLoop && e.phase == Phase::Playing)
            Refill(next);
        else
            TearDown();
    }
    e.refilling = false;
    Step(MessagesWorked{});
}

void Start(const std::optional<std::string>& capturePath)
{
    Engine& e = S();
    if (PlayActive)
        return;
    if (!PreviousDeviceClosed()) {
        e.phase = Phase::StartWaiting;
        e.startCapturePath = capturePath;
        return;
    }
    if (e.phase == Phase::StartWaiting) {
        e.phase = Phase::Stopped;
        e.startCapturePath.reset();
    }
    StartNow(capturePath);
}

void Stop()
{
    Engine& e = S();
    PlayActive = false;
    e.phase = Phase::Stopped;
    e.startCapturePath.reset();
    if (e.hWaveOut > 0)
        waveOutReset(e.hWaveOut);
    e.peaks.Clear();  // the reset restarts the device's position
    FinishCaptureFile();
}

// The one transition function: every message and request of playback comes through here.
void Step(const Event& event)
{
    if (const auto* start = std::get_if<StartRequested>(&event))
        Start(start->capturePath ? std::optional<std::string>(*start->capturePath) : std::nullopt);
    else if (std::holds_alternative<StopRequested>(event))
        Stop();
    else if (const auto* done = std::get_if<BufferDone>(&event))
        TakeUpBufferDone(done->header);
    else
        AfterPlayOut();
}

bool DeckWindowProc(HWND window, QEvent* event)
{
    if (const WindowMessageEvent* m = AsWindowMessage(event); m && m->message == MM_WOM_DONE)
        Step(BufferDone{reinterpret_cast<WAVEHDR*>(m->lParam)});
    return CallWindowProcA(Hook().PrevWndProc, window, event);
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

bool StartPending() { return S().phase == Phase::StartWaiting; }

void HookDeckWindow(QWidget* deckWindow)
{
    DeckHook& hook = Hook();
    hook.hDeckWnd = deckWindow;
    hook.deckGuard = deckWindow;
    const WNDPROC previous = SetWindowProc(deckWindow, &DeckWindowProc);
    if (previous != &DeckWindowProc)
        hook.PrevWndProc = previous;
    PlayActive = false;
}

void BeginPlayback() { Step(StartRequested{}); }

void BeginPlaybackAndCapture(const std::string& path) { Step(StartRequested{&path}); }

bool StartPlayback()
{
    Engine& e = S();
    DeckHook& hook = Hook();
    if (PlayActive)
        return true;
    if (!hook.deckGuard)
        hook.hDeckWnd = nullptr;
    const MMRESULT opened = waveOutOpen(&e.hWaveOut, WAVE_MAPPER, &e.WaveFormat,
                                        reinterpret_cast<DWORD_PTR>(hook.hDeckWnd), 0, CALLBACK_WINDOW);
    if (opened != MMSYSERR_NOERROR) {
        waveOutGetErrorTextA(opened, e.WaveErrText.data(), static_cast<UINT>(e.WaveErrText.size()));
        TellAudioMessage(std::string(e.WaveErrText.data()) + "\n" + kSoundDeviceHint);
        return false;
    }
    e.deviceOpen = true;
    e.peaks.Clear();  // a device counts its position from its open
    for (int i = 0; i < kPlayBuffers; ++i) {
        WAVEHDR& h = e.WaveHeaders[i];
        h.lpData = reinterpret_cast<char*>(e.WaveBuffers[i]);
        h.dwBufferLength = static_cast<DWORD>(e.WaveBufSize);
        h.dwFlags = 0;
        h.dwLoops = 0;
        if (const MMRESULT r = waveOutPrepareHeader(e.hWaveOut, &h, sizeof(WAVEHDR)))
            TellDeviceError(r);
    }
    PlayActive = true;
    e.phase = Phase::Playing;
    for (WAVEHDR& h : e.WaveHeaders)
        PostMessageA(hook.hDeckWnd, MM_WOM_DONE, 0, reinterpret_cast<LPARAM>(&h));
    return true;
}

void StopPlayback() { Step(StopRequested{}); }

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
            heard = q.frames.back().heard;
            continue;
        }
        // Each frame lasts its own time: a long-play frame twice a standard one.
        auto played =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - e.frontSince)
                .count();
        for (const PlayedFrame& f : q.frames) {
            played -= f.milliseconds;
            if (played < 0)
                return f.heard;
        }
        return q.frames.back().heard;
    }
    return heard;
}

std::optional<ChannelPeaks> PeaksHeardNow(std::uint32_t windowMs)
{
    Engine& e = S();
    if (!PlayActive || e.captureLoop || !e.deviceOpen || e.phase == Phase::Stopped)
        return std::nullopt;
    MMTIME at;
    at.wType = TIME_SAMPLES;
    if (waveOutGetPosition(e.hWaveOut, &at, sizeof at) != MMSYSERR_NOERROR)
        return std::nullopt;
    // The device counts in 32 bits: its position lies at most 2^32 instants behind what was
    // queued, never ahead of it.
    const std::uint64_t queued = e.peaks.End();
    const std::uint32_t behind = static_cast<std::uint32_t>(queued) - at.u.sample;
    const std::uint64_t heard = queued - std::min<std::uint64_t>(behind, queued);
    const std::uint64_t window = std::uint64_t{e.rate} * windowMs / 1000;
    // A second of blocks is kept behind the position: the meters ask a few times a second.
    e.peaks.DropBefore(heard > e.rate ? heard - e.rate : 0);
    return e.peaks.Between(heard > window ? heard - window : 0, heard);
}

void SetEndOfTapeHandler(std::function<void()> handler) { S().endOfTapeHandler = std::move(handler); }

void ResetAudioState()
{
    Engine& e = S();
    PlayActive = false;
    if (e.deviceOpen) {
        waveOutReset(e.hWaveOut);
        TearDown();
    }
    FinishCaptureFile();
    e = {};
}

WAVEHDR* PlayHeader(int index) { return &S().WaveHeaders.at(static_cast<std::size_t>(index)); }
