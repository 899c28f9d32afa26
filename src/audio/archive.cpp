#include "audio/archive.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/archive_package.h"
#include "audio/archive_records.h"
#include "audio/frame_reader.h"
#include "dat/time_code.h"
#include "platform/aspi/scsi_codes.h"
#include "tape/positioning.h"
#include "transport/drive_state.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace archive {

namespace {

constexpr std::size_t kFrame = dat::kFrameBytes;
constexpr std::uint32_t kMaxLeadOutFrames = 1000;    // a writer puts about 300
constexpr std::uint32_t kPreRollSeconds = 3;         // locate this far before a place to read it again
constexpr std::int32_t kRetryJoinFrames = 200;       // damaged places closer than this are read in one go
constexpr std::uint32_t kRetryOverrunFrames = 400;   // reads beyond a place before giving up on it
constexpr double kFrameSeconds = 0.03;
constexpr const char* kTapeDat = "data/tape.dat";

bool g_stop = false;

struct Identity {
    std::string vendor, product, firmware;
};

std::string Trimmed(const std::uint8_t* p, std::size_t n)
{
    std::string s(reinterpret_cast<const char*>(p), n);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = ' ';
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Standard INQUIRY: vendor, product and firmware revision; empty when the drive does not say.
Identity Inquire()
{
    std::array<std::uint8_t, 36> data{};
    const std::array<std::uint8_t, 6> cdb{scsi::op::Inquiry, 0, 0, 0, static_cast<std::uint8_t>(data.size()), 0};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, AspiAdapter, AspiTarget, SRB_DIR_IN, cdb, data.data(), static_cast<std::uint32_t>(data.size()));
    SendAndWait(srb, data.data());
    if (LoadStatus(srb) != SS_COMP)
        return {};
    return {Trimmed(&data[8], 8), Trimmed(&data[16], 16), Trimmed(&data[32], 4)};
}

// LOCATE by absolute time (whole seconds: the command has no frame field); true when it ended well.
bool LocateSecond(std::uint32_t second)
{
    const std::array<std::uint8_t, 10> cdb{scsi::op::Locate10,
                                           0x04,
                                           0,
                                           static_cast<std::uint8_t>(kLocateAbsoluteTime << 5),
                                           dat::ToBcd(second / 3600 % 100),
                                           dat::ToBcd(second / 60 % 60),
                                           dat::ToBcd(second % 60),
                                           0,
                                           0,
                                           0};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, AspiAdapter, AspiTarget, 0, cdb, nullptr, 0);
    SendAndWait(srb, nullptr);
    return LoadStatus(srb) == SS_COMP;
}

std::uint32_t SecondOf(std::int64_t index)
{
    const dat::TimeCode t = dat::TimeCodeOfIndex(static_cast<std::uint64_t>(std::max<std::int64_t>(index, 0)));
    return t.h * 3600 + t.m * 60 + t.s;
}

std::int64_t SecondsSince1970(const QDateTime& t)
{
    static const QDateTime epoch(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC);
    return epoch.secsTo(t);
}

std::string Iso(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate).toStdString(); }

std::string DurationText(double seconds)
{
    const auto ms = static_cast<long long>(std::llround(seconds * 1000));
    char out[32];
    std::snprintf(out, sizeof out, "%lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return out;
}

// Consecutive tape.dat positions of frames in a state, with their absolute times.
struct Range {
    std::size_t first = 0, count = 0;
    std::int64_t firstAbsolute = -1, lastAbsolute = -1;
};

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

std::string BagInfoValue(const std::string& text, const std::string& key)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ": ", 0) == 0)
            return line.substr(key.size() + 2);
    return {};
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Totals {
    std::uint64_t audioFrames = 0, unreadable = 0, concealed = 0;
    std::int64_t firstAbsolute = -1, lastAbsolute = -1;
    std::uint32_t rate = 0;
    bool emphasis = false;
    std::vector<std::size_t> reread;  // positions of frames read after failed tries
    std::vector<Range> unreadableRanges, concealedRanges;
    std::set<unsigned> programs;
    double speed = 0;  // of the main pass, as a multiple of real time
};

