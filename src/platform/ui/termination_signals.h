// SIGINT, SIGTERM and SIGHUP turned into a call on the program's thread, so that the program
// can finish its work (a capture file's sizes) before it ends.
#pragma once

#include <functional>

namespace ui {

// From now on each of the three signals runs `handler(signal number)` on the program's thread,
// from its event loop (or a SendAndWait), instead of ending the process. A second signal
// before the handler has run ends the process as the signal would. Call on the program's
// thread once the Q(Core)Application exists; calling again replaces the handler.
void CatchTerminationSignals(std::function<void(int)> handler);
// From now on a further signal ends the process at once, as the signal would, even after
// the handler has run for the last one: a second Ctrl-C when the user will not wait.
void EndOnNextSignal();
// Gives the three signals their default action back (tests).
void ReleaseTerminationSignals();

}  // namespace ui
