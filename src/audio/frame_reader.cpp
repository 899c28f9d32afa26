#include "audio/frame_reader.h"

#include <algorithm>
#include <cstdio>
#include <deque>

#include "dat/time_code.h"
#include "platform/aspi/aspi.h"
#include "platform/aspi/scsi_codes.h"
#include "transport/basic_text.h"
#include "transport/drive_state.h"

namespace {

// The reader's own buffer: each READ lands here and is handed on with its result.
std::array<std::uint8_t, dat::kFrameBytes> FrameBuffer{};

constexpr std::uint32_t kDefaultMaxBadFrames = 100;

struct Pass {
    ReadReport report;
    std::deque<FrameRead> held;              // read ahead while the layout is decided, not yet handed on
    std::optional<std::uint32_t> lastIndex;  // absolute frame index of the last frame delivered
    std::array<std::uint64_t, 2> steps{};    // long play: clean neighbours one and two codes apart
    bool catchingUp = false;  // after failures the drive delivered a frame again: skip to the next new one
    bool moved = false;       // the tape was moved on within the pass: the clock counts what was passed
    std::uint32_t maxBadFrames = kDefaultMaxBadFrames;
};

std::string PassEndMessage(const FrameRead& read);

// The layout of 12-bit frames: set by the option, or decided once per tape.
struct Layout {
    std::optional<dat::NonLinearLayout> forced;
    std::optional<LayoutChoice> decided;
};

Layout& L()
{
    static Layout l;
    return l;
}

bool NonLinear(const FrameRead& r) { return r.format && r.format->NonLinear(); }

void DecodeAudio(FrameRead& r, dat::NonLinearLayout layout)
{
    if (NonLinear(r) && (r.status == FrameStatus::Audio || r.status == FrameStatus::Concealed))
        dat::DecodeNonLinear(r.bytes.data(), layout, r.pcm.data());
}

LayoutChoice Decide(const dat::LayoutVote& vote)
{
    const dat::LayoutVote::Result v = vote.Choice();
    LayoutChoice c;
    c.layout = v.layout;
    c.clear = v.clear;
    c.ratio = v.ratio;
    c.frames = v.frames;
    return c;
}

Pass& P()
{
    static Pass p;
    return p;
}

std::optional<std::uint32_t> AbsoluteIndex(const dat::Frame& f)
{
    if (!f.absoluteTime)
        return std::nullopt;
    return dat::IndexOfTimeCode(f.absoluteTime->time);
}

// The status of a READ that did not complete.
FrameStatus ClassifyFailure(const ReadOutcome& r)
{
    if (r.refused || r.srbStatus == SS_NO_DEVICE || r.srbStatus == SS_INVALID_HA)
        return FrameStatus::DriveLost;
    if (r.srbStatus == SS_ABORTED)
        return FrameStatus::Timeout;  // the host gave up on the command
    if (r.srbStatus != SS_ERR || !r.sense.present)
        return FrameStatus::DriveLost;  // a transport or host error: no sense from the drive
    switch (r.sense.key) {
    case scsi::key::BlankCheck:
        return FrameStatus::EndOfTape;
    case scsi::key::NotReady:
        // A tape taken out mid-way is no end of the recorded area: what follows was not read.
        return FrameStatus::NoTape;
    case scsi::key::IllegalRequest:
        return FrameStatus::WrongMedium;
    case scsi::key::MediumError:
        return r.sense.code.asc == scsi::asc::IncompatibleMediumFamily ? FrameStatus::WrongMedium
                                                                       : FrameStatus::Unreadable;
    default:
        return FrameStatus::Unreadable;
    }
}

// A frame delivered: where it stands on the tape's clock, and what the report learns of it.
void Deliver(FrameRead& r)
{
    Pass& p = P();
    ReadReport& rep = p.report;
    const std::optional<std::uint32_t> index = AbsoluteIndex(r.frame);
    const std::uint32_t failures = rep.consecutiveFailures;
    rep.consecutiveFailures = 0;
    // The clock decides only after failed reads (or while the drive is still going over
    // frames it delivered before them): frames that read one after the other are consecutive
    // on the tape whatever their clock says, since it starts again or jumps where a tape
    // was recorded in pieces.
    const bool afterFailure = failures > 0 || p.catchingUp || p.moved;
    p.moved = false;
    // Long play's clock may advance one or two codes a frame: the tape itself says which,
    // from frames read one after the other.
    // The majority decides, so that one jump where the tape was recorded in pieces does not.
    const bool longPlay = r.format && r.format->NonLinear() && r.format->channels == 2;
    if (index && p.lastIndex && !afterFailure && *index > *p.lastIndex && *index - *p.lastIndex <= 2) {
        if (longPlay)
            ++p.steps[*index - *p.lastIndex - 1];
        rep.timeStep = p.steps[1] > p.steps[0] ? 2 : 1;
    }
    const unsigned step = std::max(1u, rep.timeStep);
    if (index && p.lastIndex && afterFailure) {
        if (*index <= *p.lastIndex) {
            r.repeat = true;  // the drive went back: this frame was delivered already
            p.catchingUp = true;
            return;
        }
        // Rounded: a clock that runs unevenly still gives whole frames.
        r.missingBefore = (*index - *p.lastIndex + step / 2) / step - 1;
        if (r.missingBefore > 0)
            rep.unreadable.add(*p.lastIndex + step, *index - step, step);
    } else if (failures > 0) {
        // No clock to go by: each failed read stands for one frame.
        r.missingBefore = failures;
        if (p.lastIndex) {
            rep.unreadable.add(*p.lastIndex + step, *p.lastIndex + failures * step, step);
        } else if (index) {
            // The pass's first frame: its own time bounds what can lie before it, so a frame
            // read after retries at the start of the tape inserts nothing.
            r.missingBefore = std::min(failures, *index / step);
            if (r.missingBefore > 0)
                rep.unreadable.add(*index - r.missingBefore * step, *index - step, step);
        } else {
            rep.unreadable.add(-1, -1);
            rep.unreadable.count += failures - 1;
        }
    }
    p.catchingUp = false;
    if (index)
        p.lastIndex = index;
    else if (p.lastIndex)
        p.lastIndex = *p.lastIndex + (r.missingBefore + 1) * step;

    const dat::MainId& m = r.frame.mainId;
    if (rep.frames == 0) {
        rep.sampleRate = m.SampleRateHz();
        rep.format = r.format;
        rep.emphasis = m.Emphasis();
        rep.rateText = m.RateText();
    }
    rep.emphasis = rep.emphasis || m.Emphasis();
    ++rep.frames;
    if (r.frame.subId.program.IsNumber())
        rep.programs.insert(r.frame.subId.program.number);
    if (r.frame.absoluteTime && r.frame.absoluteTime->time.valid) {
        if (!rep.firstTime)
            rep.firstTime = r.frame.absoluteTime->time;
        rep.lastTime = r.frame.absoluteTime->time;
    }
    if (r.status == FrameStatus::Concealed) {
        const std::int64_t at = p.lastIndex ? static_cast<std::int64_t>(*p.lastIndex) : -1;
        rep.concealed.add(at, at, step);
    }
}

// Reads that failed just before the end of the recorded area: no later frame can say how
// many frames they were, so each stands for one.
void TrailingFailures(FrameRead& r)
{
    Pass& p = P();
    const std::uint32_t failures = p.report.consecutiveFailures;
    if (failures == 0)
        return;
    p.report.consecutiveFailures = 0;
    r.missingBefore = failures;
    const unsigned step = std::max(1u, p.report.timeStep);
    if (p.lastIndex) {
        p.report.unreadable.add(*p.lastIndex + step, *p.lastIndex + failures * step, step);
        p.lastIndex = *p.lastIndex + failures * step;
    } else {
        p.report.unreadable.add(-1, -1);
        p.report.unreadable.count += failures - 1;
    }
}

std::string RangeEnd(std::int64_t index)
{
    return index < 0 ? std::string("?") : dat::FormatHmsf(dat::TimeCodeOfIndex(static_cast<std::uint64_t>(index)));
}

}  // namespace

