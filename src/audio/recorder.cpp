#include "audio/recorder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sndfile.h>

#include "dat/audio_format.h"
#include "platform/io/sound_file.h"
#include "tape/eject_read.h"
#include "tape/positioning.h"
#include "tape/unit_mode.h"
#include "transport/drive_state.h"

static_assert(std::endian::native == std::endian::little, "PCM is copied as little-endian bytes");

namespace {

// How many frames of a tape's start are read to tell what it holds: past a whole lead-in.
constexpr int kInspectFrames = 150;

bool TapeRate(std::uint32_t rate) { return rate == 48000 || rate == 44100 || rate == 32000; }

std::uint32_t PairsPerFrame(std::uint32_t rate) { return dat::StereoFormatAt(rate)->sampleFrames; }

// A source read and checked: interleaved stereo 16-bit PCM.
struct Source {
    std::string path;
    std::uint32_t rate = 0;
    std::vector<std::int16_t> pcm;
};

// The file a conversion would write: "song.flac" -> "song-dat.wav".
std::string ConvertedName(const std::string& path)
{
    const std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + "-dat.wav")).string();
}

std::string SoxLine(const std::string& path, bool bits, std::optional<std::uint32_t> rate, bool channels)
{
    std::string line = "sox '" + path + "'";
    if (bits)
        line += " -b 16";
    line += " '" + ConvertedName(path) + "'";
    if (channels)
        line += " remix 1 2";
    if (rate)
        line += " rate " + std::to_string(*rate);
    return line;
}

const char* MajorName(int major)
{
    switch (major) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
        return "WAV";
    case SF_FORMAT_AIFF:
        return "AIFF";
    case SF_FORMAT_FLAC:
        return "FLAC";
    default:
        return nullptr;
    }
}

// Bits per sample of a PCM subtype; 0 for float and compressed codings.
int SubtypeBits(int subtype)
{
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
        return 32;
    default:
        return 0;
    }
}

// Opens, checks and reads one file; `rate` is the rate the files before it set (0: none yet).
std::optional<Source> ReadSource(const std::string& path, std::uint32_t rate, const std::string& firstPath,
                                 std::string& error)
{
    SF_INFO info{};
    SoundFile file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        error = path + ": cannot be read as audio (" + sf_strerror(nullptr) + ")";
        return std::nullopt;
    }
    const int major = info.format & SF_FORMAT_TYPEMASK, subtype = info.format & SF_FORMAT_SUBMASK;
    const std::uint32_t fileRate = static_cast<std::uint32_t>(std::max(0, info.samplerate));
    const int bits = SubtypeBits(subtype);
    const bool wrongBits = bits != 16, wrongChannels = info.channels < 1 || info.channels > 2;
    const bool wrongRate = !TapeRate(fileRate) || (rate != 0 && fileRate != rate);
    const std::uint32_t target = rate != 0              ? rate
                                 : TapeRate(fileRate)   ? fileRate
                                 : fileRate % 8000 == 0 ? 48000
                                                        : 44100;
    if (!MajorName(major) || wrongBits || wrongChannels || wrongRate) {
        std::string what;
        if (!MajorName(major))
            what = "is not a WAV, FLAC or AIFF file";
        else if (wrongRate && TapeRate(fileRate))
            what = "is " + std::to_string(fileRate) + " Hz but " + firstPath + " is " + std::to_string(rate) +
                   " Hz: the programs of a tape share one rate";
        else
            what = std::string("is ") + std::to_string(fileRate) + " Hz, " +
                   (bits ? std::to_string(bits) + "-bit" : std::string("not linear PCM")) + ", " +
                   std::to_string(info.channels) + (info.channels == 1 ? " channel" : " channels") +
                   ": a DAT records 16-bit audio at 48000, 44100 or 32000 Hz, one or two channels";
        error = path + " " + what + ". Nothing was written. Convert it first, for example: " +
                SoxLine(path, wrongBits || !MajorName(major), wrongRate ? std::optional(target) : std::nullopt,
                        wrongChannels);
        return std::nullopt;
    }
    if (info.frames <= 0) {
        error = path + " holds no audio. Nothing was written.";
        return std::nullopt;
    }
    Source s;
    s.path = path;
    s.rate = fileRate;
    const auto frames = static_cast<std::uint64_t>(info.frames);
    std::vector<std::int16_t> raw(frames * static_cast<std::uint64_t>(info.channels));
    const sf_count_t got = sf_readf_short(file.get(), raw.data(), info.frames);
    if (got != info.frames || sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = path + ": only " + std::to_string(std::max<sf_count_t>(0, got)) + " of " + std::to_string(info.frames) +
                " sample frames could be read (" + sf_strerror(file.get()) + "). Nothing was written.";
        return std::nullopt;
    }
    if (info.channels == 1) {
        s.pcm.resize(frames * 2);
        for (std::uint64_t i = 0; i < frames; ++i)
            s.pcm[2 * i] = s.pcm[2 * i + 1] = raw[i];
    } else {
        s.pcm = std::move(raw);
    }
    return s;
}

