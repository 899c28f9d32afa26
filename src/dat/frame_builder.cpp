#include "dat/frame_builder.h"

#include <chrono>
#include <cstring>
#include <ctime>

namespace dat {
namespace {

void SealPack(std::uint8_t* pack)
{
    // The virtual drive's parity: XOR of bytes 0-6 (readers do not check it).
    std::uint8_t parity = 0;
    for (int i = 0; i < 7; ++i)
        parity ^= pack[i];
    pack[7] = parity;
}

void WriteProgram(std::uint8_t* pack, std::uint8_t itemAndFlag, const ProgramNumber& p)
{
    pack[0] = static_cast<std::uint8_t>(itemAndFlag | (p.digits[0] & 0x07));
    pack[1] = static_cast<std::uint8_t>((p.digits[1] & 0x0F) << 4 | (p.digits[2] & 0x0F));
}

}  // namespace

DateTime LocalNow()
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return {local.tm_year + 1900,
            static_cast<unsigned>(local.tm_mon + 1),
            static_cast<unsigned>(local.tm_mday),
            static_cast<unsigned>(local.tm_hour),
            static_cast<unsigned>(local.tm_min),
            static_cast<unsigned>(local.tm_sec)};
}

Date DateAfter(const DateTime& start, std::uint64_t seconds)
{
    using namespace std::chrono;
    const sys_days startDay{year{start.year} / month{start.month} / std::chrono::day{start.day}};
    const sys_seconds at = startDay + hours{start.hour} + minutes{start.minute} + std::chrono::seconds{start.second} +
                           std::chrono::seconds{static_cast<std::int64_t>(seconds)};
    const sys_days atDay = floor<days>(at);
    const year_month_day ymd{atDay};
    const hh_mm_ss<std::chrono::seconds> time{at - atDay};
    Date d;
    d.year = static_cast<unsigned>(((int(ymd.year()) % 100) + 100) % 100);
    d.month = unsigned(ymd.month());
    d.day = unsigned(ymd.day());
    d.hour = static_cast<unsigned>(time.hours().count());
    d.minute = static_cast<unsigned>(time.minutes().count());
    d.second = static_cast<unsigned>(time.seconds().count());
    d.weekday = weekday{atDay}.c_encoding() + 1;  // 1 Sunday to 7 Saturday
    return d;
}

void EncodeMainId(const MainIdFields& f, std::uint8_t* out)
{
    unsigned rate = 3;
    if (f.sampleRateHz == 48000)
        rate = 0;
    else if (f.sampleRateHz == 44100)
        rate = 1;
    else if (f.sampleRateHz == 32000)
        rate = 2;
    out[0] = static_cast<std::uint8_t>((f.emphasis ? 1u : 0u) << 4 | rate << 2 | (f.fourChannels ? 1u : 0u));
    out[1] = static_cast<std::uint8_t>((f.nonLinear12 ? 1u : 0u) << 6 | (f.wideTrackPitch ? 1u : 0u) << 4 |
                                       (f.copyProhibited ? 2u : 0u) << 2);
}

SubcodeWriter::SubcodeWriter(MutableFrameBytes frame) : frame_(frame.data())
{
    std::memset(frame_ + kPacksOffset, 0, kFrameBytes - kPacksOffset);
}

SubcodeWriter& SubcodeWriter::SetMainId(const MainIdFields& fields)
{
    EncodeMainId(fields, frame_ + kMainIdOffset);
    return *this;
}

SubcodeWriter& SubcodeWriter::SetSubId(const SubIdFields& f)
{
    std::uint8_t* s = frame_ + kSubIdOffset;
    const unsigned control = (f.toc ? 1u : 0u) | (f.skip ? 2u : 0u) | (f.start ? 4u : 0u) | (f.priority ? 8u : 0u);
    const unsigned count = f.packCount.value_or(static_cast<std::uint8_t>(packs_)) & 0x0F;
    s[0] = static_cast<std::uint8_t>(control << 4 | (f.dataId & 0x0F));
    s[1] = static_cast<std::uint8_t>((f.program.digits[0] & 0x0F) << 4 | count);
    s[2] = static_cast<std::uint8_t>((f.program.digits[1] & 0x0F) << 4 | (f.program.digits[2] & 0x0F));
    s[3] = static_cast<std::uint8_t>((f.leftConcealed ? 0x40 : 0) | (f.rightConcealed ? 0x20 : 0));
    return *this;
}

std::uint8_t* SubcodeWriter::nextPack()
{
    if (packs_ >= kPackCount)
        return nullptr;
    return frame_ + kPacksOffset + kPackBytes * packs_++;
}

SubcodeWriter& SubcodeWriter::AddTimePack(PackItem item, const ProgramNumber& program, std::uint8_t index,
                                       const TimeCode& time, bool flag)
{
    if (std::uint8_t* pack = nextPack()) {
        WriteProgram(pack, static_cast<std::uint8_t>(static_cast<unsigned>(item) << 4 | (flag ? 0x08 : 0)), program);
        pack[2] = ToBcd(index);
        TimeCodeToBcd(time, pack + 3);
        SealPack(pack);
    }
    return *this;
}

SubcodeWriter& SubcodeWriter::AddTocPack(const ProgramNumber& program, std::uint8_t index, const TimeCode& start)
{
    return AddTimePack(PackItem::Toc, program, index, start);
}

SubcodeWriter& SubcodeWriter::AddDatePack(const Date& d)
{
    if (std::uint8_t* pack = nextPack()) {
        pack[0] = static_cast<std::uint8_t>(static_cast<unsigned>(PackItem::Date) << 4 | (d.weekday & 0x0F));
        pack[1] = ToBcd(d.year);
        pack[2] = ToBcd(d.month);
        pack[3] = ToBcd(d.day);
        pack[4] = ToBcd(d.hour);
        pack[5] = ToBcd(d.minute);
        pack[6] = ToBcd(d.second);
        SealPack(pack);
    }
    return *this;
}

SubcodeWriter& SubcodeWriter::AddCodePack(PackItem item, const std::array<std::uint8_t, 7>& raw)
{
    if (std::uint8_t* pack = nextPack()) {
        pack[0] = static_cast<std::uint8_t>(static_cast<unsigned>(item) << 4 | (raw[0] & 0x0F));
        for (int i = 1; i < 7; ++i)
            pack[i] = raw[static_cast<std::size_t>(i)];
        SealPack(pack);
    }
    return *this;
}

}  // namespace dat
