#include <cstdio>

#include "app/run_modes.h"

// Placeholder until start-up discovery lands.
int RunScanMode(const Options&)
{
    std::fprintf(stderr, "vantrel: --scan is not available in this build yet.\n");
    return 1;
}
