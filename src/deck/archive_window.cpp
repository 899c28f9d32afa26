#include "deck/archive_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "dat/time_code.h"
#include "deck/error_map_view.h"
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

// The folder chooser: a typed name that does not exist yet is made (in an existing parent), so
// "a new folder" can be typed as the title asks.
class FolderChooser : public QFileDialog {
public:
    FolderChooser(QWidget* parent, const QString& caption) : QFileDialog(parent, caption) {}

protected:
    void showEvent(QShowEvent* event) override
    {
        QFileDialog::showEvent(event);
        // The dialog turns its Choose button off for a name that does not exist; it is on
        // here whenever the name could be made.
        auto* edit = findChild<QLineEdit*>("fileNameEdit");
        auto* box = findChild<QDialogButtonBox*>("buttonBox");
        if (!edit || !box || hooked_)
            return;
        hooked_ = true;
        connect(edit, &QLineEdit::textChanged, this, [this, box] {
            const QString typed = selectedFiles().value(0);
            if (!typed.isEmpty() && !QFileInfo::exists(typed) && QFileInfo(typed).dir().exists())
                for (QAbstractButton* b : box->buttons())
                    if (box->buttonRole(b) == QDialogButtonBox::AcceptRole)
                        b->setEnabled(true);
        });
    }

public:
    void accept() override
    {
        const QString typed = selectedFiles().value(0);
        if (!typed.isEmpty() && !QFileInfo::exists(typed) && QFileInfo(typed).dir().exists()) {
            if (!QDir().mkdir(typed)) {
                ui::ShowMessage("The folder " + typed.toStdString() + " could not be made.", ui::Icon::Warning, this);
                return;
            }
            selectFile(typed);
        }
        QFileDialog::accept();
    }

private:
    bool hooked_ = false;
};

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
    lblArchiveFrames = NamedLabel(this, "lblArchiveFrames", "0 frames");
    lblArchiveSpeed = NamedLabel(this, "lblArchiveSpeed");
    lblArchiveLength = NamedLabel(this, "lblArchiveLength", "-");
    lblArchiveLeft = NamedLabel(this, "lblArchiveLeft", "-");
    barArchive = new QProgressBar(this);
    barArchive->setObjectName("barArchive");
    // Busy until the recorded length is known, then the share of it read, in tenths of a percent.
    barArchive->setRange(0, 0);
    barArchive->setFormat("%p %");
    barArchive->setAccessibleName("Archive progress");
    lblArchiveStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cmdArchiveCancel = new QPushButton("Cancel", this);
    cmdArchiveCancel->setObjectName("cmdArchiveCancel");
    cmdArchiveOpen = new QPushButton("Open Folder", this);
    cmdArchiveOpen->setObjectName("cmdArchiveOpen");
    cmdArchiveOpen->hide();
    cmdArchiveOpen->setEnabled(false);  // until the run is over
    cmdArchiveResume = new QPushButton("Resume", this);
    cmdArchiveResume->setObjectName("cmdArchiveResume");
    cmdArchiveResume->hide();
    cmdArchiveResume->setEnabled(false);  // until the run is over
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdArchiveOpen);
    buttons->addWidget(cmdArchiveResume);
    buttons->addWidget(cmdArchiveCancel);
    grid->addWidget(new QLabel("Folder:", this), 0, 0);
    grid->addWidget(lblArchiveFolder, 0, 1);
    grid->addWidget(new QLabel("Absolute time:", this), 1, 0);
    grid->addWidget(lblArchiveTime, 1, 1);
    grid->addWidget(new QLabel("Program:", this), 2, 0);
    grid->addWidget(lblArchiveProgram, 2, 1);
    grid->addWidget(new QLabel("Errors:", this), 3, 0);
    grid->addWidget(lblArchiveErrors, 3, 1);
    grid->addWidget(new QLabel("Read:", this), 4, 0);
    grid->addWidget(lblArchiveFrames, 4, 1);
    grid->addWidget(new QLabel("Speed:", this), 5, 0);
    grid->addWidget(lblArchiveSpeed, 5, 1);
    grid->addWidget(new QLabel("Recorded:", this), 6, 0);
    grid->addWidget(lblArchiveLength, 6, 1);
    grid->addWidget(new QLabel("Time left:", this), 7, 0);
    grid->addWidget(lblArchiveLeft, 7, 1);
    grid->addWidget(barArchive, 8, 0, 1, 2);
    mapArchive = new ErrorMapView(this);
    mapArchive->hide();
    grid->addWidget(mapArchive, 9, 0, 1, 2);
    grid->addWidget(lblArchiveStatus, 10, 0, 1, 2);
    grid->addLayout(buttons, 11, 0, 1, 2);
    // The result may be several lines: the window grows to show all of it.
    grid->setSizeConstraint(QLayout::SetMinAndMaxSize);
    connect(cmdArchiveCancel, &QPushButton::clicked, this, [this] { cmdArchiveCancel_Click(); });
    connect(cmdArchiveOpen, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder))); });
    connect(cmdArchiveResume, &QPushButton::clicked, this, [this] {
        emit resumeRequested();
        accept();
    });
    clock_.start();
    setMinimumWidth(360);
}

