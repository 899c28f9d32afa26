#include "archive/package_io.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sndfile.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "dat/frame.h"
#include "dat/nonlinear.h"
#include "platform/io/sha256.h"
#include "platform/io/sound_file.h"
#include "platform/io/unique_fd.h"

namespace archive {

namespace {

constexpr std::size_t kFramesPerWrite = 64;

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
                   const std::vector<FrameRecord>& records, int tapeDat)
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
            const off_t offset = static_cast<off_t>(position) * static_cast<off_t>(dat::kFrameBytes);
            std::uint8_t* into = file.format.NonLinear() ? area.data() : at;
            if (::pread(tapeDat, into, frameAudio, offset) != static_cast<ssize_t>(frameAudio))
                return Status::Error("data/tape.dat could not be read back for " + path + ": " + ErrnoText());
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

::Result<WrittenFile> WriteWav(const std::string& dir, const PlannedFile& file, const std::vector<FrameRecord>& records,
                               int tapeDat, const BextCommon& common, const FileSizeReader& sizeOf)
{
    WrittenFile out;
    out.path = "data/" + file.name;
    const std::string full = dir + "/" + out.path;
    SF_INFO info{};
    info.samplerate = static_cast<int>(file.sampleRate);
    info.channels = static_cast<int>(file.format.channels);
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SoundFile sf(sf_open(full.c_str(), SFM_WRITE, &info));
    if (!sf)
        return ::Result<WrittenFile>::Error(out.path + " cannot be created: " + sf_strerror(nullptr));
    Status written = SetChunks(sf.get(), out.path, file, common);
    if (written)
        written = WriteFrames(sf.get(), out.path, file, records, tapeDat);
    if (!CloseSoundFile(sf) && written)
        written = Status::Error(out.path + " could not be finished");
    if (!written)
        return written;
    ::Result<std::string> digest = HashFile(full);
    if (!digest)
        return digest.status();
    out.sha256 = *digest;
    // Payload-Oxum counts these bytes: a size not known leaves the file out, never counted as 0.
    const ::Result<std::uint64_t> size = sizeOf ? sizeOf(full) : FileSize(full);
    if (!size)
        return ::Result<WrittenFile>::Error(out.path + ": its size cannot be read: " + size.error());
    out.bytes = *size;
    return out;
}

::Result<WrittenFile> WriteTextFile(const std::string& dir, const std::string& path, const std::string& text)
{
    WrittenFile out;
    out.path = path;
    const std::string full = dir + "/" + path;
    UniqueFd fd(::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd)
        return ::Result<WrittenFile>::Error(path + " cannot be created: " + ErrnoText());
    Sha256 hash;
    hash.add(text.data(), text.size());
    const bool written = WriteAll(fd.get(), text.data(), text.size());
    const std::string writeError = written ? std::string() : ErrnoText();
    if (!fd.close() || !written)
        return ::Result<WrittenFile>::Error(path + " could not be written: " + (written ? ErrnoText() : writeError));
    out.bytes = text.size();
    out.sha256 = hash.hex();
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
        hash.add(buffer.data(), static_cast<std::size_t>(n));
    }
    return hash.hex();
}

}  // namespace archive
