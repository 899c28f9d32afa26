#include "archive/tape_pass.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "audio/frame_reader.h"
#include "dat/time_code.h"
#include "tape/position_record.h"
#include "tape/positioning.h"
#include "transport/drive_identity.h"
#include "transport/drive_state.h"

namespace archive {

namespace {

constexpr std::uint32_t kMaxLeadOutFrames = 1000;    // a writer puts about 300
constexpr std::uint32_t kPreRollSeconds = 3;         // locate this far before a place to read it again
constexpr std::int32_t kRetryJoinFrames = 200;       // damaged places closer than this are read in one go
constexpr std::uint32_t kRetryOverrunFrames = 400;   // reads beyond a place before giving up on it
constexpr std::uint32_t kFramesPerSecondAtMost = (dat::kFramesPerMinute + 59) / 60;
constexpr const char* kStopped = "Stopped before the end of the tape.";
constexpr const char* kStoppedInLeadOut = "Stopped in the lead-out; a resume reads the rest of it.";
constexpr const char* kStoppedInRetries = "Stopped in the retry pass; a resume does the retries still owed.";

std::uint32_t SecondOf(std::int64_t index)
{
    const dat::TimeCode t = dat::TimeCodeOfIndex(static_cast<std::uint64_t>(std::max<std::int64_t>(index, 0)));
    return t.h * 3600 + t.m * 60 + t.s;
}

// LOCATE a few seconds before `second` of absolute time (the command has no frame field), so
// that the frames there are read at speed; true when it ended well.
bool LocateBefore(std::uint32_t second)
{
    const std::uint32_t at = second > kPreRollSeconds ? second - kPreRollSeconds : 0;
    const auto h = static_cast<std::int32_t>(at / 3600 % 100), m = static_cast<std::int32_t>(at / 60 % 60),
               s = static_cast<std::int32_t>(at % 60);
    return TryLocateTape(AspiAdapter, AspiTarget, kLocateAbsoluteTime, h, m, s).done;
}

// The first frame of `second` of absolute time.
std::int64_t IndexOfSecond(std::uint32_t second)
{
    const dat::TimeCode t{second / 3600, second / 60 % 60, second % 60, 0, true};
    return dat::IndexOfTimeCode(t).value_or(0);
}

// LOCATE to the start of `second` of absolute time.
LocateOutcome LocateAt(std::uint32_t second)
{
    const auto h = static_cast<std::int32_t>(second / 3600 % 100), m = static_cast<std::int32_t>(second / 60 % 60),
               s = static_cast<std::int32_t>(second % 60);
    return TryLocateTape(AspiAdapter, AspiTarget, kLocateAbsoluteTime, h, m, s);
}

// Where the pass goes on from: the last frame kept with a time, and where it is to end.
struct PassState {
    bool passing = false;  // reading over frames a resumed package already holds
    std::int64_t resumeAfter = -1;
    std::int64_t lastAbsolute = -1;
    std::uint32_t failures = 0;  // failed reads since the last frame kept (or the last skip)
    // The place in RunFacts::skips being located past, until a frame is kept after it.
    std::optional<std::size_t> skipping;
};

class TapePass {
public:
    TapePass(Package& package, const Options& o, const std::function<void(const Progress&)>& progress,
             const bool& stop)
        : package_(package), o_(o), progress_(progress), stop_(stop)
    {
        facts_.retries = o.retries;
        // A resumed package's report goes on listing what the earlier runs skipped.
        if (o.resume)
            facts_.skips = package.earlierSkips();
    }

    RunFacts run();

private:
    bool position(std::int64_t& resumeAfter);
    void measureRecordedLength();
    void acquire();
    bool take(const FrameRead& r, PassState& s);
    bool skipPast(const FrameRead& r, PassState& s);
    void endAtDamage(PassState& s);
    bool keep(const FrameRead& r, PassState& s);
    void countRead(const FrameRead& r);
    void readLeadOut(const FrameRead& first);
    void readRestOfLeadOut();
    void stoppedIn(const char* where, const std::string& reason);
    void retryPass();
    bool retryPlace(std::int64_t first, std::int64_t last, std::map<std::int64_t, std::size_t>& bad);
    void report(const char* phase, bool force = false);

