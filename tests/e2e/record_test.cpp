// Recording onto the virtual drive: the tape the plan lays out, the writes and their faults,
// the safety checks before the first write, a stop, and the read-back.
#include <QTemporaryDir>
#include <cstring>
#include <sndfile.h>

#include "audio/recorder.h"
#include "dat/frame.h"
#include "deck/drive_commands.h"
#include "platform/aspi/aspi.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"
#include "sim/written_tape.h"
#include "sim_tape.h"
#include "transport/drive_state.h"

namespace e2e {
namespace {

constexpr std::uint32_t kPairs441 = 1323;

RecordSettings Settings()
{
    RecordSettings s;
    s.date = {2026, 12, 31, 23, 59, 58};
    return s;
}

dat::Frame Decoded(const RecordPlan& plan, std::uint64_t n)
{
    std::vector<std::uint8_t> bytes(dat::kFrameBytes);
    plan.BuildFrame(n, bytes.data());
    return dat::Decode(dat::FrameBytes(bytes.data(), dat::kFrameBytes));
}

TEST(RecordPlanTest, LaysOutLeadInProgramsAndLeadOutWithTheirSubcode)
{
    // Two programs at 44.1 kHz: 400 frames less 10 pairs (the last frame padded), and 50 frames.
    RecordSettings settings = Settings();
    settings.emphasis = true;
    const RecordPlan plan =
        RecordPlan::FromPcm({NoisePcm(400 * kPairs441 - 10), NoisePcm(50 * kPairs441, 7)}, 44100, settings);
    ASSERT_EQ(plan.Programs().size(), 2u);
    EXPECT_EQ(plan.Programs()[0].firstFrame, 100u);
    EXPECT_EQ(plan.Programs()[1].firstFrame, 500u);
    EXPECT_EQ(plan.LeadOutStart(), 550u);
    EXPECT_EQ(plan.FrameCount(), 850u);

    for (std::uint64_t n : {0ull, 99ull}) {
        const dat::Frame f = Decoded(plan, n);
        EXPECT_EQ(f.subId.program, dat::ProgramNumber::LeadIn()) << n;
        ASSERT_TRUE(f.absoluteTime && f.programTime);
        EXPECT_FALSE(f.absoluteTime->time.valid);
        EXPECT_FALSE(f.programTime->time.valid);
        EXPECT_FALSE(f.date);
    }
    for (std::uint64_t n : {550ull, 849ull}) {
        const dat::Frame f = Decoded(plan, n);
        EXPECT_EQ(f.subId.program, dat::ProgramNumber::LeadOut()) << n;
        EXPECT_FALSE(f.absoluteTime->time.valid);
    }
    // Absolute time from 0 at the first program without a break; program time from 0 in each;
    // start IDs on the first 300 frames of each (all 50 of the short one).
    for (std::uint64_t n = 100; n < 550; ++n) {
        const dat::Frame f = Decoded(plan, n);
        const bool second = n >= 500;
        ASSERT_EQ(f.subId.program, dat::ProgramNumber::Of(second ? 2 : 1)) << n;
        ASSERT_EQ(dat::IndexOfTimeCode(f.absoluteTime->time), n - 100) << n;
        ASSERT_EQ(dat::IndexOfTimeCode(f.runningTime->time), n - 100) << n;
        ASSERT_EQ(dat::IndexOfTimeCode(f.programTime->time), n - (second ? 500 : 100)) << n;
        ASSERT_EQ(f.subId.start, second || n < 400) << n;
        ASSERT_TRUE(f.mainId.Emphasis());
        ASSERT_EQ(f.mainId.SampleRateHz(), 44100u);
    }
    // The date pack advances with the absolute time: 2026-12-31 23:59:58 at 0, past midnight 3 s on.
    const dat::Frame first = Decoded(plan, 100), later = Decoded(plan, 200);
    ASSERT_TRUE(first.date && later.date);
    EXPECT_EQ(first.date->year, 26u);
    EXPECT_EQ(first.date->second, 58u);
    EXPECT_EQ(first.date->weekday, 5u);  // a Thursday
    EXPECT_EQ(later.date->year, 27u);
    EXPECT_EQ(later.date->month, 1u);
    EXPECT_EQ(later.date->second, 1u);
    // The samples in order; the last frame of program 1 ends in silence.
    std::vector<std::uint8_t> bytes(dat::kFrameBytes);
    plan.BuildFrame(499, bytes.data());
    const std::vector<std::int16_t>& pcm = *plan.Programs()[0].pcm;
    EXPECT_EQ(std::memcmp(bytes.data(), pcm.data() + 2 * 399 * kPairs441, (kPairs441 - 10) * 4), 0);
    EXPECT_TRUE(std::all_of(bytes.begin() + (kPairs441 - 10) * 4, bytes.begin() + 5760, [](auto b) { return b == 0; }));
}

TEST(RecordPlanTest, GapStartIdLengthAndStop)
{
    RecordSettings settings = Settings();
    settings.gapSeconds = 1.5;  // 72000 pairs at 48 kHz: 50 frames
    settings.startIdSeconds = 10;
    RecordPlan plan =
        RecordPlan::FromPcm({NoisePcm(1440 * 400), NoisePcm(1440 * 400), NoisePcm(1440 * 10)}, 48000, settings);
    EXPECT_EQ(plan.StartIdFrames(), 333u);
    EXPECT_EQ(plan.Programs()[1].firstFrame, 100u + 450u);
    EXPECT_EQ(plan.Programs()[2].firstFrame, 100u + 900u);
    EXPECT_EQ(plan.LeadOutStart(), 1010u);  // no gap after the last program
    EXPECT_TRUE(Decoded(plan, 100 + 332).subId.start);
    EXPECT_FALSE(Decoded(plan, 100 + 333).subId.start);
    std::vector<std::uint8_t> bytes(dat::kFrameBytes);
    plan.BuildFrame(100 + 449, bytes.data());  // the gap is silence within program 1
    EXPECT_EQ(Decoded(plan, 100 + 449).subId.program, dat::ProgramNumber::Of(1));
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + 5760, [](auto b) { return b == 0; }));
    plan.EndProgramsAt(700);
    EXPECT_EQ(plan.FrameCount(), 1000u);
    EXPECT_EQ(Decoded(plan, 700).subId.program, dat::ProgramNumber::LeadOut());
    EXPECT_EQ(Decoded(plan, 699).subId.program, dat::ProgramNumber::Of(2));
}

