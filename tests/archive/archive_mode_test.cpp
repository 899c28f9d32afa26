// vantrel --archive as a user runs it: the program in a child process on the virtual drive,
// with a three-program tape that has skipped, concealed and retried frames.
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "archive_tape.h"
#include "support/child_process.h"

namespace {

using namespace archive_test;

// Dump positions of the injected faults (the lead-in is 10 frames, so program 1's frame k
// is at 10 + k, program 2 starts at 410, program 3 at 760).
constexpr std::uint32_t kSkipped[3] = {160, 161, 880};
constexpr std::uint32_t kConcealedFirst = 610, kConcealedCount = 5;
constexpr std::uint32_t kRetried = 820;

class ArchiveModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        tape = MakeTestTape();
        WriteAll(Path("t.dat"), tape.dump);
        WriteDescription("t.json", 0);
    }

    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    void WriteDescription(const std::string& name, double readSpeed, const std::string& extra = "")
    {
        std::string concealed;
        for (std::uint32_t k = 0; k < kConcealedCount; ++k)
            concealed += (k ? "," : "") + std::to_string(kConcealedFirst + k);
        const std::string json = R"({"read_speed": )" + std::to_string(readSpeed) +
                                 R"(, "adapters": [{"devices": [{"target": 4, "tape": "t.dat", "medium_errors": [)" +
                                 std::to_string(kSkipped[0]) + "," + std::to_string(kSkipped[1]) + "," +
                                 std::to_string(kSkipped[2]) + R"(], "concealed": [)" + concealed +
                                 R"(], "retry_errors": {")" + std::to_string(kRetried) + R"(": 2})" + extra + "}]}]}";
        WriteAll(Path(name), std::vector<std::uint8_t>(json.begin(), json.end()));
    }

    void Start(const QStringList& args, const QString& programFile = QStringLiteral(VANTREL_BINARY))
    {
        errors.clear();
        ASSERT_TRUE(program.start(programFile, args));
    }
    int Finish()
    {
        const int status = program.finish();
        errors += program.takeStderr();
        return status;
    }
    int Run(const QStringList& args)
    {
        Start(args);
        return Finish();
    }

    // `sha256sum -c` on a manifest inside the package.
    void ExpectManifestHolds(const std::string& package, const char* manifest)
    {
        testing_support::ChildProcess check(QString::fromStdString(Path(package)));
        EXPECT_EQ(check.run("sha256sum", {"-c", "--strict", manifest}, 60000), 0)
            << check.takeStdout() << check.takeStderr();
    }

    std::map<std::string, std::string> BagInfo(const std::string& package)
    {
        std::map<std::string, std::string> out;
        const auto bytes = ReadAll(Path(package + "/bag-info.txt"));
        std::string text(bytes.begin(), bytes.end());
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = text.find('\n', at);
            const std::string line = text.substr(at, end - at);
            const std::size_t colon = line.find(": ");
            if (colon != std::string::npos)
                out[line.substr(0, colon)] = line.substr(colon + 2);
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return out;
    }

    // What program p's WAV must hold: the source padded to whole frames, silence for the
    // skipped frames, and the drive's interpolation for the concealed ones.
    std::vector<std::uint8_t> ExpectedAudio(unsigned p, const std::vector<std::uint8_t>& tapeDat)
    {
        std::vector<std::uint8_t> audio = tape.sources[p];
        audio.resize((audio.size() + kAudio - 1) / kAudio * kAudio, 0);
        const std::uint32_t first = tape.firstFrame[p];
        const std::uint32_t frames = static_cast<std::uint32_t>(audio.size() / kAudio);
        for (std::uint32_t s : kSkipped)
            if (s >= first && s < first + frames)
                std::fill_n(audio.begin() + (s - first) * kAudio, kAudio, 0);
        for (std::uint32_t c = kConcealedFirst; c < kConcealedFirst + kConcealedCount; ++c)
            if (c >= first && c < first + frames)
                std::copy_n(tapeDat.begin() + c * kFrame, kAudio, audio.begin() + (c - first) * kAudio);
        return audio;
    }

    QTemporaryDir dir;
    testing_support::ChildProcess program{dir.path()};
    std::string errors;
    TestTape tape;
};

