#include "archive/merge.h"

#include <QFileInfo>
#include <algorithm>
#include <array>
#include <limits>
#include <sstream>

#include "archive/package.h"
#include "archive/package_io.h"
#include "archive/records.h"
#include "dat/audio_format.h"
#include "dat/frame.h"

namespace archive {

namespace {

constexpr std::int64_t kNoPlace = std::numeric_limits<std::int64_t>::min();
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr std::array<std::uint8_t, dat::kFrameBytes> kZeros{};
constexpr std::size_t kProgressEvery = 1024;

// One package being merged, read only.
struct Source {
    std::string given;  // as named on the command line, for messages
    Package package;
    MergeSource facts;
    bool complete = false;
    std::vector<std::int64_t> places;  // per frame of tape.dat; kNoPlace: left out
    std::size_t unplaced = 0;
};

// A frame at a place: which source's copy.
struct Entry {
    std::int64_t place;
    std::uint32_t source, position;
};

struct Choice {
    std::int64_t place;
    std::uint32_t source, position;
};

std::string BagValue(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ": ", 0) == 0)
            return line.substr(key.size() + 2);
    return {};
}

// A path kept on one line of bag-info and the report.
std::string OneLine(std::string s)
{
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return s;
}

bool Timed(const FrameRecord& r) { return r.readable() && r.absolute >= 0 && !r.leadInOrOut(); }
bool Clean(const FrameRecord& r) { return r.state == FrameState::Clean || r.state == FrameState::Recovered; }

// Lower is better: clean, concealed on one channel, concealed on both, unreadable.
int Rank(const FrameRecord& r)
{
    switch (r.state) {
    case FrameState::Clean:
    case FrameState::Recovered:
        return 0;
    case FrameState::Concealed:
        return r.concealedLeft && r.concealedRight ? 2 : 1;
    case FrameState::Unreadable:
        return 3;
    }
    return 3;
}

// The mode a frame's main ID declares is one a package may hold: 16-bit stereo.
bool StandardPlay(const std::uint8_t* frame)
{
    const std::optional<dat::AudioFormat> f = dat::FormatOf(dat::DecodeMainId(frame + dat::kMainIdOffset));
    return f && !f->NonLinear() && f->channels == 2;
}

// Each frame's place: its absolute time; frames without one follow the timed frame before
// them (or, before the first, lead up to the first), as far as the times leave room.
std::string PlaceFrames(Source& s)
{
    const std::vector<FrameRecord>& records = s.package.records();
    s.places.assign(records.size(), kNoPlace);
    std::vector<std::size_t> timed;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (!Timed(records[i]))
            continue;
        if (!timed.empty() && records[i].absolute <= records[timed.back()].absolute)
            return s.given + ": its absolute time runs back at frame " + std::to_string(i) + " (" +
                   IndexText(records[i].absolute) + " after " + IndexText(records[timed.back()].absolute) +
                   "); it cannot be aligned by time.";
        timed.push_back(i);
        s.places[i] = records[i].absolute;
    }
    if (timed.empty())
        return s.given + " holds no frame with a readable absolute time; it cannot be aligned with the others.";
    for (std::size_t i = 0; i < timed.front(); ++i)
        s.places[i] = s.places[timed.front()] - static_cast<std::int64_t>(timed.front() - i);
    for (std::size_t k = 0; k < timed.size(); ++k) {
        const std::size_t from = timed[k];
        const std::size_t to = k + 1 < timed.size() ? timed[k + 1] : records.size();
        const std::int64_t room =
            k + 1 < timed.size() ? s.places[to] - s.places[from] - 1 : std::numeric_limits<std::int64_t>::max();
        for (std::size_t i = from + 1; i < to; ++i) {
            const auto step = static_cast<std::int64_t>(i - from);
            if (step <= room)
                s.places[i] = s.places[from] + step;
            else
                ++s.unplaced;
        }
    }
    return {};
}

class Merger {
public:
    Merger(const MergeOptions& o, const std::function<void(const Progress&)>& progress) : o_(o), progress_(progress) {}

    Result run()
    {
        if (std::string refusal = open(); !refusal.empty())
            return {Outcome::Refused, refusal, {}};
        if (std::string refusal = decide(); !refusal.empty())
            return {Outcome::Refused, refusal, {}};
        if (std::string refusal = matchOrForce(); !refusal.empty())
            return {Outcome::Refused, refusal, {}};
        return write();
    }

private:
    std::string open();
    std::string decide();
    std::string matchOrForce();
    Result write();
    void choose(const std::vector<Entry>& group);
    void report(const char* phase, std::uint64_t frames, bool force = false);
    bool stopped() const { return o_.stop && *o_.stop; }

