// What decoding a frame's subcode costs, against a memcpy of the same 5822-byte frame measured
// in the same run: the reader decodes every frame it reads, so this is its per-frame overhead.
// The frames are a minute of the virtual drive's subcode (three time packs and a date), with
// a run of catalog, ISRC and TOC packs mixed in.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dat/frame_builder.h"
#include "dat/subcode_state.h"

namespace {

constexpr std::size_t kFrames = 2000;  // one minute of tape
constexpr int kRounds = 100;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::vector<std::uint8_t> MakeFrames()
{
    std::vector<std::uint8_t> bytes(kFrames * dat::kFrameBytes);
    for (std::size_t n = 0; n < kFrames; ++n) {
        std::uint8_t* f = bytes.data() + n * dat::kFrameBytes;
        for (std::size_t i = 0; i < dat::kAudioAreaBytes; ++i)
            f[i] = static_cast<std::uint8_t>(i * 7 + n);
        const dat::ProgramNumber p = dat::ProgramNumber::Of(static_cast<unsigned>(1 + n / 600));
        dat::SubcodeWriter w(dat::MutableFrameBytes(f, dat::kFrameBytes));
        w.SetMainId({.sampleRateHz = 44100})
            .AddTimePack(dat::PackItem::ProgramTime, p, 1, dat::TimeCodeOfIndex(n % 600))
            .AddTimePack(dat::PackItem::AbsoluteTime, p, 1, dat::TimeCodeOfIndex(n))
            .AddTimePack(dat::PackItem::RunningTime, p, 1, dat::TimeCodeOfIndex(n))
            .AddDatePack({.year = 26, .month = 12, .day = 9, .hour = 8, .second = unsigned(n * 3 / 100 % 60),
                          .weekday = 4});
        if (n % 10 == 0)
            w.AddCodePack(dat::PackItem::Catalog, {4, 0x00, 0x12, 0x34, 0x56, 0x78, 0x90})
                .AddCodePack(dat::PackItem::Isrc, {0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66})
                .AddTocPack(p, 1, dat::TimeCodeOfIndex(n / 600 * 600));
        w.SetSubId({.program = p, .start = n % 600 < 300});
    }
    return bytes;
}

}  // namespace

int main()
{
    using Clock = std::chrono::steady_clock;
    const std::vector<std::uint8_t> frames = MakeFrames();
    std::vector<std::uint8_t> buffer(dat::kFrameBytes);
    std::uint64_t checksum = 0;

    // Baseline first and last, so that neither side alone gets a warm cache.
    auto copyRun = [&] {
        const auto start = Clock::now();
        for (int r = 0; r < kRounds; ++r)
            for (std::size_t n = 0; n < kFrames; ++n) {
                std::memcpy(buffer.data(), frames.data() + n * dat::kFrameBytes, dat::kFrameBytes);
                checksum += buffer[(n * 13) % dat::kFrameBytes];
            }
        return Seconds(Clock::now() - start);
    };
    const double copyBefore = copyRun();

    dat::SubcodeState state;
    const auto start = Clock::now();
    for (int r = 0; r < kRounds; ++r)
        for (std::size_t n = 0; n < kFrames; ++n) {
            const dat::Frame f = dat::Decode(dat::FrameBytes(frames.data() + n * dat::kFrameBytes, dat::kFrameBytes));
            state.Update(f);
            checksum += f.subId.program.number + (f.absoluteTime ? f.absoluteTime->time.f : 0);
        }
    const double decodeSeconds = Seconds(Clock::now() - start);
    const double copySeconds = (copyBefore + copyRun()) / 2;

    const double total = double(kFrames) * kRounds;
    std::printf("decode + SubcodeState::Update: %.1f ns per frame (%.0f frames/s)\n", decodeSeconds / total * 1e9,
                total / decodeSeconds);
    std::printf("baseline memcpy of the 5822-byte frame: %.1f ns per frame\n", copySeconds / total * 1e9);
    std::printf("decoding costs %.2f x the copy; a frame lasts 30 ms, so one core decodes %.0f x real time\n",
                decodeSeconds / copySeconds, 0.03 * total / decodeSeconds);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
    return 0;
}
