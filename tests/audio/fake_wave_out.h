// A test double of the waveOut layer: records every call with its result, keeps the queue
// of written buffers, and hands them back (with their notifications) only when told.
#pragma once

#include <QPointer>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/wave/wave_out.h"

namespace testing_support {

struct WaveCall {
    enum Kind { Open, Prepare, Unprepare, Write, Reset, Close } kind;
    HWAVEOUT handle = 0;
    WAVEHDR* header = nullptr;
    MMRESULT result = MMSYSERR_NOERROR;
    std::vector<std::uint8_t> bytes;  // what a write queued
};

class FakeWaveOut final : public wave::WaveOutDriver {
public:
    std::vector<WaveCall> calls;
    MMRESULT openResult = MMSYSERR_NOERROR;
    std::string openText;
    MMRESULT prepareResult = MMSYSERR_NOERROR;
    // What the open device reports as played at its output; a reset or an open restarts it.
    std::uint64_t playedSamples = 0;

    MMRESULT open(HWAVEOUT* handle, UINT, const WAVEFORMATEX* format, DWORD_PTR callback, DWORD_PTR,
                  DWORD) override
    {
        if (openResult != MMSYSERR_NOERROR) {
            texts[openResult] = openText;
            return note({WaveCall::Open, 0, nullptr, openResult, {}});
        }
        lastFormat = *format;
        const HWAVEOUT h = nextHandle++;
        devices[h].target = reinterpret_cast<QObject*>(callback);
        playedSamples = 0;
        *handle = h;
        return note({WaveCall::Open, h, nullptr, MMSYSERR_NOERROR, {}});
    }
    MMRESULT prepareHeader(HWAVEOUT h, WAVEHDR* hdr, UINT) override
    {
        MMRESULT r = devices.count(h) ? prepareResult : MMSYSERR_INVALHANDLE;
        if (r == MMSYSERR_NOERROR && (hdr->dwFlags & WHDR_INQUEUE))
            r = WAVERR_STILLPLAYING;
        if (r == MMSYSERR_NOERROR)
            hdr->dwFlags |= WHDR_PREPARED;
        return note({WaveCall::Prepare, h, hdr, r, {}});
    }
    MMRESULT unprepareHeader(HWAVEOUT h, WAVEHDR* hdr, UINT) override
    {
        MMRESULT r = devices.count(h) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
        if (r == MMSYSERR_NOERROR && (hdr->dwFlags & WHDR_INQUEUE))
            r = WAVERR_STILLPLAYING;
        if (r == MMSYSERR_NOERROR)
            hdr->dwFlags &= ~WHDR_PREPARED;
        return note({WaveCall::Unprepare, h, hdr, r, {}});
    }
    MMRESULT write(HWAVEOUT h, WAVEHDR* hdr, UINT) override
    {
        MMRESULT r = devices.count(h) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
        if (r == MMSYSERR_NOERROR && !(hdr->dwFlags & WHDR_PREPARED))
            r = WAVERR_UNPREPARED;
        if (r == MMSYSERR_NOERROR && (hdr->dwFlags & WHDR_INQUEUE))
            r = WAVERR_STILLPLAYING;
        WaveCall c{WaveCall::Write, h, hdr, r, {}};
        if (r == MMSYSERR_NOERROR) {
            c.bytes.assign(hdr->lpData, hdr->lpData + hdr->dwBufferLength);
            hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
            devices[h].queue.push_back(hdr);
        }
        return note(std::move(c));
    }
    MMRESULT reset(HWAVEOUT h) override
    {
        if (!devices.count(h))
            return note({WaveCall::Reset, h, nullptr, MMSYSERR_INVALHANDLE, {}});
        note({WaveCall::Reset, h, nullptr, MMSYSERR_NOERROR, {}});
        handBack(h, devices[h].queue.size());
        playedSamples = 0;
        return MMSYSERR_NOERROR;
    }
    MMRESULT close(HWAVEOUT h) override
    {
        MMRESULT r = devices.count(h) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE;
        if (r == MMSYSERR_NOERROR && !devices[h].queue.empty())
            r = WAVERR_STILLPLAYING;
        if (r == MMSYSERR_NOERROR)
            devices.erase(h);
        return note({WaveCall::Close, h, nullptr, r, {}});
    }
    MMRESULT position(HWAVEOUT h, std::uint64_t* samples) override
    {
        if (!devices.count(h))
            return MMSYSERR_INVALHANDLE;
        *samples = playedSamples;
        return MMSYSERR_NOERROR;
    }
    std::string errorText(MMRESULT code) override { return texts.count(code) ? texts[code] : std::string(); }

    // The device "finishes" the first `n` queued buffers of `h`: each is marked done and its
    // notification posted to the window.
    void handBack(HWAVEOUT h, std::size_t n)
    {
        Device& d = devices[h];
        for (; n > 0 && !d.queue.empty(); --n) {
            WAVEHDR* hdr = d.queue.front();
            d.queue.pop_front();
            hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
            if (d.target)
                PostMessageA(d.target.data(), MM_WOM_DONE, h, reinterpret_cast<LPARAM>(hdr));
        }
    }
    // The same for the one open device.
    void handBack(std::size_t n = 1)
    {
        if (!devices.empty())
            handBack(devices.begin()->first, n);
    }

    std::vector<WaveCall> callsOf(WaveCall::Kind kind) const
    {
        std::vector<WaveCall> out;
        for (const WaveCall& c : calls)
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }
    std::size_t queued() const { return devices.empty() ? 0 : devices.begin()->second.queue.size(); }
    bool anyOpen() const { return !devices.empty(); }

    WAVEFORMATEX lastFormat;

private:
    struct Device {
        QPointer<QObject> target;
        std::deque<WAVEHDR*> queue;
    };

    MMRESULT note(WaveCall c)
    {
        const MMRESULT r = c.result;
        calls.push_back(std::move(c));
        return r;
    }

    std::map<HWAVEOUT, Device> devices;
    HWAVEOUT nextHandle = 100;
    std::map<MMRESULT, std::string> texts;
};

}  // namespace testing_support
