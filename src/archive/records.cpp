#include "archive/records.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "dat/time_code.h"

namespace archive {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to y-m-d (proleptic Gregorian). The epoch lies before the earliest
// year a date pack can name (70 is 1970), so every valid date is zero or more.
std::int64_t DaysFromCivil(int y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe + era * 400) + (m <= 2);
}

std::int32_t IndexOf(const std::optional<dat::TimePack>& pack)
{
    if (!pack)
        return -1;
    const std::optional<std::uint32_t> i = dat::IndexOfTimeCode(pack->time);
    return i ? static_cast<std::int32_t>(*i) : -1;
}

// `step` is the tape's time-code frames per tape frame: a long-play tape whose counter runs
// in real time advances two, and that is running on, not a break in time.
bool RunsOn(std::int32_t prev, std::int32_t now, unsigned step = 1)
{
    if (prev < 0 || now < 0)
        return (prev < 0) == (now < 0);
    return now == prev + static_cast<std::int32_t>(step);
}

std::string ProgramText(const FrameRecord& r)
{
    switch (r.kind) {
    case dat::ProgramNumber::Kind::Number: return std::to_string(r.program);
    case dat::ProgramNumber::Kind::LeadIn: return "lead-in";
    case dat::ProgramNumber::Kind::LeadOut: return "lead-out";
    case dat::ProgramNumber::Kind::Invalid: return "";
    }
    return "";
}

const char* StateText(FrameState s)
{
    switch (s) {
    case FrameState::Clean: return "ok";
    case FrameState::Concealed: return "concealed";
    case FrameState::Unreadable: return "unreadable";
    case FrameState::Recovered: return "recovered";
    }
    return "";
}

}  // namespace

std::uint32_t FrameRecord::sampleRate() const
{
    dat::MainId id;
    id.rateCode = rateCode;
    const std::uint32_t rate = id.SampleRateHz();
    return rate ? rate : dat::MainId{}.SampleRateHz();
}

dat::AudioFormat FrameRecord::format() const
{
    dat::MainId id;
    id.rateCode = rateCode;
    id.channelCode = channelCode;
    id.quantizationCode = quantizationCode;
    if (const std::optional<dat::AudioFormat> f = dat::FormatOf(id))
        return *f;
    return dat::StereoFormatAt(sampleRate()).value();
}

FrameRecord RecordOf(const dat::Frame& f)
{
    FrameRecord r;
    r.absolute = IndexOf(f.absoluteTime);
    r.programTime = IndexOf(f.programTime);
    r.runningTime = IndexOf(f.runningTime);
    r.kind = f.subId.program.kind;
    if (r.kind == dat::ProgramNumber::Kind::Number)
        r.program = f.subId.program.number;
    const std::optional<dat::TimePack>& indexed = f.programTime ? f.programTime : f.absoluteTime;
    if (indexed && indexed->index)
        r.index = *indexed->index;
    r.rateCode = f.mainId.rateCode <= 2 ? f.mainId.rateCode : 0;
    r.channelCode = f.mainId.channelCode <= 1 ? f.mainId.channelCode : 0;
    r.quantizationCode = f.mainId.quantizationCode <= 1 ? f.mainId.quantizationCode : 0;
    r.emphasis = f.mainId.Emphasis();
    r.start = f.subId.start;
    r.skip = f.subId.skip;
    r.toc = f.subId.toc;
    r.concealedLeft = f.subId.leftConcealed;
    r.concealedRight = f.subId.rightConcealed;
    r.state = r.concealedLeft || r.concealedRight ? FrameState::Concealed : FrameState::Clean;
    if (f.date && f.date->valid) {
        const dat::DatePack& d = *f.date;
        const int year = static_cast<int>(d.year >= 70 ? 1900 + d.year : 2000 + d.year);
        r.date = DaysFromCivil(year, d.month, d.day) * kSecondsPerDay + d.hour * 3600 + d.minute * 60 + d.second;
    }
    return r;
}

bool IsPlaceholder(const std::uint8_t* frame)
{
    return std::all_of(frame, frame + dat::kFrameBytes, [](std::uint8_t b) { return b == 0; });
}

std::string DateText(std::int64_t date)
{
    if (date < 0)
        return "";
    int y;
    unsigned m, d;
    CivilFromDays(date / kSecondsPerDay, y, m, d);
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02u-%02u", y, m, d);
    return out;
}

std::string TimeText(std::int64_t date)
{
    if (date < 0)
        return "";
    const std::int64_t s = date % kSecondsPerDay;
    char out[32];
    std::snprintf(out, sizeof out, "%02d:%02d:%02d", static_cast<int>(s / 3600), static_cast<int>(s / 60 % 60),
                  static_cast<int>(s % 60));
    return out;
}