    const MergeOptions& o_;
    const std::function<void(const Progress&)>& progress_;
    std::vector<Source> sources_;
    std::vector<Choice> choices_;
    std::vector<Disagreement> disagreements_;
    std::vector<std::int64_t> disagreementEnd_;              // the place each disagreement reaches
    std::vector<std::vector<std::uint64_t>> same_, differ_;  // clean copies at shared places, per pair
    std::string rateRefusal_;
    std::string readError_;
    std::vector<std::vector<std::uint8_t>> audio_;
    bool forced_ = false;
};

void Merger::report(const char* phase, std::uint64_t frames, bool force)
{
    if (!progress_ || (!force && frames % kProgressEvery != 0))
        return;
    Progress p;
    p.phase = phase;
    p.frames = frames;
    p.tapeBytes = frames * dat::kFrameBytes;
    if (!choices_.empty() && frames > 0 && frames <= choices_.size()) {
        const Choice& c = choices_[frames - 1];
        if (c.source != kNone)
            p.absoluteTime = IndexText(sources_[c.source].package.records()[c.position].absolute);
    }
    progress_(p);
}

std::string Merger::open()
{
    if (o_.sources.size() < 2)
        return "A merge needs two or more packages (--merge=DIR for each).";
    if (std::string refusal = CheckTarget(o_.dir, false); !refusal.empty())
        return refusal;
    for (const std::string& given : o_.sources) {
        const QFileInfo info(QString::fromStdString(given));
        const std::string path = info.canonicalFilePath().toStdString();
        for (const Source& s : sources_)
            if (!path.empty() && s.facts.path == OneLine(path))
                return given + " is given twice; each read of the tape is merged once.";
        const std::string bagInfo = ReadText(given + "/bag-info.txt");
        const std::string status = BagValue(bagInfo, "Vantrel-Status");
        if (!info.isDir() || status.empty() || !QFileInfo::exists(QString::fromStdString(given + "/data/tape.dat")))
            return given + " does not hold a Vantrel archive package; it cannot be merged.";
        // Reading and hashing a source takes seconds per hour of tape: said before it starts.
        report("reading the packages", 0, true);
        ::Result<Package> p = Package::OpenReadOnly(given);
        if (!p)
            return given + ": " + p.error();
        Source s{given, std::move(*p), {}, status == "complete", {}, 0};
        s.facts.path = OneLine(path);
        s.facts.baggingDate = BagValue(bagInfo, "Bagging-Date");
        auto reported = [&](const char* key) {
            const std::string v = BagValue(bagInfo, key);
            return v == "not reported" ? std::string() : v;
        };
        s.facts.drive = {reported("Vantrel-Drive-Vendor"), reported("Vantrel-Drive-Product"),
                         reported("Vantrel-Drive-Firmware")};
        ::Result<std::string> digest = s.package.TapeSha256();
        if (!digest)
            return given + ": " + digest.error();
        s.facts.tapeSha256 = *digest;
        if (std::string refusal = PlaceFrames(s); !refusal.empty())
            return refusal;
        // Long play and the four-channel mode are not merged yet: told, not mixed up.
        const std::vector<FrameRecord>& records = s.package.records();
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (!Timed(records[i]))
                continue;
            std::array<std::uint8_t, dat::kFrameBytes> frame{};
            if (Status st = s.package.ReadFrame(i, frame.data()); !st)
                return st.error();
            if (!StandardPlay(frame.data()))
                return given + " holds frames of another mode (long play or four channels) from " +
                       IndexText(records[i].absolute) + "; such packages cannot be merged yet.";
            break;
        }
        sources_.push_back(std::move(s));
    }
    return {};
}

