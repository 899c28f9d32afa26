// The demo tape's music: four short pieces, each with its own key, metre, tempo and timbre,
// so that a listener (and a test) can tell the programs apart. Made from a sine table and
// note envelopes: a few tenths of a second for two minutes of stereo.
#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <numbers>

#include "sim/pcm_tape.h"

namespace sim {
namespace {

constexpr double kRate = 48000.0;

struct Piece {
    double seconds;
    int root;                      // MIDI note of the key's tonic
    bool minor;
    double bpm;
    int beatsPerBar;
    std::array<int, 4> chords;     // scale degrees (0-based) of the four bars' chords
    std::array<int, 8> pattern;    // melody: chord tone index per beat (3 = octave)
    std::array<double, 4> partials; // timbre: amplitude of harmonics 1-4
    double decay;                  // per second, of the melody notes
    double pan;                    // melody position, -1 left to 1 right
};

constexpr std::array<Piece, 4> kPieces{{
    // A bright C major arpeggio, bell-like.
    {30.0, 60, false, 120, 4, {0, 5, 3, 4}, {0, 1, 2, 3, 2, 1, 0, 2}, {1.0, 0.0, 0.35, 0.0}, 3.0, -0.3},
    // A gentle G major waltz, organ-like.
    {32.0, 67, false, 150, 3, {0, 3, 4, 0}, {0, 2, 1, 2, 3, 1, 0, 1}, {1.0, 0.5, 0.25, 0.12}, 1.2, 0.3},
    // A slow A minor theme, plucked.
    {28.0, 57, true, 84, 4, {0, 5, 2, 6}, {2, 1, 0, 1, 3, 2, 1, 0}, {1.0, 0.6, 0.3, 0.2}, 5.0, 0.0},
    // A quick D major fanfare, reedy (odd harmonics).
    {31.0, 62, false, 168, 4, {0, 4, 5, 3}, {0, 0, 1, 2, 3, 3, 2, 1}, {1.0, 0.0, 0.33, 0.0}, 2.0, 0.15},
}};

constexpr std::array<int, 7> kMajor{0, 2, 4, 5, 7, 9, 11};
constexpr std::array<int, 7> kMinor{0, 2, 3, 5, 7, 8, 10};

// One cycle of a sine; a 32-bit phase accumulator indexes it by its top 12 bits.
class SineTable {
public:
    SineTable()
    {
        for (std::size_t i = 0; i < kSize; ++i)
            table_[i] = static_cast<float>(std::sin(2 * std::numbers::pi * double(i) / kSize));
    }
    float at(std::uint32_t phase) const { return table_[phase >> 20]; }

private:
    static constexpr std::size_t kSize = 4096;
    std::array<float, kSize> table_;
};

double Frequency(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

int ChordTone(const Piece& p, int degree, int tone)
{
    const auto& scale = p.minor ? kMinor : kMajor;
    const int step = degree + 2 * (tone % 3);
    return p.root + scale[step % 7] + 12 * (step / 7) + 12 * (tone / 3);
}

// Adds one note into the stereo float buffer.
void AddNote(std::vector<float>& mix, const SineTable& sine, double start, double length, int midi,
             double gain, double pan, const std::array<double, 4>& partials, double decay)
{
    const double f = Frequency(midi);
    const auto first = static_cast<std::size_t>(start * kRate);
    const auto count = static_cast<std::size_t>(length * kRate);
    const std::size_t pairs = mix.size() / 2;
    const double left = gain * std::sqrt((1 - pan) / 2), right = gain * std::sqrt((1 + pan) / 2);
    const double attack = 0.01 * kRate, release = 0.03 * kRate;
    const double fall = std::exp(-decay / kRate);
    double env = 1.0;
    // Only the audible partials, each with its own phase accumulator.
    std::array<std::uint32_t, 4> phase{}, step{};
    std::array<float, 4> amplitude{};
    std::size_t used = 0;
    for (std::size_t h = 0; h < 4; ++h) {
        const double cycles = f * double(h + 1) / kRate;
        if (partials[h] > 0 && cycles < 0.5) {
            step[used] = static_cast<std::uint32_t>(cycles * 4294967296.0);
            amplitude[used++] = static_cast<float>(partials[h]);
        }
    }
    const std::size_t end = std::min(count, pairs > first ? pairs - first : 0);
    for (std::size_t i = 0; i < end; ++i) {
        double shape = env;
        if (double(i) < attack)
            shape *= double(i) / attack;
        if (double(count - i) < release)
            shape *= double(count - i) / release;
        float v = 0;
        for (std::size_t h = 0; h < used; ++h) {
            v += amplitude[h] * sine.at(phase[h]);
            phase[h] += step[h];
        }
        mix[2 * (first + i)] += static_cast<float>(v * shape * left);
        mix[2 * (first + i) + 1] += static_cast<float>(v * shape * right);
        env *= fall;
    }
}

Pcm Render(const Piece& p, const SineTable& sine)
{
    const std::size_t pairs = static_cast<std::size_t>(p.seconds * kRate);
    std::vector<float> mix(2 * pairs, 0.0f);
    const double beat = 60.0 / p.bpm;
    const double bar = beat * p.beatsPerBar;
    const int bars = static_cast<int>(p.seconds / bar);
    const std::array<double, 4> soft{1.0, 0.2, 0.05, 0.0};
    for (int b = 0; b < bars; ++b) {
        const int degree = p.chords[static_cast<std::size_t>(b % 4)];
        const double t0 = b * bar;
        // Bass on the root, a quiet pad of the chord, the melody on every beat.
        AddNote(mix, sine, t0, bar, ChordTone(p, degree, 0) - 24, 0.22, 0.0, soft, 0.8);
        for (int tone = 0; tone < 3; ++tone)
            AddNote(mix, sine, t0, bar, ChordTone(p, degree, tone) - 12, 0.05, tone - 1.0, soft, 0.3);
        for (int k = 0; k < p.beatsPerBar; ++k) {
            const std::size_t beatIndex = static_cast<std::size_t>(b * p.beatsPerBar + k) % p.pattern.size();
            AddNote(mix, sine, t0 + k * beat, beat * 0.95, ChordTone(p, degree, p.pattern[beatIndex]), 0.25,
                    p.pan, p.partials, p.decay);
        }
    }
    auto out = std::make_shared<std::vector<std::int16_t>>(mix.size());
    // Fade the last bar out so the piece does not stop on a click.
    const std::size_t fade = static_cast<std::size_t>(std::min(bar, p.seconds) * kRate);
    for (std::size_t i = 0; i < mix.size(); ++i) {
        double v = mix[i];
        const std::size_t pair = i / 2;
        if (pair + fade > pairs)
            v *= double(pairs - pair) / double(fade);
        (*out)[i] = static_cast<std::int16_t>(std::clamp(v, -1.0, 1.0) * 30000.0);
    }
    return out;
}

}  // namespace

std::vector<std::uint64_t> DemoProgramPairs()
{
    std::vector<std::uint64_t> pairs;
    for (const Piece& p : kPieces)
        pairs.push_back(static_cast<std::uint64_t>(p.seconds * kRate));
    return pairs;
}

Pcm SynthesizeDemoProgram(std::size_t program)
{
    // Made once per process: every demo tape (tests make many) shares the music.
    static const SineTable sine;
    static std::array<std::once_flag, kPieces.size()> made;
    static std::array<Pcm, kPieces.size()> cache;
    std::call_once(made.at(program), [program] { cache[program] = Render(kPieces[program], sine); });
    return cache[program];
}

}  // namespace sim
