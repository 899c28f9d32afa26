// Long-play and four-channel tapes from the virtual drive: 12-bit codes packed in the layout
// asked for, the main ID that says so, time codes at either step, and clear refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <sndfile.h>
#include <unistd.h>

#include "dat/audio_format.h"
#include "dat/frame.h"
#include "dat/time_code.h"
#include "sim/simulator.h"
#include "sim/virtual_bus.h"
#include "support/lp_signal.h"

namespace fs = std::filesystem;

namespace {

sim::RecordingOptions Lp(dat::NonLinearLayout layout = dat::NonLinearLayout::A, unsigned step = 1)
{
    sim::RecordingOptions o;
    o.longPlay = true;
    o.lpLayout = layout;
    o.lpTimeStep = step;
    return o;
}

sim::RecordingOptions FourChannels(unsigned channels = 4, dat::NonLinearLayout layout = dat::NonLinearLayout::A)
{
    sim::RecordingOptions o;
    o.channels = channels;
    o.lpLayout = layout;
    return o;
}

dat::Frame DecodeFrame(const sim::Tape& tape, std::uint64_t n)
{
    const auto bytes = sim::FrameBytes(tape, n);
    return dat::Decode(dat::FrameBytes(bytes.data(), dat::kFrameBytes));
}

// The samples frames [0, frames) decode to in `layout`.
std::vector<std::int16_t> Decoded(const sim::Tape& tape, std::uint64_t frames, dat::NonLinearLayout layout)
{
    std::vector<std::int16_t> out(frames * dat::kNonLinearSamples);
    for (std::uint64_t n = 0; n < frames; ++n)
        dat::DecodeNonLinear(sim::FrameAudio(tape, n).data(), layout, out.data() + n * dat::kNonLinearSamples);
    return out;
}

TEST(LongPlayTape, EachLayoutHoldsTheCompressedSourceAndTheMainIdSaysLongPlay)
{
    // 2.5 frames of 1920 pairs: three frames, the last padded with silence.
    const auto source = lptest::SweepAndNoise(1920 * 2 + 960, 2);
    auto expected = lptest::Expanded(source);
    expected.resize(3 * dat::kNonLinearSamples, 0);
    for (dat::NonLinearLayout layout : dat::kNonLinearLayouts) {
        SCOPED_TRACE(std::string(dat::LayoutName(layout)));
        auto tape = sim::MakeRecordedTape({{source, 32000}}, Lp(layout));
        ASSERT_TRUE(tape);
        EXPECT_EQ(tape->frameCount(), 3u + sim::kLeadOutFrames);
        const auto bytes = sim::FrameBytes(*tape, 0);
        EXPECT_EQ(bytes[dat::kMainIdOffset], 0x08);
        EXPECT_EQ(bytes[dat::kMainIdOffset + 1], 0x40);
        const auto format = dat::FormatOf(DecodeFrame(*tape, 0).mainId);
        ASSERT_TRUE(format);
        EXPECT_EQ(format->sampleFrames, 1920u);
        EXPECT_EQ(Decoded(*tape, 3, layout), expected);
        // The lead-out is long play too.
        EXPECT_TRUE(DecodeFrame(*tape, 3).mainId.IsLongPlay());

        dat::LayoutVote vote;
        for (std::uint64_t n = 0; n < 3; ++n)
            vote.Add(sim::FrameAudio(*tape, n).data(), 2);
        EXPECT_EQ(vote.Choice().layout, layout);
        EXPECT_TRUE(vote.Choice().clear);
    }
}

TEST(LongPlayTape, TimeCodesRunAtHalfSpeedOrTwoPerFrame)
{
    const auto source = lptest::SweepAndNoise(1920 * 40, 2);
    const auto half = sim::MakeRecordedTape({{source, 32000}, {source, 32000}}, Lp());
    const auto real = sim::MakeRecordedTape({{source, 32000}, {source, 32000}}, Lp(dat::NonLinearLayout::A, 2));
    ASSERT_TRUE(half && real);
    EXPECT_EQ(sim::FirstFrameOfProgram(*half, 2), 40u);
    for (std::uint64_t n : {0u, 1u, 39u, 40u, 41u, 79u}) {
        SCOPED_TRACE(n);
        const dat::Frame h = DecodeFrame(*half, n), r = DecodeFrame(*real, n);
        EXPECT_EQ(dat::IndexOfTimeCode(h.absoluteTime->time).value(), n);
        EXPECT_EQ(dat::IndexOfTimeCode(r.absoluteTime->time).value(), 2 * n);
        EXPECT_EQ(dat::IndexOfTimeCode(r.programTime->time).value(), 2 * (n % 40));
        EXPECT_EQ(sim::FrameOfBcd(real->position(n).absoluteTime), static_cast<std::int64_t>(2 * n));
    }
}

TEST(LongPlayTape, FourChannelsTakeThirtyMillisecondFramesOfFourChannels)
{
    const auto source = lptest::SweepAndNoise(960 * 3, 4);
    auto tape = sim::MakeRecordedTape({{source, 32000}}, FourChannels(4, dat::NonLinearLayout::BSwapped));
    ASSERT_TRUE(tape);
    EXPECT_EQ(tape->frameCount(), 3u + sim::kLeadOutFrames);
    const auto bytes = sim::FrameBytes(*tape, 0);
    EXPECT_EQ(bytes[dat::kMainIdOffset], 0x09);
    EXPECT_EQ(bytes[dat::kMainIdOffset + 1], 0x40);
    const auto format = dat::FormatOf(DecodeFrame(*tape, 0).mainId);
    ASSERT_TRUE(format);
    EXPECT_EQ(format->channels, 4u);
    EXPECT_EQ(Decoded(*tape, 3, dat::NonLinearLayout::BSwapped), lptest::Expanded(source));
    EXPECT_EQ(dat::IndexOfTimeCode(DecodeFrame(*tape, 2).absoluteTime->time).value(), 2u);
}

TEST(LongPlayTape, OtherRatesAndChannelCountsAreRefused)
{
    const auto stereo = lptest::SweepAndNoise(1920, 2);
    EXPECT_FALSE(sim::MakeRecordedTape({{stereo, 48000}}, Lp()));
    EXPECT_FALSE(sim::MakeRecordedTape({{stereo, 44100}}, FourChannels()));
    EXPECT_FALSE(sim::MakeRecordedTape({{stereo, 32000}}, FourChannels(3)));
    sim::RecordingOptions both = Lp();
    both.channels = 4;
    EXPECT_FALSE(sim::MakeRecordedTape({{stereo, 32000}}, both));
}

class LongPlayDescription : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vantrel-lp-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    void writeAudio(const std::string& name, int rate, int channels)
    {
        const auto samples = lptest::SweepAndNoise(1920 * 4, static_cast<unsigned>(channels));
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open((dir / name).string().c_str(), SFM_WRITE, &info);
        ASSERT_TRUE(f) << sf_strerror(nullptr);
        sf_writef_short(f, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
        sf_close(f);
    }