std::string IndexText(std::int64_t index)
{
    return index < 0 ? std::string() : dat::FormatHmsf(dat::TimeCodeOfIndex(static_cast<std::uint64_t>(index)));
}

namespace {

// Splits frames into files one frame at a time (see PlanFiles).
class FilePlanner {
public:
    FilePlanner(const std::vector<FrameRecord>& records, unsigned step) : records_(records), step_(step ? step : 1) {}

    std::vector<PlannedFile> plan()
    {
        for (std::size_t i = 0; i < records_.size(); ++i)
            take(i);
        placePending();
        for (PlannedFile& f : files_)
            Locate(f, records_, step_);
        return std::move(files_);
    }

private:
    std::size_t newFile(unsigned program, const FrameRecord& r)
    {
        PlannedFile f;
        char base[16];
        std::snprintf(base, sizeof base, "%03u", program);
        f.name = std::string(base) + ".wav";
        for (int n = 2; names_.count(f.name); ++n)
            f.name = std::string(base) + "-" + std::to_string(n) + ".wav";
        names_.insert(f.name);
        f.program = program;
        f.sampleRate = r.sampleRate();
        f.format = r.format();
        f.emphasis = r.emphasis;
        files_.push_back(std::move(f));
        lastIndex_.push_back(0xFF);
        return files_.size() - 1;
    }

    void place(std::size_t file, std::size_t position) { files_[file].frames.push_back(position); }

    // Unreadable frames not yet placed go to the current file, if there is one.
    void placePending()
    {
        if (cur_ >= 0)
            for (std::size_t p : pending_)
                place(static_cast<std::size_t>(cur_), p);
        pending_.clear();
    }

    // The file a readable frame of audio goes to; `stretch`: it begins another stretch of a 000 file.
    std::size_t fileFor(const FrameRecord& r, bool& stretch)
    {
        stretch = false;
        if (r.numbered()) {
            const bool split = cur_ < 0 || files_[static_cast<std::size_t>(cur_)].program != r.program ||
                               files_[static_cast<std::size_t>(cur_)].format != r.format() ||
                               (r.start && prev_ && !prev_->start);
            return split ? newFile(r.program, r) : static_cast<std::size_t>(cur_);
        }
        const dat::AudioFormat f = r.format();
        const std::uint64_t key = std::uint64_t{f.rate} << 8 | f.channels << 1 | (f.NonLinear() ? 1 : 0);
        auto it = unnumbered_.find(key);
        if (it == unnumbered_.end())
            it = unnumbered_.emplace(key, newFile(0, r)).first;
        stretch = static_cast<int>(it->second) != cur_ && !files_[it->second].frames.empty();
        return it->second;
    }

    // Lost frames just before a new file belong to it as far as its program time says it had
    // begun; the rest end the file before.
    void enter(std::size_t target, const FrameRecord& r, bool stretch)
    {
        std::size_t intoNew = 0;
        if (r.numbered() && r.programTime >= 0)
            intoNew = std::min<std::size_t>(pending_.size(), static_cast<std::size_t>(r.programTime));
        const std::size_t intoOld = pending_.size() - intoNew;
        if (cur_ >= 0)
            for (std::size_t k = 0; k < intoOld; ++k)
                place(static_cast<std::size_t>(cur_), pending_[k]);
        if (stretch)
            files_[target].cues.push_back(
                {static_cast<std::uint32_t>(files_[target].frames.size() * r.format().sampleFrames), 0});
        for (std::size_t k = intoOld; k < pending_.size(); ++k)
            place(target, pending_[k]);
        lastIndex_[target] = 0xFF;
        pending_.clear();
    }

    void take(std::size_t i)
    {
        const FrameRecord& r = records_[i];
        if (!r.readable()) {
            pending_.push_back(i);
            return;
        }
        if (r.leadInOrOut()) {
            placePending();
            cur_ = -1;
            prev_ = &r;
            return;
        }
        bool stretch = false;
        const std::size_t target = fileFor(r, stretch);
        if (static_cast<int>(target) != cur_) {
            enter(target, r, stretch);
        } else {
            for (std::size_t p : pending_)
                place(target, p);
            pending_.clear();
        }
        PlannedFile& f = files_[target];
        if (r.index != 0xFF) {
            if (lastIndex_[target] != 0xFF && lastIndex_[target] != r.index)
                f.cues.push_back({static_cast<std::uint32_t>(f.frames.size() * r.format().sampleFrames), r.index});
            lastIndex_[target] = r.index;
        }
        place(target, i);
        cur_ = static_cast<int>(target);
        prev_ = &r;
    }

