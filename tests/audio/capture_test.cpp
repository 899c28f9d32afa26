// The WAV capture against a scripted tape.
#include <csignal>
#include <sys/resource.h>

#include "audio/close_request.h"
#include "audio_fixture.h"
#include "platform/ui/termination_signals.h"

namespace audio_test {
namespace {

class CaptureTest : public AudioTest {
protected:
    // Checks a finished file: sizes that match its length, and the tape's frames from `first`.
    void ExpectWav(const std::string& path, std::uint32_t first, std::uint32_t frames)
    {
        const auto file = FileBytes(path);
        ASSERT_EQ(file.size(), 44u + 5760u * frames);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
        EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(Le32(file, 16), 16u);
        EXPECT_EQ(Le32(file, 20), 1u | (2u << 16));  // PCM, 2 channels
        EXPECT_EQ(Le32(file, 24), 48000u);
        EXPECT_EQ(Le32(file, 28), 192000u);
        EXPECT_EQ(Le32(file, 32), 4u | (16u << 16));
        EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
        EXPECT_EQ(Le32(file, 4), 36u + 5760u * frames);
        EXPECT_EQ(Le32(file, 40), 5760u * frames);
        EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), FramesAudio(first, frames).begin()));
    }
    std::string path = TempPath("Audio48.wav");
};

TEST_F(CaptureTest, StopDuringTheFirstReadLeavesTheHeaderOnly)
{
    tape.duringRead[1] = [] { StopPlayback(); };
    EXPECT_EQ(RunCapture(path), CaptureResult::Stopped);
    EXPECT_FALSE(PlayActive);
    ExpectWav(path, 0, 0);
    EXPECT_TRUE(device.calls.empty());  // capture plays nothing
}

TEST_F(CaptureTest, CaptureOfNFramesHoldsExactlyThemAndNotTheOneUnderWay)
{
    tape.duringRead[8] = [] { StopPlayback(); };
    std::uint64_t progressFrames = 0;
    SetCaptureProgressHandler([&](std::uint64_t frames, std::uint64_t bytes) {
        progressFrames = frames;
        EXPECT_EQ(bytes, frames * 5760);
    });
    EXPECT_EQ(RunCapture(path), CaptureResult::Stopped);
    ExpectWav(path, 0, 7);
    EXPECT_EQ(progressFrames, 7u);
    StopPlayback();  // a second stop finds no file
    ExpectWav(path, 0, 7);
    EXPECT_TRUE(messages.empty());
}

TEST_F(CaptureTest, SecondCaptureReplacesTheFirst)
{
    tape.duringRead[11] = [] { StopPlayback(); };
    tape.duringRead[15] = [] { StopPlayback(); };
    RunCapture(path);
    ExpectWav(path, 0, 10);
    RunCapture(path);
    ExpectWav(path, 11, 3);  // frame 10 was under way when the first stopped
}

TEST_F(CaptureTest, EndOfRecordedAreaFinishesTheCaptureByItself)
{
    tape.frames = 7;
    EXPECT_EQ(RunCapture(path), CaptureResult::EndOfTape);
    EXPECT_FALSE(PlayActive);
    ExpectWav(path, 0, 7);
    EXPECT_EQ(tape.reads, 8);
    EXPECT_EQ(endOfTapeCalls, 1);

    tape.frames = 12;  // the tape reads on from frame 7: five more, then the lead-out
    tape.leadOut = true;
    EXPECT_EQ(RunCapture(path), CaptureResult::EndOfTape);
    ExpectWav(path, 7, 5);
}

