// frmDeck: the handlers of the transport buttons, the keypad, the wait-for-tape poll, the
// menus, and the window's load and close.
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "audio/capture.h"
#include "audio/frame_reader.h"
#include "audio/playback.h"
#include "audio/wav_writer.h"
#include "dat/time_code.h"
#include "deck/command_scope.h"
#include "deck/drive_commands.h"
#include "deck/frm_deck.h"
#include "deck/led_box.h"
#include "deck/level_meter.h"
#include "deck/record_session.h"
#include "platform/ui/message_box.h"
#include "tape/eject_read.h"
#include "tape/position_record.h"
#include "transport/drive_state.h"

#ifndef VANTREL_VERSION
#define VANTREL_VERSION "0"
#endif

namespace {

using deck::CommandScope;

constexpr int kPollIntervalMs = 1000;

WNDPROC PlaybackProcedure = nullptr;

// Accepted keypad digits by entry position: h:mm:ss.
constexpr int kHighestDigit[5] = {2, 5, 9, 5, 9};

// Where a stopped Play resumes: the frame being heard, or where the play began when nothing
// has been heard yet.
std::optional<dat::TimeCode> ResumePoint()
{
    if (const std::optional<HeardFrame> heard = HeardNow()) {
        if (heard->absoluteTime.valid)
            return heard->absoluteTime;
        return std::nullopt;
    }
    const std::optional<dat::TimeCode>& first = FramePassReport().firstTime;
    if (first && first->valid)
        return first;
    return std::nullopt;
}

}  // namespace

void frmDeck::Form_Load()
{
    HookDeckWindow(this);
    // Wrapped around playback's procedure, to know when a refill has finished its reads.
    if (const WNDPROC previous = SetWindowProc(this, &frmDeck::DeckProcedure); previous != &frmDeck::DeckProcedure)
        PlaybackProcedure = previous;
    // Playback or a capture from the deck that reaches the end of the recorded area.
    SetEndOfTapeHandler([this] { EndOfTapeReached(); });
    // What playback and the captures meet (the file, the sound device, the drive) is told here.
    SetAudioMessageHandler([this](const std::string& text) { ui::ShowMessage(text, ui::Icon::Warning, this); });
}

// Counts how deep the playback's message handling runs: a refill waits for its reads inside
// it, and clicks arrive in those waits.
bool frmDeck::DeckProcedure(HWND window, QEvent* event)
{
    const QPointer<frmDeck> deck = qobject_cast<frmDeck*>(window);
    if (!deck || !AsWindowMessage(event))
        return CallWindowProcA(PlaybackProcedure, window, event);
    ++deck->insideProcedure_;
    const bool consumed = CallWindowProcA(PlaybackProcedure, window, event);
    if (deck && --deck->insideProcedure_ == 0 && deck->afterRefill_)
        QTimer::singleShot(0, deck, std::exchange(deck->afterRefill_, nullptr));
    return consumed;
}

void frmDeck::AfterRefill(std::function<void()> work, bool deferAlways)
{
    if (insideProcedure_ > 0) {
        if (afterRefill_)
            afterRefill_ = [first = std::move(afterRefill_), then = std::move(work)] {
                first();
                then();
            };
        else
            afterRefill_ = std::move(work);
        return;
    }
    if (deferAlways)
        QTimer::singleShot(0, this, std::move(work));
    else
        work();
}

// --- Transport buttons -------------------------------------------------------------------

// Every transport handler starts this way; the count lets a poll that was waiting notice.
void frmDeck::BeginTransportCommand()
{
    ++commandSerial_;
    SetDisplayToBlank();
    DisableAllButtons();
}

// The end of Stop, Next, Prev, BOT and EOT: the deck is Ready.
void frmDeck::ReturnToReady()
{
    EnableSearchButtons();
    EnableTapeButtons();
    cmdStop->setEnabled(false);
}

