#include "sim/tape.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "dat/audio_format.h"
#include "dat/frame_builder.h"
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

class DataTape final : public Tape {
public:
    std::uint8_t density() const override { return kDdsDensity; }
    std::uint64_t frameCount() const override { return 0; }
    void readFrame(std::uint64_t, std::uint8_t* out) const override { std::memset(out, 0, dat::kFrameBytes); }
    FramePosition position(std::uint64_t) const override { return {}; }
};

// A dump as it stands; positions come from its subcodes. Not every frame carries every pack,
// so each position keeps the last value seen of each kind.
class DumpTape final : public Tape {
public:
    explicit DumpTape(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes))
    {
        FramePosition last;
        const std::uint64_t frames = frameCount();
        positions_.reserve(frames);
        for (std::uint64_t n = 0; n < frames; ++n) {
            const std::uint8_t* sub = bytes_.data() + n * dat::kFrameBytes + dat::kPacksOffset;
            const std::uint8_t* subId = bytes_.data() + n * dat::kFrameBytes + dat::kSubIdOffset;
            last.program[0] = subId[1] >> 4;
            last.program[1] = subId[2] >> 4;
            last.program[2] = subId[2] & 0x0F;
            for (int k = 0; k < 7; ++k) {
                const std::uint8_t* pack = sub + 8 * k;
                switch (pack[0] >> 4) {
                case 1:
                    last.index = pack[2];
                    std::memcpy(last.programTime, pack + 3, 4);
                    break;
                case 2:
                    std::memcpy(last.absoluteTime, pack + 3, 4);
                    break;
                case 3:
                    std::memcpy(last.runTime, pack + 3, 4);
                    break;
                default:
                    break;
                }
            }
            positions_.push_back(last);
        }
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
    if (options.channels != 2 && options.channels != 4)
        return nullptr;
    if (options.longPlay && options.channels == 4)
        return nullptr;  // long play is two channels at half speed
    if (options.lpTimeStep != 1 && options.lpTimeStep != 2)
        return nullptr;
    const std::size_t channels = options.channels;
    for (auto& p : programs) {
        if (!IsTapeRate(p.sampleRateHz) || (options.NonLinear() && p.sampleRateHz != 32000))
            return nullptr;
        pairs.push_back(p.pcm.size() / channels);
        rates.push_back(p.sampleRateHz);
        pcm->push_back(std::make_shared<const std::vector<std::int16_t>>(std::move(p.pcm)));
    }
    return std::make_shared<PcmTape>(std::move(pairs), [pcm](std::size_t p) { return (*pcm)[p]; }, std::move(rates),
                                     options);
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