    // The error of a one-device description with `keys` added, or "" when it loads.
    std::string errorOf(const std::string& keys, sim::BusConfig* out = nullptr)
    {
        sim::BusConfig config;
        std::string error;
        const std::string text = R"({"adapters": [{"devices": [{"target": 4, )" + keys + "}]}]}";
        const bool ok = sim::ParseBusDescription(text, dir.string(), config, error);
        if (out)
            *out = config;
        return ok ? std::string() : error;
    }

    fs::path dir;
};

TEST_F(LongPlayDescription, KeysMakeLongPlayAndFourChannelTapesAndBadValuesAreNamed)
{
    writeAudio("lp.wav", 32000, 2);
    writeAudio("four.wav", 32000, 4);
    writeAudio("sp.wav", 48000, 2);

    sim::BusConfig config;
    ASSERT_EQ(errorOf(R"("tape": "lp.wav", "long_play": true, "lp_layout": "b-swapped", "lp_time_step": 2)", &config),
              "");
    const auto& tape = config.adapters.at(0).devices.at(0).tape;
    ASSERT_TRUE(tape);
    EXPECT_EQ(tape->frameCount(), 4u + sim::kLeadOutFrames);
    EXPECT_TRUE(DecodeFrame(*tape, 0).mainId.IsLongPlay());
    EXPECT_EQ(sim::FrameOfBcd(tape->position(3).absoluteTime), 6);

    ASSERT_EQ(errorOf(R"("tape": "four.wav", "channels": 4)", &config), "");
    EXPECT_EQ(dat::FormatOf(DecodeFrame(*config.adapters.at(0).devices.at(0).tape, 0).mainId)->channels, 4u);

    EXPECT_NE(errorOf(R"("tape": "sp.wav", "long_play": true)").find("32000 Hz only"), std::string::npos);
    EXPECT_NE(errorOf(R"("tape": "lp.wav", "channels": 4)").find("four-channel files"), std::string::npos);
    EXPECT_NE(errorOf(R"("tape": "lp.wav", "channels": 3)").find("\"adapters[0].devices[0].channels\" must be 2 or 4"),
              std::string::npos);
    EXPECT_NE(errorOf(R"("tape": "lp.wav", "long_play": true, "lp_layout": "c")").find("lp_layout"), std::string::npos);
    EXPECT_NE(errorOf(R"("tape": "lp.wav", "long_play": true, "lp_time_step": 3)").find("lp_time_step"),
              std::string::npos);
    EXPECT_NE(errorOf(R"("tape": "lp.wav", "lp_time_step": 2)").find("only to a long-play tape"), std::string::npos);
    EXPECT_NE(errorOf(R"("tape": "demo", "long_play": true)").find("demo is 48 kHz"), std::string::npos);
    EXPECT_NE(errorOf(R"("tape": "data", "long_play": true)").find("long_play"), std::string::npos);
}

}  // namespace
