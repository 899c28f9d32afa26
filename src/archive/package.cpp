#include "archive/package.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>

#include "archive/error_map.h"
#include "archive/report.h"
#include "dat/frame.h"
#include "dat/nonlinear.h"
#include "platform/io/sha256.h"

namespace archive {

namespace {

constexpr const char* kTapeDat = "data/tape.dat";
constexpr std::array<std::uint8_t, dat::kFrameBytes> kZeros{};
// Frames between checkpoints: about 5 s of standard play.
constexpr std::size_t kCheckpointFrames = 160;
// Present while a checkpoint puts its files in place (a staged file, so removed as leftovers are).
constexpr const char* kCommitMarker = ".part-commit";
constexpr const char* kInterrupted =
    "Interrupted: the run writing this package ended before it finished; --resume continues it.";

std::string ErrnoText() { return std::strerror(errno); }

// What a WAV file is made from: equal for two plans, equal files. Frames change in place only
// when read again, which changes their state, so the states stand for the bytes.
std::string MadeOf(const PlannedFile& f, const BextCommon& c, const std::vector<FrameRecord>& records)
{
    std::ostringstream s;
    s << f.name << '|' << f.program << '|' << f.sampleRate << '|' << f.format.rate << '/' << f.format.channels << '/'
      << f.format.audioBytes << '/' << f.format.sampleFrames << '|' << static_cast<int>(f.layout) << '|' << f.emphasis
      << '|' << f.firstAbsolute << '|' << f.lastAbsolute << '|' << f.timeReference << '|' << f.date << '|'
      << c.codingSource << '|' << c.label << '|' << c.id << '|' << c.origin << '|';
    for (const CuePoint& q : f.cues)
        s << q.sample << ':' << q.index << ',';
    s << '|';
    // Runs of consecutive positions keep this short.
    for (std::size_t i = 0; i < f.frames.size();) {
        std::size_t j = i + 1;
        while (j < f.frames.size() && f.frames[j] == f.frames[j - 1] + 1)
            ++j;
        s << f.frames[i] << '+' << (j - i) << ',';
        i = j;
    }
    s << '|';
    for (const std::size_t position : f.frames)
        if (records[position].state != FrameState::Clean)
            s << position << '=' << static_cast<int>(records[position].state) << ',';
    return s.str();
}

// Placeholders carry no time: they stand in order between their neighbours.
void TimePlaceholders(std::vector<FrameRecord>& records)
{
    for (std::size_t i = 1; i < records.size(); ++i)
        if (!records[i].readable() && records[i - 1].absolute >= 0)
            records[i].absolute = records[i - 1].absolute + 1;
    for (std::size_t i = records.size(); i-- > 1;)
        if (!records[i - 1].readable() && records[i - 1].absolute < 0 && records[i].absolute > 0)
            records[i - 1].absolute = records[i].absolute - 1;
}

}  // namespace

Package::Package(std::string dir)
    : dir_(std::move(dir)), started_(QDateTime::currentDateTimeUtc()), runStarted_(started_)
{
}

Package::Package(Package&&) noexcept = default;
Package& Package::operator=(Package&&) noexcept = default;
Package::~Package() = default;

::Result<Package> Package::Open(const std::string& dir, bool existing, bool readOnly)
{
    Package p(dir);
    p.readOnly_ = readOnly;
    if (readOnly) {
        p.tape_.reset(::open((dir + "/" + kTapeDat).c_str(), O_RDONLY | O_CLOEXEC));
        if (!p.tape_)
            return ::Result<Package>::Error(dir + "/" + kTapeDat + " cannot be opened: " + ErrnoText());
        return p;
    }
    if (!QDir().mkpath(QString::fromStdString(dir + "/data")))
        return ::Result<Package>::Error("The folder " + dir + "/data cannot be created.");
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (existing ? 0 : O_EXCL);
    p.tape_.reset(::open((dir + "/" + kTapeDat).c_str(), flags, 0644));
    if (!p.tape_)
        return ::Result<Package>::Error(std::string(kTapeDat) + " cannot be created: " + ErrnoText());
    return p;
}

::Result<Package> Package::Create(const std::string& dir)
{
    ::Result<Package> p = Open(dir, false);
    if (!p)
        return p;
    // A valid bag from the start, so that a run killed before its first frame leaves one.
    if (Status s = p->Checkpoint(); !s)
        return s;
    return p;
}

::Result<Package> Package::OpenReadOnly(const std::string& dir) { return Load(dir, true); }

::Result<Package> Package::Load(const std::string& dir) { return Load(dir, false); }

::Result<Package> Package::Load(const std::string& dir, bool readOnly)
{
    ::Result<Package> p = Open(dir, true, readOnly);
    if (!p)
        return p;
    nlohmann::json report;
    try {
        report = nlohmann::json::parse(ReadText(dir + "/data/report.json"));
    } catch (const std::exception&) {
        if (!readOnly)
            return ::Result<Package>::Error("data/report.json of the package cannot be read; it cannot be resumed.");
        report = nlohmann::json::object();
    }
    // A report of another shape (hand-edited, damaged) must not end the program: a value of
    // the wrong type is taken as a report that cannot be read.
    if (!report.is_object()) {
        if (!readOnly)
            return ::Result<Package>::Error("data/report.json of the package cannot be read; it cannot be resumed.");
        report = nlohmann::json::object();
    }
    try {
        p->TakeReport(report);
    } catch (const nlohmann::json::exception&) {
        if (!readOnly)
            return ::Result<Package>::Error("data/report.json of the package cannot be read; it cannot be resumed.");
        p->started_ = p->runStarted_;
        p->stoppedIn_.clear();
        p->runs_.clear();
        p->label_.clear();
        p->id_.clear();
        report = nlohmann::json::object();
    }
    if (Status s = p->LoadFrames(); !s)
        return s;
    bool midCheckpoint = false;
    if (!readOnly) {
        midCheckpoint = QFileInfo::exists(QString::fromStdString(dir + "/" + kCommitMarker));
        RemoveLeftoverFiles(dir);
        p->LoadWavEntries();
    }
    std::vector<FrameRecord>& records = p->records_;
    const nlohmann::json* recovered = nullptr;
    if (const auto errors = report.find("errors"); errors != report.end() && errors->is_object())
        if (const auto list = errors->find("recovered_on_reread"); list != errors->end() && list->is_array())
            recovered = &*list;
    for (const auto& e : recovered ? *recovered : nlohmann::json::array()) {
        // Only a whole number names a frame; anything else is no frame of this package.
        const auto frame = e.is_object() ? e.find("frame") : e.end();
        if (!e.is_object() || frame == e.end() || !frame->is_number_unsigned())
            continue;
        const std::uint64_t at = frame->get<std::uint64_t>();
        if (at < records.size() && records[at].state == FrameState::Clean) {
            const auto reads = e.find("failed_reads");
            std::uint64_t failed = 1;
            if (reads != e.end() && reads->is_number_unsigned())
                failed = std::clamp<std::uint64_t>(reads->get<std::uint64_t>(), 1, 0xFFFF);
            records[at].state = FrameState::Recovered;
            records[at].failedReads = static_cast<std::uint16_t>(failed);
        }
    }
    // Frames the retry pass of an earlier run read clean.
    if (report.contains("retry_pass") && report["retry_pass"].is_object() &&
        report["retry_pass"].contains("recovered") && report["retry_pass"]["recovered"].is_array()) {
        for (const auto& e : report["retry_pass"]["recovered"]) {
            if (!e.is_object() || !e.contains("frame") || !e["frame"].is_number_unsigned())
                continue;
            const std::size_t at = e["frame"].get<std::size_t>();
            if (at < records.size() && records[at].state == FrameState::Clean) {
                records[at].state = FrameState::Recovered;
                p->recovered_.emplace_back(at, e.value("was", std::string()) == "concealed" ? FrameState::Concealed
                                                                                            : FrameState::Unreadable);
            }
        }
    }
    for (const FrameRecord& r : records)
        p->Count(r, 1);
    for (const FrameRecord& r : records)
        if (r.readable())
            (void)p->ProgramEnds(r);
    // A run killed while a checkpoint put its files in place: the bag is made whole first.
    if (midCheckpoint) {
        p->checkpointRun_.stoppedIn = p->stoppedIn_;
        p->checkpointRun_.label = p->label_;
        p->checkpointRun_.id = p->id_;
        p->checkpointRun_.skips = p->skips_;
        if (Status s = p->Checkpoint(); !s)
            return s;
    }
    return p;
}

// The WAV files the last checkpoint listed stay listed, as they are, until made again.
void Package::LoadWavEntries()
{
    std::istringstream manifest(ReadText(dir_ + "/manifest-sha256.txt"));
    for (std::string line; std::getline(manifest, line);) {
        if (line.size() < 67 || line.compare(64, 2, "  ") != 0)
            continue;
        const std::string path = line.substr(66);
        if (path.rfind("data/", 0) != 0 || path.size() < 9 || path.compare(path.size() - 4, 4, ".wav") != 0)
            continue;
        const ::Result<std::uint64_t> size = FileSize(dir_ + "/" + path);
        if (!size)
            continue;
        wavs_[path.substr(5)] = {"", {path, *size, line.substr(0, 64)}};
    }
}

// What an earlier run's report says of the runs and the cassette; throws on a value of the
// wrong type.
void Package::TakeReport(const nlohmann::json& report)
{
    const QDateTime began = QDateTime::fromString(QString::fromStdString(report.value("started", "")), Qt::ISODate);
    if (began.isValid())
        started_ = began;
    stoppedIn_ = report.value("stopped_in", std::string());
    if (report.contains("runs") && report["runs"].is_array()) {
        for (const auto& r : report["runs"])
            if (r.is_object())
                runs_.push_back({r.value("start", std::string()), r.value("end", std::string()),
                                 r.contains("frames_read") && r["frames_read"].is_number_integer()
                                     ? r["frames_read"].get<std::int64_t>()
                                     : -1,
                                 r.value("read_speed", 0.0)});
    } else if (began.isValid()) {
        // A report of before runs were listed: its one span stands for the runs so far.
        runs_.push_back({report.value("started", std::string()), report.value("finished", std::string()), -1,
                         report.value("read_speed", 0.0)});
    }
    const auto wholeOrNone = [](const nlohmann::json& o, const char* key) -> std::int64_t {
        return o.contains(key) && o[key].is_number_integer() ? o[key].get<std::int64_t>() : -1;
    };
    if (report.contains("errors") && report["errors"].is_object() && report["errors"].contains("skipped") &&
        report["errors"]["skipped"].is_array()) {
        for (const auto& k : report["errors"]["skipped"]) {
            // Only stretches that say where they are in frames can be taken up again.
            if (!k.is_object() || wholeOrNone(k, "first_index") < 0)
                continue;
            const std::int64_t reads = wholeOrNone(k, "failed_reads"), locates = wholeOrNone(k, "locates");
            skips_.push_back({wholeOrNone(k, "first_index"), std::max<std::int64_t>(wholeOrNone(k, "last_index"), -1),
                              static_cast<std::uint64_t>(std::max<std::int64_t>(reads, 0)),
                              static_cast<unsigned>(std::clamp<std::int64_t>(locates, 0, 1 << 20))});
        }
    }
    if (report.contains("cassette") && report["cassette"].is_object()) {
        // They go into bag-info lines and the bext as given: what --label and --id would
        // refuse (a line break would add a bag-info line of its own) is dropped.
        const std::string label = report["cassette"].value("label", std::string());
        const std::string id = report["cassette"].value("id", std::string());
        label_ = CheckCassetteText(label, false).empty() ? label : std::string();
        id_ = CheckCassetteText(id, true).empty() ? id : std::string();
    }
}

// The frames of tape.dat taken up again as if just read.
Status Package::LoadFrames()
{
    struct stat st {};
    if (::fstat(tape_.get(), &st) != 0)
        return Status::Error(std::string(kTapeDat) + ": " + ErrnoText());
    const auto frames = static_cast<std::size_t>(st.st_size) / dat::kFrameBytes;
    // A source that is only read keeps such a frame; its hash is then taken from the file.
    ragged_ = readOnly_ && static_cast<std::size_t>(st.st_size) != frames * dat::kFrameBytes;
    // A frame cut short by the end of the last run is read again.
    if (!readOnly_ && (::ftruncate(tape_.get(), static_cast<off_t>(frames * dat::kFrameBytes)) != 0 ||
                       ::lseek(tape_.get(), 0, SEEK_END) < 0))
        return Status::Error(std::string(kTapeDat) + ": " + ErrnoText());
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    records_.reserve(frames);
    flushed_ = frames;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto offset = static_cast<off_t>(i * dat::kFrameBytes);
        if (::pread(tape_.get(), frame.data(), dat::kFrameBytes, offset) != static_cast<ssize_t>(dat::kFrameBytes))
            return Status::Error(std::string(kTapeDat) + " cannot be read: " + ErrnoText());
        hash_.Add(frame.data(), frame.size());
        FrameRecord r;
        if (IsPlaceholder(frame.data()))
            r.state = FrameState::Unreadable;
        else
            r = RecordOf(dat::Decode(dat::FrameBytes(frame.data(), dat::kFrameBytes)));
        records_.push_back(r);
    }
    TimePlaceholders(records_);
    return Status::Ok();
}

