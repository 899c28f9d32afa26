// Decoding hand-built frames: the main ID, the sub ID and each kind of pack, byte by byte as a
// drive delivers them, and the encoder writing what the decoder reads.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "dat/audio_format.h"
#include "dat/frame_builder.h"
#include "dat/subcode_state.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A frame of silence whose subcode (offset 5760: seven packs, sub ID, main ID) is `subcode`,
// padded with zeros to 62 bytes.
Bytes FrameWith(std::initializer_list<std::uint8_t> subcode)
{
    Bytes f(dat::kFrameBytes, 0);
    std::copy(subcode.begin(), subcode.end(), f.begin() + dat::kPacksOffset);
    return f;
}

// A frame whose only non-zero bytes are the sub ID and main ID.
Bytes FrameWithIds(std::initializer_list<std::uint8_t> subId, std::initializer_list<std::uint8_t> mainId)
{
    Bytes f(dat::kFrameBytes, 0);
    std::copy(subId.begin(), subId.end(), f.begin() + dat::kSubIdOffset);
    std::copy(mainId.begin(), mainId.end(), f.begin() + dat::kMainIdOffset);
    return f;
}

dat::Frame D(const Bytes& f) { return dat::Decode(dat::FrameBytes(f.data(), dat::kFrameBytes)); }

TEST(MainId, RatesEmphasisAndLongPlay)
{
    struct Row {
        std::uint8_t m0, m1;
        std::uint32_t hz;
        std::size_t audioBytes;
        bool emphasis, longPlay;
        const char* text;
    };
    const Row rows[] = {
        {0x00, 0x00, 48000, 5760, false, false, "48 KHz"},   // 00 00: the plain 48 kHz frame
        {0x04, 0x00, 44100, 5292, false, false, "44.1 KHz"},  // fs bits 3-2 = 01
        {0x08, 0x00, 32000, 3840, false, false, "32 KHz"},    // fs bits 3-2 = 10
        {0x0C, 0x00, 0, 0, false, false, "-- KHz"},           // fs 11: reserved
        {0x10, 0x00, 48000, 5760, true, false, "48 KHz"},     // emphasis bits 5-4 = 01: 50/15 us
        {0x14, 0x00, 44100, 5292, true, false, "44.1 KHz"},
        {0x20, 0x00, 48000, 5760, false, false, "48 KHz"},    // emphasis 10: reserved, not 50/15
        {0x08, 0x40, 32000, 5760, false, true, "32 KHz LP"},  // quantization 01: 12-bit non-linear
        {0x09, 0x00, 32000, 0, false, true, "32 KHz LP"},     // channels 01: four, but 16-bit: none
    };
    for (const Row& r : rows) {
        const dat::MainId id = D(FrameWithIds({}, {r.m0, r.m1})).mainId;
        SCOPED_TRACE(testing::Message() << std::hex << int(r.m0) << " " << int(r.m1));
        EXPECT_EQ(id.SampleRateHz(), r.hz);
        const std::optional<dat::AudioFormat> format = dat::FormatOf(id);
        EXPECT_EQ(format ? format->audioBytes : 0, r.audioBytes);
        EXPECT_EQ(id.Emphasis(), r.emphasis);
        EXPECT_EQ(id.IsLongPlay(), r.longPlay);
        EXPECT_EQ(id.RateText(), r.text);
    }
    // 40 1B: format 1, wide pitch (bits 5-4 = 10 is reserved, 01 wide), copy prohibited.
    const dat::MainId other = D(FrameWithIds({}, {0x40, 0x1B})).mainId;
    EXPECT_EQ(other.format, 1);
    EXPECT_TRUE(other.WideTrackPitch());
    EXPECT_TRUE(other.CopyProhibited());  // bits 3-2 = 10
    EXPECT_EQ(other.packCode, 3);
    EXPECT_EQ(other.Channels(), 2u);
    EXPECT_EQ(other.QuantizationKind(), dat::Quantization::Linear16);
}

