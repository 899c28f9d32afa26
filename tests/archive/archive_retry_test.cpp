// The archive in this process against the virtual drive, behind a drive front that answers
// INQUIRY and fails chosen frames only on their first read: what only the retry pass can
// bring back, and what a second look may not change.
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "archive_tape.h"
#include "archive/archive.h"
#include "archive/package_io.h"
#include "dat/frame.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "sim/virtual_bus.h"
#include "deck/drive_commands.h"
#include "transport/drive_state.h"

namespace {

using namespace archive_test;

// Wraps the virtual bus: INQUIRY names a drive, and a READ that delivers one of `flaky`
// (absolute frame indices) fails the first time, the tape moving past it as on a dropout.
class FlakyFront : public aspi::Backend {
public:
    FlakyFront(std::unique_ptr<aspi::Backend> inner, std::set<std::uint32_t> flaky)
        : inner_(std::move(inner)), flaky_(std::move(flaky))
    {
    }
    std::uint32_t supportInfo() override { return inner_->supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override { return inner_->inquiry(a, out); }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t l, std::uint8_t& type) override
    {
        return inner_->deviceType(a, t, l, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& r) override
    {
        if (r.cdbLen >= 6 && r.cdb[0] == 0x12 && r.data && r.dataLen >= 36) {
            std::memset(r.data, ' ', 36);
            r.data[0] = 1;
            std::memcpy(r.data + 8, "ARCHIVE", 7);
            std::memcpy(r.data + 16, "DAT DECK 9", 10);
            std::memcpy(r.data + 32, "1.07", 4);
            aspi::ExecResult ok;
            ok.transferred = 36;
            return ok;
        }
        aspi::ExecResult result = inner_->execute(r);
        if (r.cdbLen >= 6 && r.cdb[0] == 0x08 && result.srbStatus == SS_COMP && r.dataLen == kFrame) {
            const dat::Frame f = dat::Decode(dat::FrameBytes(r.data, kFrame));
            if (f.absoluteTime) {
                const auto at = dat::IndexOfTimeCode(f.absoluteTime->time);
                std::lock_guard lock(mutex_);
                if (at && flaky_.count(*at) && !failed_.count(*at)) {
                    failed_.insert(*at);
                    aspi::ExecResult bad;
                    bad.srbStatus = SS_ERR;
                    bad.targStat = 2;
                    bad.sense[0] = 0x70;
                    bad.sense[2] = 0x03;  // MEDIUM ERROR
                    bad.sense[7] = 10;
                    bad.sense[12] = 0x11;
                    bad.senseLen = 18;
                    return bad;
                }
            }
        }
        return result;
    }

private:
    std::unique_ptr<aspi::Backend> inner_;
    std::set<std::uint32_t> flaky_;
    std::set<std::uint32_t> failed_;
    std::mutex mutex_;
};

class ArchiveRetryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        tape = MakeTestTape();
        ui::SetMessageSink([this](const std::string& t) { messages.push_back(t); });
    }
    void TearDown() override
    {
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
    }

    void Install(std::set<std::uint32_t> flaky, std::vector<std::uint64_t> concealed = {}, double readSpeed = 0)
    {
        sim::BusConfig config;
        config.readSpeed = readSpeed;
        clock = std::make_shared<sim::VirtualClock>();
        config.clock = clock;
        sim::DriveConfig drive;
        std::string error;
        drive.tape = sim::MakeFrameDumpTape(tape.dump, error);
        drive.concealed = std::move(concealed);
        ASSERT_TRUE(drive.tape) << error;
        config.adapters[0].devices.push_back(drive);
        auto bus = sim::CreateBus(config, error);
        ASSERT_TRUE(bus) << error;
        aspi::InstallBackend(std::make_unique<FlakyFront>(std::move(bus), std::move(flaky)));
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

    QTemporaryDir dir;
    TestTape tape;
    std::vector<std::string> messages;
    std::shared_ptr<sim::VirtualClock> clock;
};

TEST_F(ArchiveRetryTest, TheRecordedLengthIsFoundAtSearchSpeedBeforeThePassAndTheProgressRunsUpToIt)
{
    // Frames take their playing time / 1 on the virtual clock, locates 0.3 s plus the distance
    // at 150 times real time.
    Install({}, {}, 1.0);
    struct Seen {
        std::string phase;
        std::uint64_t recorded, at;
        double clock;
    };
    std::vector<Seen> seen;
    const auto run = [&](const archive::Options& o) {
        seen.clear();
        return archive::Run(o, [&](const archive::Progress& p) {
            seen.push_back({p.phase, p.recordedFrames, p.tapeFrame, clock->now()});
        });
    };
    ASSERT_EQ(run({.dir = Path("out")}).outcome, archive::Outcome::Clean);

    // Measured first, once: the end of the recorded area is where the lead-out begins.
    const auto measuring = std::find_if(seen.begin(), seen.end(), [](const Seen& s) { return s.phase == "measuring"; });
    ASSERT_NE(measuring, seen.end());
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const Seen& s) { return s.phase == "measuring"; }), 1);
    const auto firstFrame = std::find_if(measuring, seen.end(), [](const Seen& s) { return s.at > 0; });
    ASSERT_NE(firstFrame, seen.end());
    const std::uint64_t recorded = tape.frames() - kLeadOut;
    EXPECT_EQ(firstFrame->recorded, recorded);
    // To the end and back at search speed: a small share of the tape's playing time (less the
    // 30 ms of each frame read before the first report of the pass).
    const double playing = static_cast<double>(recorded) * 0.03;
    const double probe = firstFrame->clock - measuring->clock - static_cast<double>(firstFrame->at) * 0.03;
    RecordProperty("probe_virtual_ms", static_cast<int>(probe * 1000));
    EXPECT_LT(probe, playing / 10) << probe << " s for " << playing << " s of tape";
    // The frames passed only grow, and reach the end of the recorded area.
    std::uint64_t last = 0;
    for (auto it = firstFrame; it != seen.end() && it->phase == "reading"; ++it) {
        EXPECT_GE(it->at, last);
        last = it->at;
    }
    EXPECT_GE(last, recorded);

    // From where the tape stands the pass must not move it first: no length, no share.
    Install({});
    ASSERT_NE(run({.dir = Path("here"), .fromHere = true}).outcome, archive::Outcome::Refused);
    EXPECT_TRUE(
        std::none_of(seen.begin(), seen.end(), [](const Seen& s) { return s.phase == "measuring" || s.recorded; }));
}

