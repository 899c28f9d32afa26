// vantrel --capture of long-play and four-channel tapes as a user runs it: the WAV at 32 kHz
// holds each sample expanded from its 12-bit code, in whichever layout the tape was packed,
// found from the sound; unreadable frames stand as silence at their place whichever way the
// tape's clock runs; a silent tape falls back to layout a and says so.
#include <QTemporaryDir>
#include <array>
#include <iterator>
#include <set>
#include <sndfile.h>
#include <sstream>

#include "dat/frame.h"
#include "sim_tape.h"
#include "support/child_process.h"
#include "support/lp_signal.h"

namespace e2e {
namespace {

constexpr std::size_t kFrameSamples = dat::kNonLinearSamples;  // per frame, every channel

class LongPlayCaptureTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    void WriteWav(const std::string& name, const std::vector<std::int16_t>& samples, int channels)
    {
        SF_INFO info{};
        info.samplerate = 32000;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(Path(name.c_str()).c_str(), SFM_WRITE, &info);
        ASSERT_TRUE(f) << sf_strerror(nullptr);
        sf_writef_short(f, samples.data(), static_cast<sf_count_t>(samples.size() / channels));
        sf_close(f);
    }

    // Two programs of `frames` frames each (the second not a whole number of frames) and a
    // description with `keys`; `expected` becomes what the capture should hold.
    void Describe(std::size_t frames, unsigned channels, const std::string& keys, bool silent = false)
    {
        const std::size_t perFrame = kFrameSamples / channels;
        auto one = lptest::SweepAndNoise(frames * perFrame, channels, 1);
        auto two = lptest::SweepAndNoise(frames * perFrame - 100, channels, 2);
        if (silent) {
            std::fill(one.begin(), one.end(), 0);
            std::fill(two.begin(), two.end(), 0);
        }
        WriteWav("one.wav", one, static_cast<int>(channels));
        WriteWav("two.wav", two, static_cast<int>(channels));
        expected = lptest::Expanded(one);
        const auto second = lptest::Expanded(two);
        expected.insert(expected.end(), second.begin(), second.end());
        expected.resize(2 * frames * kFrameSamples, 0);  // the last frame padded with silence
        const std::string json = R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, )"
                                 R"("tape": ["one.wav", "two.wav"], )" +
                                 keys + "}]}]}";
        std::ofstream(Path("lp.json")) << json;
    }

    int Run(const QStringList& args)
    {
        testing_support::ChildProcess program(dir.path());
        const int status = program.run(QStringLiteral(VANTREL_BINARY), args);
        errors = program.takeStderr();
        return status;
    }

    // out.wav's samples, after checking its header: 32 kHz, `channels` channels, 16-bit.
    std::vector<std::int16_t> Out(unsigned channels, const char* name = "out.wav")
    {
        SF_INFO info{};
        SNDFILE* f = sf_open(Path(name).c_str(), SFM_READ, &info);
        EXPECT_TRUE(f) << sf_strerror(nullptr);
        if (!f)
            return {};
        EXPECT_EQ(info.samplerate, 32000);
        EXPECT_EQ(info.channels, static_cast<int>(channels));
        EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
        std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_short(f, samples.data(), info.frames);
        sf_close(f);
        return samples;
    }

    // Frame by frame: the expected samples, or silence for the frames in `silent`.
    void ExpectFrames(const std::vector<std::int16_t>& got, const std::set<std::size_t>& silent)
    {
        ASSERT_EQ(got.size(), expected.size());
        for (std::size_t n = 0; n < got.size() / kFrameSamples; ++n) {
            const auto at = got.begin() + static_cast<std::ptrdiff_t>(n * kFrameSamples);
            if (silent.count(n))
                ASSERT_TRUE(std::all_of(at, at + kFrameSamples, [](std::int16_t s) { return s == 0; })) << n;
            else
                ASSERT_TRUE(std::equal(at, at + kFrameSamples,
                                       expected.begin() + static_cast<std::ptrdiff_t>(n * kFrameSamples)))
                    << "frame " << n;
        }
    }

    QTemporaryDir dir;
    std::vector<std::int16_t> expected;
    std::string errors;
};