TEST_F(ArchiveModeTest, ThreeProgramTapeIsArchivedWithEveryErrorAccountedFor)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=out"}), 3) << errors;

    // tape.dat: the tape's frames as delivered, the skipped ones as zeros.
    const auto tapeDat = ReadAll(Path("out/data/tape.dat"));
    ASSERT_EQ(tapeDat.size(), tape.dump.size());
    const std::set<std::uint32_t> skipped(std::begin(kSkipped), std::end(kSkipped));
    for (std::uint32_t n = 0; n < tape.frames(); ++n) {
        const auto* got = &tapeDat[n * kFrame];
        if (skipped.count(n)) {
            ASSERT_TRUE(std::all_of(got, got + kFrame, [](std::uint8_t b) { return b == 0; })) << "frame " << n;
        } else if (n >= kConcealedFirst && n < kConcealedFirst + kConcealedCount) {
            ASSERT_EQ(got[5819], 0x60) << "frame " << n;  // the interpolation flags, as delivered
        } else {
            ASSERT_EQ(std::memcmp(got, &tape.dump[n * kFrame], kFrame), 0) << "frame " << n;
        }
    }

    // One WAV per program, nothing of lead-in or lead-out, audio bit-exact, bext and cues.
    QStringList wavs = QDir(QString::fromStdString(Path("out/data"))).entryList({"*.wav"}, QDir::Files, QDir::Name);
    ASSERT_EQ(wavs, QStringList({"001.wav", "002.wav", "003.wav"}));
    for (unsigned p = 0; p < 3; ++p) {
        const auto wav = ReadAll(Path("out/data/00" + std::to_string(p + 1) + ".wav"));
        const auto chunks = Chunks(wav);
        ASSERT_TRUE(chunks.count("fmt ") && chunks.count("bext") && chunks.count("data")) << "program " << p + 1;
        EXPECT_EQ(Le32(&wav[chunks.at("fmt ").first + 4]), 48000u);
        EXPECT_TRUE(DataOf(wav) == ExpectedAudio(p, tapeDat)) << "program " << p + 1;
        const std::uint8_t* bext = &wav[chunks.at("bext").first];
        const std::string description(reinterpret_cast<const char*>(bext));
        EXPECT_NE(description.find("DAT program " + std::to_string(p + 1)), std::string::npos) << description;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bext + 256)), "Vantrel");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bext + 320), 10), "2025-06-07");
        const std::uint64_t reference = Le32(bext + 338) | std::uint64_t{Le32(bext + 342)} << 32;
        EXPECT_EQ(reference, std::uint64_t{tape.firstFrame[p] - kLeadIn} * 1440) << "program " << p + 1;
        const std::string history(reinterpret_cast<const char*>(bext + 602), chunks.at("bext").second - 602);
        EXPECT_NE(history.find("A=PCM,F=48000,W=16,M=stereo"), std::string::npos) << history;
        // Version 2, its five loudness fields "not measured" (0x7FFF), never a claimed 0 LUFS.
        EXPECT_EQ(bext[346] | bext[347] << 8, 2);
        for (unsigned field = 0; field < 5; ++field)
            EXPECT_EQ(bext[412 + 2 * field] | bext[413 + 2 * field] << 8, 0x7FFF) << "loudness field " << field;
        // Program 1 changes to index 2 at its frame 200: a cue point there, and nowhere else.
        if (p == 0) {
            ASSERT_TRUE(chunks.count("cue "));
            const std::uint8_t* cue = &wav[chunks.at("cue ").first];
            ASSERT_EQ(Le32(cue), 1u);
            EXPECT_EQ(Le32(cue + 4 + 20), tape.indexChangeFrame * 1440);  // sample offset
        } else {
            EXPECT_FALSE(chunks.count("cue ")) << "program " << p + 1;
        }
    }
    // The origination time comes from the date pack of each program's first frame.
    const auto wav2 = ReadAll(Path("out/data/002.wav"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&wav2[Chunks(wav2).at("bext").first + 330]), 8), "08:09:22");

    ExpectManifestHolds("out", "manifest-sha256.txt");
    ExpectManifestHolds("out", "tagmanifest-sha256.txt");
    auto info = BagInfo("out");
    EXPECT_EQ(info["Vantrel-Status"], "complete");
    EXPECT_EQ(info["Vantrel-Programs"], "1 2 3");
    EXPECT_EQ(info["Vantrel-Frames-Unreadable"], "3");
    EXPECT_EQ(info["Vantrel-Frames-Concealed"], "5");
    EXPECT_EQ(info["Vantrel-Frames-Recovered"], "1");
    EXPECT_FALSE(info["Bagging-Date"].empty());
    std::uint64_t payload = 0;
    for (const char* f :
         {"tape.dat", "001.wav", "002.wav", "003.wav", "subcode.csv", "error-map.svg", "report.txt", "report.json"})
        payload += static_cast<std::uint64_t>(QFileInfo(QString::fromStdString(Path("out/data/") + f)).size());
    EXPECT_EQ(info["Payload-Oxum"], std::to_string(payload) + ".8");

    // The error map: well-formed SVG with a mark of the right kind over each injected fault, at
    // its share of the timeline, and nothing marked where there was no fault.
    const auto svgBytes = ReadAll(Path("out/data/error-map.svg"));
    QXmlStreamReader svg(
        QByteArray(reinterpret_cast<const char*>(svgBytes.data()), static_cast<qsizetype>(svgBytes.size())));
    struct Mark {
        std::uint64_t first, count;
        double x, w;
    };
    std::map<std::string, std::vector<Mark>> marks;
    double left = -1, right = -1;
    while (!svg.atEnd()) {
        if (svg.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto a = svg.attributes();
        if (svg.name() == QLatin1String("svg")) {
            EXPECT_EQ(svg.namespaceUri(), QLatin1String("http://www.w3.org/2000/svg"));
            EXPECT_EQ(a.value("data-frames").toULongLong(), tape.frames());
        }
        if (svg.name() != QLatin1String("rect") || !a.hasAttribute("data-first"))
            continue;
        const Mark m{a.value("data-first").toULongLong(), a.value("data-count").toULongLong(), a.value("x").toDouble(),
                     a.value("width").toDouble()};
        marks[a.value("class").toString().toStdString()].push_back(m);
        if (a.value("class") == QLatin1String("program")) {
            left = left < 0 ? m.x : std::min(left, m.x);
            right = std::max(right, m.x + m.w);
        }
    }
    ASSERT_FALSE(svg.hasError()) << svg.errorString().toStdString();
    const auto covered = [&](const char* cls, std::uint64_t frame) {
        for (const Mark& m : marks[cls])
            if (frame >= m.first && frame < m.first + m.count) {
                const double share = static_cast<double>(frame) / static_cast<double>(tape.frames());
                EXPECT_NEAR(m.x + (m.w > 2 ? (frame - m.first + 0.5) * m.w / m.count : 0),
                            left + share * (right - left), 2.0)
                    << cls << " frame " << frame;
                return true;
            }
        return false;
    };
    const auto total = [&](const char* cls) {
        std::uint64_t n = 0;
        for (const Mark& m : marks[cls])
            n += m.count;
        return n;
    };
    for (std::uint32_t f : kSkipped)
        EXPECT_TRUE(covered("unreadable", f)) << f;
    for (std::uint32_t c = kConcealedFirst; c < kConcealedFirst + kConcealedCount; ++c)
        EXPECT_TRUE(covered("concealed", c)) << c;
    EXPECT_TRUE(covered("recovered", kRetried));
    EXPECT_EQ(total("unreadable"), 3u);
    EXPECT_EQ(total("concealed"), kConcealedCount);
    EXPECT_EQ(total("recovered"), 1u);
    EXPECT_EQ(marks["program"].size(), 5u);  // lead-in, three programs, lead-out

    // The report lists exactly what was injected, by absolute time.
    const auto reportBytes = ReadAll(Path("out/data/report.json"));
    const auto report = nlohmann::json::parse(reportBytes.begin(), reportBytes.end());
    const auto& unreadable = report["errors"]["unreadable"];
    EXPECT_EQ(unreadable["count"], 3);
    ASSERT_EQ(unreadable["ranges"].size(), 2u);
    EXPECT_EQ(unreadable["ranges"][0]["first"], "00:00:04.17");  // absolute frame 150
    EXPECT_EQ(unreadable["ranges"][0]["last"], "00:00:04.18");
    EXPECT_EQ(unreadable["ranges"][1]["first"], dat::FormatHmsf(dat::TimeCodeOfIndex(kSkipped[2] - kLeadIn)));
    const auto& concealed = report["errors"]["concealed"];
    EXPECT_EQ(concealed["count"], 5);
    ASSERT_EQ(concealed["ranges"].size(), 1u);
    EXPECT_EQ(concealed["ranges"][0]["first_frame"], kConcealedFirst);
    const auto& reread = report["errors"]["recovered_on_reread"];
    ASSERT_EQ(reread.size(), 1u);
    EXPECT_EQ(reread[0]["frame"], kRetried);
    EXPECT_EQ(reread[0]["failed_reads"], 2);
    EXPECT_EQ(report["retry_pass"]["recovered"].size(), 0u);
    EXPECT_EQ(report["retry_pass"]["still_bad"], 8);
    ASSERT_EQ(report["programs"].size(), 3u);
    EXPECT_EQ(report["programs"][1]["start"], "00:00:12.00");  // program 2 at absolute frame 400

    // The subcode log: a row per change, the unreadable frames each on their own.
    const auto csvBytes = ReadAll(Path("out/data/subcode.csv"));
    const std::string csv(csvBytes.begin(), csvBytes.end());
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n') > 10, true);
    EXPECT_LT(std::count(csv.begin(), csv.end(), '\n'), 200);
    for (std::uint32_t s : kSkipped)
        EXPECT_NE(csv.find("\n" + std::to_string(s) + "," + dat::FormatHmsf(dat::TimeCodeOfIndex(s - kLeadIn)) +
                           ",,,,,,,,,,,,,unreadable\n"),
                  std::string::npos)
            << s;
}

