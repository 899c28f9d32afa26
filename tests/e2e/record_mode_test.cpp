// vantrel --simulate=... --record=FILE... as a user runs it: the tape it leaves (saved by the
// virtual drive) archived again, the refusals that leave the tape as it was, the faults of
// the writes and of the read-back, and Ctrl-C during the recording.
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <sndfile.h>

#include "dat/frame.h"
#include "sim_tape.h"
#include "support/child_process.h"

namespace e2e {
namespace {

constexpr std::size_t kFrame = 5822;

class RecordModeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    // A sound file of noise; returns its samples as libsndfile reads them (interleaved).
    std::vector<std::int16_t> Sound(const std::string& name, int format, int rate, int channels, sf_count_t frames,
                                    std::uint32_t seed = 1)
    {
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = format;
        SNDFILE* f = sf_open(Path(name).c_str(), SFM_WRITE, &info);
        EXPECT_TRUE(f) << sf_strerror(nullptr);
        std::vector<std::int16_t> pcm = NoisePcm(static_cast<std::size_t>(frames * channels / 2 + 1), seed);
        pcm.resize(static_cast<std::size_t>(frames * channels));
        if (f) {
            sf_writef_short(f, pcm.data(), frames);
            sf_close(f);
        }
        return pcm;
    }

    void Describe(const std::string& name, const std::string& tape, const std::string& device, double speed = 0)
    {
        const std::string json = "{\"read_speed\": " + std::to_string(speed) +
                                 ", \"adapters\": [{\"devices\": [{\"target\": 4, \"tape\": " + tape +
                                 (device.empty() ? "" : ", " + device) + "}]}]}";
        std::ofstream(Path(name)) << json;
    }

    int Run(const QStringList& args)
    {
        testing_support::ChildProcess program(dir.path());
        const int status = program.run(QStringLiteral(VANTREL_BINARY), args);
        errors = program.takeStderr();
        return status;
    }

    // The audio of an archived program (16-bit stereo).
    std::vector<std::int16_t> Archived(const std::string& wav)
    {
        SF_INFO info{};
        SNDFILE* f = sf_open(Path(wav).c_str(), SFM_READ, &info);
        EXPECT_TRUE(f) << wav;
        if (!f)
            return {};
        std::vector<std::int16_t> pcm(static_cast<std::size_t>(info.frames * info.channels));
        sf_readf_short(f, pcm.data(), info.frames);
        sf_close(f);
        return pcm;
    }

    // The program's samples begin with `source` and go on with silence only.
    static void ExpectSourceThenSilence(const std::vector<std::int16_t>& got, const std::vector<std::int16_t>& source,
                                        std::size_t pairsPerFrame)
    {
        ASSERT_GE(got.size(), source.size());
        EXPECT_TRUE(std::equal(source.begin(), source.end(), got.begin()));
        EXPECT_LT(got.size() - source.size(), 2 * pairsPerFrame);
        EXPECT_TRUE(std::all_of(got.begin() + static_cast<std::ptrdiff_t>(source.size()), got.end(),
                                [](std::int16_t s) { return s == 0; }));
    }

    dat::Frame FrameOf(const std::vector<std::uint8_t>& tape, std::size_t n)
    {
        return dat::Decode(dat::FrameBytes(tape.data() + n * kFrame, kFrame));
    }