void frmDeck::cmdPlay_Click()
{
    const bool saving = mnuOptionsOnly->isChecked() || mnuOptionsSave->isChecked();
    const std::string path = CapturePath();
    // Asked before anything moves: Cancel leaves the deck Ready and the old file alone.
    if (saving && (!ui::ConfirmReplace(path, this) || unloaded_ || !cmdPlay->isEnabled()))
        return;
    BeginTransportCommand();
    cmdStop->setEnabled(true);
    tmrPanel->start();
    meterFeed->Start();
    tapeStatus_.clear();  // this play's own rate and counts, from its first frames
    captureRunning_ = saving;
    savingPath_ = saving ? path : std::string();
    if (saving)
        ShowSaving();
    // Save Only reads no further than it writes: its tape already stands where it stopped.
    resumeAfterStop_ = !mnuOptionsOnly->isChecked();
    if (mnuOptionsOnly->isChecked()) {
        // Archive without the sound device, as fast as the drive delivers; returns when a
        // stop, the end of the tape (which brings the deck back to Ready through the
        // end-of-tape notification) or a file error has finished the file.
        RunCapture(path);
    } else {
        // A start that fails (the file, the sound device) tells why and ends through the
        // end-of-tape notification, during this call or, when the start waited for the
        // previous device, later.
        playStarting_ = true;
        if (mnuOptionsSave->isChecked())
            BeginPlaybackAndCapture(path);
        else
            BeginPlayback();
        playStarting_ = false;
    }
    // Whatever ended the run without a notification (a file that could not be written)
    // still brings the deck back to Ready.
    if (!unloaded_ && !PlayActive && !StartPending())
        EndOfTapeReached();
}

void frmDeck::cmdStop_Click()
{
    if (record_ && record_->Running())
        return record_->Stop();
    if (StopScan(/*eject=*/false))
        return;
    // Taken before the stop drops the queue: the reads ran up to four seconds ahead of it.
    std::optional<dat::TimeCode> resumeAt;
    if (resumeAfterStop_ && PlayActive)
        resumeAt = ResumePoint();
    resumeAfterStop_ = false;
    BeginTransportCommand();
    tmrPanel->stop();
    StopPlayback();
    ReturnToReady();
    // A deck capture that lost or concealed frames says so; a clean one says nothing.
    if (std::exchange(captureRunning_, false)) {
        ShowSaved();
        if (const std::string errors = ErrorSummary(FramePassReport()); !errors.empty())
            ui::ShowMessage(errors, ui::Icon::Warning, this);
    }
    // Once the read that a stop can arrive in, and the refill it belongs to, have ended: a
    // command sent from inside would wait behind it, and the refill's further reads would
    // move the tape on from where the locate put it.
    AfterRefill(
        [this, resumeAt] {
            if (unloaded_ || !cmdPlay->isEnabled() || CommandRunning())
                return;  // the deck has moved on
            DisableAllButtons();
            if (resumeAt) {
                LocateOutcome back;
                {
                    CommandScope running(commandRunning_);
                    back = StandAt(*resumeAt);
                }
                if (unloaded_)
                    return;
                if (!back.done)
                    ui::ShowMessage(back.message, ui::Icon::Warning, this);
                if (unloaded_)
                    return;
            }
            ShowDrivePosition();
            if (!unloaded_)
                ReturnToReady();
        },
        /*deferAlways=*/true);
}

bool frmDeck::ReadDrivePosition()
{
    PositionRecord record{};
    bool read;
    {
        CommandScope running(commandRunning_);
        read = ReadPosition(AspiAdapter, AspiTarget, record);
    }
    if (!read) {
        known_.reset();
        return false;
    }
    known_ = KnownPosition{dat::TimeCodeFromBcd(&record[12]), dat::TimeCodeFromBcd(&record[8]),
                           dat::ProgramNumber::FromDigits(record[4], record[5], record[6])};
    return true;
}

void frmDeck::ShowDrivePosition()
{
    if (!ReadDrivePosition() || unloaded_)
        return;  // the panel keeps its dashes
    SetDisplayToPosition(known_->absolute, known_->program, known_->number);
}

void frmDeck::NoteHeardPosition()
{
    if (const std::optional<HeardFrame> heard = HeardNow())
        known_ = KnownPosition{heard->absoluteTime, heard->programTime, heard->program};
}

