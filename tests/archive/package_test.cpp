// A package on disk without any drive: one begun, left incomplete, taken up again, grown,
// patched and finished; and a bag whose file sizes cannot be read, which must say it is
// incomplete rather than count them as nothing.
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "archive/package.h"
#include "archive_tape.h"
#include "dat/frame.h"

namespace {

using namespace archive_test;

const std::uint8_t* FrameAt(const TestTape& tape, std::size_t n) { return tape.dump.data() + n * kFrame; }

archive::FrameRecord RecordAt(const TestTape& tape, std::size_t n)
{
    return archive::RecordOf(dat::Decode(dat::FrameBytes(FrameAt(tape, n), kFrame)));
}

std::string Text(const std::string& path)
{
    const auto bytes = ReadAll(path);
    return {bytes.begin(), bytes.end()};
}

// "key: value" lines of a tag file.
std::map<std::string, std::string> Fields(const std::string& path)
{
    std::map<std::string, std::string> out;
    std::istringstream in(Text(path));
    for (std::string line; std::getline(in, line);)
        if (const auto colon = line.find(": "); colon != std::string::npos)
            out[line.substr(0, colon)] = line.substr(colon + 2);
    return out;
}

class PackageTest : public ::testing::Test {
protected:
    std::string Dir(const char* name) const { return dir_.filePath(name).toStdString(); }

    // Every line of a manifest names a file of the package with its digest, and the payload
    // manifest's files add up to Payload-Oxum.
    void ExpectBagHolds(const std::string& dir, std::size_t payloadFiles)
    {
        std::uint64_t octets = 0;
        std::size_t files = 0;
        for (const char* manifest : {"manifest-sha256.txt", "tagmanifest-sha256.txt"}) {
            std::istringstream in(Text(dir + "/" + manifest));
            for (std::string line; std::getline(in, line);) {
                const std::string digest = line.substr(0, 64), path = line.substr(66);
                EXPECT_EQ(archive::HashFile(dir + "/" + path).value(), digest) << manifest << ": " << path;
                if (manifest == std::string("manifest-sha256.txt")) {
                    octets += ReadAll(dir + "/" + path).size();
                    ++files;
                }
            }
        }
        EXPECT_EQ(files, payloadFiles);
        EXPECT_EQ(Fields(dir + "/bag-info.txt")["Payload-Oxum"], std::to_string(octets) + "." + std::to_string(files));
        EXPECT_EQ(Text(dir + "/bagit.txt"), "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n");
    }

