#include <cstdio>

#include "app/run_modes.h"

// Placeholder until the capture lands.
int RunCaptureMode(const Options&)
{
    std::fprintf(stderr, "vantrel: --capture is not available in this build yet.\n");
    return 1;
}
