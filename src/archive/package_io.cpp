#include "archive/package_io.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sndfile.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "dat/frame.h"
#include "dat/nonlinear.h"
#include "platform/io/sha256.h"
#include "platform/io/sound_file.h"
#include "platform/io/unique_fd.h"

namespace archive {

namespace {

constexpr std::size_t kFramesPerWrite = 64;
constexpr const char* kStagePrefix = ".part-";

std::string ErrnoText();

// The temporary name of a file of the package: at its top level, outside data/, where a
// validator takes it for an unlisted tag file.
std::string TempPathOf(const std::string& dir, const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return dir + "/" + kStagePrefix + (slash == std::string::npos ? path : path.substr(slash + 1));
}

Status SyncDir(const std::string& dir)
{
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd || (::fsync(fd.get()) != 0 && errno != EINVAL))
        return Status::Error("The folder " + dir + " cannot be synced: " + ErrnoText());
    return Status::Ok();
}

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// The bytes a WAV file of `file` takes: its audio and a generous allowance for the chunks
// before it (bext with its coding history, cue points, the headers).
std::uint64_t WavBytes(const PlannedFile& file)
{
    return std::uint64_t{file.frames.size()} * file.format.PcmBytes() + 4096 + 32 * file.cues.size();
}

// A text into a fixed bext field; one cut short ends on a whole UTF-8 character.
void Copy(char* to, std::size_t size, const std::string& text)
{
    std::memset(to, 0, size);
    std::size_t n = std::min(size, text.size());
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::memcpy(to, text.data(), n);
}

std::string ErrnoText() { return std::strerror(errno); }

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string Description(const PlannedFile& f)
{
    std::string d = f.program > 0 ? "DAT program " + std::to_string(f.program)
                                  : std::string("DAT audio outside numbered programs");
    if (f.firstAbsolute >= 0)
        d += ", absolute time " + IndexText(f.firstAbsolute) + " to " + IndexText(f.lastAbsolute);
    return d + " (" + f.name + ")";
}

// bext and cue chunks go before the audio: libsndfile takes them only before the first write.
Status SetChunks(SNDFILE* sf, const std::string& path, const PlannedFile& file, const BextCommon& common)
{
    SF_BROADCAST_INFO bext{};
    // The program's own description first: a long label is what gets cut.
    Copy(bext.description, sizeof bext.description,
         common.label.empty() ? Description(file) : Description(file) + "; " + common.label);
    Copy(bext.originator, sizeof bext.originator, "Vantrel");
    Copy(bext.originator_reference, sizeof bext.originator_reference, common.id);
    // The recording's date, from the tape; none there leaves it empty rather than invent one.
    if (file.date >= 0) {
        Copy(bext.origination_date, sizeof bext.origination_date, DateText(file.date));
        Copy(bext.origination_time, sizeof bext.origination_time, TimeText(file.date));
    }
    const auto reference = static_cast<std::uint64_t>(file.timeReference);
    bext.time_reference_low = static_cast<std::uint32_t>(reference & 0xFFFFFFFFu);
    bext.time_reference_high = static_cast<std::uint32_t>(reference >> 32);
    // Version 2 carries loudness fields; 0x7FFF is its "not measured", where 0 would claim 0 LUFS.
    bext.version = 2;
    constexpr std::int16_t kNotMeasured = 0x7FFF;
    bext.loudness_value = kNotMeasured;
    bext.loudness_range = kNotMeasured;
    bext.max_true_peak_level = kNotMeasured;
    bext.max_momentary_loudness = kNotMeasured;
    bext.max_shortterm_loudness = kNotMeasured;
    const std::string mode = file.format.channels == 4 ? "four-channel" : "stereo";
    const std::string history =
        "A=PCM,F=" + std::to_string(file.sampleRate) + ",W=16,M=" + mode + ",T=" + common.codingSource +
        (file.format.NonLinear() ? "; 12-bit non-linear, layout " + std::string(dat::LayoutName(file.layout)) : "") +
        (file.emphasis ? "; emphasis 50/15 us" : "") + "; " + common.origin + "\r\n";
    Copy(bext.coding_history, sizeof bext.coding_history, history);
    bext.coding_history_size = static_cast<std::uint32_t>(std::min(history.size(), sizeof bext.coding_history));
    if (sf_command(sf, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE)
        return Status::Error(path + ": the bext chunk was refused: " + sf_strerror(sf));
    if (file.cues.empty())
        return Status::Ok();
    SF_CUES cues{};
    const std::size_t count = std::min<std::size_t>(file.cues.size(), std::size(cues.cue_points));
    cues.cue_count = static_cast<std::uint32_t>(count);
    for (std::size_t i = 0; i < count; ++i) {
        SF_CUE_POINT& c = cues.cue_points[i];
        c.indx = static_cast<std::int32_t>(i + 1);
        c.position = file.cues[i].sample;
        c.fcc_chunk = 0x61746164;  // "data"
        c.sample_offset = file.cues[i].sample;
        const std::string name = file.cues[i].index > 0 ? "Index " + std::to_string(file.cues[i].index)
                                                        : std::string("Stretch");
        Copy(c.name, sizeof c.name, name);
    }
    if (sf_command(sf, SFC_SET_CUE, &cues, sizeof cues) != SF_TRUE)
        return Status::Error(path + ": the cue chunk was refused: " + sf_strerror(sf));
    return Status::Ok();
}

// The audio of the file's frames, a block of frames to each write.
Status WriteFrames(SNDFILE* sf, const std::string& path, const PlannedFile& file,
                   const std::vector<FrameRecord>& records, const FrameSource& read)
{
    // A frame's bytes in tape.dat, and its 16-bit PCM in the file (12-bit frames decoded).
    const std::size_t frameAudio = file.format.audioBytes;
    const std::size_t framePcm = file.format.PcmBytes();
    std::vector<std::uint8_t> block(kFramesPerWrite * framePcm);
    std::vector<std::uint8_t> area(frameAudio);
    std::size_t filled = 0;
    auto flush = [&]() -> Status {
        const auto n = static_cast<sf_count_t>(filled);
        filled = 0;
        if (n > 0 && sf_write_raw(sf, block.data(), n) != n)
            return Status::Error(path + " could not be written: " + sf_strerror(sf));
        return Status::Ok();
    };
    for (std::size_t position : file.frames) {
        std::uint8_t* at = block.data() + filled;
        if (!records[position].readable()) {
            std::memset(at, 0, framePcm);
        } else {
            std::uint8_t* into = file.format.NonLinear() ? area.data() : at;
            if (Status s = read(position, into, frameAudio); !s)
                return Status::Error("data/tape.dat could not be read back for " + path + ": " + s.error());
            if (file.format.NonLinear()) {
                std::array<std::int16_t, dat::kNonLinearSamples> pcm{};
                dat::DecodeNonLinear(area.data(), file.layout, pcm.data());
                std::memcpy(at, pcm.data(), framePcm);
            }
        }
        filled += framePcm;
        if (filled == block.size())
            if (Status s = flush(); !s)
                return s;
    }
    return flush();
}

}  // namespace

Sha256::Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;
Sha256::~Sha256() = default;

void Sha256::Add(const void* data, std::size_t size) { hash_.add(data, size); }

// The result is taken from a copy of the running state, so adding may go on.
std::string Sha256::Hex() const { return hash_.hex(); }

void Sha256::Reset() { hash_.reset(); }

std::optional<std::uint64_t> FreeBytes(const std::string& path)
{
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0)
        return std::nullopt;
    return std::uint64_t{st.f_bavail} * st.f_frsize;
}

