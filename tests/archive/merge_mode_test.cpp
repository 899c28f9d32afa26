// vantrel --merge as a user runs it: packages archived by the program from virtual drives
// described in .json files (corrupt_frames among their faults), then merged by the program
// with no drive; its exit statuses and what it says.
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "archive_tape.h"
#include "support/child_process.h"

namespace {

using namespace archive_test;

class MergeModeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        tape = MakeTestTape();
        WriteAll(Path("t.dat"), tape.dump);
        std::vector<std::uint8_t> other = tape.dump;
        for (std::size_t n = kLeadIn; n < tape.frames() - kLeadOut; ++n)
            other[n * kFrame + 7] ^= 0x40;
        WriteAll(Path("other.dat"), other);
    }

    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    int Run(const QStringList& args)
    {
        testing_support::ChildProcess program(dir.path());
        if (!program.start(QStringLiteral(VANTREL_BINARY), args))
            return -1;
        const int status = program.finish();
        errors = program.takeStderr();
        return status;
    }

    // A package of `dump` read by a drive with `faults` (json keys of the device).
    void Archive(const std::string& name, const std::string& faults, const std::string& dump = "t.dat")
    {
        const std::string json = R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": ")" + dump +
                                 "\"" + (faults.empty() ? "" : ", " + faults) + "}]}]}";
        WriteAll(Path(name + ".json"), std::vector<std::uint8_t>(json.begin(), json.end()));
        const int status = Run({QString::fromStdString("--simulate=" + name + ".json"),
                                QString::fromStdString("--archive=" + name), "--retries=0"});
        ASSERT_TRUE(status == 0 || status == 3) << errors;
    }

    QTemporaryDir dir;
    TestTape tape;
    std::string errors;
};

TEST_F(MergeModeTest, ExitStatusSaysWhetherTheMergedTapeIsCleanAndTheReadsAgreed)
{
    Archive("a", R"("medium_errors": [160])");
    Archive("b", R"("medium_errors": [300], "concealed": [161])");
    Archive("c", R"("corrupt_frames": [200, 201])");
    Archive("d", R"("concealed": [160])");

    // Every frame clean somewhere, no disagreement: 0, with progress and the frames taken.
    EXPECT_EQ(Run({"--merge=a", "--merge=b", "--archive=ab"}), 0) << errors;
    EXPECT_NE(errors.find("Merged " + std::to_string(tape.frames()) + " frames"), std::string::npos) << errors;
    EXPECT_NE(errors.find("2. b: 1 frames taken"), std::string::npos) << errors;
    EXPECT_TRUE(ReadAll(Path("ab/data/tape.dat")) == tape.dump);

    // A silent misread against a clean read: the first given wins, the place is listed: 3.
    EXPECT_EQ(Run({"--merge=a", "--merge=c", "--archive=ac"}), 3) << errors;
    EXPECT_NE(errors.find("disagreed at 1 places: " + dat::FormatHmsf(dat::TimeCodeOfIndex(200 - kLeadIn))),
              std::string::npos)
        << errors;

    // A frame bad in every read (unreadable in a, concealed in d): the concealed copy, and 3.
    EXPECT_EQ(Run({"--merge=a", "--merge=d", "--archive=ad"}), 3) << errors;
    const auto bytes = ReadAll(Path("ad/data/report.json"));
    const auto report = nlohmann::json::parse(bytes.begin(), bytes.end());
    EXPECT_EQ(report["errors"]["concealed"]["count"], 1);
    EXPECT_EQ(report["errors"]["unreadable"]["count"], 0);
    EXPECT_EQ(report["merge"]["frames_still_bad"], 1);
}

TEST_F(MergeModeTest, AnotherTapeIsRefusedWithStatus1UnlessForcedAndBadCommandLinesGet2)
{
    Archive("a", "");
    Archive("x", "", "other.dat");
    EXPECT_EQ(Run({"--merge=a", "--merge=x", "--archive=ax"}), 1) << errors;
    EXPECT_NE(errors.find("x does not match a"), std::string::npos) << errors;
    EXPECT_EQ(Run({"--merge=a", "--merge=x", "--archive=ax", "--force"}), 3) << errors;
    EXPECT_NE(errors.find("--force"), std::string::npos) << errors;

    for (const QStringList& bad : {QStringList{"--merge=a", "--archive=o"}, QStringList{"--merge=a", "--merge=x"},
                                   QStringList{"--force", "--archive=o"}, QStringList{"--merge", "a", "--archive=o"},
                                   QStringList{"--merge=a", "--merge=x", "--archive=o", "--retries=2"},
                                   QStringList{"--merge=a", "--merge=x", "--archive=o", "--simulate"}}) {
        EXPECT_EQ(Run(bad), 2) << bad.join(' ').toStdString() << ": " << errors;
        EXPECT_NE(errors.find("vantrel: "), std::string::npos) << errors;
    }
    // The drive-less merge of packages that are not there is a failed merge, not a usage error.
    EXPECT_EQ(Run({"--merge=a", "--merge=nothing", "--archive=o"}), 1) << errors;
    EXPECT_NE(errors.find("nothing does not hold a Vantrel archive package"), std::string::npos) << errors;

    testing_support::ChildProcess help(dir.path());
    ASSERT_TRUE(help.start(QStringLiteral(VANTREL_BINARY), {"--help"}));
    EXPECT_EQ(help.finish(), 0);
    const std::string text = help.takeStdout();
    EXPECT_NE(text.find("--merge"), std::string::npos);
    EXPECT_NE(text.find("--force"), std::string::npos);
}

}  // namespace