    // A file's place on the tape: its absolute times, time reference and date.
    // A frame's absolute time counts `step` codes per tape frame; the time reference is real time.
    static void Locate(PlannedFile& f, const std::vector<FrameRecord>& records, unsigned step)
    {
        const std::uint32_t pairs = f.format.sampleFrames;
        const auto s = static_cast<std::int64_t>(step);
        bool referenced = false;
        for (std::size_t k = 0; k < f.frames.size(); ++k) {
            const FrameRecord& r = records[f.frames[k]];
            if (r.absolute >= 0) {
                if (!referenced) {
                    f.firstAbsolute = r.absolute - static_cast<std::int64_t>(k) * s;
                    f.timeReference = std::max<std::int64_t>(0, f.firstAbsolute / s * pairs);
                    referenced = true;
                }
                f.lastAbsolute = r.absolute + static_cast<std::int64_t>(f.frames.size() - 1 - k) * s;
            }
            if (f.date < 0 && r.date >= 0)
                f.date = r.date;
        }
        if (f.firstAbsolute < 0)
            f.firstAbsolute = -1;
    }

    const std::vector<FrameRecord>& records_;
    std::vector<PlannedFile> files_;
    std::set<std::string> names_;
    unsigned step_;
    std::map<std::uint64_t, std::size_t> unnumbered_;  // format -> its 000 file
    std::vector<std::uint8_t> lastIndex_;              // per file, 0xFF none
    int cur_ = -1;
    std::vector<std::size_t> pending_;  // unreadable frames not yet placed
    const FrameRecord* prev_ = nullptr;  // the last readable frame
};

}  // namespace

std::vector<PlannedFile> PlanFiles(const std::vector<FrameRecord>& records, unsigned timeStep)
{
    return FilePlanner(records, timeStep).plan();
}

unsigned TimeStepOf(const std::vector<FrameRecord>& records)
{
    std::size_t ones = 0, twos = 0;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const FrameRecord& a = records[i - 1];
        const FrameRecord& b = records[i];
        if (!a.readable() || !b.readable() || a.absolute < 0 || b.absolute < 0)
            continue;
        ones += b.absolute - a.absolute == 1;
        twos += b.absolute - a.absolute == 2;
    }
    return twos > ones ? 2 : 1;
}

const char* SubcodeLog::Header()
{
    return "frame,absolute_time,program_time,running_time,program,index,start,skip,toc,rate,emphasis,date,"
           "concealed_left,concealed_right,state\n";
}

std::string SubcodeLog::RowFor(const std::vector<FrameRecord>& records, std::size_t at, unsigned timeStep)
{
    const unsigned step = timeStep ? timeStep : 1;
    const FrameRecord& r = records[at];
    if (at == 0 || at + 1 == records.size() || !r.readable())
        return Row(at, r);
    const FrameRecord& p = records[at - 1];
    const bool dateRunsOn = (p.date < 0 && r.date < 0) || (p.date >= 0 && r.date >= 0 && (r.date - p.date == 0 || r.date - p.date == 1));
    const bool same = p.readable() && p.kind == r.kind && p.program == r.program && p.index == r.index &&
                      p.start == r.start && p.skip == r.skip && p.toc == r.toc && p.rateCode == r.rateCode &&
                      p.emphasis == r.emphasis && p.concealedLeft == r.concealedLeft &&
                      p.concealedRight == r.concealedRight && p.state == r.state &&
                      RunsOn(p.absolute, r.absolute, step) && RunsOn(p.runningTime, r.runningTime, step) &&
                      (RunsOn(p.programTime, r.programTime, step) || r.programTime == 0) && dateRunsOn;
    return same ? std::string() : Row(at, r);
}

std::string SubcodeLog::Row(std::size_t position, const FrameRecord& r)
{
    std::string row = std::to_string(position);
    auto add = [&row](const std::string& v) {
        row += ',';
        row += v;
    };
    add(IndexText(r.absolute));
    if (!r.readable()) {
        for (int k = 0; k < 12; ++k)
            add("");
        add(StateText(r.state));
        return row + '\n';
    }
    add(IndexText(r.programTime));
    add(IndexText(r.runningTime));
    add(ProgramText(r));
    add(r.index == 0xFF ? "" : std::to_string(r.index));
    add(r.start ? "1" : "0");
    add(r.skip ? "1" : "0");
    add(r.toc ? "1" : "0");
    add(std::to_string(r.sampleRate()));
    add(r.emphasis ? "1" : "0");
    add(r.date >= 0 ? DateText(r.date) + " " + TimeText(r.date) : "");
    add(r.concealedLeft ? "1" : "0");
    add(r.concealedRight ? "1" : "0");
    add(StateText(r.state));
    return row + '\n';
}

}  // namespace archive
