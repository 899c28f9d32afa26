// The archive in this process against the virtual drive's own read faults: a frame that fails
// in place past the bad-frame limit is located past and the rest of the tape archived, a pass
// that ends at damage counts every frame it could not read, and frames unreadable on their
// first passes only are brought back by the retry pass.
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "archive/archive.h"
#include "archive_tape.h"
#include "audio/frame_reader.h"
#include "deck/drive_commands.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "sim/virtual_bus.h"
#include "transport/drive_state.h"

namespace {

using namespace archive_test;

class ArchiveSkipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        tape = MakeTestTape();
        ui::SetMessageSink([this](const std::string& t) { messages.push_back(t); });
        SetMaxBadFrames(100);
    }
    void TearDown() override
    {
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
    }

    // The test tape in the virtual drive; `faults` sets the drive's read faults (dump positions).
    void Install(const std::function<void(sim::DriveConfig&)>& faults)
    {
        sim::BusConfig config;
        config.readSpeed = 0;
        config.clock = std::make_shared<sim::VirtualClock>();
        sim::DriveConfig drive;
        std::string error;
        drive.tape = sim::MakeFrameDumpTape(tape.dump, error);
        ASSERT_TRUE(drive.tape) << error;
        faults(drive);
        config.adapters[0].devices.push_back(drive);
        auto bus = sim::CreateBus(config, error);
        ASSERT_TRUE(bus) << error;
        aspi::InstallBackend(std::move(bus));
        ResetDriveState();
        AspiAdapter = 0;
        AspiTarget = 4;
        TestUnitReady(AspiAdapter, AspiTarget);  // takes the power-on attention
    }

    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    nlohmann::json Report(const std::string& package)
    {
        const auto bytes = ReadAll(Path(package + "/data/report.json"));
        return nlohmann::json::parse(bytes.begin(), bytes.end());
    }
    std::string Text(const std::string& file)
    {
        const auto bytes = ReadAll(Path(file));
        return {bytes.begin(), bytes.end()};
    }

    // tape.dat holds the tape as recorded, but zeros for absolute frames [first, last].
    void ExpectTapeDatWithZeros(const std::string& package, std::uint32_t first, std::uint32_t last)
    {
        const auto dat = ReadAll(Path(package + "/data/tape.dat"));
        ASSERT_EQ(dat.size(), tape.dump.size());
        const std::size_t from = (kLeadIn + first) * kFrame, to = (kLeadIn + last + 1) * kFrame;
        EXPECT_TRUE(std::equal(dat.begin(), dat.begin() + from, tape.dump.begin()));
        EXPECT_TRUE(std::all_of(dat.begin() + from, dat.begin() + to, [](std::uint8_t b) { return b == 0; }));
        EXPECT_TRUE(std::equal(dat.begin() + to, dat.end(), tape.dump.begin() + to));
    }

    QTemporaryDir dir;
    TestTape tape;
    std::vector<std::string> messages;
};

TEST_F(ArchiveSkipTest, AFrameFailingInPlacePastTheLimitIsLocatedPastAndTheRestArchived)
{
    // Absolute frame 210 (00:00:06.10) fails 150 times with the tape standing before it; the
    // limit is 100 failed reads. The pass locates to 00:00:07 and reads on to the lead-out.
    Install([](sim::DriveConfig& d) { d.retryErrors = {{kLeadIn + 210, 150}}; });
    const archive::Result r = archive::Run({.dir = Path("out")});
    ASSERT_EQ(r.outcome, archive::Outcome::WithErrors) << r.message;
    ExpectTapeDatWithZeros("out", 210, 232);  // 00:00:07 starts at frame 233

    const auto report = Report("out");
    EXPECT_EQ(report["status"], "complete");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 23);
    ASSERT_EQ(report["errors"]["skipped"].size(), 1u);
    const auto& skip = report["errors"]["skipped"][0];
    EXPECT_EQ(skip["first"], "00:00:06.10");
    EXPECT_EQ(skip["last"], "00:00:06.32");
    EXPECT_EQ(skip["failed_reads"], 100);
    EXPECT_EQ(skip["locates"], 1);
    // The retry pass met the same 150 failures and could not bring the stretch back.
    EXPECT_EQ(report["retry_pass"]["recovered"].size(), 0u);
    const std::string line = "Skipped past damage: 00:00:06.10\u201300:00:06.32 (100 failed reads, 1 locate)";
    EXPECT_NE(Text("out/data/report.txt").find(line), std::string::npos) << Text("out/data/report.txt");
    EXPECT_TRUE(std::any_of(r.summary.begin(), r.summary.end(),
                            [&](const std::string& l) { return l.find(line) != std::string::npos; }));
    // The WAV keeps every sample in its place: silence for the stretch, the rest as recorded.
    const auto wav = DataOf(ReadAll(Path("out/data/001.wav")));
    ASSERT_EQ(wav.size(), 400 * kAudio);
    const auto silent = [](std::uint8_t b) { return b == 0; };
    EXPECT_TRUE(std::all_of(wav.begin() + 210 * kAudio, wav.begin() + 233 * kAudio, silent));
    const auto& source = tape.sources[0];  // its last frame partly filled
    EXPECT_TRUE(std::equal(source.begin() + 233 * kAudio, source.end(), wav.begin() + 233 * kAudio));
}

