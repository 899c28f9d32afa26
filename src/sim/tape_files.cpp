// Tapes from files: audio files through libsndfile, frame dumps as they stand.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sndfile.h>
#include <sys/stat.h>

#include "dat/frame.h"
#include "platform/io/sound_file.h"
#include "sim/tape.h"

namespace sim {
namespace {

// One program's PCM, interleaved stereo, and its rate; empty with `error` set on failure.
PcmProgram ReadProgram(const std::string& path, std::string& error, const RecordingOptions& options)
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
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t got = sf_readf_short(file.get(), samples.data(), info.frames);
    if (got != info.frames) {
        error = path + ": the audio ends early (" + std::to_string(got) + " of " + std::to_string(info.frames) +
                " sample frames could be read): the file is truncated or damaged";
        return {};
    }
    if (info.channels == 1) {
        std::vector<std::int16_t> stereo(samples.size() * 2);
        for (std::size_t i = 0; i < samples.size(); ++i)
            stereo[2 * i] = stereo[2 * i + 1] = samples[i];
        return {std::move(stereo), rate};
    }
    return {std::move(samples), rate};
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(size, 0)));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()))) {
        error = path + ": could not be read";
        return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<const Tape> LoadAudioFiles(const std::vector<std::string>& paths, std::string& error,
                                           const RecordingOptions& options)
{
    if (paths.empty()) {
        error = "no audio files given";
        return nullptr;
    }
    std::vector<PcmProgram> programs;
    for (const std::string& path : paths) {
        programs.push_back(ReadProgram(path, error, options));
        if (programs.back().pcm.empty())
            return nullptr;
    }
    auto tape = MakeRecordedTape(std::move(programs), options);
    if (!tape)
        error = paths.front() + ": the recording options do not fit together";
    return tape;
}

std::shared_ptr<const Tape> LoadFrameDump(const std::string& path, std::string& error)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, error))
        return nullptr;
    auto tape = MakeFrameDumpTape(std::move(bytes), error);
    if (!tape)
        error = path + ": " + error;
    return tape;
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