void frmDeck::tmrPanel_Timer()
{
    if (unloaded_)
        return;
    // HeardNow() still holds the last frame an earlier Play let be heard: Save Only, which
    // plays nothing, is followed by the frames read instead.
    if (const std::optional<HeardFrame> heard = CaptureLoopRunning() ? std::nullopt : HeardNow()) {
        NoteHeardPosition();
        SetDisplayToPosition(heard->absoluteTime, heard->programTime, heard->program);
        SetRateDisplay(QString::fromStdString(heard->rateText), heard->emphasis);
        tapeStatus_ = TapeStatusText(heard->sampleRate, QString::fromStdString(heard->modeText), heard->emphasis,
                                     heard->unreadable, heard->concealed);
        ShowStatus();
        return;
    }
    // Save Only plays nothing: the panel follows the frames read.
    const ReadReport& read = FramePassReport();
    if (CaptureFileNum > 0 && read.lastTime) {
        SetDisplayToPosition(*read.lastTime, dat::TimeCode{}, dat::ProgramNumber{});
        SetRateDisplay(QString::fromStdString(read.rateText), read.emphasis);
        tapeStatus_ = TapeStatusText(read.sampleRate, read.format ? ModeText(*read.format) : QString(), read.emphasis,
                                     read.unreadable.count, read.concealed.count);
    }
    ShowStatus();
}

void frmDeck::cmdCue_Click()
{
    BeginTransportCommand();
    cmdStop->setEnabled(true);
}

void frmDeck::cmdRecord_Click()
{
    if (!record_)
        record_ = new deck::RecordSession(*this);
    record_->Start();
}

// The names are crossed: cmdNext carries the skip-back picture and "Previous Program".
void frmDeck::cmdNext_Click() { SeekProgram(/*next=*/false); }
void frmDeck::cmdPrev_Click() { SeekProgram(/*next=*/true); }

void frmDeck::cmdBOT_Click()
{
    RunSeek([] { LocateTape(AspiAdapter, AspiTarget, kLocateAbsoluteTime, 0, 0, 0); });
}

void frmDeck::cmdEOT_Click()
{
    // Program number 0EE, the lead-out after the last recording; the digits go out as they are.
    RunSeek([this] {
        if (LocateTape(AspiAdapter, AspiTarget, kLocateProgram, 0, 14, 14) && !unloaded_)
            LearnTotalAtEnd();
    });
}

void frmDeck::cmdEject_Click()
{
    if (StopScan(/*eject=*/true))
        return;
    BeginTransportCommand();
    bool ejected;
    {
        CommandScope running(commandRunning_);
        ejected = EjectTape(AspiAdapter, AspiTarget);
    }
    if (unloaded_)
        return;
    if (ejected) {
        known_.reset();
        ForgetTape();
        tmrWait4Tape->start(kPollIntervalMs);
        return;
    }
    ui::ShowMessage("Error. Tape did not eject for some reason.", ui::Icon::Warning, this);
    if (!unloaded_)
        cmdEject->setEnabled(true);
}

void frmDeck::EndOfTapeReached()
{
    // Only from Stop only: the deck may have been stopped or closed in the meantime.
    if (unloaded_ || !cmdStop->isEnabled() || cmdPlay->isEnabled())
        return;
    // Everything read has been heard: the tape already stands at the end.
    resumeAfterStop_ = false;
    if (playStarting_) {
        // Nothing was played or captured: no summary, and no file to call complete.
        captureRunning_ = false;
        lblStatus->clear();
        lblStatus->setToolTip(QString());
    }
    cmdStop_Click();
}

// --- Wait-for-tape poll ------------------------------------------------------------------