// The places skipped are kept from the first checkpoint after them: a run stopped (or killed)
// after the skip and resumed still reports the stretch the first run located past.
TEST_F(ArchiveSkipTest, AResumedPackageStillReportsTheStretchTheEarlierRunSkipped)
{
    const auto faults = [](sim::DriveConfig& d) { d.retryErrors = {{kLeadIn + 210, 150}}; };
    Install(faults);
    bool checkpointed = false;
    const archive::Result first = archive::Run({.dir = Path("out"), .retries = 0}, [&](const archive::Progress& p) {
        // A checkpoint comes every 160 frames: the one at 480 is past the stretch's end (333).
        if (p.frames <= 490 || checkpointed)
            return;
        checkpointed = true;
        const auto report = Report("out");
        EXPECT_EQ(report["status"], "incomplete");
        ASSERT_EQ(report["errors"]["skipped"].size(), 1u) << "the checkpoint lists the stretch";
        EXPECT_EQ(report["errors"]["skipped"][0]["last"], "00:00:06.32");
        archive::RequestStop();
    });
    ASSERT_TRUE(checkpointed);
    ASSERT_EQ(first.outcome, archive::Outcome::Incomplete) << first.message;

    Install(faults);
    const archive::Result r = archive::Run({.dir = Path("out"), .resume = true, .retries = 0});
    ASSERT_EQ(r.outcome, archive::Outcome::WithErrors) << r.message;
    ExpectTapeDatWithZeros("out", 210, 232);
    const auto report = Report("out");
    ASSERT_EQ(report["errors"]["skipped"].size(), 1u);
    const auto& skip = report["errors"]["skipped"][0];
    EXPECT_EQ(skip["first"], "00:00:06.10");
    EXPECT_EQ(skip["last"], "00:00:06.32");
    EXPECT_EQ(skip["failed_reads"], 100);
    EXPECT_EQ(skip["locates"], 1);
    EXPECT_EQ(report["runs"].size(), 2u);
    const std::string line = "Skipped past damage: 00:00:06.10\u201300:00:06.32 (100 failed reads, 1 locate)";
    EXPECT_NE(Text("out/data/report.txt").find(line), std::string::npos) << Text("out/data/report.txt");
}

TEST_F(ArchiveSkipTest, DamageAfterTheLocateIsLocatedPastASecondFurtherAsTheSamePlace)
{
    // The first frame of 00:00:07 fails in place too: the second locate goes to 00:00:08.
    Install([](sim::DriveConfig& d) { d.retryErrors = {{kLeadIn + 210, 150}, {kLeadIn + 233, 150}}; });
    const archive::Result r = archive::Run({.dir = Path("out"), .retries = 0});
    ASSERT_EQ(r.outcome, archive::Outcome::WithErrors) << r.message;
    ExpectTapeDatWithZeros("out", 210, 265);
    const auto report = Report("out");
    ASSERT_EQ(report["errors"]["skipped"].size(), 1u);
    EXPECT_EQ(report["errors"]["skipped"][0]["last"], "00:00:07.32");
    EXPECT_EQ(report["errors"]["skipped"][0]["failed_reads"], 200);
    EXPECT_EQ(report["errors"]["skipped"][0]["locates"], 2);
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 56);
}

