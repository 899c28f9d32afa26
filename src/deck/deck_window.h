// The deck window frmDeck and its start-up presentation.
#pragma once

#include <chrono>

class frmDeck;

// The start-up presentation: sizes, loads and shows the deck, runs the lamp test and starts
// the wait-for-tape timer. Called at the end of Main.
void PresentDeck();

// The one deck window, created on first reference (which runs its load handler). What it
// asks for (the console, the program's end) it emits as signals; the program connects them.
frmDeck& DeckWindow();
// True once PresentDeck has shown the window.
bool DeckPresented();

// Destroys the window, so that the next DeckWindow() is a fresh one. The program calls it
// before its QApplication goes away: a widget must not outlive the application, and one
// left at exit is never destroyed by a static destructor.
void DestroyDeckWindow();

// Tests: the lengths of the lamp test and of the dAtA pause of the presentation
// (zero: no pause at all).
void SetPresentationPauses(std::chrono::milliseconds lampTest, std::chrono::milliseconds dataPause);
