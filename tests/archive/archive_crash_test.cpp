// vantrel --archive killed outright (SIGKILL: a crash, an out-of-memory kill, a power cut as
// far as the process can tell) and run out of disk space: the folder is a valid bag marked
// incomplete at every moment, and --resume completes it to the same files as a run that was
// never interrupted.
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

#include "archive/package_io.h"
#include "archive_tape.h"
#include "support/child_process.h"

namespace {

using namespace archive_test;

// Dump positions of the injected faults: two frames lost in program 1 (read again by the
// retry pass, in vain), concealed frames in program 2, a frame read on a later try in program 3.
constexpr const char* kFaults =
    R"("medium_errors": [160, 161], "concealed": [610, 611, 612], "retry_errors": {"820": 2})";

std::string Text(const std::string& path)
{
    const auto bytes = ReadAll(path);
    return {bytes.begin(), bytes.end()};
}

std::map<std::string, std::string> Fields(const std::string& path)
{
    std::map<std::string, std::string> out;
    std::istringstream in(Text(path));
    for (std::string line; std::getline(in, line);)
        if (const auto colon = line.find(": "); colon != std::string::npos)
            out[line.substr(0, colon)] = line.substr(colon + 2);
    return out;
}

// "" when `dir` holds a valid bag: bagit.txt, every payload file listed in the manifest with
// its digest and none left out, Payload-Oxum adding up, the tag manifest holding; else what
// is wrong.
std::string BagProblem(const std::string& dir)
{
    if (Text(dir + "/bagit.txt") != "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n")
        return "bagit.txt is missing or wrong";
    std::uint64_t octets = 0, streams = 0;
    std::set<std::string> listed;
    for (const char* manifest : {"manifest-sha256.txt", "tagmanifest-sha256.txt"}) {
        const std::string text = Text(dir + "/" + manifest);
        if (text.empty())
            return std::string(manifest) + " is missing or empty";
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (line.size() < 67)
                return std::string(manifest) + ": bad line " + line;
            const std::string digest = line.substr(0, 64), path = line.substr(66);
            const ::Result<std::string> actual = archive::HashFile(dir + "/" + path);
            if (!actual || *actual != digest)
                return std::string(manifest) + ": " + path + " does not match";
            if (manifest == std::string("manifest-sha256.txt")) {
                listed.insert(path);
                octets += static_cast<std::uint64_t>(QFileInfo(QString::fromStdString(dir + "/" + path)).size());
                ++streams;
            }
        }
    }
    for (const QString& f : QDir(QString::fromStdString(dir + "/data")).entryList(QDir::Files | QDir::Hidden))
        if (!listed.count("data/" + f.toStdString()))
            return "data/" + f.toStdString() + " is not in the manifest";
    const std::string oxum = Fields(dir + "/bag-info.txt")["Payload-Oxum"];
    if (oxum != std::to_string(octets) + "." + std::to_string(streams))
        return "Payload-Oxum " + oxum + " for " + std::to_string(octets) + "." + std::to_string(streams);
    return {};
}

class ArchiveCrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        tape = MakeTestTape();
        WriteAll(Path("t.dat"), tape.dump);
        WriteDescription("t.json", 0);
    }

    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    void WriteDescription(const std::string& name, double readSpeed)
    {
        const std::string json = R"({"read_speed": )" + std::to_string(readSpeed) +
                                 R"(, "adapters": [{"devices": [{"target": 4, "tape": ")" + Path("t.dat") + R"(", )" +
                                 kFaults + "}]}]}";
        WriteAll(Path(name), std::vector<std::uint8_t>(json.begin(), json.end()));
    }

    int Run(const QStringList& args)
    {
        testing_support::ChildProcess child(dir.path());
        const int status = child.run(QStringLiteral(VANTREL_BINARY), args);
        errors = child.takeStderr();
        return status;
    }

    // The package in `package` holds what the uninterrupted run in "whole" made.
    void ExpectSameAsWhole(const std::string& package, const std::string& what)
    {
        for (const char* f : {"tape.dat", "subcode.csv", "001.wav", "002.wav", "003.wav"})
            EXPECT_TRUE(ReadAll(Path("whole/data/") + f) == ReadAll(package + "/data/" + f)) << what << ": " << f;
        EXPECT_EQ(QDir(QString::fromStdString(package + "/data")).entryList({"*.wav"}, QDir::Files),
                  QDir(QString::fromStdString(Path("whole/data"))).entryList({"*.wav"}, QDir::Files))
            << what;
        EXPECT_EQ(Fields(package + "/bag-info.txt")["Vantrel-Status"], "complete") << what;
        EXPECT_EQ(BagProblem(package), "") << what;
    }

    QTemporaryDir dir;
    std::string errors;
    TestTape tape;
};