// Where the pass ends at damage (--max-skips places skipped, or none allowed), the frames that
// ended it are in tape.dat, the counts and the ranges, and the reason names the first of them.
TEST_F(ArchiveSkipTest, APassEndingAtDamageCountsEveryFrameItCouldNotRead)
{
    // A second place after --max-skips=1: the frame failing in place is one frame.
    Install([](sim::DriveConfig& d) { d.retryErrors = {{kLeadIn + 210, 150}, {kLeadIn + 710, 150}}; });
    archive::Result r = archive::Run({.dir = Path("one"), .maxSkips = 1});
    ASSERT_EQ(r.outcome, archive::Outcome::Incomplete);
    EXPECT_NE(r.message.find("at 0:00:21;"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("--max-skips"), std::string::npos) << r.message;
    auto report = Report("one");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 23 + 1);
    EXPECT_EQ(report["errors"]["unreadable"]["ranges"][1]["first"], "00:00:21.10");
    EXPECT_EQ(report["errors"]["unreadable"]["ranges"][1]["count"], 1);
    EXPECT_EQ(ReadAll(Path("one/data/tape.dat")).size(), (kLeadIn + 711) * kFrame);

    // None allowed, the tape moving past each failed frame: the 100 frames it passed.
    Install([](sim::DriveConfig& d) {
        for (std::uint64_t f = 210; f < 350; ++f)
            d.mediumErrors.push_back(kLeadIn + f);
    });
    r = archive::Run({.dir = Path("none"), .maxSkips = 0});
    ASSERT_EQ(r.outcome, archive::Outcome::Incomplete);
    EXPECT_EQ(r.message, "The drive could not read 100 frames in a row at 0:00:06; reading was stopped there.");
    report = Report("none");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 100);
    EXPECT_EQ(report["errors"]["unreadable"]["ranges"][0]["first"], "00:00:06.10");
    EXPECT_EQ(report["errors"]["unreadable"]["ranges"][0]["last"], "00:00:09.09");
    EXPECT_TRUE(report["errors"]["skipped"].empty());

    // The damage runs from the last program frame (00:00:30.00) into the lead-out: there is
    // no 00:00:31 to locate to.
    SetMaxBadFrames(10);
    Install([](sim::DriveConfig& d) {
        for (std::uint64_t f = 1000; f < 1010; ++f)
            d.mediumErrors.push_back(kLeadIn + f);
    });
    r = archive::Run({.dir = Path("end")});
    ASSERT_EQ(r.outcome, archive::Outcome::Incomplete);
    EXPECT_NE(r.message.find("at 0:00:30 and found nothing recorded past 0:00:31"), std::string::npos) << r.message;
    report = Report("end");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 10);
    EXPECT_TRUE(report["errors"]["skipped"].empty());
}

// A skip that runs into the lead-out: the stretch reaches the last frame not read.
TEST_F(ArchiveSkipTest, DamageRunningIntoTheLeadOutAfterALocateIsCountedToItsEnd)
{
    Install([](sim::DriveConfig& d) {
        for (std::uint64_t f = 900; f < 1001; ++f)
            d.mediumErrors.push_back(kLeadIn + f);
    });
    const archive::Result r = archive::Run({.dir = Path("out"), .retries = 0});
    ASSERT_EQ(r.outcome, archive::Outcome::WithErrors) << r.message;
    ExpectTapeDatWithZeros("out", 900, 1000);
    const auto report = Report("out");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 101);
    ASSERT_EQ(report["errors"]["skipped"].size(), 1u);
    EXPECT_EQ(report["errors"]["skipped"][0]["first"], "00:00:27.00");
    EXPECT_EQ(report["errors"]["skipped"][0]["last"], "00:00:30.00");
    EXPECT_EQ(report["errors"]["skipped"][0]["failed_reads"], 100 + 68);
}

TEST_F(ArchiveSkipTest, FlakyFramesAreBroughtBackByTheRetryPassInTheirPlace)
{
    // Unreadable on the main pass only: the retry pass reads each clean.
    Install([](sim::DriveConfig& d) { d.flakyFrames = {{kLeadIn + 50, 1}, {kLeadIn + 700, 1}, {kLeadIn + 701, 1}}; });
    archive::Result r = archive::Run({.dir = Path("once")});
    ASSERT_EQ(r.outcome, archive::Outcome::Clean) << r.message;
    EXPECT_TRUE(ReadAll(Path("once/data/tape.dat")) == tape.dump);
    for (unsigned p = 0; p < 3; ++p) {
        std::vector<std::uint8_t> expected = tape.sources[p];
        expected.resize((expected.size() + kAudio - 1) / kAudio * kAudio, 0);
        EXPECT_TRUE(DataOf(ReadAll(Path("once/data/00" + std::to_string(p + 1) + ".wav"))) == expected) << p + 1;
    }
    auto report = Report("once");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 0);
    ASSERT_EQ(report["retry_pass"]["recovered"].size(), 3u);
    EXPECT_EQ(report["retry_pass"]["recovered"][0]["absolute_time"], "00:00:01.17");
    EXPECT_EQ(report["retry_pass"]["recovered"][0]["was"], "unreadable");
    EXPECT_NE(Text("once/data/report.txt").find("3 frames recovered: 00:00:01.17, 00:00:21.00, 00:00:21.01"),
              std::string::npos)
        << Text("once/data/report.txt");

    // Unreadable on two passes: one round of retries is not enough, two are.
    Install([](sim::DriveConfig& d) { d.flakyFrames = {{kLeadIn + 50, 2}}; });
    r = archive::Run({.dir = Path("twice-1")});
    EXPECT_EQ(r.outcome, archive::Outcome::WithErrors);
    EXPECT_EQ(Report("twice-1")["errors"]["unreadable"]["count"], 1);
    Install([](sim::DriveConfig& d) { d.flakyFrames = {{kLeadIn + 50, 2}}; });
    r = archive::Run({.dir = Path("twice-2"), .retries = 2});
    ASSERT_EQ(r.outcome, archive::Outcome::Clean) << r.message;
    EXPECT_TRUE(ReadAll(Path("twice-2/data/tape.dat")) == tape.dump);
    EXPECT_EQ(Report("twice-2")["retry_pass"]["rounds"], 2);
}

}  // namespace
