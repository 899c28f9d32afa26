// What the deck window's handlers hand over to the code around the window.
#pragma once

namespace deck {

// Runs the handler set by SetOpenConsoleHandler (nothing without one).
void OpenConsole();
// File, Exit after the window has closed: ends the program (see SetDeckExitHandler).
void RequestProgramEnd();

}  // namespace deck
