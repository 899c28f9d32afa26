// The WAV writer on its own: the header follows the format it is given, and the file is
// finished with true sizes however the writer goes away.
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "audio/wav_writer.h"
#include "audio_fixture.h"

namespace audio_test {
namespace {

using WavWriterTest = AudioTest;

TEST_F(WavWriterTest, HeaderStatesTheGivenRateAndTheDestructorFixesTheSizes)
{
    const std::string path = TempPath("44k.wav");
    const std::vector<std::uint8_t> audio(5292, 0x5A);  // one 44.1 kHz frame's audio
    {
        WavWriter w;
        ASSERT_TRUE(w.open(path, WavFormat{44100, 2, 16}));
        EXPECT_TRUE(w.append(audio.data(), audio.size()));
        EXPECT_EQ(w.audioBytes(), 5292u);
    }  // no finish(): the destructor must do it
    const auto file = FileBytes(path);
    ASSERT_EQ(file.size(), 44u + 5292u);
    EXPECT_EQ(Le32(file, 24), 44100u);
    EXPECT_EQ(Le32(file, 28), 176400u);
    EXPECT_EQ(Le32(file, 4), 36u + 5292u);
    EXPECT_EQ(Le32(file, 40), 5292u);
    EXPECT_TRUE(messages.empty());
}

TEST_F(WavWriterTest, ReopeningFinishesTheFirstFileAndStartsTheSecondEmpty)
{
    const std::vector<std::uint8_t> audio(5760, 1);
    WavWriter w;
    ASSERT_TRUE(w.open(TempPath("a.wav")));
    ASSERT_TRUE(w.append(audio.data(), audio.size()));
    ASSERT_TRUE(w.open(TempPath("b.wav")));
    EXPECT_EQ(Le32(FileBytes(TempPath("a.wav")), 40), 5760u) << "the first file was finished";
    EXPECT_EQ(w.audioBytes(), 0u);
    EXPECT_TRUE(w.finish().empty());
    EXPECT_TRUE(w.finish().empty());  // a second finish touches nothing
    EXPECT_EQ(FileBytes(TempPath("b.wav")).size(), 44u);
    EXPECT_FALSE(w.isOpen());
    EXPECT_FALSE(w.append(audio.data(), audio.size()));
}

// Failures are returned, never shown: the file names itself, and a failed append leaves the
// file open for its finish, with whole appends only.
TEST_F(WavWriterTest, FailuresComeBackAsStatusWithTheFileNamed)
{
    WavWriter w;
    const Status missing = w.open(TempPath("no-such-dir/x.wav"));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error().rfind("The capture file \"" + TempPath("no-such-dir/x.wav") + "\" cannot be created: ", 0), 0u)
        << missing.error();

    const std::string path = TempPath("limited.wav");
    ASSERT_TRUE(w.open(path));
    w.setLimit(44 + 100);
    const std::vector<std::uint8_t> audio(60, 7);
    EXPECT_TRUE(w.append(audio.data(), audio.size()));
    const Status over = w.append(audio.data(), audio.size());
    EXPECT_FALSE(over);
    EXPECT_TRUE(w.reachedLimit());
    EXPECT_TRUE(w.isOpen());
    EXPECT_TRUE(w.finish().empty());
    EXPECT_EQ(FileBytes(path).size(), 44u + 60u);
    EXPECT_EQ(Le32(FileBytes(path), 40), 60u);
    EXPECT_TRUE(messages.empty());
}

// A file that may be kept is written beside its name and put in place only when finished: an
// earlier capture stays whole until then, a crash's .part is never overwritten, and what a
// crash would leave is a WAV file of the audio up to the last second or so. Links keep
// pointing at their file, and a device is written in place, never replaced.
TEST_F(WavWriterTest, AKeptFileReplacesTheOldOneOnlyWhenFinished)
{
    const std::string path = TempPath("Audio48.wav");
    std::ofstream(path) << "an earlier capture";
    std::ofstream(path + ".part") << "what a crash left";
    const std::vector<std::uint8_t> audio(5760, 3);
    WavWriter w;
    ASSERT_TRUE(w.open(path));
    EXPECT_EQ(w.writingPath(), path + ".2.part");
    std::size_t appended = 0;
    while (appended < WavWriter::kSizesEvery) {
        ASSERT_TRUE(w.append(audio.data(), audio.size()));
        appended += audio.size();
    }
    const auto part = FileBytes(w.writingPath());
    ASSERT_EQ(part.size(), 44u + appended);
    EXPECT_EQ(Le32(part, 40), appended) << "the sizes are restated as the audio grows";
    EXPECT_EQ(Le32(part, 4), 36u + appended);
    ASSERT_TRUE(w.append(audio.data(), audio.size()));
    const auto unfinished = FileBytes(path);
    EXPECT_EQ(std::string(unfinished.begin(), unfinished.end()), "an earlier capture");

    EXPECT_TRUE(w.finish().empty());
    const auto file = FileBytes(path);
    ASSERT_EQ(file.size(), 44u + appended + audio.size());
    EXPECT_EQ(Le32(file, 40), appended + audio.size());
    EXPECT_FALSE(std::filesystem::exists(path + ".2.part"));
    const auto crashed = FileBytes(path + ".part");
    EXPECT_EQ(std::string(crashed.begin(), crashed.end()), "what a crash left");

    // A link to a file: the file it names is replaced, the link stays.
    const std::string real = TempPath("real.wav"), link = TempPath("link.wav");
    std::ofstream(real) << "old";
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(w.open(link));
    ASSERT_TRUE(w.append(audio.data(), audio.size()));
    EXPECT_TRUE(w.finish().empty());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(FileBytes(real).size(), 44u + audio.size());

    // A device is written in place: renaming over it would replace it.
    ASSERT_TRUE(w.open("/dev/null"));
    EXPECT_EQ(w.writingPath(), "/dev/null");
    ASSERT_TRUE(w.append(audio.data(), audio.size()));
    EXPECT_TRUE(w.finish().empty());
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace audio_test
