// The deck's windows as a user meets them: Escape and the close button during Archive Tape,
// asking before a capture replaces Audio48.wav, Save To Folder and the status line, and the
// message boxes' owner, icon and width. Modal boxes are answered through their widgets.
#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QUrl>
#include <fstream>
#include <iterator>

#include "archive/archive.h"
#include "audio/frame_reader.h"
#include "deck/archive_progress_spy.h"
#include "deck/archive_window.h"
#include "deck/error_map_view.h"
#include "deck_fixture.h"
#include "sim/tape.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void PressKey(QWidget* w, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

std::shared_ptr<const sim::Tape> TwoPrograms()
{
    std::vector<std::int16_t> pcm(200 * 1440 * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(i * 31);
    return sim::MakePcmTape({pcm, pcm});
}

class DeckMends : public DeckTest {
protected:
    void SetUp() override
    {
        DeckTest::SetUp();
        ASSERT_TRUE(tmp.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(tmp.path());  // "Audio48.wav" goes to the working directory
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&spy);
        watch.stop();
        DeckTest::TearDown();
        QDir::setCurrent(previous);
    }

    // Runs `answer` on the first shown modal dialog named `name`, from the event loop of
    // whatever waits for it.
    void WhenShown(const QString& name, std::function<void(QWidget*)> answer)
    {
        watch.disconnect();
        QObject::connect(&watch, &QTimer::timeout, [this, name, answer] {
            QWidget* w = QApplication::activeModalWidget();
            if (!w || w->objectName() != name || !w->isVisible())
                return;
            watch.stop();
            answer(w);
        });
        watch.start(0);
    }

    // Chooses `folder` in a folder chooser named `name` as soon as it is open.
    void ChooseFolder(const QString& name, const QString& folder)
    {
        WhenShown(name, [folder](QWidget* w) {
            auto* chooser = qobject_cast<QFileDialog*>(w);
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(folder);
            auto* buttons = chooser->findChild<QDialogButtonBox*>("buttonBox");
            for (QAbstractButton* b : buttons->buttons())
                if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                    b->click();
        });
    }

    deck::ArchiveWindow* Window() { return deck().findChild<deck::ArchiveWindow*>("frmArchive"); }

    // Runs `step` after each progress update of the archive window until it returns true.
    void DuringTheArchive(std::function<bool()> step) { spy.start(std::move(step)); }
    ArchiveProgressSpy spy;

    // Archive Tape into a new folder, stopped by `stop` at the first progress update that
    // shows a time; then --resume's run completes the package.
    void StopMidArchiveThenResume(const std::function<void(deck::ArchiveWindow*)>& stop)
    {
        StartReady(TwoPrograms());
        const QString folder = tmp.filePath("tape07");
        QDir().mkpath(folder);
        bool stopped = false;
        DuringTheArchive([&] {
            deck::ArchiveWindow* w = Window();
            if (!w || !w->Running() || w->lblArchiveTime->text() == "-:--:--")
                return false;
            stop(w);
            stopped = true;
            return true;
        });
        ChooseFolder("dlgArchiveFolder", folder);
        deck().findChild<QAction*>("mnuFileArchive")->trigger();
        ASSERT_TRUE(stopped);

        // The window stays with the outcome until it is closed; the deck is Ready.
        deck::ArchiveWindow* w = Window();
        ASSERT_TRUE(w);
        EXPECT_TRUE(w->lblArchiveStatus->text().startsWith("Incomplete")) << w->lblArchiveStatus->text().toStdString();
        const std::string dir = folder.toStdString();
        EXPECT_NE(ReadText(dir + "/bag-info.txt").find("Vantrel-Status: incomplete"), std::string::npos);
        std::set<std::string> deckButtons = EnabledButtons(deck());
        for (const char* own : {"cmdArchiveCancel", "cmdArchiveOpen", "cmdArchiveResume"})  // the window's own
            deckButtons.erase(own);
        EXPECT_EQ(deckButtons, ReadyButtons());

        // Now Escape closes it.
        PressKey(w, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(Window());

        archive::Options resume;
        resume.dir = dir;
        resume.resume = true;
        const archive::Result r = archive::Run(resume);
        EXPECT_EQ(r.outcome, archive::Outcome::Clean) << r.message;
        EXPECT_NE(ReadText(dir + "/bag-info.txt").find("Vantrel-Status: complete"), std::string::npos);
        EXPECT_TRUE(QFile::exists(folder + "/data/001.wav") && QFile::exists(folder + "/data/002.wav"));
    }

    QTemporaryDir tmp;
    QString previous;
    QTimer watch;
};

TEST_F(DeckMends, EscapeDuringArchiveTapeStopsItAndThePackageResumesToTheEnd)
{
    StopMidArchiveThenResume([](deck::ArchiveWindow* w) { PressKey(w, Qt::Key_Escape); });
}

TEST_F(DeckMends, TheCloseButtonDuringArchiveTapeStopsItAndThePackageResumesToTheEnd)
{
    StopMidArchiveThenResume([](deck::ArchiveWindow* w) { w->close(); });
}

// Stands in for the desktop's file manager: records what Open Folder asked it to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// The label shows all of its text: as tall as its text needs at its width.
void ExpectWholeText(QLabel* label)
{
    EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
    EXPECT_GE(label->width(), label->minimumSizeHint().width()) << label->text().toStdString();
}

TEST_F(DeckMends, AnIncompleteArchiveOffersOpenFolderAndResumeWhichCompletesIt)
{
    StartReady(TwoPrograms());
    const QString folder = tmp.filePath("tape09");
    QDir().mkpath(folder);
    DuringTheArchive([&] {
        deck::ArchiveWindow* w = Window();
        if (!w || !w->Running() || w->lblArchiveTime->text() == "-:--:--")
            return false;
        // While it runs: the bar shows the share of the recorded length read, the frames read
        // so far are counted.
        EXPECT_TRUE(w->barArchive->isVisible());
        EXPECT_EQ(w->barArchive->maximum(), 1000);
        EXPECT_GT(w->barArchive->value(), 0);
        EXPECT_LT(w->barArchive->value(), 1000);
        EXPECT_TRUE(w->lblArchiveFrames->text().contains(" frames, ")) << w->lblArchiveFrames->text().toStdString();
        EXPECT_FALSE(w->lblArchiveFrames->text().startsWith("0 ")) << w->lblArchiveFrames->text().toStdString();
        EXPECT_FALSE(w->cmdArchiveOpen->isVisible());
        EXPECT_FALSE(w->cmdArchiveResume->isVisible());
        w->cmdArchiveCancel->click();
        return true;
    });
    ChooseFolder("dlgArchiveFolder", folder);
    deck().findChild<QAction*>("mnuFileArchive")->trigger();

    deck::ArchiveWindow* w = Window();
    ASSERT_TRUE(w);
    ASSERT_TRUE(w->lblArchiveStatus->text().startsWith("Incomplete")) << w->lblArchiveStatus->text().toStdString();
    EXPECT_TRUE(w->lblArchiveStatus->text().contains("The package can be resumed."));
    ExpectWholeText(w->lblArchiveStatus);
    EXPECT_TRUE(w->cmdArchiveOpen->isVisible());
    EXPECT_TRUE(w->cmdArchiveResume->isVisible());
    // The bar keeps the share that was read; the map shows what there is of the tape.
    EXPECT_EQ(w->barArchive->maximum(), 1000);
    EXPECT_LT(w->barArchive->value(), 1000);
    EXPECT_TRUE(w->mapArchive->isVisible());

    // Open Folder goes to the desktop's file manager with the package's folder.
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "open");
    w->cmdArchiveOpen->click();
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(QDir(catcher.opened[0].toLocalFile()), QDir(folder));

    // Resume: the window goes, and a new run completes the same package.
    // (The new window may take the old one's address: the old one is watched by QPointer.)
    const QPointer<deck::ArchiveWindow> old = w;
    w->cmdArchiveResume->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        deck::ArchiveWindow* now = Window();
        return !old && now && !now->Running();
    }));
    w = Window();
    EXPECT_TRUE(w->lblArchiveStatus->text().startsWith("Complete")) << w->lblArchiveStatus->text().toStdString();
    ExpectWholeText(w->lblArchiveStatus);
    EXPECT_FALSE(w->cmdArchiveResume->isVisible());
    EXPECT_TRUE(w->cmdArchiveOpen->isVisible());
    EXPECT_NE(ReadText(folder.toStdString() + "/bag-info.txt").find("Vantrel-Status: complete"), std::string::npos);
    EXPECT_TRUE(QFile::exists(folder + "/data/001.wav") && QFile::exists(folder + "/data/002.wav"));
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DeckMends, TheFolderChooserComesBackAfterARefusalAndMakesATypedNewFolder)
{
    StartReady(TwoPrograms());
    const QString full = tmp.filePath("full");
    QDir().mkpath(full);
    std::ofstream((full + "/notes.txt").toStdString()) << "kept";
    const QString fresh = tmp.filePath("fresh");
    ASSERT_FALSE(QFileInfo::exists(fresh));

    int choosers = 0;
    // The first chooser gets the folder that is not empty, the second a name not yet made.
    watch.disconnect();
    QObject::connect(&watch, &QTimer::timeout, [&] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w->objectName() != "dlgArchiveFolder" || !w->isVisible() || choosers == 2)
            return;
        ++choosers;
        auto* chooser = qobject_cast<QFileDialog*>(w);
        chooser->findChild<QLineEdit*>("fileNameEdit")->setText(choosers == 1 ? full : fresh);
        auto* buttons = chooser->findChild<QDialogButtonBox*>("buttonBox");
        for (QAbstractButton* b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) {
                EXPECT_TRUE(b->isEnabled());
                b->click();
            }
    });
    watch.start(0);
    deck().findChild<QAction*>("mnuFileArchive")->trigger();
    watch.stop();

    EXPECT_EQ(choosers, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(QFileInfo(fresh).isDir());
    EXPECT_TRUE(QFile::exists(full + "/notes.txt"));
    EXPECT_FALSE(QFile::exists(full + "/bag-info.txt"));
    EXPECT_NE(ReadText(fresh.toStdString() + "/bag-info.txt").find("Vantrel-Status: complete"), std::string::npos);
    deck::ArchiveWindow* w = Window();
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->lblArchiveStatus->text().startsWith("Complete")) << w->lblArchiveStatus->text().toStdString();
}