class Session {
public:
    Session(const Options& o, const std::function<void(const Progress&)>& progress)
        : o_(o), progress_(progress), hash_(QCryptographicHash::Sha256)
    {
    }
    ~Session()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    Result run();

private:
    std::string path(const std::string& rel) const { return o_.dir + "/" + rel; }
    bool openPackage(std::string& error);
    bool loadPrevious(std::string& error);
    void acquire();
    void readLeadOut(const FrameRead& first);
    bool append(const std::uint8_t* frame, const FrameRecord& record);
    bool appendLost(std::uint32_t count, std::int64_t firstAbsolute);
    void retryPass();
    Result finish();
    Totals totals(const std::vector<PlannedFile>& files) const;
    void writeWavs(const std::vector<PlannedFile>& files, std::vector<WrittenFile>& payload,
                   std::vector<std::string>& failures);
    nlohmann::json reportJson(const Totals& t, const std::vector<PlannedFile>& files) const;
    std::string reportText(const Totals& t, const nlohmann::json& j) const;
    std::string errorLines(const Totals& t) const;
    std::string bagInfo(const Totals& t, std::uint64_t octets, std::size_t streams) const;
    void writeBag(const Totals& t, std::vector<WrittenFile> payload, std::vector<std::string>& failures);
    void report(const char* phase, bool force = false);

    Options o_;
    std::function<void(const Progress&)> progress_;
    int fd_ = -1;
    QCryptographicHash hash_;
    bool tapePatched_ = false;
    std::vector<FrameRecord> records_;
    Identity drive_;
    QDateTime started_, finished_;
    bool complete_ = false;
    std::string reason_;
    std::uint64_t readFrames_ = 0;  // frames read from the drive in this run's main pass
    qint64 readMs_ = 0;
    QElapsedTimer clock_;
    std::uint64_t calls_ = 0;
    std::uint64_t unreadable_ = 0, concealed_ = 0;  // for the progress line
    // The retry pass.
    unsigned retryRounds_ = 0;
    std::size_t retryPlaces_ = 0;
    std::vector<std::pair<std::size_t, FrameState>> recovered_;  // position, what it was
    std::vector<std::string> retryNotes_;
    std::vector<std::uint8_t> zeros_ = std::vector<std::uint8_t>(kFrame, 0);
};

bool Session::openPackage(std::string& error)
{
    if (!QDir().mkpath(QString::fromStdString(path("data")))) {
        error = "The folder " + o_.dir + "/data cannot be created.";
        return false;
    }
    const int flags = O_RDWR | O_CREAT | O_CLOEXEC | (o_.resume ? 0 : O_EXCL);
    fd_ = ::open(path(kTapeDat).c_str(), flags, 0644);
    if (fd_ < 0) {
        error = std::string(kTapeDat) + " cannot be created: " + std::strerror(errno);
        return false;
    }
    return true;
}

// A resumed package: the frames it holds are taken up again as if just read.
bool Session::loadPrevious(std::string& error)
{
    nlohmann::json report;
    try {
        report = nlohmann::json::parse(ReadText(path("data/report.json")));
    } catch (const std::exception&) {
        error = "data/report.json of the package cannot be read; it cannot be resumed.";
        return false;
    }
    const QDateTime began = QDateTime::fromString(QString::fromStdString(report.value("started", "")), Qt::ISODate);
    if (began.isValid())
        started_ = began;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error = std::string(kTapeDat) + ": " + std::strerror(errno);
        return false;
    }
    const auto frames = static_cast<std::size_t>(st.st_size) / kFrame;
    // A frame cut short by the end of the last run is read again.
    if (::ftruncate(fd_, static_cast<off_t>(frames * kFrame)) != 0 || ::lseek(fd_, 0, SEEK_END) < 0) {
        error = std::string(kTapeDat) + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::uint8_t> frame(kFrame);
    records_.reserve(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        if (::pread(fd_, frame.data(), kFrame, static_cast<off_t>(i * kFrame)) != static_cast<ssize_t>(kFrame)) {
            error = std::string(kTapeDat) + " cannot be read: " + std::strerror(errno);
            return false;
        }
        hash_.addData(QByteArrayView(reinterpret_cast<const char*>(frame.data()), kFrame));
        FrameRecord r;
        if (IsPlaceholder(frame.data()))
            r.state = FrameState::Unreadable;
        else
            r = RecordOf(dat::Decode(dat::FrameBytes(frame.data(), kFrame)));
        records_.push_back(r);
    }
    // Placeholders carry no time: they stand in order between their neighbours.
    for (std::size_t i = 1; i < records_.size(); ++i)
        if (!records_[i].readable() && records_[i - 1].absolute >= 0)
            records_[i].absolute = records_[i - 1].absolute + 1;
    for (std::size_t i = records_.size(); i-- > 1;)
        if (!records_[i - 1].readable() && records_[i - 1].absolute < 0 && records_[i].absolute > 0)
            records_[i - 1].absolute = records_[i].absolute - 1;
    if (report.contains("errors") && report["errors"].contains("recovered_on_reread")) {
        for (const auto& e : report["errors"]["recovered_on_reread"]) {
            const std::size_t at = e.value("frame", std::size_t{0});
            if (at < records_.size() && records_[at].state == FrameState::Clean) {
                records_[at].state = FrameState::Recovered;
                records_[at].failedReads = static_cast<std::uint16_t>(e.value("failed_reads", 1));
            }
        }
    }
    return true;
}

