// File, "Archive Tape...": a folder chooser, then the tape archived into a package there (as
// --archive does) with a small progress window: the absolute time and program, the recorded
// length found before the pass, a progress bar with the share read and the time left, the
// frames read, the read speed, the error counts and Cancel, which leaves an incomplete
// package; at the end the package's error map, Open Folder, and Resume for an incomplete
// package. The deck's buttons are off meanwhile.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "archive/archive.h"
#include "archive/progress_estimate.h"

class QLabel;
class QProgressBar;
class QPushButton;
class frmDeck;

namespace deck {

class ErrorMapView;

class ArchiveWindow : public QDialog {
    Q_OBJECT
public:
    explicit ArchiveWindow(QWidget* parent);

    void ShowProgress(const archive::Progress& progress);
    // The run is over: the outcome in the status line, Cancel becomes Close.
    void ShowResult(const archive::Result& result);
    bool Running() const { return running_; }

signals:
    // After each progress update (the window's labels show it).
    void progressShown();
    // Resume was pressed: the incomplete package in the window's folder is to be resumed.
    void resumeRequested();

public:

    QLabel *lblArchiveFolder, *lblArchiveTime, *lblArchiveProgram, *lblArchiveErrors, *lblArchiveStatus;
    QPushButton* cmdArchiveCancel;
    QLabel *lblArchiveFrames, *lblArchiveSpeed;
    QLabel *lblArchiveLength, *lblArchiveLeft;  // the recorded length; the time left
    ErrorMapView* mapArchive;                   // shown once the run is over
    QProgressBar* barArchive;
    QPushButton *cmdArchiveOpen, *cmdArchiveResume;  // shown once the run is over
    std::string folder;                              // the package's folder

    // Escape: the same as Cancel while the archive runs (the window stays until it ends).
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void cmdArchiveCancel_Click();
    bool running_ = true;
    QElapsedTimer clock_;  // since the window opened: the read speed
    archive::ProgressEstimate estimate_;
    // When this run's reading began: seconds on clock_, the bytes and audio seconds then.
    std::optional<std::tuple<double, std::uint64_t, double>> readingFrom_;
};

// The menu item's handler: asks for the folder (a dialog named "dlgArchiveFolder"), refuses
// one that cannot take a package with a message, and otherwise runs the archive with the
// progress window (named "frmArchive") until it ends; the window stays open with the outcome.
// The chooser makes a typed folder that does not exist yet, and comes back after a refusal.
void ArchiveTape(frmDeck& deck);
// Runs the archive into `dir` (resuming the incomplete package there with `resume`) with
// the progress window, as the menu item does once a folder is chosen; false when refused.
bool ArchiveInto(frmDeck& deck, const std::string& dir, bool resume);

}  // namespace deck