// How a killed run is brought down: after a time, or on an event of the run.
struct Kill {
    int afterMs = -1;             // a moment of the run
    const char* phase = nullptr;  // as soon as the package says the run is in it
    bool onWav = false;           // the first WAV file being written
};

// True while a WAV file is being written at the top level of the package in `dir`.
bool StagingWav(const std::string& dir)
{
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = e.path().filename().string();
        if (name.starts_with(".part-") && name.ends_with(".wav"))
            return true;
    }
    return false;
}

// Where the package in `dir` says its run is ("lead-out", "retry pass", "").
std::string PhaseOf(const std::string& dir)
{
    const nlohmann::json report = nlohmann::json::parse(Text(dir + "/data/report.json"), nullptr, false);
    return report.is_object() ? report.value("stopped_in", std::string()) : std::string();
}

TEST_F(ArchiveCrashTest, KilledAtTwentyMomentsTheFolderIsAValidBagAndResumesToTheSameFiles)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=whole"}), 3) << errors;
    ASSERT_EQ(BagProblem(Path("whole")), "");

    // A paced read (about 3 s for the tape, and its retry pass), timed once uninterrupted.
    WriteDescription("paced.json", 12);
    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(Run({"--simulate=paced.json", "--archive=timed"}), 3) << errors;
    const auto runMs = static_cast<int>(timer.elapsed());

    std::vector<Kill> kills;
    // One moment in each twentieth of the run, at random within it...
    std::mt19937 random(std::random_device{}());
    for (int k = 0; k < 17; ++k)
        kills.push_back({static_cast<int>(runMs * (k + std::uniform_real_distribution<>(0, 1)(random)) / 17)});
    // ...and the moments that matter most, caught as they happen.
    kills.push_back({-1, nullptr, true});
    kills.push_back({-1, "lead-out"});
    kills.push_back({-1, "retry pass"});

    int killed = 0, midCheckpoint = 0;
    std::map<std::string, int> phases;
    for (std::size_t k = 0; k < kills.size(); ++k) {
        const std::string name = "k" + std::to_string(k);
        const std::string package = Path(name);
        const std::string what = name + " (" + std::to_string(kills[k].afterMs) + " ms of " + std::to_string(runMs) +
                                 (kills[k].phase ? std::string(", ") + kills[k].phase : std::string()) +
                                 (kills[k].onWav ? ", WAV" : "") + ")";
        if (kills[k].afterMs < 0) {
            ASSERT_TRUE(QDir().mkpath(QString::fromStdString(package)));
        }
        testing_support::ChildProcess child(dir.path());
        ASSERT_TRUE(child.start(QStringLiteral(VANTREL_BINARY),
                                {"--simulate=paced.json", "--archive=" + QString::fromStdString(name)}));
        QEventLoop loop;
        QObject::connect(&child.process(), &QProcess::finished, &loop, &QEventLoop::quit);
        QFileSystemWatcher watcher;
        auto killNow = [&] {
            if (child.running())
                child.signal(SIGKILL);
            loop.quit();
        };
        if (kills[k].afterMs >= 0) {
            QTimer::singleShot(kills[k].afterMs, &loop, killNow);
        } else {
            // The package's folder, made empty beforehand and watched from the start: a WAV
            // file staged at its top level, or a checkpoint's files renamed into place.
            ASSERT_TRUE(watcher.addPath(QString::fromStdString(package)));
            QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, [&] {
                if (kills[k].onWav ? StagingWav(package) : PhaseOf(package) == kills[k].phase)
                    killNow();
            });
        }
        QTimer::singleShot(testing_support::kChildTimeoutMs, &loop, &QEventLoop::quit);  // a guard, not a wait
        loop.exec();
        const int status = child.finish();
        if (status != -1) {
            // The run ended before the moment came (the last twentieth): nothing to resume.
            EXPECT_EQ(status, 3) << what << ": " << child.takeStderr();
            ExpectSameAsWhole(package, what);
            continue;
        }
        ++killed;
        if (!QFileInfo::exists(QString::fromStdString(package + "/data"))) {
            // Killed before the archive began (waiting for the drive): a new run is what is owed.
            ASSERT_EQ(Run({"--simulate=t.json", "--archive=" + QString::fromStdString(name)}), 3)
                << what << ": " << errors;
            ExpectSameAsWhole(package, what);
            ++phases["before the folder"];
            continue;
        }
        if (!QFileInfo::exists(QString::fromStdString(package + "/bagit.txt"))) {
            // Killed between making data/tape.dat and the first checkpoint: nothing of the tape
            // was kept, and --resume begins the package again.
            ASSERT_EQ(Run({"--simulate=t.json", "--archive=" + QString::fromStdString(name), "--resume"}), 3)
                << what << ": " << errors;
            ExpectSameAsWhole(package, what);
            ++phases["before the first checkpoint"];
            continue;
        }
        const auto info = Fields(package + "/bag-info.txt");
        EXPECT_EQ(info.count("Vantrel-Status") ? info.at("Vantrel-Status") : "", "incomplete") << what;
        // Killed in the instant a checkpoint renames its files into place (the marker says so),
        // the bag is whole again at the next start; at any other moment it is whole now. A kill
        // caught on a change of the folder aims at that instant; one at a random moment seldom
        // meets it.
        if (QFileInfo::exists(QString::fromStdString(package + "/.part-commit")))
            midCheckpoint += kills[k].afterMs >= 0;
        else
            EXPECT_EQ(BagProblem(package), "") << what;
        ++phases[PhaseOf(package) + "/" +
                 std::to_string(QDir(QString::fromStdString(package + "/data")).entryList({"*.wav"}).size()) + " wavs"];
        ASSERT_EQ(Run({"--simulate=t.json", "--archive=" + QString::fromStdString(name), "--resume"}), 3)
            << what << ": " << errors;
        ExpectSameAsWhole(package, what);
        // A resumed package says so: one run listed for each.
        const auto report = nlohmann::json::parse(Text(package + "/data/report.json"));
        EXPECT_EQ(report["runs"].size(), 2u) << what;
    }
    EXPECT_GE(killed, 17);
    EXPECT_LE(midCheckpoint, 2) << "of the 17 kills at random moments";
    std::string spread;
    for (const auto& [p, n] : phases)
        spread += p + ": " + std::to_string(n) + "; ";
    RecordProperty("killed_in", spread);
}

