// vantrel --simulate=... --capture=out.wav as a user runs it, on tapes with faults and at
// each rate: the exit status, the file against the tape frame by frame, and the summary.
#include <QTemporaryDir>
#include <cstring>
#include <set>

#include "dat/time_code.h"
#include "sim_tape.h"
#include "support/child_process.h"

namespace e2e {
namespace {

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// A 16-bit stereo WAV file of `pcm` at `rate`.
std::vector<std::uint8_t> Wav(const std::vector<std::int16_t>& pcm, std::uint32_t rate)
{
    const auto put32 = [](std::vector<std::uint8_t>& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const auto dataBytes = static_cast<std::uint32_t>(pcm.size() * 2);
    std::vector<std::uint8_t> b{'R', 'I', 'F', 'F'};
    put32(b, 36 + dataBytes);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0});
    put32(b, rate);
    put32(b, rate * 4);
    b.insert(b.end(), {4, 0, 16, 0, 'd', 'a', 't', 'a'});
    put32(b, dataBytes);
    const auto* p = reinterpret_cast<const std::uint8_t*>(pcm.data());
    b.insert(b.end(), p, p + dataBytes);  // little-endian host
    return b;
}

// The READs in a --scsi-trace file: those that delivered, those that failed with MEDIUM
// ERROR, and the rest.
struct TraceReads {
    int good = 0, mediumErrors = 0, other = 0;
};
TraceReads ReadsIn(const std::string& path)
{
    TraceReads t;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.find(" EXEC 08 ") == std::string::npos)
            continue;
        if (line.find(" status=1 ") != std::string::npos)
            ++t.good;
        else if (line.find(" sense=F0 00 03 ") != std::string::npos || line.find(" sense=70 00 03 ") != std::string::npos)
            ++t.mediumErrors;
        else
            ++t.other;
    }
    return t;
}

std::string At(std::uint64_t frame) { return dat::FormatHmsf(dat::TimeCodeOfIndex(frame)); }

class CaptureModeFaultsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    // Writes song.wav (`frames` frames at 48 kHz of noise) and a bus description holding it
    // with `faults` (JSON members of the device).
    void Describe(std::uint64_t frames, const std::string& faults)
    {
        pcm = NoisePcm(frames * 1440 - 100);  // the last frame padded
        WriteFile(Path("song.wav"), Wav(pcm, 48000));
        const std::string json = R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "song.wav")" +
                                 (faults.empty() ? "" : ", " + faults) + "}]}]}";
        WriteFile(Path("faults.json"), {json.begin(), json.end()});
        std::string error;
        tape = sim::LoadTapeFile(Path("song.wav"), error);
        ASSERT_TRUE(tape) << error;
    }

    int Run(const QStringList& args)
    {
        testing_support::ChildProcess program(dir.path());
        const int status = program.run(QStringLiteral(VANTREL_BINARY), args);
        errors = program.takeStderr();
        return status;
    }

    // out.wav's audio, after checking that its header's sizes and rate are right.
    std::vector<std::uint8_t> Out(std::uint32_t rate = 48000)
    {
        const auto file = ReadAll(Path("out.wav"));
        EXPECT_GE(file.size(), 44u);
        if (file.size() < 44)
            return {};
        EXPECT_EQ(Le32(file, 4), file.size() - 8);
        EXPECT_EQ(Le32(file, 24), rate);
        EXPECT_EQ(Le32(file, 40), file.size() - 44);
        return {file.begin() + 44, file.end()};
    }

    // Each frame as the drive delivered it, or silence where it was lost.
    void ExpectTapeFrames(const std::vector<std::uint8_t>& audio, const std::set<std::uint64_t>& silent,
                          const std::vector<std::uint64_t>& concealed = {})
    {
        ASSERT_EQ(audio.size() % 5760, 0u);
        for (std::uint64_t n = 0; n < audio.size() / 5760; ++n) {
            const auto at = audio.begin() + static_cast<std::ptrdiff_t>(n * 5760);
            if (silent.count(n)) {
                ASSERT_TRUE(std::all_of(at, at + 5760, [](auto b) { return b == 0; })) << "frame " << n;
            } else {
                const auto want = DeliveredAudio(tape, concealed, n);
                ASSERT_TRUE(std::equal(at, at + 5760, want.begin())) << "frame " << n;
            }
        }
    }

    QTemporaryDir dir;
    std::vector<std::int16_t> pcm;
    std::shared_ptr<const sim::Tape> tape;
    std::string errors;
};