// Which copy every place takes, where clean copies disagree, and how far each pair of
// sources agrees; nothing is written yet.
std::string Merger::decide()
{
    const std::size_t n = sources_.size();
    same_.assign(n, std::vector<std::uint64_t>(n, 0));
    differ_ = same_;
    audio_.assign(n, std::vector<std::uint8_t>(dat::kAudioAreaBytes));
    std::vector<Entry> entries;
    for (std::size_t k = 0; k < n; ++k) {
        const std::vector<std::int64_t>& places = sources_[k].places;
        for (std::size_t i = 0; i < places.size(); ++i)
            if (places[i] != kNoPlace)
                entries.push_back({places[i], static_cast<std::uint32_t>(k), static_cast<std::uint32_t>(i)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return a.place != b.place ? a.place < b.place : a.source < b.source;
    });
    std::vector<Entry> group;
    for (std::size_t i = 0; i < entries.size();) {
        group.clear();
        std::size_t j = i;
        while (j < entries.size() && entries[j].place == entries[i].place)
            group.push_back(entries[j++]);
        i = j;
        choose(group);
        if (!readError_.empty())
            return readError_;
        if (stopped())
            return "Stopped before the merge began; nothing was written.";
        report("comparing", choices_.size());
    }
    return rateRefusal_;
}

void Merger::choose(const std::vector<Entry>& group)
{
    auto record = [&](const Entry& e) -> const FrameRecord& {
        return sources_[e.source].package.records()[e.position];
    };
    // A place read at two rates holds two different tapes, whatever --force says.
    for (const Entry& e : group) {
        const FrameRecord& a = record(group.front());
        const FrameRecord& b = record(e);
        if (rateRefusal_.empty() && a.readable() && b.readable() && !a.leadInOrOut() && !b.leadInOrOut() &&
            a.sampleRate() != b.sampleRate())
            rateRefusal_ = sources_[e.source].given + " was read at another rate: " + std::to_string(b.sampleRate()) +
                           " Hz at " + IndexText(b.absolute) + ", where " + sources_[group.front().source].given +
                           " has " + std::to_string(a.sampleRate()) + " Hz.";
    }
    std::vector<const Entry*> clean;
    const Entry* best = &group.front();
    for (const Entry& e : group) {
        if (Rank(record(e)) < Rank(record(*best)))
            best = &e;
        if (Clean(record(e)))
            clean.push_back(&e);
    }
    if (clean.size() >= 2) {
        // Versions of the audio, in the order of the sources that hold them.
        std::vector<std::vector<std::size_t>> sides;
        std::vector<std::size_t> sideOf(clean.size());
        std::vector<std::size_t> bytes(clean.size());
        for (std::size_t c = 0; c < clean.size(); ++c) {
            const Entry& e = *clean[c];
            bytes[c] = record(e).format().audioBytes;
            if (Status st = sources_[e.source].package.ReadFrame(e.position, audio_[e.source].data(), bytes[c]); !st) {
                readError_ = st.error();
                return;
            }
            std::size_t side = 0;
            for (; side < sides.size(); ++side) {
                const std::size_t other = sides[side].front();
                const Entry& o = *clean[other];
                if (bytes[other] == bytes[c] &&
                    std::equal(audio_[o.source].begin(),
                               audio_[o.source].begin() + static_cast<std::ptrdiff_t>(bytes[c]),
                               audio_[e.source].begin()))
                    break;
            }
            if (side == sides.size())
                sides.emplace_back();
            sides[side].push_back(c);
            sideOf[c] = side;
        }
        // Lead-in and lead-out hold no sound on any tape: no evidence of the same one.
        for (std::size_t a = 0; a < clean.size() && !record(*clean[a]).leadInOrOut(); ++a)
            for (std::size_t b = a + 1; b < clean.size(); ++b) {
                auto& counts = sideOf[a] == sideOf[b] ? same_ : differ_;
                ++counts[clean[a]->source][clean[b]->source];
                ++counts[clean[b]->source][clean[a]->source];
            }
        // The most copies win; among as many, the side of the earliest source given.
        std::stable_sort(sides.begin(), sides.end(), [](const auto& x, const auto& y) { return x.size() > y.size(); });
        best = clean[sides.front().front()];
        if (sides.size() > 1) {
            std::vector<std::vector<std::size_t>> bySource;
            for (const auto& side : sides) {
                bySource.emplace_back();
                for (std::size_t c : side)
                    bySource.back().push_back(clean[c]->source);
            }
            const std::int64_t place = group.front().place;
            if (!disagreements_.empty() && disagreementEnd_.back() == place - 1 &&
                disagreements_.back().sides == bySource) {
                ++disagreements_.back().frames;
                disagreements_.back().lastAbsolute = record(*best).absolute;
                disagreementEnd_.back() = place;
            } else {
                const std::int64_t at = record(*best).absolute;
                disagreements_.push_back({at, at, 1, std::move(bySource)});
                disagreementEnd_.push_back(place);
            }
        }
    }
    choices_.push_back({group.front().place, best->source, best->position});
}

// Every source must agree with the first, directly or through another: more of their shared
// clean frames hold the same audio than not.
std::string Merger::matchOrForce()
{
    const std::size_t n = sources_.size();
    std::vector<bool> reached(n, false);
    reached[0] = true;
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = 0; b < n; ++b)
                if (reached[a] && !reached[b] && same_[a][b] > 0 && same_[a][b] > differ_[a][b])
                    reached[b] = grew = true;
    }
    for (std::size_t b = 1; b < n; ++b) {
        if (reached[b])
            continue;
        if (o_.force) {
            forced_ = true;
            continue;
        }
        const std::uint64_t shared = same_[0][b] + differ_[0][b];
        return sources_[b].given + " does not match " + sources_[0].given + ": " +
               (shared == 0 ? std::string("they share no frames read clean at the same absolute times")
                            : "of " + std::to_string(shared) + " frames both read clean at the same absolute times, " +
                                  std::to_string(same_[0][b]) + " hold the same audio") +
               ". It seems to be another tape; --force merges it anyway.";
    }
    return {};
}

