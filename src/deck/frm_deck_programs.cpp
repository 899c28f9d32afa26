// frmDeck: Options, Scan Programs, the program list beside the deck, the total recorded time
// and the A-Time row's elapsed or remaining time.
#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "audio/playback.h"
#include "deck/command_scope.h"
#include "deck/drive_commands.h"
#include "deck/frm_deck.h"
#include "deck/program_list.h"
#include "platform/ui/message_box.h"
#include "tape/position_record.h"
#include "transport/drive_state.h"
#include "transport/result_codes.h"

namespace {

using deck::CommandScope;

constexpr int kPollIntervalMs = 1000;  // the deck's wait for a tape, as after Eject

LocateOutcome LocateProgramNumber(unsigned n)
{
    return LocateTelling(AspiAdapter, AspiTarget, kLocateProgram, static_cast<std::int32_t>(n / 100),
                         static_cast<std::int32_t>(n / 10 % 10), static_cast<std::int32_t>(n % 10));
}

std::optional<PositionRecord> DrivePosition()
{
    PositionRecord record{};
    if (!ReadPosition(AspiAdapter, AspiTarget, record))
        return std::nullopt;
    return record;
}

}  // namespace

void frmDeck::CreateProgramParts(QWidget* client)
{
    programPanel = new deck::ProgramPanel(this);
    connect(programPanel, &deck::ProgramPanel::programChosen, this, &frmDeck::PlayProgram);

    mnuOptions->addSeparator();
    mnuOptionsScan = mnuOptions->addAction("Scan &Programs", this, &frmDeck::mnuOptionsScan_Click);
    mnuOptionsScan->setObjectName("mnuOptionsScan");
    mnuOptionsRemaining = mnuOptions->addAction("&Remaining Time", this, &frmDeck::ToggleRemainingTime);
    mnuOptionsRemaining->setObjectName("mnuOptionsRemaining");
    mnuOptionsRemaining->setCheckable(true);
    // Both need a tape standing still; the time left needs the total.
    connect(mnuOptions, &QMenu::aboutToShow, this, [this] {
        mnuOptionsScan->setEnabled(cmdBOT->isEnabled() && !CommandRunning());
        mnuOptionsRemaining->setEnabled(total_.has_value());
        mnuOptionsRemaining->setChecked(showRemaining_);
    });

    QFont small = lblPno->font();
    QPalette green = lblPno->palette();
    lblTotal = new QLabel(Frame5);
    lblTotal->setObjectName("lblTotal");
    lblTotal->setGeometry(82, 3, 160, 15);
    lblTotal->setToolTip("Total recorded time");
    lblTotal->setAccessibleName("Total recorded time");
    lblRemain = new QLabel("REMAIN", Frame5);
    lblRemain->setObjectName("lblRemain");
    lblRemain->setGeometry(208, 22, 49, 15);
    lblRemain->setToolTip("The A-Time row shows the time left to the end of the recording");
    lblRemain->setAccessibleName("Remaining time");
    for (QLabel* l : {lblTotal, lblRemain}) {
        l->setFont(small);
        l->setPalette(green);
        l->hide();
    }
    // A click on the A-Time row, its label or its digits switches elapsed and remaining.
    auto* click = new deck::ClickFilter(this, [this] { ToggleRemainingTime(); });
    Frame3->installEventFilter(click);
    lblAtime->installEventFilter(click);
    (void)client;
}

dat::TimeCode frmDeck::UpperRowTime(const dat::TimeCode& absolute) const
{
    if (!showRemaining_ || !total_)
        return absolute;
    return deck::TimeBetween(*total_, absolute);  // dashes past the end or without a time
}

void frmDeck::SetTotal(const dat::TimeCode& total)
{
    if (!dat::IndexOfTimeCode(total))
        return;
    total_ = total;
    lblTotal->setText(QString::fromStdString("TOTAL " + dat::FormatHms(total)));
    lblTotal->show();
    programPanel->SetTotal(total);
}

void frmDeck::ForgetTape()
{
    total_.reset();
    lastStart_.reset();
    showRemaining_ = false;
    lblTotal->hide();
    lblRemain->hide();
    Frame1->setAccessibleName("Absolute Time");
    programPanel->Clear();
}

