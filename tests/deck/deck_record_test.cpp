// Record to Tape through the deck's widgets: the file chooser, the confirmation, the recording
// with the panel running, Stop, the read-back and the box that tells the outcome, on the
// virtual drive with a saved tape to look at afterwards.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <iterator>

#include "dat/frame.h"
#include "deck/record_session.h"
#include "deck_fixture.h"
#include "sim/tape.h"
#include "sim/written_tape.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

constexpr std::uint8_t kWrite6 = 0x0A;
constexpr std::uint32_t kPairs48 = 1440;  // stereo pairs in a 48 kHz frame

std::vector<std::int16_t> Noise(std::size_t samples, std::uint32_t seed)
{
    std::vector<std::int16_t> pcm(samples);
    for (auto& s : pcm) {
        seed = seed * 1103515245u + 12345u;
        s = static_cast<std::int16_t>(seed >> 16);
    }
    return pcm;
}

// A canonical PCM WAV file.
void WriteWav(const QString& path, const std::vector<std::int16_t>& samples, std::uint32_t rate, std::uint16_t channels,
              std::uint16_t bits = 16)
{
    std::ofstream out(path.toStdString(), std::ios::binary);
    const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const std::uint32_t bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * channels * bits / 8);
    u16(static_cast<std::uint16_t>(channels * bits / 8));
    u16(bits);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

std::vector<std::uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DeckRecord : public DeckTest {
protected:
    void SetUp() override
    {
        DeckTest::SetUp();
        ASSERT_TRUE(tmp.isValid());
        qApp->installEventFilter(&dialogs);
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&dialogs);
        DeckTest::TearDown();
    }

    std::string Saved() const { return tmp.filePath("saved.dat").toStdString(); }

    // The deck Ready on `tape`, which is saved to Saved() when it is taken out.
    void StartOn(std::shared_ptr<const sim::Tape> tape, sim::DriveConfig drive = {})
    {
        drive.saveTape = Saved();
        Start(std::move(tape), drive);
        Tick();
        ASSERT_EQ(EnabledButtons(deck()), ReadyButtons());
    }

    // The tape's frames, as the drive saves them when the tape is taken out.
    std::vector<std::uint8_t> TakeOut()
    {
        bus->removeTape(AspiAdapter, AspiTarget);
        return ReadAll(Saved());
    }

    static dat::Frame FrameAt(const std::vector<std::uint8_t>& tape, std::uint64_t n)
    {
        return dat::Decode(dat::FrameBytes(tape.data() + n * dat::kFrameBytes, dat::kFrameBytes));
    }

    // Answers the Record dialogs as they open: the chooser gets `files` (names in the
    // temporary folder, or nothing: Cancel); the confirmation keeps its text and is answered
    // Record or Cancel; `onSession` gets the session once it runs.
    struct Dialogs : QObject {
        QString folder;
        QStringList files;
        bool record = true;
        QString confirmation;
        int choosers = 0, confirmations = 0;
        std::function<void(deck::RecordSession*)> onSession;

        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (e->type() != QEvent::Show)
                return false;
            if (o->objectName() == "dlgRecordFiles") {
                ++choosers;
                QMetaObject::invokeMethod(
                    this, [this, w = static_cast<QFileDialog*>(o)] { choose(w); }, Qt::QueuedConnection);
            } else if (o->objectName() == "msgRecordConfirm") {
                ++confirmations;
                QMetaObject::invokeMethod(
                    this, [this, w = static_cast<QMessageBox*>(o)] { answer(w); }, Qt::QueuedConnection);
            }
            return false;
        }

        void choose(QFileDialog* chooser)
        {
            if (files.isEmpty()) {
                chooser->reject();
                return;
            }
            chooser->setDirectory(folder);
            QStringList quoted;
            for (const QString& f : files)
                quoted << '"' + f + '"';
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(quoted.join(' '));
            auto* buttons = chooser->findChild<QDialogButtonBox*>("buttonBox");
            for (QAbstractButton* b : buttons->buttons())
                if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) {
                    EXPECT_TRUE(b->isEnabled());
                    if (!b->isEnabled())
                        chooser->reject();  // the test fails rather than waits
                    b->click();
                }
        }

        void answer(QMessageBox* box)
        {
            confirmation = box->text();
            EXPECT_TRUE(qobject_cast<frmDeck*>(box->parentWidget()));
            if (onSession)
                if (auto* session = box->parentWidget()->findChild<deck::RecordSession*>("recordSession"))
                    onSession(session);
            if (record)
                box->findChild<QPushButton*>("cmdRecordConfirm")->click();
            else
                box->button(QMessageBox::Cancel)->click();
        }
    } dialogs;

    // Record pressed with `files` chosen and the confirmation answered; returns once the deck
    // is Ready again.
    void Record(QStringList files, bool confirm = true)
    {
        dialogs.folder = tmp.path();
        dialogs.files = std::move(files);
        dialogs.record = confirm;
        deck().cmdRecord->click();
        ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    }

    QTemporaryDir tmp;
};

