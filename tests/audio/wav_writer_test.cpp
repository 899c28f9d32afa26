// The WAV writer on its own: the header follows the format it is given, and the file is
// finished with true sizes however the writer goes away.
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

}  // namespace
}  // namespace audio_test
