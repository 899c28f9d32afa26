#include "audio/capture.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/audio_state.h"
#include "audio/playback.h"
#include "platform/ui/message_box.h"

int CaptureFileNum = 0;

namespace {

// The sizes are unsigned 32-bit, as WAV readers take them: the RIFF size (length - 8) holds
// up to 4 GiB - 1.
constexpr std::uint64_t kWavFileLimit = 0xFFFFFFFFull + 8;
constexpr std::size_t kWavHeaderBytes = 44;

struct WavHeader {
    char riffTag[4] = {'R', 'I', 'F', 'F'};
    std::uint32_t riffSize = 0;
    char waveTag[4] = {'W', 'A', 'V', 'E'};
    char fmtTag[4] = {'f', 'm', 't', ' '};
    std::uint32_t fmtSize = 16;
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 48000;
    std::uint32_t bytesPerSec = 192000;
    std::uint16_t blockAlign = 4;
    std::uint16_t bitsPerSample = 16;
    char dataTag[4] = {'d', 'a', 't', 'a'};
    std::uint32_t dataSize = 0;
};

void PutLe(std::uint8_t* at, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Every field written explicitly little-endian, whatever the host.
std::array<std::uint8_t, kWavHeaderBytes> Serialize(const WavHeader& h)
{
    std::array<std::uint8_t, kWavHeaderBytes> b{};
    std::memcpy(&b[0], h.riffTag, 4);
    PutLe(&b[4], h.riffSize, 4);
    std::memcpy(&b[8], h.waveTag, 4);
    std::memcpy(&b[12], h.fmtTag, 4);
    PutLe(&b[16], h.fmtSize, 4);
    PutLe(&b[20], h.formatTag, 2);
    PutLe(&b[22], h.channels, 2);
    PutLe(&b[24], h.samplesPerSec, 4);
    PutLe(&b[28], h.bytesPerSec, 4);
    PutLe(&b[32], h.blockAlign, 2);
    PutLe(&b[34], h.bitsPerSample, 2);
    std::memcpy(&b[36], h.dataTag, 4);
    PutLe(&b[40], h.dataSize, 4);
    return b;
}

struct CaptureFile {
    std::string path;
    std::uint64_t length = 0;  // bytes in the file, as far as we wrote them
    std::uint64_t frames = 0;
    std::uint64_t limit = kWavFileLimit;
    CaptureProgressHandler progress;
};

CaptureFile& File()
{
    static CaptureFile f;
    return f;
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

void SetCaptureFileLimit(std::uint64_t bytes) { File().limit = bytes ? bytes : kWavFileLimit; }

void SetCaptureProgressHandler(CaptureProgressHandler handler) { File().progress = std::move(handler); }

bool OpenCaptureFile(const std::string& path)
{
    // A file-size limit must show as a failed write (EFBIG), not end the program mid-file.
    std::signal(SIGXFSZ, SIG_IGN);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        ui::ShowMessage("The capture file " + Quoted(path) + " cannot be created: " + std::strerror(errno) + ".");
        return false;
    }
    if (fd < 3) {  // 0 means "no file"; keep clear of the standard streams
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
        if (fd < 0) {
            ui::ShowMessage("The capture file " + Quoted(path) + " cannot be created: " + std::strerror(errno) + ".");
            return false;
        }
    }
    CaptureFileNum = fd;
    File().path = path;
    File().length = 0;
    File().frames = 0;
    const auto header = Serialize(WavHeader{});
    if (!WriteAll(fd, header.data(), header.size())) {
        const int err = errno;
        ::ftruncate(fd, 0);
        ui::ShowMessage("The capture file " + Quoted(path) + " cannot be written: " + std::strerror(err) + ".");
        ::close(fd);
        CaptureFileNum = 0;
        return false;
    }
    File().length = kWavHeaderBytes;
    return true;
}

AppendResult AppendCaptureAudio(const std::uint8_t* data, std::size_t bytes)
{
    CaptureFile& f = File();
    if (CaptureFileNum <= 0)
        return AppendResult::FileError;
    if (f.length + bytes > f.limit) {
        ui::ShowMessage("The capture file " + Quoted(f.path) +
                        " has reached the largest size a WAV file can state (4 GiB); the capture was "
                        "finished there.");
        FinishCaptureFile();
        return AppendResult::SizeLimit;
    }
    if (!WriteAll(CaptureFileNum, data, bytes)) {
        const int err = errno;
        // Drop a partly written frame so that the file holds whole frames only.
        [[maybe_unused]] const int r = ::ftruncate(CaptureFileNum, static_cast<off_t>(f.length));
        ui::ShowMessage("The capture file " + Quoted(f.path) + " cannot be written: " + std::strerror(err) +
                        ". The capture was finished with the audio written so far.");
        FinishCaptureFile();
        return AppendResult::FileError;
    }
    f.length += bytes;
    f.frames += bytes / kFrameAudioBytes;
    if (f.progress)
        f.progress(f.frames, f.length - kWavHeaderBytes);
    return AppendResult::Written;
}

void FinishCaptureFile()
{
    if (CaptureFileNum <= 0)
        return;
    const int fd = CaptureFileNum;
    CaptureFileNum = 0;
    std::uint64_t length = File().length;
    struct stat st;
    if (::fstat(fd, &st) == 0)
        length = static_cast<std::uint64_t>(st.st_size);
    if (length >= kWavHeaderBytes) {
        const auto riff = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - 8, 0xFFFFFFFFull));
        const auto data = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - kWavHeaderBytes, 0xFFFFFFFFull));
        if (!PutSizeAt(fd, 4, riff) || !PutSizeAt(fd, 40, data))
            ui::ShowMessage("The sizes of the capture file " + Quoted(File().path) +
                            " cannot be written: " + std::strerror(errno) + ".");
    }
    if (::close(fd) != 0)
        ui::ShowMessage("The capture file " + Quoted(File().path) + " cannot be closed: " + std::strerror(errno) + ".");
}

CaptureResult RunCapture(const std::string& path)
{
    if (CaptureLoopRunning())
        return CaptureResult::NotStarted;
    // A capture started while playback runs ends the playback first; the capture then
    // reads on from where the tape is.
    if (PlayActive || StartPending())
        StopPlayback();
    BeginCaptureLoop(true);
    if (!OpenCaptureFile(path)) {
        BeginCaptureLoop(false);
        return CaptureResult::FileError;
    }
    PlayActive = true;
    CaptureResult result = CaptureResult::Stopped;
    while (PlayActive) {
        const FrameStatus status = ReadNextFrame();
        if (!PlayActive)
            break;  // a stop arrived during the read: that frame is not written
        if (status == FrameStatus::EndOfTape) {
            result = CaptureResult::EndOfTape;
            StopPlayback();
            break;
        }
        const AppendResult appended = AppendCaptureAudio(FrameBuffer.data(), kFrameAudioBytes);
        if (appended != AppendResult::Written) {
            result = appended == AppendResult::SizeLimit ? CaptureResult::SizeLimit : CaptureResult::FileError;
            StopPlayback();
            break;
        }
    }
    BeginCaptureLoop(false);
    if (result == CaptureResult::EndOfTape)
        NotifyEndOfTape();
    return result;
}