void frmDeck::tmrWait4Tape_Timer()
{
    // A tick that arrives inside a waiting command (this poll's own, or a transport
    // command's) is skipped: the drive is busy, and the next tick comes a second later.
    if (pollRunning_ || commandRunning_ > 0 || unloaded_)
        return;
    pollRunning_ = true;
    const unsigned serial = commandSerial_;
    // A transport command that ran inside one of this poll's waits (Eject pressed in the
    // Data tape state) has changed the deck: what the poll learnt is stale then.
    const auto stale = [&] { return unloaded_ || serial != commandSerial_ || !tmrWait4Tape->isActive(); };

    if (TestUnitReady(AspiAdapter, AspiTarget) == kTurReady && !stale()) {
        ForgetTapeLayout();  // a tape now ready may be another one: its 12-bit layout is found anew
        const std::uint8_t density = GetDensityCode(AspiAdapter, AspiTarget);
        if (!stale()) {
            if (density == AudioDensity) {
                known_.reset();  // a new tape
                ForgetTape();
                tmrWait4Tape->stop();
                SetDisplayToBlank();
                EnableTapeButtons();
                cmdStop->setEnabled(false);
                EnableSearchButtons();
            } else {
                SetDisplayToData();
                cmdEject->setEnabled(true);
            }
        }
    }
    pollRunning_ = false;
}

// --- Keypad ------------------------------------------------------------------------------

void frmDeck::SeekTypeClicked(SeekType type)
{
    picAtime[0]->setFocus();
    seekType_ = type;
    RestartEntry = type == SeekType::ATime;
    SetDisplayToBlank();
    EnablePadButtons();
    cmdExecute->setEnabled(false);
}

void frmDeck::cmdAtime_Click() { SeekTypeClicked(SeekType::ATime); }
void frmDeck::cmdPno_Click() { SeekTypeClicked(SeekType::PNo); }
void frmDeck::cmdPtime_Click() { SeekTypeClicked(SeekType::PTime); }

void frmDeck::cmdPad_Click(int index)
{
    if (RestartEntry) {
        RestartEntry = false;
        DigitPosition = 0;
    }
    const int p = DigitPosition;
    if (p < 0 || p > 4 || index < 0 || index > kHighestDigit[p])
        return;
    picAtime[p]->SetPicture(clpDigits->GraphicCell(index), index);
    ++DigitPosition;
    if (p == 4) {
        cmdExecute->setEnabled(true);
        cmdExecute->setFocus();
    }
    if (DigitPosition > 4) {
        DigitPosition = 0;
        DisablePadButtons();
    }
}

void frmDeck::cmdExecute_Click()
{
    picAtime[0]->setFocus();
    RestartEntry = false;
    cmdExecute->setEnabled(false);
    // The entry as the panel shows it; a box left blank by a broken-off entry reads as 0.
    std::array<int, 5> digits{};
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const int shown = picAtime[i]->Shown();
        digits[i] = shown >= 0 && shown <= 9 ? shown : 0;
    }
    SeekToEntry(seekType_, digits);
}

// --- Menus -------------------------------------------------------------------------------

void frmDeck::mnuFileConsole_Click() { emit consoleRequested(); }

// The close request's steps run in closeEvent, which then asks for the program's end.
void frmDeck::mnuFileExit_Click() { close(); }

// Qt has already inverted the item's own check mark; at most one of the two is marked.
void frmDeck::mnuOptionsSave_Click() { mnuOptionsOnly->setChecked(false); }
void frmDeck::mnuOptionsOnly_Click() { mnuOptionsSave->setChecked(false); }

void frmDeck::mnuOptionsFolder_Click()
{
    QFileDialog chooser(this, "Save To Folder");
    chooser.setObjectName("dlgSaveFolder");
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setDirectory(saveFolder_.isEmpty() ? QDir::currentPath() : saveFolder_);
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty() && !unloaded_)
        SetSaveFolder(chooser.selectedFiles().first());
}

std::string frmDeck::CapturePath() const
{
    if (saveFolder_.isEmpty())
        return kCaptureFileName;
    return QDir(saveFolder_).filePath(QString::fromLatin1(kCaptureFileName)).toStdString();
}

void frmDeck::SetSaveFolder(const QString& folder)
{
    saveFolder_ = folder;
    mnuOptionsFolder->setToolTip(folder);
    if (!captureRunning_)
        lblStatus->setText("Captures go to " + QDir::toNativeSeparators(QDir(folder).absolutePath()));
}