TEST_F(ArchiveModeTest, ArchivedFramesPlayBackIntoTheSameWavs)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=out"}), 3) << errors;
    // The package's tape.dat as the virtual drive's tape (through a description only to read
    // it at full speed: a bare --simulate=FILE reads at twice real time).
    const std::string json = R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "out/data/tape.dat"}]}]})";
    WriteAll(Path("replay.json"), std::vector<std::uint8_t>(json.begin(), json.end()));
    ASSERT_EQ(Run({"--simulate=replay.json", "--archive=out2", "--retries=0"}), 3) << errors;
    for (const char* f : {"001.wav", "002.wav", "003.wav"})
        EXPECT_TRUE(ReadAll(Path(std::string("out/data/") + f)) == ReadAll(Path(std::string("out2/data/") + f))) << f;
    EXPECT_TRUE(ReadAll(Path("out/data/tape.dat")) == ReadAll(Path("out2/data/tape.dat")));
    ExpectManifestHolds("out2", "manifest-sha256.txt");
}

TEST_F(ArchiveModeTest, SigintHalfwayLeavesAValidPackageThatResumesToTheSameWavs)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=whole"}), 3) << errors;

    WriteDescription("slow.json", 10);  // about 4 s for the tape
    Start({"--simulate=slow.json", "--archive=out"});
    // Wait (on file-system events, no polling) until about half the frames are in tape.dat.
    QFileSystemWatcher watcher;
    QEventLoop loop;
    const QString dataDir = QString::fromStdString(Path("out/data"));
    const QString tapeDat = dataDir + "/tape.dat";
    // Each level is watched once it exists: the child makes out/, then out/data/ and tape.dat.
    auto check = [&] {
        for (const QString& p : {QString::fromStdString(Path("out")), dataDir, tapeDat})
            if (QFileInfo::exists(p) && !watcher.files().contains(p) && !watcher.directories().contains(p))
                watcher.addPath(p);
        if (QFileInfo(tapeDat).size() >= static_cast<qint64>(600 * kFrame))
            loop.quit();
    };
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, check);
    QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, check);
    QObject::connect(&program.process(), &QProcess::finished, &loop, &QEventLoop::quit);
    watcher.addPath(dir.path());
    QTimer::singleShot(0, check);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a guard, not a wait
    loop.exec();
    if (!program.running()) {
        Finish();
        FAIL() << "the archive ended before it could be interrupted: " << errors;
    }
    program.signal(SIGINT);
    EXPECT_EQ(Finish(), 1) << errors;

    auto info = BagInfo("out");
    EXPECT_EQ(info["Vantrel-Status"], "incomplete");
    EXPECT_FALSE(info["Vantrel-Incomplete-Reason"].empty());
    EXPECT_FALSE(info["Vantrel-Last-Absolute-Time"].empty());
    ExpectManifestHolds("out", "manifest-sha256.txt");
    ExpectManifestHolds("out", "tagmanifest-sha256.txt");
    for (const QString& f : QDir(dataDir).entryList({"*.wav"}, QDir::Files))
        EXPECT_FALSE(Chunks(ReadAll(Path("out/data/" + f.toStdString()))).empty()) << f.toStdString();

    ASSERT_EQ(Run({"--simulate=t.json", "--archive=out", "--resume"}), 3) << errors;
    EXPECT_EQ(BagInfo("out")["Vantrel-Status"], "complete");
    EXPECT_EQ(QDir(dataDir).entryList({"*.wav"}, QDir::Files, QDir::Name), QStringList({"001.wav", "002.wav", "003.wav"}));
    for (const char* f : {"001.wav", "002.wav", "003.wav"})
        EXPECT_TRUE(ReadAll(Path(std::string("whole/data/") + f)) == ReadAll(Path(std::string("out/data/") + f))) << f;
    EXPECT_TRUE(ReadAll(Path("whole/data/tape.dat")) == ReadAll(Path("out/data/tape.dat")));
    EXPECT_TRUE(ReadAll(Path("whole/data/subcode.csv")) == ReadAll(Path("out/data/subcode.csv")));
    ExpectManifestHolds("out", "manifest-sha256.txt");
}

