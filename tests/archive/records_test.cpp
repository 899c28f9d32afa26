// How frames are split into WAV files and what the subcode log keeps, on tapes laid out by
// hand: the cases a real tape has and the three-program tape does not.
#include <gtest/gtest.h>

#include "archive/records.h"

namespace {

using archive::FrameRecord;
using archive::FrameState;
using archive::PlanFiles;
using ProgramKind = dat::ProgramNumber::Kind;

// `count` frames of program `program` (0: unnumbered) from absolute frame `abs`.
void Add(std::vector<FrameRecord>& tape, unsigned program, unsigned count, bool start = false, std::uint8_t rate = 0,
         std::uint8_t index = 1)
{
    for (unsigned k = 0; k < count; ++k) {
        FrameRecord r;
        r.absolute = tape.empty() ? 0 : tape.back().absolute + 1;
        r.kind = program ? ProgramKind::Number : ProgramKind::Invalid;
        r.program = static_cast<std::uint16_t>(program);
        r.programTime = static_cast<std::int32_t>(k);
        r.start = start;
        r.rateCode = rate;
        r.index = index;
        tape.push_back(r);
    }
}

void Lose(std::vector<FrameRecord>& tape, std::size_t from, std::size_t count)
{
    for (std::size_t i = from; i < from + count; ++i) {
        const std::int32_t abs = tape[i].absolute;
        tape[i] = FrameRecord{};
        tape[i].absolute = abs;
        tape[i].state = FrameState::Unreadable;
    }
}

std::vector<std::string> Names(const std::vector<archive::PlannedFile>& files)
{
    std::vector<std::string> out;
    for (const auto& f : files)
        out.push_back(f.name + ":" + std::to_string(f.frames.size()));
    return out;
}

TEST(ArchivePlan, ProgramsSplitAtNumberChangesStartIdsAndRateChanges)
{
    std::vector<FrameRecord> tape;
    Add(tape, 1, 10, true);
    Add(tape, 1, 20);
    Add(tape, 1, 5, true);   // a second start ID under the same number: a new file
    Add(tape, 1, 5);
    Add(tape, 2, 8, true);
    Add(tape, 2, 4, false, 1);  // the rate changes within program 2
    const auto files = PlanFiles(tape);
    EXPECT_EQ(Names(files), (std::vector<std::string>{"001.wav:30", "001-2.wav:10", "002.wav:8", "002-2.wav:4"}));
    EXPECT_EQ(files[3].sampleRate, 44100u);
    EXPECT_EQ(files[1].timeReference, 30 * 1440);
    EXPECT_EQ(files[3].timeReference, 48 * 1323);
}

TEST(ArchivePlan, UnnumberedAudioGoesTo000WithACueAtEachStretchAndLeadInIsLeftOut)
{
    std::vector<FrameRecord> tape;
    FrameRecord leadIn;
    leadIn.kind = ProgramKind::LeadIn;
    tape.assign(4, leadIn);
    Add(tape, 0, 6);
    Add(tape, 1, 10, true);
    Add(tape, 0, 3);
    Add(tape, 2, 10, true);
    const auto files = PlanFiles(tape);
    EXPECT_EQ(Names(files), (std::vector<std::string>{"000.wav:9", "001.wav:10", "002.wav:10"}));
    ASSERT_EQ(files[0].cues.size(), 1u);
    EXPECT_EQ(files[0].cues[0].sample, 6u * 1440);
    EXPECT_EQ(files[0].frames.front(), 4u);  // no lead-in frame in any file
}

TEST(ArchivePlan, LostFramesAtAProgramStartGoWhereTheProgramTimeSaysAndIndexChangesAreCues)
{
    std::vector<FrameRecord> tape;
    Add(tape, 1, 20, true);
    Add(tape, 2, 20, true, 0, 1);
    for (std::size_t i = 30; i < 40; ++i)
        tape[i].index = 2;
    // The last two frames of program 1 and the first three of program 2 are lost.
    Lose(tape, 18, 5);
    const auto files = PlanFiles(tape);
    EXPECT_EQ(Names(files), (std::vector<std::string>{"001.wav:20", "002.wav:20"}));
    EXPECT_EQ(files[1].frames.front(), 20u);
    EXPECT_EQ(files[1].timeReference, 20 * 1440);
    ASSERT_EQ(files[1].cues.size(), 1u);
    EXPECT_EQ(files[1].cues[0].sample, 10u * 1440);
    EXPECT_EQ(files[1].cues[0].index, 2u);
    EXPECT_TRUE(files[0].cues.empty());
}

TEST(ArchiveLog, RowsAtChangesBreaksInTimeAndEveryUnreadableFrame)
{
    std::vector<FrameRecord> tape;
    Add(tape, 1, 50, true);
    Add(tape, 2, 50, true);
    Lose(tape, 70, 2);
    tape[90].absolute = 500;  // the absolute time jumps (a recording over an older one)
    for (std::size_t i = 91; i < tape.size(); ++i)
        tape[i].absolute = static_cast<std::int32_t>(500 + i - 90);
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < tape.size(); ++i)
        if (!archive::SubcodeLog::RowFor(tape, i).empty())
            rows.push_back(i);
    // First, program 2, the two lost, the frame after them, the jump, last.
    EXPECT_EQ(rows, (std::vector<std::size_t>{0, 50, 70, 71, 72, 90, 99}));
    EXPECT_EQ(archive::SubcodeLog::Row(70, tape[70]), "70,00:00:02.04,,,,,,,,,,,,,unreadable\n");
}

}  // namespace

namespace {

archive::FrameRecord Dated(unsigned year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second)
{
    dat::Frame frame;
    dat::DatePack date;
    date.year = year;
    date.month = month;
    date.day = day;
    date.hour = hour;
    date.minute = minute;
    date.second = second;
    date.valid = true;
    frame.date = date;
    return archive::RecordOf(frame);
}

// DAT's years 70-99 are 1970-1999, when nearly every tape was made: a date of those years
// must be kept as a date, not taken for none.
TEST(ArchiveDates, EveryYearADatePackCanNameIsKept)
{
    const FrameRecord ninetyFour = Dated(94, 6, 18, 20, 15, 0);
    ASSERT_GE(ninetyFour.date, 0);
    EXPECT_EQ(archive::DateText(ninetyFour.date), "1994-06-18");
    EXPECT_EQ(archive::TimeText(ninetyFour.date), "20:15:00");
    EXPECT_EQ(archive::DateText(Dated(70, 1, 1, 0, 0, 0).date), "1970-01-01");
    EXPECT_EQ(archive::DateText(Dated(99, 12, 31, 23, 59, 59).date), "1999-12-31");
    EXPECT_EQ(archive::DateText(Dated(0, 2, 29, 12, 0, 0).date), "2000-02-29");
    EXPECT_EQ(archive::DateText(Dated(69, 12, 31, 0, 0, 0).date), "2069-12-31");
    EXPECT_EQ(archive::SubcodeLog::Row(0, ninetyFour).find("1994-06-18 20:15:00") != std::string::npos, true)
        << archive::SubcodeLog::Row(0, ninetyFour);
}

}  // namespace
