// The playback ring against the test double of the wave layer and a scripted tape.
#include "audio_fixture.h"

namespace audio_test {
namespace {

// Starts playback and waits until the four start messages have queued their buffers.
void StartAndFillRing(AudioTest& t, FakeWaveOut& device)
{
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return device.callsOf(WaveCall::Write).size() == 4; }));
    (void)t;
}

TEST_F(AudioTest, FirstFourRefillsQueueBuffersOneToFourWithTheTapeFramesInOrder)
{
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 4; }));
    ASSERT_GE(device.calls.size(), 9u);
    EXPECT_EQ(device.calls[0].kind, WaveCall::Open);
    EXPECT_EQ(device.lastFormat.nSamplesPerSec, 48000u);
    EXPECT_EQ(device.lastFormat.nBlockAlign, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(device.calls[1 + i].kind, WaveCall::Prepare);
        EXPECT_EQ(device.calls[1 + i].header, PlayHeader(i));
    }
    const auto writes = device.callsOf(WaveCall::Write);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(writes[i].header, PlayHeader(i));
        EXPECT_EQ(writes[i].result, MMSYSERR_NOERROR);
        ASSERT_EQ(writes[i].bytes.size(), 172800u);
        EXPECT_TRUE(writes[i].bytes == FramesAudio(30 * i, 30)) << "buffer " << i + 1;
    }
    EXPECT_EQ(tape.reads, 120);
    for (const auto& c : bus->commands()) {
        EXPECT_EQ(c.cdb, (std::vector<std::uint8_t>{0x08, 0x00, 0x00, 0x16, 0xBE, 0x00}));
        EXPECT_EQ(c.length, 5822u);
    }
    EXPECT_TRUE(PlayActive);
    EXPECT_EQ(deck->buffersDone, 4);  // passed on to the window after the procedure

    // Each returned buffer is refilled with the next 30 frames.
    device.handBack(1);
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 5; }));
    const WaveCall fifth = device.callsOf(WaveCall::Write)[4];
    EXPECT_EQ(fifth.header, PlayHeader(0));
    EXPECT_TRUE(fifth.bytes == FramesAudio(120, 30));
    EXPECT_EQ(tape.reads, 150);
    EXPECT_TRUE(messages.empty());
}

TEST_F(AudioTest, NotificationDuringARefillWaitsItsTurn)
{
    StartAndFillRing(*this, device);
    device.handBack(2);  // both messages are pending; the second arrives inside the first's reads
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 6; }));
    const auto writes = device.callsOf(WaveCall::Write);
    EXPECT_EQ(writes[4].header, PlayHeader(0));
    EXPECT_TRUE(writes[4].bytes == FramesAudio(120, 30));
    EXPECT_EQ(writes[5].header, PlayHeader(1));
    EXPECT_TRUE(writes[5].bytes == FramesAudio(150, 30));
    EXPECT_EQ(tape.reads, 180);
}

TEST_F(AudioTest, PlayWhilePlayingTouchesNothing)
{
    StartAndFillRing(*this, device);
    const std::size_t calls = device.calls.size();
    const auto bufferMemory = [] {
        std::array<char*, 4> data{};
        for (int i = 0; i < 4; ++i)
            data[i] = PlayHeader(i)->lpData;
        return data;
    };
    const auto buffers = bufferMemory();
    BeginPlayback();
    EXPECT_TRUE(StartPlayback());
    PumpPosted();
    EXPECT_EQ(device.calls.size(), calls);
    EXPECT_EQ(bufferMemory(), buffers);
    EXPECT_EQ(tape.reads, 120);
}

TEST_F(AudioTest, StopWhenNothingWasPlayedMakesNoDeviceCall)
{
    StopPlayback();
    StopPlayback();
    EXPECT_FALSE(PlayActive);
    EXPECT_TRUE(device.calls.empty());
}

TEST_F(AudioTest, StopTearsDownOnTheReturnedBuffersAndASecondStopChangesNothing)
{
    StartAndFillRing(*this, device);
    StopPlayback();
    EXPECT_FALSE(PlayActive);
    EXPECT_EQ(device.calls.back().kind, WaveCall::Reset);
    PumpPosted();
    EXPECT_FALSE(device.anyOpen());
    const auto closes = device.callsOf(WaveCall::Close);
    ASSERT_FALSE(closes.empty());
    EXPECT_EQ(closes.front().result, MMSYSERR_NOERROR);  // the first returned buffer closes it
    const std::size_t calls = device.calls.size();

    StopPlayback();  // finds the device closed: its error is ignored
    PumpPosted();
    ASSERT_EQ(device.calls.size(), calls + 1);
    EXPECT_EQ(device.calls.back().kind, WaveCall::Reset);
    EXPECT_EQ(device.calls.back().result, MMSYSERR_INVALHANDLE);
    EXPECT_EQ(tape.reads, 120);
    EXPECT_TRUE(messages.empty());
}