TEST(SubId, ProgramNumbersAndSpecialValues)
{
    using K = dat::ProgramNumber::Kind;
    struct Row {
        std::uint8_t s1, s2;  // sub ID bytes 1 and 2: hundreds|packs, tens|units
        K kind;
        unsigned number;
    };
    const Row rows[] = {
        {0x03, 0x00, K::Number, 0},    // 0 0 0
        {0x03, 0x01, K::Number, 1},    // 0 0 1
        {0x73, 0x99, K::Number, 799},  // 7 9 9
        {0x03, 0xBB, K::LeadIn, 0},    // 0 B B
        {0x03, 0xEE, K::LeadOut, 0},   // 0 E E
        {0x03, 0x1A, K::Invalid, 0},   // units 0xA: not currently valid
        {0x83, 0x00, K::Invalid, 0},   // hundreds 8: beyond 799
        {0x13, 0xBB, K::Invalid, 0},   // 1 B B is neither lead-in nor a number
        {0x03, 0xEB, K::Invalid, 0},
    };
    for (const Row& r : rows) {
        const dat::SubId id = D(FrameWithIds({0x00, r.s1, r.s2, 0x00}, {})).subId;
        SCOPED_TRACE(testing::Message() << std::hex << int(r.s1) << " " << int(r.s2));
        EXPECT_EQ(id.program.kind, r.kind);
        if (r.kind == K::Number) {
            EXPECT_EQ(id.program.number, r.number);
        }
        EXPECT_EQ(id.packCount, 3);
    }
    EXPECT_EQ(dat::ProgramNumber::Of(799).kind, K::Number);
    EXPECT_EQ(dat::ProgramNumber::Of(800).kind, K::Invalid);
}

TEST(SubId, ControlFlagsDataIdAndInterpolation)
{
    // 4 0: start ID, audio; 0 2 / 1 2: program 12, two packs; 60: both channels concealed.
    dat::SubId id = D(FrameWithIds({0x40, 0x02, 0x12, 0x60}, {})).subId;
    EXPECT_TRUE(id.start);
    EXPECT_FALSE(id.skip || id.priority || id.toc);
    EXPECT_EQ(id.program.number, 12);
    EXPECT_EQ(id.packCount, 2);
    EXPECT_TRUE(id.leftConcealed);
    EXPECT_TRUE(id.rightConcealed);

    // B 5: priority, skip and TOC flags, data ID 5; 40: left only.
    id = D(FrameWithIds({0xB5, 0x00, 0x01, 0x40}, {})).subId;
    EXPECT_TRUE(id.priority && id.skip && id.toc);
    EXPECT_FALSE(id.start);
    EXPECT_EQ(id.dataId, 5);
    EXPECT_TRUE(id.leftConcealed);
    EXPECT_FALSE(id.rightConcealed);

    id = D(FrameWithIds({0x00, 0x00, 0x01, 0x20}, {})).subId;  // 20: right only
    EXPECT_FALSE(id.leftConcealed);
    EXPECT_TRUE(id.rightConcealed);
}

TEST(Packs, TimePacksWithIndexAndValidity)
{
    const dat::Frame f = D(FrameWith({
        0x10, 0x12, 0x01, 0x00, 0x03, 0x05, 0x33, 0x15,  // program time, P012, index 1, 0:03:05.33 (5 % 3 == 2)
        0x20, 0x12, 0x02, 0x01, 0x59, 0x59, 0x33, 0x00,  // absolute time, index 2, 1:59:59.33
        0x38, 0x12, 0x01, 0x00, 0x00, 0x04, 0x33, 0x00,  // pro running time (flag), 0:00:04.33: frame out of range
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // empty
        0x90, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,  // item 9: unknown, skipped
        0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,  // professional binary: skipped
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    }));
    ASSERT_TRUE(f.programTime && f.absoluteTime && f.runningTime);
    EXPECT_EQ(f.programTime->program.number, 12);
    EXPECT_EQ(f.programTime->index, 1);
    EXPECT_EQ(f.programTime->time, (dat::TimeCode{0, 3, 5, 33, true}));
    EXPECT_EQ(dat::FormatHmsf(f.programTime->time), "00:03:05.33");
    EXPECT_FALSE(f.programTime->flag);
    EXPECT_EQ(f.absoluteTime->index, 2);
    EXPECT_EQ(dat::FormatHms(f.absoluteTime->time), "1:59:59");
    EXPECT_TRUE(f.runningTime->flag);
    EXPECT_FALSE(f.runningTime->time.valid);  // frame 33 only in seconds 2, 5, 8...
    EXPECT_EQ(dat::FormatHms(f.runningTime->time), "-:--:--");
    EXPECT_FALSE(f.date || f.catalog || f.isrc);
    EXPECT_EQ(f.tocCount, 0u);
}

