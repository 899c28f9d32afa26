#include "audio/wav_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void PutLe(std::uint8_t* at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Every field written explicitly little-endian, whatever the host; both sizes 0.
std::array<std::uint8_t, WavWriter::kHeaderBytes> Header(const WavFormat& f)
{
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(f.channels * (f.bitsPerSample / 8));
    std::array<std::uint8_t, WavWriter::kHeaderBytes> b{};
    std::memcpy(&b[0], "RIFF", 4);
    std::memcpy(&b[8], "WAVE", 4);
    std::memcpy(&b[12], "fmt ", 4);
    PutLe(&b[16], 16, 4);
    PutLe(&b[20], 1, 2);  // PCM
    PutLe(&b[22], f.channels, 2);
    PutLe(&b[24], f.sampleRate, 4);
    PutLe(&b[28], f.sampleRate * blockAlign, 4);
    PutLe(&b[32], blockAlign, 2);
    PutLe(&b[34], f.bitsPerSample, 2);
    std::memcpy(&b[36], "data", 4);
    return b;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t bytes)
{
    while (bytes > 0) {
        const ssize_t n = ::write(fd, data, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PutSizeAt(int fd, off_t offset, std::uint32_t v)
{
    std::uint8_t b[4];
    PutLe(b, v, 4);
    return ::pwrite(fd, b, 4, offset) == 4;
}

// The RIFF and data sizes of a file `length` bytes long.
bool PutSizes(int fd, std::uint64_t length)
{
    const auto riff = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - 8, 0xFFFFFFFFull));
    const auto data =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(length - WavWriter::kHeaderBytes, 0xFFFFFFFFull));
    return PutSizeAt(fd, 4, riff) && PutSizeAt(fd, 40, data);
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The folder a file's rename is synced through.
void SyncFolderOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    UniqueFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        (void)::fsync(folder.get());
}

// A new NAME.part beside `path` (NAME.2.part... when an earlier one, perhaps a crashed
// capture's audio, is still there); its name in `temp`.
UniqueFd CreatePart(const std::string& path, std::string& temp)
{
    for (int n = 1; n < 100; ++n) {
        temp = path + (n == 1 ? std::string() : "." + std::to_string(n)) + ".part";
        UniqueFd fd(::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd || errno != EEXIST)
            return fd;
    }
    return UniqueFd();
}

}  // namespace

Status WavWriter::open(const std::string& path, const WavFormat& format)
{
    [[maybe_unused]] const std::vector<Status> previous = finish();
    // A file-size limit must show as a failed write (EFBIG), not end the program mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    // Renaming over a device or a pipe would replace it: those are written in place. A link
    // to a file keeps pointing at it: the file it names is the one replaced.
    struct stat st {};
    const bool inPlace = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    std::string target = path;
    if (!inPlace && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char real[PATH_MAX];
        if (::realpath(path.c_str(), real))
            target = real;
    }
    std::string temp;
    UniqueFd fd = inPlace ? UniqueFd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC)) : CreatePart(target, temp);
    if (fd && fd.get() < 3)  // 0 means "no file"; keep clear of the standard streams
        fd = UniqueFd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3));
    if (!fd) {
        const int err = errno;
        if (!temp.empty())
            ::unlink(temp.c_str());
        return Status::Error("The capture file " + Quoted(path) + " cannot be created: " + std::strerror(err) + ".");
    }
    const auto header = Header(format);
    if (!WriteAll(fd.get(), header.data(), header.size())) {
        const int err = errno;
        if (!temp.empty()) {
            ::unlink(temp.c_str());
        } else {
            [[maybe_unused]] const int r = ::ftruncate(fd.get(), 0);
        }
        return Status::Error("The capture file " + Quoted(path) + " cannot be written: " + std::strerror(err) + ".");
    }
    fd_ = std::move(fd);
    format_ = format;
    path_ = path;
    target_ = target;
    temp_ = temp;
    length_ = sizesAt_ = kHeaderBytes;
    reachedLimit_ = false;
    return Status::Ok();
}

Status WavWriter::append(const std::uint8_t* data, std::size_t bytes)
{
    reachedLimit_ = false;
    if (!isOpen())
        return Status::Error("");
    if (length_ + bytes > limit_) {
        reachedLimit_ = true;
        return Status::Error("The capture file " + Quoted(path_) +
                             " has reached the largest size a WAV file can state (4 GiB); the capture was "
                             "finished there.");
    }
    if (!WriteAll(fd_.get(), data, bytes)) {
        const int err = errno;
        // Drop a partly written block so that the file holds whole frames only.
        [[maybe_unused]] const int r = ::ftruncate(fd_.get(), static_cast<off_t>(length_));
        return Status::Error("The capture file " + Quoted(path_) + " cannot be written: " + std::strerror(err) +
                             ". The capture was finished with the audio written so far.");
    }
    length_ += bytes;
    // What a crash leaves in the .part is a WAV file up to the last restatement.
    if (!temp_.empty() && length_ - sizesAt_ >= kSizesEvery && PutSizes(fd_.get(), length_))
        sizesAt_ = length_;
    if (progress_)
        progress_(audioBytes());
    return Status::Ok();
}

