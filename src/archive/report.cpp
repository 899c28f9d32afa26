#include "archive/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace archive {

namespace {

std::string DurationText(double seconds)
{
    const auto ms = static_cast<long long>(std::llround(seconds * 1000));
    char out[32];
    std::snprintf(out, sizeof out, "%lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return out;
}

std::vector<Range> RangesOf(const std::vector<FrameRecord>& records, FrameState state)
{
    std::vector<Range> out;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].state != state)
            continue;
        if (!out.empty() && out.back().first + out.back().count == i) {
            ++out.back().count;
            out.back().lastAbsolute = records[i].absolute;
        } else {
            out.push_back({i, 1, records[i].absolute, records[i].absolute});
        }
    }
    return out;
}

std::string RangeText(const Range& r)
{
    const std::string first = r.firstAbsolute >= 0 ? IndexText(r.firstAbsolute) : "frame " + std::to_string(r.first);
    if (r.count == 1)
        return first;
    const std::string last = r.lastAbsolute >= 0 ? IndexText(r.lastAbsolute)
                                                 : "frame " + std::to_string(r.first + r.count - 1);
    return first + "\u2013" + last;
}

// "standard play", "long play", "four-channel".
std::string ModeText(const Totals& t)
{
    if (!t.format || !t.format->NonLinear())
        return "standard play";
    return t.format->channels == 4 ? "four-channel" : "long play";
}

// The tape's rate: the one rate, or "mixed (48000, 44100)" when the programs differ.
std::string RateText(const Totals& t)
{
    if (t.mixedRates.empty())
        return std::to_string(t.rate);
    std::string out = "mixed (";
    for (std::size_t k = 0; k < t.mixedRates.size(); ++k)
        out += (k ? ", " : "") + std::to_string(t.mixedRates[k]);
    return out + ")";
}

// "50/15 us", "none", or "mixed (50/15 us on programs 2, 4)" when the programs differ.
std::string EmphasisText(const Totals& t)
{
    if (!t.mixedEmphasis)
        return t.emphasis ? "50/15 us" : "none";
    std::string out = "mixed (50/15 us on program";
    out += t.emphasised.size() > 1 ? "s " : " ";
    for (std::size_t k = 0; k < t.emphasised.size(); ++k)
        out += (k ? ", " : "") + std::to_string(t.emphasised[k]);
    return out + ")";
}

// "2025-06-07 08:09:10", the tape's own clock (no time zone).
std::string DateTimeText(std::int64_t date) { return DateText(date) + " " + TimeText(date); }

// How the tape's counter ran against real time.
std::string TimeCodeText(const Totals& t)
{
    const bool longPlay = t.format && t.format->NonLinear() && t.format->channels == 2;
    if (!longPlay)
        return "one code frame per tape frame";
    return t.timeStep == 2 ? "two code frames per 60 ms tape frame (real time)"
                           : "one code frame per 60 ms tape frame (half speed: the counter shows half the real time)";
}

nlohmann::json ProgramsJson(const std::vector<PlannedFile>& files)
{
    nlohmann::json programs = nlohmann::json::array();
    for (const PlannedFile& f : files) {
        // Real time: a long-play frame lasts 60 ms.
        const double seconds = static_cast<double>(f.frames.size()) * f.format.Seconds();
        nlohmann::json cues = nlohmann::json::array();
        for (const CuePoint& c : f.cues)
            cues.push_back({{"sample", c.sample}, {"index", c.index}});
        programs.push_back({{"file", "data/" + f.name},
                            {"program", f.program},
                            {"start", IndexText(f.firstAbsolute)},
                            {"end", IndexText(f.lastAbsolute)},
                            {"duration", DurationText(seconds)},
                            {"duration_seconds", seconds},
                            {"frames", f.frames.size()},
                            {"first_frame", f.frames.empty() ? 0 : f.frames.front()},
                            {"sample_rate", f.sampleRate},
                            {"emphasis", f.emphasis},
                            {"date", f.date >= 0 ? nlohmann::json(DateTimeText(f.date)) : nlohmann::json()},
                            {"channels", f.format.channels},
                            {"time_reference", f.timeReference},
                            {"cues", cues}});
    }
    return programs;
}

