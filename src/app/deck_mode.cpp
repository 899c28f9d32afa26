#include <cstdio>

#include "app/run_modes.h"

// Placeholder until the deck window lands.
int RunDeckMode(const Options&)
{
    std::fprintf(stderr, "vantrel: the deck window is not available in this build yet.\n");
    return 1;
}