TEST_F(AudioTest, StopBeforeTheStartMessagesTearsDownInsteadOfRefilling)
{
    BeginPlayback();
    StopPlayback();
    PumpPosted();
    EXPECT_EQ(tape.reads, 0);
    EXPECT_EQ(Writes(), 0u);
    const auto closes = device.callsOf(WaveCall::Close);
    ASSERT_EQ(closes.size(), 4u);
    EXPECT_EQ(closes[0].result, MMSYSERR_NOERROR);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(closes[i].result, MMSYSERR_INVALHANDLE);
    EXPECT_EQ(deck->buffersDone, 4);
}

TEST_F(AudioTest, StopDuringARefillLetsItQueueItsBufferThenTearsDown)
{
    tape.duringRead[10] = [] { StopPlayback(); };
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 1; }));
    PumpPosted();
    EXPECT_FALSE(PlayActive);
    EXPECT_EQ(tape.reads, 30);  // the refill under way completed; the other three tore down
    EXPECT_EQ(device.callsOf(WaveCall::Write)[0].header, PlayHeader(0));
    EXPECT_TRUE(device.anyOpen());  // buffer 1 is still queued
    EXPECT_EQ(device.callsOf(WaveCall::Close).back().result, WAVERR_STILLPLAYING);
    device.handBack(1);
    PumpPosted();
    EXPECT_FALSE(device.anyOpen());
    EXPECT_EQ(device.callsOf(WaveCall::Close).back().result, MMSYSERR_NOERROR);
    EXPECT_EQ(tape.reads, 30);
}

TEST_F(AudioTest, NotificationAfterTheDeviceIsClosedIsIgnoredAndPassedOn)
{
    StartAndFillRing(*this, device);
    StopPlayback();
    PumpPosted();
    ASSERT_FALSE(device.anyOpen());
    const int seen = deck->buffersDone;
    PostMessageA(deck.get(), MM_WOM_DONE, 0, reinterpret_cast<LPARAM>(PlayHeader(2)));
    PostMessageA(deck.get(), 0x401, 1, 2);
    PumpPosted();
    EXPECT_EQ(device.calls.back().kind, WaveCall::Close);
    EXPECT_EQ(device.calls.back().result, MMSYSERR_INVALHANDLE);
    EXPECT_EQ(deck->buffersDone, seen + 1);
    EXPECT_EQ(deck->otherMessages, 1);
    EXPECT_EQ(tape.reads, 120);
}

TEST_F(AudioTest, FailedOpenShowsTheDeviceTextOnceAndPostsNothing)
{
    device.openResult = MMSYSERR_BADDEVICEID;
    device.openText = "The audio device \"hw:9\" cannot be opened: No such device.";
    BeginPlayback();
    PumpPosted();
    // The device's own text, then what to do about it, in one message.
    EXPECT_EQ(messages, (std::vector<std::string>{device.openText + "\n" + kSoundDeviceHint}));
    EXPECT_FALSE(PlayActive);
    EXPECT_EQ(deck->buffersDone, 0);
    EXPECT_EQ(device.calls.size(), 1u);
    EXPECT_EQ(tape.reads, 0);
}

TEST_F(AudioTest, FailedPrepareIsShownAndTheOtherBuffersPlay)
{
    device.prepareResult = WAVERR_BADFORMAT;  // every prepare fails: four messages
    BeginPlayback();
    PumpPosted();
    EXPECT_EQ(messages.size(), 4u);
    EXPECT_TRUE(PlayActive);
    for (const WaveCall& w : device.callsOf(WaveCall::Write))
        EXPECT_EQ(w.result, WAVERR_UNPREPARED);
}

TEST_F(AudioTest, EndOfRecordedAreaQueuesOnlyTheFramesReadLetsTheQueuePlayOutAndEndsAsAStop)
{
    tape.frames = 45;  // BLANK CHECK at the 46th read
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 2; }));
    PumpPosted();
    EXPECT_EQ(tape.reads, 46);  // no read after the end
    EXPECT_EQ(Writes(), 2u);
    const WaveCall second = device.callsOf(WaveCall::Write)[1];
    // Only the 15 frames read are queued: nothing stale and no padding reaches the device.
    EXPECT_TRUE(second.bytes == FramesAudio(30, 15));
    EXPECT_TRUE(PlayActive);  // the queued audio still plays
    EXPECT_EQ(endOfTapeCalls, 0);

    device.handBack(1);
    PumpPosted();
    EXPECT_TRUE(PlayActive);
    device.handBack(1);
    PumpPosted();
    EXPECT_FALSE(PlayActive);
    EXPECT_FALSE(device.anyOpen());
    EXPECT_EQ(endOfTapeCalls, 1);
    EXPECT_EQ(tape.reads, 46);
    EXPECT_EQ(Writes(), 2u);
}

TEST_F(AudioTest, LeadOutFrameEndsPlaybackAndIsNotPlayed)
{
    tape.frames = 30;
    tape.leadOut = true;
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 1; }));
    PumpPosted();
    EXPECT_EQ(tape.reads, 31);
    device.handBack(1);
    PumpPosted();
    EXPECT_FALSE(PlayActive);
    EXPECT_EQ(endOfTapeCalls, 1);
    EXPECT_TRUE(device.callsOf(WaveCall::Write)[0].bytes == FramesAudio(0, 30));
}

