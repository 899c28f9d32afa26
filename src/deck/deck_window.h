// The deck window frmDeck and its start-up presentation.
#pragma once

#include <functional>

// The start-up presentation: sizes, loads and shows the deck, runs the lamp test and starts
// the wait-for-tape timer. Called at the end of Main.
void PresentDeck();

// What the deck's File menu item for the console does (the app connects the console).
void SetOpenConsoleHandler(std::function<void()> handler);