nlohmann::json RangesJson(const std::vector<Range>& list)
{
    nlohmann::json a = nlohmann::json::array();
    for (const Range& r : list)
        a.push_back({{"first_frame", r.first},
                     {"count", r.count},
                     {"first", IndexText(r.firstAbsolute)},
                     {"last", IndexText(r.lastAbsolute)}});
    return a;
}

nlohmann::json RetryJson(const ReportFacts& f, const Totals& t)
{
    nlohmann::json retry = {{"retries", f.run.retries}, {"rounds", f.run.retryRounds}, {"places", f.run.retryPlaces}};
    retry["recovered"] = nlohmann::json::array();
    for (const auto& [pos, was] : f.recovered)
        retry["recovered"].push_back({{"frame", pos},
                                      {"absolute_time", IndexText(f.records[pos].absolute)},
                                      {"was", was == FrameState::Unreadable ? "unreadable" : "concealed"}});
    retry["still_bad"] = t.unreadable + t.concealed;
    retry["notes"] = f.run.retryNotes;
    return retry;
}

std::string SidesText(const Disagreement& d)
{
    std::string txt;
    for (std::size_t k = 0; k < d.sides.size(); ++k) {
        txt += k == 0 ? "" : " against ";
        for (std::size_t i = 0; i < d.sides[k].size(); ++i)
            txt += (i ? "+" : "") + std::to_string(d.sides[k][i] + 1);
    }
    return txt;
}

// The reads a merged package was made from, what each gave, and where they disagreed.
nlohmann::json MergeJson(const MergeFacts& m, const Totals& t)
{
    nlohmann::json sources = nlohmann::json::array();
    for (const MergeSource& s : m.sources)
        sources.push_back(
            {{"path", s.path},
             {"bagging_date", s.baggingDate},
             {"drive", {{"vendor", s.drive.vendor}, {"product", s.drive.product}, {"firmware", s.drive.revision}}},
             {"tape_dat_sha256", s.tapeSha256},
             {"frames_taken", s.framesTaken}});
    nlohmann::json disagreements = nlohmann::json::array();
    for (const Disagreement& d : m.disagreements) {
        nlohmann::json sides = nlohmann::json::array();
        for (const auto& side : d.sides) {
            nlohmann::json numbers = nlohmann::json::array();
            for (std::size_t k : side)
                numbers.push_back(k + 1);
            sides.push_back(numbers);
        }
        disagreements.push_back({{"first", IndexText(d.firstAbsolute)},
                                 {"last", IndexText(d.lastAbsolute)},
                                 {"frames", d.frames},
                                 {"sides", sides},
                                 {"taken_from", d.sides.empty() || d.sides[0].empty() ? 0 : d.sides[0][0] + 1}});
    }
    return {{"sources", sources},
            {"frames_still_bad", t.unreadable + t.concealed},
            {"disagreements", disagreements},
            {"forced", m.forced}};
}

std::string MergeText(const MergeFacts& m, const Totals& t)
{
    std::string txt = "\nMerged from " + std::to_string(m.sources.size()) + " reads" +
                      (m.forced ? " (--force: not every read matched the others)" : "") + ":\n";
    for (std::size_t k = 0; k < m.sources.size(); ++k) {
        const MergeSource& s = m.sources[k];
        txt += "  " + std::to_string(k + 1) + ". " + s.path + "\n     bagged " +
               (s.baggingDate.empty() ? std::string("(no date)") : s.baggingDate) + ", drive " +
               (s.drive.vendor.empty() ? std::string("(not reported)")
                                       : s.drive.vendor + " " + s.drive.product + " " + s.drive.revision) +
               ", " + std::to_string(s.framesTaken) + " frames taken\n";
    }
    txt += "  Frames still bad: " + std::to_string(t.unreadable + t.concealed) + "\n";
    txt += "  Disagreements between clean copies: " + std::to_string(m.disagreements.size()) + " places" +
           (m.disagreements.empty() ? "" : " (reads on each side, the first side taken)") + "\n";
    for (const Disagreement& d : m.disagreements)
        txt += "    " + IndexText(d.firstAbsolute) +
               (d.frames > 1 ? "\u2013" + IndexText(d.lastAbsolute) : std::string()) + " (" + std::to_string(d.frames) +
               (d.frames > 1 ? " frames" : " frame") + "): " + SidesText(d) + "\n";
    return txt;
}

}  // namespace