void Session::report(const char* phase, bool force)
{
    if (!progress_)
        return;
    // Every 16th frame: often enough for a window, cheap at the drive's full speed.
    if (!force && ++calls_ % 16 != 0)
        return;
    Progress p;
    p.phase = phase;
    p.frames = records_.size();
    p.tapeBytes = records_.size() * kFrame;
    for (auto it = records_.rbegin(); it != records_.rend(); ++it) {
        if (it->absolute >= 0) {
            p.absoluteTime = IndexText(it->absolute);
            break;
        }
    }
    if (!records_.empty()) {
        const FrameRecord& r = records_.back();
        p.program = r.kind == ProgramKind::Number ? "program " + std::to_string(r.program)
                    : r.kind == ProgramKind::LeadIn ? "lead-in"
                    : r.kind == ProgramKind::LeadOut ? "lead-out"
                                                     : "";
    }
    p.unreadable = unreadable_;
    p.concealed = concealed_;
    p.audioSeconds = static_cast<double>(readFrames_) * kFrameSeconds;
    progress_(p);
}

bool Session::append(const std::uint8_t* frame, const FrameRecord& record)
{
    std::size_t left = kFrame;
    const std::uint8_t* p = frame;
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason_ = std::string("Writing ") + kTapeDat + " failed: " + (n < 0 ? std::strerror(errno) : "nothing written") +
                      ".";
            // The frame is not kept: cut off what of it reached the file.
            ::ftruncate(fd_, static_cast<off_t>(records_.size() * kFrame));
            ::lseek(fd_, 0, SEEK_END);
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    hash_.addData(QByteArrayView(reinterpret_cast<const char*>(frame), kFrame));
    records_.push_back(record);
    if (record.state == FrameState::Unreadable)
        ++unreadable_;
    else if (record.state == FrameState::Concealed)
        ++concealed_;
    return true;
}

// Frames the drive could not deliver: zeros at their place, from `firstAbsolute` on (-1: not known).
bool Session::appendLost(std::uint32_t count, std::int64_t firstAbsolute)
{
    for (std::uint32_t k = 0; k < count; ++k) {
        FrameRecord lost;
        lost.state = FrameState::Unreadable;
        lost.absolute = firstAbsolute >= 0 ? static_cast<std::int32_t>(firstAbsolute + k) : -1;
        if (!append(zeros_.data(), lost))
            return false;
    }
    return true;
}

