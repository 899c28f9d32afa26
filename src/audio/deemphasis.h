// 50/15 us de-emphasis for playback of tapes recorded with pre-emphasis: a first-order
// shelving filter (pole at 3183 Hz, zero at 10610 Hz). Captures stay bit-exact; only what the
// sound card hears is filtered.
#pragma once

#include <cstddef>
#include <cstdint>

class Deemphasis {
public:
    // Sets the coefficients for `sampleRate` (48000, 44100 or 32000) and clears the history.
    void reset(std::uint32_t sampleRate);
    // Filters `bytes` of 16-bit little-endian stereo in place.
    void process(std::uint8_t* data, std::size_t bytes);
    // The filter's gain in dB at `hz` for `sampleRate` (0 dB at DC).
    static double gainDb(std::uint32_t sampleRate, double hz);

private:
    double b0_ = 1, b1_ = 0, a1_ = 0;
    double x1_[2] = {0, 0}, y1_[2] = {0, 0};
};
