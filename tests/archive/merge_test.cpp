// Merging several reads of one tape: packages made in this process by the archive from the
// virtual drive with different damage (skipped, concealed and silently corrupted frames, a
// read stopped halfway, one begun in the middle), merged with no drive, and checked against
// the tape itself.
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "archive/archive.h"
#include "archive/merge.h"
#include "archive/package.h"
#include "archive/package_io.h"
#include "archive_tape.h"
#include "dat/frame_builder.h"
#include "deck/drive_commands.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "sim/virtual_bus.h"
#include "support/child_process.h"
#include "tape/positioning.h"
#include "transport/drive_state.h"

namespace {

using namespace archive_test;

std::map<std::string, std::vector<std::string>> Fields(const std::string& path)
{
    const auto bytes = ReadAll(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::map<std::string, std::vector<std::string>> out;
    for (std::string line; std::getline(in, line);)
        if (const auto colon = line.find(": "); colon != std::string::npos)
            out[line.substr(0, colon)].push_back(line.substr(colon + 2));
    return out;
}

class MergeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ui::SetMessageSink([](const std::string&) {});
    }
    void TearDown() override
    {
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
    }

    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    // Archives `dump` (the test tape unless given) as a drive with `faults` reads it.
    archive::Outcome Read(const std::string& name, sim::DriveConfig faults, bool fromMiddle = false,
                          const std::vector<std::uint8_t>* dump = nullptr)
    {
        sim::BusConfig config;
        config.readSpeed = 0;
        config.clock = std::make_shared<sim::VirtualClock>();
        std::string error;
        faults.tape = sim::MakeFrameDumpTape(dump ? *dump : tape.dump, error);
        EXPECT_TRUE(faults.tape) << error;
        config.adapters[0].devices.push_back(faults);
        aspi::InstallBackend(sim::CreateBus(config, error));
        ResetDriveState();
        AspiAdapter = 0;
        AspiTarget = 4;
        TestUnitReady(AspiAdapter, AspiTarget);
        if (fromMiddle) {  // absolute time 0:00:20, within program 2
            EXPECT_TRUE(TryLocateTape(AspiAdapter, AspiTarget, kLocateAbsoluteTime, 0, 0, 20).done);
        }
        archive::Options o;
        o.dir = Path(name);
        o.fromHere = fromMiddle;
        o.retries = 0;
        const archive::Result r = archive::Run(o);
        aspi::InstallBackend(nullptr);
        return r.outcome;
    }

    archive::Result Merge(const std::vector<std::string>& names, const std::string& out, bool force = false)
    {
        archive::MergeOptions o;
        for (const std::string& n : names)
            o.sources.push_back(Path(n));
        o.dir = Path(out);
        o.force = force;
        return archive::Merge(o);
    }

    nlohmann::json Report(const std::string& package)
    {
        const auto bytes = ReadAll(Path(package + "/data/report.json"));
        return nlohmann::json::parse(bytes.begin(), bytes.end());
    }

    std::vector<std::uint8_t> Wav(const std::string& package, unsigned program)
    {
        return DataOf(ReadAll(Path(package + "/data/00" + std::to_string(program) + ".wav")));
    }

    // Program p's audio as recorded, padded to whole frames.
    std::vector<std::uint8_t> Source(unsigned p) const
    {
        std::vector<std::uint8_t> audio = tape.sources[p];
        audio.resize((audio.size() + kAudio - 1) / kAudio * kAudio, 0);
        return audio;
    }

    void ExpectWavsAreTheTape(const std::string& package)
    {
        for (unsigned p = 0; p < 3; ++p)
            EXPECT_TRUE(Wav(package, p + 1) == Source(p)) << package << ", program " << p + 1;
    }

    void ExpectManifestHolds(const std::string& package)
    {
        testing_support::ChildProcess check(QString::fromStdString(Path(package)));
        EXPECT_EQ(check.run("sha256sum", {"-c", "--strict", "manifest-sha256.txt"}, 60000), 0)
            << check.takeStdout() << check.takeStderr();
    }

    static std::vector<std::uint64_t> Frames(std::uint64_t first, std::uint64_t count)
    {
        std::vector<std::uint64_t> out;
        for (std::uint64_t k = 0; k < count; ++k)
            out.push_back(first + k);
        return out;
    }

    QTemporaryDir dir;
    TestTape tape = MakeTestTape();
};

