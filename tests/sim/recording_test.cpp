// Tapes at 44.1 and 32 kHz, rate changes between programs, and what the recorder writes
// besides the audio (emphasis, the date, the running time), read back with the frame decoder.
#include <gtest/gtest.h>

#include <cstring>

#include "dat/audio_format.h"
#include "dat/frame.h"
#include "sim/virtual_bus.h"

namespace {

std::vector<std::int16_t> Ramp(std::size_t pairs, int step)
{
    std::vector<std::int16_t> pcm(2 * pairs);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(static_cast<int>(i * step % 60000) - 30000);
    return pcm;
}

dat::Frame DecodeFrame(const sim::Tape& tape, std::uint64_t n)
{
    const auto bytes = sim::FrameBytes(tape, n);
    return dat::Decode(dat::FrameBytes(bytes.data(), dat::kFrameBytes));
}

std::uint32_t AbsoluteIndex(const dat::Frame& f) { return dat::IndexOfTimeCode(f.absoluteTime->time).value(); }

TEST(RecordedTape, EachRateUsesItsShareOfTheFrameAndTheRestIsZero)
{
    // Three programs of 2.5 frames each at 48, 44.1 and 32 kHz: 3 frames each.
    const auto p48 = Ramp(1440 * 2 + 720, 3), p44 = Ramp(1323 * 2 + 600, 5), p32 = Ramp(960 * 2 + 480, 7);
    auto tape = sim::MakeRecordedTape({{p48, 48000}, {p44, 44100}, {p32, 32000}});
    ASSERT_TRUE(tape);
    ASSERT_EQ(tape->frameCount(), 9u + 300);
    EXPECT_EQ(sim::FirstFrameOfProgram(*tape, 2), 3u);
    EXPECT_EQ(sim::FirstFrameOfProgram(*tape, 3), 6u);

    struct Program {
        const std::vector<std::int16_t>* pcm;
        std::uint32_t rate;
        std::size_t bytes;
    };
    const Program programs[] = {{&p48, 48000, 5760}, {&p44, 44100, 5292}, {&p32, 32000, 3840}};
    for (std::size_t p = 0; p < 3; ++p) {
        // The program's samples, frame after frame, as a capture would join them.
        std::vector<std::uint8_t> joined;
        for (std::uint64_t n = 3 * p; n < 3 * p + 3; ++n) {
            const auto frame = sim::FrameBytes(*tape, n);
            const dat::Frame f = dat::Decode(dat::FrameBytes(frame.data(), dat::kFrameBytes));
            SCOPED_TRACE(testing::Message() << "frame " << n);
            EXPECT_EQ(f.mainId.SampleRateHz(), programs[p].rate);
            EXPECT_EQ(dat::FormatOf(f.mainId).value().audioBytes, programs[p].bytes);
            EXPECT_FALSE(f.mainId.Emphasis());
            EXPECT_EQ(f.subId.program.number, p + 1);
            EXPECT_TRUE(f.subId.start);
            EXPECT_EQ(AbsoluteIndex(f), n);  // absolute time runs on across the rate change
            EXPECT_EQ(dat::IndexOfTimeCode(f.programTime->time), n - 3 * p);
            EXPECT_TRUE(std::all_of(frame.begin() + static_cast<std::ptrdiff_t>(programs[p].bytes),
                                    frame.begin() + 5760, [](std::uint8_t b) { return b == 0; }));
            joined.insert(joined.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(programs[p].bytes));
        }
        const std::size_t sourceBytes = programs[p].pcm->size() * 2;
        ASSERT_GE(joined.size(), sourceBytes);
        EXPECT_EQ(0, std::memcmp(joined.data(), programs[p].pcm->data(), sourceBytes)) << "program " << p + 1;
        EXPECT_TRUE(std::all_of(joined.begin() + static_cast<std::ptrdiff_t>(sourceBytes), joined.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
    // The lead-out keeps the last program's rate.
    const dat::Frame leadOut = DecodeFrame(*tape, 9);
    EXPECT_EQ(leadOut.subId.program.kind, dat::ProgramNumber::Kind::LeadOut);
    EXPECT_EQ(leadOut.mainId.SampleRateHz(), 32000u);
    EXPECT_FALSE(leadOut.absoluteTime->time.valid);

    EXPECT_FALSE(sim::MakeRecordedTape({{p48, 22050}}));
}

TEST(RecordedTape, EmphasisDateAndRunningTimeOptions)
{
    const auto pcm = Ramp(1440 * 200, 11);
    sim::RecordingOptions options;
    options.emphasis = true;
    options.runningTime = false;
    options.date = sim::RecordingDate{1999, 12, 31, 23, 59, 58};
    auto tape = sim::MakeRecordedTape({{pcm, 48000}}, options);
    auto plain = sim::MakePcmTape({pcm});

    const dat::Frame first = DecodeFrame(*tape, 0);
    EXPECT_TRUE(first.mainId.Emphasis());
    EXPECT_EQ(first.mainId.SampleRateHz(), 48000u);
    EXPECT_FALSE(first.runningTime);
    EXPECT_EQ(first.subId.packCount, 3);  // program time, absolute time, date
    ASSERT_TRUE(first.date);
    EXPECT_TRUE(first.date->valid);
    EXPECT_EQ(first.date->year, 99u);
    EXPECT_EQ(first.date->second, 58u);
    EXPECT_EQ(first.date->weekday, 6u);  // a Friday
    // 100 frames are 3 seconds: into the new year, on a Saturday.
    const dat::Frame later = DecodeFrame(*tape, 100);
    EXPECT_EQ(later.date->year, 0u);
    EXPECT_EQ(later.date->month, 1u);
    EXPECT_EQ(later.date->day, 1u);
    EXPECT_EQ(later.date->hour, 0u);
    EXPECT_EQ(later.date->second, 1u);
    EXPECT_EQ(later.date->weekday, 7u);
    // The audio is written as given, emphasis or not.
    EXPECT_EQ(sim::FrameAudio(*tape, 7), sim::FrameAudio(*plain, 7));
    // Without the running-time pack the drive reports no running time either.
    EXPECT_EQ(tape->position(5).runTime[0], 0xAA);
    EXPECT_EQ(plain->position(5).runTime[0], 0x00);
    ASSERT_TRUE(DecodeFrame(*plain, 5).runningTime);
    EXPECT_EQ(DecodeFrame(*plain, 5).subId.packCount, 3);
    EXPECT_FALSE(DecodeFrame(*plain, 5).date);
}

}  // namespace
