// Playback of long-play and four-channel tapes through ALSA's file device: the device opens at
// 32 kHz stereo and hears the expanded samples (channels 1 and 2 of a four-channel tape, said
// once); the time heard runs by each frame's own length, 60 ms in long play.
#include <chrono>

#include "audio/fake_wave_out.h"
#include "sim_audio.h"
#include "support/lp_signal.h"

namespace e2e {
namespace {

using testing_support::FakeWaveOut;
using testing_support::WaveCall;

std::vector<std::int16_t> Samples(const std::vector<std::uint8_t>& bytes, std::size_t from = 0)
{
    std::vector<std::int16_t> out((bytes.size() - from) / 2);
    std::memcpy(out.data(), bytes.data() + from, out.size() * 2);
    return out;
}

// Channels 1 and 2 of interleaved `channels`-channel samples.
std::vector<std::int16_t> FirstTwo(const std::vector<std::int16_t>& in, unsigned channels)
{
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i + channels <= in.size(); i += channels)
        out.insert(out.end(), {in[i], in[i + 1]});
    return out;
}

// `played` is `source`, then only silence up to the end of the last frame.
void ExpectSourceThenSilence(const std::vector<std::int16_t>& played, const std::vector<std::int16_t>& source,
                             std::size_t frameSamples)
{
    ASSERT_GE(played.size(), source.size());
    EXPECT_LT(played.size() - source.size(), frameSamples);
    EXPECT_EQ(played.size() % frameSamples, 0u);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), played.begin()));
    EXPECT_TRUE(std::all_of(played.begin() + static_cast<std::ptrdiff_t>(source.size()), played.end(),
                            [](auto s) { return s == 0; }));
}

class LongPlayPlaybackTest : public SimAudioTest, public ::testing::WithParamInterface<unsigned> {};

TEST_P(LongPlayPlaybackTest, DeviceAt32KhzStereoHearsTheExpandedSamples)
{
    const unsigned channels = GetParam();
    const std::size_t instants = (channels == 2 ? 1920 : 960) * 45 + 333;  // not whole frames
    const auto source = lptest::SweepAndNoise(instants, channels);
    sim::RecordingOptions options;
    options.longPlay = channels == 2;
    options.channels = channels;
    Load(sim::MakeRecordedTape({{source, 32000}}, options));
    const auto wav = Play("wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le32(wav, 24), 32000u);
    EXPECT_EQ(Le32(wav, 20), 1u | (2u << 16));  // PCM, stereo
    ExpectSourceThenSilence(Samples(wav, 44), FirstTwo(lptest::Expanded(source), channels),
                            channels == 2 ? 3840 : 1920);
    if (channels == 4) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "This tape has four channels: playback plays channels 1 and 2.");
    } else {
        EXPECT_TRUE(messages.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(, LongPlayPlaybackTest, ::testing::Values(2u, 4u));

class LongPlayDeviceTest : public SimAudioTest {
protected:
    void SetUp() override
    {
        SimAudioTest::SetUp();
        wave::SetWaveOutDriver(&device);
    }
    FakeWaveOut device;
};

TEST_F(LongPlayDeviceTest, BuffersHoldWholeSixtyMillisecondFramesAndThePanelShowsLp)
{
    const auto source = lptest::SweepAndNoise(1920 * 70, 2);
    sim::RecordingOptions options;
    options.longPlay = true;
    Load(sim::MakeRecordedTape({{source, 32000}}, options));
    BeginPlayback();
    testing_support::PumpPosted();
    const auto writes = device.callsOf(WaveCall::Write);
    ASSERT_FALSE(writes.empty());
    // 30 frames of 1920 stereo pairs: 1.8 s of sound in one buffer.
    EXPECT_EQ(writes.front().bytes.size(), 30u * 7680);
    const std::optional<HeardFrame> heard = HeardNow();
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->rateText, "32 KHz LP");
    EXPECT_EQ(heard->sampleRate, 32000u);
    // The first buffer played out: the second one plays, from frame 30 on (the tape's counter
    // runs one code a frame by default), unless 1.8 s of it went by.
    device.handBack(1);
    const std::optional<HeardFrame> after = HeardNow();
    ASSERT_TRUE(after);
    const auto index = dat::IndexOfTimeCode(after->absoluteTime);
    ASSERT_TRUE(index);
    EXPECT_GE(*index, 30u);
    EXPECT_LT(*index, 60u);
}

}  // namespace
}  // namespace e2e
