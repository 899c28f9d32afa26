#include "app/windowless_startup.h"

#include "platform/ui/message_box.h"
#include "tape/drive_probe.h"
#include "transport/startup.h"

namespace {

constexpr int kExitFailure = 1;

// Carries a fatal start-up end back here instead of leaving the process from inside Main.
struct StartupEnded {
    int status;
};

}  // namespace

int RunWindowlessStartup()
{
    ui::SetMessageSink(ui::StderrSink());
    SetDeckPresenter({});
    SetProbeCommands(AudioDriveProbe());
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