void Package::Count(const FrameRecord& record, int delta)
{
    if (record.state == FrameState::Unreadable)
        unreadable_ += static_cast<std::uint64_t>(static_cast<std::int64_t>(delta));
    else if (record.state == FrameState::Concealed)
        concealed_ += static_cast<std::uint64_t>(static_cast<std::int64_t>(delta));
}

void Package::Recount()
{
    unreadable_ = concealed_ = 0;
    for (const FrameRecord& r : records_)
        Count(r, 1);
}

// True when `record` (a readable one) begins another program than the last readable frame's:
// the end of that program, whose WAV file can then be written.
bool Package::ProgramEnds(const FrameRecord& record)
{
    const int program = record.kind == dat::ProgramNumber::Kind::Number ? record.program
                        : record.leadInOrOut()                          ? -2
                                                                        : -3;
    const bool ends = lastProgram_ >= 0 && program != lastProgram_;
    lastProgram_ = program;
    return ends;
}

void Package::SetPhase(const std::string& stoppedIn) { checkpointRun_.stoppedIn = stoppedIn; }

Status Package::Append(const std::uint8_t* frame, const FrameRecord& record)
{
    unflushed_.insert(unflushed_.end(), frame, frame + dat::kFrameBytes);
    hash_.Add(frame, dat::kFrameBytes);
    records_.push_back(record);
    Count(record, 1);
    const bool ends = record.readable() && ProgramEnds(record);
    if (++sinceCheckpoint_ >= kCheckpointFrames || ends || records_.size() == 1)
        return Checkpoint();
    return Status::Ok();
}

