// The waveOut driver on ALSA. Each open device has a feeder thread that writes the queued
// buffers to the PCM with blocking snd_pcm_writei, one period at a time, so that a reset is
// taken up within a period. A buffer is handed back once ALSA holds all of its bytes; the
// close drains what ALSA holds, so the tail of the sound is heard. After each write the
// feeder notes how many frames ALSA still holds (snd_pcm_delay, which a sound server's
// plugin extends by the server's own latency): the position heard is taken from that note.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <algorithm>
#include <alsa/asoundlib.h>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"

namespace wave {
namespace {

constexpr unsigned kLatencyMicroseconds = 200000;  // ALSA's own buffer; the ring is ours
constexpr snd_pcm_uframes_t kFallbackChunkFrames = 2400;

// ALSA prints its reasons on stderr; we catch the last one and put it into our own texts.
thread_local std::string t_alsaMessage;

extern "C" void CatchAlsaMessage(const char*, int, const char*, int, const char* fmt, ...)
{
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    t_alsaMessage = text;
}

void SilenceAlsaMessages()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&CatchAlsaMessage); });
}

// "step: reason": the ALSA call that failed, then ALSA's last message with the error's own
// text, e.g. "snd_pcm_open: Unknown PCM hw:9 (No such file or directory)".
std::string AlsaFailure(const char* step, int err)
{
    std::string reason = snd_strerror(err);
    if (!t_alsaMessage.empty() && t_alsaMessage != reason)
        reason = t_alsaMessage + " (" + reason + ")";
    t_alsaMessage.clear();
    return std::string(step) + ": " + reason;
}

// A failure no one waits for (the end of a device): it goes to stderr instead of a box.
void ReportLate(const std::string& device, const std::string& what, const std::string& failure)
{
    std::fprintf(stderr, "vantrel: the audio device \"%s\" %s: %s.\n", device.c_str(), what.c_str(), failure.c_str());
}

bool AlsaFormatOf(const WAVEFORMATEX& f, snd_pcm_format_t& out)
{
    if (f.wFormatTag != WAVE_FORMAT_PCM || f.nChannels == 0 || f.nSamplesPerSec == 0)
        return false;
    switch (f.wBitsPerSample) {
    case 8: out = SND_PCM_FORMAT_U8; break;
    case 16: out = SND_PCM_FORMAT_S16_LE; break;
    case 24: out = SND_PCM_FORMAT_S24_3LE; break;
    case 32: out = SND_PCM_FORMAT_S32_LE; break;
    default: return false;
    }
    return f.nBlockAlign == f.nChannels * (f.wBitsPerSample / 8);
}

const QEvent::Type kFinishedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// One open device. Created, called and destroyed on the program's thread; the feeder thread
// touches only what is grouped under feedMutex_ (and the PCM, which it alone uses while it runs).
class AlsaDevice final : public QObject {
public:
    AlsaDevice(HWAVEOUT handle, snd_pcm_t* pcm, std::string name, QObject* target, std::size_t frameBytes,
               snd_pcm_uframes_t chunkFrames, std::uint32_t rate)
        : handle_(handle), pcm_(pcm), name_(std::move(name)), frameBytes_(frameBytes), chunkFrames_(chunkFrames),
          rate_(rate), target_(target)
    {
        feeder_ = std::thread([this] { feed(); });
    }

    ~AlsaDevice() override
    {
        stopFeeder(/*drain=*/false);
        if (const int err = snd_pcm_close(pcm_); err < 0)
            ReportLate(name_, "did not close", AlsaFailure("snd_pcm_close", err));
    }

    const std::string& name() const { return name_; }
    bool holdsBuffers() const { return queued_ > 0; }

    void write(WAVEHDR* header)
    {
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        ++queued_;
        std::lock_guard lock(feedMutex_);
        pending_.push_back({header, reinterpret_cast<const std::uint8_t*>(header->lpData),
                            header->dwBufferLength / frameBytes_, 0});
        feedWake_.notify_all();
    }

    // Drops what ALSA holds and hands back every queued buffer, in order.
    void reset()
    {
        {
            std::unique_lock lock(feedMutex_);
            const std::uint64_t before = resetsDone_;
            resetRequested_ = true;
            feedWake_.notify_all();
            resetDone_.wait(lock, [&] { return resetsDone_ != before; });
        }
        deliverFinished();
    }

