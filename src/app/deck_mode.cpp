#include <QApplication>
#include <QTimer>

#include "app/run_modes.h"
#include "audio/close_request.h"
#include "audio/frame_reader.h"
#include "audio/playback.h"
#include "console/console_window.h"
#include "deck/deck_window.h"
#include "deck/frm_deck.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "deck/drive_probe.h"
#include "transport/startup.h"

namespace {

// How long a pending drive command may keep the program alive after the deck has closed. A
// locate across a whole tape takes about a minute on a real drive; an SG_IO cannot be
// interrupted.
constexpr int kExitGraceMs = 90000;

// Every window goes while the QApplication still exists, on every way out of the deck mode.
// The presenter set below refers to this run's locals: it goes too.
class DeckRun {
public:
    DeckRun() = default;
    DeckRun(const DeckRun&) = delete;
    DeckRun& operator=(const DeckRun&) = delete;
    ~DeckRun()
    {
        SetDeckPresenter({});
        SetCloseRequestHandler({});
        DestroyConsoleWindow();
        DestroyDeckWindow();
    }

    // The deck closed: leave the event loops. A locate or eject still waiting inside its
    // handler keeps the program alive until it ends, invisibly; one that never ends (a hung
    // drive) must not keep it forever.
    void endRequested(const frmDeck& deck)
    {
        endRequested_ = true;
        const int status = CloseSignalStatus();
        QCoreApplication::exit(status);
        if (deck.CommandRunning() && !graceTimerStarted_) {
            graceTimerStarted_ = true;
            QTimer::singleShot(kExitGraceMs, [status] { ui::EndProgram(status); });
        }
    }

    bool ended() const { return endRequested_; }

private:
    bool endRequested_ = false;
    bool graceTimerStarted_ = false;
};

}  // namespace

// The deck window on the running QApplication: start-up finds the drive and presents the
// deck; the console comes with --console or from the deck's File menu.
int RunDeckMode(const Options& options)
{
    DeckRun run;
    // The deck's close is the program's end, and it brings its own exit status (0, or 128 +
    // a signal): Qt's own quit when the last window closes would replace that status with 0.
    QApplication::setQuitOnLastWindowClosed(false);
    SetWaveOutDevice(options.audioDevice);
    SetMaxBadFrames(options.maxBadFrames);
    SetNonLinearLayout(options.lpLayout);
    SetProbeCommands(AudioDriveProbe());
    // The deck is created by the presentation, at the end of start-up; what it asks for is
    // connected before it is shown.
    SetDeckPresenter([&run] {
        frmDeck& deck = DeckWindow();
        QObject::connect(&deck, &frmDeck::consoleRequested, &deck, [&deck] { ShowConsoleWindow(&deck); });
        QObject::connect(&deck, &frmDeck::programEndRequested, &deck, [&run, &deck] { run.endRequested(deck); });
        PresentDeck();
    });
    // SIGINT, SIGTERM and SIGHUP close the deck as its close button does, so that a running
    // capture gets its sizes before the program ends.
    SetCloseRequestHandler([] {
        if (DeckPresented())
            DeckWindow().close();
        else
            StopPlayback();
    });
    CatchCloseSignals();

    Main();
    if (!DeckPresented())
        return 1;
    // A signal during start-up, before the deck was there to close.
    if (CloseSignalStatus() != 0 && !run.ended()) {
        DeckWindow().close();
        return CloseSignalStatus();
    }
    // After start-up: the console then addresses the drive chosen and opens beside the deck.
    if (options.console && !run.ended())
        ShowConsoleWindow(&DeckWindow());
    // Closed during the start-up presentation (File, Exit or a signal): the event loop that
    // was told to end has not run yet.
    if (run.ended() || DeckWindow().Unloaded())
        return CloseSignalStatus();
    return QApplication::exec();
}