Status Package::AppendLost(std::uint32_t count, std::int64_t firstAbsolute, unsigned step)
{
    for (std::uint32_t k = 0; k < count; ++k) {
        FrameRecord lost;
        lost.state = FrameState::Unreadable;
        lost.absolute = firstAbsolute >= 0 ? static_cast<std::int32_t>(firstAbsolute + std::int64_t{k} * step) : -1;
        if (Status s = Append(kZeros.data(), lost); !s)
            return s;
    }
    return Status::Ok();
}

Status Package::Patch(std::size_t position, const std::uint8_t* frame, const FrameRecord& record)
{
    if (position >= records_.size())
        return Status::Error(std::string(kTapeDat) + " has no frame " + std::to_string(position) + ".");
    if (position >= flushed_)
        std::memcpy(unflushed_.data() + (position - flushed_) * dat::kFrameBytes, frame, dat::kFrameBytes);
    else
        patches_[position].assign(frame, frame + dat::kFrameBytes);
    rehash_ = true;
    recovered_.emplace_back(position, records_[position].state);
    Count(records_[position], -1);
    records_[position] = record;
    Count(record, 1);
    return Status::Ok();
}

Status Package::Restart()
{
    records_.clear();
    recovered_.clear();
    unflushed_.clear();
    patches_.clear();
    hash_.Reset();
    rehash_ = false;
    flushed_ = 0;
    lastProgram_ = -1;
    unreadable_ = concealed_ = 0;
    if (::ftruncate(tape_.get(), 0) != 0 || ::lseek(tape_.get(), 0, SEEK_SET) < 0)
        return Status::Error(std::string(kTapeDat) + " could not be emptied: " + ErrnoText() + ".");
    return Checkpoint();
}