TEST_F(DeckRecord, RecordsTheChosenFilesWithThePanelRunningThenVerifiesAndTellsTheOutcome)
{
    StartOn(sim::MakeBlankTape());
    // A stereo file whose last frame is padded, and a mono one written to both channels.
    const std::vector<std::int16_t> a = Noise((120 * kPairs48 - 7) * 2, 1), b = Noise(60 * kPairs48, 2);
    WriteWav(tmp.filePath("a.wav"), a, 48000, 2);
    WriteWav(tmp.filePath("b.wav"), b, 48000, 1);

    std::set<std::string> numbers, seenButtons;
    std::string lastTime;
    bool eject = true;
    dialogs.onSession = [&](deck::RecordSession* session) {
        QObject::connect(session, &deck::RecordSession::panelUpdated, session, [&] {
            numbers.insert(deck().lblPno->text().toStdString());
            for (const std::string& name : EnabledButtons(deck()))
                seenButtons.insert(name);
            if (RowText(deck(), true) != "-:--:--")
                lastTime = RowText(deck(), true);
            // Eject is refused while the tape is written, by its key too.
            deck().findChild<QAction*>("keyEject")->trigger();
            eject = eject && bus->driveState(AspiAdapter, AspiTarget)->tapeLoaded;
        });
    };
    Record({"a.wav", "b.wav"});

    EXPECT_EQ(dialogs.choosers, 1);
    EXPECT_NE(dialogs.confirmation.indexOf("Record 2 programs"), -1) << dialogs.confirmation.toStdString();
    EXPECT_NE(dialogs.confirmation.indexOf("1.  a.wav  0:00:04"), -1) << dialogs.confirmation.toStdString();
    EXPECT_NE(dialogs.confirmation.indexOf("2.  b.wav  0:00:02"), -1) << dialogs.confirmation.toStdString();
    EXPECT_NE(dialogs.confirmation.indexOf("The tape is blank."), -1);
    // Only Stop could be pressed; the panel ran through both programs, the lead-in and lead-out.
    EXPECT_EQ(seenButtons, std::set<std::string>{"cmdStop"});
    EXPECT_TRUE(eject);
    EXPECT_TRUE(numbers.count("PNo 01") && numbers.count("PNo 02")) << numbers.size();
    EXPECT_EQ(lastTime, "0:00:05");

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Recorded 2 programs up to absolute time 0:00:05, then the lead-out.", 0), 0u)
        << messages[0];
    EXPECT_NE(messages[0].find("Verified: all 580 frames read back as written."), std::string::npos) << messages[0];
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    EXPECT_EQ(CommandsWithOpcode(kWrite6).size(), 580u);

    const std::vector<std::uint8_t> tape = TakeOut();
    ASSERT_EQ(tape.size(), 580 * dat::kFrameBytes);
    EXPECT_EQ(FrameAt(tape, 99).subId.program, dat::ProgramNumber::LeadIn());
    EXPECT_EQ(FrameAt(tape, 100).subId.program, dat::ProgramNumber::Of(1));
    EXPECT_TRUE(FrameAt(tape, 100).subId.start);
    EXPECT_EQ(FrameAt(tape, 220).subId.program, dat::ProgramNumber::Of(2));
    EXPECT_EQ(FrameAt(tape, 280).subId.program, dat::ProgramNumber::LeadOut());
    EXPECT_EQ(FrameAt(tape, 579).subId.program, dat::ProgramNumber::LeadOut());
    // The sources' samples: the first frame of each program, the mono one on both channels.
    EXPECT_EQ(std::memcmp(tape.data() + 100 * dat::kFrameBytes, a.data(), kPairs48 * 4), 0);
    std::vector<std::int16_t> both;
    for (std::size_t i = 0; i < kPairs48; ++i)
        both.insert(both.end(), {b[i], b[i]});
    EXPECT_EQ(std::memcmp(tape.data() + 220 * dat::kFrameBytes, both.data(), kPairs48 * 4), 0);
}

TEST_F(DeckRecord, StopEndsTheRecordingWithTheLeadOutAndWhatWasWrittenIsVerified)
{
    StartOn(sim::MakeBlankTape());
    WriteWav(tmp.filePath("long.wav"), Noise(300 * kPairs48 * 2, 3), 48000, 2);
    bool stopped = false;
    dialogs.onSession = [&](deck::RecordSession* session) {
        QObject::connect(session, &deck::RecordSession::panelUpdated, session, [&] {
            if (!stopped && deck().lblPno->text() == "PNo 01" && RowText(deck(), true) == "0:00:01") {
                stopped = true;
                deck().cmdStop->click();
            }
        });
    };
    Record({"long.wav"});
    ASSERT_TRUE(stopped);

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Stopped at absolute time 0:00:01", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("Verified: all"), std::string::npos) << messages[0];
    const std::vector<std::uint8_t> tape = TakeOut();
    const std::uint64_t frames = tape.size() / dat::kFrameBytes;
    ASSERT_GT(frames, 400u);
    ASSERT_LT(frames, 700u);  // not the whole file
    EXPECT_EQ(FrameAt(tape, frames - 301).subId.program, dat::ProgramNumber::Of(1));
    for (std::uint64_t n = frames - 300; n < frames; ++n)
        ASSERT_EQ(FrameAt(tape, n).subId.program, dat::ProgramNumber::LeadOut()) << n;
}