// A file that was there before: its bytes and a modification time of its own.
void PlantOldCapture(const QString& path)
{
    std::ofstream(path.toStdString(), std::ios::binary) << "an older capture";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2024, 1, 31), QTime(14, 25, 2)), QFileDevice::FileModificationTime));
}

TEST_F(DeckMends, SaveOnlyAsksBeforeReplacingAudio48AndReturnKeepsBoth)
{
    StartReady(TwoPrograms());
    deck().mnuOptionsOnly->trigger();
    PlantOldCapture("Audio48.wav");
    const std::size_t readsBefore = CommandsWithOpcode(0x08).size();

    // Escape is Cancel: nothing read, nothing written, the deck Ready.
    QString question;
    WhenShown("msgReplace", [&](QWidget* box) {
        question = static_cast<QMessageBox*>(box)->text();
        EXPECT_EQ(box->parentWidget(), &deck());
        PressKey(box, Qt::Key_Escape);
    });
    deck().cmdPlay->click();
    EXPECT_NE(question.indexOf("Audio48.wav"), -1) << question.toStdString();
    EXPECT_NE(question.indexOf("Audio48-20240131-142502.wav"), -1) << question.toStdString();
    EXPECT_EQ(ReadText("Audio48.wav"), "an older capture");
    EXPECT_EQ(CommandsWithOpcode(0x08).size(), readsBefore);
    EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());

    // Return is Keep both: the old file renamed with its time, the new one under the old name.
    WhenShown("msgReplace", [](QWidget* box) { PressKey(box, Qt::Key_Return); });
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    EXPECT_EQ(ReadText("Audio48-20240131-142502.wav"), "an older capture");
    const qint64 whole = 44 + 400 * 5760;
    EXPECT_EQ(QFileInfo("Audio48.wav").size(), whole);
    EXPECT_TRUE(messages.empty()) << messages.front();
    // The status line says the file is complete, with its size.
    const QString status = deck().lblStatus->toolTip();
    EXPECT_TRUE(status.startsWith("Complete: ")) << status.toStdString();
    EXPECT_NE(status.indexOf(QDir(tmp.path()).filePath("Audio48.wav")), -1) << status.toStdString();
    EXPECT_NE(status.indexOf(QString::number(whole / 1e6, 'f', 1) + " MB"), -1) << status.toStdString();

    // Replace: the file is written anew, nothing else is kept.
    deck().cmdBOT->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    PlantOldCapture("Audio48.wav");
    WhenShown("msgReplace", [](QWidget* box) { box->findChild<QPushButton*>("cmdReplace")->click(); });
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    EXPECT_EQ(QFileInfo("Audio48.wav").size(), whole);
    EXPECT_EQ(QDir().entryList({"Audio48*.wav"}, QDir::Files),
              QStringList({"Audio48-20240131-142502.wav", "Audio48.wav"}));
}

