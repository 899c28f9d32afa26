// Waveform audio output: the waveOut calls of the playback ring, on ALSA.
//
// A device is opened on one ALSA playback device with one PCM format; buffers are described
// by headers, queued with waveOutWrite and handed back in the order they were queued. Each
// handed-back buffer gives one MM_WOM_DONE message (platform/ui/window_messages.h) to the
// window named at open, carrying the header's address. The audio bytes go to ALSA unchanged.
//
// Thread rule: every call below is made on the program's thread, which is also where the
// notifications arrive. A header is the device's from waveOutWrite until its notification
// has been posted (WHDR_INQUEUE set): its buffer must not be touched meanwhile.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/window_messages.h"

using MMRESULT = std::uint32_t;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using HWAVEOUT = std::uintptr_t;  // 0: no device; handles are never reused

struct WAVEFORMATEX {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};

struct WAVEHDR {
    char* lpData = nullptr;
    DWORD dwBufferLength = 0;
    DWORD dwBytesRecorded = 0;
    DWORD_PTR dwUser = 0;
    DWORD dwFlags = 0;
    DWORD dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    DWORD_PTR reserved = 0;
};

inline constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
inline constexpr UINT WAVE_MAPPER = 0xFFFFFFFFu;  // the configured ALSA device
inline constexpr DWORD CALLBACK_NULL = 0;
inline constexpr DWORD CALLBACK_WINDOW = 0x10000;

inline constexpr DWORD WHDR_DONE = 0x01;
inline constexpr DWORD WHDR_PREPARED = 0x02;
inline constexpr DWORD WHDR_INQUEUE = 0x10;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_ERROR = 1;
inline constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
inline constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_NODRIVER = 6;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT WAVERR_BADFORMAT = 32;
inline constexpr MMRESULT WAVERR_STILLPLAYING = 33;
inline constexpr MMRESULT WAVERR_UNPREPARED = 34;

inline constexpr UINT MAXERRORLENGTH = 256;

// A position on the device's stream. Only TIME_SAMPLES is kept: a request for another kind
// is answered in samples, with wType saying so.
inline constexpr UINT TIME_SAMPLES = 0x0002;
inline constexpr UINT TIME_BYTES = 0x0004;
struct MMTIME {
    UINT wType = TIME_SAMPLES;
    union {
        DWORD sample;
        DWORD cb;
    } u{0};
};

// Opens `deviceId` (only WAVE_MAPPER: the device set by SetWaveOutDevice) for `format`;
// notifications go to `callback` with CALLBACK_WINDOW. 0 with *handle set, or an error code.
MMRESULT waveOutOpen(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                     DWORD_PTR instance, DWORD flags);
// Marks a header prepared; fails for a queued header.
MMRESULT waveOutPrepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size);
// Clears the prepared mark; WAVERR_STILLPLAYING while the header is queued.
MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size);
// Queues a prepared header's dwBufferLength bytes behind those already queued.
MMRESULT waveOutWrite(HWAVEOUT handle, WAVEHDR* header, UINT size);
// Stops at once and hands back every queued buffer, each with its notification, in order.
MMRESULT waveOutReset(HWAVEOUT handle);
// Closes the device, letting what ALSA already holds play out; WAVERR_STILLPLAYING while a
// buffer is queued. The handle is invalid afterwards.
MMRESULT waveOutClose(HWAVEOUT handle);
// How far the sound has got at the device's output: the sample instants that have reached
// the converter since the open or the last reset. Counts what is heard, not what was handed
// over: the device's own buffer (and a sound server's) lies between the two.
MMRESULT waveOutGetPosition(HWAVEOUT handle, MMTIME* time, UINT size);
// The text of `code`: for the device's last failure with that code it names the device and
// ALSA's reason. Always NUL-terminated within `size`.
MMRESULT waveOutGetErrorTextA(MMRESULT code, char* text, UINT size);

// The ALSA playback device that WAVE_MAPPER means ("default" until set; --audio-device).
void SetWaveOutDevice(const std::string& alsaDevice);
std::string WaveOutDevice();

namespace wave {

// What the waveOut calls reach: the ALSA layer, or a test double. Same rules as the calls.
class WaveOutDriver {
public:
    virtual ~WaveOutDriver() = default;
    virtual MMRESULT open(HWAVEOUT* handle, UINT deviceId, const WAVEFORMATEX* format, DWORD_PTR callback,
                          DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT prepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT unprepareHeader(HWAVEOUT handle, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT write(HWAVEOUT handle, WAVEHDR* header, UINT size) = 0;
    virtual MMRESULT reset(HWAVEOUT handle) = 0;
    virtual MMRESULT close(HWAVEOUT handle) = 0;
    // Sample instants played at the output since the open or the last reset.
    virtual MMRESULT position(HWAVEOUT handle, std::uint64_t* samples) = 0;
    // The detailed text of the last failure with `code`; empty for none.
    virtual std::string errorText(MMRESULT code) = 0;
};

// The driver in use: the one set, else the ALSA layer.
WaveOutDriver& CurrentWaveOutDriver();
// Replaces the driver (tests); nullptr restores the ALSA layer.
void SetWaveOutDriver(WaveOutDriver* driver);

// The ALSA layer's own driver object.
WaveOutDriver& AlsaWaveOutDriver();

}  // namespace wave
