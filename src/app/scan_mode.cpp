// --scan: start-up discovery without a window. Messages that would be boxes go to stderr,
// one line each; the table goes to stdout; the exit status says whether a drive was chosen.
#include <cstdio>

#include "app/run_modes.h"
#include "app/windowless_startup.h"
#include "transport/drive_state.h"
#include "transport/scan_table.h"
#include "transport/startup.h"

int RunScanMode(const Options&)
{
    const int status = RunWindowlessStartup();
    for (const std::string& line : FormatAdapterTable())
        std::printf("%s\n", line.c_str());
    if (status == 0)
        std::printf("Selected drive: %u:%u\n", unsigned{AspiAdapter}, unsigned{AspiTarget});
    std::fflush(stdout);
    return status;
}
