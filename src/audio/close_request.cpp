#include "audio/close_request.h"

#include <QCoreApplication>

#include "audio/playback.h"
#include "platform/ui/termination_signals.h"

namespace {

std::function<void()>& CloseSteps()
{
    static std::function<void()> steps;
    return steps;
}

int g_signalStatus = 0;

}  // namespace

void SetCloseRequestHandler(std::function<void()> closeSteps) { CloseSteps() = std::move(closeSteps); }

void RunCloseRequest()
{
    if (CloseSteps())
        CloseSteps()();
    else
        StopPlayback();
}

void CatchCloseSignals()
{
    g_signalStatus = 0;
    ui::CatchTerminationSignals([](int signo) {
        // Set first: the close steps may ask for the program's end, which must not read 0.
        g_signalStatus = 128 + signo;
        RunCloseRequest();
        QCoreApplication::exit(128 + signo);
    });
}

int CloseSignalStatus() { return g_signalStatus; }