TEST(Packs, LeadOutTimesAndIndexNotValid)
{
    const dat::Frame f = D(FrameWith({
        0x10, 0xEE, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0x00,  // program time of the lead-out: all "not valid"
        0x20, 0xEE, 0x00, 0x00, 0x10, 0x60, 0x00, 0x00,  // seconds 60: out of range
    }));
    ASSERT_TRUE(f.programTime && f.absoluteTime);
    EXPECT_EQ(f.programTime->program.kind, dat::ProgramNumber::Kind::LeadOut);
    EXPECT_FALSE(f.programTime->index);
    EXPECT_FALSE(f.programTime->time.valid);
    EXPECT_EQ(dat::FormatHmsf(f.programTime->time), "--:--:--.--");
    EXPECT_EQ(f.absoluteTime->index, 0);
    EXPECT_FALSE(f.absoluteTime->time.valid);
}

TEST(Packs, DateTocCatalogAndIsrc)
{
    const dat::Frame f = D(FrameWith({
        0x54, 0x94, 0x06, 0x21, 0x23, 0x59, 0x58, 0x00,  // date: Wednesday, (19)94-06-21 23:59:58
        0x40, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,  // TOC: program 1, index 1, starts 0:00:00.00
        0x47, 0x99, 0x01, 0x01, 0x02, 0x05, 0x33, 0x00,  // TOC: program 799 (hundreds in bits 2-0), 1:02:05.33
        0x64, 0x00, 0x12, 0x34, 0x56, 0x78, 0x90, 0x00,  // catalog: 4 0012345678 90 -> 13 digits
        0x70, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F, 0x00,  // ISRC: raw bits only
    }));
    ASSERT_TRUE(f.date);
    EXPECT_TRUE(f.date->valid);
    EXPECT_EQ(f.date->weekday, 4u);
    EXPECT_EQ(f.date->year, 94u);
    EXPECT_EQ(f.date->month, 6u);
    EXPECT_EQ(f.date->day, 21u);
    EXPECT_EQ(f.date->hour, 23u);
    EXPECT_EQ(f.date->minute, 59u);
    EXPECT_EQ(f.date->second, 58u);
    ASSERT_EQ(f.tocCount, 2u);
    EXPECT_EQ(f.toc[0].program.number, 1);
    EXPECT_EQ(f.toc[0].start, (dat::TimeCode{0, 0, 0, 0, true}));
    EXPECT_EQ(f.toc[1].program.number, 799);
    EXPECT_EQ(f.toc[1].start, (dat::TimeCode{1, 2, 5, 33, true}));
    ASSERT_TRUE(f.catalog);
    EXPECT_EQ(f.catalog->digits, "4001234567890");
    ASSERT_TRUE(f.isrc);
    EXPECT_EQ(f.isrc->digits, "");
    EXPECT_EQ(f.isrc->raw, (std::array<std::uint8_t, 7>{0x0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}));

    // Month 13, weekday 0: the date is not valid and the weekday unknown.
    const dat::Frame bad = D(FrameWith({0x50, 0x94, 0x13, 0x01, 0x00, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(bad.date);
    EXPECT_FALSE(bad.date->valid);
    EXPECT_EQ(bad.date->weekday, 0u);
}

TEST(Decode, OnlyWholeFrames)
{
    const Bytes f = FrameWithIds({0x40, 0x03, 0x01, 0x00}, {0x04, 0x00});
    ASSERT_TRUE(dat::Decode(f.data(), f.size()));
    EXPECT_EQ(dat::Decode(f.data(), f.size())->mainId.SampleRateHz(), 44100u);
    EXPECT_FALSE(dat::Decode(f.data(), f.size() - 1));
    EXPECT_FALSE(dat::Decode(nullptr, dat::kFrameBytes));
}

TEST(SubcodeState, KeepsTheLastValueOfEachKind)
{
    dat::SubcodeState state;
    Bytes a(dat::kFrameBytes, 0), b(dat::kFrameBytes, 0);
    dat::SubcodeWriter(dat::MutableFrameBytes(a.data(), dat::kFrameBytes))
        .SetMainId({.sampleRateHz = 32000})
        .AddTimePack(dat::PackItem::ProgramTime, dat::ProgramNumber::Of(2), 1, dat::TimeCodeOfIndex(10))
        .AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::Of(2), 1, dat::TimeCodeOfIndex(500))
        .AddDatePack({.year = 26, .month = 12, .day = 9, .hour = 8, .weekday = 4})
        .AddTocPack(dat::ProgramNumber::Of(1), 1, dat::TimeCodeOfIndex(0))
        .SetSubId({.program = dat::ProgramNumber::Of(2)});
    // The next frame carries only the absolute time.
    dat::SubcodeWriter(dat::MutableFrameBytes(b.data(), dat::kFrameBytes))
        .AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::Of(2), 1, dat::TimeCodeOfIndex(501))
        .AddTocPack(dat::ProgramNumber::Of(1), 1, dat::TimeCodeOfIndex(0))
        .SetSubId({.program = dat::ProgramNumber::Of(2), .leftConcealed = true});
    state.Update(D(a));
    state.Update(D(b));
    EXPECT_TRUE(state.seenFrame);
    EXPECT_EQ(state.mainId.SampleRateHz(), 48000u);  // the main ID is the last frame's
    EXPECT_TRUE(state.subId.leftConcealed);
    ASSERT_TRUE(state.programTime && state.absoluteTime && state.date);
    EXPECT_EQ(*dat::IndexOfTimeCode(state.programTime->time), 10u);
    EXPECT_EQ(*dat::IndexOfTimeCode(state.absoluteTime->time), 501u);
    EXPECT_EQ(state.date->day, 9u);
    EXPECT_EQ(state.toc.size(), 1u);  // the same entry twice is one entry
    EXPECT_FALSE(state.runningTime);
    state.Reset();
    EXPECT_FALSE(state.seenFrame || state.absoluteTime);
}

TEST(SubcodeWriter, WritesWhatTheDecoderReads)
{
    Bytes f(dat::kFrameBytes, 0x5A);  // audio left as it was, subcode rewritten
    const dat::TimeCode t{0, 12, 3, 17, true};
    dat::SubcodeWriter w(dat::MutableFrameBytes(f.data(), dat::kFrameBytes));
    w.SetMainId({.sampleRateHz = 44100, .emphasis = true, .copyProhibited = true})
        .AddTimePack(dat::PackItem::ProgramTime, dat::ProgramNumber::Of(745), 3, t)
        .AddTimePack(dat::PackItem::RunningTime, dat::ProgramNumber::Of(745), 3, t, true)
        .AddCodePack(dat::PackItem::Catalog, {4, 0x00, 0x12, 0x34, 0x56, 0x78, 0x90})
        .SetSubId({.program = dat::ProgramNumber::Of(745), .start = true, .skip = true, .rightConcealed = true});
    EXPECT_EQ(f[dat::kAudioAreaBytes - 1], 0x5A);
    // Pack 0: item 1, hundreds 7; 45; index 03; 00 12 03 17; parity XOR of bytes 0-6.
    const Bytes pack0(f.begin() + 5760, f.begin() + 5768);
    EXPECT_EQ(pack0, (Bytes{0x17, 0x45, 0x03, 0x00, 0x12, 0x03, 0x17, 0x17 ^ 0x45 ^ 0x03 ^ 0x12 ^ 0x03 ^ 0x17}));
    // Sub ID: start and skip (6), data ID 0; hundreds 7 with 3 packs; 45; right concealed.
    EXPECT_EQ(Bytes(f.begin() + 5816, f.end()), (Bytes{0x60, 0x73, 0x45, 0x20, 0x14, 0x08}));
    EXPECT_TRUE(std::all_of(f.begin() + 5784, f.begin() + 5816, [](std::uint8_t b) { return b == 0; }));

    const dat::Frame d = D(f);
    EXPECT_EQ(d.mainId.RateText(), "44.1 KHz");
    EXPECT_TRUE(d.mainId.Emphasis());
    EXPECT_EQ(d.subId.program.number, 745);
    EXPECT_EQ(dat::FormatHmsf(d.runningTime->time), "00:12:03.17");
    EXPECT_TRUE(d.runningTime->flag);
    EXPECT_EQ(d.catalog->digits, "4001234567890");

    // An eighth pack has no slot and is dropped, not written past the packs.
    for (int i = 0; i < 8; ++i)
        w.AddTimePack(dat::PackItem::AbsoluteTime, dat::ProgramNumber::Of(1), 1, t);
    EXPECT_EQ(w.PacksWritten(), 7u);
    EXPECT_EQ(f[5816], 0x60);
}

}  // namespace