std::string Iso(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate).toStdString(); }

Totals TotalsOf(const std::vector<FrameRecord>& records, const std::vector<PlannedFile>& files, const RunFacts& run)
{
    Totals t;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const FrameRecord& r = records[i];
        t.unreadable += r.state == FrameState::Unreadable;
        t.concealed += r.state == FrameState::Concealed;
        if (r.failedReads > 0)
            t.reread.push_back(i);
        if (r.readable() && !r.leadInOrOut()) {
            ++t.audioFrames;
            if (t.rate == 0) {
                t.rate = r.sampleRate();
                t.format = r.format();
            }
            t.emphasis = t.emphasis || r.emphasis;
        }
        if (r.date >= 0) {
            if (t.firstDate < 0)
                t.firstDate = r.date;
            t.lastDate = r.date;
        }
        if (r.absolute >= 0) {
            if (t.firstAbsolute < 0)
                t.firstAbsolute = r.absolute;
            t.lastAbsolute = r.absolute;
        }
    }
    t.unreadableRanges = RangesOf(records, FrameState::Unreadable);
    t.concealedRanges = RangesOf(records, FrameState::Concealed);
    std::vector<std::uint32_t> rates;
    bool withEmphasis = false, without = false;
    for (const PlannedFile& f : files) {
        if (f.program > 0)
            t.programs.insert(f.program);
        if (f.frames.empty())
            continue;
        if (std::find(rates.begin(), rates.end(), f.sampleRate) == rates.end())
            rates.push_back(f.sampleRate);
        (f.emphasis ? withEmphasis : without) = true;
        if (f.emphasis)
            t.emphasised.push_back(f.program);
    }
    if (rates.size() > 1)
        t.mixedRates = rates;
    t.mixedEmphasis = withEmphasis && without;
    if (!t.mixedEmphasis)
        t.emphasised.clear();
    t.speed = run.readMs > 0 ? run.readSeconds * 1000.0 / static_cast<double>(run.readMs) : 0;
    return t;
}