TEST_F(ArchiveModeTest, LostDriveLeavesAnIncompletePackageThatResumes)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=whole"}), 3) << errors;
    WriteDescription("vanish.json", 0, R"(, "vanish_after_reads": 500)");
    EXPECT_EQ(Run({"--simulate=vanish.json", "--archive=out"}), 1) << errors;
    auto info = BagInfo("out");
    EXPECT_EQ(info["Vantrel-Status"], "incomplete");
    EXPECT_NE(info["Vantrel-Incomplete-Reason"].find("stopped answering"), std::string::npos)
        << info["Vantrel-Incomplete-Reason"];
    ExpectManifestHolds("out", "manifest-sha256.txt");

    ASSERT_EQ(Run({"--simulate=t.json", "--archive=out", "--resume"}), 3) << errors;
    for (const char* f : {"001.wav", "002.wav", "003.wav"})
        EXPECT_TRUE(ReadAll(Path(std::string("whole/data/") + f)) == ReadAll(Path(std::string("out/data/") + f))) << f;
}

TEST_F(ArchiveModeTest, AFullDiskLeavesAnIncompletePackageThatResumes)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=whole"}), 3) << errors;
    // No file may grow past 3 MB: tape.dat stops at a checkpoint before frame 516, as on a full disk.
    Start({"--fsize=3000000", QStringLiteral(VANTREL_BINARY), "--simulate=t.json", "--archive=out"}, "prlimit");
    EXPECT_EQ(Finish(), 1) << errors;
    auto info = BagInfo("out");
    EXPECT_EQ(info["Vantrel-Status"], "incomplete");
    EXPECT_NE(info["Vantrel-Incomplete-Reason"].find("tape.dat failed: File too large"), std::string::npos)
        << info["Vantrel-Incomplete-Reason"];
    EXPECT_LE(std::stoi(info["Vantrel-Frames"]), 515);
    EXPECT_GT(std::stoi(info["Vantrel-Frames"]), 300);
    ExpectManifestHolds("out", "manifest-sha256.txt");

    ASSERT_EQ(Run({"--simulate=t.json", "--archive=out", "--resume"}), 3) << errors;
    for (const char* f : {"001.wav", "002.wav", "003.wav"})
        EXPECT_TRUE(ReadAll(Path(std::string("whole/data/") + f)) == ReadAll(Path(std::string("out/data/") + f))) << f;
}

