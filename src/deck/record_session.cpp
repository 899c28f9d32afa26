#include "deck/record_session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <optional>
#include <vector>

#include "audio/frame_reader.h"
#include "audio/recorder.h"
#include "dat/frame.h"
#include "deck/command_scope.h"
#include "deck/frm_deck.h"
#include "platform/ui/message_box.h"

namespace deck {
namespace {

// A tick gives the event loop back after this long even when the drive is slow.
constexpr qint64 kTickBudgetMs = 40;

QString Duration(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

QString RateText(std::uint32_t rate) { return rate == 44100 ? "44.1 KHz" : QString("%1 KHz").arg(rate / 1000); }

}  // namespace

RecordSession::RecordSession(frmDeck& deck) : QObject(&deck), deck_(deck)
{
    setObjectName("recordSession");
    next_.setSingleShot(true);
    next_.setInterval(0);
    connect(&next_, &QTimer::timeout, this, &RecordSession::tick);
}

RecordSession::~RecordSession() = default;

QStringList RecordSession::chooseFiles()
{
    QFileDialog chooser(&deck_, "Record to Tape");
    chooser.setObjectName("dlgRecordFiles");
    chooser.setAccessibleName("Choose the audio files to record, one program each");
    chooser.setFileMode(QFileDialog::ExistingFiles);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    chooser.setNameFilters(
        {"Audio files (*.wav *.WAV *.bwf *.flac *.FLAC *.aif *.aiff *.AIF *.AIFF)", "All files (*)"});
    chooser.setDirectory(lastFolder_.isEmpty() ? QDir::currentPath() : lastFolder_);
    if (chooser.exec() != QDialog::Accepted)
        return {};
    lastFolder_ = chooser.directory().absolutePath();
    return chooser.selectedFiles();
}

bool RecordSession::confirm(const TapeContents& contents)
{
    const RecordPlan& plan = recorder_->Plan();
    const std::size_t count = plan.Programs().size();
    QString text = QString("Record %1 %2 onto the tape (%3 in all, %4):\n")
                       .arg(count)
                       .arg(count == 1 ? "program" : "programs")
                       .arg(Duration(plan.ProgramSeconds()), RateText(plan.Rate()));
    for (const PlannedProgram& p : plan.Programs())
        text += QString("\n%1.  %2  %3")
                    .arg(p.number)
                    .arg(QFileInfo(QString::fromStdString(p.name)).fileName(),
                         Duration(static_cast<double>(p.pairs) / plan.Rate()));
    if (contents.blank)
        text += "\n\nThe tape is blank.";
    else
        text += QString("\n\nThe tape is not blank: it holds %1. Recording replaces it from its start.")
                    .arg(QString::fromStdString(contents.description));
    text += "\n\nThe tape is read back and compared after the recording.";

    QMessageBox box(contents.blank ? QMessageBox::Question : QMessageBox::Warning, ui::kProgramTitle, text,
                    QMessageBox::NoButton, &deck_);
    box.setObjectName("msgRecordConfirm");
    box.setAccessibleName("Record to Tape");
    QPushButton* record = box.addButton("Record", QMessageBox::AcceptRole);
    record->setObjectName("cmdRecordConfirm");
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    // Over a recording the safe answer is the default one.
    box.setDefaultButton(contents.blank ? record : cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == record;
}

void RecordSession::Start()
{
    if (Running())
        return;
    const QStringList files = chooseFiles();
    if (files.isEmpty() || deck_.unloaded_ || !deck_.cmdRecord->isEnabled())
        return;

    // Every file is read and checked before the tape moves.
    RecordSettings settings;
    settings.date = dat::LocalNow();
    std::vector<std::string> paths;
    for (const QString& f : files)
        paths.push_back(f.toStdString());
    std::string error;
    // Reading long files takes a while, and the window cannot answer meanwhile.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::optional<RecordPlan> plan = RecordPlan::FromFiles(paths, settings, error);
    QApplication::restoreOverrideCursor();
    if (deck_.unloaded_)
        return;
    if (!plan) {
        ui::ShowMessage(error + " Nothing was written.", ui::Icon::Warning, &deck_);
        return;
    }

    deck_.BeginTransportCommand();
    recorder_ = std::make_unique<TapeRecorder>(std::move(*plan));
    TapeContents contents;
    {
        CommandScope running(deck_.commandRunning_);
        contents = recorder_->Inspect();
    }
    if (deck_.unloaded_)
        return;
    std::string refusal;
    if (!contents.error.empty())
        refusal = contents.error + " Nothing was written.";
    else if (contents.writeProtected)
        refusal =
            "The cassette is write-protected (its tab is open): nothing was written. Close the tab to record on it.";
    else if (contents.dataTape)
        refusal = "The tape holds data, not audio: nothing was written.";
    else if (!confirm(contents))
        return finish({}, false);  // cancelled: nothing to tell
    if (deck_.unloaded_)
        return;
    if (refusal.empty()) {
        // Recording over what the user was shown only: a blank tape that meanwhile holds
        // something (another cassette) is refused rather than overwritten.
        CommandScope running(deck_.commandRunning_);
        refusal = recorder_->Prepare(/*overwrite=*/!contents.blank);
    }
    if (deck_.unloaded_)
        return;
    if (!refusal.empty())
        return finish(refusal, true);
    stage_ = Stage::Writing;
    deck_.cmdStop->setEnabled(true);
    next_.start();
}

void RecordSession::Stop()
{
    if (stage_ == Stage::Writing)
        recorder_->Stop();
    else if (stage_ == Stage::Verifying)
        recorder_->StopVerify();
}

void RecordSession::Abandon()
{
    if (stage_ == Stage::Idle)
        return;
    abandoned_ = true;
    next_.stop();
    if (stage_ == Stage::Verifying) {
        recorder_->StopVerify();
        stage_ = Stage::Idle;
        return;
    }
    recorder_->Stop();
    // Inside a write, the batch under way finishes the lead-out itself.
    if (!inBatch_)
        tick();
}

void RecordSession::tick()
{
    if (stage_ == Stage::Idle || inBatch_)
        return;
    bool more = true;
    {
        CommandScope running(deck_.commandRunning_);
        inBatch_ = true;
        QElapsedTimer clock;
        clock.start();
        // Clicks arrive inside the drive's waits: a Stop or a close is seen by the next frame.
        for (int n = 0; more && (abandoned_ || (n < kFramesPerTick && clock.elapsed() < kTickBudgetMs)); ++n)
            more = stage_ == Stage::Writing ? recorder_->Step() : recorder_->VerifyStep();
        inBatch_ = false;
    }
    if (abandoned_) {
        stage_ = Stage::Idle;
        return;
    }
    showPanel();
    if (stage_ == Stage::Idle)
        return;  // the deck closed while the panel was shown
    if (more) {
        next_.start();
        return;
    }
    if (stage_ == Stage::Writing) {
        if (recorder_->State() == RecordState::Failed)
            return finish(recorder_->Message(), true);
        // A stopped recording ends with its lead-out like a whole one: what was written is
        // read back too.
        stage_ = Stage::Verifying;
        {
            CommandScope running(deck_.commandRunning_);
            recorder_->BeginVerify();
        }
        if (!abandoned_)
            next_.start();
        return;
    }
    std::string text;
    const std::size_t programs = recorder_->Plan().Programs().size();
    if (recorder_->State() == RecordState::Stopped)
        text = recorder_->Message();
    else
        text = "Recorded " + std::to_string(programs) + (programs == 1 ? " program" : " programs") +
               " up to absolute time " + dat::FormatHms(recorder_->ReachedTime()) + ", then the lead-out.";
    for (const std::string& line : recorder_->Result().Lines())
        text += "\n" + line;
    finish(text, !recorder_->Result().Clean());
}

void RecordSession::showPanel()
{
    const std::uint64_t done = recorder_->Progress().frames;
    if (done == 0 || deck_.unloaded_)
        return;
    // The panel shows what the frame says, as it does for a frame played.
    std::vector<std::uint8_t> bytes(dat::kFrameBytes);
    recorder_->Plan().BuildFrame(std::min(done, recorder_->Plan().FrameCount()) - 1, bytes.data());
    const dat::Frame f = dat::Decode(dat::FrameBytes(bytes.data(), dat::kFrameBytes));
    const dat::TimeCode none{};
    deck_.SetDisplayToPosition(f.absoluteTime ? f.absoluteTime->time : none, f.programTime ? f.programTime->time : none,
                               f.subId.program);
    deck_.SetRateDisplay(QString::fromStdString(f.mainId.RateText()), f.mainId.Emphasis());
    emit panelUpdated();
}

void RecordSession::finish(const std::string& text, bool failure)
{
    stage_ = Stage::Idle;
    recorder_.reset();
    if (deck_.unloaded_)
        return;
    // The tape has changed under whatever was known of it.
    deck_.known_.reset();
    ForgetTapeLayout();
    deck_.ShowDrivePosition();
    if (deck_.unloaded_)
        return;
    deck_.ReturnToReady();
    if (!text.empty())
        ui::ShowMessage(text, failure ? ui::Icon::Warning : ui::Icon::Information, &deck_);
}

}  // namespace deck