    Package& package_;
    const Options& o_;
    const std::function<void(const Progress&)>& progress_;
    const bool& stop_;
    RunFacts facts_;
    std::uint64_t calls_ = 0;
    // A failed read stands for a frame like the last one delivered; before one, a standard-play frame.
    double frameSeconds_ = dat::FormatOf(dat::MainId{}).value().Seconds();
    std::uint64_t recordedFrames_ = 0;  // 0: not known
    double probeSeconds_ = -1;
};

void TapePass::report(const char* phase, bool force)
{
    if (!progress_)
        return;
    // Every 16th frame: often enough for a window, cheap at the drive's full speed.
    if (!force && ++calls_ % 16 != 0)
        return;
    const std::vector<FrameRecord>& records = package_.records();
    Progress p;
    p.phase = phase;
    p.frames = records.size();
    p.tapeBytes = records.size() * dat::kFrameBytes;
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->absolute >= 0) {
            p.absoluteTime = IndexText(it->absolute);
            break;
        }
    }
    if (!records.empty()) {
        const FrameRecord& r = records.back();
        using Kind = dat::ProgramNumber::Kind;
        p.program = r.kind == Kind::Number    ? "program " + std::to_string(r.program)
                    : r.kind == Kind::LeadIn  ? "lead-in"
                    : r.kind == Kind::LeadOut ? "lead-out"
                                              : "";
    }
    p.unreadable = package_.unreadable();
    p.concealed = package_.concealed();
    p.audioSeconds = facts_.readSeconds;
    p.recordedFrames = recordedFrames_;
    p.tapeFrame = recordedFrames_ ? records.size() : 0;
    p.recordedSeconds = static_cast<double>(recordedFrames_) * frameSeconds_;
    p.probeSeconds = probeSeconds_;
    progress_(p);
}

// Puts the tape where the pass begins; false when the pass is not to run (the package already
// holds the lead-out, or the place cannot be reached).
bool TapePass::position(std::int64_t& resumeAfter)
{
    // Where a resumed package left off: frames up to it are passed over.
    resumeAfter = -1;
    bool leadOutKept = false;
    for (const FrameRecord& r : package_.records()) {
        if (r.absolute >= 0)
            resumeAfter = r.absolute;
        leadOutKept = leadOutKept || r.kind == dat::ProgramNumber::Kind::LeadOut;
    }
    if (leadOutKept) {
        facts_.complete = true;
        if (o_.resume && package_.stoppedIn() == "lead-out")
            readRestOfLeadOut();
        return false;
    }
    if (o_.resume || !o_.fromHere)
        measureRecordedLength();
    if (o_.resume && resumeAfter >= 0) {
        if (!LocateBefore(SecondOf(resumeAfter + 1))) {
            facts_.reason = "The drive could not locate absolute time " + IndexText(resumeAfter + 1) + " to resume.";
            return false;
        }
    } else if (o_.resume && !package_.records().empty()) {
        // Nothing with a time to go by: start again from the beginning.
        if (Status s = package_.Restart(); !s) {
            facts_.reason = s.error();
            return false;
        }
        RewindTape(AspiAdapter, AspiTarget);
    } else if (!o_.fromHere) {
        RewindTape(AspiAdapter, AspiTarget);
    }
    return true;
}

// How far the recorded area reaches, for the progress shown during the pass: one locate to
// its end at search speed and the frame count there. The pass then rewinds or locates as it
// would anyway. Not tried from where the tape stands, which the pass must keep.
void TapePass::measureRecordedLength()
{
    if (!progress_)
        return;
    report("measuring", true);
    QElapsedTimer clock;
    clock.start();
    // Program 0EE: the end of the recorded area (the lead-out, or the end of a recording
    // without one, which a drive may answer with BLANK CHECK after stopping there).
    const LocateOutcome end = TryLocateTape(AspiAdapter, AspiTarget, kLocateProgram, 0, 14, 14);
    if (end.done || end.notFound) {
        if (const std::optional<std::uint32_t> block = ReadBlockPosition(AspiAdapter, AspiTarget))
            recordedFrames_ = *block;
    }
    probeSeconds_ = static_cast<double>(clock.elapsed()) / 1000;
}

void TapePass::acquire()
{
    PassState s;
    if (!position(s.resumeAfter))
        return;
    s.passing = o_.resume && s.resumeAfter >= 0;
    s.lastAbsolute = s.resumeAfter;
    BeginFramePass();
    QElapsedTimer reading;
    reading.start();
    for (;;) {
        if (stop_) {
            facts_.reason = kStopped;
            break;
        }
        const FrameRead r = ReadNextFrame();
        if (stop_) {
            facts_.reason = kStopped;
            break;
        }
        if (!take(r, s))
            break;
    }
    facts_.readMs = reading.elapsed();
}

