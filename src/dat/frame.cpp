#include "dat/frame.h"

namespace dat {
namespace {

bool Decimal(std::uint8_t digit) { return digit <= 9; }

// Byte 2 of a time or TOC pack.
std::optional<std::uint8_t> IndexOf(std::uint8_t b)
{
    const int v = FromBcd(b);
    if (v < 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(v);
}

// Time and TOC packs carry only three bits of the hundreds digit.
ProgramNumber PackProgram(const std::uint8_t* pack)
{
    return ProgramNumber::FromDigits(pack[0] & 0x07, pack[1] >> 4, pack[1] & 0x0F);
}

TimePack DecodeTimePack(const std::uint8_t* pack)
{
    TimePack t;
    t.program = PackProgram(pack);
    t.flag = (pack[0] & 0x08) != 0;
    t.index = IndexOf(pack[2]);
    t.time = TimeCodeFromBcd(pack + 3);
    return t;
}

DatePack DecodeDatePack(const std::uint8_t* pack)
{
    DatePack d;
    const unsigned weekday = pack[0] & 0x0F;
    d.weekday = weekday >= 1 && weekday <= 7 ? weekday : 0;
    int v[6];
    bool decimal = true;
    for (int i = 0; i < 6; ++i) {
        v[i] = FromBcd(pack[1 + i]);
        decimal = decimal && v[i] >= 0;
    }
    if (!decimal)
        return d;
    d.year = unsigned(v[0]);
    d.month = unsigned(v[1]);
    d.day = unsigned(v[2]);
    d.hour = unsigned(v[3]);
    d.minute = unsigned(v[4]);
    d.second = unsigned(v[5]);
    d.valid = d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31 && d.hour <= 23 && d.minute <= 59 &&
              d.second <= 59;
    return d;
}

CodePack DecodeCodePack(const std::uint8_t* pack)
{
    CodePack c;
    c.raw[0] = pack[0] & 0x0F;
    for (int i = 1; i < 7; ++i)
        c.raw[static_cast<std::size_t>(i)] = pack[i];
    std::string digits;
    digits.reserve(13);
    auto add = [&](std::uint8_t nibble) {
        if (Decimal(nibble))
            digits.push_back(static_cast<char>('0' + nibble));
    };
    add(c.raw[0]);
    for (int i = 1; i < 7; ++i) {
        add(c.raw[static_cast<std::size_t>(i)] >> 4);
        add(c.raw[static_cast<std::size_t>(i)] & 0x0F);
    }
    if (digits.size() == 13)
        c.digits = std::move(digits);
    return c;
}

}  // namespace

std::uint32_t MainId::SampleRateHz() const
{
    switch (rateCode) {
    case 0: return 48000;
    case 1: return 44100;
    case 2: return 32000;
    default: return 0;
    }
}

unsigned MainId::Channels() const
{
    switch (channelCode) {
    case 0: return 2;
    case 1: return 4;
    default: return 0;
    }
}

Quantization MainId::QuantizationKind() const
{
    switch (quantizationCode) {
    case 0: return Quantization::Linear16;
    case 1: return Quantization::NonLinear12;
    default: return Quantization::Unknown;
    }
}

bool MainId::IsLongPlay() const
{
    return QuantizationKind() == Quantization::NonLinear12 || Channels() == 4;
}

std::string MainId::RateText() const
{
    std::string text;
    switch (rateCode) {
    case 0: text = "48 KHz"; break;
    case 1: text = "44.1 KHz"; break;
    case 2: text = "32 KHz"; break;
    default: text = "-- KHz"; break;
    }
    if (IsLongPlay())
        text += " LP";
    return text;
}

ProgramNumber ProgramNumber::FromDigits(std::uint8_t hundreds, std::uint8_t tens, std::uint8_t units)
{
    ProgramNumber p;
    p.digits = {static_cast<std::uint8_t>(hundreds & 0x0F), static_cast<std::uint8_t>(tens & 0x0F),
                static_cast<std::uint8_t>(units & 0x0F)};
    const auto [h, t, u] = p.digits;
    if (h == 0 && t == 0xB && u == 0xB)
        p.kind = Kind::LeadIn;
    else if (h == 0 && t == 0xE && u == 0xE)
        p.kind = Kind::LeadOut;
    else if (h <= 7 && Decimal(t) && Decimal(u)) {
        p.kind = Kind::Number;
        p.number = static_cast<std::uint16_t>(h * 100 + t * 10 + u);
    }
    return p;
}

ProgramNumber ProgramNumber::Of(unsigned number)
{
    if (number > 799)
        return ProgramNumber{};
    return FromDigits(static_cast<std::uint8_t>(number / 100), static_cast<std::uint8_t>(number / 10 % 10),
                      static_cast<std::uint8_t>(number % 10));
}

MainId DecodeMainId(const std::uint8_t* m)
{
    MainId id;
    id.format = m[0] >> 6;
    id.emphasisCode = (m[0] >> 4) & 3;
    id.rateCode = (m[0] >> 2) & 3;
    id.channelCode = m[0] & 3;
    id.quantizationCode = m[1] >> 6;
    id.trackPitchCode = (m[1] >> 4) & 3;
    id.copyCode = (m[1] >> 2) & 3;
    id.packCode = m[1] & 3;
    return id;
}

SubId DecodeSubId(const std::uint8_t* s)
{
    SubId id;
    const unsigned control = s[0] >> 4;
    id.toc = control & 1;
    id.skip = control & 2;
    id.start = control & 4;
    id.priority = control & 8;
    id.dataId = s[0] & 0x0F;
    id.program = ProgramNumber::FromDigits(s[1] >> 4, s[2] >> 4, s[2] & 0x0F);
    id.packCount = s[1] & 0x0F;
    id.interpolation = s[3];
    id.leftConcealed = s[3] & 0x40;
    id.rightConcealed = s[3] & 0x20;
    return id;
}

Frame Decode(FrameBytes bytes)
{
    Frame f;
    const std::uint8_t* frame = bytes.data();
    f.mainId = DecodeMainId(frame + kMainIdOffset);
    f.subId = DecodeSubId(frame + kSubIdOffset);
    // All seven packs are read whatever the sub ID's count says: a reader keeps what it finds,
    // and an empty pack says so itself.
    for (std::size_t k = 0; k < kPackCount; ++k) {
        const std::uint8_t* pack = frame + kPacksOffset + k * kPackBytes;
        switch (static_cast<PackItem>(pack[0] >> 4)) {
        case PackItem::ProgramTime: f.programTime = DecodeTimePack(pack); break;
        case PackItem::AbsoluteTime: f.absoluteTime = DecodeTimePack(pack); break;
        case PackItem::RunningTime: f.runningTime = DecodeTimePack(pack); break;
        case PackItem::Toc: {
            const TimePack t = DecodeTimePack(pack);
            f.toc[f.tocCount++] = TocEntry{t.program, t.index, t.time};
            break;
        }
        case PackItem::Date: f.date = DecodeDatePack(pack); break;
        case PackItem::Catalog: f.catalog = DecodeCodePack(pack); break;
        case PackItem::Isrc: f.isrc = DecodeCodePack(pack); break;
        default: break;  // empty, professional binary and unknown items
        }
    }
    return f;
}

std::optional<Frame> Decode(const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr || size != kFrameBytes)
        return std::nullopt;
    return Decode(FrameBytes(data, kFrameBytes));
}

}  // namespace dat