// --- Status line -------------------------------------------------------------------------

namespace {

QString Megabytes(const QFileInfo& file) { return QString::number(static_cast<double>(file.size()) / 1e6, 'f', 1); }

// The tape's part, when there is one, then the file's: the file's whole path when it fits,
// its middle left out when it does not, and the size of `written` (where its audio is being
// written until it is finished). The tooltip holds both in full, the file's first.
void ShowFileLine(QLabel* line, const QString& tape, const QString& format, const QFileInfo& file,
                  const QFileInfo& written)
{
    const QString path = QDir::toNativeSeparators(file.absoluteFilePath());
    const QString size = Megabytes(written);
    const QString full = format.arg(path, size);
    line->setToolTip(tape.isEmpty() ? full : full + "\n" + tape);
    const QString lead = tape.isEmpty() ? QString() : tape + "; ";
    const int room = line->width() - line->fontMetrics().horizontalAdvance(lead + format.arg(QString(), size));
    line->setText(lead + format.arg(line->fontMetrics().elidedText(path, Qt::ElideMiddle, std::max(room, 40)), size));
}

}  // namespace

QString ModeText(const dat::AudioFormat& format)
{
    return format.channels > 2  ? QStringLiteral("four channels")
           : format.NonLinear() ? QStringLiteral("long play")
                                : QStringLiteral("stereo");
}

QString TapeStatusText(std::uint32_t sampleRate, const QString& mode, bool emphasis, std::uint64_t unreadable,
                       std::uint64_t concealed)
{
    if (sampleRate == 0)
        return QString();
    QString text = QString::number(sampleRate / 1000.0, 'g', 3) + " kHz";
    if (!mode.isEmpty())
        text += ", " + mode;
    if (emphasis)
        text += ", emphasis";
    return text + QString("; %1 unreadable, %2 concealed").arg(unreadable).arg(concealed);
}

void frmDeck::ShowStatus()
{
    if (captureRunning_) {
        ShowSaving();
        return;
    }
    if (tapeStatus_.isEmpty())
        return;
    lblStatus->setText(lblStatus->fontMetrics().elidedText(tapeStatus_, Qt::ElideRight, lblStatus->width()));
    lblStatus->setToolTip(tapeStatus_);
}

void frmDeck::ShowSaving()
{
    const QFileInfo file(QString::fromStdString(savingPath_));
    const std::string writing = CaptureWritingPath();
    QFileInfo written(QString::fromStdString(writing.empty() ? savingPath_ : writing));
    written.setCaching(false);
    ShowFileLine(lblStatus, tapeStatus_, "Saving %1: %2 MB", file, written);
}

void frmDeck::ShowSaved()
{
    QFileInfo file(QString::fromStdString(savingPath_));
    file.setCaching(false);
    if (!file.isFile()) {
        lblStatus->clear();  // it could not be made: the message said why
        lblStatus->setToolTip(QString());
        return;
    }
    ShowFileLine(lblStatus, tapeStatus_, "Complete: %1, %2 MB", file, file);
}

void frmDeck::mnuHelpAbout_Click()
{
    ui::ShowMessage(std::string("Vantrel ") + VANTREL_VERSION +
                        " plays the audio tapes of an audio-capable SCSI DAT drive like a tape deck, "
                        "and can archive them bit-exact to Audio48.wav.",
                    ui::Icon::Information, this);
}

void frmDeck::mnuHelpContents_Click() {}

void frmDeck::mnuHelpKeyboard_Click() { ui::ShowMessage(KeyboardHelp().toStdString(), ui::Icon::Information, this); }

// --- Close -------------------------------------------------------------------------------

void frmDeck::Form_Unload()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    afterRefill_ = nullptr;
    // The window is gone: its timer goes with it.
    tmrWait4Tape->stop();
    SetDisplayToBlank();
    DisableAllButtons();
    // A recording still gets its lead-out, so the tape ends cleanly where it stopped.
    if (record_)
        record_->Abandon();
    StopPlayback();
}

// Granted always. Closing the deck ends the program, whatever other window is open.
void frmDeck::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
    emit programEndRequested();
}
