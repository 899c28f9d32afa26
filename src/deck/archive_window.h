// File, "Archive Tape...": a folder chooser, then the tape archived into a package there (as
// --archive does) with a small progress window: the absolute time and program, the error
// counts and Cancel, which leaves an incomplete package. The deck's buttons are off meanwhile.
#pragma once

#include <QDialog>

#include "archive/archive.h"

class QLabel;
class QPushButton;
class frmDeck;

namespace deck {

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
public:

    QLabel *lblArchiveFolder, *lblArchiveTime, *lblArchiveProgram, *lblArchiveErrors, *lblArchiveStatus;
    QPushButton* cmdArchiveCancel;

    // Escape: the same as Cancel while the archive runs (the window stays until it ends).
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void cmdArchiveCancel_Click();
    bool running_ = true;
};

// The menu item's handler: asks for the folder (a dialog named "dlgArchiveFolder"), refuses
// one that cannot take a package with a message, and otherwise runs the archive with the
// progress window (named "frmArchive") until it ends; the window stays open with the outcome.
void ArchiveTape(frmDeck& deck);

}  // namespace deck