void FrameRanges::add(std::int64_t first, std::int64_t last, unsigned step)
{
    step = std::max(1u, step);
    count += first < 0 || last < first ? 1 : static_cast<std::uint64_t>((last - first) / step + 1);
    if (!ranges.empty() && first >= 0 && ranges.back().second >= 0 && ranges.back().second + step == first)
        ranges.back().second = last;
    else
        ranges.emplace_back(first, last);
}

std::string FrameRanges::text() const
{
    std::string out;
    for (const auto& [first, last] : ranges) {
        if (!out.empty())
            out += ", ";
        out += RangeEnd(first);
        if (last != first)
            out += "\u2013" + RangeEnd(last);
    }
    return out;
}

void BeginFramePass()
{
    Pass& p = P();
    p.held.clear();
    p.report = ReadReport{};
    p.lastIndex.reset();
    p.steps = {};
    p.catchingUp = false;
    p.moved = false;
}

void FramePassMoved()
{
    Pass& p = P();
    p.held.clear();  // read before the tape moved
    p.report.consecutiveFailures = 0;
    p.moved = true;
}

const ReadReport& FramePassReport() { return P().report; }

std::string LastFrameTimeText()
{
    const std::optional<std::uint32_t>& last = P().lastIndex;
    return last ? dat::FormatHms(dat::TimeCodeOfIndex(*last)) : dat::FormatHms(dat::TimeCode{});
}

