#include "platform/ui/termination_signals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace ui {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The self-pipe: the signal handler writes the signal number, the notifier reads it on the
// program's thread.
int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_unhandled = 0;
volatile std::sig_atomic_t g_taken = 0;  // EndOnNextSignal: the next signal ends the process

extern "C" void OnTerminationSignal(int signo)
{
    const int saved = errno;
    if (g_unhandled || g_taken) {
        // A second signal: the first was not taken up (the program's thread is stuck), or the
        // user does not want to wait for what it started. End as the signal would.
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signo, &dfl, nullptr);
        raise(signo);
    }
    g_unhandled = 1;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

struct Catcher {
    std::function<void(int)> handler;
    QSocketNotifier* notifier = nullptr;
};

Catcher& State()
{
    static Catcher c;
    return c;
}

void TakeUpSignals()
{
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        g_unhandled = 0;
        if (State().handler)
            State().handler(byte);
    }
}

}  // namespace

void CatchTerminationSignals(std::function<void(int)> handler)
{
    State().handler = std::move(handler);
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
    }
    if (!State().notifier) {
        State().notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
        QObject::connect(State().notifier, &QSocketNotifier::activated, [] { TakeUpSignals(); });
    }
    struct sigaction sa = {};
    sa.sa_handler = &OnTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : kSignals)
        sigaction(s, &sa, nullptr);
}

void EndOnNextSignal() { g_taken = 1; }

void ReleaseTerminationSignals()
{
    for (int s : kSignals)
        std::signal(s, SIG_DFL);
    g_unhandled = 0;
    g_taken = 0;
    State().handler = nullptr;
}

}  // namespace ui
