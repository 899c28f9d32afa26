#include <QApplication>

#include "app/run_modes.h"
#include "audio/close_request.h"
#include "audio/frame_reader.h"
#include "audio/playback.h"
#include "console/console_window.h"
#include "deck/deck_window.h"
#include "deck/frm_deck.h"
#include "platform/wave/wave_out.h"
#include "tape/drive_probe.h"
#include "transport/startup.h"

// The deck window on the running QApplication: start-up finds the drive and presents the
// deck; the console comes with --console or from the deck's File menu.
int RunDeckMode(const Options& options)
{
    SetWaveOutDevice(options.audioDevice);
    SetMaxBadFrames(options.maxBadFrames);
    SetDeckPresenter(PresentDeck);
    SetProbeCommands(AudioDriveProbe());
    SetOpenConsoleHandler(ShowConsoleWindow);
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
    // After start-up: the console then addresses the drive chosen and opens beside the deck.
    if (options.console && !DeckExitRequested())
        ShowConsoleWindow();
    // Closed during the start-up presentation (File, Exit or a signal): the event loop that
    // was told to end has not run yet.
    if (DeckExitRequested() || DeckWindow().Unloaded())
        return 0;
    return QApplication::exec();
}