// A tmpfs of `kilobytes` mounted on `path`; false (with the reason) when mounting is not
// permitted here.
bool Mount(const std::string& path, int kilobytes, bool remount, std::string& why)
{
    testing_support::ChildProcess mount;
    const QString size = "size=" + QString::number(kilobytes) + "k";
    const int status =
        mount.run("mount", remount ? QStringList{"-o", "remount," + size, QString::fromStdString(path)}
                                   : QStringList{"-t", "tmpfs", "-o", size, "tmpfs", QString::fromStdString(path)});
    why = mount.takeStderr();
    return status == 0;
}

void Unmount(const std::string& path)
{
    testing_support::ChildProcess umount;
    umount.run("umount", {QString::fromStdString(path)});
}

TEST_F(ArchiveCrashTest, ADiskThatFillsInThePassOrInTheWavsLeavesAValidBagThatResumesOnceEnlarged)
{
    ASSERT_EQ(Run({"--simulate=t.json", "--archive=whole"}), 3) << errors;
    // tape.dat is 6.2 MB and the WAV files 5.8 MB, program 1's 2.3 MB: 1.5 MB fills in the pass
    // before program 1 ends; 8 MB holds tape.dat but not the WAV files beside it, written as
    // their programs end.
    for (const auto& [kilobytes, where] : {std::pair{1536, "tape.dat"}, std::pair{8192, ".wav"}}) {
        const std::string disk = Path("disk" + std::to_string(kilobytes));
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(disk)));
        std::string why;
        if (!Mount(disk, kilobytes, false, why))
            GTEST_SKIP() << "a tmpfs cannot be mounted here (" << why << "); the full-disk test needs it";
        const std::string package = disk + "/out";
        EXPECT_EQ(Run({"--simulate=t.json", "--archive=" + QString::fromStdString(package)}), 1) << errors;
        const auto info = Fields(package + "/bag-info.txt");
        EXPECT_EQ(info.count("Vantrel-Status") ? info.at("Vantrel-Status") : "", "incomplete") << kilobytes;
        // The write that failed is named, with the space left.
        EXPECT_NE(errors.find(where), std::string::npos) << errors;
        EXPECT_NE(errors.find("left"), std::string::npos) << errors;
        EXPECT_EQ(BagProblem(package), "") << kilobytes << " kB";
        // Still full: the resume stops as cleanly.
        EXPECT_EQ(Run({"--simulate=t.json", "--archive=" + QString::fromStdString(package), "--resume"}), 1) << errors;
        EXPECT_EQ(BagProblem(package), "") << kilobytes << " kB, resumed while full";
        ASSERT_TRUE(Mount(disk, 65536, true, why)) << why;
        EXPECT_EQ(Run({"--simulate=t.json", "--archive=" + QString::fromStdString(package), "--resume"}), 3) << errors;
        ExpectSameAsWhole(package, std::to_string(kilobytes) + " kB");
        Unmount(disk);
    }
}

}  // namespace
