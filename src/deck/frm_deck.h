// frmDeck: the deck window. The front panel of a tape deck: the LED panel, the keypad, the
// transport buttons, the wait-for-tape poll and the menus. Its controls carry their names
// as objectName; control arrays are named with their index, as "cmdPad(3)".
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "dat/audio_format.h"
#include "dat/frame.h"
#include "dat/time_code.h"
#include "deck/clp_digits.h"
#include "platform/ui/window_messages.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

namespace deck {
class LedBox;
class LevelMeter;
class MeterFeed;
class RecordSession;
class ProgramPanel;
struct ProgramRow;
}
struct LocateOutcome;

// Set by ATime; while true, the next keypad press restarts the entry at the first box.
extern bool RestartEntry;

// The status line's part for the tape: "48 kHz, stereo; 0 unreadable, 0 concealed",
// "32 kHz, long play, emphasis; 3 unreadable, 1 concealed"; empty before a rate is known.
QString TapeStatusText(std::uint32_t sampleRate, const QString& mode, bool emphasis, std::uint64_t unreadable,
                       std::uint64_t concealed);
// "stereo", "long play" or "four channels".
QString ModeText(const dat::AudioFormat& format);

class frmDeck : public QMainWindow {
    Q_OBJECT
public:
    explicit frmDeck(QWidget* parent = nullptr);
    ~frmDeck() override;

    // The load handler: makes this window the target of the wave device's notifications.
    void Form_Load();

    // The window operations. Button groups, each member in the listed order:
    void EnableTapeButtons();
    void DisableTapeButtons();
    void EnableSearchButtons();
    void DisableSearchButtons();
    void EnablePadButtons();
    void DisablePadButtons();
    void DisableAllButtons();
    // The panel's three fixed patterns: 8 88 88 (lamp test), -:--:--, and dAtA.
    void SetDisplayTo8s();
    void SetDisplayToBlank();
    void SetDisplayToData();
    // A tape position on both rows (dashes where a time is not valid) and the program number
    // ("PNo 12"; dashes for lead-in, lead-out or none).
    void SetDisplayToPosition(const dat::TimeCode& absolute, const dat::TimeCode& program,
                              const dat::ProgramNumber& number);
    // The tape's rate ("44.1 KHz") and the EMPH mark, lit while the tape carries emphasis.
    void SetRateDisplay(const QString& rateText, bool emphasis);

    // True once the close request has run (the window is gone for the rest of the run).
    bool Unloaded() const { return unloaded_; }
    // True while a transport handler waits for its drive command.
    bool CommandRunning() const { return commandRunning_ > 0; }

    // Index of the A-time box the next accepted keypad digit fills.
    int DigitPosition = 0;

    // Controls, reachable like a form's controls by start-up and tests.
    QPushButton *cmdPlay, *cmdStop, *cmdCue, *cmdRecord, *cmdNext, *cmdPrev, *cmdBOT, *cmdEOT, *cmdEject;
    QPushButton *cmdAtime, *cmdPno, *cmdPtime, *cmdExecute;
    std::array<QPushButton*, 10> cmdPad{};
    std::array<deck::LedBox*, 5> picAtime{}, picPtime{}, picColon{};
    QLabel *lblAtime, *lblPtime, *lblPno, *lblKhz;
    QLabel* lblEmph;  // "EMPH", shown only while the tape carries emphasis
    QLabel* lblStatus;  // under the panel: the tape's rate and mode, its bad frames, and what is being saved where
    deck::LevelMeter *mtrLeft, *mtrRight;  // under the status line: the level of what plays
    deck::MeterFeed* meterFeed;            // runs the meters while the deck plays
    QFrame *Frame5, *Frame3, *Frame4, *Frame1, *Frame2;
    std::unique_ptr<deck::clpDigits> clpDigits;
    QTimer* tmrWait4Tape;
    QTimer* tmrPanel;  // while the deck plays: the position heard, a few times a second
    QMenu *mnuFile, *mnuOptions, *mnuHelp;
    QAction *mnuFileConsole, *mnuFileExit, *mnuOptionsSave, *mnuOptionsOnly, *mnuHelpContents, *mnuHelpAbout;
    QAction* mnuOptionsFolder;  // "Save To Folder..."
    QAction* mnuHelpKeyboard;   // "Keyboard": the deck's keys

    QAction* mnuOptionsScan;           // "Scan Programs"
    QAction* mnuOptionsRemaining;      // "Remaining Time": the A-Time row counts down to the end
    deck::ProgramPanel* programPanel;  // the programs found, beside the deck
    QLabel* lblTotal;                  // "TOTAL 1:02:03" once the end of the recording is known
    QLabel* lblRemain;                 // "REMAIN", lit while the A-Time row shows the time left

    // The keys of the deck, one per line, key and action separated by a tab.
    static QString KeyboardHelp();
    // What a row of the panel reads, as "1:23:45" or "-:--:--" (a dark box reads as nothing).
    QString RowReading(bool upper) const;

    // Where Play and Save and Save Only write: "Audio48.wav" in the chosen folder (the
    // working directory until one is chosen).
    std::string CapturePath() const;
    void SetSaveFolder(const QString& folder);