TEST_F(CaptureTest, FailedReadMidTapeKeepsTheTimelineWithSilence)
{
    tape.failures[3] = testing_support::CheckCondition(0x03, 0x11, 0x00);
    tape.duringRead[5] = [] { StopPlayback(); };
    RunCapture(path);
    const auto file = FileBytes(path);
    // Frames 0 and 1, the lost read as silence (no absolute time to go by), frame 2.
    ASSERT_EQ(file.size(), 44u + 4 * 5760);
    EXPECT_TRUE(std::all_of(file.begin() + 44 + 2 * 5760, file.begin() + 44 + 3 * 5760, [](auto b) { return b == 0; }));
    const auto f2 = FrameAudio(2);
    EXPECT_TRUE(std::equal(f2.begin(), f2.end(), file.begin() + 44 + 3 * 5760));
    EXPECT_EQ(FramePassReport().unreadable.count, 1u);
}

TEST_F(CaptureTest, FullDiskGivesAMessageAndAValidFileOfWhatWasWritten)
{
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 44 + 5760 * 3 + 1000;  // the fourth frame only partly fits
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const CaptureResult r = RunCapture(path);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(r, CaptureResult::FileError);
    EXPECT_FALSE(PlayActive);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("File too large"), std::string::npos) << messages[0];
    ExpectWav(path, 0, 3);
}

TEST_F(CaptureTest, FileThatCannotBeCreatedGivesAMessage)
{
    EXPECT_EQ(RunCapture(TempPath("no-such-dir/Audio48.wav")), CaptureResult::FileError);
    EXPECT_FALSE(PlayActive);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("No such file or directory"), std::string::npos) << messages[0];
    EXPECT_EQ(tape.reads, 0);
}

TEST_F(CaptureTest, CaptureFinishesBeforeTheWavSizeLimit)
{
    SetCaptureFileLimit(44 + 5760 * 5 + 5000);  // stands in for 4 GiB
    EXPECT_EQ(RunCapture(path), CaptureResult::SizeLimit);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("4 GiB"), std::string::npos);
    ExpectWav(path, 0, 5);
}

TEST_F(CaptureTest, PlayDuringACaptureDoesNothingAndAnotherStartIsRefused)
{
    CaptureResult nested = CaptureResult::Stopped;
    tape.duringRead[3] = [&] {
        BeginPlayback();
        nested = RunCapture(TempPath("other.wav"));
    };
    tape.duringRead[4] = [] { StopPlayback(); };
    RunCapture(path);
    EXPECT_EQ(nested, CaptureResult::NotStarted);
    EXPECT_TRUE(device.calls.empty());
    ExpectWav(path, 0, 3);
}

TEST_F(CaptureTest, CaptureDuringPlaybackEndsThePlaybackFirst)
{
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 4; }));
    device.handBack(1);
    // Read Tape pressed while the refill reads frame 125; that read still belongs to playback.
    tape.duringRead[130] = [] { StopPlayback(); };
    tape.startDuringRead[125] = [&] {
        EXPECT_EQ(RunCapture(path), CaptureResult::Stopped);
    };
    ASSERT_TRUE(PumpUntil([&] { return tape.reads >= 130; }));
    PumpPosted();
    ExpectWav(path, 125, 4);          // the capture took the frames after the one under way
    EXPECT_EQ(Writes(), 4u);          // the interrupted refill queued nothing
    EXPECT_FALSE(device.anyOpen());   // and the playback was torn down
    EXPECT_FALSE(PlayActive);
}

TEST_F(CaptureTest, TerminationSignalDuringACaptureFinishesTheFile)
{
    bool closed = false;
    SetCloseRequestHandler([&] {
        closed = true;
        StopPlayback();
    });
    ui::CatchTerminationSignals([](int) { RunCloseRequest(); });
    tape.duringRead[6] = [] { std::raise(SIGTERM); };
    tape.duringRead[7] = [] {};  // the signal is taken up by the time read 7 waits
    const CaptureResult r = RunCapture(path);
    ui::ReleaseTerminationSignals();
    SetCloseRequestHandler({});
    EXPECT_EQ(r, CaptureResult::Stopped);
    EXPECT_TRUE(closed);
    const auto file = FileBytes(path);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    EXPECT_EQ(Le32(file, 40), file.size() - 44);
    EXPECT_EQ((file.size() - 44) % 5760, 0u);
}

}  // namespace
}  // namespace audio_test
