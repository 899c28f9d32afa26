// The peaks the level meters read: taken per block as the sound is queued, and looked up at
// the position the device reports as heard, not at what was read or handed back last.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/peak_log.h"
#include "audio_fixture.h"

namespace audio_test {
namespace {

std::vector<std::uint8_t> Stereo(const std::vector<std::pair<std::int16_t, std::int16_t>>& pairs)
{
    std::vector<std::uint8_t> out;
    for (auto [l, r] : pairs)
        for (std::int16_t s : {l, r}) {
            out.push_back(static_cast<std::uint8_t>(s & 0xFF));
            out.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
        }
    return out;
}

TEST(PeakLog, BlocksKeepEachChannelsLargestMagnitudeAndAnswerForTheInstantsAsked)
{
    PeakLog log;
    // Block 0 (instants 0-255): left -32768 (full scale has no positive twin), right 100.
    // Block 1 (256-299, the append's short tail): left 7, right -2000.
    std::vector<std::pair<std::int16_t, std::int16_t>> first(300, {0, 0});
    first[10] = {-32768, 100};
    first[256] = {7, -2000};
    const auto bytes = Stereo(first);
    log.Append(bytes.data(), bytes.size() + 3);  // a partial instant at the end is ignored
    // A new append starts a new block: instants 300-399, silent.
    const auto quiet = Stereo(std::vector<std::pair<std::int16_t, std::int16_t>>(100, {0, 0}));
    log.Append(quiet.data(), quiet.size());
    EXPECT_EQ(log.End(), 400u);
    EXPECT_EQ(log.Blocks(), 3u);

    ChannelPeaks p = log.Between(0, 256);
    EXPECT_EQ(p.left, 32768u);
    EXPECT_EQ(p.right, 100u);
    p = log.Between(256, 300);
    EXPECT_EQ(p.left, 7u);
    EXPECT_EQ(p.right, 2000u);
    p = log.Between(255, 257);  // touches both
    EXPECT_EQ(p.left, 32768u);
    EXPECT_EQ(p.right, 2000u);
    p = log.Between(300, 400);
    EXPECT_EQ(p.left, 0u);
    EXPECT_EQ(p.right, 0u);
    p = log.Between(400, 500);  // not queued yet
    EXPECT_EQ(p.left + p.right, 0u);

    log.DropBefore(299);  // block 1 ends at 300: kept
    EXPECT_EQ(log.Blocks(), 2u);
    EXPECT_EQ(log.Between(0, 400).right, 2000u);
    log.Clear();
    EXPECT_EQ(log.End(), 0u);
    EXPECT_EQ(log.Blocks(), 0u);
}

// Frames 0-9 a square wave at -6 dBFS left and -20 dBFS right, frames 10-19 silence, and so on.
constexpr std::int16_t kLeft = 16423;  // 32768 * 10^(-6/20)
constexpr std::int16_t kRight = 3277;  // 32768 * 10^(-20/20)

std::vector<std::uint8_t> BurstFrame(std::uint32_t k)
{
    std::vector<std::uint8_t> a(dat::kAudioAreaBytes, 0);
    if ((k / 10) % 2 == 1)
        return a;
    for (std::uint32_t s = 0; s < 1440; ++s) {
        const int sign = (s / 24) % 2 ? -1 : 1;
        const auto l = static_cast<std::int16_t>(sign * kLeft), r = static_cast<std::int16_t>(sign * kRight);
        std::memcpy(&a[4 * s], &l, 2);
        std::memcpy(&a[4 * s + 2], &r, 2);
    }
    return a;
}

class Levels : public AudioTest {};

TEST_F(Levels, PeaksFollowThePositionTheDeviceHearsNotTheBuffersQueuedOrHandedBack)
{
    tape.frames = 200;
    tape.audioOf = BurstFrame;
    EXPECT_FALSE(PeaksHeardNow(30));  // nothing plays
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 4; }));
    // 120 frames queued, bursts and silences alike; the device has played nothing yet.
    std::optional<ChannelPeaks> p = PeaksHeardNow(30);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->left + p->right, 0u);

    const auto at = [&](double frames) {
        device.playedSamples = static_cast<std::uint64_t>(frames * 1440);
        return PeaksHeardNow(30).value_or(ChannelPeaks{1, 1});
    };
    // Inside the first burst: its levels exactly.
    p = at(5);
    EXPECT_EQ(p->left, 16423u);
    EXPECT_EQ(p->right, 3277u);
    EXPECT_NEAR(20 * std::log10(p->left / 32768.0), -6.0, 0.01);
    EXPECT_NEAR(20 * std::log10(p->right / 32768.0), -20.0, 0.01);
    // 40 ms into the silence: the last 30 ms heard hold no burst.
    EXPECT_EQ(at(10 + 40.0 / 30).left, 0u);
    // 20 ms in: the burst's end is still inside the last 30 ms.
    EXPECT_EQ(at(10 + 20.0 / 30).left, 16423u);

    // The device hands buffers back as soon as it holds their sound (ALSA's own buffer lies
    // beyond): the level still comes from the position it reports, in a buffer handed back.
    device.handBack(2);
    ASSERT_TRUE(PumpUntil([&] { return device.queued() == 4; }));
    EXPECT_EQ(at(25).left, 16423u);  // frames 20-29: the second burst, in a buffer handed back
    EXPECT_EQ(at(35).right, 0u);     // frames 30-39: silence, in a buffer handed back
    EXPECT_EQ(at(45).right, 3277u);  // frames 40-49: the third burst, in a buffer still queued

    // A stop resets the device: nothing is heard any more.
    StopPlayback();
    EXPECT_FALSE(PeaksHeardNow(30));
    ASSERT_TRUE(PumpUntil([&] { return !device.anyOpen(); }));
}

}  // namespace
}  // namespace audio_test