void Session::acquire()
{
    // Where a resumed package left off: frames up to it are passed over.
    std::int64_t resumeAfter = -1;
    bool leadOutKept = false;
    for (const FrameRecord& r : records_) {
        if (r.absolute >= 0)
            resumeAfter = r.absolute;
        leadOutKept = leadOutKept || r.kind == ProgramKind::LeadOut;
    }
    if (leadOutKept) {
        complete_ = true;
        return;
    }
    if (o_.resume && resumeAfter >= 0) {
        const std::uint32_t target = SecondOf(resumeAfter + 1);
        if (!LocateSecond(target > kPreRollSeconds ? target - kPreRollSeconds : 0)) {
            reason_ = "The drive could not locate absolute time " + IndexText(resumeAfter + 1) + " to resume.";
            return;
        }
    } else if (o_.resume && !records_.empty()) {
        // Nothing with a time to go by: start again from the beginning.
        records_.clear();
        hash_.reset();
        ::ftruncate(fd_, 0);
        ::lseek(fd_, 0, SEEK_SET);
        RewindTape(AspiAdapter, AspiTarget);
    } else if (!o_.fromHere) {
        RewindTape(AspiAdapter, AspiTarget);
    }
    bool passing = o_.resume && resumeAfter >= 0;
    std::int64_t lastAbsolute = resumeAfter;
    std::uint32_t failures = 0;
    BeginFramePass();
    QElapsedTimer reading;
    reading.start();
    for (;;) {
        if (g_stop) {
            reason_ = "Stopped before the end of the tape.";
            break;
        }
        const FrameRead r = ReadNextFrame();
        if (g_stop) {
            reason_ = "Stopped before the end of the tape.";
            break;
        }
        if (r.status == FrameStatus::Unreadable || r.status == FrameStatus::TooManyBad) {
            ++failures;
            ++readFrames_;
            if (r.status == FrameStatus::TooManyBad) {
                reason_ = r.message;
                break;
            }
            continue;
        }
        if (r.status == FrameStatus::EndOfTape) {
            if (!passing && !appendLost(r.missingBefore, lastAbsolute >= 0 ? lastAbsolute + 1 : -1))
                break;
            complete_ = true;
            if (r.outcome.completed)
                readLeadOut(r);
            break;
        }
        if (r.Failed()) {
            reason_ = r.message;
            break;
        }
        ++readFrames_;
        if (r.repeat)
            continue;
        FrameRecord rec;
        const bool placeholder = IsPlaceholder(r.bytes.data());
        if (placeholder) {
            rec.state = FrameState::Unreadable;
            rec.absolute = lastAbsolute >= 0 ? static_cast<std::int32_t>(lastAbsolute + r.missingBefore + 1) : -1;
        } else {
            rec = RecordOf(r.frame);
        }
        std::uint32_t missing = r.missingBefore;
        if (passing) {
            if (rec.absolute < 0 || rec.absolute <= resumeAfter) {
                failures = 0;
                continue;
            }
            passing = false;
            missing = std::min<std::uint32_t>(missing, static_cast<std::uint32_t>(rec.absolute - resumeAfter - 1));
        }
        std::int64_t lostFrom = lastAbsolute >= 0 ? lastAbsolute + 1 : -1;
        if (rec.absolute >= 0)
            lostFrom = std::max<std::int64_t>(-1, std::int64_t{rec.absolute} - missing);
        const bool ok = appendLost(missing, lostFrom);
        // Reads that failed beyond the frames lost were failed tries on this frame.
        if (!placeholder && failures > missing) {
            rec.failedReads = static_cast<std::uint16_t>(std::min<std::uint32_t>(failures - missing, 65535));
            if (rec.state == FrameState::Clean)
                rec.state = FrameState::Recovered;
        }
        failures = 0;
        if (!ok || !append(r.bytes.data(), rec))
            break;
        if (rec.absolute >= 0)
            lastAbsolute = rec.absolute;
        else if (lastAbsolute >= 0)
            lastAbsolute += 1;
        report("reading");
    }
    readMs_ = reading.elapsed();
}

// The lead-out is kept as the rest is: a frame dump of the package ends as the tape does.
void Session::readLeadOut(const FrameRead& first)
{
    if (!append(first.bytes.data(), RecordOf(first.frame)))
        return;
    for (std::uint32_t n = 1; n < kMaxLeadOutFrames && !g_stop; ++n) {
        const FrameRead r = ReadNextFrame();
        if (!r.outcome.completed || r.status != FrameStatus::EndOfTape)
            return;
        if (!append(r.bytes.data(), RecordOf(r.frame)))
            return;
    }
}

void Session::retryPass()
{
    for (unsigned round = 1; round <= o_.retries && !g_stop; ++round) {
        std::map<std::int64_t, std::size_t> bad;  // absolute index -> position
        for (std::size_t i = 0; i < records_.size(); ++i) {
            const FrameRecord& r = records_[i];
            if ((r.state == FrameState::Unreadable || r.state == FrameState::Concealed) && r.absolute >= 0)
                bad.emplace(r.absolute, i);
        }
        if (bad.empty())
            break;
        retryRounds_ = round;
        std::vector<std::pair<std::int64_t, std::int64_t>> places;
        for (const auto& [abs, pos] : bad) {
            if (!places.empty() && abs - places.back().second <= kRetryJoinFrames)
                places.back().second = abs;
            else
                places.emplace_back(abs, abs);
        }
        retryPlaces_ += places.size();
        for (const auto& [first, last] : places) {
            if (g_stop)
                break;
            const std::uint32_t second = SecondOf(first);
            if (!LocateSecond(second > kPreRollSeconds ? second - kPreRollSeconds : 0)) {
                retryNotes_.push_back("The drive could not locate " + IndexText(first) + "; that place was not read again.");
                continue;
            }
            BeginFramePass();
            std::uint32_t reads = 0;
            const std::uint32_t limit =
                static_cast<std::uint32_t>(last - first) + (kPreRollSeconds + 1) * 34 + kRetryOverrunFrames;
            while (reads++ < limit && !g_stop) {
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
                const std::size_t pos = it->second;
                const off_t offset = static_cast<off_t>(pos * kFrame);
                if (::pwrite(fd_, r.bytes.data(), kFrame, offset) != static_cast<ssize_t>(kFrame)) {
                    retryNotes_.push_back(std::string("Writing ") + kTapeDat + " failed: " + std::strerror(errno) + ".");
                    return;
                }
                tapePatched_ = true;
                const FrameState was = records_[pos].state;
                FrameRecord rec = RecordOf(r.frame);
                rec.state = FrameState::Recovered;
                records_[pos] = rec;
                recovered_.emplace_back(pos, was);
                bad.erase(it);
            }
        }
    }
}

