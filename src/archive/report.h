// The package's own account of itself: data/report.json and report.txt, the error lines of
// the summary, bag-info.txt and the manifests. Written from the frame records and what the
// run says of itself; nothing here touches tape.dat or the drive.
#pragma once

#include <QDateTime>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "archive/package.h"
#include "archive/package_io.h"
#include "archive/records.h"
#include "audio/frame_reader.h"
#include "platform/io/result.h"

namespace archive {

// Consecutive tape.dat positions of frames in a state, with their absolute times.
struct Range {
    std::size_t first = 0, count = 0;
    std::int64_t firstAbsolute = -1, lastAbsolute = -1;
};

// What the kept frames add up to.
struct Totals {
    std::uint64_t audioFrames = 0, unreadable = 0, concealed = 0;
    std::int64_t firstAbsolute = -1, lastAbsolute = -1;
    std::uint32_t rate = 0;
    std::optional<dat::AudioFormat> format;  // of the first audio frame
    std::optional<LayoutChoice> layout;      // a tape of 12-bit frames: how they were unpacked
    unsigned timeStep = 1;                   // time-code frames a tape frame advances
    bool emphasis = false;                   // of any audio frame
    // The programs' rates and emphasis, in order, when they differ (else empty).
    std::vector<std::uint32_t> mixedRates;
    std::vector<unsigned> emphasised;  // programs with emphasis, when not all of them have it
    bool mixedEmphasis = false;
    std::int64_t firstDate = -1, lastDate = -1;  // the first and last date pack (-1: none)
    std::vector<std::size_t> reread;  // positions of frames read after failed tries
    std::vector<Range> unreadableRanges, concealedRanges;
    std::set<unsigned> programs;
    double speed = 0;  // of the main pass, as a multiple of real time
};

// Everything the reports say, as the package is finished.
struct ReportFacts {
    const std::vector<FrameRecord>& records;
    const std::vector<Recovery>& recovered;
    const RunFacts& run;
    bool complete = false;  // the run's, or false when the package could not be written whole
    std::string reason;
    QDateTime started, finished;
    std::vector<RunRecord> runs;  // every run, this one last
};

Totals TotalsOf(const std::vector<FrameRecord>& records, const std::vector<PlannedFile>& files, const RunFacts& run);
nlohmann::json ReportJson(const ReportFacts& f, const Totals& t, const std::vector<PlannedFile>& files);
std::string ReportText(const ReportFacts& f, const Totals& t, const nlohmann::json& j);
// The places the main pass located past after the bad-frame limit, a line each ("" when
// none), for report.txt and the summary.
std::string SkipLines(const RunFacts& run);
// The three error lines of the text report and the summary.
std::string ErrorLines(const std::vector<FrameRecord>& records, const Totals& t);
std::string BagInfo(const ReportFacts& f, const Totals& t, std::uint64_t octets, std::size_t streams);
// Stages the manifests over `payload` and the tag files around them, the tag manifest last.
Status StageBag(const std::string& dir, const ReportFacts& f, const Totals& t, std::vector<WrittenFile> payload,
                std::vector<StagedFile>& staged);

// "2025-06-07T08:09:10Z".
std::string Iso(const QDateTime& t);

}  // namespace archive