std::string TimeText(const dat::TimeCode& t) { return dat::FormatHms(t); }

}  // namespace

// ---- The plan ----

std::optional<RecordPlan> RecordPlan::FromFiles(const std::vector<std::string>& paths, const RecordSettings& settings,
                                                std::string& error)
{
    if (paths.empty()) {
        error = "no files to record";
        return std::nullopt;
    }
    RecordPlan plan;
    plan.settings_ = settings;
    std::uint32_t rate = 0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::optional<Source> s = ReadSource(paths[i], rate, paths.front(), error);
        if (!s)
            return std::nullopt;
        rate = s->rate;
        PlannedProgram p;
        p.name = paths[i];
        p.number = static_cast<unsigned>(i + 1);
        p.pairs = s->pcm.size() / 2;
        p.pcm = std::make_shared<const std::vector<std::int16_t>>(std::move(s->pcm));
        plan.programs_.push_back(std::move(p));
    }
    if (plan.programs_.size() > 799) {
        error = "a tape holds at most 799 programs";
        return std::nullopt;
    }
    plan.rate_ = rate;
    plan.layOut();
    return plan;
}

RecordPlan RecordPlan::FromPcm(std::vector<std::vector<std::int16_t>> programs, std::uint32_t rate,
                               const RecordSettings& settings, std::vector<std::string> names)
{
    RecordPlan plan;
    plan.settings_ = settings;
    plan.rate_ = TapeRate(rate) ? rate : 48000;
    for (std::size_t i = 0; i < programs.size(); ++i) {
        PlannedProgram p;
        p.name = i < names.size() ? names[i] : "program " + std::to_string(i + 1);
        p.number = static_cast<unsigned>(i + 1);
        p.pairs = programs[i].size() / 2;
        p.pcm = std::make_shared<const std::vector<std::int16_t>>(std::move(programs[i]));
        plan.programs_.push_back(std::move(p));
    }
    plan.layOut();
    return plan;
}

void RecordPlan::layOut()
{
    const std::uint64_t perFrame = PairsPerFrame(rate_);
    const auto gapPairs = static_cast<std::uint64_t>(std::llround(std::max(0.0, settings_.gapSeconds) * rate_));
    std::uint64_t frame = kLeadInFrames;
    for (std::size_t i = 0; i < programs_.size(); ++i) {
        PlannedProgram& p = programs_[i];
        const std::uint64_t pairs = p.pairs + (i + 1 < programs_.size() ? gapPairs : 0);
        p.firstFrame = frame;
        p.frames = std::max<std::uint64_t>(1, (pairs + perFrame - 1) / perFrame);
        frame += p.frames;
    }
    leadOutStart_ = frame;
}

std::uint64_t RecordPlan::StartIdFrames() const
{
    // Frames from 0:00:00 to s seconds by the time code: 300 for 9 s.
    const unsigned s = std::max(kMinStartIdSeconds, settings_.startIdSeconds);
    return 33ull * s + s / 3;
}

