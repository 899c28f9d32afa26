// The deck window frmDeck and its start-up presentation.
#pragma once

#include <chrono>
#include <functional>

class frmDeck;

// The start-up presentation: sizes, loads and shows the deck, runs the lamp test and starts
// the wait-for-tape timer. Called at the end of Main.
void PresentDeck();

// What the deck's File menu item for the console does (the app connects the console).
void SetOpenConsoleHandler(std::function<void()> handler);

// The one deck window, created on first reference (which runs its load handler).
frmDeck& DeckWindow();
// True once PresentDeck has shown the window.
bool DeckPresented();
// True once the deck's File, Exit has asked the program to end.
bool DeckExitRequested();

// What File, Exit does after the window has closed. The default leaves the event loops; if
// a drive command is still pending it is abandoned, and a command that never lets go ends
// the process after a grace period. Tests replace it.
void SetDeckExitHandler(std::function<void()> handler);

// Tests: the lengths of the lamp test and of the dAtA pause of the presentation
// (zero: no pause at all).
void SetPresentationPauses(std::chrono::milliseconds lampTest, std::chrono::milliseconds dataPause);
// Tests: destroys the window, so that the next DeckWindow() is a fresh one.
void DestroyDeckWindow();