std::optional<std::int64_t> FirstBadFrameIndex()
{
    const Pass& p = P();
    if (!p.lastIndex)
        return std::nullopt;
    return std::int64_t{*p.lastIndex} + std::max(1u, p.report.timeStep);
}

void SetMaxBadFrames(std::uint32_t frames) { P().maxBadFrames = frames ? frames : kDefaultMaxBadFrames; }
std::uint32_t MaxBadFrames() { return P().maxBadFrames; }

namespace {

// One READ from the drive, classified; a 12-bit frame is not decoded yet.
FrameRead ReadFromDrive()
{
    FrameRead r;
    r.outcome = ReadTapeBlock(AspiAdapter, AspiTarget, FrameBuffer.data(), static_cast<std::int32_t>(FrameBuffer.size()));
    r.bytes = FrameBuffer;
    bool delivered = r.outcome.completed;
    if (!delivered && r.outcome.srbStatus == SS_ERR && r.outcome.sense.key == scsi::key::RecoveredError)
        delivered = r.outcome.sense.information == 0u;  // recovered, and every byte arrived
    if (!delivered) {
        r.status = ClassifyFailure(r.outcome);
        return r;
    }
    r.frame = dat::Decode(dat::FrameBytes(r.bytes));
    if (r.frame.subId.program.kind == dat::ProgramNumber::Kind::LeadOut) {
        r.status = FrameStatus::EndOfTape;
        return r;
    }
    r.format = dat::FormatOf(r.frame.mainId);
    if (!r.format) {
        r.status = FrameStatus::Unsupported;
        return r;
    }
    r.status = r.frame.subId.leftConcealed || r.frame.subId.rightConcealed ? FrameStatus::Concealed
                                                                           : FrameStatus::Audio;
    return r;
}

// The next frame of the pass, from those held back or from the drive. The first 12-bit frame
// of an undecided tape holds the pass back: frames are read on and held until the sound
// decides the layout or the pass can go no further.
FrameRead NextOfPass()
{
    Pass& p = P();
    Layout& l = L();
    if (p.held.empty()) {
        FrameRead r = ReadFromDrive();
        if (!NonLinear(r) || r.status == FrameStatus::EndOfTape || l.forced || l.decided) {
            if (NonLinear(r))
                DecodeAudio(r, l.forced ? *l.forced : l.decided->layout);
            return r;
        }
        dat::LayoutVote vote;
        std::uint32_t failures = 0;
        p.held.push_back(std::move(r));
        for (;;) {
            const FrameRead& last = p.held.back();
            if (NonLinear(last) && (last.status == FrameStatus::Audio || last.status == FrameStatus::Concealed))
                vote.Add(last.bytes.data(), last.format->channels);
            const bool goesOn = last.status == FrameStatus::Audio || last.status == FrameStatus::Concealed ||
                                last.status == FrameStatus::Unreadable;
            failures = last.status == FrameStatus::Unreadable ? failures + 1 : 0;
            if (!goesOn || vote.Frames() >= kLayoutVoteFrames || p.held.size() >= kLayoutHoldFrames ||
                failures >= p.maxBadFrames)
                break;
            p.held.push_back(ReadFromDrive());
        }
        l.decided = Decide(vote);
    }
    FrameRead r = std::move(p.held.front());
    p.held.pop_front();
    if (NonLinear(r))
        DecodeAudio(r, l.forced ? *l.forced : l.decided ? l.decided->layout : dat::NonLinearLayout::A);
    return r;
}

}  // namespace