void TapePass::countRead(const FrameRead& r)
{
    if (r.format)
        frameSeconds_ = r.format->Seconds();
    facts_.readSeconds += frameSeconds_;
    ++facts_.framesRead;
}

// What one read of the main pass brings to the package; false when the pass ends.
bool TapePass::take(const FrameRead& r, PassState& s)
{
    // The checkpoints list the places skipped so far, so that a kill does not lose them.
    if (package_.checkpointSkips() != facts_.skips)
        package_.SetSkips(facts_.skips);
    if (r.status == FrameStatus::Unreadable || r.status == FrameStatus::TooManyBad) {
        ++s.failures;
        countRead(r);
        if (r.status != FrameStatus::TooManyBad || skipPast(r, s))
            return true;
        endAtDamage(s);
        return false;
    }
    if (r.status == FrameStatus::EndOfTape) {
        std::uint32_t missing = r.missingBefore;
        std::int64_t lostFrom = s.lastAbsolute >= 0 ? s.lastAbsolute + 1 : -1;
        if (s.skipping) {
            // The end came after a locate past damage: the stretch runs from its first frame
            // through the reads that failed since the locate.
            const unsigned step = FramePassReport().timeStep == 2 ? 2 : 1;
            SkippedStretch& k = facts_.skips[*s.skipping];
            const std::int64_t readFrom = std::max(k.first, IndexOfSecond(SecondOf(k.first) + k.locates));
            missing += static_cast<std::uint32_t>((readFrom - k.first) / step);
            lostFrom = k.first;
            k.failedReads += s.failures;
            if (missing > 0)
                k.last = k.first + std::int64_t{missing - 1} * step;
            s.skipping.reset();
            s.failures = 0;
            if (s.passing && k.first <= s.resumeAfter)
                missing = 0;  // a resumed package holds them already
            package_.SetSkips(facts_.skips);
        }
        if (!s.passing) {
            if (Status lost = package_.AppendLost(missing, lostFrom); !lost) {
                facts_.reason = lost.error();
                return false;
            }
        }
        facts_.complete = true;
        if (r.outcome.completed)
            readLeadOut(r);
        return false;
    }
    if (r.Failed()) {
        facts_.reason = r.message;
        return false;
    }
    countRead(r);
    return r.repeat || keep(r, s);
}

// The bad-frame limit was reached: LOCATE past the damage by absolute time, to the second
// after the one it began in, and a second further on each time the limit is reached again
// before a frame is read. False when the pass is to end here (the reason set): no time to go
// by, --max-skips places skipped already, or nothing recorded past the damage.
bool TapePass::skipPast(const FrameRead& r, PassState& s)
{
    const std::optional<std::int64_t> first = FirstBadFrameIndex();
    if (!first) {
        facts_.reason = r.message;  // no frame with a time yet: nothing to locate by
        return false;
    }
    if (!s.skipping || facts_.skips[*s.skipping].first != *first) {
        if (facts_.skips.size() >= o_.maxSkips) {
            facts_.reason = r.message;
            if (o_.maxSkips > 0)
                facts_.reason += " " + std::to_string(facts_.skips.size()) +
                                 (facts_.skips.size() == 1 ? " damaged place had" : " damaged places had") +
                                 " been located past already (--max-skips).";
            return false;
        }
        facts_.skips.push_back(SkippedStretch{*first, -1, 0, 0});
        s.skipping = facts_.skips.size() - 1;
    }
    SkippedStretch& k = facts_.skips[*s.skipping];
    k.failedReads += s.failures;
    ++k.locates;
    const std::uint32_t second = SecondOf(*first) + k.locates;
    const LocateOutcome located = LocateAt(second);
    if (!located.done) {
        const std::string at = dat::FormatHms(dat::TimeCodeOfIndex(static_cast<std::uint64_t>(*first)));
        const std::string past =
            dat::FormatHms(dat::TimeCodeOfIndex(static_cast<std::uint64_t>(IndexOfSecond(second))));
        facts_.reason = "The drive could not read " + std::to_string(MaxBadFrames()) + " frames in a row at " + at;
        facts_.reason += located.notFound ? " and found nothing recorded past " + past + "; reading was stopped there."
                                          : "; locating past the damage failed: " + located.message;
        --k.locates;
        k.failedReads -= s.failures;
        if (k.locates == 0) {
            // Never got past: no stretch was skipped here, the pass ends at the damage.
            facts_.skips.pop_back();
            s.skipping.reset();
        }
        return false;
    }
    s.failures = 0;  // they were the skipped stretch's, not the next frame's
    FramePassMoved();
    report("reading", true);
    return true;
}