TEST_F(MergeTest, TwoReadsDamagedInDifferentPlacesMergeIntoTheWholeTapeAndLeaveTheSourcesAsTheyWere)
{
    sim::DriveConfig a, b;
    a.mediumErrors = {160, 161};
    a.concealed = Frames(610, 5);
    b.mediumErrors = {880};
    b.concealed = {300};
    a.vendor = b.vendor = "ARCHIVE";
    b.product = "OTHER DECK";
    ASSERT_EQ(Read("a", a), archive::Outcome::WithErrors);
    ASSERT_EQ(Read("b", b), archive::Outcome::WithErrors);
    const std::string hashA = archive::HashFile(Path("a/data/tape.dat")).value();
    const std::string hashB = archive::HashFile(Path("b/data/tape.dat")).value();

    const archive::Result r = Merge({"a", "b"}, "m");
    ASSERT_EQ(r.outcome, archive::Outcome::Clean) << r.message;

    // Every frame clean in one of them: the tape itself, frame for frame and sample for sample.
    EXPECT_TRUE(ReadAll(Path("m/data/tape.dat")) == tape.dump);
    ExpectWavsAreTheTape("m");
    const auto wav = ReadAll(Path("m/data/001.wav"));
    const auto bext = Chunks(wav).at("bext");
    const std::string history(reinterpret_cast<const char*>(&wav[bext.first + 602]), bext.second - 602);
    EXPECT_NE(history.find("Vantrel merge of 2 reads"), std::string::npos) << history;

    // Each read credited with what was taken from it: b the 7 frames a lacked, a the rest.
    const nlohmann::json report = Report("m");
    const auto& sources = report["merge"]["sources"];
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0]["path"], QDir(QString::fromStdString(Path("a"))).canonicalPath().toStdString());
    EXPECT_EQ(sources[0]["frames_taken"], tape.frames() - 7);
    EXPECT_EQ(sources[1]["frames_taken"], 7);
    EXPECT_EQ(sources[1]["drive"]["product"], "OTHER DECK");
    EXPECT_FALSE(sources[0]["bagging_date"].get<std::string>().empty());
    EXPECT_EQ(report["merge"]["frames_still_bad"], 0);
    EXPECT_TRUE(report["merge"]["disagreements"].empty());
    EXPECT_EQ(report["status"], "complete");
    const std::string text = [&] {
        const auto bytes = ReadAll(Path("m/data/report.txt"));
        return std::string(bytes.begin(), bytes.end());
    }();
    EXPECT_NE(text.find("frames taken"), std::string::npos) << text;

    auto info = Fields(Path("m/bag-info.txt"));
    ASSERT_EQ(info["Vantrel-Merged-From"].size(), 2u);
    EXPECT_NE(info["Vantrel-Merged-From"][0].find(hashA), std::string::npos);
    EXPECT_NE(info["Vantrel-Merged-From"][1].find(hashB), std::string::npos);
    EXPECT_EQ(info["Vantrel-Drive-Vendor"][0], "not reported");  // two different drives
    EXPECT_EQ(info["Vantrel-Frames-Unreadable"][0], "0");
    ExpectManifestHolds("m");

    // Read only: the sources are untouched and still verify.
    EXPECT_EQ(archive::HashFile(Path("a/data/tape.dat")).value(), hashA);
    EXPECT_EQ(archive::HashFile(Path("b/data/tape.dat")).value(), hashB);
    ExpectManifestHolds("a");
    ExpectManifestHolds("b");
}

