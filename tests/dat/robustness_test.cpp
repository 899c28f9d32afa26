// Any 5822 bytes decode without a crash or undefined behaviour (run under AddressSanitizer and
// UBSan in CI): random frames, and valid frames with bytes flipped, from fixed seeds.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dat/audio_format.h"
#include "dat/frame_builder.h"
#include "dat/subcode_state.h"

namespace {

// Touches every decoded field the way a display would, so that nothing escapes the checks.
std::size_t Exercise(const dat::Frame& f, dat::SubcodeState& state)
{
    std::size_t n = f.mainId.RateText().size() + f.mainId.Channels();
    if (const auto format = dat::FormatOf(f.mainId))
        n += format->audioBytes + format->sampleFrames;
    n += f.subId.program.number + f.subId.packCount;
    for (const auto* t : {&f.programTime, &f.absoluteTime, &f.runningTime}) {
        if (*t) {
            n += dat::FormatHms((*t)->time).size() + dat::FormatHmsf((*t)->time).size();
            n += dat::IndexOfTimeCode((*t)->time).value_or(0);
            EXPECT_TRUE(!(*t)->time.valid || dat::InRange((*t)->time));
            EXPECT_TRUE(!(*t)->index || *(*t)->index <= 99);
        }
    }
    EXPECT_LE(f.tocCount, dat::kPackCount);
    if (f.subId.program.IsNumber()) {
        EXPECT_LE(f.subId.program.number, 799);
    }
    if (f.catalog) {
        EXPECT_TRUE(f.catalog->digits.empty() || f.catalog->digits.size() == 13);
    }
    state.Update(f);
    return n;
}

TEST(Robustness, RandomFrames)
{
    std::mt19937 rng(20261209);
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    dat::SubcodeState state;
    std::size_t sink = 0;
    for (int i = 0; i < 20000; ++i) {
        // Only the subcode matters to the decoder; randomize the audio now and then.
        const std::size_t from = i % 100 == 0 ? 0 : dat::kPacksOffset;
        for (std::size_t b = from; b < frame.size(); ++b)
            frame[b] = static_cast<std::uint8_t>(rng());
        sink += Exercise(dat::Decode(dat::FrameBytes(frame.data(), dat::kFrameBytes)), state);
    }
    EXPECT_LE(state.toc.size(), dat::SubcodeState::kMaxTocEntries);
    EXPECT_GT(sink, 0u);
}

TEST(Robustness, MutatedValidFrames)
{
    std::mt19937 rng(5822);
    std::vector<std::uint8_t> good(dat::kFrameBytes, 0);
    dat::SubcodeWriter(dat::MutableFrameBytes(good.data(), dat::kFrameBytes))
        .SetMainId({.sampleRateHz = 32000, .emphasis = true})
        .AddTimePack(dat::PackItem::ProgramTime, dat::ProgramNumber::Of(799), 99, dat::TimeCodeOfIndex(99))
        .AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::Of(799), 99, dat::TimeCodeOfIndex(11999999))
        .AddTimePack(dat::PackItem::RunningTime, dat::ProgramNumber::LeadOut(), 0, {})
        .AddDatePack({.year = 99, .month = 12, .day = 31, .hour = 23, .minute = 59, .second = 59, .weekday = 7})
        .AddTocPack(dat::ProgramNumber::LeadIn(), 1, dat::TimeCodeOfIndex(0))
        .AddCodePack(dat::PackItem::Catalog, {9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99})
        .AddCodePack(dat::PackItem::Isrc, {0xF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
        .SetSubId({.program = dat::ProgramNumber::Of(799), .start = true, .leftConcealed = true});
    dat::SubcodeState state;
    std::vector<std::uint8_t> frame;
    std::uniform_int_distribution<std::size_t> where(dat::kPacksOffset, dat::kFrameBytes - 1);
    for (int i = 0; i < 20000; ++i) {
        frame = good;
        const int flips = 1 + i % 8;
        for (int k = 0; k < flips; ++k) {
            const std::size_t at = where(rng);
            const std::uint8_t flipped = static_cast<std::uint8_t>(frame[at] ^ (1u << (rng() % 8)));
            frame[at] = i % 2 ? static_cast<std::uint8_t>(rng()) : flipped;
        }
        Exercise(dat::Decode(dat::FrameBytes(frame.data(), dat::kFrameBytes)), state);
    }
    // Extremes: all zeros, all ones.
    for (std::uint8_t fill : {0x00, 0xFF, 0xAA}) {
        frame.assign(dat::kFrameBytes, fill);
        Exercise(dat::Decode(dat::FrameBytes(frame.data(), dat::kFrameBytes)), state);
    }
}

}  // namespace