TEST_F(ArchiveModeTest, FoldersThatCannotTakeAPackageAndBadSwitchesAreRefused)
{
    QDir().mkpath(dir.filePath("busy"));
    WriteAll(Path("busy/keep.txt"), {'x'});
    EXPECT_EQ(Run({"--simulate=t.json", "--archive=busy"}), 1);
    EXPECT_NE(errors.find("is not empty"), std::string::npos) << errors;
    EXPECT_EQ(QDir(dir.filePath("busy")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList({"keep.txt"}));

    EXPECT_EQ(Run({"--simulate=t.json", "--archive=busy", "--resume"}), 1);
    EXPECT_NE(errors.find("cannot be resumed"), std::string::npos) << errors;

    ASSERT_EQ(Run({"--simulate=t.json", "--archive=done", "--retries=0"}), 3) << errors;
    EXPECT_EQ(Run({"--simulate=t.json", "--archive=done", "--resume"}), 1);
    EXPECT_NE(errors.find("already complete"), std::string::npos) << errors;

    EXPECT_EQ(Run({"--simulate=t.json", "--archive=x", "--retries=many"}), 2);
    EXPECT_EQ(Run({"--simulate=t.json", "--resume"}), 2);
    EXPECT_EQ(Run({"--simulate=t.json", "--archive=x", "--capture"}), 2);
    EXPECT_EQ(Run({"--simulate=t.json", "--archive"}), 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("x")));
}