double RecordPlan::ProgramSeconds() const
{
    return static_cast<double>(leadOutStart_ - kLeadInFrames) * PairsPerFrame(rate_) / rate_;
}

void RecordPlan::EndProgramsAt(std::uint64_t frame) { leadOutStart_ = std::min(leadOutStart_, frame); }

std::optional<std::size_t> RecordPlan::ProgramAt(std::uint64_t n) const
{
    if (n < kLeadInFrames || n >= leadOutStart_ || programs_.empty())
        return std::nullopt;
    const auto it = std::upper_bound(programs_.begin(), programs_.end(), n,
                                     [](std::uint64_t f, const PlannedProgram& p) { return f < p.firstFrame; });
    return static_cast<std::size_t>(it - programs_.begin() - 1);
}

dat::TimeCode RecordPlan::AbsoluteTimeAt(std::uint64_t n) const
{
    if (!ProgramAt(n))
        return dat::TimeCode{};
    return dat::TimeCodeOfIndex(n - kLeadInFrames);
}

std::string RecordPlan::PlaceText(std::uint64_t n) const
{
    if (n < kLeadInFrames)
        return "the lead-in";
    const std::optional<std::size_t> p = ProgramAt(n);
    if (!p)
        return "the lead-out";
    return "program " + std::to_string(programs_[*p].number) + " at " + TimeText(AbsoluteTimeAt(n));
}

void RecordPlan::BuildFrame(std::uint64_t n, std::uint8_t* out) const
{
    std::memset(out, 0, dat::kAudioAreaBytes);
    const std::optional<std::size_t> p = ProgramAt(n);
    dat::SubcodeWriter w(dat::MutableFrameBytes(out, dat::kFrameBytes));
    w.SetMainId({.sampleRateHz = rate_, .emphasis = settings_.emphasis});
    if (!p) {
        // Lead-in and lead-out: silence, their own program number, time codes not valid.
        const dat::ProgramNumber number =
            n < kLeadInFrames ? dat::ProgramNumber::LeadIn() : dat::ProgramNumber::LeadOut();
        w.AddTimePack(dat::PackItem::ProgramTime, number, 0, dat::TimeCode{});
        w.AddTimePack(dat::PackItem::AbsoluteTime, number, 0, dat::TimeCode{});
        w.AddTimePack(dat::PackItem::RunningTime, number, 0, dat::TimeCode{});
        w.SetSubId({.program = number});
        return;
    }
    const PlannedProgram& program = programs_[*p];
    const std::uint64_t inProgram = n - program.firstFrame;
    const std::uint64_t perFrame = PairsPerFrame(rate_);
    const std::uint64_t first = inProgram * perFrame;
    if (first < program.pairs) {
        const std::uint64_t pairs = std::min(perFrame, program.pairs - first);
        std::memcpy(out, program.pcm->data() + 2 * first, pairs * 4);
    }
    const dat::ProgramNumber number = dat::ProgramNumber::Of(program.number);
    const std::uint64_t absolute = n - kLeadInFrames;
    w.AddTimePack(dat::PackItem::ProgramTime, number, 1, dat::TimeCodeOfIndex(inProgram));
    w.AddTimePack(dat::PackItem::AbsoluteTime, number, 1, dat::TimeCodeOfIndex(absolute));
    w.AddTimePack(dat::PackItem::RunningTime, number, 1, dat::TimeCodeOfIndex(absolute));
    w.AddDatePack(dat::DateAfter(settings_.date, absolute * 3 / 100));  // whole seconds of absolute time
    w.SetSubId({.program = number, .start = inProgram < StartIdFrames()});
}

// ---- Comparing ----