void ArchiveWindow::ShowProgress(const archive::Progress& p)
{
    lblArchiveTime->setText(QString::fromStdString(p.absoluteTime.empty() ? "-:--:--" : p.absoluteTime));
    lblArchiveProgram->setText(QString::fromStdString(p.program));
    lblArchiveErrors->setText(QString("%1 unreadable, %2 concealed").arg(p.unreadable).arg(p.concealed));
    lblArchiveFrames->setText(QString("%1 frames, %2 s of audio").arg(p.frames).arg(p.audioSeconds, 0, 'f', 1));
    const double seconds = static_cast<double>(clock_.elapsed()) / 1000;
    // The speed of this run's reading only: not the search for the recorded length before it,
    // nor the frames an earlier run kept.
    if (std::strcmp(p.phase, "reading") == 0 && !readingFrom_)
        readingFrom_.emplace(seconds, p.tapeBytes, p.audioSeconds);
    if (readingFrom_ && seconds - std::get<0>(*readingFrom_) > 0.5) {
        const double reading = seconds - std::get<0>(*readingFrom_);
        lblArchiveSpeed->setText(
            QString("%1 MB/s, %2x playing speed")
                .arg(static_cast<double>(p.tapeBytes - std::min(p.tapeBytes, std::get<1>(*readingFrom_))) / 1e6 /
                         reading,
                     0, 'f', 2)
                .arg((p.audioSeconds - std::get<2>(*readingFrom_)) / reading, 0, 'f', 1));
    }
    estimate_.Add(p, seconds);
    if (p.recordedFrames > 0)
        lblArchiveLength->setText(QString("%1 (%2 frames), found in %3 s")
                                      .arg(QString::fromStdString(archive::DurationText(p.recordedSeconds)))
                                      .arg(p.recordedFrames)
                                      .arg(p.probeSeconds, 0, 'f', 1));
    else if (p.probeSeconds >= 0 && std::strcmp(p.phase, "measuring") != 0)
        lblArchiveLength->setText("not known (the drive did not report it)");
    if (const std::optional<double> f = estimate_.Fraction()) {
        barArchive->setRange(0, 1000);
        barArchive->setValue(static_cast<int>(*f * 1000));
    }
    const std::optional<double> left = estimate_.SecondsLeft();
    lblArchiveLeft->setText(left ? QString::fromStdString(archive::DurationText(*left)) : "-");
    const bool measuring = std::strcmp(p.phase, "measuring") == 0;
    if (measuring) {
        lblArchiveStatus->setText("Finding the end of the recording...");
    } else {
        const char* doing = std::strcmp(p.phase, "retrying") == 0              ? "Retrying"
                            : std::strcmp(p.phase, "writing the package") == 0 ? "Writing the package of"
                                                                               : "Reading";
        lblArchiveStatus->setText(
            QString("%1 the tape... %2 MB").arg(doing).arg(static_cast<double>(p.tapeBytes) / 1e6, 0, 'f', 1));
    }
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
    for (const std::string& line : r.summary)
        text += "\n" + QString::fromStdString(line);
    lblArchiveStatus->setText(text);
    cmdArchiveCancel->setText("Close");
    cmdArchiveCancel->setEnabled(true);
    // A whole run fills the bar; an incomplete one keeps the share it read.
    if (r.outcome == archive::Outcome::Clean || r.outcome == archive::Outcome::WithErrors) {
        barArchive->setRange(0, 1000);
        barArchive->setValue(1000);
    } else if (barArchive->maximum() == 0) {
        barArchive->setRange(0, 1000);
        barArchive->setValue(0);
    }
    lblArchiveLeft->setText("-");
    mapArchive->setVisible(r.outcome != archive::Outcome::Refused && !folder.empty() && mapArchive->Load(folder));
    cmdArchiveOpen->setVisible(r.outcome != archive::Outcome::Refused && !folder.empty());
    cmdArchiveResume->setVisible(r.outcome == archive::Outcome::Incomplete && !folder.empty());
    cmdArchiveOpen->setEnabled(cmdArchiveOpen->isVisibleTo(this));
    cmdArchiveResume->setEnabled(cmdArchiveResume->isVisibleTo(this));
    // Wide enough for the result's longest line, and tall enough for all of its lines.
    const int widest = lblArchiveStatus->fontMetrics().boundingRect(QRect(0, 0, 2000, 2000), 0, text).width();
    setMinimumWidth(std::min(std::max(minimumWidth(), widest + 40), 900));
    adjustSize();
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
    QString start;
    for (;;) {
        FolderChooser chooser(&deck, "Archive Tape: a new or empty folder");
        chooser.setObjectName("dlgArchiveFolder");
        chooser.setFileMode(QFileDialog::Directory);
        chooser.setOption(QFileDialog::ShowDirsOnly);
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        if (!start.isEmpty())
            chooser.setDirectory(start);
        if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty())
            return;
        const std::string dir = chooser.selectedFiles().first().toStdString();
        const std::string refusal = archive::CheckTarget(dir, false);
        if (refusal.empty()) {
            ArchiveInto(deck, dir, false);
            return;
        }
        // Refused (not empty, not writable): said, then the chooser again where it was.
        ui::ShowMessage(refusal, ui::Icon::Warning, &deck);
        if (deck.Unloaded())
            return;
        start = chooser.directory().absolutePath();
    }
}

bool ArchiveInto(frmDeck& deck, const std::string& dir, bool resume)
{
    if (resume) {
        const std::string refusal = archive::CheckTarget(dir, true);
        if (!refusal.empty()) {
            ui::ShowMessage(refusal, ui::Icon::Warning, &deck);
            return false;
        }
    }
    if (!deck.cmdPlay->isEnabled()) {
        ui::ShowMessage("Archive Tape needs an audio tape in the drive, with the deck stopped.", ui::Icon::Warning,
                        &deck);
        return false;
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
    window->folder = dir;
    // Resume runs once this run has unwound and the window is gone, into the same folder.
    QObject::connect(window.data(), &ArchiveWindow::resumeRequested, &deck,
                     [&deck, dir] { QTimer::singleShot(0, &deck, [&deck, dir] { ArchiveInto(deck, dir, true); }); });
    window->show();
    archive::Options o;
    o.dir = dir;
    o.resume = resume;
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
    return true;
}

}  // namespace deck
