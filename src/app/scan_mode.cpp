// --scan: start-up discovery without a window. Messages that would be boxes go to stderr,
// one line each; the table goes to stdout; the exit status says whether a drive was chosen.
#include <cstdio>

#include "app/run_modes.h"
#include "platform/ui/message_box.h"
#include "tape/drive_probe.h"
#include "transport/drive_state.h"
#include "transport/scan_table.h"
#include "transport/startup.h"

namespace {

constexpr int kExitFailure = 1;

// Carries a fatal start-up end back here instead of leaving the process from inside Main.
struct StartupEnded {
    int status;
};

// Main with its fatal ends caught; returns the exit status it asked for, 0 when it handed over.
int RunDiscovery()
{
    ui::SetEndHandler([](int status) { throw StartupEnded{status}; });
    int status = 0;
    try {
        Main();
    } catch (const StartupEnded& e) {
        status = e.status != 0 ? e.status : kExitFailure;
    }
    ui::SetEndHandler({});
    return status;
}

}  // namespace

int RunScanMode(const Options&)
{
    ui::SetMessageSink(ui::StderrSink());
    SetDeckPresenter({});
    SetProbeCommands(AudioDriveProbe());

    const int status = RunDiscovery();
    for (const std::string& line : FormatAdapterTable())
        std::printf("%s\n", line.c_str());
    if (status == 0)
        std::printf("Selected drive: %u:%u\n", unsigned{AspiAdapter}, unsigned{AspiTarget});
    std::fflush(stdout);
    return status;
}