bool SameRecordedFrame(const std::uint8_t* written, const std::uint8_t* read)
{
    const dat::Frame a = dat::Decode(dat::FrameBytes(written, dat::kFrameBytes));
    const dat::Frame b = dat::Decode(dat::FrameBytes(read, dat::kFrameBytes));
    if (!(a.mainId == b.mainId) || !(a.subId.program == b.subId.program) || a.subId.start != b.subId.start ||
        a.subId.skip != b.subId.skip || a.subId.priority != b.subId.priority || a.subId.toc != b.subId.toc ||
        a.programTime != b.programTime || a.absoluteTime != b.absoluteTime || a.runningTime != b.runningTime)
        return false;
    const std::optional<dat::AudioFormat> format = dat::FormatOf(a.mainId);
    const std::size_t used = format ? format->audioBytes : dat::kAudioAreaBytes;
    return std::memcmp(written, read, used) == 0;
}

std::vector<std::string> Verification::Lines() const
{
    std::vector<std::string> lines;
    if (!message.empty())
        lines.push_back("Verify: " + message);
    if (mismatched.count > 0)
        lines.push_back("Mismatched: " + std::to_string(mismatched.count) +
                        " frames read back different from what was written: " + mismatched.text());
    if (unreadable.count > 0)
        lines.push_back("Unreadable: " + std::to_string(unreadable.count) +
                        " frames could not be read back: " + unreadable.text());
    if (leadMismatched > 0 || leadUnreadable > 0)
        lines.push_back("Lead-in and lead-out: " + std::to_string(leadMismatched) + " frames different, " +
                        std::to_string(leadUnreadable) + " unreadable.");
    if (Clean())
        lines.push_back("Verified: all " + std::to_string(frames) + " frames read back as written.");
    else if (finished)
        lines.push_back("Verify: the tape is not clean (" + std::to_string(frames) + " frames read back as written).");
    return lines;
}

// ---- The recorder ----

TapeRecorder::TapeRecorder(RecordPlan plan) : plan_(std::move(plan)), frame_(dat::kFrameBytes)
{
    progress_.totalFrames = plan_.FrameCount();
}

TapeContents TapeRecorder::Inspect()
{
    TapeContents c;
    if (Status s = TrySelectAudioMode(AspiAdapter, AspiTarget); !s) {
        c.error = "The drive refused audio mode" + (s.error().empty() ? std::string(".") : ": " + s.error());
        return c;
    }
    ModeParameterList mode{};
    ModeSense(AspiAdapter, AspiTarget, mode);
    if (mode[3] != 8) {
        c.error = "The drive did not report its mode (MODE SENSE failed).";
        return c;
    }
    c.writeProtected = (mode[2] & 0x80) != 0;
    if (mode[4] != AudioDensity) {
        c.dataTape = true;
        c.description = "a data tape";
        return c;
    }
    if (Status s = TryRewindTape(AspiAdapter, AspiTarget); !s) {
        c.error = s.error();
        return c;
    }
    // The first frames tell what is there: blank at once, or what the first program says.
    std::vector<std::uint8_t> buffer(dat::kFrameBytes);
    int unreadable = 0, frames = 0;
    std::optional<dat::Frame> first, numbered;
    for (int i = 0; i < kInspectFrames && !numbered; ++i) {
        const ReadOutcome r = ReadTapeBlock(AspiAdapter, AspiTarget, buffer.data(), dat::kFrameBytes);
        if (r.endOfData())
            break;
        if (!r.completed) {
            if (r.sense.key == scsi::key::MediumError && r.sense.code != scsi::asc::IncompatibleMediumFormat) {
                ++unreadable;
                continue;
            }
            c.error = "The drive could not read the start of the tape: " +
                      (r.sense.present ? r.sense.text() : "status " + std::to_string(r.srbStatus)) + ".";
            return c;
        }
        ++frames;
        const dat::Frame f = dat::Decode(dat::FrameBytes(buffer.data(), dat::kFrameBytes));
        if (!first)
            first = f;
        if (f.subId.program.IsNumber())
            numbered = f;
    }
    if (frames == 0 && unreadable == 0) {
        c.blank = true;
        c.description = "blank";
    } else if (numbered) {
        const dat::Frame& f = *numbered;
        c.description = "audio: program " + std::to_string(f.subId.program.number);
        if (f.absoluteTime)
            c.description += " at absolute time " + dat::FormatHms(f.absoluteTime->time);
        c.description += " near its start, " + f.mainId.RateText();
    } else if (first) {
        const dat::ProgramNumber& p = first->subId.program;
        c.description = p.kind == dat::ProgramNumber::Kind::LeadIn    ? "a lead-in"
                        : p.kind == dat::ProgramNumber::Kind::LeadOut ? "a lead-out (an empty recording)"
                                                                      : "recorded frames without program numbers";
        c.description += " at its start";
    } else {
        c.description = "frames that cannot be read at its start";
    }
    if (Status s = TryRewindTape(AspiAdapter, AspiTarget); !s)
        c.error = s.error();
    return c;
}