    QTemporaryDir dir_;
    const TestTape tape_ = MakeTestTape();
};

TEST_F(PackageTest, AnIncompletePackageIsTakenUpGrownAndFinishedWithoutADrive)
{
    const std::string dir = Dir("pkg");
    const std::size_t half = 500;
    {
        ::Result<archive::Package> p = archive::Package::Create(dir);
        ASSERT_TRUE(p) << p.error();
        for (std::size_t n = 0; n < half; ++n)
            ASSERT_TRUE(p->Append(FrameAt(tape_, n), RecordAt(tape_, n)));
        archive::RunFacts run;
        run.reason = "Stopped before the end of the tape.";
        const archive::Result r = p->Finish(run);
        EXPECT_EQ(r.outcome, archive::Outcome::Incomplete);
        EXPECT_EQ(r.message, run.reason);
    }
    EXPECT_EQ(Fields(dir + "/bag-info.txt")["Vantrel-Status"], "incomplete");
    ExpectBagHolds(dir, 7);  // tape.dat, two WAVs, subcode.csv, the error map, the two reports
    // The last run was cut off in the middle of a frame: that frame is read again.
    {
        std::ofstream(dir + "/data/tape.dat", std::ios::binary | std::ios::app).write("\x01\x02\x03", 3);
    }

    ::Result<archive::Package> p = archive::Package::Load(dir);
    ASSERT_TRUE(p) << p.error();
    ASSERT_EQ(p->records().size(), half);
    EXPECT_EQ(p->records()[half - 1].absolute, RecordAt(tape_, half - 1).absolute);
    EXPECT_EQ(p->records()[kLeadIn].program, 1);
    // The rest of the tape, with two frames lost and one of them then read again.
    const std::size_t lost = 700;
    for (std::size_t n = half; n < tape_.frames(); ++n) {
        if (n == lost) {
            ASSERT_TRUE(p->AppendLost(2, RecordAt(tape_, n).absolute));
        }
        if (n == lost || n == lost + 1)
            continue;
        ASSERT_TRUE(p->Append(FrameAt(tape_, n), RecordAt(tape_, n)));
    }
    EXPECT_EQ(p->unreadable(), 2u);
    archive::FrameRecord again = RecordAt(tape_, lost);
    again.state = archive::FrameState::Recovered;
    ASSERT_TRUE(p->Patch(lost, FrameAt(tape_, lost), again));
    EXPECT_EQ(p->unreadable(), 1u);
    EXPECT_FALSE(p->Patch(tape_.frames() + 5, FrameAt(tape_, lost), again)) << "no frame there to patch";

    archive::RunFacts run;
    run.complete = true;
    run.retries = 1;
    const archive::Result r = p->Finish(run);
    EXPECT_EQ(r.outcome, archive::Outcome::WithErrors) << r.message;

    auto info = Fields(dir + "/bag-info.txt");
    EXPECT_EQ(info["Vantrel-Status"], "complete");
    EXPECT_EQ(info["Vantrel-Frames"], std::to_string(tape_.frames()));
    EXPECT_EQ(info["Vantrel-Frames-Unreadable"], "1");
    EXPECT_EQ(info["Vantrel-Frames-Recovered"], "1");
    EXPECT_EQ(info["Vantrel-Programs"], "1 2 3");
    ExpectBagHolds(dir, 8);  // tape.dat, three WAVs, subcode.csv, the error map, the two reports
    const auto report = nlohmann::json::parse(Text(dir + "/data/report.json"));
    EXPECT_EQ(report["tape"]["frames"], tape_.frames());
    EXPECT_EQ(report["retry_pass"]["recovered"].size(), 1u);
    EXPECT_EQ(ReadAll(dir + "/data/tape.dat").size(), tape_.frames() * kFrame);
    // tape.dat is the tape with the frame still lost as zeros.
    std::vector<std::uint8_t> expected = tape_.dump;
    std::fill(expected.begin() + (lost + 1) * kFrame, expected.begin() + (lost + 2) * kFrame, 0);
    EXPECT_TRUE(ReadAll(dir + "/data/tape.dat") == expected);
}

// A run that never finishes (killed): the folder is the bag its last checkpoint wrote, marked
// incomplete, with the WAV files of the programs that had ended; taken up again, it holds the
// frames of that checkpoint.
TEST_F(PackageTest, APackageNeverFinishedIsTheValidBagOfItsLastCheckpoint)
{
    const std::string dir = Dir("pkg");
    const std::size_t program2 = kLeadIn + 400, kept = program2 + 100;
    {
        ::Result<archive::Package> p = archive::Package::Create(dir);
        ASSERT_TRUE(p) << p.error();
        EXPECT_EQ(Fields(dir + "/bag-info.txt")["Vantrel-Status"], "incomplete");
        ExpectBagHolds(dir, 5);  // an empty tape.dat, subcode.csv, the error map, the two reports
        for (std::size_t n = 0; n < kept; ++n)
            ASSERT_TRUE(p->Append(FrameAt(tape_, n), RecordAt(tape_, n)));
    }
    auto info = Fields(dir + "/bag-info.txt");
    EXPECT_EQ(info["Vantrel-Status"], "incomplete");
    EXPECT_EQ(info["Vantrel-Incomplete-Reason"].rfind("Interrupted", 0), 0u) << info["Vantrel-Incomplete-Reason"];
    // Checkpoints at the first frame, every 160 frames and at program 2's first frame.
    EXPECT_EQ(info["Vantrel-Frames"], std::to_string(program2 + 1));
    ExpectBagHolds(dir, 6);  // tape.dat, 001.wav, subcode.csv, the error map, the two reports
    EXPECT_EQ(ReadAll(dir + "/data/tape.dat").size(), (program2 + 1) * kFrame);

    ::Result<archive::Package> p = archive::Package::Load(dir);
    ASSERT_TRUE(p) << p.error();
    EXPECT_EQ(p->records().size(), program2 + 1);
    for (std::size_t n = program2 + 1; n < tape_.frames(); ++n)
        ASSERT_TRUE(p->Append(FrameAt(tape_, n), RecordAt(tape_, n)));
    archive::RunFacts run;
    run.complete = true;
    EXPECT_EQ(p->Finish(run).outcome, archive::Outcome::Clean);
    EXPECT_TRUE(ReadAll(dir + "/data/tape.dat") == tape_.dump);
    ExpectBagHolds(dir, 8);
}

// What an archivist looks for: programs whose rate and emphasis differ are said to differ at
// tape level, a program without date packs invents no bext date, the cassette's label and
// identifier go everywhere they are kept, and a resumed package lists its runs.
TEST_F(PackageTest, MixedProgramsNoDateLabelIdAndRunsAreReportedWhereArchivistsLook)
{
    const std::string dir = Dir("pkg");
    const std::string label = "Konzert 1987, Seite A \u2013 Mitschnitt";
    const std::string id = "TAPE-0042";
    // Program 2 at 44.1 kHz with emphasis; no frame carries a date pack.
    auto record = [&](std::size_t n) {
        archive::FrameRecord r = RecordAt(tape_, n);
        r.date = -1;
        if (r.numbered() && r.program == 2) {
            dat::MainId at44{};
            for (std::uint8_t code = 0; code < 4; ++code) {
                at44.rateCode = code;
                if (at44.SampleRateHz() == 44100)
                    r.rateCode = code;
            }
            r.emphasis = true;
        }
        return r;
    };
    // A loaded package takes its records from tape.dat again: program 2 comes in the resume.
    const std::size_t half = tape_.firstFrame[1];
    {
        ::Result<archive::Package> p = archive::Package::Create(dir);
        ASSERT_TRUE(p) << p.error();
        for (std::size_t n = 0; n < half; ++n)
            ASSERT_TRUE(p->Append(FrameAt(tape_, n), record(n)));
        archive::RunFacts run;
        run.reason = "Stopped before the end of the tape.";
        run.label = label;
        run.id = id;
        run.framesRead = half;
        EXPECT_EQ(p->Finish(run).outcome, archive::Outcome::Incomplete);
    }
    ::Result<archive::Package> p = archive::Package::Load(dir);
    ASSERT_TRUE(p) << p.error();
    EXPECT_EQ(p->label(), label);  // kept for a resume that is not given them again
    EXPECT_EQ(p->id(), id);
    for (std::size_t n = half; n < tape_.frames(); ++n)
        ASSERT_TRUE(p->Append(FrameAt(tape_, n), record(n)));
    archive::RunFacts run;
    run.complete = true;
    run.label = label;
    run.id = id;
    run.framesRead = tape_.frames() - 20;
    ASSERT_EQ(p->Finish(run).outcome, archive::Outcome::Clean);

    const auto report = nlohmann::json::parse(Text(dir + "/data/report.json"));
    const auto& programs = report["programs"];
    ASSERT_EQ(programs.size(), 3u) << programs.dump();
    EXPECT_EQ(programs[0]["sample_rate"], 48000);
    EXPECT_EQ(programs[0]["emphasis"], false);
    EXPECT_EQ(programs[1]["sample_rate"], 44100);
    EXPECT_EQ(programs[1]["emphasis"], true);
    EXPECT_TRUE(programs[1]["date"].is_null());
    EXPECT_EQ(report["tape"]["sample_rate"], "mixed");
    EXPECT_EQ(report["tape"]["sample_rates"], nlohmann::json({48000, 44100}));
    EXPECT_EQ(report["tape"]["emphasis"], "mixed");
    EXPECT_EQ(report["tape"]["programs_with_emphasis"], nlohmann::json({2}));
    EXPECT_EQ(report["cassette"]["label"], label);
    EXPECT_EQ(report["cassette"]["id"], id);
    ASSERT_EQ(report["runs"].size(), 2u);
    EXPECT_EQ(report["runs"][0]["frames_read"], half);
    EXPECT_EQ(report["runs"][1]["frames_read"], tape_.frames() - 20);
    EXPECT_FALSE(report["runs"][1]["end"].get<std::string>().empty());

    auto info = Fields(dir + "/bag-info.txt");
    EXPECT_EQ(info["Vantrel-Tape-Rate"], "mixed (48000, 44100)");
    EXPECT_EQ(info["Vantrel-Tape-Emphasis"], "mixed (50/15 us on program 2)");
    EXPECT_EQ(info["External-Description"], label);
    EXPECT_EQ(info["External-Identifier"], id);

    const std::string txt = Text(dir + "/data/report.txt");
    EXPECT_NE(txt.find("Tape: mixed (48000, 44100) Hz, emphasis mixed"), std::string::npos) << txt;
    EXPECT_NE(txt.find("44100 Hz, emphasis 50/15 us\n"), std::string::npos) << txt;
    EXPECT_NE(txt.find("Runs (resumed 1 time):"), std::string::npos) << txt;
    EXPECT_NE(txt.find("Cassette identifier: " + id), std::string::npos) << txt;

    // The bext: the label after the program's description, the identifier as
    // OriginatorReference, and no date or time where the tape gives none.
    const auto wav = ReadAll(dir + "/data/002.wav");
    const std::uint8_t* bext = &wav[Chunks(wav).at("bext").first];
    const std::string description(reinterpret_cast<const char*>(bext),
                                  strnlen(reinterpret_cast<const char*>(bext), 256));
    EXPECT_EQ(description.rfind("DAT program 2", 0), 0u) << description;
    EXPECT_NE(description.find("; " + label), std::string::npos) << description;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bext + 288)), id);
    EXPECT_TRUE(std::all_of(bext + 320, bext + 338, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(Le32(&wav[Chunks(wav).at("fmt ").first + 4]), 44100u);
}

// A tape without a single date pack says so in every report, rather than leave it unsaid.
TEST_F(PackageTest, ATapeWithoutDatePacksSaysSo)
{
    const std::string dir = Dir("pkg");
    ::Result<archive::Package> p = archive::Package::Create(dir);
    ASSERT_TRUE(p) << p.error();
    for (std::size_t n = 0; n < tape_.frames(); ++n) {
        archive::FrameRecord r = RecordAt(tape_, n);
        r.date = -1;
        ASSERT_TRUE(p->Append(FrameAt(tape_, n), r));
    }
    archive::RunFacts run;
    run.complete = true;
    ASSERT_EQ(p->Finish(run).outcome, archive::Outcome::Clean);
    const auto report = nlohmann::json::parse(Text(dir + "/data/report.json"));
    EXPECT_TRUE(report["tape"]["first_date"].is_null());
    EXPECT_TRUE(report["tape"]["last_date"].is_null());
    EXPECT_EQ(report["tape"]["date_note"], "the tape has no date pack");
    EXPECT_EQ(Fields(dir + "/bag-info.txt")["Vantrel-Recording-Date-First"], "none");
    EXPECT_NE(Text(dir + "/data/report.txt").find("Recorded: not known (the tape has no date pack)"),
              std::string::npos);
    const auto wav = ReadAll(dir + "/data/001.wav");
    const std::uint8_t* bext = &wav[Chunks(wav).at("bext").first];
    EXPECT_TRUE(std::all_of(bext + 320, bext + 338, [](std::uint8_t b) { return b == 0; }));
}

// A tape whose programs agree keeps the plain values older readers know, and its date packs
// give the first and last recording date.
TEST_F(PackageTest, AgreeingProgramsKeepPlainValuesAndTheDatePacksGiveTheRecordingDates)
{
    const std::string dir = Dir("pkg");
    ::Result<archive::Package> p = archive::Package::Create(dir);
    ASSERT_TRUE(p) << p.error();
    for (std::size_t n = 0; n < tape_.frames(); ++n)
        ASSERT_TRUE(p->Append(FrameAt(tape_, n), RecordAt(tape_, n)));
    archive::RunFacts run;
    run.complete = true;
    ASSERT_EQ(p->Finish(run).outcome, archive::Outcome::Clean);
    auto info = Fields(dir + "/bag-info.txt");
    EXPECT_EQ(info["Vantrel-Tape-Rate"], "48000");
    EXPECT_EQ(info["Vantrel-Tape-Emphasis"], "none");
    EXPECT_EQ(info["Vantrel-Recording-Date-First"], "2025-06-07 08:09:10");
    EXPECT_EQ(info["External-Description"],
              "DAT audio tape read frame by frame, with a Broadcast WAVE file per program");
    EXPECT_EQ(info.count("External-Identifier"), 0u);
    const auto report = nlohmann::json::parse(Text(dir + "/data/report.json"));
    EXPECT_EQ(report["tape"]["sample_rate"], 48000);
    EXPECT_EQ(report["tape"]["emphasis"], false);
    EXPECT_EQ(report["tape"]["first_date"], "2025-06-07 08:09:10");
    EXPECT_EQ(report["tape"]["last_date"], info["Vantrel-Recording-Date-Last"]);
    EXPECT_NE(report["tape"]["last_date"], report["tape"]["first_date"]);
    EXPECT_EQ(report["runs"].size(), 1u);
    EXPECT_NE(Text(dir + "/data/report.txt").find("Recorded: 2025-06-07 08:09:10 to "), std::string::npos);
}

TEST_F(PackageTest, ABagWhoseFileSizesCannotBeReadIsIncompleteWithTheReason)
{
    const std::string dir = Dir("pkg");
    ::Result<archive::Package> p = archive::Package::Create(dir);
    ASSERT_TRUE(p) << p.error();
    const std::size_t program3 = kLeadIn + 400 + 350;
    for (std::size_t n = 0; n < program3; ++n)
        ASSERT_TRUE(p->Append(FrameAt(tape_, n), RecordAt(tape_, n)));
    p->SetFileSizeReader([](const std::string& path) -> ::Result<std::uint64_t> {
        if (path.ends_with("002.wav"))
            return ::Result<std::uint64_t>::Error("Input/output error");
        return archive::FileSize(path);
    });
    const std::string reason = "data/002.wav: its size cannot be read: Input/output error";
    // Program 2's file is written as program 3 begins: that checkpoint fails, and says why.
    const Status appended = p->Append(FrameAt(tape_, program3), RecordAt(tape_, program3));
    ASSERT_FALSE(appended);
    EXPECT_EQ(appended.error(), reason);
    archive::RunFacts run;
    run.complete = true;
    const archive::Result r = p->Finish(run);

    EXPECT_EQ(r.outcome, archive::Outcome::Incomplete);
    EXPECT_EQ(r.message, reason);
    auto info = Fields(dir + "/bag-info.txt");
    EXPECT_EQ(info["Vantrel-Status"], "incomplete");
    EXPECT_EQ(info["Vantrel-Incomplete-Reason"], reason);
    const auto report = nlohmann::json::parse(Text(dir + "/data/report.json"));
    EXPECT_EQ(report["status"], "incomplete");
    EXPECT_EQ(report["reason"], reason);
    EXPECT_NE(Text(dir + "/data/report.txt").find("Status: incomplete (" + reason + ")"), std::string::npos);
    // The file is not counted as nothing: it is left out of the manifest and Payload-Oxum.
    EXPECT_EQ(Text(dir + "/manifest-sha256.txt").find("002.wav"), std::string::npos);
    ExpectBagHolds(dir, 6);  // tape.dat, 001.wav, subcode.csv, the two reports, the error map
}

}  // namespace
