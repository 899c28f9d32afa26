// Keyboard and screen-reader access: accessible names, the Tab order, where the focus goes
// after a press, and the deck's keys.
#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QMenu>

#include "deck/led_box.h"
#include "deck_fixture.h"
#include "sim/tape.h"
#include "wave/pump.h"

namespace deck_test {
namespace {

QString AccessibleText(QObject* o, QAccessible::Text t)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
    return a ? a->text(t) : QString();
}

// A key as the window system delivers it: to the focused widget, shortcuts first.
void PressKey(frmDeck& d, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &d;
    QKeyEvent press(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods);
    QApplication::sendEvent(target, &release);
}

std::shared_ptr<const sim::Tape> ThreePrograms()
{
    return sim::MakeLoopedPcmTape(std::vector<std::int16_t>(2 * 1440, 100), 3, 48000 * 10);
}

class DeckAccess : public DeckTest {
protected:
    void Activate()
    {
        deck().show();
        QApplication::setActiveWindow(&deck());
        ASSERT_TRUE(QApplication::activeWindow() == &deck());
    }
    std::uint64_t TapeFrame() { return bus->driveState(AspiAdapter, AspiTarget)->frame; }
};

TEST_F(DeckAccess, EveryControlHasTheNameOfItsTooltipAndTheRowsReadAsOneTime)
{
    StartReady();
    frmDeck& d = deck();
    for (QPushButton* b : {d.cmdBOT, d.cmdNext, d.cmdPrev, d.cmdEOT, d.cmdEject, d.cmdPlay, d.cmdCue, d.cmdStop,
                           d.cmdRecord, d.cmdAtime, d.cmdPno, d.cmdPtime, d.cmdExecute}) {
        SCOPED_TRACE(b->objectName().toStdString());
        EXPECT_FALSE(b->toolTip().isEmpty());
        EXPECT_EQ(AccessibleText(b, QAccessible::Name), b->toolTip());
    }
    EXPECT_EQ(AccessibleText(d.cmdPlay, QAccessible::Name), "Play Tape");
    EXPECT_EQ(AccessibleText(d.cmdNext, QAccessible::Name), "Previous Program");
    for (int i = 0; i < 10; ++i) {
        QPushButton* b = d.cmdPad[static_cast<std::size_t>(i)];
        EXPECT_EQ(AccessibleText(b, QAccessible::Name), QString::number(i));
        EXPECT_EQ(AccessibleText(b, QAccessible::Description), "Time or Program Number Entry");
    }
    for (QLabel* l : {d.lblPno, d.lblKhz, d.lblEmph})
        EXPECT_FALSE(AccessibleText(l, QAccessible::Name).isEmpty()) << l->objectName().toStdString();

    // One reading per row, named as the row and following the panel.
    auto* upper = d.findChild<QFrame*>("Frame1");
    auto* lower = d.findChild<QFrame*>("Frame2");
    ASSERT_TRUE(upper && lower);
    EXPECT_EQ(AccessibleText(upper, QAccessible::Name), "Absolute Time");
    EXPECT_EQ(AccessibleText(lower, QAccessible::Name), "Program Time");
    d.SetDisplayToPosition(dat::TimeCode{1, 23, 48, 0, true}, dat::TimeCode{0, 7, 5, 0, true},
                           dat::ProgramNumber::Of(2));
    EXPECT_EQ(AccessibleText(upper, QAccessible::Description), "1:23:48");
    EXPECT_EQ(AccessibleText(lower, QAccessible::Description), "0:07:05");
    d.SetDisplayToBlank();
    EXPECT_EQ(AccessibleText(upper, QAccessible::Description), "-:--:--");

    // The boxes themselves take no focus.
    for (const auto* row : {&d.picAtime, &d.picPtime})
        for (deck::LedBox* box : *row)
            EXPECT_EQ(box->focusPolicy(), Qt::NoFocus) << box->objectName().toStdString();
}

TEST_F(DeckAccess, TabFollowsTheLayoutAndSkipsThePanel)
{
    StartReady();
    frmDeck& d = deck();
    std::vector<QWidget*> expected{d.cmdBOT, d.cmdNext, d.cmdPrev,   d.cmdEOT,   d.cmdEject, d.cmdPlay,
                                   d.cmdCue, d.cmdStop, d.cmdRecord, d.cmdAtime, d.cmdPno,   d.cmdPtime};
    for (int i = 1; i <= 9; ++i)
        expected.push_back(d.cmdPad[static_cast<std::size_t>(i)]);
    expected.push_back(d.cmdPad[0]);
    expected.push_back(d.cmdExecute);

    // Every stop Tab reaches in the client area, in order, from the first.
    std::vector<QWidget*> walked{d.cmdBOT};
    for (QWidget* w = d.cmdBOT->nextInFocusChain(); w != d.cmdBOT; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && d.centralWidget()->isAncestorOf(w))
            walked.push_back(w);
    EXPECT_EQ(walked, expected);
}

TEST_F(DeckAccess, SpacePlaysAndStopsAndTheFocusFollows)
{
    StartReady();
    frmDeck& d = deck();
    Activate();
    // At start-up the focus is on Play, not in the panel.
    EXPECT_EQ(QApplication::focusWidget(), d.cmdPlay);

    PressKey(d, Qt::Key_Space);
    ASSERT_TRUE(testing_support::PumpUntil([&] { return fakeWave.queued() == 4; }));
    EXPECT_TRUE(PlayActive);
    EXPECT_EQ(EnabledButtons(d), std::set<std::string>{"cmdStop"});
    EXPECT_EQ(QApplication::focusWidget(), d.cmdStop);

    PressKey(d, Qt::Key_Space);
    EXPECT_FALSE(PlayActive);
    EXPECT_EQ(EnabledButtons(d), ReadyButtons());
    EXPECT_EQ(QApplication::focusWidget(), d.cmdPlay);
    ASSERT_TRUE(testing_support::PumpUntil([&] { return !fakeWave.anyOpen(); }));

    // A button pressed keeps the focus once the drive is done with it.
    d.cmdEOT->setFocus();
    PressKey(d, Qt::Key_Return);
    EXPECT_EQ(EnabledButtons(d), ReadyButtons());
    EXPECT_EQ(QApplication::focusWidget(), d.cmdEOT);
    EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(DeckAccess, TheTransportKeysDoWhatTheirButtonsDo)
{
    auto tape = ThreePrograms();
    StartReady(tape);
    frmDeck& d = deck();
    Activate();

    PressKey(d, Qt::Key_PageDown);
    EXPECT_EQ(d.lblPno->text(), "PNo 02");
    EXPECT_EQ(TapeFrame(), sim::FirstFrameOfProgram(*tape, 2));
    PressKey(d, Qt::Key_PageDown);
    EXPECT_EQ(d.lblPno->text(), "PNo 03");
    PressKey(d, Qt::Key_PageUp);
    EXPECT_EQ(d.lblPno->text(), "PNo 02");
    PressKey(d, Qt::Key_End);
    EXPECT_GT(TapeFrame(), sim::FirstFrameOfProgram(*tape, 3));
    PressKey(d, Qt::Key_Home);
    EXPECT_EQ(TapeFrame(), 0u);
    EXPECT_EQ(EnabledButtons(d), ReadyButtons());
    EXPECT_TRUE(messages.empty()) << messages.front();

    // A key whose button is off does nothing: Stop is off in Ready.
    const auto before = recorder->commands().size();
    d.cmdBOT->setEnabled(false);
    PressKey(d, Qt::Key_Home);
    EXPECT_EQ(recorder->commands().size(), before);
    d.cmdBOT->setEnabled(true);

    PressKey(d, Qt::Key_E, Qt::ControlModifier);
    EXPECT_FALSE(bus->driveState(AspiAdapter, AspiTarget)->tapeLoaded);

    // Help, Keyboard lists them all; Ctrl+Q ends the program as File, Exit does.
    const QString help = frmDeck::KeyboardHelp();
    for (const char* k : {"Space", "Home", "End", "Page Up", "Page Down", "Ctrl+E", "Ctrl+Q"})
        EXPECT_TRUE(help.contains(k)) << k;
    EXPECT_TRUE(d.mnuHelp->actions().contains(d.mnuHelpKeyboard));
    PressKey(d, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(exitRequests, 1);
    EXPECT_TRUE(d.Unloaded());
}

}  // namespace
}  // namespace deck_test