    // The frames heard since the open or the last reset: those written less those ALSA still
    // held at the last note, advanced by the time since at the device's rate, but never past
    // what was written (a starved device plays nothing more).
    std::uint64_t position()
    {
        std::lock_guard lock(feedMutex_);
        if (noteWritten_ == 0)
            return 0;
        const auto since = std::chrono::steady_clock::now() - noteTime_;
        const auto elapsed = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(since).count() * rate_ / 1000000);
        const std::uint64_t heard = noteWritten_ - std::min(noteWritten_, noteHeld_);
        return std::min(noteWritten_, heard + (noteRunning_ ? elapsed : 0));
    }

    // Lets ALSA play out what it holds, then ends the feeder. Only with nothing queued.
    void finish()
    {
        stopFeeder(/*drain=*/true);
        // The feeder has ended: its result is ours to read.
        if (!drainFailure_.empty())
            ReportLate(name_, "did not play out its last sound", drainFailure_);
    }

protected:
    void customEvent(QEvent* event) override
    {
        if (event->type() == kFinishedEvent)
            deliverFinished();
    }

private:
    struct Entry {
        WAVEHDR* header;
        const std::uint8_t* data;
        snd_pcm_uframes_t frames;
        snd_pcm_uframes_t framesWritten;
    };

    void stopFeeder(bool drain)
    {
        if (!feeder_.joinable())
            return;
        {
            std::lock_guard lock(feedMutex_);
            quit_ = true;
            drainOnQuit_ = drain;
            feedWake_.notify_all();
        }
        feeder_.join();
    }

    // Blocking write; underrun and suspend are recovered. The frames written, or -1 for a
    // lost device with the failed step and ALSA's reason in `failure`.
    long writeFrames(const std::uint8_t* data, snd_pcm_uframes_t frames, std::string& failure)
    {
        for (;;) {
            const snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, frames);
            if (n >= 0)
                return static_cast<long>(n);
            const int err = static_cast<int>(n);
            if (err != -EINTR && err != -EPIPE && err != -ESTRPIPE) {
                failure = AlsaFailure("snd_pcm_writei", err);
                return -1;
            }
            if (const int r = snd_pcm_recover(pcm_, err, 1); r < 0) {
                failure = AlsaFailure("snd_pcm_recover", r);
                return -1;
            }
        }
    }

    // Feeder only: what ALSA holds now, and whether it is playing (a stream waiting for its
    // start threshold holds frames but does not consume them). A device that cannot say
    // counts as holding nothing.
    void noteDelay(snd_pcm_sframes_t& held, bool& running)
    {
        held = 0;
        running = snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING;
        if (snd_pcm_delay(pcm_, &held) < 0)
            held = 0;
    }

    std::string lostText(const std::string& failure) const
    {
        return "The audio device \"" + name_ + "\" stopped working: " + failure + ".";
    }

    void feed()
    {
        std::unique_lock lock(feedMutex_);
        for (;;) {
            feedWake_.wait(lock, [&] { return quit_ || resetRequested_ || !pending_.empty(); });
            if (resetRequested_) {
                lock.unlock();
                // A device that cannot be stopped or made ready again is lost: later buffers
                // go unheard and the next delivery reports why.
                std::string failure;
                if (const int err = snd_pcm_drop(pcm_); err < 0)
                    failure = AlsaFailure("snd_pcm_drop", err);
                else if (const int err2 = snd_pcm_prepare(pcm_); err2 < 0)
                    failure = AlsaFailure("snd_pcm_prepare", err2);
                lock.lock();
                if (!failure.empty() && lostText_.empty())
                    lostText_ = lostText(failure);
                while (!pending_.empty()) {
                    finished_.push_back(pending_.front().header);
                    pending_.pop_front();
                }
                wroteSinceDrop_ = false;
                framesWritten_ = noteWritten_ = noteHeld_ = 0;
                noteRunning_ = false;
                resetRequested_ = false;
                ++resetsDone_;
                resetDone_.notify_all();
                continue;
            }
            if (quit_)
                break;
            const Entry& e = pending_.front();
            const std::uint8_t* data = e.data + e.framesWritten * frameBytes_;
            const snd_pcm_uframes_t count = std::min(chunkFrames_, e.frames - e.framesWritten);
            const bool lost = !lostText_.empty();
            lock.unlock();
            long written = static_cast<long>(count);
            std::string failure;
            snd_pcm_sframes_t held = 0;
            bool running = false;
            if (!lost && count > 0) {
                written = writeFrames(data, count, failure);
                if (written < 0)
                    written = static_cast<long>(count);  // a lost device takes the rest unheard
                else
                    noteDelay(held, running);
            }
            const auto noted = std::chrono::steady_clock::now();
            lock.lock();
            framesWritten_ += static_cast<std::uint64_t>(written);
            noteWritten_ = framesWritten_;
            noteHeld_ = static_cast<std::uint64_t>(std::max<snd_pcm_sframes_t>(held, 0));
            noteRunning_ = running;
            noteTime_ = noted;
            if (!failure.empty())
                lostText_ = lostText(failure);
            wroteSinceDrop_ = true;
            Entry& front = pending_.front();
            front.framesWritten += static_cast<snd_pcm_uframes_t>(written);
            if (front.framesWritten >= front.frames) {
                finished_.push_back(front.header);
                pending_.pop_front();
                if (!deliveryPosted_) {
                    deliveryPosted_ = true;
                    QCoreApplication::postEvent(this, new QEvent(kFinishedEvent));
                }
            }
        }
        const bool drain = drainOnQuit_ && wroteSinceDrop_ && lostText_.empty();
        lock.unlock();
        if (drain) {
            if (const int err = snd_pcm_drain(pcm_); err < 0)
                drainFailure_ = AlsaFailure("snd_pcm_drain", err);
        }
    }

    // Program's thread: marks the buffers the feeder handed back as done and notifies.
    void deliverFinished()
    {
        std::deque<WAVEHDR*> done;
        std::string lost;
        {
            std::lock_guard lock(feedMutex_);
            done.swap(finished_);
            deliveryPosted_ = false;
            if (!lostText_.empty() && !lostReported_) {
                lostReported_ = true;
                lost = lostText_;
            }
        }
        for (WAVEHDR* h : done) {
            h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            --queued_;
            if (target_)
                PostMessageA(target_.data(), MM_WOM_DONE, handle_, reinterpret_cast<LPARAM>(h));
        }
        if (!lost.empty())
            ui::ShowMessage(lost);
    }

    // Immutable while open.
    const HWAVEOUT handle_;
    snd_pcm_t* const pcm_;
    const std::string name_;
    const std::size_t frameBytes_;
    const snd_pcm_uframes_t chunkFrames_;
    const std::uint32_t rate_;

    // Program's thread only.
    QPointer<QObject> target_;
    int queued_ = 0;  // written and not yet handed back

    // Guarded by feedMutex_.
    std::mutex feedMutex_;
    std::condition_variable feedWake_;   // the feeder waits for work here
    std::condition_variable resetDone_;  // waveOutReset waits for the feeder here
    std::deque<Entry> pending_;          // queued, in order; the front is being written
    std::deque<WAVEHDR*> finished_;      // handed back by the feeder, not yet delivered
    bool deliveryPosted_ = false;
    bool resetRequested_ = false;
    std::uint64_t resetsDone_ = 0;
    bool quit_ = false;
    bool drainOnQuit_ = false;
    bool wroteSinceDrop_ = false;
    std::string lostText_;  // set once the device is lost; later buffers go unheard
    bool lostReported_ = false;
    std::uint64_t framesWritten_ = 0;  // to ALSA since the open or the last reset
    // The last note: frames written then, frames ALSA held then, whether it played, and when.
    std::uint64_t noteWritten_ = 0;
    std::uint64_t noteHeld_ = 0;
    bool noteRunning_ = false;
    std::chrono::steady_clock::time_point noteTime_;

    // Written by the feeder as it ends, read after it has been joined.
    std::string drainFailure_;

    std::thread feeder_;
};