Result Session::run()
{
    started_ = QDateTime::currentDateTimeUtc();
    clock_.start();
    std::string error;
    if (!openPackage(error) || (o_.resume && !loadPrevious(error)))
        return {Outcome::Refused, error, {}};
    drive_ = Inquire();
    for (const FrameRecord& r : records_) {
        unreadable_ += r.state == FrameState::Unreadable;
        concealed_ += r.state == FrameState::Concealed;
    }
    report("reading", true);
    acquire();
    if (complete_ && o_.retries > 0)
        retryPass();
    return finish();
}

// What the kept frames add up to, for the reports and bag-info.txt.
Totals Session::totals(const std::vector<PlannedFile>& files) const
{
    Totals t;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const FrameRecord& r = records_[i];
        t.unreadable += r.state == FrameState::Unreadable;
        t.concealed += r.state == FrameState::Concealed;
        if (r.failedReads > 0)
            t.reread.push_back(i);
        if (r.readable() && r.kind != ProgramKind::LeadIn && r.kind != ProgramKind::LeadOut) {
            ++t.audioFrames;
            if (t.rate == 0)
                t.rate = r.sampleRate();
            t.emphasis = t.emphasis || r.emphasis;
        }
        if (r.absolute >= 0) {
            if (t.firstAbsolute < 0)
                t.firstAbsolute = r.absolute;
            t.lastAbsolute = r.absolute;
        }
    }
    t.unreadableRanges = RangesOf(records_, FrameState::Unreadable);
    t.concealedRanges = RangesOf(records_, FrameState::Concealed);
    for (const PlannedFile& f : files)
        if (f.program > 0)
            t.programs.insert(f.program);
    t.speed = readMs_ > 0 ? static_cast<double>(readFrames_) * kFrameSeconds * 1000.0 / static_cast<double>(readMs_) : 0;
    return t;
}

// The WAV files, written from tape.dat now that every frame (and every retry) is in.
void Session::writeWavs(const std::vector<PlannedFile>& files, std::vector<WrittenFile>& payload,
                        std::vector<std::string>& failures)
{
    BextCommon common;
    common.codingSource = "DAT drive" + (drive_.vendor.empty() && drive_.product.empty()
                                             ? std::string()
                                             : " " + drive_.vendor + " " + drive_.product + " " + drive_.firmware);
    // The bext date and time are local, as a person reads them.
    const QDateTime local = started_.toLocalTime();
    common.archiveTime = SecondsSince1970(QDateTime(local.date(), local.time(), Qt::UTC));
    // Those of an earlier run (a resume) are made again from the frames.
    for (const QFileInfo& old : QDir(QString::fromStdString(path("data"))).entryInfoList({"*.wav"}, QDir::Files))
        QFile::remove(old.filePath());
    for (const PlannedFile& f : files) {
        WrittenFile w;
        std::string e;
        if (WriteWav(o_.dir, f, records_, fd_, common, w, e))
            payload.push_back(w);
        else
            failures.push_back(e);
    }
}

