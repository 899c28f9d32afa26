// The console window as it first appears: controls, positions, texts, tab order, lines.
#include <QFrame>
#include <QLabel>
#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <map>

#include "console/console_window.h"
#include "console_fixture.h"

namespace console_test {
namespace {

struct Expected {
    const char* name;
    const char* text;
    int left, top, width, height;  // pixels
    int tab;
};

// Every control: twips of the original layout divided by 15.
const Expected kExpected[] = {
    {"lblAdapterNum", "Enter adapter # to query:", 24, 24, 121, 25, 2},
    {"txtAdapterNum", "0", 152, 24, 33, 19, 0},
    {"cmdGetDevType", "Get Device Type", 56, 56, 97, 33, 1},
    {"picOutput", "", 16, 104, 185, 297, 3},
    {"lblTapeID", "Enter ID of Tape Drive:", 240, 24, 113, 17, 5},
    {"txtTapeID", "0", 360, 24, 33, 19, 6},
    {"cmdEjectTape", "Eject Tape", 272, 56, 89, 33, 4},
    {"cmdPreventEject", "Prevent Eject", 272, 120, 89, 33, 12},
    {"cmdAllowEject", "Allow Eject", 272, 184, 89, 33, 13},
    {"cmdReadBlockLimits", "Block Limits", 272, 248, 89, 33, 10},
    {"cmdTestUnitReady", "Test Unit Ready", 408, 56, 89, 33, 11},
    {"cmdModeSense", "Mode Sense", 408, 120, 89, 33, 7},
    {"cmdDataModeSelect", "Data Mode", 408, 184, 89, 33, 8},
    {"cmdAudioModeSelect", "Audio Mode", 408, 248, 89, 33, 9},
    {"cmdRewind", "Rewind", 536, 56, 89, 33, 15},
    {"cmdPlay", "Play", 536, 120, 89, 33, 14},
    {"cmdStop", "Stop", 536, 184, 89, 33, 16},
    {"cmdReadTape", "Read Tape", 536, 248, 89, 33, 17},
    {"cmdUnBuffered", "Unbuffered", 664, 56, 89, 33, 24},
    {"cmdBuffered", "Buffered", 664, 120, 89, 33, 25},
    {"cmdReadPosition", "Read Position", 664, 184, 89, 33, 26},
    {"cmdTimerOnOff", "Display On", 664, 248, 89, 33, 27},
    {"lblProgNum", "Enter Program #:", 256, 336, 81, 17, 19},
    {"txtProgNum", "1", 344, 336, 33, 19, 18},
    {"cmdLocateProgram", "Locate Program", 272, 368, 89, 33, 20},
    {"lblTime", "Enter Time (hh:mm:ss):", 424, 336, 113, 17, 21},
    {"txtAbsTime", "00:00:00", 544, 336, 57, 19, 23},
    {"cmdLocateAbsTime", "Locate Absolute Time", 456, 368, 113, 33, 22},
};

QString TextOf(QWidget* w)
{
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* t = qobject_cast<QLineEdit*>(w))
        return t->text();
    if (auto* o = qobject_cast<OutputBox*>(w))
        return o->text();
    return QStringLiteral("?");
}

TEST_F(ConsoleTest, WindowHasItsCaptionAndClientArea)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Main Form"));
    EXPECT_EQ(window->objectName(), QStringLiteral("frmMain"));
    EXPECT_EQ(window->size(), QSize(792, 430));
}

TEST_F(ConsoleTest, EveryControlStandsWhereTheLayoutPutsItWithItsText)
{
    for (const Expected& e : kExpected) {
        auto* w = window->findChild<QWidget*>(QString::fromLatin1(e.name));
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->geometry(), QRect(e.left, e.top, e.width, e.height)) << e.name;
        EXPECT_EQ(TextOf(w), QString::fromLatin1(e.text)) << e.name;
        EXPECT_EQ(w->property("tabIndex").toInt(), e.tab) << e.name;
        EXPECT_TRUE(w->isEnabled()) << e.name;
    }
}

TEST_F(ConsoleTest, TabGoesThroughTheControlsInTheirTabOrder)
{
    window->show();
    std::map<int, QString> byTab;
    for (const Expected& e : kExpected)
        if (QString::fromLatin1(e.name).startsWith(QLatin1String("lbl")) == false)
            byTab[e.tab] = QString::fromLatin1(e.name);

    QWidget* first = window->findChild<QWidget*>(byTab.begin()->second);
    QStringList visited;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            visited << w->objectName();
        w = w->nextInFocusChain();
    } while (w != first);
    QStringList expected;
    for (const auto& [tab, name] : byTab)
        expected << name;
    EXPECT_EQ(visited, expected);
}

TEST_F(ConsoleTest, TwoLinesDivideTheWindowAndTheTimerStartsStopped)
{
    auto* line1 = window->findChild<QFrame*>(QStringLiteral("Line1"));
    auto* line2 = window->findChild<QFrame*>(QStringLiteral("Line2"));
    ASSERT_TRUE(line1 && line2);
    EXPECT_EQ(line1->frameShape(), QFrame::VLine);
    EXPECT_EQ(line1->geometry(), QRect(224, 0, 1, 432));
    EXPECT_EQ(line2->frameShape(), QFrame::HLine);
    EXPECT_EQ(line2->geometry(), QRect(224, 304, 568, 1));

    auto* timer = window->findChild<QTimer*>(QStringLiteral("tmrReadPosition"));
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 0);
}

std::vector<QWidget*> ConsoleWindows()
{
    std::vector<QWidget*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("frmMain") && qobject_cast<frmMain*>(w))
            found.push_back(w);
    return found;
}

TEST(ConsoleWindow, OpensBesideTheDeckItIsGivenAndGoesWhenDestroyed)
{
    DestroyConsoleWindow();  // the next one is created here
    QWidget deck;
    deck.setGeometry(100, 50, 409, 227);
    deck.show();
    ShowConsoleWindow(&deck);
    ASSERT_EQ(ConsoleWindows().size(), 1u);
    QPointer<QWidget> console = ConsoleWindows().front();
    EXPECT_EQ(console->frameGeometry().topLeft(), QPoint(deck.frameGeometry().right() + 1, deck.frameGeometry().top()));

    DestroyConsoleWindow();
    EXPECT_TRUE(console.isNull());
    EXPECT_TRUE(ConsoleWindows().empty());
    DestroyConsoleWindow();  // none left: nothing to do
}

TEST(ConsoleWindow, OpeningItAgainShowsTheSameWindow)
{
    ShowConsoleWindow();
    ASSERT_EQ(ConsoleWindows().size(), 1u);
    QWidget* console = ConsoleWindows().front();
    EXPECT_TRUE(console->isVisible());
    auto* box = console->findChild<OutputBox*>(QStringLiteral("picOutput"));
    box->print(std::string("kept"));

    console->close();  // closing hides it; its text stays
    ShowConsoleWindow();
    ShowConsoleWindow();
    ASSERT_EQ(ConsoleWindows().size(), 1u);
    EXPECT_EQ(ConsoleWindows().front(), console);
    EXPECT_TRUE(console->isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("kept\n"));
    console->hide();
}

}  // namespace
}  // namespace console_test
