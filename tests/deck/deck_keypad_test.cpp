// Keypad entry on the A-time row, the option menu's check marks, and the other menu items.
#include <QAction>
#include <sstream>

#include "deck_fixture.h"
#include "sim/tape.h"

namespace deck_test {
namespace {

void Press(frmDeck& d, const std::string& word)
{
    if (word == "ATime")
        d.cmdAtime->click();
    else if (word == "PNo")
        d.cmdPno->click();
    else if (word == "PTime")
        d.cmdPtime->click();
    else if (word == "Execute")
        d.cmdExecute->click();
    else if (word == "Play")
        d.cmdPlay->click();
    else
        // The keypad handler itself: a refused digit must be refused even if its button is
        // reachable, and pads disabled after a completed entry stay out of reach.
        d.cmdPad_Click(word[0] - '0');
}

struct KeypadRow {
    const char* presses;  // in a fresh deck, Ready
    std::string upper;
    int digitPosition;
    bool padsEnabled;
    bool executeEnabled;
};

class Keypad : public DeckTest, public ::testing::WithParamInterface<KeypadRow> {};

TEST_P(Keypad, FillsTheUpperRowByTheRulesOfHMmSs)
{
    const KeypadRow& row = GetParam();
    StartReady();
    recorder->clear();
    std::istringstream words(row.presses);
    for (std::string w; words >> w;)
        Press(deck(), w);
    // What each sends: an entry sends nothing until Execute, and the PTime entries executed
    // here have no program to count from (nothing has read where the tape is), so they only
    // say so. Play, the one transport button here, starts its reads.
    const std::string presses = row.presses;
    if (presses.find("Play") == std::string::npos) {
        EXPECT_TRUE(recorder->commands().empty());
    }
    if (presses.find("Execute") != std::string::npos) {
        EXPECT_EQ(messages, std::vector<std::string>{"No current program: the tape does not stand in a program."});
    } else {
        EXPECT_TRUE(messages.empty());
    }
    EXPECT_EQ(RowText(deck(), true), row.upper);
    EXPECT_EQ(RowText(deck(), false), "-:--:--");
    EXPECT_EQ(deck().DigitPosition, row.digitPosition);
    for (QPushButton* pad : deck().cmdPad)
        EXPECT_EQ(pad->isEnabled(), row.padsEnabled) << pad->objectName().toStdString();
    EXPECT_EQ(deck().cmdExecute->isEnabled(), row.executeEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, Keypad,
    ::testing::Values(
        KeypadRow{"PTime 1 2 3 4 5", "1:23:45", 0, false, true},
        KeypadRow{"ATime 2 5 9 5 9", "2:59:59", 0, false, true},
        KeypadRow{"PTime 0 0 0 0 0", "0:00:00", 0, false, true},
        // Position 0 takes 0-2 only, after PNo as after the others.
        KeypadRow{"PNo 7", "-:--:--", 0, true, false},
        KeypadRow{"PTime 3", "-:--:--", 0, true, false},
        // Tens of minutes and of seconds take 0-5.
        KeypadRow{"PTime 1 7", "1:--:--", 1, true, false},
        KeypadRow{"PTime 1 7 5", "1:5-:--", 2, true, false},
        KeypadRow{"PTime 1 5 9 6", "1:59:--", 3, true, false},
        // ATime restarts the entry at the first press, refused or not.
        KeypadRow{"ATime 1 2 ATime 3", "-:--:--", 0, true, false},
        KeypadRow{"ATime 1 2 ATime 3 1", "1:--:--", 1, true, false},
        // PNo and PTime continue a broken-off entry, in boxes they have just blanked.
        KeypadRow{"PTime 1 2 PNo 3", "-:-3:--", 3, true, false},
        KeypadRow{"ATime 1 2 PTime 3", "-:-3:--", 3, true, false},
        KeypadRow{"PTime 1 2 Play", "-:--:--", 2, false, false},
        // Execute closes the entry and leaves the digits; the next seek button blanks them.
        KeypadRow{"PTime 1 2 3 4 5 Execute", "1:23:45", 0, false, false},
        KeypadRow{"PTime 1 2 3 4 5 Execute PNo", "-:--:--", 0, true, false},
        KeypadRow{"PTime 1 2 3 4 5 Execute PNo 1", "1:--:--", 1, true, false}));

TEST_F(DeckTest, TheFifthDigitEnablesExecuteAndGivesItTheFocus)
{
    StartReady();
    deck().cmdPtime->click();
    EXPECT_EQ(deck().focusWidget(), deck().picAtime[0]);
    for (int d : {1, 2, 3, 4})
        deck().cmdPad[static_cast<std::size_t>(d)]->click();
    EXPECT_FALSE(deck().cmdExecute->isEnabled());
    deck().cmdPad[5]->click();
    EXPECT_TRUE(deck().cmdExecute->isEnabled());
    EXPECT_EQ(deck().focusWidget(), deck().cmdExecute);
    EXPECT_FALSE(RestartEntry);
    deck().cmdExecute->click();
    EXPECT_EQ(deck().focusWidget(), deck().picAtime[0]);
}

struct OptionRow {
    const char* clicks;  // S: "Play and Save", O: "Save Only"
    bool save, only;
};

class OptionMarks : public DeckTest, public ::testing::WithParamInterface<OptionRow> {};

TEST_P(OptionMarks, EachItemInvertsItselfAndClearsTheOther)
{
    Start(nullptr);
    for (const char* c = GetParam().clicks; *c; ++c)
        (*c == 'S' ? deck().mnuOptionsSave : deck().mnuOptionsOnly)->trigger();
    EXPECT_EQ(deck().mnuOptionsSave->isChecked(), GetParam().save);
    EXPECT_EQ(deck().mnuOptionsOnly->isChecked(), GetParam().only);
}

INSTANTIATE_TEST_SUITE_P(Clicks, OptionMarks,
                         ::testing::Values(OptionRow{"", false, false}, OptionRow{"S", true, false},
                                           OptionRow{"SS", false, false}, OptionRow{"O", false, true},
                                           OptionRow{"SO", false, true}, OptionRow{"OS", true, false},
                                           OptionRow{"SOO", false, false}, OptionRow{"OSS", false, false}));

TEST_F(DeckTest, MenusHaveTheirCaptions)
{
    Start(nullptr);
    EXPECT_EQ(deck().mnuFile->title(), "&File");
    EXPECT_EQ(deck().mnuFileExit->text(), "E&xit");
    EXPECT_EQ(deck().mnuOptions->title(), "&Options");
    EXPECT_EQ(deck().mnuOptionsSave->text(), "Play and &Save");
    EXPECT_EQ(deck().mnuOptionsOnly->text(), "Save &Only");
    EXPECT_TRUE(deck().mnuOptionsSave->isCheckable());
    EXPECT_TRUE(deck().mnuOptionsOnly->isCheckable());
    EXPECT_EQ(deck().mnuHelp->title(), "&Help");
    EXPECT_EQ(deck().mnuHelpContents->text(), "&Contents");
    EXPECT_EQ(deck().mnuHelpAbout->text(), "&About");
    EXPECT_EQ(deck().windowTitle(), "Vantrel");
}

TEST_F(DeckTest, AboutNamesTheProgramAndContentsDoesNothing)
{
    Start(nullptr);
    deck().mnuHelpContents->trigger();
    EXPECT_TRUE(messages.empty());
    deck().mnuHelpAbout->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Vantrel"), std::string::npos);
    EXPECT_NE(messages[0].find(VANTREL_TEST_VERSION), std::string::npos);
}

TEST_F(DeckTest, TheConsoleItemAsksForTheConsole)
{
    Start(nullptr);
    deck().mnuFileConsole->trigger();
    EXPECT_EQ(consoleRequests, 1);
    EXPECT_EQ(exitRequests, 0);
}

}  // namespace
}  // namespace deck_test