nlohmann::json ReportJson(const ReportFacts& f, const Totals& t, const std::vector<PlannedFile>& files)
{
    nlohmann::json j;
    j["status"] = f.complete ? "complete" : "incomplete";
    if (!f.complete)
        j["reason"] = f.reason;
    if (!f.run.stoppedIn.empty())
        j["stopped_in"] = f.run.stoppedIn;
    j["started"] = Iso(f.started);
    j["finished"] = Iso(f.finished);
    j["read_speed"] = std::round(t.speed * 10) / 10;
    if (!f.run.label.empty() || !f.run.id.empty())
        j["cassette"] = {{"label", f.run.label}, {"id", f.run.id}};
    j["drive"] = {{"vendor", f.run.drive.vendor}, {"product", f.run.drive.product}, {"firmware", f.run.drive.revision}};
    j["tape"] = {{"sample_rate", t.rate},
                 {"mode", ModeText(t)},
                 {"channels", t.format ? t.format->channels : 2},
                 {"time_code_step", t.timeStep},
                 {"emphasis", t.emphasis},
                 {"first_absolute_time", IndexText(t.firstAbsolute)},
                 {"last_absolute_time", IndexText(t.lastAbsolute)},
                 {"frames", f.records.size()},
                 {"audio_frames", t.audioFrames}};
    // One rate and emphasis stay plain values, as before; programs that differ say "mixed".
    if (!t.mixedRates.empty()) {
        j["tape"]["sample_rate"] = "mixed";
        j["tape"]["sample_rates"] = t.mixedRates;
    }
    if (t.mixedEmphasis) {
        j["tape"]["emphasis"] = "mixed";
        j["tape"]["programs_with_emphasis"] = t.emphasised;
    }
    if (t.firstDate >= 0) {
        j["tape"]["first_date"] = DateTimeText(t.firstDate);
        j["tape"]["last_date"] = DateTimeText(t.lastDate);
    } else {
        j["tape"]["first_date"] = nullptr;
        j["tape"]["last_date"] = nullptr;
        j["tape"]["date_note"] = "the tape has no date pack";
    }
    if (t.layout)
        j["tape"]["layout"] = {{"layout", std::string(dat::LayoutName(t.layout->layout))},
                               {"set_by_option", t.layout->forced},
                               {"clear", t.layout->forced || t.layout->clear},
                               {"ratio", std::round(t.layout->ratio * 10) / 10},
                               {"frames_voted", t.layout->frames},
                               {"text", t.layout->Text()}};
    j["programs"] = ProgramsJson(files);
    j["errors"]["unreadable"] = {{"count", t.unreadable}, {"ranges", RangesJson(t.unreadableRanges)}};
    j["errors"]["concealed"] = {{"count", t.concealed}, {"ranges", RangesJson(t.concealedRanges)}};
    j["errors"]["recovered_on_reread"] = nlohmann::json::array();
    for (std::size_t i : t.reread)
        j["errors"]["recovered_on_reread"].push_back({{"frame", i},
                                                       {"absolute_time", IndexText(f.records[i].absolute)},
                                                       {"failed_reads", f.records[i].failedReads}});
    j["errors"]["skipped"] = nlohmann::json::array();
    for (const SkippedStretch& k : f.run.skips)
        j["errors"]["skipped"].push_back({{"first", IndexText(k.first)},
                                          {"last", k.last >= 0 ? nlohmann::json(IndexText(k.last)) : nlohmann::json()},
                                          {"first_index", k.first},
                                          {"last_index", k.last >= 0 ? nlohmann::json(k.last) : nlohmann::json()},
                                          {"failed_reads", k.failedReads},
                                          {"locates", k.locates}});
    j["retry_pass"] = RetryJson(f, t);
    j["runs"] = nlohmann::json::array();
    for (const RunRecord& r : f.runs)
        j["runs"].push_back({{"start", r.start},
                             {"end", r.end},
                             {"frames_read", r.framesRead >= 0 ? nlohmann::json(r.framesRead) : nlohmann::json()},
                             {"read_speed", r.speed}});
    j["last_absolute_time"] = IndexText(t.lastAbsolute);
    if (f.run.merge.merged())
        j["merge"] = MergeJson(f.run.merge, t);
    return j;
}