TEST_F(CaptureModeFaultsTest, ScatteredFaultsExitThreeWithTheWholeTapeAndTheRangesListed)
{
    Describe(500, R"("medium_errors": [50, 300, 301], "retry_errors": {"200": 2}, "concealed": [10, 11, 12, 13, 14, 400])");
    EXPECT_EQ(Run({"--simulate=faults.json", "--capture=out.wav", "--scsi-trace=trace.txt"}), 3) << errors;
    const TraceReads reads = ReadsIn(Path("trace.txt"));
    EXPECT_EQ(reads.good, 498);  // every frame not skipped, once, then the first lead-out frame
    EXPECT_EQ(reads.mediumErrors, 5);  // three skipped frames, two retries
    EXPECT_EQ(reads.other, 0);
    const auto audio = Out();
    EXPECT_EQ(audio.size(), 500u * 5760);  // exactly the tape's frames
    ExpectTapeFrames(audio, {50, 300, 301}, {10, 11, 12, 13, 14, 400});
    EXPECT_NE(errors.find("Unreadable: 3 frames, written as silence: " + At(50) + ", " + At(300) + "\u2013" + At(301)),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("Concealed: 6 frames, written as the drive gave them: " + At(10) + "\u2013" + At(14) + ", " +
                          At(400)),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("Tape: 48 KHz, no emphasis, program 1, absolute time 00:00:00.00 to " + At(499) +
                          ", 6 concealed frames."),
              std::string::npos)
        << errors;
}

TEST_F(CaptureModeFaultsTest, CleanTapeExitsZeroAndListsNoErrors)
{
    Describe(60, R"("retry_errors": {"20": 2})");
    EXPECT_EQ(Run({"--simulate=faults.json", "--capture=out.wav"}), 0) << errors;
    ExpectTapeFrames(Out(), {});
    EXPECT_EQ(errors.find("Unreadable"), std::string::npos) << errors;
}

TEST_F(CaptureModeFaultsTest, TooManyBadFramesStopAtTheLimitUnlessItIsRaised)
{
    std::string bad;
    for (int f = 100; f < 250; ++f)
        bad += (bad.empty() ? "" : ", ") + std::to_string(f);
    Describe(300, "\"medium_errors\": [" + bad + "]");
    EXPECT_EQ(Run({"--simulate=faults.json", "--capture=out.wav", "--scsi-trace=trace.txt"}), 1) << errors;
    const TraceReads reads = ReadsIn(Path("trace.txt"));
    EXPECT_EQ(reads.good, 100);
    EXPECT_EQ(reads.mediumErrors, 100);  // not one READ past the limit
    EXPECT_EQ(reads.other, 0);
    EXPECT_NE(errors.find("The drive could not read 100 frames in a row at 0:00:03; reading was stopped there."),
              std::string::npos)
        << errors;
    auto audio = Out();
    EXPECT_EQ(audio.size(), 100u * 5760);
    ExpectTapeFrames(audio, {});

    EXPECT_EQ(Run({"--simulate=faults.json", "--capture=out.wav", "--max-bad-frames=200"}), 3) << errors;
    audio = Out();
    EXPECT_EQ(audio.size(), 300u * 5760);
    std::set<std::uint64_t> silent;
    for (std::uint64_t f = 100; f < 250; ++f)
        silent.insert(f);
    ExpectTapeFrames(audio, silent);
    EXPECT_NE(errors.find("Unreadable: 150 frames, written as silence: " + At(100) + "\u2013" + At(249)),
              std::string::npos)
        << errors;
}

