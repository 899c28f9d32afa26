#include "platform/wave/wave_out.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace {

std::atomic<wave::WaveOutDriver*> g_driver{nullptr};

struct DeviceName {
    std::mutex lock;
    std::string name = "default";
};

DeviceName& ConfiguredDevice()
{
    static DeviceName d;
    return d;
}

// Texts for codes that carry no detail from the device.
const char* GenericText(MMRESULT code)
{
    switch (code) {
    case MMSYSERR_NOERROR: return "The command completed.";
    case MMSYSERR_ERROR: return "The audio device reported an error.";
    case MMSYSERR_BADDEVICEID: return "There is no such audio device.";
    case MMSYSERR_ALLOCATED: return "The audio device is in use.";
    case MMSYSERR_INVALHANDLE: return "The audio device is not open.";
    case MMSYSERR_NODRIVER: return "No audio device can be opened.";
    case MMSYSERR_INVALFLAG: return "The open request asked for a kind of notification that is not supported.";
    case MMSYSERR_INVALPARAM: return "A parameter of the audio call is invalid.";
    case WAVERR_BADFORMAT: return "The audio device does not accept this audio format.";
    case WAVERR_STILLPLAYING: return "The audio device still holds a queued buffer.";
    case WAVERR_UNPREPARED: return "The audio buffer has not been prepared.";
    default: return "Unknown audio device error.";
    }
}

}  // namespace

namespace wave {

WaveOutDriver& CurrentWaveOutDriver()
{
    WaveOutDriver* d = g_driver.load(std::memory_order_acquire);
    return d ? *d : AlsaWaveOutDriver();
}

void SetWaveOutDriver(WaveOutDriver* driver) { g_driver.store(driver, std::memory_order_release); }

}  // namespace wave

void SetWaveOutDevice(const std::string& alsaDevice)
{
    std::lock_guard lock(ConfiguredDevice().lock);
    ConfiguredDevice().name = alsaDevice.empty() ? "default" : alsaDevice;
}

std::string WaveOutDevice()
{
    std::lock_guard lock(ConfiguredDevice().lock);
    return ConfiguredDevice().name;
}

MMRESULT waveOutOpen(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags)
{
    return wave::CurrentWaveOutDriver().open(handle, deviceId, format, callback, instance, flags);
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size)
{
    return wave::CurrentWaveOutDriver().prepareHeader(handle, header, size);
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size)
{
    return wave::CurrentWaveOutDriver().unprepareHeader(handle, header, size);
}

MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header, UINT size)
{
    return wave::CurrentWaveOutDriver().write(handle, header, size);
}

MMRESULT waveOutReset(HWAVEOUT handle) { return wave::CurrentWaveOutDriver().reset(handle); }

MMRESULT waveOutClose(HWAVEOUT handle) { return wave::CurrentWaveOutDriver().close(handle); }

MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time, UINT size)
{
    if (!time || size < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    std::uint64_t samples = 0;
    if (const MMRESULT r = wave::CurrentWaveOutDriver().position(handle, &samples))
        return r;
    // The 32-bit count wraps after a day at 48 kHz; a reader compares positions modulo 2^32.
    time->wType = TIME_SAMPLES;
    time->u.sample = static_cast<DWORD>(samples);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetErrorTextA(MMRESULT code, char* text, UINT size)
{
    if (!text || size == 0)
        return MMSYSERR_INVALPARAM;
    std::string s = wave::CurrentWaveOutDriver().errorText(code);
    if (s.empty())
        s = GenericText(code);
    const std::size_t n = std::min<std::size_t>(s.size(), size - 1);
    std::memcpy(text, s.data(), n);
    text[n] = '\0';
    return MMSYSERR_NOERROR;
}
