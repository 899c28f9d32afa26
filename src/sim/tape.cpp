#include "sim/tape.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dat/audio_format.h"
#include "dat/frame_builder.h"
#include "platform/io/unique_fd.h"
#include "sim/pcm_tape.h"

static_assert(std::endian::native == std::endian::little, "PCM is copied as little-endian bytes");

namespace sim {

TimeCode TimeCodeOfFrame(std::uint64_t index)
{
    TimeCode t;
    t.hours = static_cast<unsigned>(index / 120000);
    unsigned r = static_cast<unsigned>(index % 120000);
    t.minutes = r / 2000;
    r %= 2000;
    // 100 frames every three seconds: 33, 33 and 34.
    const unsigned group = r / 100, q = r % 100;
    const unsigned s = q < 33 ? 0 : q < 66 ? 1 : 2;
    t.seconds = group * 3 + s;
    t.frame = q - 33 * s;
    return t;
}

std::uint64_t FrameOfTimeCode(const TimeCode& t)
{
    return 120000ull * t.hours + 2000ull * t.minutes + 33ull * t.seconds + t.seconds / 3 + t.frame;
}

int FromBcd(std::uint8_t b)
{
    if ((b >> 4) > 9 || (b & 0xF) > 9)
        return -1;
    return (b >> 4) * 10 + (b & 0xF);
}

std::int64_t FrameOfBcd(const std::uint8_t (&hmsf)[4])
{
    const int h = FromBcd(hmsf[0]), m = FromBcd(hmsf[1]), s = FromBcd(hmsf[2]), f = FromBcd(hmsf[3]);
    if (h < 0 || m < 0 || m > 59 || s < 0 || s > 59 || f < 0 || f > 33)
        return -1;
    TimeCode t{unsigned(h), unsigned(m), unsigned(s), unsigned(f)};
    return static_cast<std::int64_t>(FrameOfTimeCode(t));
}

bool IsTapeRate(std::uint32_t sampleRateHz)
{
    return sampleRateHz == 48000 || sampleRateHz == 44100 || sampleRateHz == 32000;
}

std::uint32_t PairsPerFrame(std::uint32_t sampleRateHz)
{
    const std::optional<dat::AudioFormat> format = dat::StereoFormatAt(sampleRateHz);
    return format ? format->sampleFrames : dat::StereoFormatAt(48000)->sampleFrames;
}

namespace {

void WriteBcdTime(std::uint8_t* out, std::uint64_t index)
{
    const TimeCode t = TimeCodeOfFrame(index);
    out[0] = ToBcd(t.hours);
    out[1] = ToBcd(t.minutes);
    out[2] = ToBcd(t.seconds);
    out[3] = ToBcd(t.frame);
}

// The date and time `seconds` after the start of the recording.
dat::Date DateAfter(const RecordingDate& start, std::uint64_t seconds)
{
    return dat::DateAfter({start.year, start.month, start.day, start.hour, start.minute, start.second}, seconds);
}

}  // namespace

void PcmTape::writeSubcode(std::uint8_t* frame, std::uint64_t n, const FramePosition& pos, std::uint32_t rate,
                           bool startId) const
{
    const dat::ProgramNumber program = dat::ProgramNumber::FromDigits(pos.program[0], pos.program[1], pos.program[2]);
    const auto index = static_cast<std::uint8_t>(std::max(0, dat::FromBcd(pos.index)));
    dat::SubcodeWriter w(dat::MutableFrameBytes(frame, dat::kFrameBytes));
    w.SetMainId({.sampleRateHz = rate,
                 .emphasis = options_.emphasis,
                 .fourChannels = options_.channels == 4,
                 .nonLinear12 = options_.NonLinear()});
    w.AddTimePack(dat::PackItem::ProgramTime, program, index, dat::TimeCodeFromBcd(pos.programTime));
    w.AddTimePack(dat::PackItem::AbsoluteTime, program, index, dat::TimeCodeFromBcd(pos.absoluteTime));
    if (options_.runningTime)
        w.AddTimePack(dat::PackItem::RunningTime, program, index, dat::TimeCodeFromBcd(pos.runTime));
    if (options_.date)
        w.AddDatePack(DateAfter(*options_.date, codeIndex(n) * 3 / 100));  // absolute time in whole seconds
    w.SetSubId({.program = program, .start = startId});
}

PcmTape::PcmTape(std::vector<std::uint64_t> pairs, std::function<Pcm(std::size_t)> load,
                 std::vector<std::uint32_t> rates, RecordingOptions options)
    : pairs_(std::move(pairs)), rates_(std::move(rates)), options_(std::move(options)), load_(std::move(load)),
      loaded_(new std::once_flag[pairs_.size()]), pcm_(pairs_.size())
{
    rates_.resize(pairs_.size(), 48000);
    std::uint64_t frame = 0;
    for (std::size_t p = 0; p < pairs_.size(); ++p) {
        const std::uint64_t perFrame = instantsPerFrame(p);
        firstFrame_.push_back(frame);
        frame += std::max<std::uint64_t>(1, (pairs_[p] + perFrame - 1) / perFrame);
    }
    firstFrame_.push_back(frame);
}

PcmTape::PcmTape(std::vector<std::uint64_t> pairs, PcmReader read, std::vector<std::uint32_t> rates,
                 RecordingOptions options)
    : PcmTape(std::move(pairs), std::function<Pcm(std::size_t)>{}, std::move(rates), std::move(options))
{
    read_ = std::move(read);
}

const std::vector<std::int16_t>& PcmTape::pcm(std::size_t program) const
{
    std::call_once(loaded_[program], [this, program] { pcm_[program] = load_(program); });
    return *pcm_[program];
}

std::size_t PcmTape::programOf(std::uint64_t n) const
{
    return static_cast<std::size_t>(std::upper_bound(firstFrame_.begin(), firstFrame_.end(), n) - firstFrame_.begin() -
                                    1);
}

std::uint64_t PcmTape::instantsPerFrame(std::size_t program) const
{
    if (options_.NonLinear())
        return dat::kNonLinearSamples / options_.channels;  // 1920 in long play, 960 with four channels
    return PairsPerFrame(rates_[program]);
}

void PcmTape::writeAudio(std::uint64_t n, std::uint8_t* out) const
{
    const std::size_t p = programOf(n);
    const std::uint64_t perFrame = instantsPerFrame(p);
    const std::size_t channels = options_.NonLinear() ? options_.channels : 2;
    if (read_) {
        const std::uint64_t first = (n - firstFrame_[p]) * perFrame;
        const std::uint64_t end = std::min<std::uint64_t>(first + perFrame, pairs_[p]);
        std::array<std::int16_t, dat::kNonLinearSamples> frame{};
        if (end > first)
            read_(p, first, end - first, frame.data());
        if (options_.NonLinear())
            dat::EncodeNonLinear(frame.data(), options_.lpLayout, out);
        else
            std::memcpy(out, frame.data(), (end > first ? end - first : 0) * channels * 2);
        return;
    }
    const std::vector<std::int16_t>& samples = pcm(p);
    const std::uint64_t sourceInstants = samples.size() / channels;
    const std::uint64_t first = (n - firstFrame_[p]) * perFrame;
    const std::uint64_t end = std::min<std::uint64_t>(first + perFrame, pairs_[p]);
    std::array<std::int16_t, dat::kNonLinearSamples> frame{};
    auto* dst = options_.NonLinear() ? reinterpret_cast<std::uint8_t*>(frame.data()) : out;
    for (std::uint64_t i = first; i < end && sourceInstants > 0;) {
        // Copy up to the end of the frame, the program or the (repeated) source.
        const std::uint64_t at = i % sourceInstants;
        const std::uint64_t run = std::min(end - i, sourceInstants - at);
        std::memcpy(dst, samples.data() + channels * at, run * channels * 2);
        dst += run * channels * 2;
        i += run;
    }
    if (options_.NonLinear())
        dat::EncodeNonLinear(frame.data(), options_.lpLayout, out);
}

void PcmTape::readFrame(std::uint64_t n, std::uint8_t* out) const
{
    std::memset(out, 0, dat::kAudioAreaBytes);
    const FramePosition pos = position(n);
    if (n < leadOutStart()) {
        const std::size_t p = programOf(n);
        writeAudio(n, out);
        writeSubcode(out, n, pos, rates_[p], n - firstFrame_[p] < kStartIdFrames);
    } else {
        // The lead-out keeps the rate of the last program.
        writeSubcode(out, n, pos, rates_.empty() ? 48000 : rates_.back(), false);
    }
}

FramePosition PcmTape::position(std::uint64_t n) const
{
    FramePosition pos;
    if (n >= leadOutStart()) {
        pos.program[1] = pos.program[2] = 0x0E;
        return pos;
    }
    const std::size_t p = programOf(n);
    const unsigned number = static_cast<unsigned>(p + 1);
    pos.program[0] = static_cast<std::uint8_t>(number / 100 % 10);
    pos.program[1] = static_cast<std::uint8_t>(number / 10 % 10);
    pos.program[2] = static_cast<std::uint8_t>(number % 10);
    pos.index = 0x01;
    WriteBcdTime(pos.programTime, codeIndex(n - firstFrame_[p]));
    WriteBcdTime(pos.absoluteTime, codeIndex(n));
    if (options_.runningTime)
        WriteBcdTime(pos.runTime, codeIndex(n));
    return pos;
}

namespace {

bool OptionsFit(const RecordingOptions& options)
{
    if (options.channels != 2 && options.channels != 4)
        return false;
    if (options.longPlay && options.channels == 4)
        return false;  // long play is two channels at half speed
    return options.lpTimeStep == 1 || options.lpTimeStep == 2;
}

bool RateFits(std::uint32_t rate, const RecordingOptions& options)
{
    return IsTapeRate(rate) && (!options.NonLinear() || rate == 32000);
}

class DataTape final : public Tape {
public:
    std::uint8_t density() const override { return kDdsDensity; }
    std::uint64_t frameCount() const override { return 0; }
    void readFrame(std::uint64_t, std::uint8_t* out) const override { std::memset(out, 0, dat::kFrameBytes); }
    FramePosition position(std::uint64_t) const override { return {}; }
};

// Where each frame of a dump stands, from its subcode: not every frame carries every pack,
// so each position keeps the last value seen of each kind. Fed the frames in order.
class DumpPositions {
public:
    void add(const std::uint8_t* frame)
    {
        const std::uint8_t* sub = frame + dat::kPacksOffset;
        const std::uint8_t* subId = frame + dat::kSubIdOffset;
        last_.program[0] = subId[1] >> 4;
        last_.program[1] = subId[2] >> 4;
        last_.program[2] = subId[2] & 0x0F;
        for (int k = 0; k < 7; ++k) {
            const std::uint8_t* pack = sub + 8 * k;
            switch (pack[0] >> 4) {
            case 1:
                last_.index = pack[2];
                std::memcpy(last_.programTime, pack + 3, 4);
                break;
            case 2:
                std::memcpy(last_.absoluteTime, pack + 3, 4);
                break;
            case 3:
                std::memcpy(last_.runTime, pack + 3, 4);
                break;
            default:
                break;
            }
        }
        positions_.push_back(last_);
    }
    std::vector<FramePosition> take() { return std::move(positions_); }

private:
    FramePosition last_;
    std::vector<FramePosition> positions_;
};

// A dump as it stands, held in memory; positions come from its subcodes.
class DumpTape final : public Tape {
public:
    explicit DumpTape(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes))
    {
        DumpPositions positions;
        for (std::uint64_t n = 0; n < frameCount(); ++n)
            positions.add(bytes_.data() + n * dat::kFrameBytes);
        positions_ = positions.take();
    }
    std::uint8_t density() const override { return kAudioDensity; }
    std::uint64_t frameCount() const override { return bytes_.size() / dat::kFrameBytes; }
    void readFrame(std::uint64_t n, std::uint8_t* out) const override
    {
        std::memcpy(out, bytes_.data() + n * dat::kFrameBytes, dat::kFrameBytes);
    }
    FramePosition position(std::uint64_t n) const override { return positions_[n]; }

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<FramePosition> positions_;
};

// A dump read from its file frame by frame as the drive comes to each (pread: no shared file
// offset between threads), so that a tape of hours replays without its size in memory. Only
// the positions (16 bytes a frame) are kept.
class FileDumpTape final : public Tape {
public:
    FileDumpTape(UniqueFd fd, std::vector<FramePosition> at) : fd_(std::move(fd)), positions_(std::move(at)) {}
    std::uint8_t density() const override { return kAudioDensity; }
    std::uint64_t frameCount() const override { return positions_.size(); }
    void readFrame(std::uint64_t n, std::uint8_t* out) const override
    {
        std::size_t got = 0;
        const auto offset = static_cast<off_t>(n * dat::kFrameBytes);
        while (got < dat::kFrameBytes) {
            const ssize_t r = ::pread(fd_.get(), out + got, dat::kFrameBytes - got, offset + static_cast<off_t>(got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            got += static_cast<std::size_t>(r);
        }
        // A file cut short or unreadable since it was loaded: the rest is a blank frame,
        // which the reader takes for no audio rather than for stale bytes.
        std::memset(out + got, 0, dat::kFrameBytes - got);
    }
    FramePosition position(std::uint64_t n) const override { return positions_[n]; }

private:
    UniqueFd fd_;
    std::vector<FramePosition> positions_;
};

}  // namespace

std::shared_ptr<const Tape> MakePcmTape(std::vector<std::vector<std::int16_t>> programs)
{
    std::vector<std::uint64_t> pairs;
    auto pcm = std::make_shared<std::vector<Pcm>>();
    for (auto& p : programs) {
        pairs.push_back(p.size() / 2);
        pcm->push_back(std::make_shared<const std::vector<std::int16_t>>(std::move(p)));
    }
    return std::make_shared<PcmTape>(std::move(pairs), [pcm](std::size_t p) { return (*pcm)[p]; });
}

std::shared_ptr<const Tape> MakeRecordedTape(std::vector<PcmProgram> programs, const RecordingOptions& options)
{
    std::vector<std::uint64_t> pairs;
    std::vector<std::uint32_t> rates;
    auto pcm = std::make_shared<std::vector<Pcm>>();
    if (!OptionsFit(options))
        return nullptr;
    const std::size_t channels = options.channels;
    for (auto& p : programs) {
        if (!RateFits(p.sampleRateHz, options))
            return nullptr;
        pairs.push_back(p.pcm.size() / channels);
        rates.push_back(p.sampleRateHz);
        pcm->push_back(std::make_shared<const std::vector<std::int16_t>>(std::move(p.pcm)));
    }
    return std::make_shared<PcmTape>(std::move(pairs), [pcm](std::size_t p) { return (*pcm)[p]; }, std::move(rates),
                                     options);
}

std::shared_ptr<const Tape> MakeStreamedTape(std::vector<std::uint64_t> instants, std::vector<std::uint32_t> rates,
                                             PcmReader read, const RecordingOptions& options)
{
    for (const std::uint32_t rate : rates)
        if (!RateFits(rate, options))
            return nullptr;
    if (!OptionsFit(options))
        return nullptr;
    return std::make_shared<PcmTape>(std::move(instants), std::move(read), std::move(rates), options);
}

std::shared_ptr<const Tape> MakeLoopedPcmTape(std::vector<std::int16_t> pcm, unsigned programs,
                                              std::uint64_t pairsPerProgram)
{
    Pcm shared = std::make_shared<const std::vector<std::int16_t>>(std::move(pcm));
    return std::make_shared<PcmTape>(std::vector<std::uint64_t>(programs, pairsPerProgram),
                                     [shared](std::size_t) { return shared; });
}

std::shared_ptr<const Tape> MakeDemoTape(const RecordingOptions& options)
{
    return std::make_shared<PcmTape>(DemoProgramPairs(), &SynthesizeDemoProgram, std::vector<std::uint32_t>{}, options);
}

std::shared_ptr<const Tape> MakeDataTape() { return std::make_shared<DataTape>(); }

std::shared_ptr<const Tape> MakeFrameDumpTape(std::vector<std::uint8_t> bytes, std::string& error)
{
    if (bytes.empty() || bytes.size() % dat::kFrameBytes != 0) {
        error = "a frame dump must be a positive multiple of 5822 bytes, not " + std::to_string(bytes.size());
        return nullptr;
    }
    return std::make_shared<DumpTape>(std::move(bytes));
}

std::shared_ptr<const Tape> OpenFrameDumpTape(const std::string& path, std::string& error)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct stat st = {};
    if (::fstat(fd.get(), &st) != 0) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size == 0 || size % dat::kFrameBytes != 0) {
        error = path + ": a frame dump must be a positive multiple of 5822 bytes, not " + std::to_string(size);
        return nullptr;
    }
    // One pass over the file for the positions, a few hundred frames at a time.
    constexpr std::size_t kChunkFrames = 256;
    std::vector<std::uint8_t> chunk(kChunkFrames * dat::kFrameBytes);
    DumpPositions positions;
    const std::uint64_t frames = size / dat::kFrameBytes;
    for (std::uint64_t n = 0; n < frames;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkFrames, frames - n));
        std::size_t got = 0;
        while (got < want * dat::kFrameBytes) {
            const ssize_t r = ::pread(fd.get(), chunk.data() + got, want * dat::kFrameBytes - got,
                                      static_cast<off_t>(n * dat::kFrameBytes + got));
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0) {
                error = path + ": could not be read" + (r < 0 ? std::string(": ") + std::strerror(errno) : "");
                return nullptr;
            }
            got += static_cast<std::size_t>(r);
        }
        for (std::size_t k = 0; k < want; ++k)
            positions.add(chunk.data() + k * dat::kFrameBytes);
        n += want;
    }
    // The pages read for the positions are not needed again soon: leave the cache to others.
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    return std::make_shared<FileDumpTape>(std::move(fd), positions.take());
}

std::vector<std::uint8_t> FrameBytes(const Tape& tape, std::uint64_t n)
{
    std::vector<std::uint8_t> out(dat::kFrameBytes);
    tape.readFrame(n, out.data());
    return out;
}

std::vector<std::uint8_t> FrameAudio(const Tape& tape, std::uint64_t n)
{
    std::vector<std::uint8_t> out = FrameBytes(tape, n);
    out.resize(dat::kAudioAreaBytes);
    return out;
}

std::uint64_t FirstFrameOfProgram(const Tape& tape, unsigned number)
{
    const std::uint8_t digits[3] = {std::uint8_t(number / 100 % 10), std::uint8_t(number / 10 % 10),
                                    std::uint8_t(number % 10)};
    for (std::uint64_t n = 0; n < tape.frameCount(); ++n) {
        const FramePosition pos = tape.position(n);
        if (std::equal(digits, digits + 3, pos.program))
            return n;
    }
    return tape.frameCount();
}

}  // namespace sim
