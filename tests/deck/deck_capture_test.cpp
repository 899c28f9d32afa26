// The deck's Play with "Play and Save" and "Save Only": a short virtual tape of known audio,
// through an ALSA device that writes what it plays into a file (the file plugin over the null
// device), until the deck comes back to Ready by itself at the end of the tape.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "deck_fixture.h"
#include "sim/tape.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | b[at + static_cast<std::size_t>(i)];
    return v;
}

void ExpectSameBytes(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want)
{
    EXPECT_EQ(got.size(), want.size());
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    EXPECT_TRUE(diff.first == got.end() && diff.second == want.end())
        << "first difference at byte " << (diff.first - got.begin());
}

// The device gets the tape's audio and nothing after it: the buffer that meets the end of the
// tape is queued with only the frames read.
void ExpectDeviceGotTheTape(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& tape)
{
    ExpectSameBytes(got, tape);
}

class DeckCapture : public DeckTest {
protected:
    void SetUp() override
    {
        fakeSoundDevice = false;
        DeckTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());  // "Audio48.wav" goes to the working directory
        rawPath = dir.filePath("device.raw").toStdString();
        // 70 frames (two whole buffers and a part) of a pattern that no frame repeats.
        std::vector<std::int16_t> pcm(70 * 1440 * 2);
        std::uint32_t x = 12345;
        for (auto& s : pcm) {
            x = x * 1103515245u + 12345u;
            s = static_cast<std::int16_t>(x >> 16);
        }
        tape = sim::MakePcmTape({pcm});
        for (std::uint64_t n = 0; n + sim::kLeadOutFrames < tape->frameCount(); ++n) {
            const auto a = sim::FrameAudio(*tape, n);
            tapeAudio.insert(tapeAudio.end(), a.begin(), a.end());
        }
        ASSERT_EQ(tapeAudio.size(), 70u * 5760u);
    }
    void TearDown() override
    {
        DeckTest::TearDown();
        QDir::setCurrent(previous);
    }

    // Ready on the test tape, with the option menu item `option` checked (or none).
    void PlayUntilReady(QAction* frmDeck::*option)
    {
        SetWaveOutDevice("file:'" + rawPath + "',raw");
        StartReady(tape);
        if (option)
            (deck().*option)->trigger();
        deck().cmdPlay->click();
        ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }))
            << "the deck did not come back to Ready by itself";
        EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
        EXPECT_FALSE(PlayActive);
        EXPECT_TRUE(messages.empty()) << messages.front();
    }

    void ExpectWavHoldsTheTape()
    {
        const auto wav = ReadAll("Audio48.wav");
        ASSERT_EQ(wav.size(), 44 + tapeAudio.size());
        EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
        EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
        EXPECT_EQ(Le32(wav, 40), tapeAudio.size());
        EXPECT_TRUE(std::equal(tapeAudio.begin(), tapeAudio.end(), wav.begin() + 44));
    }

    QTemporaryDir dir;
    QString previous;
    std::string rawPath;
    std::shared_ptr<const sim::Tape> tape;
    std::vector<std::uint8_t> tapeAudio;
};

TEST_F(DeckCapture, PlayAndSaveArchivesExactlyWhatItPlays)
{
    PlayUntilReady(&frmDeck::mnuOptionsSave);
    ExpectWavHoldsTheTape();
    // What reached the sound device: the same bytes, in the same order.
    ASSERT_TRUE(testing_support::PumpUntil([&] { return ReadAll(rawPath).size() >= tapeAudio.size(); }));
    ExpectDeviceGotTheTape(ReadAll(rawPath), tapeAudio);
}

TEST_F(DeckCapture, ASecondPlayAndSaveAsksAndKeepBothLeavesBothFilesWhole)
{
    PlayUntilReady(&frmDeck::mnuOptionsSave);
    ExpectWavHoldsTheTape();
    const auto first = ReadAll("Audio48.wav");
    const std::string kept = ui::KeptName("Audio48.wav");
    deck().cmdBOT->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));

    // Return on the question: Keep both.
    QTimer answer;
    int asked = 0;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box || box->objectName() != "msgReplace")
            return;
        answer.stop();
        ++asked;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &press);
    });
    answer.start(0);
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(ReadAll(kept) == first) << kept;
    ExpectWavHoldsTheTape();
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DeckCapture, SaveOnlyArchivesTheTapeWithoutOpeningTheSoundDevice)
{
    PlayUntilReady(&frmDeck::mnuOptionsOnly);
    ExpectWavHoldsTheTape();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rawPath)));
}

TEST_F(DeckCapture, PlainPlayWritesNoFile)
{
    PlayUntilReady(nullptr);
    EXPECT_FALSE(QFile::exists("Audio48.wav"));
    ASSERT_TRUE(testing_support::PumpUntil([&] { return ReadAll(rawPath).size() >= tapeAudio.size(); }));
    ExpectDeviceGotTheTape(ReadAll(rawPath), tapeAudio);
}

TEST_F(DeckCapture, StopDuringSaveOnlyFinishesTheFileWithoutTheFrameBeingRead)
{
    constexpr std::uint8_t kRead6 = 0x08;
    SetWaveOutDevice("file:'" + rawPath + "',raw");
    HoldCommand(kRead6, 5);
    StartReady(tape);
    deck().mnuOptionsOnly->trigger();
    // Stop pressed while the fifth read waits, as a user's click would arrive.
    WhenHeld([&] {
        deck().cmdStop->click();
        gate->release();
    });
    deck().cmdPlay->click();
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    const auto wav = ReadAll("Audio48.wav");
    ASSERT_EQ(wav.size(), 44u + 4 * 5760u);
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(Le32(wav, 40), wav.size() - 44);
    EXPECT_TRUE(std::equal(wav.begin() + 44, wav.end(), tapeAudio.begin()));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(rawPath)));
}

TEST_F(DeckCapture, AMissingSoundDeviceShowsAlsasReasonAndWhatToDoAndTheDeckIsReadyAgain)
{
    SetWaveOutDevice("hw:CARD=NoSuchCard");
    StartReady(tape);
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return !messages.empty(); }));
    EXPECT_NE(messages[0].find("NoSuchCard"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find(kSoundDeviceHint), std::string::npos) << messages[0];
    ASSERT_TRUE(testing_support::PumpUntil([&] { return EnabledButtons(deck()) == ReadyButtons(); }));
    EXPECT_FALSE(QFile::exists("Audio48.wav"));
    // The tape is where it was: the next Play (with a device now) starts at the beginning.
    SetWaveOutDevice("file:'" + rawPath + "',raw");
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    EXPECT_EQ(messages.size(), 1u);
    ExpectDeviceGotTheTape(ReadAll(rawPath), tapeAudio);
}

}  // namespace
}  // namespace deck_test