nlohmann::json Session::reportJson(const Totals& t, const std::vector<PlannedFile>& files) const
{
    nlohmann::json j;
    j["status"] = complete_ ? "complete" : "incomplete";
    if (!complete_)
        j["reason"] = reason_;
    j["started"] = Iso(started_);
    j["finished"] = Iso(finished_);
    j["read_speed"] = std::round(t.speed * 10) / 10;
    j["drive"] = {{"vendor", drive_.vendor}, {"product", drive_.product}, {"firmware", drive_.firmware}};
    j["tape"] = {{"sample_rate", t.rate},
                 {"emphasis", t.emphasis},
                 {"first_absolute_time", IndexText(t.firstAbsolute)},
                 {"last_absolute_time", IndexText(t.lastAbsolute)},
                 {"frames", records_.size()},
                 {"audio_frames", t.audioFrames}};
    j["programs"] = nlohmann::json::array();
    for (const PlannedFile& f : files) {
        const std::uint32_t pairs = f.sampleRate == 44100 ? 1323 : f.sampleRate == 32000 ? 960 : 1440;
        const double seconds = static_cast<double>(f.frames.size()) * pairs / f.sampleRate;
        nlohmann::json cues = nlohmann::json::array();
        for (const CuePoint& c : f.cues)
            cues.push_back({{"sample", c.sample}, {"index", c.index}});
        j["programs"].push_back({{"file", "data/" + f.name},
                                 {"program", f.program},
                                 {"start", IndexText(f.firstAbsolute)},
                                 {"end", IndexText(f.lastAbsolute)},
                                 {"duration", DurationText(seconds)},
                                 {"duration_seconds", seconds},
                                 {"frames", f.frames.size()},
                                 {"first_frame", f.frames.empty() ? 0 : f.frames.front()},
                                 {"sample_rate", f.sampleRate},
                                 {"time_reference", f.timeReference},
                                 {"cues", cues}});
    }
    auto ranges = [](const std::vector<Range>& list) {
        nlohmann::json a = nlohmann::json::array();
        for (const Range& r : list)
            a.push_back({{"first_frame", r.first},
                         {"count", r.count},
                         {"first", IndexText(r.firstAbsolute)},
                         {"last", IndexText(r.lastAbsolute)}});
        return a;
    };
    j["errors"]["unreadable"] = {{"count", t.unreadable}, {"ranges", ranges(t.unreadableRanges)}};
    j["errors"]["concealed"] = {{"count", t.concealed}, {"ranges", ranges(t.concealedRanges)}};
    j["errors"]["recovered_on_reread"] = nlohmann::json::array();
    for (std::size_t i : t.reread)
        j["errors"]["recovered_on_reread"].push_back({{"frame", i},
                                                       {"absolute_time", IndexText(records_[i].absolute)},
                                                       {"failed_reads", records_[i].failedReads}});
    nlohmann::json retry = {{"retries", o_.retries}, {"rounds", retryRounds_}, {"places", retryPlaces_}};
    retry["recovered"] = nlohmann::json::array();
    for (const auto& [pos, was] : recovered_)
        retry["recovered"].push_back({{"frame", pos},
                                      {"absolute_time", IndexText(records_[pos].absolute)},
                                      {"was", was == FrameState::Unreadable ? "unreadable" : "concealed"}});
    retry["still_bad"] = t.unreadable + t.concealed;
    retry["notes"] = retryNotes_;
    j["retry_pass"] = retry;
    j["last_absolute_time"] = IndexText(t.lastAbsolute);
    return j;
}

std::string Session::reportText(const Totals& t, const nlohmann::json& j) const
{
    std::string txt = "Vantrel archive of a DAT tape\n\n";
    txt += "Status: " + std::string(complete_ ? "complete" : "incomplete (" + reason_ + ")") + "\n";
    txt += "Run: " + Iso(started_) + " to " + Iso(finished_) + "\n";
    char line[256];
    std::snprintf(line, sizeof line, "Read speed: %.1f x real time\n", t.speed);
    txt += line;
    txt += "Drive: " + (drive_.vendor.empty() ? std::string("(did not report itself)")
                                              : drive_.vendor + " " + drive_.product + ", firmware " + drive_.firmware) +
           "\n";
    txt += "Tape: " + std::to_string(t.rate) + " Hz, " + (t.emphasis ? "emphasis 50/15 us" : "no emphasis") +
           ", absolute time " + IndexText(t.firstAbsolute) + " to " + IndexText(t.lastAbsolute) + ", " +
           std::to_string(records_.size()) + " frames\n\nPrograms:\n";
    for (const auto& p : j["programs"]) {
        std::snprintf(line, sizeof line, "  %-12s program %3u  %s to %s  %s\n", p["file"].get<std::string>().c_str() + 5,
                      p["program"].get<unsigned>(), p["start"].get<std::string>().c_str(),
                      p["end"].get<std::string>().c_str(), p["duration"].get<std::string>().c_str());
        txt += line;
    }
    txt += "\nErrors:\n" + errorLines(t);
    txt += "\nRetry pass: ";
    if (o_.retries == 0)
        return txt + "not run (--retries=0)\n";
    if (!complete_)
        return txt + "not run: the main pass did not finish\n";
    txt += std::to_string(retryPlaces_) + " places read again in " + std::to_string(retryRounds_) + " rounds, " +
           std::to_string(recovered_.size()) + " frames recovered";
    for (std::size_t k = 0; k < recovered_.size(); ++k)
        txt += (k ? ", " : ": ") + IndexText(records_[recovered_[k].first].absolute);
    txt += ", " + std::to_string(t.unreadable + t.concealed) + " still bad\n";
    for (const std::string& n : retryNotes_)
        txt += "  " + n + "\n";
    return txt;
}