void frmDeck::ToggleRemainingTime()
{
    if (!total_) {
        mnuOptionsRemaining->setChecked(false);
        return;
    }
    showRemaining_ = !showRemaining_;
    mnuOptionsRemaining->setChecked(showRemaining_);
    lblRemain->setVisible(showRemaining_);
    Frame1->setAccessibleName(showRemaining_ ? "Remaining Time" : "Absolute Time");
    // A panel that shows where the stopped tape stands follows at once; a playing one at its
    // next update, and a keypad entry keeps its digits.
    if (known_ && cmdBOT->isEnabled() && !cmdPad[0]->isEnabled() && !CommandRunning())
        SetDisplayToPosition(known_->absolute, known_->program, known_->number);
}

void frmDeck::LearnTotalAtEnd()
{
    const std::optional<PositionRecord> there = DrivePosition();
    if (!there || unloaded_)
        return;
    const std::optional<std::uint32_t> frame = ReadBlockPosition(AspiAdapter, AspiTarget);
    if (!unloaded_)
        SetTotal(deck::TotalAtEnd(*there, frame, lastStart_.get()));
}

bool frmDeck::StopScan(bool eject)
{
    if (!scanRunning_)
        return false;
    // The command under way runs to its end; the scan stops after it.
    scanStop_ = eject ? ScanStop::Eject : ScanStop::Stop;
    cmdStop->setEnabled(false);
    cmdEject->setEnabled(false);
    return true;
}

void frmDeck::mnuOptionsScan_Click()
{
    if (scanRunning_ || unloaded_ || !cmdBOT->isEnabled() || CommandRunning())
        return;
    BeginTransportCommand();
    // While the scan runs, Stop and Eject end it; everything else waits.
    cmdStop->setEnabled(true);
    cmdEject->setEnabled(true);
    cmdStop->setFocus(Qt::OtherFocusReason);
    scanRunning_ = true;
    scanStop_ = ScanStop::None;
    ForgetTape();
    programPanel->BeginScan();

    deck::ScanDrive drive;
    drive.locateProgram = [](unsigned n) { return LocateProgramNumber(n); };
    drive.locateEnd = [] { return LocateTelling(AspiAdapter, AspiTarget, kLocateProgram, 0, 14, 14); };
    drive.readPosition = [] { return DrivePosition(); };
    drive.readFrame = [] { return ReadBlockPosition(AspiAdapter, AspiTarget); };
    drive.stopped = [this] { return unloaded_ || scanStop_ != ScanStop::None; };
    drive.found = [this](const deck::ProgramRow& row) {
        if (!unloaded_)
            programPanel->AddProgram(row);
    };
    deck::ScanResult result;
    {
        CommandScope running(commandRunning_);
        result = deck::ScanPrograms(drive);
    }
    scanRunning_ = false;
    if (unloaded_)
        return;
    programPanel->ShowResult(result);
    if (!result.programs.empty() && result.programs.back().frame)
        lastStart_ = std::make_unique<deck::ProgramRow>(result.programs.back());
    SetTotal(result.total);

    if (scanStop_ == ScanStop::Eject) {
        cmdEject_Click();
        return;
    }
    if (!result.failure.empty()) {
        // A tape taken out or changed during the scan: the deck waits for the next one.
        std::int32_t ready;
        {
            CommandScope running(commandRunning_);
            ready = CheckUnitReady(AspiAdapter, AspiTarget).code;
        }
        if (unloaded_)
            return;
        if (ready == kTurNoTape || ready == kTurMediumChanged || ready == kTurBecomingReady) {
            known_.reset();
            ForgetTape();
            SetDisplayToBlank();
            DisableAllButtons();
            tmrWait4Tape->start(kPollIntervalMs);
            return;
        }
        ui::ShowMessage(result.failure, ui::Icon::Warning, this);
        if (unloaded_)
            return;
    }
    ShowDrivePosition();
    if (!unloaded_)
        ReturnToReady();
}

void frmDeck::PlayProgram(unsigned number)
{
    // From a tape standing still, or one playing without a capture: the list is for listening.
    const bool playing = PlayActive && !captureRunning_ && cmdStop->isEnabled();
    if (scanRunning_ || unloaded_ || CommandRunning() || !(cmdBOT->isEnabled() || playing))
        return;
    auto located = std::make_shared<bool>(false);
    RunSeek(
        [this, number, located] {
            const std::optional<KnownPosition> before = known_;
            const LocateOutcome out = LocateProgramNumber(number);
            *located = out.done;
            if (!out.done && !unloaded_)
                SeekFailed(out, before);
        },
        [this, located] {
            if (*located)
                cmdPlay_Click();
        });
}
