// The tape's own rate and emphasis: playback through ALSA's file device (written as a WAV
// file, whose header states the rate the device was opened at) sends exactly the tape's PCM;
// a rate change reopens the device once; emphasis is de-emphasized on playback only; long
// play is refused before anything is written.
#include <cmath>
#include <numbers>

#include "audio/deemphasis.h"
#include "audio/fake_wave_out.h"
#include "dat/frame_builder.h"
#include "dat/time_code.h"
#include "sim_audio.h"

namespace e2e {
namespace {

using testing_support::FakeWaveOut;
using testing_support::WaveCall;

std::vector<std::uint8_t> PcmBytes(const std::vector<std::int16_t>& pcm)
{
    std::vector<std::uint8_t> out(pcm.size() * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(pcm[i] & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>((pcm[i] >> 8) & 0xFF);
    }
    return out;
}

// `audio` is `source`, then only zeros up to the end of the last frame.
void ExpectSourceThenPadding(const std::vector<std::uint8_t>& audio, const std::vector<std::uint8_t>& source,
                             std::size_t frameBytes)
{
    ASSERT_GE(audio.size(), source.size());
    EXPECT_LT(audio.size() - source.size(), frameBytes);
    EXPECT_EQ(audio.size() % frameBytes, 0u);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), audio.begin()));
    EXPECT_TRUE(std::all_of(audio.begin() + static_cast<std::ptrdiff_t>(source.size()), audio.end(),
                            [](auto b) { return b == 0; }));
}

