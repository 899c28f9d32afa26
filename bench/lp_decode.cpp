// The cost of decoding one long-play frame (5760 bytes of 12-bit codes to 3840 16-bit samples)
// in each layout, against a plain copy of the frame's 5760 bytes, in the same run; and how
// long a frame takes against the 60 ms it plays.
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "dat/frame.h"
#include "dat/nonlinear.h"

namespace {

constexpr int kRounds = 20000;

template <typename F>
double NanosecondsPerFrame(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i)
        f(i);
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(end - start).count() / kRounds;
}

}  // namespace

int main()
{
    std::array<std::uint8_t, dat::kAudioAreaBytes> area{};
    std::mt19937 rng(7);
    for (std::uint8_t& b : area)
        b = static_cast<std::uint8_t>(rng());
    std::array<std::uint8_t, dat::kAudioAreaBytes> copy{};
    std::array<std::int16_t, dat::kNonLinearSamples> pcm{};
    volatile std::uint32_t sink = 0;

    const double memcpyNs = NanosecondsPerFrame([&](int i) {
        area[0] = static_cast<std::uint8_t>(i);
        std::memcpy(copy.data(), area.data(), area.size());
        sink = sink + copy[static_cast<std::size_t>(i) % copy.size()];
    });
    std::printf("memcpy of a frame's 5760 bytes: %.0f ns\n", memcpyNs);
    for (dat::NonLinearLayout layout : dat::kNonLinearLayouts) {
        const double ns = NanosecondsPerFrame([&](int i) {
            area[0] = static_cast<std::uint8_t>(i);
            dat::DecodeNonLinear(area.data(), layout, pcm.data());
            sink = sink + static_cast<std::uint16_t>(pcm[static_cast<std::size_t>(i) % pcm.size()]);
        });
        std::printf("decode, layout %-9s: %.0f ns a frame, %.1f x the memcpy, %.5f%% of the frame's 60 ms\n",
                    std::string(dat::LayoutName(layout)).c_str(), ns, ns / memcpyNs, ns / 60e6 * 100);
    }
    return 0;
}