TEST_F(DeckMends, KeepBothNeverReusesTheNameOfAnEarlierKeptFile)
{
    PlantOldCapture("Audio48.wav");
    EXPECT_EQ(ui::KeptName("Audio48.wav"), "Audio48-20240131-142502.wav");
    std::ofstream("Audio48-20240131-142502.wav") << "kept before";
    EXPECT_EQ(ui::KeptName("Audio48.wav"), "Audio48-20240131-142502-2.wav");
    const std::string inFolder = tmp.filePath("Audio48.wav").toStdString();
    EXPECT_EQ(ui::KeptName(inFolder), tmp.filePath("Audio48-20240131-142502-2.wav").toStdString());
}

TEST_F(DeckMends, SaveToFolderSendsTheCaptureThereAndTheStatusLineFollowsIt)
{
    const QString folder = tmp.filePath("captures");
    QDir().mkpath(folder);
    HoldCommand(0x08, 20);  // a READ well inside the capture
    StartReady(TwoPrograms());
    ChooseFolder("dlgSaveFolder", folder);
    deck().mnuOptionsFolder->trigger();
    EXPECT_EQ(deck().CapturePath(), QDir(folder).filePath("Audio48.wav").toStdString());

    QString during;
    WhenHeld([&] {
        during = deck().lblStatus->toolTip();
        gate->release();
    });
    deck().mnuOptionsOnly->trigger();
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    EXPECT_TRUE(during.startsWith("Saving " + QDir::toNativeSeparators(QDir(folder).filePath("Audio48.wav"))))
        << during.toStdString();
    EXPECT_TRUE(during.endsWith(" MB")) << during.toStdString();
    EXPECT_EQ(QFileInfo(QDir(folder).filePath("Audio48.wav")).size(), 44 + 400 * 5760);
    EXPECT_FALSE(QFile::exists("Audio48.wav"));
    EXPECT_TRUE(deck().lblStatus->toolTip().startsWith("Complete: ")) << deck().lblStatus->toolTip().toStdString();
}

