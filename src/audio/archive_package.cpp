#include "audio/archive_package.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include "dat/frame.h"

namespace archive {

namespace {

constexpr std::size_t kFramesPerWrite = 64;

std::string Hex(const QByteArray& digest) { return digest.toHex().toStdString(); }

void Copy(char* to, std::size_t size, const std::string& text)
{
    std::memset(to, 0, size);
    std::memcpy(to, text.data(), std::min(size, text.size()));
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

}  // namespace

bool WriteWav(const std::string& dir, const PlannedFile& file, const std::vector<FrameRecord>& records, int tapeDat,
              const BextCommon& common, WrittenFile& out, std::string& error)
{
    out.path = "data/" + file.name;
    const std::string full = dir + "/" + out.path;
    SF_INFO info{};
    info.samplerate = static_cast<int>(file.sampleRate);
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sf = sf_open(full.c_str(), SFM_WRITE, &info);
    if (!sf) {
        error = out.path + " cannot be created: " + sf_strerror(nullptr);
        return false;
    }
    // bext and cue chunks go before the audio: libsndfile takes them only before the first write.
    SF_BROADCAST_INFO bext{};
    Copy(bext.description, sizeof bext.description, Description(file));
    Copy(bext.originator, sizeof bext.originator, "Vantrel");
    Copy(bext.originator_reference, sizeof bext.originator_reference, "");
    const std::int64_t when = file.date >= 0 ? file.date : common.archiveTime;
    Copy(bext.origination_date, sizeof bext.origination_date, DateText(when));
    Copy(bext.origination_time, sizeof bext.origination_time, TimeText(when));
    const auto reference = static_cast<std::uint64_t>(file.timeReference);
    bext.time_reference_low = static_cast<std::uint32_t>(reference & 0xFFFFFFFFu);
    bext.time_reference_high = static_cast<std::uint32_t>(reference >> 32);
    bext.version = 1;
    const std::string history = "A=PCM,F=" + std::to_string(file.sampleRate) + ",W=16,M=stereo,T=" +
                                common.codingSource + (file.emphasis ? "; emphasis 50/15 us" : "") +
                                "; Vantrel archive\r\n";
    Copy(bext.coding_history, sizeof bext.coding_history, history);
    bext.coding_history_size = static_cast<std::uint32_t>(std::min(history.size(), sizeof bext.coding_history));
    if (sf_command(sf, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE) {
        error = out.path + ": the bext chunk was refused: " + sf_strerror(sf);
        sf_close(sf);
        return false;
    }
    if (!file.cues.empty()) {
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
        sf_command(sf, SFC_SET_CUE, &cues, sizeof cues);
    }

    const std::size_t frameAudio = (file.sampleRate == 44100 ? 1323u : file.sampleRate == 32000 ? 960u : 1440u) * 4;
    std::vector<std::uint8_t> block(kFramesPerWrite * frameAudio);
    std::size_t filled = 0;
    bool ok = true;
    auto flush = [&] {
        if (filled > 0 && sf_write_raw(sf, block.data(), static_cast<sf_count_t>(filled)) != static_cast<sf_count_t>(filled)) {
            error = out.path + " could not be written: " + sf_strerror(sf);
            ok = false;
        }
        filled = 0;
    };
    for (std::size_t position : file.frames) {
        std::uint8_t* at = block.data() + filled;
        if (!records[position].readable()) {
            std::memset(at, 0, frameAudio);
        } else {
            const off_t offset = static_cast<off_t>(position) * static_cast<off_t>(dat::kFrameBytes);
            if (::pread(tapeDat, at, frameAudio, offset) != static_cast<ssize_t>(frameAudio)) {
                error = "data/tape.dat could not be read back for " + out.path + ": " + ErrnoText();
                ok = false;
                break;
            }
        }
        filled += frameAudio;
        if (filled == block.size())
            flush();
        if (!ok)
            break;
    }
    if (ok)
        flush();
    if (sf_close(sf) != 0 && ok) {
        error = out.path + " could not be finished";
        ok = false;
    }
    if (!ok)
        return false;
    out.sha256 = HashFile(full, error);
    if (out.sha256.empty())
        return false;
    FILE* f = std::fopen(full.c_str(), "rb");
    if (f) {
        std::fseek(f, 0, SEEK_END);
        out.bytes = static_cast<std::uint64_t>(std::ftell(f));
        std::fclose(f);
    }
    return true;
}

bool WriteTextFile(const std::string& dir, const std::string& path, const std::string& text, WrittenFile& out,
                   std::string& error)
{
    out.path = path;
    const std::string full = dir + "/" + path;
    const int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = path + " cannot be created: " + ErrnoText();
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    const bool written = WriteAll(fd, text.data(), text.size());
    const std::string writeError = written ? std::string() : ErrnoText();
    if (::close(fd) != 0 || !written) {
        error = path + " could not be written: " + (written ? ErrnoText() : writeError);
        return false;
    }
    out.bytes = text.size();
    out.sha256 = Hex(hash.result());
    return true;
}

std::string HashFile(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + " cannot be read: " + ErrnoText();
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = path + " cannot be read: " + ErrnoText();
            ::close(fd);
            return {};
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.data(), n));
    }
    ::close(fd);
    return Hex(hash.result());
}

}  // namespace archive