TEST_F(CaptureModeFaultsTest, VanishedDriveExitsOneWithTheFramesReadBeforeIt)
{
    Describe(300, R"("vanish_after_reads": 150)");
    EXPECT_EQ(Run({"--simulate=faults.json", "--capture=out.wav", "--scsi-trace=trace.txt"}), 1) << errors;
    const TraceReads reads = ReadsIn(Path("trace.txt"));
    EXPECT_EQ(reads.good, 150);
    EXPECT_EQ(reads.other, 1);  // the READ that found the drive gone, and none after it
    EXPECT_NE(errors.find("The drive stopped answering at 0:00:04"), std::string::npos) << errors;
    const auto audio = Out();
    EXPECT_EQ(audio.size(), 150u * 5760);
    ExpectTapeFrames(audio, {});
}

TEST_F(CaptureModeFaultsTest, EmphasizedTapeIsCapturedBitExactAndSaysSo)
{
    Describe(40, R"("emphasis": true)");
    EXPECT_EQ(Run({"--simulate=faults.json", "--capture=out.wav"}), 0) << errors;
    const auto audio = Out();
    const auto* p = reinterpret_cast<const std::uint8_t*>(pcm.data());
    EXPECT_TRUE(std::equal(p, p + pcm.size() * 2, audio.begin()));
    EXPECT_NE(errors.find("Tape: 48 KHz, emphasis 50/15 us"), std::string::npos) << errors;
}

class CaptureModeRateTest : public CaptureModeFaultsTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(CaptureModeRateTest, FileAtTheTapesRateEqualsTheSourceThenOnlyPadding)
{
    const std::uint32_t rate = GetParam();
    const auto source = NoisePcm(rate * 2 + 333);  // about 2 s, ending inside a frame
    WriteFile(Path("tape.wav"), Wav(source, rate));
    EXPECT_EQ(Run({"--simulate=tape.wav", "--capture=out.wav"}), 0) << errors;
    const auto audio = Out(rate);
    const std::size_t frameBytes = rate * 3 / 100 * 4;
    const std::size_t sourceBytes = source.size() * 2;
    ASSERT_GE(audio.size(), sourceBytes);
    EXPECT_EQ(audio.size() % frameBytes, 0u);
    EXPECT_LT(audio.size() - sourceBytes, frameBytes);
    const auto* p = reinterpret_cast<const std::uint8_t*>(source.data());
    EXPECT_TRUE(std::equal(p, p + sourceBytes, audio.begin()));
    EXPECT_TRUE(std::all_of(audio.begin() + static_cast<std::ptrdiff_t>(sourceBytes), audio.end(),
                            [](auto b) { return b == 0; }));
    const std::string rateText = rate == 44100 ? "44.1 KHz" : std::to_string(rate / 1000) + " KHz";
    EXPECT_NE(errors.find("Tape: " + rateText + ", no emphasis"), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(, CaptureModeRateTest, ::testing::Values(44100u, 32000u));

TEST_F(CaptureModeFaultsTest, RateChangeEndsTheFileThereAndExitsOne)
{
    const auto first = NoisePcm(1440 * 30, 1), second = NoisePcm(1323 * 30, 2);
    WriteFile(Path("a.wav"), Wav(first, 48000));
    WriteFile(Path("b.wav"), Wav(second, 44100));
    const std::string json =
        R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": ["a.wav", "b.wav"]}]}]})";
    WriteFile(Path("mixed.json"), {json.begin(), json.end()});
    EXPECT_EQ(Run({"--simulate=mixed.json", "--capture=out.wav"}), 1) << errors;
    EXPECT_NE(errors.find("The sampling rate changes from 48000 Hz to 44100 Hz at 0:00:00"), std::string::npos)
        << errors;
    const auto audio = Out();
    const auto* p = reinterpret_cast<const std::uint8_t*>(first.data());
    ASSERT_EQ(audio.size(), first.size() * 2);
    EXPECT_TRUE(std::equal(p, p + audio.size(), audio.begin()));
}

}  // namespace
}  // namespace e2e