Result Merger::write()
{
    ::Result<Package> created = Package::Create(o_.dir);
    if (!created)
        return {Outcome::Refused, created.error(), {}};
    Package& out = *created;
    RunFacts run;
    std::array<std::uint8_t, dat::kFrameBytes> frame{};
    std::uint64_t written = 0;
    for (const Choice& c : choices_) {
        Source& s = sources_[c.source];
        const FrameRecord& r = s.package.records()[c.position];
        Status kept = Status::Ok();
        if (!r.readable()) {
            kept = out.Append(kZeros.data(), r);
        } else {
            kept = s.package.ReadFrame(c.position, frame.data());
            if (kept && !r.leadInOrOut() && !StandardPlay(frame.data()))
                kept = Status::Error(s.given + " holds frames of another mode (long play or four channels) at " +
                                     IndexText(r.absolute) + "; such packages cannot be merged yet.");
            if (kept)
                kept = out.Append(frame.data(), r);
            if (kept)
                ++s.facts.framesTaken;
        }
        if (kept && stopped())
            kept = Status::Error("Stopped before every frame was merged.");
        if (!kept) {
            run.reason = kept.error();
            break;
        }
        report("merging", ++written);
    }
    report("writing the package", written, true);
    const bool writtenWhole = run.reason.empty();
    run.complete =
        writtenWhole && std::any_of(sources_.begin(), sources_.end(), [](const Source& s) { return s.complete; });
    if (writtenWhole && !run.complete)
        run.reason = "None of the merged packages reached the end of the tape.";
    // The drive, when every read was made on the same one.
    run.drive = sources_.front().facts.drive;
    for (const Source& s : sources_)
        if (s.facts.drive.vendor != run.drive.vendor || s.facts.drive.product != run.drive.product ||
            s.facts.drive.revision != run.drive.revision)
            run.drive = {};
    for (const Source& s : sources_)
        run.merge.sources.push_back(s.facts);
    run.merge.disagreements = disagreements_;
    run.merge.forced = forced_;
    const bool bad = out.unreadable() > 0 || out.concealed() > 0;
    Result r = out.Finish(run);
    Result result;
    if (!writtenWhole || r.failures > 0) {
        result.outcome = Outcome::Incomplete;
        result.message = writtenWhole ? r.message : run.reason;
    } else {
        result.outcome = bad || !disagreements_.empty() ? Outcome::WithErrors : Outcome::Clean;
    }
    result.failures = r.failures;
    // Finish speaks of an archive; this one was merged.
    if (!r.summary.empty() && r.summary.front().rfind("Archived ", 0) == 0)
        r.summary.front().replace(0, 8, "Merged");
    result.summary.push_back(r.summary.empty() ? std::string() : r.summary.front());
    result.summary.push_back("From " + std::to_string(sources_.size()) + " reads" +
                             (forced_ ? " (--force: not every read matched the others)" : "") + ":");
    for (std::size_t k = 0; k < sources_.size(); ++k) {
        const Source& s = sources_[k];
        result.summary.push_back("  " + std::to_string(k + 1) + ". " + s.given + ": " +
                                 std::to_string(s.facts.framesTaken) + " frames taken" +
                                 (s.unplaced ? ", " + std::to_string(s.unplaced) +
                                                   " frames without room between their neighbours' times left out"
                                             : ""));
    }
    if (!r.summary.empty())
        result.summary.insert(result.summary.end(), r.summary.begin() + 1, r.summary.end());
    std::string list;
    constexpr std::size_t kListed = 20;
    for (std::size_t k = 0; k < disagreements_.size() && k < kListed; ++k) {
        const Disagreement& d = disagreements_[k];
        list += (k ? ", " : ": ") + IndexText(d.firstAbsolute) +
                (d.frames > 1 ? "\u2013" + IndexText(d.lastAbsolute) : std::string());
    }
    if (disagreements_.size() > kListed)
        list += ", ... (all in data/report.txt)";
    result.summary.push_back("  Clean copies disagreed at " + std::to_string(disagreements_.size()) + " places" + list);
    return result;
}

}  // namespace

Result Merge(const MergeOptions& options, const std::function<void(const Progress&)>& progress)
{
    return Merger(options, progress).run();
}

}  // namespace archive
