// What a frame's audio is, from its main ID: the one place that knows how many samples of
// which coding a 5822-byte frame carries and how long it lasts. Everything that sizes,
// times or converts a frame's audio asks here.
//
//   const std::optional<dat::AudioFormat> f = dat::FormatOf(frame.mainId);
//   if (f) write(bytes, f->audioBytes);       // 5760, 5292 or 3840 in standard play
//   f->Seconds();                              // 0.03; 0.06 in long play
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "dat/frame.h"

namespace dat {

enum class SampleCoding : std::uint8_t {
    Linear16,     // 16-bit linear, least significant byte first as the drive delivers it
    NonLinear12,  // 12-bit non-linear: long play and the four-channel mode
};

struct AudioFormat {
    std::uint32_t rate = 0;        // sample instants per second
    unsigned channels = 0;         // 2 or 4
    SampleCoding coding = SampleCoding::Linear16;
    std::size_t audioBytes = 0;    // bytes at the start of the audio area that hold sound
    std::uint32_t sampleFrames = 0;  // sample instants in one frame (one sample per channel each)

    // How long the frame's sound lasts: 30 ms, or 60 ms in long play (the tape runs at half speed).
    double Seconds() const { return rate ? static_cast<double>(sampleFrames) / rate : 0.0; }
    std::uint32_t Milliseconds() const { return rate ? sampleFrames * 1000u / rate : 0u; }
    bool NonLinear() const { return coding == SampleCoding::NonLinear12; }
    // Bytes of one sample instant once decoded to 16-bit linear PCM.
    std::size_t PcmBytesPerSampleFrame() const { return std::size_t{channels} * 2; }
    std::size_t PcmBytes() const { return std::size_t{sampleFrames} * PcmBytesPerSampleFrame(); }

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// The format a main ID declares; nullopt for a reserved rate, channel or quantization code,
// or a combination no DAT deck records (12-bit at 48 or 44.1 kHz, four channels of 16 bits).
std::optional<AudioFormat> FormatOf(const MainId& mainId);

// Standard play at `rateHz` (48000, 44100 or 32000): 16-bit stereo, 30 ms a frame. For what
// knows only a rate, such as a WAV file's header. nullopt for any other rate.
std::optional<AudioFormat> StereoFormatAt(std::uint32_t rateHz);

}  // namespace dat