TEST_F(LongPlayCaptureTest, EachLayoutIsFoundAndEverySampleIsTheExpandedSource)
{
    for (const char* layout : {"a", "b", "a-swapped", "b-swapped"}) {
        SCOPED_TRACE(layout);
        Describe(40, 2, std::string(R"("long_play": true, "lp_layout": ")") + layout + "\"");
        EXPECT_EQ(Run({"--simulate=lp.json", "--capture=out.wav"}), 0) << errors;
        ExpectFrames(Out(2), {});
        EXPECT_NE(errors.find("Tape: 32 KHz LP, no emphasis, programs 1-2"), std::string::npos) << errors;
        EXPECT_NE(
            errors.find(std::string("Long play, 12-bit samples written as 16-bit, layout ") + layout + " (found: "),
            std::string::npos)
            << errors;
        EXPECT_NE(errors.find("one code frame per 60 ms frame"), std::string::npos) << errors;
    }
}

TEST_F(LongPlayCaptureTest, UnreadableFramesAreSilenceInPlaceWithEitherTimeCodeStep)
{
    for (const char* step : {"1", "2"}) {
        SCOPED_TRACE(step);
        Describe(40, 2, std::string(R"("long_play": true, "medium_errors": [5, 30, 31, 60], "lp_time_step": )") + step);
        EXPECT_EQ(Run({"--simulate=lp.json", "--capture=out.wav"}), 3) << errors;
        ExpectFrames(Out(2), {5, 30, 31, 60});
        EXPECT_NE(errors.find("Unreadable: 4 frames, written as silence"), std::string::npos) << errors;
        EXPECT_NE(errors.find(std::string(step) == "1" ? "one code frame" : "two code frames"), std::string::npos)
            << errors;
    }
}

TEST_F(LongPlayCaptureTest, FourChannelTapesGiveFourChannelFiles)
{
    Describe(30, 4, R"("channels": 4, "lp_layout": "b")");
    EXPECT_EQ(Run({"--simulate=lp.json", "--capture=out.wav"}), 0) << errors;
    ExpectFrames(Out(4), {});
    EXPECT_NE(errors.find("Four channels, 12-bit samples written as 16-bit, layout b (found: "), std::string::npos)
        << errors;
}

TEST_F(LongPlayCaptureTest, ASilentTapeFallsBackToAAndTheOptionOverridesTheSound)
{
    Describe(20, 2, R"("long_play": true, "lp_layout": "b")", true);
    EXPECT_EQ(Run({"--simulate=lp.json", "--capture=out.wav"}), 0) << errors;
    ExpectFrames(Out(2), {});
    EXPECT_NE(errors.find("layout a (not clear: no sound to judge by; a is the default)"), std::string::npos) << errors;

    // Packed as b, read as a: the option wins over the sound, and the samples differ.
    Describe(20, 2, R"("long_play": true, "lp_layout": "b")");
    EXPECT_EQ(Run({"--simulate=lp.json", "--capture=out.wav", "--lp-layout=a"}), 0) << errors;
    EXPECT_NE(Out(2), expected);
    EXPECT_NE(errors.find("layout a (set by --lp-layout)"), std::string::npos) << errors;

    EXPECT_EQ(Run({"--simulate=lp.json", "--capture=out.wav", "--lp-layout=c"}), 2);
    EXPECT_NE(errors.find("--lp-layout needs auto, a, b, a-swapped or b-swapped, not 'c'."), std::string::npos)
        << errors;
}

