// Plays a virtual tape of tone bursts through an ALSA device with the deck's level meters
// fed as the deck feeds them, and logs every reading with its time on the steady clock
// (CLOCK_MONOTONIC): pulse_meters.sh sets them against the sound a sound server's monitor
// delivered at the same times.
//
//   paced_meters METER.log DEVICE SECONDS
// The tape: 300 ms bursts of a square wave at -6 dBFS left and -20 dBFS right, each followed
// by 300 ms of silence. The log: one line per reading, "NANOSECONDS LEFT_DB RIGHT_DB" (dB as
// "-inf" for silence).
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/playback.h"
#include "deck/drive_commands.h"
#include "deck/level_meter.h"
#include "platform/aspi/aspi.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"
#include "transport/drive_state.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: paced_meters METER.log DEVICE SECONDS\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    const auto frames = static_cast<std::size_t>(std::atof(argv[3]) * 100 / 3);
    std::vector<std::int16_t> pcm(frames * 1440 * 2, 0);
    for (std::size_t i = 0; i < frames * 1440; ++i) {
        if ((i / 1440 / 10) % 2 == 1)
            continue;
        const int sign = (i / 24) % 2 ? -1 : 1;
        pcm[2 * i] = static_cast<std::int16_t>(sign * 16423);
        pcm[2 * i + 1] = static_cast<std::int16_t>(sign * 3277);
    }
    sim::BusConfig config;
    config.readSpeed = 0;  // the device paces playback
    sim::DriveConfig drive;
    drive.target = 4;
    drive.tape = sim::MakePcmTape({pcm});
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "paced_meters: %s\n", error.c_str());
        return 1;
    }
    aspi::InstallBackend(std::move(bus));
    AspiAdapter = 0;
    AspiTarget = 4;
    TestUnitReady(AspiAdapter, AspiTarget);  // the power-on unit attention

    std::FILE* log = std::fopen(argv[1], "w");
    if (!log) {
        std::perror(argv[1]);
        return 1;
    }
    int status = 0;
    ui::SetMessageSink([&](const std::string& text) {
        std::fprintf(stderr, "paced_meters: %s\n", text.c_str());
        status = 1;
    });
    SetAudioMessageHandler([](const std::string& text) { ui::ShowMessage(text); });
    SetWaveOutDevice(argv[2]);
    QWidget deck;
    auto* left = new deck::LevelMeter("L", "Left Channel Level", &deck);
    auto* right = new deck::LevelMeter("R", "Right Channel Level", &deck);
    deck::MeterFeed feed(left, right, nullptr);
    HookDeckWindow(&deck);
    SetEndOfTapeHandler([&] { QCoreApplication::exit(status); });
    // The deck's feed, ticked here so that each reading is logged as it is taken.
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(deck::MeterFeed::kIntervalMs);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        feed.Sample();
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::fprintf(log, "%lld %.2f %.2f\n",
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()),
                     left->LevelDb(), right->LevelDb());
    });
    QTimer::singleShot(0, [&] {
        BeginPlayback();
        ticks.start();
    });
    std::fprintf(stderr, "paced_meters: playing %zu frames of bursts to %s\n", frames, argv[2]);
    const int result = app.exec();
    std::fclose(log);
    ResetAudioState();
    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    return result;
}
