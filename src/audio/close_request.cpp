#include "audio/close_request.h"

#include <QCoreApplication>

#include "audio/playback.h"
#include "platform/wave/termination_signals.h"

namespace {

std::function<void()>& CloseSteps()
{
    static std::function<void()> steps;
    return steps;
}

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
    wave::CatchTerminationSignals([](int signo) {
        RunCloseRequest();
        QCoreApplication::exit(128 + signo);
    });
}
