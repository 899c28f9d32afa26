// data/report.json as --resume and a merge find it after a hand edit or damage: a value of
// the wrong type or shape is refused with the reason (resume) or passed over (merge), never
// fatal, and what it gives back is only what the program would itself have written.
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

#include "archive/package.h"
#include "archive_tape.h"
#include "dat/frame.h"

namespace {

using namespace archive_test;

class PackageReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::Result<archive::Package> p = archive::Package::Create(dir_);
        ASSERT_TRUE(p) << p.error();
        for (std::size_t n = 0; n < kFrames; ++n)
            ASSERT_TRUE(
                p->Append(tape_.dump.data() + n * kFrame,
                          archive::RecordOf(dat::Decode(dat::FrameBytes(tape_.dump.data() + n * kFrame, kFrame)))));
        archive::RunFacts run;
        run.reason = "Stopped before the end of the tape.";
        (void)p->Finish(run);
    }

    void WriteReport(const std::string& text) const
    {
        std::ofstream(dir_ + "/data/report.json", std::ios::binary | std::ios::trunc) << text;
    }

    static constexpr std::size_t kFrames = 40;
    QTemporaryDir temp_;
    const std::string dir_ = temp_.filePath("pkg").toStdString();
    const TestTape tape_ = MakeTestTape();
};

TEST_F(PackageReportTest, WrongTypesAreRefusedForAResumeAndPassedOverForAMerge)
{
    for (const char* text :
         {R"([1, 2])", R"("text")", R"({"started": 5})", R"({"stopped_in": []})", R"({"runs": [{"start": 7}]})",
          R"({"started": "2025-06-07T08:09:10Z", "read_speed": "x"})", R"({"cassette": {"label": 3}})"}) {
        SCOPED_TRACE(text);
        WriteReport(text);
        const ::Result<archive::Package> resumed = archive::Package::Load(dir_);
        ASSERT_FALSE(resumed);
        EXPECT_EQ(resumed.error(), "data/report.json of the package cannot be read; it cannot be resumed.");
        const ::Result<archive::Package> source = archive::Package::OpenReadOnly(dir_);
        ASSERT_TRUE(source) << source.error();
        EXPECT_EQ(source->records().size(), kFrames);
        EXPECT_TRUE(source->label().empty());
        EXPECT_TRUE(source->stoppedIn().empty());
    }
}

TEST_F(PackageReportTest, RecoveredFramesAreTakenOnlyAsWholeNumbersInRange)
{
    WriteReport(R"({"errors": {"recovered_on_reread": [
        {"frame": -1}, {"frame": 1e300, "failed_reads": 1e300}, {"frame": 3.5}, 5, "x", {"failed_reads": 2},
        {"frame": 7, "failed_reads": 70000}, {"frame": 9, "failed_reads": -4}, {"frame": 11, "failed_reads": 3},
        {"frame": 99999}]}})");
    const ::Result<archive::Package> p = archive::Package::Load(dir_);
    ASSERT_TRUE(p) << p.error();
    const auto& records = p->records();
    for (std::size_t n = 0; n < records.size(); ++n) {
        const bool recovered = n == 7 || n == 9 || n == 11;
        EXPECT_EQ(records[n].state == archive::FrameState::Recovered, recovered) << "frame " << n;
    }
    EXPECT_EQ(records[7].failedReads, 65535) << "more than a count holds is its largest";
    EXPECT_EQ(records[9].failedReads, 1) << "a count that is not one counts as one";
    EXPECT_EQ(records[11].failedReads, 3);

    // Not a list: nothing recovered, and the package still loads.
    WriteReport(R"({"errors": {"recovered_on_reread": {"frame": 7}}})");
    const ::Result<archive::Package> q = archive::Package::Load(dir_);
    ASSERT_TRUE(q) << q.error();
    EXPECT_EQ(q->records()[7].state, archive::FrameState::Clean);
}

// The label and identifier go into bag-info lines and the bext as they stand: a line break
// would add a bag-info line of its own ("Vantrel-Status: complete" on an incomplete package).
TEST_F(PackageReportTest, ALabelOrIdThatTheOptionsWouldRefuseIsDropped)
{
    WriteReport(R"({"cassette": {"label": "Concert\nVantrel-Status: complete", "id": "T-07"}})");
    ::Result<archive::Package> p = archive::Package::Load(dir_);
    ASSERT_TRUE(p) << p.error();
    EXPECT_EQ(p->label(), "");
    EXPECT_EQ(p->id(), "T-07");

    WriteReport(R"({"cassette": {"label": "Concert", "id": "an identifier far longer than thirty-two bytes"}})");
    p = archive::Package::Load(dir_);
    ASSERT_TRUE(p) << p.error();
    EXPECT_EQ(p->label(), "Concert");
    EXPECT_EQ(p->id(), "");
}

}  // namespace