// A sound file written with libsndfile.
void WriteSound(const std::string& path, int format, int rate, int channels, sf_count_t frames)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(f) << sf_strerror(nullptr);
    std::vector<std::int16_t> pcm = NoisePcm(static_cast<std::size_t>(frames * channels / 2 + 1));
    pcm.resize(static_cast<std::size_t>(frames * channels));
    sf_writef_short(f, pcm.data(), frames);
    sf_close(f);
}

TEST(RecordPlanTest, FilesAreCheckedBeforeAnythingIsWritten)
{
    QTemporaryDir dir;
    const auto path = [&](const char* name) { return dir.filePath(name).toStdString(); };
    WriteSound(path("a.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 5000);
    WriteSound(path("b.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, 3000);
    WriteSound(path("c.aiff"), SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, 2, 100);
    WriteSound(path("hi.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 96000, 2, 100);
    WriteSound(path("deep.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2, 100);
    WriteSound(path("other.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 100);
    WriteSound(path("four.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 4, 100);

    std::string error;
    const std::optional<RecordPlan> plan =
        RecordPlan::FromFiles({path("a.wav"), path("b.flac"), path("c.aiff")}, Settings(), error);
    ASSERT_TRUE(plan) << error;
    EXPECT_EQ(plan->Rate(), 44100u);
    ASSERT_EQ(plan->Programs().size(), 3u);
    EXPECT_EQ(plan->Programs()[1].pairs, 3000u);
    // Mono goes to both channels.
    const std::vector<std::int16_t>& mono = *plan->Programs()[1].pcm;
    for (std::size_t i = 0; i < 3000; ++i)
        ASSERT_EQ(mono[2 * i], mono[2 * i + 1]) << i;

    struct Case {
        std::vector<const char*> files;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {{"a.wav", "hi.wav"}, {"hi.wav is 96000 Hz", "sox '", "rate 44100"}},
        {{"deep.wav"}, {"deep.wav is 44100 Hz, 24-bit", "-b 16", "deep-dat.wav"}},
        {{"a.wav", "other.wav"}, {"other.wav is 48000 Hz but", "a.wav is 44100 Hz", "rate 44100"}},
        {{"four.wav"}, {"4 channels", "remix 1 2"}},
        {{"missing.wav"}, {"missing.wav: cannot be read"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> files;
        for (const char* f : c.files)
            files.push_back(path(f));
        EXPECT_FALSE(RecordPlan::FromFiles(files, Settings(), error)) << c.files.back();
        for (const std::string& s : c.said)
            EXPECT_NE(error.find(s), std::string::npos) << error;
    }
}

// The recorder against the virtual drive at read speed 0.
class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ResetDriveState();
        AspiAdapter = 0;
        AspiTarget = 4;
    }
    void TearDown() override
    {
        aspi::InstallBackend(nullptr);
        ResetDriveState();
    }

    std::string Saved() const { return dir.filePath("saved.dat").toStdString(); }

    void Load(std::shared_ptr<const sim::Tape> tape, const std::function<void(sim::DriveConfig&)>& faults = {})
    {
        sim::BusConfig config;
        config.readSpeed = 0;
        config.clock = std::make_shared<sim::VirtualClock>();
        sim::DriveConfig drive;
        drive.tape = std::move(tape);
        drive.saveTape = Saved();
        if (faults)
            faults(drive);
        config.adapters[0].devices.push_back(drive);
        std::string error;
        auto made = sim::CreateBus(config, error);
        ASSERT_TRUE(made) << error;
        bus = made.get();
        aspi::InstallBackend(std::move(made));
        TestUnitReady(AspiAdapter, AspiTarget);
    }

    // The tape as saved when it is taken out.
    std::vector<std::uint8_t> TakeOut()
    {
        bus->removeTape(0, 4);
        return ReadAll(Saved());
    }

    static RecordPlan TwoPrograms()
    {
        return RecordPlan::FromPcm({NoisePcm(120 * 1440 - 3), NoisePcm(80 * 1440, 99)}, 48000, Settings());
    }

    static void RunAll(TapeRecorder& r)
    {
        while (r.Step()) {
        }
    }
    static void VerifyAll(TapeRecorder& r)
    {
        r.BeginVerify();
        while (r.VerifyStep()) {
        }
    }

    QTemporaryDir dir;
    sim::Bus* bus = nullptr;
};

TEST_F(RecorderTest, RecordsABlankTapeFrameForFrameAndVerifiesItClean)
{
    Load(sim::MakeBlankTape());
    TapeRecorder r(TwoPrograms());
    ASSERT_EQ(r.Prepare(false), "");
    RunAll(r);
    ASSERT_EQ(r.State(), RecordState::Done) << r.Message();
    EXPECT_EQ(r.Progress().frames, r.Plan().FrameCount());
    VerifyAll(r);
    EXPECT_TRUE(r.Result().Clean()) << r.Result().Lines().front();
    EXPECT_EQ(r.Result().frames, r.Plan().FrameCount());

    const std::vector<std::uint8_t> tape = TakeOut();
    ASSERT_EQ(tape.size(), r.Plan().FrameCount() * dat::kFrameBytes);
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    for (std::uint64_t n = 0; n < r.Plan().FrameCount(); ++n) {
        r.Plan().BuildFrame(n, frame.data());
        ASSERT_EQ(std::memcmp(frame.data(), tape.data() + n * dat::kFrameBytes, dat::kFrameBytes), 0) << n;
    }
}

TEST_F(RecorderTest, CorruptWritesAreFoundByTheVerifyAtTheirAbsoluteTimes)
{
    // Tape frames 150-152 and 250 are at absolute frames 50-52 and 150; 20 is in the lead-in.
    Load(sim::MakeBlankTape(), [](sim::DriveConfig& d) { d.writeCorrupt = {20, 150, 151, 152, 250}; });
    TapeRecorder r(TwoPrograms());
    ASSERT_EQ(r.Prepare(false), "");
    RunAll(r);
    ASSERT_EQ(r.State(), RecordState::Done);
    VerifyAll(r);
    const Verification& v = r.Result();
    EXPECT_FALSE(v.Clean());
    EXPECT_TRUE(v.finished);
    EXPECT_EQ(v.mismatched.count, 4u);
    EXPECT_EQ(v.mismatched.text(), "00:00:01.17\u201300:00:01.19, 00:00:04.17");
    EXPECT_EQ(v.leadMismatched, 1u);
    EXPECT_EQ(v.unreadable.count, 0u);
    EXPECT_EQ(v.frames, r.Plan().FrameCount() - 5);
}

TEST_F(RecorderTest, UnreadableFramesOnTheReadBackAreReportedAndTheRestCompared)
{
    Load(sim::MakeBlankTape(), [](sim::DriveConfig& d) { d.mediumErrors = {130, 131}; });
    TapeRecorder r(TwoPrograms());
    ASSERT_EQ(r.Prepare(false), "");
    RunAll(r);
    VerifyAll(r);
    EXPECT_EQ(r.Result().unreadable.text(), "00:00:00.30\u201300:00:00.31");
    EXPECT_EQ(r.Result().mismatched.count, 0u);
    EXPECT_EQ(r.Result().frames, r.Plan().FrameCount() - 2);
}

TEST_F(RecorderTest, AFailedWriteStopsTheRecordingThere)
{
    Load(sim::MakeBlankTape(), [](sim::DriveConfig& d) { d.writeErrors = {250}; });
    TapeRecorder r(TwoPrograms());
    ASSERT_EQ(r.Prepare(false), "");
    RunAll(r);
    EXPECT_EQ(r.State(), RecordState::Failed);
    EXPECT_NE(r.Message().find("program 2 at 0:00:04"), std::string::npos) << r.Message();
    EXPECT_NE(r.Message().find("MEDIUM ERROR"), std::string::npos) << r.Message();
    EXPECT_NE(r.Message().find("without a lead-out"), std::string::npos) << r.Message();
    EXPECT_FALSE(r.Step());
    EXPECT_EQ(TakeOut().size(), 250 * dat::kFrameBytes);  // nothing after the failed frame
    aspi::InstallBackend(nullptr);

    // A cassette that ends in the lead-out: the programs are all there, the lead-out is short,
    // and the message must not claim there is none.
    Load(sim::MakeBlankTape(), [](sim::DriveConfig& d) { d.lengthMinutes = 0.2; });  // 400 frames
    TapeRecorder full(TwoPrograms());
    ASSERT_EQ(full.Prepare(false), "");
    RunAll(full);
    EXPECT_EQ(full.State(), RecordState::Failed);
    const std::string& said = full.Message();
    EXPECT_NE(said.find("VOLUME OVERFLOW"), std::string::npos) << said;
    EXPECT_NE(said.find("programs were written up to absolute time 0:00:05"), std::string::npos) << said;
    EXPECT_NE(said.find("the lead-out ends after 100 of its 300 frames"), std::string::npos) << said;
    EXPECT_EQ(said.find("without a lead-out"), std::string::npos) << said;
    EXPECT_EQ(TakeOut().size(), 400 * dat::kFrameBytes);
}

TEST_F(RecorderTest, WriteProtectedAndRecordedTapesAreRefusedWithNothingWritten)
{
    {
        Load(sim::MakeBlankTape(), [](sim::DriveConfig& d) { d.writeProtected = true; });
        TapeRecorder r(TwoPrograms());
        EXPECT_NE(r.Prepare(true).find("write-protected"), std::string::npos);
        EXPECT_TRUE(TakeOut().empty());
        aspi::InstallBackend(nullptr);
    }
    const auto recorded = sim::MakeRecordedTape({{NoisePcm(1440 * 40), 48000}, {NoisePcm(1440 * 40), 48000}});
    const std::vector<std::uint8_t> before = [&] {
        std::vector<std::uint8_t> all;
        for (std::uint64_t n = 0; n < recorded->frameCount(); ++n) {
            const auto f = sim::FrameBytes(*recorded, n);
            all.insert(all.end(), f.begin(), f.end());
        }
        return all;
    }();
    Load(recorded);
    TapeRecorder refused(TwoPrograms());
    const std::string refusal = refused.Prepare(false);
    EXPECT_NE(refusal.find("not blank: it holds audio: program 1 at absolute time 0:00:00"), std::string::npos)
        << refusal;
    EXPECT_NE(refusal.find("--overwrite"), std::string::npos);
    EXPECT_EQ(TakeOut(), before);
    aspi::InstallBackend(nullptr);

    Load(sim::MakeDataTape());
    TapeRecorder data(TwoPrograms());
    EXPECT_NE(data.Prepare(false).find("it holds a data tape"), std::string::npos);
    aspi::InstallBackend(nullptr);

    // With --overwrite the recording replaces what was there and nothing of it is left after.
    Load(recorded);
    TapeRecorder over(TwoPrograms());
    ASSERT_EQ(over.Prepare(true), "");
    RunAll(over);
    VerifyAll(over);
    EXPECT_TRUE(over.Result().Clean());
    EXPECT_EQ(TakeOut().size(), over.Plan().FrameCount() * dat::kFrameBytes);
}

TEST_F(RecorderTest, AStopEndsTheProgramsAndWritesTheLeadOut)
{
    Load(sim::MakeBlankTape());
    TapeRecorder r(TwoPrograms());
    ASSERT_EQ(r.Prepare(false), "");
    for (int i = 0; i < 180; ++i)
        ASSERT_TRUE(r.Step());
    r.Stop();
    RunAll(r);
    EXPECT_EQ(r.State(), RecordState::Stopped);
    EXPECT_EQ(dat::IndexOfTimeCode(r.ReachedTime()), 79u);
    EXPECT_NE(r.Message().find("0:00:02"), std::string::npos) << r.Message();
    const std::vector<std::uint8_t> tape = TakeOut();
    ASSERT_EQ(tape.size(), (180 + 300) * dat::kFrameBytes);
    const auto at = [&](std::uint64_t n) {
        return dat::Decode(dat::FrameBytes(tape.data() + n * dat::kFrameBytes, dat::kFrameBytes));
    };
    EXPECT_EQ(at(179).subId.program, dat::ProgramNumber::Of(1));
    EXPECT_EQ(at(180).subId.program, dat::ProgramNumber::LeadOut());
    EXPECT_EQ(at(479).subId.program, dat::ProgramNumber::LeadOut());
}

TEST(VirtualDriveWriteTest, WritesInAudioModeOnlyAndEndTheRecordedAreaAfterTheLastFrame)
{
    QTemporaryDir dir;
    sim::BusConfig config;
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
    sim::DriveConfig drive;
    drive.tape = sim::MakeRecordedTape({{NoisePcm(1440 * 20), 48000}});  // 20 frames and the lead-out
    drive.saveTape = dir.filePath("t.dat").toStdString();
    drive.lengthMinutes = 0.1;  // 200 frames
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto made = sim::CreateBus(config, error);
    ASSERT_TRUE(made) << error;
    sim::Bus& bus = *made;
    std::vector<std::uint8_t> frame(dat::kFrameBytes, 0x11);
    const std::uint8_t tur[6] = {0, 0, 0, 0, 0, 0};
    const std::uint8_t write[6] = {0x0A, 0, 0, 0x16, 0xBE, 0};
    const std::uint8_t dataMode[12] = {0, 0, 0x10, 8, 0x00, 0, 0, 0, 0, 0, 2, 0};
    const std::uint8_t modeSelect[6] = {0x15, 0x10, 0, 0, 12, 0};
    const std::uint8_t locate10[10] = {0x2B, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    const auto send = [&](const std::uint8_t* cdb, std::uint8_t len, aspi::Direction dir, const std::uint8_t* data,
                          std::uint32_t n) {
        return bus.execute({0, 4, 0, cdb, len, dir, const_cast<std::uint8_t*>(data), n});
    };
    send(tur, 6, aspi::Direction::None, nullptr, 0);
    send(locate10, 10, aspi::Direction::None, nullptr, 0);
    EXPECT_EQ(send(write, 6, aspi::Direction::Out, frame.data(), 5822).srbStatus, SS_COMP);
    EXPECT_EQ(send(write, 6, aspi::Direction::In, frame.data(), 5822).srbStatus, SS_ERR);  // data must go out
    EXPECT_EQ(send(modeSelect, 6, aspi::Direction::Out, dataMode, 12).srbStatus, SS_COMP);
    const aspi::ExecResult inDataMode = send(write, 6, aspi::Direction::Out, frame.data(), 5822);
    EXPECT_EQ(inDataMode.srbStatus, SS_ERR);
    EXPECT_EQ(inDataMode.sense[12], 0x30);
    EXPECT_EQ(bus.driveState(0, 4)->frame, 11u);
    bus.removeTape(0, 4);
    const std::vector<std::uint8_t> saved = ReadAll(drive.saveTape);
    ASSERT_EQ(saved.size(), 11 * dat::kFrameBytes);  // the 10 before it kept, nothing after it
    EXPECT_EQ(saved[10 * dat::kFrameBytes], 0x11);
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin(), saved.begin() + 5822), sim::FrameBytes(*drive.tape, 0));
}

}  // namespace
}  // namespace e2e
