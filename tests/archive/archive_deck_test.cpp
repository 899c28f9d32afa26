// The deck's File, "Archive Tape...": the folder chooser and the progress window driven
// through their widgets on the virtual drive, to the end and with Cancel.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <map>

#include "deck/archive_progress_spy.h"
#include "deck/archive_window.h"
#include "deck/deck_fixture.h"
#include "deck/error_map_view.h"
#include "sim/tape.h"

namespace deck_test {
namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

class DeckArchive : public DeckTest {
protected:
    void SetUp() override
    {
        DeckTest::SetUp();
        ASSERT_TRUE(tmp.isValid());
        // The chooser takes existing folders (it has a button to make one): an empty one.
        folder = tmp.filePath("tape07");
        QDir().mkpath(folder);
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&spy);
        chooserWatch.stop();
        DeckTest::TearDown();
    }

    // Chooses `folder` in the folder chooser as soon as it is open.
    void AnswerChooser()
    {
        chooserWatch.callOnTimeout([this] {
            QFileDialog* chooser = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "dlgArchiveFolder" && w->isVisible())
                    chooser = qobject_cast<QFileDialog*>(w);
            if (!chooser)
                return;
            chooserWatch.stop();
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(folder);
            auto* buttons = chooser->findChild<QDialogButtonBox*>("buttonBox");
            for (QAbstractButton* b : buttons->buttons())
                if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                    b->click();
        });
        chooserWatch.start(0);
    }

    // The deck's own enabled buttons (the progress window is its child).
    std::set<std::string> DeckButtons()
    {
        auto names = EnabledButtons(deck());
        for (const char* own : {"cmdArchiveCancel", "cmdArchiveOpen", "cmdArchiveResume"})
            names.erase(own);
        return names;
    }

    deck::ArchiveWindow* Window() { return deck().findChild<deck::ArchiveWindow*>("frmArchive"); }

    // Runs `step` after each progress update of the archive window until it returns true.
    void DuringTheRun(std::function<bool()> step) { spy.start(std::move(step)); }
    ArchiveProgressSpy spy;

    QTemporaryDir tmp;
    QString folder;
    QTimer chooserWatch;
};

std::shared_ptr<const sim::Tape> TwoPrograms()
{
    std::vector<std::int16_t> pcm(200 * 1440 * 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(i * 31);
    return sim::MakePcmTape({pcm, pcm});
}

TEST_F(DeckArchive, ArchiveTapeRunsWithTheDeckHeldAndEndsComplete)
{
    StartReady(TwoPrograms());
    std::set<std::string> buttonsDuring = {"not seen"};
    std::string timeShown, lengthShown;
    int shareShown = -1;
    DuringTheRun([&] {
        deck::ArchiveWindow* w = Window();
        if (!w || !w->Running() || w->lblArchiveTime->text() == "-:--:--")
            return false;
        buttonsDuring = EnabledButtons(deck());
        timeShown = w->lblArchiveTime->text().toStdString();
        lengthShown = w->lblArchiveLength->text().toStdString();
        shareShown = w->barArchive->maximum() == 1000 ? w->barArchive->value() : -1;
        return true;
    });
    AnswerChooser();
    deck().findChild<QAction*>("mnuFileArchive")->trigger();

    // No eject, play or seek while it runs: only the progress window's Cancel.
    EXPECT_EQ(buttonsDuring, std::set<std::string>{"cmdArchiveCancel"});
    EXPECT_FALSE(timeShown.empty());
    // The recorded length was known before the first frame: the two programs' 400 frames, and
    // the bar showed a share of it.
    EXPECT_NE(lengthShown.find("(400 frames)"), std::string::npos) << lengthShown;
    EXPECT_GT(shareShown, 0);
    EXPECT_LT(shareShown, 1000);
    deck::ArchiveWindow* w = Window();
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->lblArchiveStatus->text().startsWith("Complete")) << w->lblArchiveStatus->text().toStdString();
    EXPECT_EQ(w->barArchive->value(), w->barArchive->maximum());
    // The package's error map, drawn from its file: the two programs and the lead-out, no fault.
    ASSERT_TRUE(w->mapArchive->isVisible());
    std::map<std::string, int> shapes;
    for (const archive::MapShape& s : w->mapArchive->shapes())
        if (s.count > 0)
            ++shapes[s.cls];
    EXPECT_EQ(shapes, (std::map<std::string, int>{{"program", 3}}));
    EXPECT_NE(RowText(deck(), true), "-:--:--");  // the panel followed the absolute time
    EXPECT_EQ(DeckButtons(), ReadyButtons());
    const std::string info = ReadText(folder.toStdString() + "/bag-info.txt");
    EXPECT_NE(info.find("Vantrel-Status: complete"), std::string::npos) << info;
    EXPECT_TRUE(QFile::exists(folder + "/data/001.wav") && QFile::exists(folder + "/data/002.wav"));
    w->cmdArchiveCancel->click();  // now "Close"
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(Window());
}

TEST_F(DeckArchive, CancelLeavesAnIncompletePackage)
{
    StartReady(TwoPrograms());
    DuringTheRun([&] {
        deck::ArchiveWindow* w = Window();
        if (!w || !w->Running() || w->lblArchiveTime->text() == "-:--:--")
            return false;
        w->cmdArchiveCancel->click();
        return true;
    });
    AnswerChooser();
    deck().findChild<QAction*>("mnuFileArchive")->trigger();

    deck::ArchiveWindow* w = Window();
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->lblArchiveStatus->text().startsWith("Incomplete")) << w->lblArchiveStatus->text().toStdString();
    const std::string info = ReadText(folder.toStdString() + "/bag-info.txt");
    EXPECT_NE(info.find("Vantrel-Status: incomplete"), std::string::npos) << info;
    EXPECT_EQ(DeckButtons(), ReadyButtons());
}

TEST_F(DeckArchive, AFolderInUseIsRefusedWithAMessageAndNothingRuns)
{
    StartReady(TwoPrograms());
    std::ofstream(folder.toStdString() + "/notes.txt") << "mine";
    AnswerChooser();
    // After the refusal the chooser comes back for another folder: cancelled here.
    int reopened = 0;
    QTimer again;
    again.callOnTimeout([&] {
        if (messages.empty())
            return;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "dlgArchiveFolder" && w->isVisible()) {
                ++reopened;
                again.stop();
                static_cast<QDialog*>(w)->reject();
                return;
            }
    });
    again.start(0);
    deck().findChild<QAction*>("mnuFileArchive")->trigger();
    EXPECT_EQ(reopened, 1);
    EXPECT_FALSE(Window());
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find("is not empty"), std::string::npos) << messages.back();
    EXPECT_EQ(QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList({"notes.txt"}));
}

}  // namespace
}  // namespace deck_test
