#include "deck/archive_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <map>

#include "dat/time_code.h"
#include "deck/frm_deck.h"
#include "deck/led_box.h"
#include "platform/ui/message_box.h"

namespace deck {

namespace {

QLabel* NamedLabel(QWidget* parent, const char* name, const QString& text = {})
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

// The panel as during play: the absolute time ("01:02:03.17") on the A-time row.
void ShowOnPanel(frmDeck& deck, const std::string& hmsf)
{
    unsigned h = 0, m = 0, s = 0, f = 0;
    dat::TimeCode t;
    if (std::sscanf(hmsf.c_str(), "%u:%u:%u.%u", &h, &m, &s, &f) == 4)
        t = dat::TimeCode{h, m, s, f, true};
    deck.SetDisplayToPosition(dat::InRange(t) ? t : dat::TimeCode{}, dat::TimeCode{}, dat::ProgramNumber{});
}

}  // namespace

ArchiveWindow::ArchiveWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmArchive");
    setWindowTitle("Archive Tape");
    setWindowModality(Qt::ApplicationModal);
    auto* grid = new QGridLayout(this);
    lblArchiveFolder = NamedLabel(this, "lblArchiveFolder");
    lblArchiveTime = NamedLabel(this, "lblArchiveTime", "-:--:--");
    lblArchiveProgram = NamedLabel(this, "lblArchiveProgram");
    lblArchiveErrors = NamedLabel(this, "lblArchiveErrors", "0 unreadable, 0 concealed");
    lblArchiveStatus = NamedLabel(this, "lblArchiveStatus", "Reading the tape...");
    lblArchiveStatus->setWordWrap(true);
    cmdArchiveCancel = new QPushButton("Cancel", this);
    cmdArchiveCancel->setObjectName("cmdArchiveCancel");
    grid->addWidget(new QLabel("Folder:", this), 0, 0);
    grid->addWidget(lblArchiveFolder, 0, 1);
    grid->addWidget(new QLabel("Absolute time:", this), 1, 0);
    grid->addWidget(lblArchiveTime, 1, 1);
    grid->addWidget(new QLabel("Program:", this), 2, 0);
    grid->addWidget(lblArchiveProgram, 2, 1);
    grid->addWidget(new QLabel("Errors:", this), 3, 0);
    grid->addWidget(lblArchiveErrors, 3, 1);
    grid->addWidget(lblArchiveStatus, 4, 0, 1, 2);
    grid->addWidget(cmdArchiveCancel, 5, 1, Qt::AlignRight);
    connect(cmdArchiveCancel, &QPushButton::clicked, this, [this] { cmdArchiveCancel_Click(); });
    setMinimumWidth(360);
}

void ArchiveWindow::ShowProgress(const archive::Progress& p)
{
    lblArchiveTime->setText(QString::fromStdString(p.absoluteTime.empty() ? "-:--:--" : p.absoluteTime));
    lblArchiveProgram->setText(QString::fromStdString(p.program));
    lblArchiveErrors->setText(QString("%1 unreadable, %2 concealed").arg(p.unreadable).arg(p.concealed));
    lblArchiveStatus->setText(QString("%1 the tape... %2 MB")
                                  .arg(p.phase[0] == 'r' && p.phase[2] == 't' ? "Retrying" :
                                       p.phase[0] == 'w' ? "Writing the package of" : "Reading")
                                  .arg(static_cast<double>(p.tapeBytes) / 1e6, 0, 'f', 1));
    emit progressShown();
}

void ArchiveWindow::ShowResult(const archive::Result& r)
{
    running_ = false;
    QString text;
    switch (r.outcome) {
    case archive::Outcome::Clean: text = "Complete: every frame read clean."; break;
    case archive::Outcome::WithErrors: text = "Complete, with frames that stayed unreadable or concealed."; break;
    case archive::Outcome::Incomplete:
        text = "Incomplete: " + QString::fromStdString(r.message) + " The package can be resumed.";
        break;
    case archive::Outcome::Refused: text = QString::fromStdString(r.message); break;
    }
    lblArchiveStatus->setText(text);
    cmdArchiveCancel->setText("Close");
    cmdArchiveCancel->setEnabled(true);
}

void ArchiveWindow::cmdArchiveCancel_Click()
{
    if (!running_) {
        accept();
        return;
    }
    archive::RequestStop();
    cmdArchiveCancel->setEnabled(false);
    lblArchiveStatus->setText("Stopping...");
}

void ArchiveWindow::reject()
{
    if (running_) {
        cmdArchiveCancel_Click();
        return;
    }
    QDialog::reject();
}

void ArchiveWindow::closeEvent(QCloseEvent* event)
{
    // Closing while it runs is a Cancel: the package is finished first.
    if (running_) {
        cmdArchiveCancel_Click();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ArchiveTape(frmDeck& deck)
{
    QFileDialog chooser(&deck, "Archive Tape: a new or empty folder");
    chooser.setObjectName("dlgArchiveFolder");
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    chooser.setOption(QFileDialog::DontUseNativeDialog);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
        return;
    const std::string dir = chooser.selectedFiles().first().toStdString();
    const std::string refusal = archive::CheckTarget(dir, false);
    if (!refusal.empty()) {
        ui::ShowMessage(refusal, ui::Icon::Warning, &deck);
        return;
    }
    if (!deck.cmdPlay->isEnabled()) {
        ui::ShowMessage("Archive Tape needs an audio tape in the drive, with the deck stopped.", ui::Icon::Warning,
                        &deck);
        return;
    }

    // Nothing else moves the tape meanwhile: every button off, the tape poll paused.
    std::map<QPushButton*, bool> enabled;
    for (QPushButton* b : deck.findChildren<QPushButton*>()) {
        enabled[b] = b->isEnabled();
        b->setEnabled(false);
    }
    const bool polling = deck.tmrWait4Tape->isActive();
    deck.tmrWait4Tape->stop();
    QAction* item = deck.findChild<QAction*>("mnuFileArchive");
    if (item)
        item->setEnabled(false);

    // Deleted on close only once the run is over: Escape, Alt+F4 and Cancel only stop it, and
    // the progress updates can rely on the window until then.
    const QPointer<ArchiveWindow> window = new ArchiveWindow(&deck);
    window->lblArchiveFolder->setText(QString::fromStdString(dir));
    window->show();
    archive::Options o;
    o.dir = dir;
    const archive::Result result = archive::Run(o, [&](const archive::Progress& p) {
        if (window)
            window->ShowProgress(p);
        ShowOnPanel(deck, p.absoluteTime);
    });
    if (window) {
        window->ShowResult(result);
        window->setAttribute(Qt::WA_DeleteOnClose);
    }

    for (const auto& [button, on] : enabled)
        button->setEnabled(on);
    if (polling)
        deck.tmrWait4Tape->start();
    if (item)
        item->setEnabled(true);
}

}  // namespace deck