// The pass ends at damage. Its failed reads are counted as frames, in tape.dat as zeros: READ
// POSITION says where the tape stands, so the frames passed over from the first one not read
// are lost, and the one it stands at too when more reads failed than frames were passed
// (a frame failing in place, the tape not moving). Without a position each failed read
// stands for one frame, as before the end of the recorded area.
void TapePass::endAtDamage(PassState& s)
{
    const std::optional<std::int64_t> first = FirstBadFrameIndex();
    const unsigned step = FramePassReport().timeStep == 2 ? 2 : 1;
    std::int64_t from = first ? *first : (s.lastAbsolute >= 0 ? s.lastAbsolute + step : -1);
    std::uint64_t count = s.failures;
    std::int64_t readFrom = from;  // where the failed reads since the last locate began
    if (s.skipping && first) {
        SkippedStretch& k = facts_.skips[*s.skipping];
        k.failedReads += s.failures;
        readFrom = std::max(from, IndexOfSecond(SecondOf(*first) + k.locates));
        count += static_cast<std::uint64_t>(readFrom - from) / step;
    }
    PositionRecord position{};
    if (from >= 0 && ReadPosition(AspiAdapter, AspiTarget, position)) {
        const std::optional<std::uint32_t> at = dat::IndexOfTimeCode(dat::TimeCodeFromBcd(position.data() + 12));
        if (at && std::int64_t{*at} >= readFrom) {
            const std::uint64_t passed = static_cast<std::uint64_t>(*at - readFrom) / step;
            const std::int64_t last = s.failures > passed ? std::int64_t{*at} : std::int64_t{*at} - step;
            count = last >= from ? static_cast<std::uint64_t>(last - from) / step + 1 : 0;
        }
    }
    if (s.passing && from >= 0 && from <= s.resumeAfter) {
        // Frames the package already holds are not counted twice.
        const std::uint64_t held = static_cast<std::uint64_t>(s.resumeAfter - from) / step + 1;
        count = count > held ? count - held : 0;
        from = s.resumeAfter + step;
    }
    s.failures = 0;
    if (count == 0)
        return;
    const auto frames = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, UINT32_MAX));
    if (Status lost = package_.AppendLost(frames, from, step); !lost)
        facts_.reason = lost.error();
}

// A frame delivered: kept after the frames lost before it.
bool TapePass::keep(const FrameRead& r, PassState& s)
{
    // Time-code frames one tape frame advances, as the pass measured them (2 on some long-play tapes).
    const unsigned step = FramePassReport().timeStep == 2 ? 2 : 1;
    FrameRecord rec;
    const bool placeholder = IsPlaceholder(r.bytes.data());
    if (placeholder) {
        rec.state = FrameState::Unreadable;
        rec.absolute =
            s.lastAbsolute >= 0 ? static_cast<std::int32_t>(s.lastAbsolute + (r.missingBefore + 1) * step) : -1;
    } else {
        rec = RecordOf(r.frame);
    }
    std::uint32_t missing = r.missingBefore;
    if (s.skipping) {
        // The stretch located past ends before this frame.
        SkippedStretch& k = facts_.skips[*s.skipping];
        if (rec.absolute >= 0)
            k.last = std::max<std::int64_t>(k.first, std::int64_t{rec.absolute} - step);
        else if (missing > 0)
            k.last = k.first + std::int64_t{missing - 1} * step;
        s.skipping.reset();
        package_.SetSkips(facts_.skips);
    }
    if (s.passing) {
        if (rec.absolute < 0 || rec.absolute <= s.resumeAfter) {
            s.failures = 0;
            return true;
        }
        s.passing = false;
        const auto clamped =
            std::min<std::uint32_t>(missing, static_cast<std::uint32_t>((rec.absolute - s.resumeAfter) / step - 1));
        // Reads that failed on frames the package already holds are no failed tries on this one.
        s.failures -= std::min(s.failures, missing - clamped);
        missing = clamped;
    }
    std::int64_t lostFrom = s.lastAbsolute >= 0 ? s.lastAbsolute + step : -1;
    if (rec.absolute >= 0)
        lostFrom = std::max<std::int64_t>(-1, std::int64_t{rec.absolute} - std::int64_t{missing} * step);
    Status kept = package_.AppendLost(missing, lostFrom, step);
    // Reads that failed beyond the frames lost were failed tries on this frame.
    if (!placeholder && s.failures > missing) {
        rec.failedReads = static_cast<std::uint16_t>(std::min<std::uint32_t>(s.failures - missing, 65535));
        if (rec.state == FrameState::Clean)
            rec.state = FrameState::Recovered;
    }
    s.failures = 0;
    if (kept)
        kept = package_.Append(r.bytes.data(), rec);
    if (!kept) {
        facts_.reason = kept.error();
        return false;
    }
    if (rec.absolute >= 0)
        s.lastAbsolute = rec.absolute;
    else if (s.lastAbsolute >= 0)
        s.lastAbsolute += step;
    report("reading");
    return true;
}