class TapeRateTest : public SimAudioTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(TapeRateTest, PlaybackOpensTheDeviceAtTheTapesRateAndSendsExactlyItsPcm)
{
    const std::uint32_t rate = GetParam();
    const auto pcm = NoisePcm(rate * 2 + 777);  // about 2 s, not a whole number of frames
    Load(sim::MakeRecordedTape({{pcm, rate}}));
    const auto wav = Play("wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(wav, 24), rate);  // what ALSA's file plugin was opened with
    EXPECT_EQ(Le32(wav, 20), 1u | (2u << 16));  // PCM, stereo
    EXPECT_TRUE(messages.empty());
    ExpectSourceThenPadding({wav.begin() + 44, wav.end()}, PcmBytes(pcm), rate * 3 / 100 * 4);
}

TEST_P(TapeRateTest, CaptureHasTheTapesRateInItsHeaderAndItsPcmBitExact)
{
    const std::uint32_t rate = GetParam();
    const auto pcm = NoisePcm(rate * 2 + 777);
    Load(sim::MakeRecordedTape({{pcm, rate}}));
    CaptureResult result;
    const auto audio = Capture(result, rate);
    EXPECT_EQ(result, CaptureResult::EndOfTape);
    ExpectSourceThenPadding(audio, PcmBytes(pcm), rate * 3 / 100 * 4);
    EXPECT_EQ(FramePassReport().sampleRate, rate);
}

INSTANTIATE_TEST_SUITE_P(, TapeRateTest, ::testing::Values(48000u, 44100u, 32000u));

class TapeRateDeviceTest : public SimAudioTest {
protected:
    void SetUp() override
    {
        SimAudioTest::SetUp();
        wave::SetWaveOutDriver(&device);
    }
    // Plays until the end of the tape, the fake device playing one buffer at a time.
    void PlayToTheEnd()
    {
        BeginPlayback();
        for (int i = 0; i < 10000 && ends == 0; ++i) {
            testing_support::PumpPosted();
            device.handBack(1);
        }
        ASSERT_GT(ends, 0);
    }
    FakeWaveOut device;
};

TEST_F(TapeRateDeviceTest, RateChangeReopensTheDeviceOnceAfterTheFirstProgramHasPlayedOut)
{
    const auto first = NoisePcm(1440 * 50, 1), second = NoisePcm(1323 * 40, 2);
    Load(sim::MakeRecordedTape({{first, 48000}, {second, 44100}}));
    PlayToTheEnd();
    EXPECT_TRUE(messages.empty());

    std::vector<std::uint32_t> openRates;
    std::vector<std::uint8_t> at48, at44;
    for (const WaveCall& c : device.calls) {
        if (c.kind == WaveCall::Open)
            openRates.push_back(openRates.empty() ? 48000 : 44100);
        if (c.kind == WaveCall::Write)
            (openRates.size() == 1 ? at48 : at44).insert((openRates.size() == 1 ? at48 : at44).end(), c.bytes.begin(),
                                                          c.bytes.end());
    }
    ASSERT_EQ(device.callsOf(WaveCall::Open).size(), 2u);
    EXPECT_EQ(device.lastFormat.nSamplesPerSec, 44100u);
    EXPECT_EQ(device.lastFormat.nAvgBytesPerSec, 44100u * 4);
    // Every 48 kHz frame went to the first device and every 44.1 kHz one to the second.
    EXPECT_EQ(at48, PcmBytes(first));
    EXPECT_EQ(at44, PcmBytes(second));
    // The first device was closed with nothing dropped: no reset before the reopen.
    std::size_t resets = 0;
    for (const WaveCall& c : device.calls) {
        if (c.kind == WaveCall::Open && &c != &device.calls.front())
            break;
        resets += c.kind == WaveCall::Reset;
    }
    EXPECT_EQ(resets, 0u);
}

// 20 log10 |(1 + jw 15us) / (1 + jw 50us)|
double AnalogueDeemphasisDb(double hz)
{
    const double w = 2 * std::numbers::pi * hz;
    return 10 * std::log10((1 + std::pow(w * 15e-6, 2)) / (1 + std::pow(w * 50e-6, 2)));
}

// The gain of the filter on a stereo sine, measured on its second half (after the start).
double MeasuredGainDb(std::uint32_t rate, double hz)
{
    const std::size_t pairs = rate;  // one second
    std::vector<std::int16_t> pcm(pairs * 2);
    for (std::size_t i = 0; i < pairs; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<std::int16_t>(std::lround(16000 * std::sin(2 * std::numbers::pi * hz * double(i) / rate)));
    auto bytes = PcmBytes(pcm);
    Deemphasis filter;
    filter.reset(rate);
    filter.process(bytes.data(), bytes.size());
    double in = 0, out = 0;
    for (std::size_t i = pairs / 2; i < pairs; ++i) {
        const auto y = static_cast<std::int16_t>(bytes[4 * i] | (bytes[4 * i + 1] << 8));
        in += double(pcm[2 * i]) * pcm[2 * i];
        out += double(y) * y;
    }
    return 10 * std::log10(out / in);
}

TEST(DeemphasisTest, ResponseFollowsTheAnalogueCurveAt1And10Khz)
{
    EXPECT_NEAR(AnalogueDeemphasisDb(1000), -0.37, 0.02);
    EXPECT_NEAR(AnalogueDeemphasisDb(10000), -7.6, 0.1);
    for (std::uint32_t rate : {48000u, 44100u}) {
        for (double hz : {1000.0, 10000.0}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, at " + std::to_string(hz));
            EXPECT_NEAR(Deemphasis::gainDb(rate, hz), AnalogueDeemphasisDb(hz), 0.5);
            EXPECT_NEAR(MeasuredGainDb(rate, hz), AnalogueDeemphasisDb(hz), 0.5);
        }
        EXPECT_NEAR(Deemphasis::gainDb(rate, 10), 0, 0.01);
    }
}

TEST_F(TapeRateDeviceTest, EmphasizedTapeIsCapturedBitExactAndPlayedDeemphasized)
{
    const auto pcm = NoisePcm(1440 * 40);
    Load(sim::MakeRecordedTape({{pcm, 48000}}, {.emphasis = true, .date = std::nullopt}));
    CaptureResult result;
    EXPECT_EQ(Capture(result), PcmBytes(pcm));
    EXPECT_TRUE(FramePassReport().emphasis);

    Load(sim::MakeRecordedTape({{pcm, 48000}}, {.emphasis = true, .date = std::nullopt}));
    ends = 0;
    PlayToTheEnd();
    std::vector<std::uint8_t> played;
    for (const WaveCall& c : device.callsOf(WaveCall::Write))
        played.insert(played.end(), c.bytes.begin(), c.bytes.end());
    auto expected = PcmBytes(pcm);
    Deemphasis filter;
    filter.reset(48000);
    filter.process(expected.data(), expected.size());  // one filter over the whole stream
    EXPECT_NE(played, PcmBytes(pcm));
    EXPECT_EQ(played, expected);
}

// Frames of standard play followed by frames of another main ID: long play (32 kHz, 12-bit
// non-linear) or a reserved sampling rate (code 3), which no deck records.
std::shared_ptr<const sim::Tape> ChangingTape(std::uint64_t normalFrames, std::uint64_t otherFrames, bool reserved)
{
    std::vector<std::uint8_t> dump((normalFrames + otherFrames) * 5822);
    const auto noise = NoisePcm(dump.size() / 4 + 1);
    std::memcpy(dump.data(), noise.data(), dump.size());
    for (std::uint64_t n = 0; n < normalFrames + otherFrames; ++n) {
        dat::SubcodeWriter w(dat::MutableFrameBytes(dump.data() + n * 5822, 5822));
        const bool other = n >= normalFrames;
        w.SetMainId({.sampleRateHz = !other ? 48000u : reserved ? 22050u : 32000u, .nonLinear12 = other && !reserved});
        w.AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::Of(1), 1, dat::TimeCodeOfIndex(n));
        w.SetSubId({.program = dat::ProgramNumber::Of(1)});
    }
    std::string error;
    auto tape = sim::MakeFrameDumpTape(std::move(dump), error);
    EXPECT_TRUE(tape) << error;
    return tape;
}

constexpr const char* kReservedMessage =
    "The frame after -:--:-- declares a recording format no DAT deck makes (main ID 0C 00: a reserved sampling "
    "rate or coding); reading was stopped there.";

TEST_F(TapeRateDeviceTest, AReservedMainIdIsRefusedAndNothingIsWritten)
{
    Load(ChangingTape(0, 20, true));
    CaptureResult result;
    EXPECT_TRUE(Capture(result).empty());  // the header alone
    EXPECT_EQ(result, CaptureResult::ReadFailed);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], kReservedMessage);

    messages.clear();
    ends = 0;
    Load(ChangingTape(0, 20, true));
    BeginPlayback();
    ASSERT_TRUE(testing_support::PumpUntil([this] { return ends > 0; }));
    EXPECT_TRUE(device.callsOf(WaveCall::Write).empty());
    EXPECT_FALSE(PlayActive);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], kReservedMessage);
}

TEST_F(TapeRateDeviceTest, LongPlayAfterNormalFramesEndsTheCaptureBeforeIt)
{
    // A WAV file has one rate: the capture ends where the tape changes to long play.
    Load(ChangingTape(10, 20, false));
    CaptureResult result;
    const auto audio = Capture(result);
    EXPECT_EQ(result, CaptureResult::RateChange);
    ExpectTapeFrames(audio);
    EXPECT_EQ(audio.size(), 10u * 5760);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "The sampling rate changes from 48000 Hz to 32000 Hz at 0:00:00. The capture file ends "
                           "before the change.");
}

}  // namespace
}  // namespace e2e
