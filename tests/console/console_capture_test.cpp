// Read Tape on the virtual drive: "Audio48.wav" in the working directory, finished by the
// console's Stop or by a stop from the deck side; Play and Stop.
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>

#include "audio/fake_wave_out.h"
#include "audio/playback.h"
#include "console_fixture.h"
#include "platform/ui/event_pump.h"
#include "platform/ui/message_box.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"

namespace console_test {
namespace {

constexpr std::size_t kHeader = 44;
constexpr std::size_t kAudio = 5760;
constexpr std::size_t kProgramFrames = 40;  // the tape's one program; the lead-out follows

// Passes everything to the virtual bus; on the chosen READ it has a step run on the program's
// thread while that READ is still waiting, as a click during the wait would be. The step is
// handed over under a std::mutex and run by the program's event pump, so the hand-over is
// visible to ThreadSanitizer (Qt's own locking is not).
class StepOnRead final : public aspi::Backend, public ui::EventPump {
public:
    explicit StepOnRead(std::unique_ptr<sim::Bus> inner) : inner_(std::move(inner)), qtPump_(ui::CurrentEventPump()) {}
    sim::Bus& bus() { return *inner_; }

    // From the program's thread while no command is pending: `step` runs during READ number
    // `read` (1-based, counted from now); 0 never.
    void stepOn(int read, std::function<void()> step)
    {
        std::lock_guard lock(mutex_);
        reads_ = 0;
        stepRead_ = read;
        step_ = std::move(step);
    }

    std::uint32_t supportInfo() override { return inner_->supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override { return inner_->inquiry(a, out); }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t l, std::uint8_t& type) override
    {
        return inner_->deviceType(a, t, l, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override
    {
        if (req.cdb[0] == 0x08) {
            std::future<void> ran;
            {
                std::lock_guard lock(mutex_);
                if (++reads_ == stepRead_) {
                    pending_ = std::promise<void>();
                    ran = pending_.get_future();
                    stepDue_ = true;
                }
            }
            if (ran.valid()) {
                qtPump_.wake();
                ran.wait();
            }
        }
        return inner_->execute(req);
    }
    void cancel() override { inner_->cancel(); }

    // The program's pump: a due step first, else Qt's events.
    void waitForEvents() override
    {
        std::function<void()> step;
        {
            std::lock_guard lock(mutex_);
            if (stepDue_) {
                stepDue_ = false;
                step = step_;
            }
        }
        if (!step) {
            qtPump_.waitForEvents();
            return;
        }
        step();
        std::lock_guard lock(mutex_);
        pending_.set_value();
    }
    void wake() override { qtPump_.wake(); }

private:
    std::unique_ptr<sim::Bus> inner_;
    ui::EventPump& qtPump_;
    std::mutex mutex_;
    int reads_ = 0;                // guarded by mutex_, as are the rest
    int stepRead_ = 0;
    std::function<void()> step_;
    bool stepDue_ = false;
    std::promise<void> pending_;
};

std::vector<std::int16_t> KnownPcm(std::size_t pairs)
{
    std::vector<std::int16_t> pcm(pairs * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(i * 7 + 3);
    return pcm;
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

class ConsoleCaptureTest : public ConsoleTest {
protected:
    void SetUp() override
    {
        ConsoleTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        previousDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));

        tape = sim::MakePcmTape({KnownPcm(1440 * kProgramFrames)});
        sim::BusConfig config;
        config.readSpeed = 0;
        config.clock = std::make_shared<sim::VirtualClock>();
        sim::DriveConfig drive;
        drive.target = kTarget;
        drive.tape = tape;
        config.adapters[0].devices.push_back(drive);
        std::string error;
        auto simBus = sim::CreateBus(config, error);
        ASSERT_TRUE(simBus) << error;
        auto stepping = std::make_unique<StepOnRead>(std::move(simBus));
        drive_ = stepping.get();
        ui::SetEventPump(drive_);
        aspi::InstallBackend(std::move(stepping));
        bus = nullptr;

        wave::SetWaveOutDriver(&device);
        ResetAudioState();
        deck = std::make_unique<QWidget>();
        HookDeckWindow(deck.get());
        Press("cmdTestUnitReady");  // takes the power-on unit attention
        ASSERT_EQ(Output(), " 4\n");
    }
    void TearDown() override
    {
        replaceWatch.stop();
        ResetAudioState();
        deck.reset();
        wave::SetWaveOutDriver(nullptr);
        QDir::setCurrent(previousDir);
        ui::SetEventPump(nullptr);  // before the bus that is also the pump goes
        ConsoleTest::TearDown();
    }

    std::uint64_t TapeFrame() { return drive_->bus().driveState(kAdapter, kTarget)->frame; }

    // Answers the next question before replacing Audio48.wav: presses `key` on it, or clicks
    // the button named `button`. `asked` counts the questions.
    void AnswerReplace(int key, const char* button = nullptr)
    {
        replaceWatch.disconnect();
        QObject::connect(&replaceWatch, &QTimer::timeout, [this, key, button] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box || box->objectName() != "msgReplace")
                return;
            replaceWatch.stop();
            ++asked;
            if (button) {
                box->findChild<QPushButton*>(button)->click();
                return;
            }
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(box, &press);
        });
        replaceWatch.start(0);
    }

