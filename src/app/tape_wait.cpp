#include "app/tape_wait.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "app/windowless_startup.h"
#include "platform/ui/termination_signals.h"
#include "deck/drive_commands.h"
#include "transport/basic_text.h"
#include "transport/drive_state.h"

namespace {

constexpr int kPollMs = 1000;
constexpr int kExitFailure = 1;

const char* WaitReason(std::int32_t code)
{
    switch (code) {
    case kTurNoTape: return "a tape to be inserted";
    case kTurBecomingReady: return "the tape to become ready";
    case kTurMediumChanged: return "the drive to take up the new tape";
    case kTurReset: return "the drive to finish its reset";
    default: return "the drive to answer";
    }
}

}  // namespace

TapeWait::Next TapeWait::after(std::int32_t code)
{
    if (code == kTurReady)
        return Next::Ready;
    if (waited_.elapsed() >= kLimitMs)
        return Next::GiveUp;
    if (code != lastCode_)
        std::fprintf(stderr, "Waiting for %s (up to a minute)...\n", WaitReason(code));
    lastCode_ = code;
    // A unit attention is reported once: ask again at once, then at the poll interval.
    const bool attention = code == kTurMediumChanged || code == kTurReset;
    delayMs_ = attention && quickPolls_++ < 3 ? 0 : kPollMs;
    return Next::PollAgain;
}

int TapeSession::run()
{
    ui::CatchTerminationSignals([this](int) { interrupt(); });
    WindowlessStartup how;
    how.interrupted = [this] { return interrupted_; };  // Ctrl-C stops discovery too
    how.waitWhileBecomingReady = true;  // a tape just inserted: the drive answers 04/01 for a while
    how.waitMs = TapeWait::kLimitMs;
    const int discovery = RunWindowlessStartup(how);
    if (discovery != 0 || interrupted_) {
        ui::ReleaseTerminationSignals();
        return discovery != 0 && !interrupted_ ? discovery : kExitFailure;
    }
    QTimer::singleShot(0, [this] { poll(); });
    const int status = QCoreApplication::exec();
    ui::ReleaseTerminationSignals();
    return status;
}

void TapeSession::poll()
{
    if (interrupted_)
        return end(kExitFailure);
    const std::int32_t code = TestUnitReady(AspiAdapter, AspiTarget);
    if (interrupted_)
        return end(kExitFailure);
    switch (wait_.after(code)) {
    case TapeWait::Next::Ready:
        break;
    case TapeWait::Next::GiveUp:
        std::fprintf(stderr, "vantrel: the drive did not become ready within a minute; nothing was %s.\n", done_);
        return end(kExitFailure);
    case TapeWait::Next::PollAgain:
        QTimer::singleShot(wait_.delayMs(), [this] { poll(); });
        return;
    }
    const std::uint8_t density = GetDensityCode(AspiAdapter, AspiTarget);
    if (density != AudioDensity && !takesAnyTape()) {
        std::fprintf(stderr,
                     "vantrel: the drive is not in audio mode with an audio tape (density code %sH, audio "
                     "is 80H): a data tape cannot be %s. Nothing was %s.\n",
                     HexText(density).c_str(), done_, done_);
        return end(kExitFailure);
    }
    working_ = true;
    work();
    working_ = false;
}

// SIGINT, SIGTERM, SIGHUP: the work under way ends as its stop does; before it, nothing starts.
void TapeSession::interrupt()
{
    if (working_) {
        stopWork();
        return;
    }
    ui::EndOnNextSignal();  // nothing written yet: a second Ctrl-C need not wait for discovery
    if (!interrupted_)
        std::fprintf(stderr, "vantrel: interrupted before the %s began; nothing was %s.\n", noun_, done_);
    interrupted_ = true;
    QCoreApplication::exit(kExitFailure);  // when the wait's loop runs; else poll() ends it
}

void TapeSession::end(int status)
{
    if (ended_)
        return;
    ended_ = true;
    QCoreApplication::exit(status);
}