TEST_F(ArchiveRetryTest, FramesLostOnTheFirstPassAreReadAgainAndPutInPlace)
{
    // Absolute frames 50 (program 1) and 700-701 (program 2): lost once each.
    Install({50, 700, 701});
    archive::Options o{.dir = Path("out")};
    const archive::Result r = archive::Run(o);
    ASSERT_EQ(r.outcome, archive::Outcome::Clean) << r.message;

    // Everything as recorded: tape.dat is the tape, each WAV its source.
    EXPECT_TRUE(ReadAll(Path("out/data/tape.dat")) == tape.dump);
    for (unsigned p = 0; p < 3; ++p) {
        std::vector<std::uint8_t> expected = tape.sources[p];
        expected.resize((expected.size() + kAudio - 1) / kAudio * kAudio, 0);
        EXPECT_TRUE(DataOf(ReadAll(Path("out/data/00" + std::to_string(p + 1) + ".wav"))) == expected) << p + 1;
    }
    // The manifest has the digest of tape.dat as it is after the retry pass changed it.
    const std::string digest = archive::HashFile(Path("out/data/tape.dat")).value();
    const auto manifest = ReadAll(Path("out/manifest-sha256.txt"));
    EXPECT_NE(std::string(manifest.begin(), manifest.end()).find(digest + "  data/tape.dat\n"), std::string::npos);

    const auto report = Report("out");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 0);
    const auto& recovered = report["retry_pass"]["recovered"];
    ASSERT_EQ(recovered.size(), 3u);
    EXPECT_EQ(recovered[0]["absolute_time"], "00:00:01.17");  // frame 50
    EXPECT_EQ(recovered[0]["was"], "unreadable");
    EXPECT_EQ(recovered[0]["frame"], kLeadIn + 50);
    EXPECT_EQ(report["retry_pass"]["places"], 2);  // one locate per damaged place
    EXPECT_EQ(report["drive"]["vendor"], "ARCHIVE");
    EXPECT_EQ(report["drive"]["product"], "DAT DECK 9");
    EXPECT_EQ(report["drive"]["firmware"], "1.07");
    const auto info = ReadAll(Path("out/bag-info.txt"));
    EXPECT_NE(std::string(info.begin(), info.end()).find("Vantrel-Drive-Product: DAT DECK 9\n"), std::string::npos);
    const auto wav = ReadAll(Path("out/data/001.wav"));
    EXPECT_NE(std::string(wav.begin(), wav.begin() + 1024).find("T=DAT drive ARCHIVE DAT DECK 9 1.07"), std::string::npos);
    const auto csv = ReadAll(Path("out/data/subcode.csv"));
    EXPECT_NE(std::string(csv.begin(), csv.end()).find(",recovered\n"), std::string::npos);
}

TEST_F(ArchiveRetryTest, WithoutRetriesTheLostFramesStayAndTheRunSaysSo)
{
    Install({50});
    archive::Options o{.dir = Path("out"), .retries = 0};
    const archive::Result r = archive::Run(o);
    EXPECT_EQ(r.outcome, archive::Outcome::WithErrors);
    const auto report = Report("out");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 1);
    EXPECT_EQ(report["retry_pass"]["recovered"].size(), 0u);
    const auto wav = DataOf(ReadAll(Path("out/data/001.wav")));
    ASSERT_EQ(wav.size(), 400 * kAudio);
    EXPECT_TRUE(std::all_of(wav.begin() + 50 * kAudio, wav.begin() + 51 * kAudio, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(wav.begin() + 51 * kAudio, wav.begin() + 52 * kAudio, tape.sources[0].begin() + 51 * kAudio));
}