// The lead-out is kept as the rest is: a frame dump of the package ends as the tape does.
// The package is complete by then; a frame of it that cannot be written ends it there.
void TapePass::readLeadOut(const FrameRead& first)
{
    // A run killed from here on leaves the rest of the lead-out to a resume.
    package_.SetPhase("lead-out");
    if (Status s = package_.Append(first.bytes.data(), RecordOf(first.frame)); !s)
        return stoppedIn("lead-out", s.error());
    for (std::uint32_t n = 1; n < kMaxLeadOutFrames; ++n) {
        if (stop_)
            return stoppedIn("lead-out", kStoppedInLeadOut);
        const FrameRead r = ReadNextFrame();
        if (!r.outcome.completed || r.status != FrameStatus::EndOfTape)
            break;
        if (Status s = package_.Append(r.bytes.data(), RecordOf(r.frame)); !s)
            return stoppedIn("lead-out", s.error());
        report("reading");
    }
    package_.SetPhase("");
}

// A resume of a package stopped in the lead-out: its frames carry no time to locate by, so
// the tape goes back to the last program frame kept and the lead-out frames already kept are
// counted off before the rest is appended.
void TapePass::readRestOfLeadOut()
{
    std::int64_t lastAbsolute = -1;
    std::uint32_t kept = 0;
    for (const FrameRecord& r : package_.records()) {
        if (r.kind == dat::ProgramNumber::Kind::LeadOut)
            ++kept;
        else if (r.absolute >= 0)
            lastAbsolute = r.absolute;
    }
    package_.SetPhase("lead-out");
    if (!LocateBefore(SecondOf(lastAbsolute))) {
        facts_.complete = false;
        facts_.stoppedIn = "lead-out";
        facts_.reason = "The drive could not locate absolute time " + IndexText(lastAbsolute) +
                        " to read the rest of the lead-out.";
        return;
    }
    BeginFramePass();
    std::uint32_t seen = 0;
    const std::uint32_t limit =
        (kPreRollSeconds + 1) * kFramesPerSecondAtMost + kRetryOverrunFrames + kMaxLeadOutFrames;
    for (std::uint32_t reads = 0; reads < limit && kept < kMaxLeadOutFrames; ++reads) {
        if (stop_)
            return stoppedIn("lead-out", kStoppedInLeadOut);
        const FrameRead r = ReadNextFrame();
        if (r.status == FrameStatus::EndOfTape && !r.outcome.completed)
            return;  // the end of the lead-out: nothing more was recorded
        if (r.Failed()) {
            facts_.complete = false;
            facts_.stoppedIn = "lead-out";
            facts_.reason = r.message;
            return;
        }
        if (r.status != FrameStatus::EndOfTape) {
            if (seen > 0)
                return;  // the lead-out ends as it did on the first pass
            continue;    // the program frames before the lead-out
        }
        if (++seen <= kept)
            continue;
        if (Status s = package_.Append(r.bytes.data(), RecordOf(r.frame)); !s) {
            facts_.complete = false;
            facts_.stoppedIn = "lead-out";
            facts_.reason = s.error();
            return;
        }
        ++kept;
        report("reading");
    }
}

// A stop after the recorded area was read: the package stays incomplete and says what is owed.
void TapePass::stoppedIn(const char* where, const std::string& reason)
{
    facts_.complete = false;
    facts_.stoppedIn = where;
    facts_.reason = reason;
}