    // Event handlers.
    void cmdPlay_Click();
    void cmdStop_Click();
    void cmdCue_Click();
    void cmdRecord_Click();
    void cmdNext_Click();
    void cmdPrev_Click();
    void cmdBOT_Click();
    void cmdEOT_Click();
    void cmdEject_Click();
    void cmdAtime_Click();
    void cmdPno_Click();
    void cmdPtime_Click();
    void cmdPad_Click(int index);
    void cmdExecute_Click();
    void tmrWait4Tape_Timer();
    void tmrPanel_Timer();
    void mnuFileConsole_Click();
    void mnuFileExit_Click();
    void mnuOptionsSave_Click();
    void mnuOptionsOnly_Click();
    void mnuOptionsFolder_Click();
    void mnuHelpAbout_Click();
    void mnuHelpContents_Click();
    void mnuHelpKeyboard_Click();
    void mnuOptionsScan_Click();
    // Locates program `number` and plays it (a double-click in the program list).
    void PlayProgram(unsigned number);
    // A click on the A-Time row: elapsed or remaining time, once the total is known.
    void ToggleRemainingTime();
    // The total recorded time, when known (after End of Tape or a scan).
    std::optional<dat::TimeCode> TotalTime() const { return total_; }
    bool ScanRunning() const { return scanRunning_; }
    // Playback or a capture from the deck reached the end of the recorded area.
    void EndOfTapeReached();

signals:
    // File, Console...: the diagnostic console is wanted.
    void consoleRequested();
    // The window has closed (its close button, File, Exit or a termination signal), after
    // the close request's steps: the program is to end.
    void programEndRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class deck::RecordSession;  // Record drives the panel and the buttons as a handler does

    // Which seek-type button opened the keypad entry: what Execute seeks to.
    enum class SeekType { ATime, PNo, PTime };
    // Where the tape was last known to stand: the last READ POSITION or the frame heard.
    struct KnownPosition {
        dat::TimeCode absolute, program;
        dat::ProgramNumber number;
    };

    void CreateMenus();
    void CreatePanel(QWidget* client);
    void CreateKeypad(QWidget* client);
    void CreateTransport(QWidget* client);
    void SetFocusOrder();
    void CreateKeys();
    // The rows' accessible descriptions, after the panel changed.
    void UpdateReadings();
    void SetRow(const std::array<deck::LedBox*, 5>& row, const std::array<int, 5>& cells);
    void SetColons(bool lit);
    void BeginTransportCommand();
    void ReturnToReady();
    // One READ POSITION: where the stopped tape stands, on the panel (dashes if it fails).
    void ShowDrivePosition();
    // One READ POSITION into known_ only; false (and nothing known) when it fails.
    bool ReadDrivePosition();
    void NoteHeardPosition();
    // The status line while a capture writes its file, and once the file is finished.
    void ShowSaving();
    void ShowSaved();
    // The status line: the tape's part with the file's while a capture writes, else the tape's.
    void ShowStatus();

    // Seeking. RunSeek stops playback, blanks the panel and disables the buttons, runs `moves`
    // once the tape is free, then shows the new position and returns to Ready, and then runs
    // `thenReady` (a program chosen in the list plays from there).
    void RunSeek(std::function<void()> moves, std::function<void()> thenReady = {});
    void SeekToEntry(SeekType type, const std::array<int, 5>& digits);
    void SeekProgram(bool next);
    // LOCATE by absolute time to the second of `t`, then reads on to the frame `t` itself.
    LocateOutcome StandAt(const dat::TimeCode& t);
    // A failed locate: its message, after taking the tape back when the address was missing.
    void SeekFailed(const LocateOutcome& outcome, const std::optional<KnownPosition>& before);
    // After a seek that found nothing: back to where the tape stood before it.
    void ReturnTo(const std::optional<KnownPosition>& before);
    // Runs `work` once no refill of the play buffers is under way (at once when none is).
    void AfterRefill(std::function<void()> work, bool deferAlways);
    static bool DeckProcedure(HWND window, QEvent* event);
    void SeekTypeClicked(SeekType type);
    void Form_Unload();

    // Programs and total time (frm_deck_programs.cpp).
    void CreateProgramParts(QWidget* client);
    // What the A-Time row shows for `absolute`: itself, or the time left to the end.
    dat::TimeCode UpperRowTime(const dat::TimeCode& absolute) const;
    // At the end of the recorded area: its absolute time becomes the total.
    void LearnTotalAtEnd();
    void SetTotal(const dat::TimeCode& total);
    // Another tape, or none: its programs and total are forgotten.
    void ForgetTape();
    // A Stop or Eject pressed during a scan ends the scan instead (true: it was taken).
    bool StopScan(bool eject);

    QPixmap litColon_;
    QPointer<QWidget> focusTarget_;  // where the focus goes once its button is enabled again
    bool unloaded_ = false;
    bool captureRunning_ = false;  // Play pressed with Play and Save or Save Only
    bool playStarting_ = false;    // inside Play's start: a failure there captured nothing
    QString saveFolder_;           // empty: the working directory
    std::string savingPath_;       // the capture file being written
    QString tapeStatus_;           // the tape's part of the status line for this play
    bool pollRunning_ = false;
    int commandRunning_ = 0;
    unsigned commandSerial_ = 0;  // counts transport commands, so a poll can tell one ran
    SeekType seekType_ = SeekType::ATime;
    std::optional<KnownPosition> known_;
    bool resumeAfterStop_ = false;  // the running Play feeds the sound device
    int insideProcedure_ = 0;       // depth of the playback's message handling (refills)
    std::function<void()> afterRefill_;
    deck::RecordSession* record_ = nullptr;  // made by the first Record; a child of the window
    std::optional<dat::TimeCode> total_;
    bool showRemaining_ = false;
    bool scanRunning_ = false;
    enum class ScanStop { None, Stop, Eject } scanStop_ = ScanStop::None;
    std::unique_ptr<deck::ProgramRow> lastStart_;  // the last program start the scan placed
};