TEST_F(ArchiveRetryTest, AConcealedFrameThatIsConcealedAgainIsLeftAsItWas)
{
    Install({}, {kLeadIn + 30});
    archive::Options o{.dir = Path("out"), .retries = 2};
    const archive::Result r = archive::Run(o);
    EXPECT_EQ(r.outcome, archive::Outcome::WithErrors);
    const auto report = Report("out");
    EXPECT_EQ(report["errors"]["concealed"]["count"], 1);
    EXPECT_EQ(report["retry_pass"]["rounds"], 2);
    EXPECT_EQ(report["retry_pass"]["recovered"].size(), 0u);
    const auto tapeDat = ReadAll(Path("out/data/tape.dat"));
    EXPECT_EQ(tapeDat[(kLeadIn + 30) * kFrame + 5819], 0x60);
}

TEST_F(ArchiveRetryTest, AStopLeavesAnIncompletePackageWithTheReason)
{
    Install({});
    archive::Options o{.dir = Path("out")};
    bool stopped = false;
    const archive::Result r = archive::Run(o, [&](const archive::Progress& p) {
        if (!stopped && p.frames >= 300) {
            archive::RequestStop();
            stopped = true;
        }
    });
    EXPECT_EQ(r.outcome, archive::Outcome::Incomplete);
    const auto report = Report("out");
    EXPECT_EQ(report["status"], "incomplete");
    EXPECT_FALSE(report["reason"].get<std::string>().empty());
    EXPECT_LT(report["tape"]["frames"].get<std::size_t>(), tape.frames());
    EXPECT_TRUE(archive::CheckTarget(Path("out"), true).empty());
    EXPECT_FALSE(archive::CheckTarget(Path("out"), false).empty());
}

// Ctrl-C after the recorded area was found (in the lead-out, in the retry pass) leaves work
// owed: the package stays incomplete and says so, and a resume does exactly that work.
TEST_F(ArchiveRetryTest, AStopInTheLeadOutIsIncompleteAndAResumeReadsTheRestAndRetries)
{
    Install({50});
    archive::Options o{.dir = Path("out")};
    bool stopped = false;
    const archive::Result r = archive::Run(o, [&](const archive::Progress& p) {
        if (!stopped && p.program == "lead-out") {
            archive::RequestStop();
            stopped = true;
        }
    });
    ASSERT_TRUE(stopped);
    EXPECT_EQ(r.outcome, archive::Outcome::Incomplete);
    auto report = Report("out");
    EXPECT_EQ(report["status"], "incomplete");
    EXPECT_EQ(report["stopped_in"], "lead-out");
    EXPECT_NE(report["reason"].get<std::string>().find("lead-out"), std::string::npos);
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 1);  // the retry pass never ran
    const std::size_t cut = ReadAll(Path("out/data/tape.dat")).size();
    EXPECT_GT(cut, (tape.frames() - kLeadOut) * kFrame);
    EXPECT_LT(cut, tape.dump.size());
    ASSERT_TRUE(archive::CheckTarget(Path("out"), true).empty());

    o.resume = true;
    const archive::Result again = archive::Run(o);
    ASSERT_EQ(again.outcome, archive::Outcome::Clean) << again.message;
    EXPECT_TRUE(ReadAll(Path("out/data/tape.dat")) == tape.dump);  // the whole lead-out, frame 50 put back
    report = Report("out");
    EXPECT_EQ(report["status"], "complete");
    EXPECT_FALSE(report.contains("stopped_in"));
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 0);
    EXPECT_EQ(report["retry_pass"]["recovered"].size(), 1u);
}

TEST_F(ArchiveRetryTest, AStopInTheRetryPassIsIncompleteAndAResumeDoesTheRetriesOwed)
{
    Install({50, 700});
    archive::Options o{.dir = Path("out")};
    bool stopped = false;
    const archive::Result r = archive::Run(o, [&](const archive::Progress& p) {
        if (!stopped && std::string(p.phase) == "retrying") {
            archive::RequestStop();
            stopped = true;
        }
    });
    ASSERT_TRUE(stopped);
    EXPECT_EQ(r.outcome, archive::Outcome::Incomplete);
    auto report = Report("out");
    EXPECT_EQ(report["status"], "incomplete");
    EXPECT_EQ(report["stopped_in"], "retry pass");
    EXPECT_NE(report["reason"].get<std::string>().find("retry pass"), std::string::npos);
    EXPECT_GE(report["errors"]["unreadable"]["count"].get<int>(), 1);
    const auto info = ReadAll(Path("out/bag-info.txt"));
    EXPECT_NE(std::string(info.begin(), info.end()).find("Vantrel-Status: incomplete\n"), std::string::npos);
    ASSERT_TRUE(archive::CheckTarget(Path("out"), true).empty());

    o.resume = true;
    const archive::Result again = archive::Run(o);
    ASSERT_EQ(again.outcome, archive::Outcome::Clean) << again.message;
    EXPECT_TRUE(ReadAll(Path("out/data/tape.dat")) == tape.dump);
    report = Report("out");
    EXPECT_EQ(report["status"], "complete");
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 0);
    EXPECT_GE(report["retry_pass"]["recovered"].size(), 1u);
}

}  // namespace
