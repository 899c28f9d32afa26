// Renders the deck window on the virtual drive in its Ready and Data tape states, and playing
// an emphasized 44.1 kHz tape, and writes deck-ready.png, deck-data.png and deck-playing.png
// into the folder given (scripts/screenshots.sh runs it).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "audio/playback.h"
#include "dat/time_code.h"
#include "deck/deck_window.h"
#include "deck/frm_deck.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"
#include "deck/drive_probe.h"
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

// Plays the tape through ALSA's null device and takes the picture once the audio heard
// reaches `until` seconds. Playback runs inside the drive commands' waits, so the look is
// taken by a timer, which those waits serve too.
bool PlayAndSave(const QDir& folder, const char* name, unsigned until)
{
    SetWaveOutDevice("null");
    bool saved = false, done = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        const auto heard = HeardNow();
        if (done || !heard || !heard->absoluteTime.valid || heard->absoluteTime.s < until)
            return;
        done = true;
        DeckWindow().tmrPanel_Timer();
        DeckWindow().tmrPanel->stop();
        saved = Save(folder, name);
        StopPlayback();
    });
    look.start(5);
    DeckWindow().cmdPlay->click();
    QElapsedTimer waited;
    waited.start();
    while (!done && waited.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!done)
        std::fprintf(stderr, "deck_screenshots: playback did not reach %u s\n", until);
    return saved;
}

// Forty seconds of a 44.1 kHz program recorded with pre-emphasis.
std::shared_ptr<const sim::Tape> EmphasizedTape()
{
    sim::PcmProgram p;
    p.sampleRateHz = 44100;
    p.pcm.resize(40u * 44100u * 2u);
    for (std::size_t i = 0; i < p.pcm.size(); ++i)
        p.pcm[i] = static_cast<std::int16_t>((i * 37) % 4000);
    sim::RecordingOptions options;
    options.emphasis = true;
    return sim::MakeRecordedTape({p}, options);
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
    ok = ok && Present(EmphasizedTape()) && PlayAndSave(folder, "deck-playing.png", 12);
    QApplication::processEvents();
    DestroyDeckWindow();
    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    return ok ? 0 : 1;
}
