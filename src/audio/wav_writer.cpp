#include "audio/wav_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/ui/message_box.h"

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

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

bool WavWriter::open(const std::string& path, const WavFormat& format)
{
    finish();
    // A file-size limit must show as a failed write (EFBIG), not end the program mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0 && fd < 3) {  // 0 means "no file"; keep clear of the standard streams
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    if (fd < 0) {
        ui::ShowMessage("The capture file " + Quoted(path) + " cannot be created: " + std::strerror(errno) + ".");
        return false;
    }
    const auto header = Header(format);
    if (!WriteAll(fd, header.data(), header.size())) {
        const int err = errno;
        [[maybe_unused]] const int r = ::ftruncate(fd, 0);
        ui::ShowMessage("The capture file " + Quoted(path) + " cannot be written: " + std::strerror(err) + ".");
        ::close(fd);
        return false;
    }
    fd_ = fd;
    format_ = format;
    path_ = path;
    length_ = kHeaderBytes;
    return true;
}

WavWriter::AppendResult WavWriter::append(const std::uint8_t* data, std::size_t bytes)
{
    if (!isOpen())
        return AppendResult::FileError;
    if (length_ + bytes > limit_) {
        ui::ShowMessage("The capture file " + Quoted(path_) +
                        " has reached the largest size a WAV file can state (4 GiB); the capture was "
                        "finished there.");
        finish();
        return AppendResult::SizeLimit;
    }
    if (!WriteAll(fd_, data, bytes)) {
        const int err = errno;
        // Drop a partly written block so that the file holds whole frames only.
        [[maybe_unused]] const int r = ::ftruncate(fd_, static_cast<off_t>(length_));
        ui::ShowMessage("The capture file " + Quoted(path_) + " cannot be written: " + std::strerror(err) +
                        ". The capture was finished with the audio written so far.");
        finish();
        return AppendResult::FileError;
    }
    length_ += bytes;
    if (progress_)
        progress_(audioBytes());
    return AppendResult::Written;
}

bool WavWriter::setFormat(const WavFormat& format)
{
    format_ = format;
    if (!isOpen())
        return true;
    const auto header = Header(format);
    // Bytes 20 to 35: format tag, channels, rate, byte rate, block align, bits per sample.
    if (::pwrite(fd_, header.data() + 20, 16, 20) != 16) {
        ui::ShowMessage("The capture file " + Quoted(path_) + " cannot be written: " + std::strerror(errno) + ".");
        return false;
    }
    return true;
}

void WavWriter::finish()
{
    if (!isOpen())
        return;
    const int fd = fd_;
    fd_ = 0;
    std::uint64_t length = length_;
    struct stat st;
    if (::fstat(fd, &st) == 0)
        length = static_cast<std::uint64_t>(st.st_size);
    if (length >= kHeaderBytes) {
        const auto riff = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - 8, 0xFFFFFFFFull));
        const auto data = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - kHeaderBytes, 0xFFFFFFFFull));
        if (!PutSizeAt(fd, 4, riff) || !PutSizeAt(fd, 40, data))
            ui::ShowMessage("The sizes of the capture file " + Quoted(path_) + " cannot be written: " +
                            std::strerror(errno) + ".");
    }
    if (::close(fd) != 0)
        ui::ShowMessage("The capture file " + Quoted(path_) + " cannot be closed: " + std::strerror(errno) + ".");
}

int CaptureFileNum = 0;

namespace {

WavWriter& CaptureWriter()
{
    static WavWriter w;
    return w;
}

// The writer may finish itself on a failed append: the descriptor follows it.
void Publish() { CaptureFileNum = CaptureWriter().descriptor(); }

}  // namespace

bool OpenCaptureFile(const std::string& path)
{
    const bool opened = CaptureWriter().open(path);
    Publish();
    return opened;
}

WavWriter::AppendResult AppendCaptureAudio(const std::uint8_t* data, std::size_t bytes)
{
    const WavWriter::AppendResult r = CaptureWriter().append(data, bytes);
    Publish();
    return r;
}

void FinishCaptureFile()
{
    CaptureWriter().finish();
    Publish();
}

void SetCaptureFileRate(std::uint32_t sampleRate)
{
    WavFormat f = CaptureWriter().format();
    f.sampleRate = sampleRate;
    CaptureWriter().setFormat(f);
}

std::size_t CaptureFrameBytes()
{
    // A DAT frame lasts 30 ms at every rate: 1440, 1323 or 960 stereo pairs.
    const WavFormat& f = CaptureWriter().format();
    return static_cast<std::size_t>(f.sampleRate) * 3 / 100 * f.channels * (f.bitsPerSample / 8);
}

void SetCaptureProgressHandler(CaptureProgressHandler handler)
{
    if (!handler) {
        CaptureWriter().setProgress({});
        return;
    }
    CaptureWriter().setProgress([handler = std::move(handler)](std::uint64_t audioBytes) {
        handler(audioBytes / CaptureFrameBytes(), audioBytes);
    });
}

void SetCaptureFileLimit(std::uint64_t bytes) { CaptureWriter().setLimit(bytes); }