// A frame that fails 150 times in place, past the bad-frame limit of 100: the archive locates
// past it and archives the rest (exit 3, with errors), unless --max-skips=0 says to stop there.
TEST_F(ArchiveModeTest, AStubbornFrameIsLocatedPastUnlessMaxSkipsSaysToStop)
{
    const std::string json =
        R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "t.dat", "retry_errors": {"220": 150}}]}]})";
    WriteAll(Path("stubborn.json"), std::vector<std::uint8_t>(json.begin(), json.end()));
    EXPECT_EQ(Run({"--simulate=stubborn.json", "--archive=skipped"}), 3) << errors;
    EXPECT_NE(errors.find("Skipped past damage: 00:00:06.10\u201300:00:06.32"), std::string::npos) << errors;
    EXPECT_NE(errors.find(": complete."), std::string::npos) << errors;
    const auto dat = ReadAll(Path("skipped/data/tape.dat"));
    EXPECT_EQ(dat.size(), tape.dump.size());

    EXPECT_EQ(Run({"--simulate=stubborn.json", "--archive=stopped", "--max-skips=0"}), 1) << errors;
    EXPECT_NE(errors.find("could not read 100 frames in a row at 0:00:06; reading was stopped there."),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("Unreadable: 1 frames"), std::string::npos) << errors;

    EXPECT_EQ(Run({"--simulate=stubborn.json", "--archive=x", "--max-skips=some"}), 2);
    EXPECT_EQ(Run({"--simulate=stubborn.json", "--capture", "--max-skips=3"}), 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("x")));
}

// The cassette's label and identifier from the command line, kept where the package keeps
// them; text that cannot be kept whole is refused before anything is made.
TEST_F(ArchiveModeTest, LabelAndIdGoIntoBagInfoAndEveryWavAndBadOnesAreRefused)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=out", "--label=Live at the Roxy, side B", "--id=AC-1987-014"}), 3)
        << errors;
    auto info = BagInfo("out");
    EXPECT_EQ(info["External-Description"], "Live at the Roxy, side B");
    EXPECT_EQ(info["External-Identifier"], "AC-1987-014");
    EXPECT_EQ(info["Vantrel-Tape-Rate"], "48000");
    EXPECT_EQ(info["Vantrel-Recording-Date-First"], "2025-06-07 08:09:10");
    ExpectManifestHolds("out", "tagmanifest-sha256.txt");
    for (const char* name : {"out/data/001.wav", "out/data/003.wav"}) {
        const auto wav = ReadAll(Path(name));
        const std::uint8_t* bext = &wav[Chunks(wav).at("bext").first];
        EXPECT_NE(std::string(reinterpret_cast<const char*>(bext), 256).find("; Live at the Roxy, side B"),
                  std::string::npos)
            << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bext + 288)), "AC-1987-014") << name;
    }

    EXPECT_EQ(Run({"--simulate=t.json", "--archive=x", "--id=" + QString(33, 'A')}), 2);
    EXPECT_NE(errors.find("at most 32 bytes"), std::string::npos) << errors;
    EXPECT_EQ(Run({"--simulate=t.json", "--archive=x", "--label="}), 2);
    EXPECT_EQ(Run({"--simulate=t.json", "--archive=x", "--label=two\nlines"}), 2);
    EXPECT_EQ(Run({"--simulate=t.json", "--label=alone"}), 2);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("x")));
}

}  // namespace