void TapePass::retryPass()
{
    // A run killed in the retry pass leaves the retries of the round under way to a resume;
    // each round's frames read again go into the package when it ends.
    package_.SetPhase("retry pass");
    if (Status s = package_.Checkpoint(); !s)
        return stoppedIn("retry pass", s.error());
    for (unsigned round = 1; round <= o_.retries; ++round) {
        if (stop_)
            return stoppedIn("retry pass", kStoppedInRetries);
        std::map<std::int64_t, std::size_t> bad;  // absolute index -> position
        const std::vector<FrameRecord>& records = package_.records();
        for (std::size_t i = 0; i < records.size(); ++i) {
            const FrameRecord& r = records[i];
            if ((r.state == FrameState::Unreadable || r.state == FrameState::Concealed) && r.absolute >= 0)
                bad.emplace(r.absolute, i);
        }
        if (bad.empty())
            break;
        facts_.retryRounds = round;
        std::vector<std::pair<std::int64_t, std::int64_t>> places;
        for (const auto& [abs, pos] : bad) {
            if (!places.empty() && abs - places.back().second <= kRetryJoinFrames)
                places.back().second = abs;
            else
                places.emplace_back(abs, abs);
        }
        facts_.retryPlaces += places.size();
        for (const auto& [first, last] : places) {
            if (stop_)
                return stoppedIn("retry pass", kStoppedInRetries);
            if (!retryPlace(first, last, bad))
                return;
        }
        if (Status s = package_.Checkpoint(); !s)
            return stoppedIn("retry pass", s.error());
        if (stop_)
            return stoppedIn("retry pass", kStoppedInRetries);
    }
}

// Reads one damaged place again and puts each bad frame read clean in its place; false when
// tape.dat cannot be written.
bool TapePass::retryPlace(std::int64_t first, std::int64_t last, std::map<std::int64_t, std::size_t>& bad)
{
    if (!LocateBefore(SecondOf(first))) {
        facts_.retryNotes.push_back("The drive could not locate " + IndexText(first) + "; that place was not read again.");
        return true;
    }
    BeginFramePass();
    std::uint32_t reads = 0;
    const std::uint32_t limit =
        static_cast<std::uint32_t>(last - first) + (kPreRollSeconds + 1) * kFramesPerSecondAtMost + kRetryOverrunFrames;
    while (reads++ < limit && !stop_) {
        report("retrying");
        const FrameRead r = ReadNextFrame();
        if (r.status == FrameStatus::Unreadable)
            continue;
        if (r.status != FrameStatus::Audio && r.status != FrameStatus::Concealed)
            break;
        if (r.repeat || !r.frame.absoluteTime)
            continue;
        const std::optional<std::uint32_t> at = dat::IndexOfTimeCode(r.frame.absoluteTime->time);
        if (!at)
            continue;
        if (*at > last)
            break;
        const auto it = bad.find(*at);
        if (it == bad.end() || r.status != FrameStatus::Audio || IsPlaceholder(r.bytes.data()))
            continue;
        // Matched by absolute time: this is the frame that was bad, now clean.
        FrameRecord rec = RecordOf(r.frame);
        rec.state = FrameState::Recovered;
        if (Status s = package_.Patch(it->second, r.bytes.data(), rec); !s) {
            facts_.retryNotes.push_back(s.error());
            return false;
        }
        bad.erase(it);
    }
    return true;
}

RunFacts TapePass::run()
{
    facts_.drive = InquireDrive(AspiAdapter, AspiTarget).value_or(DriveIdentity{});
    // What the package's checkpoints say of this run.
    RunFacts checkpoint;
    checkpoint.drive = facts_.drive;
    checkpoint.retries = o_.retries;
    checkpoint.label = o_.label.empty() ? package_.label() : o_.label;
    checkpoint.id = o_.id.empty() ? package_.id() : o_.id;
    checkpoint.stoppedIn = package_.stoppedIn();
    checkpoint.skips = facts_.skips;
    package_.SetRunFacts(checkpoint);
    report("reading", true);
    acquire();
    if (facts_.complete && o_.retries > 0)
        retryPass();
    report("writing the package", true);
    return std::move(facts_);
}

}  // namespace

RunFacts ReadTape(Package& package, const Options& options, const std::function<void(const Progress&)>& progress,
                  const bool& stop)
{
    return TapePass(package, options, progress, stop).run();
}

}  // namespace archive
