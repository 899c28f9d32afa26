#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dat/nonlinear.h"

namespace {

TEST(NonLinear, ExpansionOfTheWorkedCodesAndEveryRoundTrip)
{
    const std::pair<std::uint16_t, int> worked[] = {{0x200, 512},    {0x2FF, 1022},   {0x45A, 2768}, {0x7FF, 32704},
                                                    {0x800, -32705}, {0xDFF, -513},   {0xFFF, -1},   {0x000, 0},
                                                    {0x1FF, 511},    {0xE00, -512}};
    for (const auto& [code, sample] : worked)
        EXPECT_EQ(dat::ExpandNonLinear(code), sample) << std::hex << code;
    EXPECT_EQ(dat::CompressNonLinear(512), 0x200);
    EXPECT_EQ(dat::CompressNonLinear(32767), 0x7FF);
    EXPECT_EQ(dat::CompressNonLinear(-32768), 0x800);
    for (std::uint16_t c = 0; c < 4096; ++c)
        ASSERT_EQ(dat::CompressNonLinear(dat::ExpandNonLinear(c)), c) << std::hex << c;
    // Expansion is monotonic, so compression keeps the order of what it is given.
    for (std::uint16_t c = 0x801; c < 0x1000 + 0x800; ++c)
        ASSERT_LT(dat::ExpandNonLinear((c - 1) & 0xFFF), dat::ExpandNonLinear(c & 0xFFF)) << std::hex << c;
}

// A sweep with noise on every channel, as music-like as a test needs.
std::vector<std::int16_t> Music(unsigned channels, std::uint32_t seed)
{
    std::vector<std::int16_t> s(dat::kNonLinearSamples);
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 300);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i / channels) / 32000.0;
        const double v = 9000 * std::sin(2 * M_PI * (200 + 2000 * t) * t + static_cast<double>(i % channels)) + noise(rng);
        s[i] = static_cast<std::int16_t>(std::lround(v));
    }
    return s;
}

TEST(NonLinear, EachLayoutDecodesWhatItEncodesAndTheVoteFindsIt)
{
    for (const unsigned channels : {2u, 4u}) {
        for (const dat::NonLinearLayout layout : dat::kNonLinearLayouts) {
            SCOPED_TRACE(testing::Message() << channels << " channels, layout " << dat::LayoutName(layout));
            dat::LayoutVote vote;
            for (std::uint32_t frame = 0; frame < 4; ++frame) {
                const std::vector<std::int16_t> source = Music(channels, frame);
                std::array<std::uint8_t, 5760> area{};
                dat::EncodeNonLinear(source.data(), layout, area.data());
                std::array<std::int16_t, dat::kNonLinearSamples> decoded{};
                dat::DecodeNonLinear(area.data(), layout, decoded.data());
                for (std::size_t i = 0; i < decoded.size(); ++i)
                    ASSERT_EQ(decoded[i], dat::ExpandNonLinear(dat::CompressNonLinear(source[i]))) << i;
                vote.Add(area.data(), channels);
            }
            const dat::LayoutVote::Result choice = vote.Choice();
            EXPECT_EQ(choice.layout, layout);
            EXPECT_TRUE(choice.clear) << choice.ratio;
            EXPECT_EQ(choice.frames, 4u);
            EXPECT_EQ(dat::LayoutNamed(dat::LayoutName(layout)), layout);
        }
    }
    EXPECT_FALSE(dat::LayoutNamed("c"));
}

TEST(NonLinear, SilenceGivesNoClearChoiceAndFallsBackToA)
{
    dat::LayoutVote vote;
    std::array<std::uint8_t, 5760> zeros{}, minusOne{};
    minusOne.fill(0xFF);
    vote.Add(zeros.data(), 2);
    vote.Add(minusOne.data(), 2);
    const dat::LayoutVote::Result choice = vote.Choice();
    EXPECT_EQ(choice.frames, 0u);
    EXPECT_FALSE(choice.clear);
    EXPECT_EQ(choice.layout, dat::NonLinearLayout::A);
}

}  // namespace