// The three error lines of the text report and the summary.
std::string Session::errorLines(const Totals& t) const
{
    std::string txt = "  Unreadable: " + std::to_string(t.unreadable) + " frames, kept as zeros and heard as silence";
    for (std::size_t k = 0; k < t.unreadableRanges.size(); ++k)
        txt += (k ? ", " : ": ") + RangeText(t.unreadableRanges[k]);
    txt += "\n  Concealed: " + std::to_string(t.concealed) + " frames, kept as the drive gave them";
    for (std::size_t k = 0; k < t.concealedRanges.size(); ++k)
        txt += (k ? ", " : ": ") + RangeText(t.concealedRanges[k]);
    txt += "\n  Read after failed tries: " + std::to_string(t.reread.size()) + " frames (recovered)";
    for (std::size_t k = 0; k < t.reread.size(); ++k)
        txt += (k ? ", " : ": ") + IndexText(records_[t.reread[k]].absolute) + " (" +
               std::to_string(records_[t.reread[k]].failedReads) + " failed reads)";
    return txt + "\n";
}

std::string Session::bagInfo(const Totals& t, std::uint64_t octets, std::size_t streams) const
{
    std::string programs;
    for (unsigned p : t.programs)
        programs += (programs.empty() ? "" : " ") + std::to_string(p);
    std::string info;
    info += "Bagging-Date: " + QDateTime::currentDateTime().date().toString(Qt::ISODate).toStdString() + "\n";
    info += "Payload-Oxum: " + std::to_string(octets) + "." + std::to_string(streams) + "\n";
    info += "Bag-Software-Agent: Vantrel " VANTREL_VERSION "\n";
    info += "External-Description: DAT audio tape read frame by frame, with a Broadcast WAVE file per program\n";
    info += "Vantrel-Status: " + std::string(complete_ ? "complete" : "incomplete") + "\n";
    if (!complete_)
        info += "Vantrel-Incomplete-Reason: " + reason_ + "\n";
    // A drive that does not answer INQUIRY: said so, not an empty value.
    auto said = [](const std::string& v) { return v.empty() ? std::string("not reported") : v; };
    info += "Vantrel-Drive-Vendor: " + said(drive_.vendor) + "\n";
    info += "Vantrel-Drive-Product: " + said(drive_.product) + "\n";
    info += "Vantrel-Drive-Firmware: " + said(drive_.firmware) + "\n";
    info += "Vantrel-Tape-Rate: " + std::to_string(t.rate) + "\n";
    info += "Vantrel-Tape-Emphasis: " + std::string(t.emphasis ? "50/15 us" : "none") + "\n";
    info += "Vantrel-Programs: " + programs + "\n";
    info += "Vantrel-First-Absolute-Time: " + IndexText(t.firstAbsolute) + "\n";
    info += "Vantrel-Last-Absolute-Time: " + IndexText(t.lastAbsolute) + "\n";
    info += "Vantrel-Frames: " + std::to_string(records_.size()) + "\n";
    info += "Vantrel-Frames-Unreadable: " + std::to_string(t.unreadable) + "\n";
    info += "Vantrel-Frames-Concealed: " + std::to_string(t.concealed) + "\n";
    info += "Vantrel-Frames-Recovered: " + std::to_string(t.reread.size() + recovered_.size()) + "\n";
    return info;
}

// The manifests over what was written, and the tag files around them.
void Session::writeBag(const Totals& t, std::vector<WrittenFile> payload, std::vector<std::string>& failures)
{
    std::uint64_t octets = 0;
    std::string manifest;
    std::sort(payload.begin(), payload.end(), [](const WrittenFile& a, const WrittenFile& b) { return a.path < b.path; });
    for (const WrittenFile& f : payload) {
        octets += f.bytes;
        manifest += f.sha256 + "  " + f.path + "\n";
    }
    std::vector<WrittenFile> tags(3);
    std::string e;
    bool ok = WriteTextFile(o_.dir, "bagit.txt", "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n", tags[0], e);
    ok = ok && WriteTextFile(o_.dir, "bag-info.txt", bagInfo(t, octets, payload.size()), tags[1], e);
    ok = ok && WriteTextFile(o_.dir, "manifest-sha256.txt", manifest, tags[2], e);
    std::string tagManifest;
    for (const WrittenFile& tag : tags)
        tagManifest += tag.sha256 + "  " + tag.path + "\n";
    WrittenFile written;
    ok = ok && WriteTextFile(o_.dir, "tagmanifest-sha256.txt", tagManifest, written, e);
    if (!ok)
        failures.push_back(e);
}