TEST_F(MergeTest, ThreeReadsOutvoteADriveThatMisreadsWithoutSayingSoAndTheDisagreementsAreListed)
{
    sim::DriveConfig a, b, c;
    a.concealed = {700};
    b.mediumErrors = {100};
    c.corruptFrames = {200, 201, 202, 500};
    ASSERT_EQ(Read("a", a), archive::Outcome::WithErrors);
    ASSERT_EQ(Read("b", b), archive::Outcome::WithErrors);
    ASSERT_EQ(Read("c", c), archive::Outcome::Clean);  // the drive said nothing

    const archive::Result r = Merge({"c", "a", "b"}, "m");
    ASSERT_EQ(r.outcome, archive::Outcome::WithErrors) << r.message;
    EXPECT_TRUE(ReadAll(Path("m/data/tape.dat")) == tape.dump);
    ExpectWavsAreTheTape("m");
    const nlohmann::json report = Report("m");
    const auto& d = report["merge"]["disagreements"];
    ASSERT_EQ(d.size(), 2u) << d.dump();
    EXPECT_EQ(d[0]["first"], dat::FormatHmsf(dat::TimeCodeOfIndex(200 - kLeadIn)));
    EXPECT_EQ(d[0]["last"], dat::FormatHmsf(dat::TimeCodeOfIndex(202 - kLeadIn)));
    EXPECT_EQ(d[0]["frames"], 3);
    EXPECT_EQ(d[0]["sides"], nlohmann::json::parse("[[2,3],[1]]"));
    EXPECT_EQ(d[0]["taken_from"], 2);
    EXPECT_EQ(d[1]["first"], dat::FormatHmsf(dat::TimeCodeOfIndex(500 - kLeadIn)));
    EXPECT_EQ(d[1]["frames"], 1);
    EXPECT_EQ(report["merge"]["frames_still_bad"], 0);
    const auto bytes = ReadAll(Path("m/data/report.txt"));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find(dat::FormatHmsf(dat::TimeCodeOfIndex(200 - kLeadIn)) + "\u2013" +
                        dat::FormatHmsf(dat::TimeCodeOfIndex(202 - kLeadIn)) + " (3 frames): 2+3 against 1"),
              std::string::npos)
        << text;

    // With two, the first given wins, and the place is still listed.
    ASSERT_EQ(Merge({"c", "a"}, "ca").outcome, archive::Outcome::WithErrors);
    ASSERT_EQ(Merge({"a", "c"}, "ac").outcome, archive::Outcome::WithErrors);
    const auto viaC = ReadAll(Path("ca/data/tape.dat")), viaA = ReadAll(Path("ac/data/tape.dat"));
    EXPECT_TRUE(std::equal(viaC.begin() + 200 * kFrame, viaC.begin() + 201 * kFrame,
                           ReadAll(Path("c/data/tape.dat")).begin() + 200 * kFrame));
    EXPECT_TRUE(std::equal(viaA.begin() + 200 * kFrame, viaA.begin() + 201 * kFrame, tape.dump.begin() + 200 * kFrame));
    EXPECT_EQ(Report("ca")["merge"]["disagreements"].size(), 2u);
    EXPECT_EQ(Report("ac")["merge"]["disagreements"][0]["sides"], nlohmann::json::parse("[[1],[2]]"));
    for (const char* s : {"a", "b", "c"})
        ExpectManifestHolds(s);
}

TEST_F(MergeTest, AReadStoppedHalfwayAndOneBegunPastTheMiddleMakeTheWholeTape)
{
    sim::DriveConfig stopped, middle;
    stopped.vanishAfterReads = 800;  // the drive is lost past the middle
    stopped.mediumErrors = {700};    // where both read
    middle.concealed = {720};
    ASSERT_EQ(Read("first", stopped), archive::Outcome::Incomplete);
    ASSERT_EQ(Read("second", middle, true), archive::Outcome::WithErrors) << Report("second").dump().substr(0, 600);
    const std::size_t firstFrames = ReadAll(Path("first/data/tape.dat")).size() / kFrame;
    const std::size_t secondFrames = ReadAll(Path("second/data/tape.dat")).size() / kFrame;
    ASSERT_LT(firstFrames, tape.frames() - kLeadOut);
    ASSERT_LT(secondFrames, tape.frames() - 600);

    const archive::Result r = Merge({"first", "second"}, "m");
    ASSERT_EQ(r.outcome, archive::Outcome::Clean) << r.message;
    EXPECT_TRUE(ReadAll(Path("m/data/tape.dat")) == tape.dump);
    ExpectWavsAreTheTape("m");
    EXPECT_EQ(Report("m")["status"], "complete");
    EXPECT_EQ(Report("m")["merge"]["sources"][1]["frames_taken"], tape.frames() - firstFrames + 1);
}

TEST_F(MergeTest, ReadsOfTwoTapesAreRefusedAndMergedOnlyWhenForced)
{
    std::vector<std::uint8_t> other = tape.dump;  // the same times, other music
    for (std::size_t n = kLeadIn; n < tape.frames() - kLeadOut; ++n)
        for (std::size_t i = 0; i < kAudio; i += 3)
            other[n * kFrame + i] ^= 0x21;
    ASSERT_EQ(Read("a", {}), archive::Outcome::Clean);
    ASSERT_EQ(Read("b", {}, false, &other), archive::Outcome::Clean);

    const archive::Result refused = Merge({"a", "b"}, "m");
    ASSERT_EQ(refused.outcome, archive::Outcome::Refused);
    EXPECT_NE(refused.message.find(Path("b") + " does not match"), std::string::npos) << refused.message;
    EXPECT_NE(refused.message.find("--force"), std::string::npos) << refused.message;
    EXPECT_FALSE(QDir(QString::fromStdString(Path("m"))).exists());

    const archive::Result forced = Merge({"a", "b"}, "m", true);
    ASSERT_EQ(forced.outcome, archive::Outcome::WithErrors) << forced.message;
    const nlohmann::json report = Report("m");
    EXPECT_TRUE(report["merge"]["forced"].get<bool>());
    ASSERT_EQ(report["merge"]["disagreements"].size(), 1u);  // the whole recorded area, a against b
    EXPECT_EQ(report["merge"]["disagreements"][0]["frames"], tape.frames() - kLeadIn - kLeadOut);
    ExpectWavsAreTheTape("m");  // the first given wins
}

