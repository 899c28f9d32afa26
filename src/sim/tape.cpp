#include "sim/tape.h"

#include <algorithm>
#include <bit>
#include <cstring>

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

namespace {

void WriteBcdTime(std::uint8_t* out, std::uint64_t index)
{
    const TimeCode t = TimeCodeOfFrame(index);
    out[0] = ToBcd(t.hours);
    out[1] = ToBcd(t.minutes);
    out[2] = ToBcd(t.seconds);
    out[3] = ToBcd(t.frame);
}

void WriteTimePack(std::uint8_t* pack, unsigned item, const FramePosition& pos, const std::uint8_t (&time)[4])
{
    pack[0] = static_cast<std::uint8_t>(item << 4 | (pos.program[0] & 0x07));
    pack[1] = static_cast<std::uint8_t>(pos.program[1] << 4 | (pos.program[2] & 0x0F));
    pack[2] = pos.index;
    std::memcpy(pack + 3, time, 4);
    std::uint8_t parity = 0;
    for (int i = 0; i < 7; ++i)
        parity ^= pack[i];
    pack[7] = parity;
}

}  // namespace

void WriteSubcode(std::uint8_t* subcode, const FramePosition& pos, bool startId)
{
    std::memset(subcode, 0, kFrameBytes - kAudioBytes);
    WriteTimePack(subcode + 0, 1, pos, pos.programTime);
    WriteTimePack(subcode + 8, 2, pos, pos.absoluteTime);
    WriteTimePack(subcode + 16, 3, pos, pos.runTime);
    std::uint8_t* subId = subcode + 56;
    subId[0] = startId ? 0x40 : 0x00;  // control ID flags, data ID 0 (audio)
    subId[1] = static_cast<std::uint8_t>(pos.program[0] << 4 | 3);  // three packs in use
    subId[2] = static_cast<std::uint8_t>(pos.program[1] << 4 | (pos.program[2] & 0x0F));
    subId[3] = 0;  // interpolation flags
    // Main ID 00 00: 48 kHz, two channels, 16-bit linear, no emphasis.
}

PcmTape::PcmTape(std::vector<std::uint64_t> pairs, std::function<Pcm(std::size_t)> load)
    : pairs_(std::move(pairs)), load_(std::move(load)), loaded_(new std::once_flag[pairs_.size()]),
      pcm_(pairs_.size())
{
    std::uint64_t frame = 0;
    for (std::uint64_t p : pairs_) {
        firstFrame_.push_back(frame);
        frame += std::max<std::uint64_t>(1, (p + kPairsPerFrame - 1) / kPairsPerFrame);
    }
    firstFrame_.push_back(frame);
}

const std::vector<std::int16_t>& PcmTape::pcm(std::size_t program) const
{
    std::call_once(loaded_[program], [this, program] { pcm_[program] = load_(program); });
    return *pcm_[program];
}

void PcmTape::readFrame(std::uint64_t n, std::uint8_t* out) const
{
    std::memset(out, 0, kAudioBytes);
    const FramePosition pos = position(n);
    if (n < leadOutStart()) {
        const auto p = static_cast<std::size_t>(std::upper_bound(firstFrame_.begin(), firstFrame_.end(), n) -
                                                firstFrame_.begin() - 1);
        const std::vector<std::int16_t>& samples = pcm(p);
        const std::uint64_t sourcePairs = samples.size() / 2;
        const std::uint64_t first = (n - firstFrame_[p]) * kPairsPerFrame;
        const std::uint64_t end = std::min<std::uint64_t>(first + kPairsPerFrame, pairs_[p]);
        std::uint8_t* dst = out;
        for (std::uint64_t i = first; i < end && sourcePairs > 0;) {
            // Copy up to the end of the frame, the program or the (repeated) source.
            const std::uint64_t at = i % sourcePairs;
            const std::uint64_t run = std::min(end - i, sourcePairs - at);
            std::memcpy(dst, samples.data() + 2 * at, run * 4);
            dst += run * 4;
            i += run;
        }
        WriteSubcode(out + kAudioBytes, pos, n - firstFrame_[p] < kStartIdFrames);
    } else {
        WriteSubcode(out + kAudioBytes, pos, false);
    }
}

FramePosition PcmTape::position(std::uint64_t n) const
{
    FramePosition pos;
    if (n >= leadOutStart()) {
        pos.program[1] = pos.program[2] = 0x0E;
        return pos;
    }
    const auto p = static_cast<std::size_t>(std::upper_bound(firstFrame_.begin(), firstFrame_.end(), n) -
                                            firstFrame_.begin() - 1);
    const unsigned number = static_cast<unsigned>(p + 1);
    pos.program[0] = static_cast<std::uint8_t>(number / 100 % 10);
    pos.program[1] = static_cast<std::uint8_t>(number / 10 % 10);
    pos.program[2] = static_cast<std::uint8_t>(number % 10);
    pos.index = 0x01;
    WriteBcdTime(pos.programTime, n - firstFrame_[p]);
    WriteBcdTime(pos.absoluteTime, n);
    WriteBcdTime(pos.runTime, n);
    return pos;
}

namespace {

class DataTape final : public Tape {
public:
    std::uint8_t density() const override { return kDdsDensity; }
    std::uint64_t frameCount() const override { return 0; }
    void readFrame(std::uint64_t, std::uint8_t* out) const override { std::memset(out, 0, kFrameBytes); }
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
            const std::uint8_t* sub = bytes_.data() + n * kFrameBytes + kAudioBytes;
            const std::uint8_t* subId = sub + 56;
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
    std::uint64_t frameCount() const override { return bytes_.size() / kFrameBytes; }
    void readFrame(std::uint64_t n, std::uint8_t* out) const override
    {
        std::memcpy(out, bytes_.data() + n * kFrameBytes, kFrameBytes);
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

std::shared_ptr<const Tape> MakeLoopedPcmTape(std::vector<std::int16_t> pcm, unsigned programs,
                                              std::uint64_t pairsPerProgram)
{
    Pcm shared = std::make_shared<const std::vector<std::int16_t>>(std::move(pcm));
    return std::make_shared<PcmTape>(std::vector<std::uint64_t>(programs, pairsPerProgram),
                                     [shared](std::size_t) { return shared; });
}

std::shared_ptr<const Tape> MakeDemoTape()
{
    return std::make_shared<PcmTape>(DemoProgramPairs(), &SynthesizeDemoProgram);
}

std::shared_ptr<const Tape> MakeDataTape() { return std::make_shared<DataTape>(); }

std::shared_ptr<const Tape> MakeFrameDumpTape(std::vector<std::uint8_t> bytes, std::string& error)
{
    if (bytes.empty() || bytes.size() % kFrameBytes != 0) {
        error = "a frame dump must be a positive multiple of 5822 bytes, not " + std::to_string(bytes.size());
        return nullptr;
    }
    return std::make_shared<DumpTape>(std::move(bytes));
}

std::vector<std::uint8_t> FrameBytes(const Tape& tape, std::uint64_t n)
{
    std::vector<std::uint8_t> out(kFrameBytes);
    tape.readFrame(n, out.data());
    return out;
}

std::vector<std::uint8_t> FrameAudio(const Tape& tape, std::uint64_t n)
{
    std::vector<std::uint8_t> out = FrameBytes(tape, n);
    out.resize(kAudioBytes);
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