Result Session::finish()
{
    report("writing the package", true);
    std::vector<WrittenFile> payload;
    std::vector<std::string> failures;
    WrittenFile tape;
    tape.path = kTapeDat;
    tape.bytes = records_.size() * kFrame;
    if (::fsync(fd_) != 0 && errno != EINVAL)
        failures.push_back(std::string(kTapeDat) + ": " + std::strerror(errno));
    if (tapePatched_) {
        std::string e;  // the retry pass changed frames in place
        tape.sha256 = HashFile(path(kTapeDat), e);
        if (!e.empty())
            failures.push_back(e);
    } else {
        tape.sha256 = hash_.result().toHex().toStdString();
    }
    payload.push_back(tape);

    const std::vector<PlannedFile> files = PlanFiles(records_);
    writeWavs(files, payload, failures);
    std::string csv = SubcodeLog::Header();
    for (std::size_t i = 0; i < records_.size(); ++i)
        csv += SubcodeLog::RowFor(records_, i);
    WrittenFile w;
    std::string e;
    if (WriteTextFile(o_.dir, "data/subcode.csv", csv, w, e))
        payload.push_back(w);
    else
        failures.push_back(e);
    // A package that could not be written whole says so where a checker looks.
    if (complete_ && !failures.empty()) {
        complete_ = false;
        reason_ = failures.front();
    }

    finished_ = QDateTime::currentDateTimeUtc();
    const Totals t = totals(files);
    const nlohmann::json j = reportJson(t, files);
    if (WriteTextFile(o_.dir, "data/report.json", j.dump(2) + "\n", w, e))
        payload.push_back(w);
    else
        failures.push_back(e);
    if (WriteTextFile(o_.dir, "data/report.txt", reportText(t, j), w, e))
        payload.push_back(w);
    else
        failures.push_back(e);
    writeBag(t, payload, failures);

    Result result;
    if (!complete_ || !failures.empty()) {
        result.outcome = Outcome::Incomplete;
        result.message = complete_ ? failures.front() : reason_;
    } else {
        result.outcome = t.unreadable == 0 && t.concealed == 0 ? Outcome::Clean : Outcome::WithErrors;
    }
    result.summary.push_back("Archived " + std::to_string(records_.size()) + " frames (" + std::to_string(files.size()) +
                             " WAV files) into " + o_.dir + ": " +
                             (complete_ ? std::string("complete")
                                        : "incomplete (" + reason_ + " Last absolute time " +
                                              IndexText(t.lastAbsolute) + ")") +
                             ".");
    std::istringstream lines(errorLines(t));
    for (std::string l; std::getline(lines, l);)
        result.summary.push_back(l);
    if (complete_ && o_.retries > 0)
        result.summary.push_back("Retry pass: " + std::to_string(retryPlaces_) + " places read again, " +
                                 std::to_string(recovered_.size()) + " frames recovered.");
    for (std::size_t k = 1; k < failures.size(); ++k)
        result.summary.push_back(failures[k]);
    return result;
}

}  // namespace

std::string CheckTarget(const std::string& dir, bool resume)
{
    if (dir.empty())
        return "--archive needs a folder name.";
    const QFileInfo info(QString::fromStdString(dir));
    if (resume) {
        if (!info.isDir())
            return "There is no package to resume in " + dir + ".";
        const std::string bagInfo = ReadText(dir + "/bag-info.txt");
        const std::string status = BagInfoValue(bagInfo, "Vantrel-Status");
        if (status.empty() || !QFileInfo::exists(QString::fromStdString(dir + "/data/tape.dat")))
            return dir + " does not hold a Vantrel archive package; it cannot be resumed.";
        if (status != "incomplete")
            return "The package in " + dir + " is already " + status + "; there is nothing to resume.";
        return {};
    }
    if (info.exists() && !info.isDir())
        return dir + " exists and is not a folder; the archive needs a new or empty folder.";
    if (info.isDir() && !QDir(info.filePath()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        return dir + " is not empty; the archive needs a new or empty folder, and nothing in it was changed. "
                     "(--resume continues an incomplete package.)";
    return {};
}

Result Run(const Options& options, const std::function<void(const Progress&)>& progress)
{
    g_stop = false;
    const std::string refusal = CheckTarget(options.dir, options.resume);
    if (!refusal.empty())
        return {Outcome::Refused, refusal, {}};
    Session session(options, progress);
    Result r = session.run();
    g_stop = false;
    return r;
}

void RequestStop() { g_stop = true; }

}  // namespace archive