// The open devices by handle. Program's thread only.
class AlsaDriver final : public WaveOutDriver {
public:
    MMRESULT open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR,
                  DWORD flags) override
    {
        SilenceAlsaMessages();
        const std::string name = WaveOutDevice();
        if (!handle || !format)
            return fail(MMSYSERR_INVALPARAM, "The audio device \"" + name + "\" was opened without a format.");
        if (deviceId != WAVE_MAPPER && deviceId != 0)
            return fail(MMSYSERR_BADDEVICEID, "There is no audio device number " + std::to_string(deviceId) +
                                                  "; the one device is \"" + name + "\".");
        const DWORD kind = flags & 0x70000;
        if (kind != CALLBACK_NULL && kind != CALLBACK_WINDOW)
            return fail(MMSYSERR_INVALFLAG, "The audio device \"" + name + "\" can notify a window only.");
        snd_pcm_format_t alsaFormat;
        if (!AlsaFormatOf(*format, alsaFormat))
            return fail(WAVERR_BADFORMAT, "The audio device \"" + name + "\" cannot play " + describe(*format) + ".");

        snd_pcm_t* pcm = nullptr;
        t_alsaMessage.clear();
        int err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
        if (err < 0) {
            const MMRESULT code = err == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_BADDEVICEID;
            return fail(code,
                        "The audio device \"" + name + "\" cannot be opened: " + AlsaFailure("snd_pcm_open", err) + ".");
        }
        err = snd_pcm_set_params(pcm, alsaFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format->nChannels,
                                 format->nSamplesPerSec, 1, kLatencyMicroseconds);
        if (err < 0) {
            const std::string reason = AlsaFailure("snd_pcm_set_params", err);
            snd_pcm_close(pcm);  // the failure reported is the one above
            return fail(WAVERR_BADFORMAT,
                        "The audio device \"" + name + "\" does not accept " + describe(*format) + ": " + reason + ".");
        }
        // Only the write size depends on the period: without it, a fixed size serves as well.
        snd_pcm_uframes_t bufferFrames = 0, periodFrames = 0;
        if (snd_pcm_get_params(pcm, &bufferFrames, &periodFrames) < 0 || periodFrames == 0)
            periodFrames = kFallbackChunkFrames;

        QObject* target = kind == CALLBACK_WINDOW ? reinterpret_cast<QObject*>(callback) : nullptr;
        const HWAVEOUT h = nextHandle_++;
        devices_[h] = std::make_unique<AlsaDevice>(h, pcm, name, target, format->nBlockAlign, periodFrames,
                                                   format->nSamplesPerSec);
        *handle = h;
        return MMSYSERR_NOERROR;
    }

    MMRESULT prepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size) override
    {
        if (MMRESULT r = check(handle, header, size))
            return r;
        if (header->dwFlags & WHDR_INQUEUE)
            return fail(WAVERR_STILLPLAYING, "The audio buffer is still queued on \"" + find(handle)->name() + "\".");
        header->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT unprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size) override
    {
        if (MMRESULT r = check(handle, header, size))
            return r;
        if (header->dwFlags & WHDR_INQUEUE)
            return fail(WAVERR_STILLPLAYING, "The audio buffer is still queued on \"" + find(handle)->name() + "\".");
        header->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT write(HWAVEOUT handle, WAVEHDR* header, UINT size) override
    {
        if (MMRESULT r = check(handle, header, size))
            return r;
        if (!(header->dwFlags & WHDR_PREPARED))
            return fail(WAVERR_UNPREPARED, "The audio buffer was not prepared for \"" + find(handle)->name() + "\".");
        if (header->dwFlags & WHDR_INQUEUE)
            return fail(WAVERR_STILLPLAYING, "The audio buffer is already queued on \"" + find(handle)->name() + "\".");
        if (!header->lpData && header->dwBufferLength > 0)
            return fail(MMSYSERR_INVALPARAM, "The audio buffer has no memory.");
        find(handle)->write(header);
        return MMSYSERR_NOERROR;
    }

    MMRESULT reset(HWAVEOUT handle) override
    {
        AlsaDevice* d = find(handle);
        if (!d)
            return MMSYSERR_INVALHANDLE;
        d->reset();
        return MMSYSERR_NOERROR;
    }

    MMRESULT close(HWAVEOUT handle) override
    {
        AlsaDevice* d = find(handle);
        if (!d)
            return MMSYSERR_INVALHANDLE;
        if (d->holdsBuffers())
            return fail(WAVERR_STILLPLAYING, "The audio device \"" + d->name() + "\" still holds queued buffers.");
        d->finish();
        devices_.erase(handle);
        return MMSYSERR_NOERROR;
    }

    MMRESULT position(HWAVEOUT handle, std::uint64_t* samples) override
    {
        AlsaDevice* d = find(handle);
        if (!d)
            return MMSYSERR_INVALHANDLE;
        if (!samples)
            return MMSYSERR_INVALPARAM;
        *samples = d->position();
        return MMSYSERR_NOERROR;
    }

    std::string errorText(MMRESULT code) override
    {
        auto it = lastText_.find(code);
        return it == lastText_.end() ? std::string() : it->second;
    }

private:
    AlsaDevice* find(HWAVEOUT handle)
    {
        auto it = devices_.find(handle);
        return it == devices_.end() ? nullptr : it->second.get();
    }

    MMRESULT check(HWAVEOUT handle, WAVEHDR* header, UINT size)
    {
        if (!find(handle))
            return MMSYSERR_INVALHANDLE;
        if (!header || size < sizeof(WAVEHDR))
            return MMSYSERR_INVALPARAM;
        return MMSYSERR_NOERROR;
    }

    MMRESULT fail(MMRESULT code, std::string text)
    {
        lastText_[code] = std::move(text);
        return code;
    }

    static std::string describe(const WAVEFORMATEX& f)
    {
        return "format " + std::to_string(f.wFormatTag) + " at " + std::to_string(f.nSamplesPerSec) + " Hz, " +
               std::to_string(f.nChannels) + " channels, " + std::to_string(f.wBitsPerSample) + " bits";
    }

    std::map<HWAVEOUT, std::unique_ptr<AlsaDevice>> devices_;
    HWAVEOUT nextHandle_ = 1;
    std::map<MMRESULT, std::string> lastText_;
};

}  // namespace

WaveOutDriver& AlsaWaveOutDriver()
{
    static AlsaDriver driver;
    return driver;
}

}  // namespace wave