std::string ReportText(const ReportFacts& f, const Totals& t, const nlohmann::json& j)
{
    const DriveIdentity& drive = f.run.drive;
    std::string txt = "Vantrel archive of a DAT tape\n\n";
    txt += "Status: " + std::string(f.complete ? "complete" : "incomplete (" + f.reason + ")") + "\n";
    txt += "Run: " + Iso(f.started) + " to " + Iso(f.finished) + "\n";
    if (f.runs.size() > 1) {
        txt += "Runs (resumed " + std::to_string(f.runs.size() - 1) + (f.runs.size() > 2 ? " times):\n" : " time):\n");
        char row[200];
        for (const RunRecord& r : f.runs) {
            std::snprintf(row, sizeof row, "  %s to %s, %s frames read, %.1f x real time\n", r.start.c_str(),
                          r.end.c_str(), r.framesRead >= 0 ? std::to_string(r.framesRead).c_str() : "(not known)",
                          r.speed);
            txt += row;
        }
    }
    char line[256];
    std::snprintf(line, sizeof line, "Read speed: %.1f x real time\n", t.speed);
    txt += line;
    if (!f.run.label.empty())
        txt += "Cassette label: " + f.run.label + "\n";
    if (!f.run.id.empty())
        txt += "Cassette identifier: " + f.run.id + "\n";
    txt += "Drive: " + (drive.vendor.empty() ? std::string("(did not report itself)")
                                             : drive.vendor + " " + drive.product + ", firmware " + drive.revision) +
           "\n";
    txt += "Tape: " + RateText(t) + " Hz, " +
           (t.mixedEmphasis ? "emphasis " + EmphasisText(t)
            : t.emphasis    ? "emphasis 50/15 us"
                            : "no emphasis") +
           ", absolute time " + IndexText(t.firstAbsolute) + " to " + IndexText(t.lastAbsolute) + ", " +
           std::to_string(f.records.size()) + " frames\n";
    txt +=
        "Recorded: " +
        (t.firstDate >= 0 ? DateTimeText(t.firstDate) + " to " + DateTimeText(t.lastDate) + " (the tape's date packs)"
                          : std::string("not known (the tape has no date pack)")) +
        "\n";
    txt += "Recording: " + ModeText(t) + (t.layout ? ", 12-bit samples in layout " + t.layout->Text() : "") + "\n";
    txt += "Time code: " + TimeCodeText(t) + "\n\nPrograms:\n";
    for (const auto& p : j["programs"]) {
        std::snprintf(line, sizeof line, "  %-12s program %3u  %s to %s  %s  %u Hz%s\n",
                      p["file"].get<std::string>().c_str() + 5, p["program"].get<unsigned>(),
                      p["start"].get<std::string>().c_str(), p["end"].get<std::string>().c_str(),
                      p["duration"].get<std::string>().c_str(), p["sample_rate"].get<unsigned>(),
                      p["emphasis"].get<bool>() ? ", emphasis 50/15 us" : "");
        txt += line;
    }
    txt += "\nErrors:\n" + ErrorLines(f.records, t) + SkipLines(f.run);
    if (f.run.merge.merged())
        return txt + MergeText(f.run.merge, t);
    txt += "\nRetry pass: ";
    if (f.run.retries == 0)
        return txt + "not run (--retries=0)\n";
    if (f.run.stoppedIn == "retry pass")
        return txt + "stopped before it finished; a resume does the retries still owed\n";
    if (!f.complete)
        return txt + "not run: the main pass did not finish\n";
    txt += std::to_string(f.run.retryPlaces) + " places read again in " + std::to_string(f.run.retryRounds) +
           " rounds, " + std::to_string(f.recovered.size()) + " frames recovered";
    for (std::size_t k = 0; k < f.recovered.size(); ++k)
        txt += (k ? ", " : ": ") + IndexText(f.records[f.recovered[k].first].absolute);
    txt += ", " + std::to_string(t.unreadable + t.concealed) + " still bad\n";
    for (const std::string& n : f.run.retryNotes)
        txt += "  " + n + "\n";
    return txt;
}

std::string SkipLines(const RunFacts& run)
{
    std::string txt;
    for (const SkippedStretch& k : run.skips) {
        const std::string to = k.last < 0         ? std::string(" on (nothing read after it)")
                               : k.last > k.first ? "\u2013" + IndexText(k.last)
                                                  : std::string();
        txt += "  Skipped past damage: " + IndexText(k.first) + to + " (" + std::to_string(k.failedReads) +
               " failed reads, " + std::to_string(k.locates) + (k.locates == 1 ? " locate)" : " locates)") +
               ", kept as zeros\n";
    }
    return txt;
}

std::string ErrorLines(const std::vector<FrameRecord>& records, const Totals& t)
{
    std::string txt = "  Unreadable: " + std::to_string(t.unreadable) + " frames, kept as zeros and heard as silence";
    for (std::size_t k = 0; k < t.unreadableRanges.size(); ++k)
        txt += (k ? ", " : ": ") + RangeText(t.unreadableRanges[k]);
    txt += "\n  Concealed: " + std::to_string(t.concealed) + " frames, kept as the drive gave them";
    for (std::size_t k = 0; k < t.concealedRanges.size(); ++k)
        txt += (k ? ", " : ": ") + RangeText(t.concealedRanges[k]);
    txt += "\n  Read after failed tries: " + std::to_string(t.reread.size()) + " frames (recovered)";
    for (std::size_t k = 0; k < t.reread.size(); ++k)
        txt += (k ? ", " : ": ") + IndexText(records[t.reread[k]].absolute) + " (" +
               std::to_string(records[t.reread[k]].failedReads) + " failed reads)";
    return txt + "\n";
}