TEST_F(DeckMends, ACaptureFileThatCannotBeMadeIsToldAndTheDeckIsReadyAgain)
{
    StartReady(TwoPrograms());
    deck().SetSaveFolder(tmp.filePath("no such folder"));
    for (QAction* option : {deck().mnuOptionsOnly, deck().mnuOptionsSave}) {
        SCOPED_TRACE(option->objectName().toStdString());
        messages.clear();
        option->trigger();
        deck().cmdPlay->click();
        ASSERT_TRUE(
            testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled() && !deck().CommandRunning(); }));
        EXPECT_EQ(EnabledButtons(deck()), ReadyButtons());
        EXPECT_FALSE(PlayActive);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find("no such folder"), std::string::npos) << messages[0];
        EXPECT_FALSE(deck().lblStatus->text().startsWith("Complete")) << deck().lblStatus->text().toStdString();
    }
}

TEST_F(DeckMends, SaveOnlyAfterAPlayShowsTheFramesReadNotTheLastFrameHeard)
{
    HoldCommand(0x08, 300);  // well inside the Save Only below
    StartReady(TwoPrograms());
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    fakeWave.handBack(2);  // two buffers heard
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    deck().tmrPanel_Timer();
    const std::string heard = RowText(deck(), true);
    deck().cmdStop->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled() && !deck().CommandRunning(); }));
    deck().cmdBOT->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled() && !deck().CommandRunning(); }));

    std::string during, read;
    WhenHeld([&] {
        deck().tmrPanel_Timer();
        during = RowText(deck(), true);
        const std::optional<dat::TimeCode> last = FramePassReport().lastTime;
        if (last)
            read = std::to_string(last->h) + ":" + std::to_string(last->m / 10) + std::to_string(last->m % 10) + ":" +
                   std::to_string(last->s / 10) + std::to_string(last->s % 10);
        gate->release();
    });
    deck().mnuOptionsOnly->trigger();
    deck().cmdPlay->click();
    ASSERT_TRUE(testing_support::PumpUntil([&] { return deck().cmdPlay->isEnabled(); }));
    EXPECT_EQ(during, read);
    EXPECT_NE(during, heard);
}

TEST_F(DeckMends, MessageBoxesOpenOverTheDeckWithAnIconAndRoomForTheTitle)
{
    StartReady();
    ui::SetMessageSink({});  // the real box
    deck().show();
    QMessageBox* seen = nullptr;
    QWidget* owner = nullptr;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int width = 0;
    WhenShown("msgBox", [&](QWidget* w) {
        seen = static_cast<QMessageBox*>(w);
        owner = w->parentWidget();
        icon = seen->icon();
        width = w->width();
        seen->accept();
    });
    deck().mnuHelpAbout->trigger();
    ASSERT_TRUE(seen);
    EXPECT_EQ(owner, &deck());
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_GE(width, deck().fontMetrics().horizontalAdvance("Vantrel") + 170);

    // A failure gets the warning sign.
    seen = nullptr;
    WhenShown("msgBox", [&](QWidget* w) {
        seen = static_cast<QMessageBox*>(w);
        icon = seen->icon();
        owner = w->parentWidget();
        seen->accept();
    });
    ui::ShowMessage("Error. Tape did not eject for some reason.", ui::Icon::Warning, &deck());
    ASSERT_TRUE(seen);
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(owner, &deck());
}

}  // namespace
}  // namespace deck_test

#include "deck_mends_test.moc"
