// Renders the deck window on the virtual drive in its Ready and Data tape states and writes
// deck-ready.png and deck-data.png into the folder given (scripts/screenshots.sh runs it).
#include <QApplication>
#include <QDir>
#include <chrono>
#include <cstdio>

#include "deck/deck_window.h"
#include "deck/frm_deck.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "sim/virtual_bus.h"
#include "tape/drive_probe.h"
#include "transport/drive_state.h"
#include "transport/startup.h"

namespace {

using namespace std::chrono_literals;

// Start-up on a virtual drive holding `tape`, then the first poll tick.
bool Present(std::shared_ptr<const sim::Tape> tape)
{
    sim::BusConfig config;
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
    sim::DriveConfig drive;
    drive.tape = std::move(tape);
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "deck_screenshots: %s\n", error.c_str());
        return false;
    }
    aspi::InstallBackend(std::move(bus));
    ResetDriveState();
    Main();
    DeckWindow().tmrWait4Tape_Timer();
    return DeckPresented();
}

bool Save(const QDir& folder, const char* name)
{
    QApplication::processEvents();
    const QString path = folder.filePath(name);
    if (!DeckWindow().grab().save(path)) {
        std::fprintf(stderr, "deck_screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: deck_screenshots FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    ui::SetMessageSink(ui::StderrSink());
    SetProbeCommands(AudioDriveProbe());
    SetDeckPresenter(PresentDeck);
    SetPresentationPauses(0ms, 0ms);

    bool ok = Present(sim::MakeDemoTape()) && Save(folder, "deck-ready.png");
    DestroyDeckWindow();
    ok = ok && Present(sim::MakeDataTape()) && Save(folder, "deck-data.png");
    DestroyDeckWindow();
    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    return ok ? 0 : 1;
}