std::string BagInfo(const ReportFacts& f, const Totals& t, std::uint64_t octets, std::size_t streams)
{
    std::string programs;
    for (unsigned p : t.programs)
        programs += (programs.empty() ? "" : " ") + std::to_string(p);
    std::string info;
    info += "Bagging-Date: " + QDateTime::currentDateTime().date().toString(Qt::ISODate).toStdString() + "\n";
    info += "Payload-Oxum: " + std::to_string(octets) + "." + std::to_string(streams) + "\n";
    info += "Bag-Software-Agent: Vantrel " VANTREL_VERSION "\n";
    info +=
        "External-Description: " +
        (f.run.label.empty() ? std::string("DAT audio tape read frame by frame, with a Broadcast WAVE file per program")
                             : f.run.label) +
        "\n";
    if (!f.run.id.empty())
        info += "External-Identifier: " + f.run.id + "\n";
    info += "Vantrel-Status: " + std::string(f.complete ? "complete" : "incomplete") + "\n";
    if (!f.complete)
        info += "Vantrel-Incomplete-Reason: " + f.reason + "\n";
    // A drive that does not answer INQUIRY: said so, not an empty value.
    auto said = [](const std::string& v) { return v.empty() ? std::string("not reported") : v; };
    info += "Vantrel-Drive-Vendor: " + said(f.run.drive.vendor) + "\n";
    info += "Vantrel-Drive-Product: " + said(f.run.drive.product) + "\n";
    info += "Vantrel-Drive-Firmware: " + said(f.run.drive.revision) + "\n";
    info += "Vantrel-Tape-Rate: " + RateText(t) + "\n";
    info += "Vantrel-Tape-Emphasis: " + EmphasisText(t) + "\n";
    info += "Vantrel-Recording-Date-First: " + (t.firstDate >= 0 ? DateTimeText(t.firstDate) : "none") + "\n";
    info += "Vantrel-Recording-Date-Last: " + (t.lastDate >= 0 ? DateTimeText(t.lastDate) : "none") + "\n";
    info += "Vantrel-Tape-Mode: " + ModeText(t) + "\n";
    if (t.layout)
        info += "Vantrel-Tape-Layout: " + t.layout->Text() + "\n";
    info += "Vantrel-Tape-Time-Code: " + TimeCodeText(t) + "\n";
    info += "Vantrel-Programs: " + programs + "\n";
    info += "Vantrel-First-Absolute-Time: " + IndexText(t.firstAbsolute) + "\n";
    info += "Vantrel-Last-Absolute-Time: " + IndexText(t.lastAbsolute) + "\n";
    info += "Vantrel-Frames: " + std::to_string(f.records.size()) + "\n";
    info += "Vantrel-Frames-Unreadable: " + std::to_string(t.unreadable) + "\n";
    info += "Vantrel-Frames-Concealed: " + std::to_string(t.concealed) + "\n";
    info += "Vantrel-Frames-Recovered: " + std::to_string(t.reread.size() + f.recovered.size()) + "\n";
    for (const MergeSource& s : f.run.merge.sources)
        info += "Vantrel-Merged-From: " + s.path + " (data/tape.dat SHA-256 " + s.tapeSha256 + ")\n";
    if (f.run.merge.merged())
        info += "Vantrel-Merge-Disagreements: " + std::to_string(f.run.merge.disagreements.size()) + "\n";
    return info;
}

Status StageBag(const std::string& dir, const ReportFacts& f, const Totals& t, std::vector<WrittenFile> payload,
                std::vector<StagedFile>& staged)
{
    std::uint64_t octets = 0;
    std::string manifest;
    std::sort(payload.begin(), payload.end(), [](const WrittenFile& a, const WrittenFile& b) { return a.path < b.path; });
    for (const WrittenFile& w : payload) {
        octets += w.bytes;
        manifest += w.sha256 + "  " + w.path + "\n";
    }
    const std::pair<const char*, std::string> tagFiles[] = {
        {"bagit.txt", "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n"},
        {"bag-info.txt", BagInfo(f, t, octets, payload.size())},
        {"manifest-sha256.txt", manifest},
    };
    std::string tagManifest;
    for (const auto& [path, text] : tagFiles) {
        ::Result<StagedFile> tag = StageText(dir, path, text);
        if (!tag)
            return tag.status();
        tagManifest += tag->file.sha256 + "  " + tag->file.path + "\n";
        staged.push_back(std::move(*tag));
    }
    ::Result<StagedFile> tag = StageText(dir, "tagmanifest-sha256.txt", tagManifest);
    if (!tag)
        return tag.status();
    staged.push_back(std::move(*tag));
    return Status::Ok();
}

}  // namespace archive
