// Start-up discovery for the modes without a window (--scan, --capture).
#pragma once

#include <functional>

struct WindowlessStartup {
    // Asked between discovery's commands and while waiting: true stops at once (Ctrl-C).
    std::function<bool()> interrupted;
    // Repeat discovery, once a second, while the only obstacle is a tape device that is still
    // becoming ready (a tape just inserted), for up to waitMs in all.
    bool waitWhileBecomingReady = false;
    long long waitMs = 60000;
};

inline constexpr int kExitInterrupted = 130;

// Runs Main with its message boxes going to stderr (one line each), no deck to hand over to,
// and its fatal ends returned here instead of leaving the process. A command that has run for
// more than 2 s is announced on stderr with the device it waits for. Returns 0 when a drive
// was selected, kExitInterrupted when `interrupted` stopped it, else the non-zero exit
// status that start-up asked for.
int RunWindowlessStartup(const WindowlessStartup& how = {});