TEST(AudioFormat, EveryModeSizesAndTimesItsFrame)
{
    struct Row {
        std::uint8_t m0, m1;
        std::uint32_t rate;
        unsigned channels;
        dat::SampleCoding coding;
        std::size_t audioBytes;
        std::uint32_t sampleFrames, ms;
    };
    const Row rows[] = {
        {0x00, 0x00, 48000, 2, dat::SampleCoding::Linear16, 5760, 1440, 30},
        {0x04, 0x00, 44100, 2, dat::SampleCoding::Linear16, 5292, 1323, 30},
        {0x08, 0x00, 32000, 2, dat::SampleCoding::Linear16, 3840, 960, 30},
        {0x08, 0x40, 32000, 2, dat::SampleCoding::NonLinear12, 5760, 1920, 60},  // long play: half speed
        {0x09, 0x40, 32000, 4, dat::SampleCoding::NonLinear12, 5760, 960, 30},   // four channels
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << int(r.m0) << " " << int(r.m1));
        const std::optional<dat::AudioFormat> f = dat::FormatOf(D(FrameWithIds({}, {r.m0, r.m1})).mainId);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->rate, r.rate);
        EXPECT_EQ(f->channels, r.channels);
        EXPECT_EQ(f->coding, r.coding);
        EXPECT_EQ(f->audioBytes, r.audioBytes);
        EXPECT_EQ(f->sampleFrames, r.sampleFrames);
        EXPECT_EQ(f->Milliseconds(), r.ms);
        EXPECT_LE(f->audioBytes, dat::kAudioAreaBytes);
    }
    // Reserved codes and combinations no deck records have no format.
    for (const auto& ids : {std::array<std::uint8_t, 2>{0x0C, 0x00}, {0x02, 0x00}, {0x01, 0x00}, {0x00, 0x40},
                            {0x04, 0x40}, {0x08, 0x80}}) {
        SCOPED_TRACE(testing::Message() << std::hex << int(ids[0]) << " " << int(ids[1]));
        EXPECT_FALSE(dat::FormatOf(D(FrameWithIds({}, {ids[0], ids[1]})).mainId));
    }
    // A WAV header knows only its rate.
    EXPECT_EQ(dat::StereoFormatAt(44100), dat::FormatOf(D(FrameWithIds({}, {0x04, 0x00})).mainId));
    EXPECT_FALSE(dat::StereoFormatAt(22050));
}