TEST_F(DeckRecord, ABadFileOrACancelledChooserLeavesTheTapeAlone)
{
    StartOn(sim::MakeBlankTape());
    WriteWav(tmp.filePath("hi.wav"), Noise(96000 * 2, 4), 96000, 2);
    WriteWav(tmp.filePath("ok.wav"), Noise(kPairs48 * 2, 5), 48000, 2);
    recorder->clear();

    Record({});
    EXPECT_EQ(dialogs.choosers, 1);
    EXPECT_TRUE(messages.empty());

    Record({"ok.wav", "hi.wav"});
    EXPECT_EQ(dialogs.confirmations, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("hi.wav"), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("Nothing was written."), std::string::npos) << messages[0];
    // The files are checked before the drive is asked anything.
    EXPECT_TRUE(recorder->commands().empty());
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
}

TEST_F(DeckRecord, AWriteProtectedCassetteIsRefusedBeforeTheConfirmation)
{
    sim::DriveConfig drive;
    drive.writeProtected = true;
    StartOn(sim::MakeBlankTape(), drive);
    WriteWav(tmp.filePath("ok.wav"), Noise(kPairs48 * 2, 5), 48000, 2);
    Record({"ok.wav"});
    EXPECT_EQ(dialogs.confirmations, 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("write-protected"), std::string::npos) << messages[0];
    EXPECT_TRUE(CommandsWithOpcode(kWrite6).empty());
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
    EXPECT_TRUE(TakeOut().empty());
}

TEST_F(DeckRecord, ARecordedTapeIsNamedInTheConfirmationAndRecordedOverOnlyWhenConfirmed)
{
    StartOn(sim::MakePcmTape({Noise(40 * kPairs48 * 2, 6)}));
    WriteWav(tmp.filePath("new.wav"), Noise(30 * kPairs48 * 2, 7), 48000, 2);

    Record({"new.wav"}, /*confirm=*/false);
    EXPECT_NE(dialogs.confirmation.indexOf("The tape is not blank: it holds audio: program 1 at absolute time 0:00:00"),
              -1)
        << dialogs.confirmation.toStdString();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(CommandsWithOpcode(kWrite6).empty());
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());

    Record({"new.wav"});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Verified: all 430 frames"), std::string::npos) << messages[0];
    EXPECT_EQ(TakeOut().size(), 430 * dat::kFrameBytes);  // nothing of the old recording after it
}

TEST_F(DeckRecord, AFrameWrittenWrongFailsTheVerifyAtItsAbsoluteTime)
{
    sim::DriveConfig drive;
    drive.writeCorrupt = {150};  // absolute frame 50: 0:00:01 frame 17
    StartOn(sim::MakeBlankTape(), drive);
    WriteWav(tmp.filePath("ok.wav"), Noise(100 * kPairs48 * 2, 5), 48000, 2);
    Record({"ok.wav"});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Mismatched: 1 frames read back different from what was written: 00:00:01.17"),
              std::string::npos)
        << messages[0];
    EXPECT_EQ(messages[0].find("Verified: all"), std::string::npos) << messages[0];
}

TEST_F(DeckRecord, ClosingTheDeckWhileRecordingStillWritesTheLeadOut)
{
    StartOn(sim::MakeBlankTape());
    WriteWav(tmp.filePath("long.wav"), Noise(300 * kPairs48 * 2, 3), 48000, 2);
    bool closed = false;
    dialogs.onSession = [&](deck::RecordSession* session) {
        QObject::connect(session, &deck::RecordSession::panelUpdated, session, [&] {
            if (!closed && deck().lblPno->text() == "PNo 01") {
                closed = true;
                deck().close();
            }
        });
    };
    dialogs.folder = tmp.path();
    dialogs.files = {"long.wav"};
    deck().cmdRecord->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return closed; }));
    testing_support::PumpPosted();
    EXPECT_EQ(exitRequests, 1);
    EXPECT_TRUE(messages.empty());
    const std::vector<std::uint8_t> tape = TakeOut();
    const std::uint64_t frames = tape.size() / dat::kFrameBytes;
    ASSERT_GT(frames, 400u);
    ASSERT_LT(frames, 700u);
    EXPECT_EQ(FrameAt(tape, frames - 301).subId.program, dat::ProgramNumber::Of(1));
    EXPECT_EQ(FrameAt(tape, frames - 1).subId.program, dat::ProgramNumber::LeadOut());
    EXPECT_EQ(FrameAt(tape, frames - 300).subId.program, dat::ProgramNumber::LeadOut());
}

}  // namespace
}  // namespace deck_test