// --archive keeps the raw 12-bit frames in tape.dat and writes each program decoded.
class LongPlayArchiveTest : public LongPlayCaptureTest {
protected:
    // The package's two programs, one after the other, as one stream of samples.
    std::vector<std::int16_t> Programs(const char* pkg, unsigned channels)
    {
        auto all = Out(channels, (std::string(pkg) + "/data/001.wav").c_str());
        const auto two = Out(channels, (std::string(pkg) + "/data/002.wav").c_str());
        all.insert(all.end(), two.begin(), two.end());
        return all;
    }
    std::string Text(const char* pkg, const char* file) const
    {
        std::ifstream in(Path(pkg) + "/" + file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(LongPlayArchiveTest, FaultsAreSilenceInPlaceWithEitherTimeCodeStepAndTheReportSaysLongPlay)
{
    std::vector<std::vector<std::string>> logRows;
    for (const char* step : {"1", "2"}) {
        SCOPED_TRACE(step);
        const std::string pkg = std::string("pkg") + step;
        Describe(40, 2, std::string(R"("long_play": true, "medium_errors": [5, 30, 31, 60], "lp_time_step": )") + step);
        Run({"--simulate=lp.json", QString::fromStdString("--archive=" + pkg)});
        ExpectFrames(Programs(pkg.c_str(), 2), {5, 30, 31, 60});
        const std::string json = Text(pkg.c_str(), "data/report.json");
        EXPECT_NE(json.find(R"("mode": "long play")"), std::string::npos) << json;
        EXPECT_NE(json.find(R"("time_code_step": )" + std::string(step)), std::string::npos) << json;
        // Real time: 40 frames of 60 ms, and the second program 40 frames of 1920 instants in.
        EXPECT_NE(json.find(R"("duration_seconds": 2.4)"), std::string::npos) << json;
        EXPECT_NE(json.find(R"("time_reference": 76800)"), std::string::npos) << json;
        EXPECT_NE(json.find(R"("count": 4)"), std::string::npos) << json;
        EXPECT_NE(
            Text(pkg.c_str(), "data/report.txt").find("Recording: long play, 12-bit samples in layout a (found: "),
            std::string::npos);
        const std::string bag = Text(pkg.c_str(), "bag-info.txt");
        EXPECT_NE(bag.find("Vantrel-Tape-Mode: long play\n"), std::string::npos) << bag;
        EXPECT_NE(bag.find("Vantrel-Tape-Layout: a (found: "), std::string::npos) << bag;

        // The subcode log: a time code that advances by the tape's own step runs on, so
        // only the changes and the lost frames have rows, whichever way the clock runs.
        std::istringstream csv(Text(pkg.c_str(), "data/subcode.csv"));
        std::vector<std::string> frames;
        for (std::string line; std::getline(csv, line);)
            frames.push_back(line.substr(0, line.find(',')));
        logRows.push_back(frames);
    }
    ASSERT_EQ(logRows.size(), 2u);
    EXPECT_EQ(logRows[1], logRows[0]);
    EXPECT_LT(logRows[1].size(), 20u) << "rows for frames that run on";
}

TEST_F(LongPlayArchiveTest, KeptFramesDecodeAgainTheOtherWay)
{
    Describe(40, 2, R"("long_play": true)");
    EXPECT_EQ(Run({"--simulate=lp.json", "--archive=pkg"}), 0) << errors;
    ExpectFrames(Programs("pkg", 2), {});

    // The same frames read as b: each frame's area packed as a, unpacked as b. The kept frames
    // through a description at read speed 0: --simulate=pkg/data/tape.dat alone reads at twice
    // real time, 12 s for these 80 frames and the 300 of the lead-out.
    std::ofstream(Path("kept.json"))
        << R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "pkg/data/tape.dat"}]}]})";
    EXPECT_EQ(Run({"--simulate=kept.json", "--archive=again", "--lp-layout=b"}), 0) << errors;
    std::vector<std::int16_t> asB(expected.size());
    std::array<std::uint8_t, dat::kAudioAreaBytes> area{};
    for (std::size_t n = 0; n < expected.size() / kFrameSamples; ++n) {
        dat::EncodeNonLinear(expected.data() + n * kFrameSamples, dat::NonLinearLayout::A, area.data());
        dat::DecodeNonLinear(area.data(), dat::NonLinearLayout::B, asB.data() + n * kFrameSamples);
    }
    EXPECT_NE(asB, expected);
    expected = asB;
    ExpectFrames(Programs("again", 2), {});
    EXPECT_NE(Text("again", "bag-info.txt").find("Vantrel-Tape-Layout: b (set by --lp-layout)"), std::string::npos);
}

TEST_F(LongPlayArchiveTest, FourChannelTapesGiveFourChannelWavs)
{
    Describe(30, 4, R"("channels": 4, "lp_layout": "b-swapped")");
    EXPECT_EQ(Run({"--simulate=lp.json", "--archive=pkg"}), 0) << errors;
    ExpectFrames(Programs("pkg", 4), {});
    EXPECT_NE(Text("pkg", "bag-info.txt").find("Vantrel-Tape-Mode: four-channel"), std::string::npos);
    EXPECT_NE(Text("pkg", "bag-info.txt").find("Vantrel-Tape-Layout: b-swapped (found: "), std::string::npos);
}

}  // namespace
}  // namespace e2e