TEST_F(AudioTest, FailedReadMidTapeIsMutedAndPlaybackGoesOn)
{
    // These frames carry no absolute time, so the failed read stands for one lost frame.
    tape.failures[5] = testing_support::CheckCondition(0x03, 0x11, 0x00);  // MEDIUM ERROR
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 4; }));
    const auto first = device.callsOf(WaveCall::Write)[0].bytes;
    std::vector<std::uint8_t> expected = FramesAudio(0, 4);
    expected.insert(expected.end(), 5760, 0);  // never the previous frame again
    const auto rest = FramesAudio(4, 25);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_TRUE(first == expected);
    EXPECT_TRUE(PlayActive);
}

TEST_F(AudioTest, StartWhileDrainingFinishesTheTeardownFirst)
{
    StartAndFillRing(*this, device);
    StopPlayback();  // the four buffers come back as messages not yet handled
    BeginPlayback();
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 8; }));
    PumpPosted();
    // The second open came after the first device was closed, and no buffer the device held
    // was prepared or written again.
    std::size_t closeAt = 0, secondOpenAt = 0;
    for (std::size_t i = 0; i < device.calls.size(); ++i) {
        const WaveCall& c = device.calls[i];
        if (c.kind == WaveCall::Close && c.result == MMSYSERR_NOERROR && !closeAt)
            closeAt = i;
        if (c.kind == WaveCall::Open && i > 0)
            secondOpenAt = i;
        if (c.kind == WaveCall::Prepare || c.kind == WaveCall::Write) {
            EXPECT_EQ(c.result, MMSYSERR_NOERROR) << "call " << i;
        }
    }
    EXPECT_GT(secondOpenAt, closeAt);
    EXPECT_GT(closeAt, 0u);
    // The new session reads on from where the tape was, in order.
    const auto writes = device.callsOf(WaveCall::Write);
    for (std::uint32_t i = 4; i < 8; ++i)
        EXPECT_TRUE(writes[i].bytes == FramesAudio(30 * i, 30)) << "write " << i;
}

TEST_F(AudioTest, StartDuringARefillWaitsUntilTheOldDeviceIsClosed)
{
    StartAndFillRing(*this, device);
    tape.duringRead[130] = [] {
        StopPlayback();
        BeginPlayback();
    };
    device.handBack(1);
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 5; }));
    PumpPosted();
    EXPECT_EQ(device.callsOf(WaveCall::Open).size(), 1u);  // still waiting: buffer 1 is queued
    EXPECT_FALSE(PlayActive);
    device.handBack(1);
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 9; }));
    EXPECT_EQ(device.callsOf(WaveCall::Open).size(), 2u);
    for (const WaveCall& c : device.calls) {
        if (c.kind == WaveCall::Prepare || c.kind == WaveCall::Write) {
            EXPECT_EQ(c.result, MMSYSERR_NOERROR);
        }
    }
    EXPECT_TRUE(PlayActive);
}

// A stop and a new start inside one read, and the end of the tape met later in the same
// read-ahead: the end belongs to the stopped stream, and the start that waits still begins.
TEST_F(AudioTest, StartWaitingDuringARefillSurvivesTheEndMetInThatRefill)
{
    tape.frames = 135;  // BLANK CHECK at the 136th read, within the refill that read 130
    StartAndFillRing(*this, device);
    tape.duringRead[130] = [] {
        StopPlayback();
        BeginPlayback();
    };
    device.handBack(1);
    ASSERT_TRUE(PumpUntil([&] { return tape.reads >= 136; }));
    PumpPosted();
    EXPECT_EQ(tape.reads, 136) << "the read-ahead ran on to the end and no further";
    EXPECT_TRUE(StartPending());
    EXPECT_EQ(endOfTapeCalls, 0);
    device.handBack(1);
    ASSERT_TRUE(PumpUntil([&] { return device.callsOf(WaveCall::Open).size() == 2 && endOfTapeCalls == 1; }));
    EXPECT_FALSE(StartPending());
    EXPECT_FALSE(PlayActive);  // the new stream met the end at once
    EXPECT_TRUE(messages.empty());
}

TEST_F(AudioTest, PlayAndSaveAppendsTheQueuedFramesInTapeOrder)
{
    const std::string path = TempPath("play-and-save.wav");
    BeginPlaybackAndCapture(path);
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 4; }));
    device.handBack(1);
    ASSERT_TRUE(PumpUntil([&] { return Writes() == 5; }));
    StopPlayback();
    PumpPosted();
    const auto file = FileBytes(path);
    ASSERT_EQ(file.size(), 44u + 150 * 5760);
    EXPECT_EQ(Le32(file, 4), file.size() - 8);
    EXPECT_EQ(Le32(file, 40), file.size() - 44);
    EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), FramesAudio(0, 150).begin()));
}

}  // namespace
}  // namespace audio_test
