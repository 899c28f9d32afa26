#include "app/run_modes.h"

#include <QApplication>
#include <cstdio>

#include "platform/ui/message_box.h"
#include "transport/startup.h"

// Placeholders until the start-up, capture and deck pieces land.
int RunScanMode(const Options&)
{
    std::fprintf(stderr, "vantrel: --scan is not available in this build yet.\n");
    return 1;
}

int RunCaptureMode(const Options&)
{
    std::fprintf(stderr, "vantrel: --capture is not available in this build yet.\n");
    return 1;
}

int RunDeckMode(const Options&)
{
    std::fprintf(stderr, "vantrel: the deck window is not available in this build yet.\n");
    return 1;
}
