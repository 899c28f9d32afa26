// The one deck window and its start-up presentation.
#include "deck/deck_window.h"

#include <QEventLoop>
#include <QTimer>
#include <utility>

#include "deck/frm_deck.h"
#include "deck/led_box.h"

namespace {

using std::chrono::milliseconds;

constexpr int kPollIntervalMs = 1000;

struct DeckModule {
    // Owned, but deliberately not by a smart pointer: a static's destructor runs after the
    // QApplication is gone, where destroying a widget crashes. DestroyDeckWindow frees it.
    frmDeck* window = nullptr;
    // The lamp test's pause, where the window keeps processing its messages; a fixed time
    // instead of a count of message loops, whose length depended on the machine.
    milliseconds lampTest{1500};
    // The pause with dAtA on the panel, where user input waits (it is not lost).
    milliseconds dataPause{1000};
    bool presented = false;
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

}  // namespace

frmDeck& DeckWindow()
{
    DeckModule& m = Module();
    if (!m.window) {
        m.window = new frmDeck;
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

bool DeckPresented() { return Module().presented; }

void SetPresentationPauses(milliseconds lampTest, milliseconds dataPause)
{
    Module().lampTest = lampTest;
    Module().dataPause = dataPause;
}

void DestroyDeckWindow()
{
    DeckModule& m = Module();
    delete std::exchange(m.window, nullptr);
    m.presented = false;
    RestartEntry = false;
}