Status Package::ReadFrame(std::size_t position, std::uint8_t* out, std::size_t bytes) const
{
    bytes = std::min(bytes, dat::kFrameBytes);
    if (position >= flushed_ && position < records_.size()) {
        std::memcpy(out, unflushed_.data() + (position - flushed_) * dat::kFrameBytes, bytes);
        return Status::Ok();
    }
    if (const auto it = patches_.find(position); it != patches_.end()) {
        std::memcpy(out, it->second.data(), bytes);
        return Status::Ok();
    }
    const off_t offset = static_cast<off_t>(position * dat::kFrameBytes);
    for (std::size_t done = 0; done < bytes;) {
        const ssize_t n = ::pread(tape_.get(), out + done, bytes - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Status::Error(dir_ + "/" + kTapeDat + " cannot be read at frame " + std::to_string(position) + ": " +
                                 (n < 0 ? ErrnoText() : std::string("the file ends")));
        done += static_cast<std::size_t>(n);
    }
    return Status::Ok();
}

::Result<std::string> Package::TapeSha256()
{
    if (!rehash_ && !ragged_ && unflushed_.empty())
        return hash_.Hex();
    return HashFile(dir_ + "/" + kTapeDat);
}

// The running hash taken again over every frame as the next checkpoint leaves tape.dat.
Status Package::RebuildHash()
{
    hash_.Reset();
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (Status s = ReadFrame(i, frame.data()); !s)
            return s;
        hash_.Add(frame.data(), frame.size());
    }
    rehash_ = false;
    return Status::Ok();
}