std::string SpaceLeftText(const std::string& path)
{
    const std::optional<std::uint64_t> free = FreeBytes(path);
    return free ? " (" + Megabytes(*free) + " left on the disk)" : std::string();
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string BagInfoValue(const std::string& bagInfo, const std::string& key)
{
    std::istringstream in(bagInfo);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + ": ", 0) == 0)
            return line.substr(key.size() + 2);
    return {};
}

::Result<std::uint64_t> FileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return ::Result<std::uint64_t>::Error(ErrnoText());
    return static_cast<std::uint64_t>(st.st_size);
}

::Result<StagedFile> StageWav(const std::string& dir, const PlannedFile& file, const std::vector<FrameRecord>& records,
                              const FrameSource& read, const BextCommon& common, const FileSizeReader& sizeOf)
{
    StagedFile staged;
    WrittenFile& out = staged.file;
    out.path = "data/" + file.name;
    staged.temp = TempPathOf(dir, out.path);
    // A file the disk cannot hold is not begun: what is there stays as it was.
    const std::uint64_t needed = WavBytes(file);
    if (const std::optional<std::uint64_t> free = FreeBytes(dir); free && *free < needed)
        return ::Result<StagedFile>::Error(out.path + " needs " + Megabytes(needed) + "; the disk has " +
                                           Megabytes(*free) + " left.");
    SF_INFO info{};
    info.samplerate = static_cast<int>(file.sampleRate);
    info.channels = static_cast<int>(file.format.channels);
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SoundFile sf(sf_open(staged.temp.c_str(), SFM_WRITE, &info));
    if (!sf)
        return ::Result<StagedFile>::Error(out.path + " cannot be created: " + sf_strerror(nullptr) +
                                           SpaceLeftText(dir));
    Status written = SetChunks(sf.get(), out.path, file, common);
    if (written)
        written = WriteFrames(sf.get(), out.path, file, records, read);
    if (!CloseSoundFile(sf) && written)
        written = Status::Error(out.path + " could not be finished");
    if (written) {
        UniqueFd fd(::open(staged.temp.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd || ::fsync(fd.get()) != 0)
            written = Status::Error(out.path + " could not be synced: " + ErrnoText());
    }
    if (!written) {
        ::unlink(staged.temp.c_str());
        return Status::Error(written.error() + SpaceLeftText(dir));
    }
    ::Result<std::string> digest = HashFile(staged.temp);
    // Payload-Oxum counts these bytes: a size not known leaves the file out, never counted as 0.
    const ::Result<std::uint64_t> size = sizeOf ? sizeOf(staged.temp) : FileSize(staged.temp);
    if (!digest || !size) {
        ::unlink(staged.temp.c_str());
        if (!digest)
            return digest.status();
        return ::Result<StagedFile>::Error(out.path + ": its size cannot be read: " + size.error());
    }
    out.sha256 = *digest;
    out.bytes = *size;
    return staged;
}

::Result<StagedFile> StageText(const std::string& dir, const std::string& path, const std::string& text)
{
    StagedFile staged;
    staged.file.path = path;
    staged.temp = TempPathOf(dir, path);
    UniqueFd fd(::open(staged.temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd)
        return ::Result<StagedFile>::Error(path + " cannot be created: " + ErrnoText() + SpaceLeftText(dir));
    Sha256 hash;
    hash.Add(text.data(), text.size());
    const bool written = WriteAll(fd.get(), text.data(), text.size()) && ::fsync(fd.get()) == 0;
    const std::string writeError = written ? std::string() : ErrnoText();
    if (!fd.close() || !written) {
        const std::string why = written ? ErrnoText() : writeError;
        ::unlink(staged.temp.c_str());
        return ::Result<StagedFile>::Error(path + " could not be written: " + why + SpaceLeftText(dir));
    }
    staged.file.bytes = text.size();
    staged.file.sha256 = hash.Hex();
    return staged;
}

Status CommitFiles(const std::string& dir, std::vector<StagedFile>& staged, const std::function<void()>& renamed)
{
    bool data = false, top = false;
    Status result;
    for (std::size_t i = 0; i < staged.size(); ++i) {
        const StagedFile& f = staged[i];
        if (::rename(f.temp.c_str(), (dir + "/" + f.file.path).c_str()) != 0) {
            result = Status::Error(f.file.path + " could not be put in place: " + ErrnoText());
            for (std::size_t k = i; k < staged.size(); ++k)
                ::unlink(staged[k].temp.c_str());
            break;
        }
        (f.file.path.find('/') == std::string::npos ? top : data) = true;
    }
    staged.clear();
    if (renamed)
        renamed();
    if (data)
        if (Status s = SyncDir(dir + "/data"); !s && result)
            result = s;
    if (top || data)
        if (Status s = SyncDir(dir); !s && result)
            result = s;
    return result;
}

void DiscardFiles(std::vector<StagedFile>& staged)
{
    for (const StagedFile& f : staged)
        ::unlink(f.temp.c_str());
    staged.clear();
}

void RemoveLeftoverFiles(const std::string& dir)
{
    const QDir top(QString::fromStdString(dir));
    for (const QString& name :
         top.entryList({QString::fromLatin1(kStagePrefix) + "*"}, QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(top.filePath(name));
}

::Result<WrittenFile> WriteTextFile(const std::string& dir, const std::string& path, const std::string& text)
{
    ::Result<StagedFile> staged = StageText(dir, path, text);
    if (!staged)
        return staged.status();
    const WrittenFile out = staged->file;
    std::vector<StagedFile> one{*staged};
    if (Status s = CommitFiles(dir, one); !s)
        return s;
    return out;
}

::Result<std::string> HashFile(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return ::Result<std::string>::Error(path + " cannot be read: " + ErrnoText());
    Sha256 hash;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ::Result<std::string>::Error(path + " cannot be read: " + ErrnoText());
        if (n == 0)
            break;
        hash.Add(buffer.data(), static_cast<std::size_t>(n));
    }
    return hash.Hex();
}

}  // namespace archive
