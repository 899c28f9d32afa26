// The deck window's close request, also run for SIGINT, SIGTERM and SIGHUP, so that a
// running capture gets its sizes fixed before the program ends.
#pragma once

#include <functional>

// The steps of the deck window's close request (blank the panel, disable the buttons, stop
// playback). Empty: StopPlayback alone.
void SetCloseRequestHandler(std::function<void()> closeSteps);
// Runs the close request steps.
void RunCloseRequest();
// From now on SIGINT, SIGTERM and SIGHUP run the close request steps on the program's thread
// and then quit the application's event loop with 128 + the signal number. Call once on the
// program's thread after the Q(Core)Application exists.
void CatchCloseSignals();
// 128 + the number of the signal that asked the program to end since CatchCloseSignals, or 0.
int CloseSignalStatus();