// tape.dat as the manifest gives it once the frames kept are written.
::Result<WrittenFile> Package::TapeDatFile()
{
    WrittenFile tape;
    tape.path = kTapeDat;
    tape.bytes = records_.size() * dat::kFrameBytes;
    if (rehash_)
        if (Status s = RebuildHash(); !s)
            return s;
    if (!ragged_) {
        tape.sha256 = hash_.Hex();
        return tape;
    }
    // Part of a frame that could not be cut off: the file as it is, with no frames to add.
    if (!unflushed_.empty() || !patches_.empty())
        return ::Result<WrittenFile>::Error(std::string(kTapeDat) + " ends in part of a frame; nothing more is added.");
    ::Result<std::string> digest = HashFile(dir_ + "/" + kTapeDat);
    if (!digest)
        return digest.status();
    tape.sha256 = *digest;
    const ::Result<std::uint64_t> size = sizeOf_ ? sizeOf_(dir_ + "/" + kTapeDat) : FileSize(dir_ + "/" + kTapeDat);
    if (!size)
        return ::Result<WrittenFile>::Error(std::string(kTapeDat) + ": its size cannot be read: " + size.error());
    tape.bytes = *size;
    return tape;
}

// Writes the frames kept since the last checkpoint and those read again into tape.dat (synced
// once the files that list them are in place). On a failure tape.dat is cut back to what the
// last checkpoint left.
Status Package::Flush()
{
    auto fail = [&](const std::string& what) {
        std::string reason = "Writing " + std::string(kTapeDat) + " failed: " + what + SpaceLeftText(dir_) + ".";
        const off_t whole = static_cast<off_t>(flushed_ * dat::kFrameBytes);
        if (::ftruncate(tape_.get(), whole) != 0 || ::lseek(tape_.get(), 0, SEEK_END) < 0) {
            reason += " What of the frames reached it could not be cut off: " + ErrnoText() + ".";
            ragged_ = true;
        }
        return Status::Error(reason);
    };
    const std::uint8_t* p = unflushed_.data();
    std::size_t left = unflushed_.size();
    auto offset = static_cast<off_t>(flushed_ * dat::kFrameBytes);
    while (left > 0) {
        const ssize_t n = ::pwrite(tape_.get(), p, left, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(n < 0 ? ErrnoText() : std::string("nothing written"));
        p += n;
        offset += n;
        left -= static_cast<std::size_t>(n);
    }
    for (const auto& [position, frame] : patches_)
        if (::pwrite(tape_.get(), frame.data(), frame.size(), static_cast<off_t>(position * dat::kFrameBytes)) !=
            static_cast<ssize_t>(frame.size()))
            return fail(ErrnoText());
    if (::lseek(tape_.get(), 0, SEEK_END) < 0)
        return fail(ErrnoText());
    flushed_ = records_.size();
    unflushed_.clear();
    patches_.clear();
    return Status::Ok();
}

// After a checkpoint that failed: the package is as the last one left it.
void Package::DropUnflushed()
{
    if (!unflushed_.empty() || !patches_.empty())
        rehash_ = true;
    records_.resize(flushed_);
    unflushed_.clear();
    // Frames read again but not written: back to what tape.dat holds.
    std::vector<std::size_t> unpatched;
    for (const auto& [position, frame] : patches_)
        unpatched.push_back(position);
    patches_.clear();
    std::erase_if(recovered_, [&](const Recovery& r) {
        return r.first >= flushed_ || std::binary_search(unpatched.begin(), unpatched.end(), r.first);
    });
    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    for (const std::size_t position : unpatched) {
        if (!ReadFrame(position, frame.data()))
            continue;
        FrameRecord r;
        if (IsPlaceholder(frame.data()))
            r.state = FrameState::Unreadable;
        else
            r = RecordOf(dat::Decode(dat::FrameBytes(frame.data(), dat::kFrameBytes)));
        if (r.absolute < 0)
            r.absolute = records_[position].absolute;
        records_[position] = r;
    }
    Recount();
    lastProgram_ = -1;
    for (const FrameRecord& r : records_)
        if (r.readable())
            (void)ProgramEnds(r);
}

// How the 12-bit frames of tape.dat are unpacked: as --lp-layout says, or the smoothest way
// over the first non-silent ones (`a` when none is clearly smoother). None for a tape of
// 16-bit frames.
std::optional<LayoutChoice> Package::ChooseLayout() const
{
    const std::optional<LayoutChoice> set = TapeLayout();
    if (set && set->forced)
        return set;
    dat::LayoutVote vote;
    bool any = false;
    std::array<std::uint8_t, dat::kAudioAreaBytes> area{};
    for (std::size_t i = 0; i < records_.size() && vote.Frames() < kLayoutVoteFrames; ++i) {
        const FrameRecord& r = records_[i];
        const dat::AudioFormat f = r.format();
        if (!r.readable() || !f.NonLinear())
            continue;
        any = true;
        if (!ReadFrame(i, area.data(), f.audioBytes))
            break;
        vote.Add(area.data(), f.channels);
    }
    if (!any)
        return std::nullopt;
    const dat::LayoutVote::Result v = vote.Choice();
    LayoutChoice c;
    c.layout = v.clear ? v.layout : dat::NonLinearLayout::A;
    c.clear = v.clear;
    c.ratio = v.ratio;
    c.frames = v.frames;
    return c;
}

Status Package::Checkpoint()
{
    if (readOnly_)
        return Status::Ok();
    RunFacts run = checkpointRun_;
    run.complete = false;
    run.reason = kInterrupted;
    const Result r = Write(run, false);
    if (r.failures > 0)
        return Status::Error(r.summary.empty() ? r.message : r.summary.back());
    return Status::Ok();
}

Result Package::Finish(const RunFacts& run)
{
    if (readOnly_)
        return {Outcome::Refused, dir_ + " was opened to be read only; it is not written.", {}};
    Result r = Write(run, true);
    RemoveLeftoverFiles(dir_);
    return r;
}

// Brings every file of the package up to the frames kept: WAV files (at a checkpoint those of
// the programs that have ended, else all), the subcode log, the reports and the bag files are
// written under temporary names first; then the frames go into tape.dat and the files are
// renamed into place, so that the bag holds at any moment but the few between.
Result Package::Write(const RunFacts& run, bool final)
{
    std::vector<std::string> failures;
    std::vector<StagedFile> staged;
    std::vector<WrittenFile> payload;
    auto fail = [&](const Status& s) -> Result {
        DiscardFiles(staged);
        DropUnflushed();
        Result r;
        r.outcome = Outcome::Incomplete;
        r.message = s.error();
        r.failures = 1;
        r.summary.push_back(s.error());
        return r;
    };
    ::Result<WrittenFile> tape = TapeDatFile();
    if (!tape)
        return fail(tape.status());
    payload.push_back(*tape);

    const unsigned step = TimeStepOf(records_);
    std::vector<PlannedFile> files = PlanFiles(records_, step);
    const std::optional<LayoutChoice> layout = ChooseLayout();
    if (layout)
        for (PlannedFile& f : files)
            f.layout = layout->layout;
    // The layout of 12-bit frames may still change until the vote is over.
    const bool layoutSettled = !layout || layout->forced || layout->frames >= kLayoutVoteFrames;
    bool leadOut = false;
    for (auto it = records_.rbegin(); it != records_.rend() && !leadOut; ++it)
        leadOut = it->kind == dat::ProgramNumber::Kind::LeadOut;

    BextCommon common;
    if (run.merge.merged())
        common.origin = "Vantrel merge of " + std::to_string(run.merge.sources.size()) + " reads";
    const DriveIdentity& drive = run.drive;
    common.codingSource = "DAT drive" + (drive.vendor.empty() && drive.product.empty()
                                             ? std::string()
                                             : " " + drive.vendor + " " + drive.product + " " + drive.revision);
    common.label = run.label;
    common.id = run.id;
    const FrameSource read = [this](std::size_t position, std::uint8_t* out, std::size_t bytes) {
        return ReadFrame(position, out, bytes);
    };
    std::map<std::string, WavOnDisk> wavs;  // what the payload lists after this write
    std::size_t wavsWritten = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const PlannedFile& f = files[i];
        const auto old = wavs_.find(f.name);
        const bool ended = final || ((i + 1 < files.size() || leadOut) && (layoutSettled || !f.format.NonLinear()));
        const std::string made = MadeOf(f, common, records_);
        if (old != wavs_.end() && !old->second.made.empty() && old->second.made == made) {
            wavs.emplace(f.name, old->second);
            ++wavsWritten;
            continue;
        }
        if (ended) {
            ::Result<StagedFile> w = StageWav(dir_, f, records_, read, common, sizeOf_);
            if (w) {
                wavs[f.name] = {made, w->file};
                staged.push_back(std::move(*w));
                ++wavsWritten;
                continue;
            }
            failures.push_back(w.error());
            if (!final)
                return fail(Status::Error(w.error()));
        }
        if (old != wavs_.end())
            wavs.emplace(f.name, old->second);  // as an earlier run left it, still on disk
    }
    // Files no longer planned (an earlier run's): gone once the final manifest leaves them out.
    std::vector<std::string> stale;
    for (const auto& [name, w] : wavs_) {
        if (wavs.count(name))
            continue;
        if (final)
            stale.push_back(w.file.path);
        else
            wavs.emplace(name, w);
    }
    for (const auto& [name, w] : wavs)
        payload.push_back(w.file);

    std::string csv = SubcodeLog::Header();
    for (std::size_t i = 0; i < records_.size(); ++i)
        csv += SubcodeLog::RowFor(records_, i, step);
    ReportFacts facts{records_, recovered_, run, run.complete, run.reason, started_, {}, runs_};
    // A package that could not be written whole says so where a checker looks.
    if (facts.complete && !failures.empty()) {
        facts.complete = false;
        facts.reason = failures.front();
    }
    facts.finished = QDateTime::currentDateTimeUtc();
    Totals t = TotalsOf(records_, files, run);
    facts.runs.push_back({Iso(runStarted_), Iso(facts.finished), static_cast<std::int64_t>(run.framesRead),
                          std::round(t.speed * 10) / 10});
    t.layout = layout;
    t.timeStep = step;
    const nlohmann::json j = ReportJson(facts, t, files);
    for (const auto& [path, text] : {std::pair<const char*, std::string>{"data/subcode.csv", csv},
                                     {"data/report.json", j.dump(2) + "\n"},
                                     {"data/report.txt", ReportText(facts, t, j)},
                                     {"data/error-map.svg", MapSvg(MapShapes(records_), records_.size())}}) {
        ::Result<StagedFile> w = StageText(dir_, path, text);
        if (!w)
            return fail(w.status());
        payload.push_back(w->file);
        staged.push_back(std::move(*w));
    }
    if (Status s = StageBag(dir_, facts, t, payload, staged); !s)
        return fail(s);
    // From here to the last rename the files on disk disagree; the marker says so to the next
    // run, which then writes a checkpoint before anything else. The folders are synced after
    // the marker is gone, so that a kill finds the files disagreeing only for the few
    // microseconds of the frames' write and the renames.
    const std::string marker = dir_ + "/" + kCommitMarker;
    ::close(::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (Status s = Flush(); !s) {
        std::remove(marker.c_str());
        return fail(s);
    }
    Status committed = CommitFiles(dir_, staged, [&] {
        for (const std::string& path : stale)
            std::remove((dir_ + "/" + path).c_str());
        std::remove(marker.c_str());
    });
    if (::fdatasync(tape_.get()) != 0 && errno != EINVAL && committed)
        committed = Status::Error(std::string(kTapeDat) + " could not be synced: " + ErrnoText() + SpaceLeftText(dir_));
    wavs_ = std::move(wavs);
    sinceCheckpoint_ = 0;
    if (!committed) {
        if (!final)
            return fail(committed);
        failures.push_back(committed.error());
    }
    return Summary(facts, t, wavsWritten, failures);
}

Result Package::Summary(const ReportFacts& f, const Totals& t, std::size_t wavs,
                        const std::vector<std::string>& failures) const
{
    Result result;
    result.failures = failures.size();
    if (!f.complete || !failures.empty()) {
        result.outcome = Outcome::Incomplete;
        result.message = f.complete ? failures.front() : f.reason;
    } else {
        result.outcome = t.unreadable == 0 && t.concealed == 0 ? Outcome::Clean : Outcome::WithErrors;
    }
    result.summary.push_back("Archived " + std::to_string(records_.size()) + " frames (" + std::to_string(wavs) +
                             " WAV files) into " + dir_ + ": " +
                             (f.complete ? std::string("complete")
                                         : "incomplete (" + f.reason + " Last absolute time " +
                                               IndexText(t.lastAbsolute) + ")") +
                             ".");
    std::istringstream lines(ErrorLines(records_, t) + SkipLines(f.run));
    for (std::string l; std::getline(lines, l);)
        result.summary.push_back(l);
    if (f.complete && f.run.retries > 0)
        result.summary.push_back("Retry pass: " + std::to_string(f.run.retryPlaces) + " places read again, " +
                                 std::to_string(recovered_.size()) + " frames recovered.");
    for (std::size_t k = 1; k < failures.size(); ++k)
        result.summary.push_back(failures[k]);
    return result;
}

}  // namespace archive