    // Presses Read Tape and, during READ number frames + 1, runs `stop`.
    void CaptureFrames(int frames, std::function<void()> stop)
    {
        drive_->stepOn(frames + 1, std::move(stop));
        Press("cmdReadTape");  // returns when the capture has been stopped
    }

    // Checks the file against `frames` frames of the tape from `first` on.
    void ExpectCaptureOf(std::uint64_t first, std::size_t frames)
    {
        std::ifstream in(dir.filePath("Audio48.wav").toStdString(), std::ios::binary);
        const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(file.size(), kHeader + kAudio * frames);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
        EXPECT_EQ(Le32(file, 4), 36 + kAudio * frames);
        EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(std::string(file.begin() + 36, file.begin() + 40), "data");
        EXPECT_EQ(Le32(file, 40), kAudio * frames);
        for (std::size_t k = 0; k < frames; ++k) {
            const std::vector<std::uint8_t> expected = sim::FrameAudio(*tape, first + k);
            const std::vector<std::uint8_t> got(file.begin() + kHeader + k * kAudio,
                                                file.begin() + kHeader + (k + 1) * kAudio);
            EXPECT_TRUE(got == expected) << "frame " << k;
        }
    }

    QTemporaryDir dir;
    QString previousDir;
    std::shared_ptr<const sim::Tape> tape;
    StepOnRead* drive_ = nullptr;
    testing_support::FakeWaveOut device;
    std::unique_ptr<QWidget> deck;
    QTimer replaceWatch;
    int asked = 0;
};

TEST_F(ConsoleCaptureTest, ReadTapeUntilStopWritesTheFramesReadBeforeIt)
{
    CaptureFrames(5, [this] {
        EXPECT_FALSE(Button("cmdPlay")->isEnabled());
        EXPECT_FALSE(Button("cmdReadTape")->isEnabled());
        Press("cmdStop");
    });
    ExpectCaptureOf(0, 5);
    EXPECT_TRUE(Button("cmdPlay")->isEnabled());
    EXPECT_TRUE(Button("cmdReadTape")->isEnabled());
    EXPECT_FALSE(PlayActive);
    EXPECT_TRUE(messages.empty());
}

TEST_F(ConsoleCaptureTest, SecondCaptureReplacesTheFirstCompletely)
{
    CaptureFrames(7, [this] { Press("cmdStop"); });
    ExpectCaptureOf(0, 7);
    EXPECT_EQ(asked, 0);
    const std::uint64_t next = TapeFrame();
    AnswerReplace(0, "cmdReplace");
    CaptureFrames(2, [this] { Press("cmdStop"); });
    EXPECT_EQ(asked, 1);
    ExpectCaptureOf(next, 2);
    EXPECT_EQ(QDir(dir.path()).entryList({"*.wav"}, QDir::Files), QStringList({"Audio48.wav"}));
}

TEST_F(ConsoleCaptureTest, ReadTapeAsksBeforeReplacingAndReturnKeepsBothEscapeCancels)
{
    CaptureFrames(7, [this] { Press("cmdStop"); });
    ExpectCaptureOf(0, 7);
    std::ifstream in(dir.filePath("Audio48.wav").toStdString(), std::ios::binary);
    const std::vector<std::uint8_t> first{std::istreambuf_iterator<char>(in), {}};
    const std::string kept = ui::KeptName(dir.filePath("Audio48.wav").toStdString());

    // Escape: no capture, the file and the buttons as they were.
    const std::uint64_t at = TapeFrame();
    AnswerReplace(Qt::Key_Escape);
    Press("cmdReadTape");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(TapeFrame(), at);
    ExpectCaptureOf(0, 7);
    EXPECT_TRUE(Button("cmdReadTape")->isEnabled());

    // Return: the old one under its time, the new one as Audio48.wav.
    AnswerReplace(Qt::Key_Return);
    CaptureFrames(2, [this] { Press("cmdStop"); });
    EXPECT_EQ(asked, 2);
    ExpectCaptureOf(at, 2);
    std::ifstream old(kept, std::ios::binary);
    EXPECT_TRUE(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(old), {}) == first) << kept;
}

TEST_F(ConsoleCaptureTest, StopFromTheDeckSideFinishesAConsoleCapture)
{
    CaptureFrames(3, [] { StopPlayback(); });
    ExpectCaptureOf(0, 3);
    // Only the console's Stop enables its buttons again.
    EXPECT_FALSE(Button("cmdReadTape")->isEnabled());
    Press("cmdStop");
    EXPECT_TRUE(Button("cmdReadTape")->isEnabled());
    ExpectCaptureOf(0, 3);  // a stop without a capture touches no file
}

TEST_F(ConsoleCaptureTest, StopDuringTheFirstReadLeavesTheHeaderOnly)
{
    CaptureFrames(0, [this] { Press("cmdStop"); });
    ExpectCaptureOf(0, 0);
}

TEST_F(ConsoleCaptureTest, CaptureToTheEndOfTheTapeGivesTheButtonsBack)
{
    drive_->stepOn(0, {});
    Press("cmdReadTape");
    ExpectCaptureOf(0, kProgramFrames);
    EXPECT_TRUE(Button("cmdPlay")->isEnabled());
    EXPECT_TRUE(Button("cmdReadTape")->isEnabled());
}

TEST_F(ConsoleCaptureTest, PlayDisablesPlayAndReadTapeUntilStop)
{
    Press("cmdPlay");
    EXPECT_FALSE(Button("cmdPlay")->isEnabled());
    EXPECT_FALSE(Button("cmdReadTape")->isEnabled());
    EXPECT_TRUE(Button("cmdStop")->isEnabled());
    Press("cmdStop");
    EXPECT_TRUE(Button("cmdPlay")->isEnabled());
    EXPECT_TRUE(Button("cmdReadTape")->isEnabled());
    EXPECT_FALSE(PlayActive);
}

TEST_F(ConsoleCaptureTest, ReadTapeInDataModeStopsAtOnceWithOneMessageAndAnEmptyFile)
{
    Press("cmdDataModeSelect");
    messages.clear();
    drive_->stepOn(0, {});
    Press("cmdReadTape");
    ExpectCaptureOf(0, 0);  // the 44-byte header, sizes zero: no frame was ever on the tape here
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("The drive cannot read this tape as audio: ", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("MEDIUM ERROR"), std::string::npos) << messages[0];
    EXPECT_FALSE(PlayActive);
    EXPECT_TRUE(Button("cmdReadTape")->isEnabled());
    EXPECT_EQ(TapeFrame(), 0u);  // one failed READ, no runaway over the tape
}

}  // namespace
}  // namespace console_test
