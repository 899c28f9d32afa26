// The one deck window, its start-up presentation, and what File, Exit and the console item
// hand over to.
#include "deck/deck_window.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <memory>

#include "deck/deck_hooks.h"
#include "deck/frm_deck.h"
#include "deck/led_box.h"
#include "platform/ui/message_box.h"

namespace {

using std::chrono::milliseconds;

constexpr int kPollIntervalMs = 1000;
// How long a pending drive command may keep the program alive after File, Exit. A locate
// across a whole tape takes about a minute on a real drive; an SG_IO cannot be interrupted.
constexpr int kExitGraceMs = 90000;

struct DeckModule {
    std::unique_ptr<frmDeck> window;
    std::function<void()> openConsole;
    std::function<void()> exitHandler;
    // The lamp test's pause, where the window keeps processing its messages; a fixed time
    // instead of a count of message loops, whose length depended on the machine.
    milliseconds lampTest{1500};
    // The pause with dAtA on the panel, where user input waits (it is not lost).
    milliseconds dataPause{1000};
    bool presented = false;
    bool exitRequested = false;
};

DeckModule& Module()
{
    static DeckModule m;
    return m;
}

void Pause(milliseconds length, QEventLoop::ProcessEventsFlags flags)
{
    if (length.count() <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(length, &loop, &QEventLoop::quit);
    loop.exec(flags);
}

void LeaveEventLoops()
{
    QCoreApplication::exit(0);
    // A locate or eject still waiting inside its handler keeps the program alive until it
    // ends, invisibly; one that never ends (a hung drive) must not keep it forever.
    if (Module().window && Module().window->CommandRunning())
        QTimer::singleShot(kExitGraceMs, [] { ui::EndProgram(0); });
}

}  // namespace

namespace deck {

void OpenConsole()
{
    if (Module().openConsole)
        Module().openConsole();
}

void RequestProgramEnd()
{
    Module().exitRequested = true;
    if (Module().exitHandler)
        Module().exitHandler();
    else
        LeaveEventLoops();
}

}  // namespace deck

frmDeck& DeckWindow()
{
    DeckModule& m = Module();
    if (!m.window) {
        m.window = std::make_unique<frmDeck>();
        m.window->Form_Load();
    }
    return *m.window;
}

void PresentDeck()
{
    DeckModule& m = Module();
    // Loading the window (its first reference) also runs the load handler. The size is the
    // window's own: a fixed client area.
    frmDeck& deck = DeckWindow();
    deck.DisableAllButtons();
    deck.show();
    deck.activateWindow();
    deck.picAtime[0]->setFocus();
    m.presented = true;

    deck.SetDisplayTo8s();
    Pause(m.lampTest, QEventLoop::AllEvents);
    if (deck.Unloaded())
        return;
    deck.SetDisplayToData();
    Pause(m.dataPause, QEventLoop::ExcludeUserInputEvents);
    if (deck.Unloaded())
        return;
    deck.SetDisplayToBlank();
    deck.tmrWait4Tape->start(kPollIntervalMs);
}

void SetOpenConsoleHandler(std::function<void()> handler) { Module().openConsole = std::move(handler); }
void SetDeckExitHandler(std::function<void()> handler) { Module().exitHandler = std::move(handler); }
bool DeckPresented() { return Module().presented; }
bool DeckExitRequested() { return Module().exitRequested; }

void SetPresentationPauses(milliseconds lampTest, milliseconds dataPause)
{
    Module().lampTest = lampTest;
    Module().dataPause = dataPause;
}

void DestroyDeckWindow()
{
    DeckModule& m = Module();
    m.window.reset();
    m.presented = false;
    m.exitRequested = false;
    RestartEntry = false;
}