std::string LayoutChoice::Text() const
{
    std::string text(dat::LayoutName(layout));
    if (forced)
        return text + " (set by --lp-layout)";
    if (frames == 0)
        return text + " (not clear: no sound to judge by; a is the default)";
    char ratioText[64];
    std::snprintf(ratioText, sizeof ratioText, "%.1f", ratio);
    if (!clear)
        return text + " (not clear: the best only " + ratioText + " times smoother than the next, over " +
               std::to_string(frames) + " frames; a is the default)";
    return text + " (found: " + ratioText + " times smoother than the next best, over " + std::to_string(frames) +
           " frames)";
}

void SetNonLinearLayout(std::optional<dat::NonLinearLayout> layout) { L().forced = layout; }

void ForgetTapeLayout() { L().decided.reset(); }

std::optional<LayoutChoice> TapeLayout()
{
    const Layout& l = L();
    if (l.forced) {
        LayoutChoice c;
        c.layout = *l.forced;
        c.forced = true;
        return c;
    }
    return l.decided;
}

FrameRead ReadFrameOutsidePass()
{
    P().held.clear();  // the tape moves on from where the drive stands
    FrameRead r = ReadFromDrive();
    if (NonLinear(r)) {
        const std::optional<LayoutChoice> layout = TapeLayout();
        DecodeAudio(r, layout ? layout->layout : dat::NonLinearLayout::A);
    }
    return r;
}

FrameRead ReadNextFrame()
{
    FrameRead r = NextOfPass();
    switch (r.status) {
    case FrameStatus::Unreadable:
        if (++P().report.consecutiveFailures >= P().maxBadFrames) {
            r.status = FrameStatus::TooManyBad;
            r.message = PassEndMessage(r);
        }
        break;
    case FrameStatus::EndOfTape:
        TrailingFailures(r);
        break;
    case FrameStatus::Audio:
    case FrameStatus::Concealed:
        if (NonLinear(r))
            P().report.layout = TapeLayout();
        Deliver(r);
        break;
    default:
        r.message = PassEndMessage(r);
        break;
    }
    return r;
}

namespace {

std::string PassEndMessage(const FrameRead& read)
{
    const std::string at = " at " + LastFrameTimeText();
    if (read.status == FrameStatus::TooManyBad) {
        // Where the damage begins, not the second of the last frame before it.
        const std::optional<std::int64_t> first = FirstBadFrameIndex();
        const std::string from =
            first ? dat::FormatHms(dat::TimeCodeOfIndex(static_cast<std::uint64_t>(*first))) : LastFrameTimeText();
        return "The drive could not read " + std::to_string(P().report.consecutiveFailures) + " frames in a row at " +
               from + "; reading was stopped there.";
    }
    switch (read.status) {
    case FrameStatus::WrongMedium:
        return "The drive cannot read this tape as audio: " + read.outcome.sense.text() + ".";
    case FrameStatus::NoTape:
        return "The drive has no tape ready" + at + " (" + read.outcome.sense.text() + "); reading was stopped there.";
    case FrameStatus::DriveLost:
        return "The drive stopped answering" + at + " (status " + NumText(read.outcome.srbStatus) +
               "); reading was stopped there.";
    case FrameStatus::Timeout:
        return "A frame read did not end within its time limit of " +
               std::to_string(scsi::CommandTimeoutMs(scsi::op::Read6) / 1000) + " seconds" + at +
               "; reading was stopped there.";
    case FrameStatus::Unsupported: {
        char id[8];
        std::snprintf(id, sizeof id, "%02X %02X", read.bytes[dat::kMainIdOffset], read.bytes[dat::kMainIdOffset + 1]);
        return "The frame after " + LastFrameTimeText() + " declares a recording format no DAT deck makes (main ID " +
               id + ": a reserved sampling rate or coding); reading was stopped there.";
    }
    default:
        return {};
    }
}

}  // namespace

std::string ErrorSummary(const ReadReport& report)
{
    std::string parts;
    if (report.unreadable.count > 0)
        parts += std::to_string(report.unreadable.count) + " unreadable frames (" + report.unreadable.text() +
                 "), written as silence";
    if (report.concealed.count > 0) {
        if (!parts.empty())
            parts += "; ";
        parts += std::to_string(report.concealed.count) + " concealed frames (" + report.concealed.text() +
                 "), written as the drive gave them";
    }
    return parts.empty() ? std::string() : "Errors: " + parts + ".";
}