TEST_F(MergeTest, AStopWhileWritingLeavesAValidIncompletePackageAndBeforeItNothing)
{
    ASSERT_EQ(Read("a", {}), archive::Outcome::Clean);
    ASSERT_EQ(Read("b", {}), archive::Outcome::Clean);
    volatile std::sig_atomic_t stop = 1;
    archive::MergeOptions o{{Path("a"), Path("b")}, Path("early"), false, &stop};
    EXPECT_EQ(archive::Merge(o).outcome, archive::Outcome::Refused);
    EXPECT_FALSE(QDir(QString::fromStdString(Path("early"))).exists());

    stop = 0;
    o.dir = Path("late");
    const archive::Result r = archive::Merge(o, [&](const archive::Progress& p) {
        if (std::string(p.phase) == "merging" && p.frames >= 500)
            stop = 1;
    });
    EXPECT_EQ(r.outcome, archive::Outcome::Incomplete);
    EXPECT_NE(r.message.find("Stopped"), std::string::npos) << r.message;
    EXPECT_EQ(Report("late")["status"], "incomplete");
    EXPECT_LT(ReadAll(Path("late/data/tape.dat")).size(), tape.dump.size());
    ExpectManifestHolds("late");
}

// The test tape with every frame's main ID saying `fields`.
std::vector<std::uint8_t> Recoded(std::vector<std::uint8_t> dump, const dat::MainIdFields& fields)
{
    for (std::size_t at = 0; at < dump.size(); at += kFrame)
        dat::EncodeMainId(fields, dump.data() + at + dat::kMainIdOffset);
    return dump;
}

TEST_F(MergeTest, AReadAtAnotherRateOrOfLongPlayIsRefusedEvenWhenForced)
{
    ASSERT_EQ(Read("a", {}), archive::Outcome::Clean);
    const std::vector<std::uint8_t> at44 = Recoded(tape.dump, {.sampleRateHz = 44100});
    ASSERT_EQ(Read("b", {}, false, &at44), archive::Outcome::Clean);
    const archive::Result rate = Merge({"a", "b"}, "m", true);
    EXPECT_EQ(rate.outcome, archive::Outcome::Refused);
    EXPECT_NE(rate.message.find(Path("b") + " was read at another rate: 44100 Hz"), std::string::npos) << rate.message;

    // No drive reads long play into a package yet; one made frame by frame stands in for it.
    const std::vector<std::uint8_t> lp = Recoded(tape.dump, {.sampleRateHz = 32000, .nonLinear12 = true});
    {
        ::Result<archive::Package> p = archive::Package::Create(Path("lp"));
        ASSERT_TRUE(p) << p.error();
        for (std::size_t n = 0; n < tape.frames(); ++n)
            ASSERT_TRUE(
                p->Append(&lp[n * kFrame], archive::RecordOf(dat::Decode(dat::FrameBytes(&lp[n * kFrame], kFrame)))));
        archive::RunFacts run;
        run.complete = true;
        p->Finish(run);
    }
    const archive::Result mode = Merge({"a", "lp"}, "m", true);
    EXPECT_EQ(mode.outcome, archive::Outcome::Refused);
    EXPECT_NE(mode.message.find(Path("lp") + " holds frames of another mode"), std::string::npos) << mode.message;
    EXPECT_FALSE(QDir(QString::fromStdString(Path("m"))).exists());
}

TEST_F(MergeTest, WhatCannotBeMergedIsRefusedWithAMessageAndNothingWritten)
{
    ASSERT_EQ(Read("a", {}), archive::Outcome::Clean);
    EXPECT_EQ(Merge({"a"}, "m").outcome, archive::Outcome::Refused);
    const archive::Result twice = Merge({"a", "a"}, "m");
    EXPECT_EQ(twice.outcome, archive::Outcome::Refused);
    EXPECT_NE(twice.message.find("given twice"), std::string::npos) << twice.message;
    QDir().mkpath(QString::fromStdString(Path("empty")));
    const archive::Result notAPackage = Merge({"a", "empty"}, "m");
    EXPECT_NE(notAPackage.message.find("does not hold a Vantrel archive package"), std::string::npos)
        << notAPackage.message;
    const archive::Result outInUse = Merge({"a", "a"}, "a");
    EXPECT_EQ(outInUse.outcome, archive::Outcome::Refused);
    EXPECT_NE(outInUse.message.find("not empty"), std::string::npos) << outInUse.message;
    EXPECT_FALSE(QDir(QString::fromStdString(Path("m"))).exists());
    ExpectManifestHolds("a");
}

}  // namespace
