// A program run inside the kernel test VM, whose busybox has no sox: writes the music-like
// 32 kHz source a long-play tape is made from, and what a capture of that tape should hold.
//
//   kernel_lp_source DIR FRAMES PROGRAMS
//
// DIR/lp-1.wav ... lp-PROGRAMS.wav: FRAMES long-play frames (1920 stereo pairs each) of sweep
// and pink noise each, 16-bit; DIR/lp-expanded.wav: all of them one after the other, each
// sample compressed to its 12-bit code and expanded back.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/lp_signal.h"

namespace {

void Put16(std::string& out, unsigned v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

bool WriteWav(const char* path, const std::vector<std::int16_t>& samples)
{
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string out = "RIFF";
    Put32(out, 36 + bytes);
    out += "WAVEfmt ";
    Put32(out, 16);
    Put16(out, 1);  // PCM
    Put16(out, 2);
    Put32(out, 32000);
    Put32(out, 32000 * 4);
    Put16(out, 4);
    Put16(out, 16);
    out += "data";
    Put32(out, bytes);
    for (std::int16_t s : samples)
        Put16(out, static_cast<std::uint16_t>(s));
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::perror(path);
        return false;
    }
    const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (std::fclose(f) != 0 || !ok) {
        std::perror(path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "Usage: kernel_lp_source DIR FRAMES PROGRAMS\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long frames = std::strtoul(argv[2], &end, 10);
    if (*end != '\0' || frames == 0 || frames > 100000) {
        std::fprintf(stderr, "kernel_lp_source: FRAMES must be 1-100000, not '%s'\n", argv[2]);
        return 2;
    }
    const unsigned long programs = std::strtoul(argv[3], &end, 10);
    if (*end != '\0' || programs == 0 || programs > 99) {
        std::fprintf(stderr, "kernel_lp_source: PROGRAMS must be 1-99, not '%s'\n", argv[3]);
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<std::int16_t> expanded;
    for (unsigned p = 1; p <= programs; ++p) {
        // Each program its own sweep and noise, so that a program out of place shows.
        const auto source = lptest::SweepAndNoise(frames * 1920, 2, p);
        if (!WriteWav((dir + "/lp-" + std::to_string(p) + ".wav").c_str(), source))
            return 1;
        const auto e = lptest::Expanded(source);
        expanded.insert(expanded.end(), e.begin(), e.end());
    }
    return WriteWav((dir + "/lp-expanded.wav").c_str(), expanded) ? 0 : 1;
}
