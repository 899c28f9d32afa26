// Start-up discovery for the modes without a window (--scan, --capture).
#pragma once

// Runs Main with its message boxes going to stderr (one line each), no deck to hand over to,
// and its fatal ends caught here instead of leaving the process. Returns 0 when a drive was
// selected, else the non-zero exit status that start-up asked for.
int RunWindowlessStartup();
