// Tapes from files: audio files through libsndfile, frame dumps as they stand.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sndfile.h>
#include <sys/stat.h>

#include "dat/frame.h"
#include "platform/io/sound_file.h"
#include "sim/pcm_tape.h"
#include "sim/tape.h"

namespace sim {
namespace {

// One program's audio file, open, read as the drive comes to its frames.
struct ProgramFile {
    std::mutex mutex;  // libsndfile's handle is one reader at a time
    SoundFile file;
    std::uint32_t rate = 0;
    int channels = 0;
    std::uint64_t frames = 0;  // sample instants
    std::uint64_t next = 0;    // where the handle stands

    // `count` instants from `first` on, mono doubled to stereo; the rest of `out` is left.
    void read(std::uint64_t first, std::uint64_t count, std::int16_t* out)
    {
        std::lock_guard lock(mutex);
        if (first != next && sf_seek(file.get(), static_cast<sf_count_t>(first), SEEK_SET) < 0)
            return;
        const sf_count_t got = sf_readf_short(file.get(), out, static_cast<sf_count_t>(count));
        next = first + static_cast<std::uint64_t>(std::max<sf_count_t>(got, 0));
        if (channels == 1)
            for (sf_count_t i = got; i-- > 0;)
                out[2 * i] = out[2 * i + 1] = out[i];
    }
};

// One program's file, checked and open; nullptr with `error` set on failure.
std::shared_ptr<ProgramFile> OpenProgram(const std::string& path, std::string& error, const RecordingOptions& options)
{
    SF_INFO info{};
    SoundFile file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        error = path + ": " + sf_strerror(nullptr);
        return {};
    }
    if (info.samplerate <= 0 || !IsTapeRate(static_cast<std::uint32_t>(info.samplerate))) {
        error = path + ": the sampling rate is " + std::to_string(info.samplerate) +
                " Hz; the virtual drive takes 48000, 44100 or 32000 Hz only (nothing is resampled)";
        return {};
    }
    const auto rate = static_cast<std::uint32_t>(info.samplerate);
    if (options.NonLinear() && rate != 32000) {
        error = path + ": the sampling rate is " + std::to_string(rate) + " Hz; " +
                (options.longPlay ? "long play" : "the four-channel mode") +
                " records 32000 Hz only (nothing is resampled)";
        return {};
    }
    if (options.channels == 4 && info.channels != 4) {
        error = path + ": it has " + std::to_string(info.channels) +
                " channels; a four-channel tape is made from four-channel files";
        return {};
    }
    if (options.channels != 4 && info.channels != 1 && info.channels != 2) {
        error = path + ": it has " + std::to_string(info.channels) + " channels; the virtual drive takes 1 or 2";
        return {};
    }
    const int sub = info.format & SF_FORMAT_SUBMASK;
    if (sub != SF_FORMAT_PCM_16) {
        error = path + ": the samples are not 16-bit; the virtual drive takes 16-bit audio only";
        return {};
    }
    if (info.frames <= 0) {
        error = path + ": the file holds no audio";
        return {};
    }
    // Read through once, a block at a time, so that a file cut short is refused now rather
    // than heard as silence later.
    constexpr sf_count_t kBlock = 8192;
    std::vector<std::int16_t> block(static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(info.channels));
    sf_count_t got = 0;
    while (got < info.frames) {
        const sf_count_t n = sf_readf_short(file.get(), block.data(), std::min(kBlock, info.frames - got));
        if (n <= 0)
            break;
        got += n;
    }
    if (got != info.frames) {
        error = path + ": the audio ends early (" + std::to_string(got) + " of " + std::to_string(info.frames) +
                " sample frames could be read): the file is truncated or damaged";
        return {};
    }
    auto program = std::make_shared<ProgramFile>();
    program->file = std::move(file);
    program->rate = rate;
    program->channels = info.channels;
    program->frames = static_cast<std::uint64_t>(info.frames);
    program->next = program->frames;
    return program;
}

}  // namespace

std::shared_ptr<const Tape> LoadAudioFiles(const std::vector<std::string>& paths, std::string& error,
                                           const RecordingOptions& options)
{
    if (paths.empty()) {
        error = "no audio files given";
        return nullptr;
    }
    std::vector<std::shared_ptr<ProgramFile>> files;
    for (const std::string& path : paths) {
        files.push_back(OpenProgram(path, error, options));
        if (!files.back())
            return nullptr;
    }
    std::vector<std::uint64_t> instants;
    std::vector<std::uint32_t> rates;
    for (const auto& f : files) {
        instants.push_back(f->frames);
        rates.push_back(f->rate);
    }
    auto tape = MakeStreamedTape(
        std::move(instants), std::move(rates),
        [files](std::size_t program, std::uint64_t first, std::uint64_t count, std::int16_t* out) {
            files[program]->read(first, count, out);
        },
        options);
    if (!tape)
        error = paths.front() + ": the recording options do not fit together";
    return tape;
}

std::shared_ptr<const Tape> LoadFrameDump(const std::string& path, std::string& error)
{
    return OpenFrameDumpTape(path, error);
}

std::shared_ptr<const Tape> LoadTapeFile(const std::string& path, std::string& error,
                                         const RecordingOptions& options)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return nullptr;
    }
    SF_INFO info{};
    if (SoundFile probe{sf_open(path.c_str(), SFM_READ, &info)}) {
        probe.reset();
        return LoadAudioFiles({path}, error, options);
    }
    const std::string why = sf_strerror(nullptr);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > 0 && size % dat::kFrameBytes == 0) {
        if (options != RecordingOptions{}) {
            error = path + ": a frame dump plays as it stands; emphasis, a recording date, the running time, "
                           "long play and four channels apply to tapes made from audio files";
            return nullptr;
        }
        return LoadFrameDump(path, error);
    }
    error = path + ": neither an audio file (" + why + ") nor a frame dump (" + std::to_string(size) +
            " bytes is not a positive multiple of 5822)";
    return nullptr;
}

}  // namespace sim
