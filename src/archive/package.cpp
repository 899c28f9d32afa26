#include "archive/package.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>

#include "archive/error_map.h"
#include "archive/report.h"
#include "dat/frame.h"
#include "dat/nonlinear.h"

namespace archive {

namespace {

constexpr const char* kTapeDat = "data/tape.dat";
constexpr std::array<std::uint8_t, dat::kFrameBytes> kZeros{};

std::string ErrnoText() { return std::strerror(errno); }

QByteArrayView FrameView(const std::uint8_t* frame)
{
    return {reinterpret_cast<const char*>(frame), dat::kFrameBytes};
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
    : dir_(std::move(dir)), hash_(std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256)),
      started_(QDateTime::currentDateTimeUtc()), runStarted_(started_)
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

::Result<Package> Package::Create(const std::string& dir) { return Open(dir, false); }

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
    const QDateTime began = QDateTime::fromString(QString::fromStdString(report.value("started", "")), Qt::ISODate);
    if (began.isValid())
        p->started_ = began;
    p->stoppedIn_ = report.value("stopped_in", std::string());
    if (report.contains("runs") && report["runs"].is_array()) {
        for (const auto& r : report["runs"])
            if (r.is_object())
                p->runs_.push_back({r.value("start", std::string()), r.value("end", std::string()),
                                    r.contains("frames_read") && r["frames_read"].is_number_integer()
                                        ? r["frames_read"].get<std::int64_t>()
                                        : -1,
                                    r.value("read_speed", 0.0)});
    } else if (began.isValid()) {
        // A report of before runs were listed: its one span stands for the runs so far.
        p->runs_.push_back({report.value("started", std::string()), report.value("finished", std::string()), -1,
                            report.value("read_speed", 0.0)});
    }
    if (report.contains("cassette") && report["cassette"].is_object()) {
        p->label_ = report["cassette"].value("label", std::string());
        p->id_ = report["cassette"].value("id", std::string());
    }
    if (Status s = p->LoadFrames(); !s)
        return s;
    std::vector<FrameRecord>& records = p->records_;
    if (report.contains("errors") && report["errors"].contains("recovered_on_reread")) {
        for (const auto& e : report["errors"]["recovered_on_reread"]) {
            const std::size_t at = e.value("frame", std::size_t{0});
            if (at < records.size() && records[at].state == FrameState::Clean) {
                records[at].state = FrameState::Recovered;
                records[at].failedReads = static_cast<std::uint16_t>(e.value("failed_reads", 1));
            }
        }
    }
    for (const FrameRecord& r : records)
        p->Count(r, 1);
    return p;
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
    for (std::size_t i = 0; i < frames; ++i) {
        const auto offset = static_cast<off_t>(i * dat::kFrameBytes);
        if (::pread(tape_.get(), frame.data(), dat::kFrameBytes, offset) != static_cast<ssize_t>(dat::kFrameBytes))
            return Status::Error(std::string(kTapeDat) + " cannot be read: " + ErrnoText());
        hash_->addData(FrameView(frame.data()));
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

Status Package::Append(const std::uint8_t* frame, const FrameRecord& record)
{
    std::size_t left = dat::kFrameBytes;
    const std::uint8_t* p = frame;
    while (left > 0) {
        const ssize_t n = ::write(tape_.get(), p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string reason = std::string("Writing ") + kTapeDat +
                                 " failed: " + (n < 0 ? ErrnoText() : std::string("nothing written")) + ".";
            // The frame is not kept: cut off what of it reached the file.
            const off_t whole = static_cast<off_t>(records_.size() * dat::kFrameBytes);
            if (::ftruncate(tape_.get(), whole) != 0 || ::lseek(tape_.get(), 0, SEEK_END) < 0) {
                reason += " What of the frame reached it could not be cut off: " + ErrnoText() + ".";
                ragged_ = true;
            }
            return Status::Error(reason);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    hash_->addData(FrameView(frame));
    records_.push_back(record);
    Count(record, 1);
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
    const off_t offset = static_cast<off_t>(position * dat::kFrameBytes);
    if (::pwrite(tape_.get(), frame, dat::kFrameBytes, offset) != static_cast<ssize_t>(dat::kFrameBytes))
        return Status::Error(std::string("Writing ") + kTapeDat + " failed: " + ErrnoText() + ".");
    patched_ = true;
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
    hash_->reset();
    unreadable_ = concealed_ = 0;
    if (::ftruncate(tape_.get(), 0) != 0 || ::lseek(tape_.get(), 0, SEEK_SET) < 0)
        return Status::Error(std::string(kTapeDat) + " could not be emptied: " + ErrnoText() + ".");
    return Status::Ok();
}

Status Package::ReadFrame(std::size_t position, std::uint8_t* out, std::size_t bytes) const
{
    bytes = std::min(bytes, dat::kFrameBytes);
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
    if (!patched_ && !ragged_)
        return hash_->result().toHex().toStdString();
    return HashFile(dir_ + "/" + kTapeDat);
}

// tape.dat as the manifest gives it; its digest from the file where frames changed in place.
WrittenFile Package::TapeDatFile(std::vector<std::string>& failures)
{
    WrittenFile tape;
    tape.path = kTapeDat;
    tape.bytes = records_.size() * dat::kFrameBytes;
    if (::fsync(tape_.get()) != 0 && errno != EINVAL)
        failures.push_back(std::string(kTapeDat) + ": " + ErrnoText());
    if (!patched_ && !ragged_) {
        tape.sha256 = hash_->result().toHex().toStdString();
        return tape;
    }
    if (::Result<std::string> digest = HashFile(dir_ + "/" + kTapeDat))
        tape.sha256 = *digest;
    else
        failures.push_back(digest.error());
    if (ragged_) {
        const ::Result<std::uint64_t> size = sizeOf_ ? sizeOf_(dir_ + "/" + kTapeDat) : FileSize(dir_ + "/" + kTapeDat);
        if (size)
            tape.bytes = *size;
        else
            failures.push_back(std::string(kTapeDat) + ": its size cannot be read: " + size.error());
    }
    return tape;
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
        const off_t offset = static_cast<off_t>(i * dat::kFrameBytes);
        if (::pread(tape_.get(), area.data(), f.audioBytes, offset) != static_cast<ssize_t>(f.audioBytes))
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

// The WAV files, written from tape.dat now that every frame (and every retry) is in.
void Package::WriteWavs(const std::vector<PlannedFile>& files, const RunFacts& run, std::vector<WrittenFile>& payload,
                        std::vector<std::string>& failures)
{
    const DriveIdentity& drive = run.drive;
    BextCommon common;
    if (run.merge.merged())
        common.origin = "Vantrel merge of " + std::to_string(run.merge.sources.size()) + " reads";
    common.codingSource = "DAT drive" + (drive.vendor.empty() && drive.product.empty()
                                             ? std::string()
                                             : " " + drive.vendor + " " + drive.product + " " + drive.revision);
    common.label = run.label;
    common.id = run.id;
    // Those of an earlier run (a resume) are made again from the frames.
    for (const QFileInfo& old : QDir(QString::fromStdString(dir_ + "/data")).entryInfoList({"*.wav"}, QDir::Files))
        QFile::remove(old.filePath());
    for (const PlannedFile& f : files) {
        if (::Result<WrittenFile> w = WriteWav(dir_, f, records_, tape_.get(), common, sizeOf_))
            payload.push_back(*w);
        else
            failures.push_back(w.error());
    }
}

Result Package::Finish(const RunFacts& run)
{
    if (readOnly_)
        return {Outcome::Refused, dir_ + " was opened to be read only; it is not written.", {}};
    std::vector<std::string> failures;
    std::vector<WrittenFile> payload{TapeDatFile(failures)};
    const unsigned step = TimeStepOf(records_);
    std::vector<PlannedFile> files = PlanFiles(records_, step);
    const std::optional<LayoutChoice> layout = ChooseLayout();
    if (layout)
        for (PlannedFile& f : files)
            f.layout = layout->layout;
    WriteWavs(files, run, payload, failures);
    std::string csv = SubcodeLog::Header();
    for (std::size_t i = 0; i < records_.size(); ++i)
        csv += SubcodeLog::RowFor(records_, i, step);
    auto keep = [&](::Result<WrittenFile> w) {
        if (w)
            payload.push_back(*w);
        else
            failures.push_back(w.error());
    };
    keep(WriteTextFile(dir_, "data/subcode.csv", csv));
    keep(WriteErrorMap(dir_, records_));
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
    keep(WriteTextFile(dir_, "data/report.json", j.dump(2) + "\n"));
    keep(WriteTextFile(dir_, "data/report.txt", ReportText(facts, t, j)));
    if (Status s = WriteBag(dir_, facts, t, payload); !s)
        failures.push_back(s.error());
    return Summary(facts, t, files.size(), failures);
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
    std::istringstream lines(ErrorLines(records_, t));
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
