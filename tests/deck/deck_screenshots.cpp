// Renders the deck window on the virtual drive in its Ready and Data tape states, and playing
// an emphasized 44.1 kHz tape, and the Archive Tape window's result for a tape with faults,
// into deck-ready.png, deck-data.png, deck-playing.png and archive-result.png in the folder
// given; with --scale, the Ready deck at this process's scale factor (QT_SCALE_FACTOR) into
// deck-scale-FACTOR.png, written only when every LED digit in the picture is whole
// (scripts/screenshots.sh runs both).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <string>

#include "audio/playback.h"
#include "dat/time_code.h"
#include "deck/archive_window.h"
#include "deck/deck_window.h"
#include "deck/drive_probe.h"
#include "deck/frm_deck.h"
#include "led_pixels.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"
#include "transport/drive_state.h"
#include "transport/startup.h"

namespace {

using namespace std::chrono_literals;

// Start-up on a virtual drive holding `tape`, then the first poll tick.
bool Present(std::shared_ptr<const sim::Tape> tape, sim::DriveConfig drive = {})
{
    sim::BusConfig config;
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
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

// The Archive Tape window at the end of a run over a two-program tape with unreadable,
// concealed and once-failing frames: its result text and the package's error map.
bool ArchiveAndSave(const QDir& folder, const char* name)
{
    std::vector<std::int16_t> pcm(1500u * 1440u * 2u);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>((i * 53) % 6000 - 3000);
    sim::DriveConfig drive;
    drive.mediumErrors = {420, 421, 422, 1900};
    drive.concealed = {1200, 1201, 1202, 1203, 1204, 1205, 2100};
    drive.retryErrors = {{700, 1}, {1800, 2}};
    if (!Present(sim::MakePcmTape({pcm, std::vector<std::int16_t>(pcm.begin(), pcm.begin() + pcm.size() / 2)}), drive))
        return false;
    QTemporaryDir packages;
    const std::string dir = packages.filePath("tape-07").toStdString();
    if (!deck::ArchiveInto(DeckWindow(), dir, false))
        return false;
    auto* window = DeckWindow().findChild<deck::ArchiveWindow*>("frmArchive");
    if (!window)
        return false;
    // The folder as a user would have chosen it, not the temporary one.
    const QString shown = "/home/ann/archive/tape-07";
    window->lblArchiveFolder->setText(shown);
    window->lblArchiveStatus->setText(window->lblArchiveStatus->text().replace(QString::fromStdString(dir), shown));
    QApplication::processEvents();
    const QString path = folder.filePath(name);
    if (!window->grab().save(path)) {
        std::fprintf(stderr, "deck_screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    window->close();
    return true;
}

// The Ready deck at this process's scale factor, saved only when its digits are whole.
bool ScaledAndSave(const QDir& folder)
{
    if (!Present(sim::MakeDemoTape()))
        return false;
    frmDeck& deck = DeckWindow();
    // Most digits on the panel, as while a tape plays: program 6 at 0:07:59, 1:23:48 in.
    deck.SetDisplayToPosition(dat::TimeCode{1, 23, 48, 0, true}, dat::TimeCode{0, 7, 59, 0, true},
                              dat::ProgramNumber::Of(6));
    QApplication::processEvents();
    const qreal ratio = deck.devicePixelRatioF();
    const QImage img = deck.grab().toImage();
    const auto rows = {&deck.picAtime, &deck.picPtime};
    const std::string problems = led_pixels::WindowProblems(img, &deck, rows, ratio);
    if (!problems.empty()) {
        std::fprintf(stderr, "deck_screenshots: at scale %g the digits are not whole: %s\n", ratio, problems.c_str());
        return false;
    }
    const QString path = folder.filePath(QString("deck-scale-%1.png").arg(ratio));
    if (!img.save(path)) {
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
    const bool scaled = argc == 3 && std::string(argv[1]) == "--scale";
    if (argc != 2 && !scaled) {
        std::fprintf(stderr, "usage: deck_screenshots [--scale] FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[argc - 1]));
    ui::SetMessageSink(ui::StderrSink());
    SetProbeCommands(AudioDriveProbe());
    SetDeckPresenter(PresentDeck);
    SetPresentationPauses(0ms, 0ms);

    if (scaled) {
        const bool ok = ScaledAndSave(folder);
        DestroyDeckWindow();
        aspi::InstallBackend(nullptr);
        aspi::ShutdownManager();
        return ok ? 0 : 1;
    }
    bool ok = Present(sim::MakeDemoTape()) && Save(folder, "deck-ready.png");
    DestroyDeckWindow();
    ok = ok && Present(sim::MakeDataTape()) && Save(folder, "deck-data.png");
    DestroyDeckWindow();
    ok = ok && Present(EmphasizedTape()) && PlayAndSave(folder, "deck-playing.png", 12);
    QApplication::processEvents();
    DestroyDeckWindow();
    ok = ok && ArchiveAndSave(folder, "archive-result.png");
    QApplication::processEvents();
    DestroyDeckWindow();
    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    return ok ? 0 : 1;
}
