// Read faults, each for a capture and for a playback through ALSA's file device: the output
// holds only frames the drive delivered for their position, silence exactly where frames
// were lost, and a failure ends the pass with one message instead of running on.
#include "dat/frame_builder.h"
#include "dat/time_code.h"
#include "sim_audio.h"

namespace e2e {
namespace {

constexpr std::uint64_t kFrames = 400;  // the one program; the lead-out follows

enum class Mode { Capture, Playback };

class ReadFaultsTest : public SimAudioTest, public ::testing::WithParamInterface<Mode> {
protected:
    // Capture or play the whole pass; `ended` tells whether it reached the end of the tape.
    std::vector<std::uint8_t> Run(bool& ended)
    {
        if (GetParam() == Mode::Capture) {
            CaptureResult result;
            auto audio = Capture(result);
            ended = result == CaptureResult::EndOfTape;
            return audio;
        }
        auto audio = Play();
        ended = messages.empty();
        return audio;
    }
    void LoadWith(const std::function<void(sim::DriveConfig&)>& faults)
    {
        Load(sim::MakePcmTape({NoisePcm(kFrames * 1440)}), faults);
    }
    // A failed pass: capture has every frame before the fault; playback a prefix of them
    // (the stop drops what the device still held) and never anything after.
    void ExpectStoppedBefore(const std::vector<std::uint8_t>& audio, std::uint64_t frames)
    {
        if (GetParam() == Mode::Capture)
            EXPECT_EQ(audio.size(), frames * 5760);
        else
            EXPECT_LE(audio.size(), frames * 5760);
        ExpectTapeFrames(audio);
    }
};

TEST_P(ReadFaultsTest, SkippedFrameBecomesOneFrameOfSilenceAtItsPlace)
{
    LoadWith([](sim::DriveConfig& d) { d.mediumErrors = {200}; });
    bool ended = false;
    const auto audio = Run(ended);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(audio.size(), kFrames * 5760);  // exactly as long as the tape
    ExpectTapeFrames(audio, {200});
    EXPECT_EQ(FramePassReport().unreadable.count, 1u);
    EXPECT_EQ(FramePassReport().unreadable.text(), "00:00:06.00");  // frame 200: 6 s exactly
}

TEST_P(ReadFaultsTest, FrameReadOnTheThirdTryInsertsNothing)
{
    LoadWith([](sim::DriveConfig& d) { d.retryErrors = {{200, 2}}; });
    bool ended = false;
    const auto audio = Run(ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(audio.size(), kFrames * 5760);
    ExpectTapeFrames(audio);
    EXPECT_EQ(FramePassReport().unreadable.count, 0u);
    EXPECT_EQ(ErrorSummary(FramePassReport()), "");
}

// At the start of the tape no earlier frame tells where the pass began; the first frame's
// own time still bounds what can have been lost before it.
TEST_P(ReadFaultsTest, FirstFrameOfTheTapeReadAfterRetriesOrSkipped)
{
    LoadWith([](sim::DriveConfig& d) { d.retryErrors = {{0, 2}}; });
    bool ended = false;
    auto audio = Run(ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(audio.size(), kFrames * 5760);
    ExpectTapeFrames(audio);
    EXPECT_EQ(FramePassReport().unreadable.count, 0u);

    messages.clear();
    ends = 0;
    LoadWith([](sim::DriveConfig& d) { d.mediumErrors = {0}; });
    audio = Run(ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(audio.size(), kFrames * 5760);
    ExpectTapeFrames(audio, {0});
    EXPECT_EQ(FramePassReport().unreadable.text(), "00:00:00.00");
}

TEST_P(ReadFaultsTest, ConcealedFramesAreKeptAsGivenAndCounted)
{
    LoadWith([](sim::DriveConfig& d) { d.concealed = {100, 101, 102, 103, 104}; });
    bool ended = false;
    const auto audio = Run(ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(audio.size(), kFrames * 5760);
    ExpectTapeFrames(audio);
    const ReadReport& r = FramePassReport();
    EXPECT_EQ(r.concealed.count, 5u);
    EXPECT_EQ(r.concealed.text(), "00:00:03.00\u201300:00:03.04");
    EXPECT_EQ(r.unreadable.count, 0u);
}

TEST_P(ReadFaultsTest, ConsecutiveBadFramesStopAtTheLimitNamingTheTime)
{
    LoadWith([](sim::DriveConfig& d) {
        for (std::uint64_t f = 100; f < 250; ++f)
            d.mediumErrors.push_back(f);
    });
    bool ended = true;
    const auto audio = Run(ended);
    EXPECT_FALSE(ended);
    ASSERT_EQ(messages.size(), 1u);
    // Frame 100, the first that failed, is at 3.00 s (frame 99, the last that read, at 2.97 s).
    EXPECT_EQ(messages[0], "The drive could not read 100 frames in a row at 0:00:03; reading was stopped there.");
    ExpectStoppedBefore(audio, 100);
}

TEST_P(ReadFaultsTest, LimitIsSetByMaxBadFrames)
{
    SetMaxBadFrames(10);
    LoadWith([](sim::DriveConfig& d) {
        for (std::uint64_t f = 100; f < 115; ++f)
            d.mediumErrors.push_back(f);
    });
    bool ended = true;
    const auto audio = Run(ended);
    EXPECT_FALSE(ended);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("10 frames in a row"), std::string::npos) << messages[0];
    ExpectStoppedBefore(audio, 100);
}

TEST_P(ReadFaultsTest, VanishedDriveEndsThePassWithAMessage)
{
    LoadWith([](sim::DriveConfig& d) { d.vanishAfterReads = 150; });
    bool ended = true;
    const auto audio = Run(ended);
    EXPECT_FALSE(ended);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("The drive stopped answering at 0:00:04", 0), 0u) << messages[0];
    ExpectStoppedBefore(audio, 150);
}

TEST_P(ReadFaultsTest, TimedOutReadEndsThePassWithAMessage)
{
    LoadWith([](sim::DriveConfig& d) { d.readTimeoutAt = 120; });
    bool ended = true;
    const auto audio = Run(ended);
    EXPECT_FALSE(ended);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("did not end within its time limit"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("at 0:00:03"), std::string::npos) << messages[0];  // frame 119
    ExpectStoppedBefore(audio, 120);
}

// A tape taken out mid-pass is no end of the recorded area: the pass fails, saying so.
TEST_P(ReadFaultsTest, TapeTakenOutMidPassEndsItAsAFailure)
{
    Load(sim::MakePcmTape({NoisePcm(kFrames * 1440)}), {}, 151);
    bool ended = true;
    const auto audio = Run(ended);
    EXPECT_FALSE(ended);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("at 0:00:04"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("NOT READY, medium not present"), std::string::npos) << messages[0];
    ExpectStoppedBefore(audio, 150);
}

// Play and Save: the file and the device both get the tape in step, lost frames as silence,
// concealed ones as delivered.
TEST_F(SimAudioTest, PlayAndSaveKeepsFileAndDeviceInStepWithTheTape)
{
    Load(sim::MakePcmTape({NoisePcm(kFrames * 1440)}), [](sim::DriveConfig& d) {
        d.mediumErrors = {60, 61, 250};
        d.retryErrors = {{100, 2}};
        d.concealed = {180, 181};
    });
    const std::string device = dir.filePath("device.raw").toStdString();
    const std::string file = dir.filePath("Audio48.wav").toStdString();
    SetWaveOutDevice("file:'" + device + "',raw");
    BeginPlaybackAndCapture(file);
    ASSERT_TRUE(testing_support::PumpUntil([this] { return ends > 0; }, 60000));
    ResetAudioState();
    EXPECT_TRUE(messages.empty());
    const auto played = ReadAll(device);
    const auto saved = ReadAll(file);
    ASSERT_EQ(saved.size(), 44 + kFrames * 5760);
    EXPECT_EQ(Le32(saved, 40), kFrames * 5760);
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin() + 44, saved.end()), played);
    ExpectTapeFrames(played, {60, 61, 250});
    EXPECT_EQ(FramePassReport().unreadable.count, 3u);
    EXPECT_EQ(FramePassReport().concealed.count, 2u);
}

// 200 frames of noise whose absolute time runs 0-99 and then from `secondStart` on: a tape
// recorded in two sessions whose clock did not continue.
std::shared_ptr<const sim::Tape> TwoSessionTape(std::uint64_t secondStart)
{
    std::vector<std::uint8_t> dump(200 * 5822);
    const auto noise = NoisePcm(dump.size() / 4 + 1);
    std::memcpy(dump.data(), noise.data(), dump.size());
    for (std::uint64_t n = 0; n < 200; ++n) {
        std::uint8_t* frame = dump.data() + n * 5822;
        std::memset(frame + 5760, 0, 62);
        dat::SubcodeWriter w(dat::MutableFrameBytes(frame, 5822));
        w.SetMainId({});
        w.AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::Of(1), 1,
                      dat::TimeCodeOfIndex(n < 100 ? n : secondStart + n - 100));
        w.SetSubId({.program = dat::ProgramNumber::Of(1)});
    }
    std::string error;
    auto tape = sim::MakeFrameDumpTape(std::move(dump), error);
    EXPECT_TRUE(tape) << error;
    return tape;
}

// Frames that all read are consecutive on the tape, whatever their clock says: a clock that
// starts again or jumps is no lost or repeated frame.
TEST_P(ReadFaultsTest, ClockThatStartsAgainOrJumpsLosesAndInsertsNothing)
{
    for (const std::uint64_t secondStart : {0u, 40u, 99u, 5000u}) {
        SCOPED_TRACE("second session from frame index " + std::to_string(secondStart));
        messages.clear();
        ends = 0;
        Load(TwoSessionTape(secondStart));
        bool ended = false;
        const auto audio = Run(ended);
        EXPECT_TRUE(ended);
        EXPECT_EQ(audio.size(), 200u * 5760);
        ExpectTapeFrames(audio);
        EXPECT_EQ(FramePassReport().unreadable.count, 0u);
        EXPECT_EQ(FramePassReport().frames, 200u);
    }
}

// After a failed read the drive goes back and delivers frames 48 and 49 again: each frame
// is in the output once, in order, with nothing inserted.
TEST_P(ReadFaultsTest, FramesDeliveredAgainAfterAFailureAreNotWrittenTwice)
{
    // Tape positions 0-49 hold frames 0-49, 50 cannot be read, 51 and 52 hold frames 48 and
    // 49 again, and 53-149 frames 50-146.
    const auto clean = TwoSessionTape(100);
    std::vector<std::uint8_t> dump;
    const auto add = [&](std::uint64_t n) {
        const auto f = sim::FrameBytes(*clean, n);
        dump.insert(dump.end(), f.begin(), f.end());
    };
    for (std::uint64_t n = 0; n < 50; ++n)
        add(n);
    add(50);
    add(48);
    add(49);
    for (std::uint64_t n = 50; n < 147; ++n)
        add(n);
    std::string error;
    Load(sim::MakeFrameDumpTape(std::move(dump), error), [](sim::DriveConfig& d) { d.mediumErrors = {50}; });
    bool ended = false;
    const auto audio = Run(ended);
    EXPECT_TRUE(ended);
    ASSERT_EQ(audio.size(), 147u * 5760);
    for (std::uint64_t n = 0; n < 147; ++n) {
        const auto want = sim::FrameAudio(*clean, n);
        ASSERT_TRUE(std::equal(want.begin(), want.end(), audio.begin() + static_cast<std::ptrdiff_t>(n * 5760)))
            << "frame " << n;
    }
    EXPECT_EQ(FramePassReport().unreadable.count, 0u);
}

INSTANTIATE_TEST_SUITE_P(, ReadFaultsTest, ::testing::Values(Mode::Capture, Mode::Playback),
                         [](const auto& info) { return info.param == Mode::Capture ? "Capture" : "Playback"; });

}  // namespace
}  // namespace e2e