Status WavWriter::setFormat(const WavFormat& format)
{
    format_ = format;
    if (!isOpen())
        return Status::Ok();
    const auto header = Header(format);
    // Bytes 20 to 35: format tag, channels, rate, byte rate, block align, bits per sample.
    if (::pwrite(fd_.get(), header.data() + 20, 16, 20) != 16)
        return Status::Error("The capture file " + Quoted(path_) + " cannot be written: " + std::strerror(errno) + ".");
    return Status::Ok();
}

std::vector<Status> WavWriter::finish()
{
    std::vector<Status> failures;
    if (!isOpen())
        return failures;
    UniqueFd fd = std::move(fd_);
    std::uint64_t length = length_;
    struct stat st;
    if (::fstat(fd.get(), &st) == 0)
        length = static_cast<std::uint64_t>(st.st_size);
    if (length >= kHeaderBytes && !PutSizes(fd.get(), length))
        failures.push_back(Status::Error("The sizes of the capture file " + Quoted(path_) +
                                         " cannot be written: " + std::strerror(errno) + "."));
    const std::string temp = std::move(temp_);
    temp_.clear();
    // An earlier capture is replaced only by a file known to be on the disk.
    const bool synced = temp.empty() || ::fdatasync(fd.get()) == 0;
    if (!synced)
        failures.push_back(Status::Error("The capture file " + Quoted(path_) + " cannot be synced: " +
                                         std::strerror(errno) + "; the audio is in " + Quoted(temp) + "."));
    if (!fd.close())
        failures.push_back(
            Status::Error("The capture file " + Quoted(path_) + " cannot be closed: " + std::strerror(errno) + "."));
    if (!temp.empty() && synced) {
        if (::rename(temp.c_str(), target_.c_str()) == 0)
            SyncFolderOf(target_);
        else
            failures.push_back(Status::Error("The capture file " + Quoted(path_) + " cannot be put in place: " +
                                             std::strerror(errno) + "; the audio is in " + Quoted(temp) + "."));
    }
    return failures;
}

int CaptureFileNum = 0;

namespace {

WavWriter& CaptureWriter()
{
    static WavWriter w;
    return w;
}

// The capture file's frame format once a frame has told it; the header's format follows it.
std::optional<dat::AudioFormat>& CaptureFrameFormat()
{
    static std::optional<dat::AudioFormat> f;
    return f;
}

AudioMessageHandler& MessageHandler()
{
    static AudioMessageHandler h;
    return h;
}

// The writer may be finished on a failed append: the descriptor follows it.
void Publish() { CaptureFileNum = CaptureWriter().descriptor(); }

void Tell(const Status& status)
{
    if (!status && !status.error().empty())
        TellAudioMessage(status.error());
}

}  // namespace

void SetAudioMessageHandler(AudioMessageHandler handler) { MessageHandler() = std::move(handler); }

void TellAudioMessage(const std::string& text)
{
    if (MessageHandler())
        MessageHandler()(text);
}

bool OpenCaptureFile(const std::string& path)
{
    FinishCaptureFile();
    CaptureFrameFormat().reset();
    const Status opened = CaptureWriter().open(path);
    Tell(opened);
    Publish();
    return opened.ok();
}

WavWriter::AppendResult AppendCaptureAudio(const std::uint8_t* data, std::size_t bytes)
{
    WavWriter& w = CaptureWriter();
    if (!w.isOpen())
        return WavWriter::AppendResult::FileError;
    const Status appended = w.append(data, bytes);
    if (appended)
        return WavWriter::AppendResult::Written;
    Tell(appended);
    FinishCaptureFile();
    return w.reachedLimit() ? WavWriter::AppendResult::SizeLimit : WavWriter::AppendResult::FileError;
}

void FinishCaptureFile()
{
    for (const Status& failure : CaptureWriter().finish())
        Tell(failure);
    Publish();
}

std::string CaptureWritingPath()
{
    const WavWriter& w = CaptureWriter();
    return w.isOpen() ? w.writingPath() : std::string();
}

void SetCaptureFileRate(std::uint32_t sampleRate)
{
    CaptureFrameFormat().reset();
    WavFormat f = CaptureWriter().format();
    f.sampleRate = sampleRate;
    Tell(CaptureWriter().setFormat(f));
}

void SetCaptureFileFormat(const dat::AudioFormat& format)
{
    CaptureFrameFormat() = format;
    WavFormat f = CaptureWriter().format();
    f.sampleRate = format.rate;
    f.channels = static_cast<std::uint16_t>(format.channels);
    Tell(CaptureWriter().setFormat(f));
}

std::size_t CaptureFrameBytes()
{
    if (const std::optional<dat::AudioFormat>& own = CaptureFrameFormat())
        return own->PcmBytes();
    const WavFormat& f = CaptureWriter().format();
    const std::optional<dat::AudioFormat> frame = dat::StereoFormatAt(f.sampleRate);
    return frame ? frame->PcmBytes() : 0;
}

void SetCaptureProgressHandler(CaptureProgressHandler handler)
{
    if (!handler) {
        CaptureWriter().setProgress({});
        return;
    }
    CaptureWriter().setProgress([handler = std::move(handler)](std::uint64_t audioBytes) {
        const std::size_t frameBytes = CaptureFrameBytes();
        handler(frameBytes ? audioBytes / frameBytes : 0, audioBytes);
    });
}

void SetCaptureFileLimit(std::uint64_t bytes) { CaptureWriter().setLimit(bytes); }