    QTemporaryDir dir;
    std::string errors;
};

TEST_F(RecordModeTest, TwoFilesRecordVerifyAndArchiveBackSampleForSample)
{
    const auto a = Sound("a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 44100 * 12 + 5);
    const auto mono = Sound("b.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 1, 44100 * 3, 2);
    Describe("blank.json", "\"blank\"", "\"save_tape\": \"saved.dat\"");
    ASSERT_EQ(Run({"--simulate=blank.json", "--record=a.wav", "--record=b.flac", "--date=2026-03-04T05:06:07"}), 0)
        << errors;
    EXPECT_NE(errors.find("Verified: all"), std::string::npos) << errors;

    const std::vector<std::uint8_t> tape = ReadAll(Path("saved.dat"));
    ASSERT_EQ(tape.size() % kFrame, 0u);
    const std::size_t frames = tape.size() / kFrame;
    EXPECT_EQ(frames, 100 + 401 + 100 + 300);  // 12 s and 5 pairs: 401 frames; 3 s: 100
    EXPECT_EQ(FrameOf(tape, 0).subId.program, dat::ProgramNumber::LeadIn());
    EXPECT_EQ(FrameOf(tape, frames - 300).subId.program, dat::ProgramNumber::LeadOut());
    EXPECT_EQ(FrameOf(tape, frames - 1).subId.program, dat::ProgramNumber::LeadOut());
    // Start IDs on the first 300 frames of each program (all of the short second one).
    for (std::size_t n = 100; n < 601; ++n)
        ASSERT_EQ(FrameOf(tape, n).subId.start, n < 400 || n >= 501) << n;

    // Archived again, the programs are the sources (the mono file on both channels).
    Describe("saved.json", "\"saved.dat\"", "");
    ASSERT_EQ(Run({"--simulate=saved.json", "--archive=pkg"}), 0) << errors;
    ExpectSourceThenSilence(Archived("pkg/data/001.wav"), a, 1323);
    std::vector<std::int16_t> both;
    for (std::int16_t s : mono)
        both.insert(both.end(), {s, s});
    ExpectSourceThenSilence(Archived("pkg/data/002.wav"), both, 1323);
    const std::vector<std::uint8_t> report = ReadAll(Path("pkg/data/report.txt"));
    const std::string text(report.begin(), report.end());
    EXPECT_NE(text.find("absolute time 00:00:00.00 to 00:00:15.00"), std::string::npos) << text;
    EXPECT_NE(text.find("Recorded: 2026-03-04 05:06:07"), std::string::npos) << text;
    EXPECT_NE(text.find("Status: complete"), std::string::npos) << text;
}

TEST_F(RecordModeTest, FaultsOfTheWritesAndTheReadBackGiveTheirExitStatus)
{
    Sound("a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 5);
    Describe("corrupt.json", "\"blank\"", "\"write_corrupt\": [133, 134]");
    EXPECT_EQ(Run({"--simulate=corrupt.json", "--record=a.wav"}), 3) << errors;
    EXPECT_NE(
        errors.find("Mismatched: 2 frames read back different from what was written: 00:00:01.00\u201300:00:01.01"),
        std::string::npos)
        << errors;

    Describe("errors.json", "\"blank\"", "\"write_errors\": [200], \"save_tape\": \"errors.dat\"");
    EXPECT_EQ(Run({"--simulate=errors.json", "--record=a.wav"}), 1) << errors;
    EXPECT_NE(errors.find("The write of program 1 at 0:00:03 failed (MEDIUM ERROR, write error"), std::string::npos)
        << errors;
    EXPECT_EQ(ReadAll(Path("errors.dat")).size(), 200 * kFrame);

    EXPECT_EQ(Run({"--simulate=corrupt.json", "--record=a.wav", "--no-verify"}), 0) << errors;
    EXPECT_EQ(errors.find("Verif"), std::string::npos) << errors;
}

TEST_F(RecordModeTest, RefusalsLeaveTheTapeAsItWas)
{
    Sound("a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000);
    Sound("hi.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 96000, 2, 96000);
    Sound("deep.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 2, 48000);

    Describe("protected.json", "\"blank\"", "\"write_protected\": true, \"save_tape\": \"protected.dat\"");
    EXPECT_EQ(Run({"--simulate=protected.json", "--record=a.wav"}), 1) << errors;
    EXPECT_NE(errors.find("write-protected"), std::string::npos) << errors;
    EXPECT_TRUE(ReadAll(Path("protected.dat")).empty());

    Describe("recorded.json", "[\"a.wav\"]", "\"save_tape\": \"recorded.dat\"");
    EXPECT_EQ(Run({"--simulate=recorded.json", "--record=a.wav", "--scsi-trace=recorded.trace"}), 1) << errors;
    EXPECT_NE(errors.find("not blank: it holds audio: program 1"), std::string::npos) << errors;
    std::string error;
    const auto original = sim::LoadAudioFiles({Path("a.wav")}, error);
    ASSERT_TRUE(original) << error;
    const std::vector<std::uint8_t> kept = ReadAll(Path("recorded.dat"));
    ASSERT_EQ(kept.size(), original->frameCount() * kFrame);
    for (std::uint64_t n = 0; n < original->frameCount(); ++n)
        ASSERT_TRUE(std::equal(kept.begin() + static_cast<std::ptrdiff_t>(n * kFrame),
                               kept.begin() + static_cast<std::ptrdiff_t>((n + 1) * kFrame),
                               sim::FrameBytes(*original, n).begin()))
            << n;
    const std::vector<std::uint8_t> trace = ReadAll(Path("recorded.trace"));
    EXPECT_EQ(std::string(trace.begin(), trace.end()).find(" EXEC 0A "), std::string::npos);

    // Files that a DAT cannot hold: refused before the drive is even asked.
    for (const char* file : {"hi.wav", "deep.wav"}) {
        Describe("blank.json", "\"blank\"", "\"save_tape\": \"blank.dat\"");
        EXPECT_EQ(Run({"--simulate=blank.json", "--record=a.wav", QString("--record=") + file, "--scsi-trace=t.trace"}),
                  1)
            << errors;
        EXPECT_NE(errors.find("Convert it first, for example: sox"), std::string::npos) << errors;
        EXPECT_TRUE(ReadAll(Path("t.trace")).empty()) << file;
        EXPECT_TRUE(ReadAll(Path("blank.dat")).empty()) << file;
    }
    EXPECT_EQ(Run({"--record=a.wav", "--start-id-seconds=8"}), 2);
    EXPECT_EQ(Run({"--gap=1"}), 2);
    EXPECT_EQ(Run({"--record=a.wav", "--date=2026-02-30T00:00:00"}), 2);
}

TEST_F(RecordModeTest, CtrlCWritesTheLeadOutAndTheTapeArchivesCleanlyUpToThere)
{
    const auto a = Sound("long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 48000 * 90);
    Describe("blank.json", "\"blank\"", "\"save_tape\": \"saved.dat\"", 4);
    testing_support::ChildProcess program(dir.path());
    ASSERT_TRUE(program.start(QStringLiteral(VANTREL_BINARY), {"--simulate=blank.json", "--record=long.wav"}));
    // The progress line comes at the first frame, then every 10 s away from a terminal: the
    // second one is well into the program.
    std::string seen;
    int lines = 0;
    while (lines < 2 && program.waitForStderr(60000)) {
        seen += program.takeStderr();
        lines = 0;
        for (std::size_t at = seen.find("Recording: "); at != std::string::npos; at = seen.find("Recording: ", at + 1))
            ++lines;
    }
    ASSERT_EQ(lines, 2) << seen;
    program.signal(SIGINT);
    EXPECT_EQ(program.finish(), 1);
    errors = seen + program.takeStderr();
    EXPECT_NE(errors.find("Stopped at absolute time"), std::string::npos) << errors;

    const std::vector<std::uint8_t> tape = ReadAll(Path("saved.dat"));
    const std::size_t frames = tape.size() / kFrame;
    ASSERT_GT(frames, 400u);
    ASSERT_LT(frames, 100u + 3000u);
    EXPECT_EQ(FrameOf(tape, frames - 300).subId.program, dat::ProgramNumber::LeadOut());
    EXPECT_EQ(FrameOf(tape, frames - 301).subId.program, dat::ProgramNumber::Of(1));

    Describe("saved.json", "\"saved.dat\"", "");
    ASSERT_EQ(Run({"--simulate=saved.json", "--archive=pkg"}), 0) << errors;
    const std::vector<std::int16_t> got = Archived("pkg/data/001.wav");
    ASSERT_EQ(got.size(), (frames - 400) * 1440 * 2);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), a.begin()));
}

}  // namespace
}  // namespace e2e
