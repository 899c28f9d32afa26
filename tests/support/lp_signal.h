// A music-like test signal for long-play and four-channel tapes: a sine sweep plus pink
// noise, different in every channel, so that a layout read the wrong way shows in each one.
// Also what such a tape should give back: each sample expanded from its compressed code.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dat/nonlinear.h"

namespace lptest {

// `instants` sample instants of `channels` interleaved channels at 32 kHz; `seed` varies
// the noise and the sweep between programs.
inline std::vector<std::int16_t> SweepAndNoise(std::size_t instants, unsigned channels, unsigned seed = 1)
{
    std::vector<std::int16_t> out(instants * channels);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> white(-1.0, 1.0);
    const double pi = std::acos(-1.0);
    for (unsigned c = 0; c < channels; ++c) {
        // Paul Kellet's economy pink-noise filter.
        double b0 = 0, b1 = 0, b2 = 0;
        double phase = 0;
        // A sweep from 100 Hz to 2 kHz every ten seconds, starting at a different place in
        // each channel and program.
        const double f0 = 100.0, f1 = 2000.0, period = 10.0 * 32000;
        for (std::size_t i = 0; i < instants; ++i) {
            const double t = std::fmod(static_cast<double>(i) + 40000.0 * (c + 3 * seed), period) / period;
            phase += 2 * pi * (f0 + (f1 - f0) * t) / 32000.0;
            const double w = white(rng);
            b0 = 0.99765 * b0 + w * 0.0990460;
            b1 = 0.96300 * b1 + w * 0.2965164;
            b2 = 0.57000 * b2 + w * 1.0526913;
            const double pink = (b0 + b1 + b2 + w * 0.1848) * 0.05;
            const double v = 0.3 * std::sin(phase) + 0.02 * pink;
            out[i * channels + c] = static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32000));
        }
    }
    return out;
}

// What a non-linear tape of `source` gives back once decoded.
inline std::vector<std::int16_t> Expanded(const std::vector<std::int16_t>& source)
{
    std::vector<std::int16_t> out(source.size());
    for (std::size_t i = 0; i < source.size(); ++i)
        out[i] = dat::ExpandNonLinear(dat::CompressNonLinear(source[i]));
    return out;
}

}  // namespace lptest