std::string TapeRecorder::Prepare(bool overwrite)
{
    const TapeContents c = Inspect();
    if (!c.error.empty())
        return c.error + " Nothing was written.";
    if (c.writeProtected)
        return "The cassette is write-protected (its tab is open): nothing was written. Close the tab to record on it.";
    if (!c.blank && !overwrite)
        return "The tape is not blank: it holds " + c.description +
               ". Nothing was written; give --overwrite to record over it from its start.";
    if (c.dataTape) {
        // Recording over a data tape: audio mode again after MODE SENSE took the tape's density.
        if (Status s = TrySelectAudioMode(AspiAdapter, AspiTarget); !s)
            return "The drive refused audio mode on the data tape. Nothing was written.";
        if (Status s = TryRewindTape(AspiAdapter, AspiTarget); !s)
            return s.error() + " Nothing was written.";
    }
    return {};
}

void TapeRecorder::fail(const std::string& text)
{
    state_ = RecordState::Failed;
    message_ = text;
}

bool TapeRecorder::Step()
{
    if (state_ == RecordState::Done || state_ == RecordState::Stopped || state_ == RecordState::Failed)
        return false;
    state_ = RecordState::Writing;
    if (stopAsked_ && next_ < plan_.LeadOutStart()) {
        plan_.EndProgramsAt(next_);
        stoppedEarly_ = true;
        progress_.totalFrames = plan_.FrameCount();
        message_ = "Stopped at absolute time " + TimeText(reached_) + "; the lead-out was written after it.";
    }
    const std::uint64_t n = next_;
    plan_.BuildFrame(n, frame_.data());
    const WriteOutcome w =
        WriteTapeBlock(AspiAdapter, AspiTarget, frame_.data(), static_cast<std::int32_t>(frame_.size()));
    if (!w.completed) {
        const std::string why = w.sense.present ? w.sense.text() : "status " + std::to_string(w.srbStatus);
        const std::uint64_t leadOutWritten = n > plan_.LeadOutStart() ? n - plan_.LeadOutStart() : 0;
        if (w.writeProtected())
            fail("The cassette is write-protected (" + why + "): nothing more was written.");
        else if (leadOutWritten > 0)
            // Every program is on the tape: only the lead-out is short.
            fail("The write of the lead-out failed (" + why + "); the programs were written up to absolute time " +
                 TimeText(reached_) + ", but the lead-out ends after " + std::to_string(leadOutWritten) + " of its " +
                 std::to_string(kRecordLeadOutFrames) + " frames.");
        else
            fail("The write of " + plan_.PlaceText(n) + " failed (" + why + "); " +
                 (n == 0 ? std::string("nothing was written.")
                         : "the tape ends there without a lead-out, at absolute time " + TimeText(reached_) + "."));
        return false;
    }
    ++next_;
    if (const std::optional<std::size_t> p = plan_.ProgramAt(n)) {
        reached_ = plan_.AbsoluteTimeAt(n);
        progress_.place = "program " + std::to_string(plan_.Programs()[*p].number);
        progress_.absolute = reached_;
    } else {
        progress_.place = n < kLeadInFrames ? "lead-in" : "lead-out";
    }
    progress_.frames = next_;
    progress_.bytes += dat::kFrameBytes;
    progress_.audioSeconds = static_cast<double>(next_) * 0.03;
    if (next_ >= plan_.FrameCount()) {
        state_ = stoppedEarly_ ? RecordState::Stopped : RecordState::Done;
        return false;
    }
    return true;
}

