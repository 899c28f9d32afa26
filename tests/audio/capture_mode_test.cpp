// vantrel --capture as a user runs it: the program in a child process on the virtual drive.
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

#include "sim/tape.h"
#include "support/child_process.h"

namespace {

std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

// A 44-byte header with both sizes matching the file's length.
void ExpectValidSizes(const std::vector<std::uint8_t>& wav)
{
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(Le32(wav, 40), wav.size() - 44);
}

class CaptureModeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    void Start(const QStringList& args) { ASSERT_TRUE(program.start(QStringLiteral(VANTREL_BINARY), args)); }
    int Finish()
    {
        const int status = program.finish();
        errors += program.takeStderr();
        return status;
    }

    QTemporaryDir dir;
    testing_support::ChildProcess program{dir.path()};
    std::string errors;
};

TEST_F(CaptureModeTest, SongIsCapturedSampleForSampleAndTheCaptureEndsByItself)
{
    // About 1.3 s of stereo audio, not a whole number of frames.
    const std::uint32_t pairs = 48000 + 14400 + 777;
    std::vector<std::uint8_t> song(44 + pairs * 4);
    const std::uint8_t header[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                     16, 0, 0, 0, 1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0,
                                     4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    std::memcpy(song.data(), header, 44);
    const std::uint32_t dataBytes = pairs * 4;
    std::memcpy(&song[40], &dataBytes, 4);
    const std::uint32_t riffBytes = dataBytes + 36;
    std::memcpy(&song[4], &riffBytes, 4);
    std::uint32_t noise = 12345;
    for (std::size_t i = 44; i < song.size(); ++i) {
        noise = noise * 1103515245 + 12345;
        song[i] = static_cast<std::uint8_t>(noise >> 16);
    }
    WriteFile(Path("song.wav"), song);

    Start({"--simulate=song.wav", "--capture=out.wav"});
    ASSERT_EQ(Finish(), 0) << errors;
    const auto out = ReadAll(Path("out.wav"));
    ExpectValidSizes(out);
    ASSERT_EQ((out.size() - 44) % 5760, 0u);
    const std::size_t audio = song.size() - 44;
    ASSERT_GE(out.size() - 44, audio);
    EXPECT_LT(out.size() - 44 - audio, 5760u);  // only the last frame's padding, no lead-out
    EXPECT_TRUE(std::equal(song.begin() + 44, song.end(), out.begin() + 44));
    for (std::size_t i = 44 + audio; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0) << "byte " << i;
    EXPECT_NE(errors.find("end of the recorded area"), std::string::npos) << errors;
}

TEST_F(CaptureModeTest, SigtermDuringACaptureLeavesAValidFile)
{
    Start({"--simulate", "--capture=demo.wav"});  // the demo tape at twice real time
    while (errors.find("Capturing") == std::string::npos) {
        ASSERT_TRUE(program.waitForStderr(60000)) << errors;
        errors += program.takeStderr();
    }
    program.signal(SIGTERM);
    EXPECT_EQ(Finish(), 1) << errors;  // valid, but not the whole recorded area
    EXPECT_NE(errors.find("(stopped)"), std::string::npos) << errors;
    const auto out = ReadAll(Path("demo.wav"));
    ExpectValidSizes(out);
    ASSERT_EQ((out.size() - 44) % 5760, 0u);
    const auto demo = sim::MakeDemoTape();
    for (std::size_t n = 0; n < (out.size() - 44) / 5760; ++n) {
        const auto frame = sim::FrameAudio(*demo, n);
        ASSERT_TRUE(std::equal(frame.begin(), frame.end(), out.begin() + 44 + n * 5760)) << "frame " << n;
    }
}

TEST_F(CaptureModeTest, DataTapeAndUnwritableFileFailWithAClearMessage)
{
    QFile json(dir.filePath("data.json"));
    ASSERT_TRUE(json.open(QIODevice::WriteOnly));
    json.write(R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "data"}]}]})");
    json.close();
    Start({"--simulate=data.json", "--capture=x.wav"});
    EXPECT_EQ(Finish(), 1);
    EXPECT_NE(errors.find("data tape"), std::string::npos) << errors;
    EXPECT_FALSE(QFile::exists(dir.filePath("x.wav")));

    errors.clear();
    Start({"--simulate", "--capture=no-such-dir/x.wav"});
    EXPECT_EQ(Finish(), 1);
    EXPECT_NE(errors.find("cannot be created: No such file or directory"), std::string::npos) << errors;
}

}  // namespace