void TapeRecorder::BeginVerify()
{
    verification_ = Verification{};
    next_ = 0;
    lostBefore_ = false;
    verifyStopAsked_ = false;
    progress_ = RecordProgress{};
    progress_.verifying = true;
    progress_.totalFrames = plan_.FrameCount();
    if (Status s = TryRewindTape(AspiAdapter, AspiTarget); !s) {
        verification_.message = s.error();
        next_ = plan_.FrameCount();
        return;
    }
    BeginFramePass();
}

void TapeRecorder::lose(std::uint64_t first, std::uint64_t end)
{
    for (std::uint64_t n = first; n < end; ++n) {
        if (plan_.ProgramAt(n))
            verification_.unreadable.add(n - kLeadInFrames, n - kLeadInFrames);
        else
            ++verification_.leadUnreadable;
    }
    progress_.unreadable = verification_.unreadable.count + verification_.leadUnreadable;
}

void TapeRecorder::compare(std::uint64_t n, const FrameRead& r)
{
    plan_.BuildFrame(n, frame_.data());
    if (SameRecordedFrame(frame_.data(), r.bytes.data())) {
        ++verification_.frames;
    } else if (plan_.ProgramAt(n)) {
        verification_.mismatched.add(n - kLeadInFrames, n - kLeadInFrames);
    } else {
        ++verification_.leadMismatched;
    }
    progress_.mismatches = verification_.mismatched.count + verification_.leadMismatched;
}

bool TapeRecorder::VerifyStep()
{
    const std::uint64_t total = plan_.FrameCount();
    if (verification_.finished || next_ >= total || !verification_.message.empty())
        return false;
    if (verifyStopAsked_) {
        verification_.message = "stopped at " + plan_.PlaceText(next_) + " before the end of the recording.";
        return false;
    }
    const FrameRead r = ReadNextFrame();
    const bool byLeadOut = r.status == FrameStatus::EndOfTape && r.outcome.completed;
    if (r.Delivered() || byLeadOut || r.status == FrameStatus::Unsupported) {
        // After frames lost, the frame's own absolute time says where the tape stands.
        std::uint64_t at = next_ + r.missingBefore;
        if (lostBefore_ || r.missingBefore > 0) {
            if (r.frame.absoluteTime) {
                if (const std::optional<std::uint32_t> i = dat::IndexOfTimeCode(r.frame.absoluteTime->time))
                    at = std::max<std::uint64_t>(next_, *i + kLeadInFrames);
            } else if (byLeadOut) {
                at = std::max(next_, plan_.LeadOutStart());
            }
        }
        lostBefore_ = false;
        at = std::min(at, total - 1);
        lose(next_, at);
        compare(at, r);
        next_ = at + 1;
        if (plan_.ProgramAt(at))
            progress_.absolute = plan_.AbsoluteTimeAt(at);
        progress_.place = plan_.ProgramAt(at)
                              ? "program " + std::to_string(plan_.Programs()[*plan_.ProgramAt(at)].number)
                          : at < kLeadInFrames ? "lead-in"
                                               : "lead-out";
    } else if (r.status == FrameStatus::Unreadable || (r.status == FrameStatus::Audio && r.repeat)) {
        lostBefore_ = lostBefore_ || r.status == FrameStatus::Unreadable;
    } else {
        // The end of the recorded area before the end of what was written, or the pass ends.
        lose(next_, total);
        next_ = total;
        verification_.message = r.status == FrameStatus::EndOfTape
                                    ? "the recorded area ended before the last frame written."
                                    : (r.message.empty() ? "reading stopped early." : r.message);
    }
    progress_.frames = next_;
    progress_.bytes = next_ * dat::kFrameBytes;
    progress_.audioSeconds = static_cast<double>(next_) * 0.03;
    if (next_ >= total) {
        verification_.finished = true;
        return false;
    }
    return true;
}
