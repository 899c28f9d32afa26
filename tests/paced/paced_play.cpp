// Plays a virtual tape of noise through an ALSA device until the end of the recorded area,
// as the deck's Play does, and writes the tape's audio (what the device must have sounded)
// to a file. For tests against a paced device: pulse_playback.sh records a sound server's
// monitor and compares.
//
//   paced_play EXPECTED.raw DEVICE SECONDS
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "audio/playback.h"
#include "platform/aspi/aspi.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"
#include "deck/drive_commands.h"
#include "transport/drive_state.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: paced_play EXPECTED.raw DEVICE SECONDS\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    // Noise: every frame distinct, so the recording can be aligned with the tape.
    const auto frames = static_cast<std::size_t>(std::atof(argv[3]) * 100 / 3);
    std::vector<std::int16_t> pcm(frames * 1440 * 2);
    std::uint32_t seed = 2026;
    for (auto& s : pcm) {
        seed = seed * 1103515245u + 12345u;
        s = static_cast<std::int16_t>(seed >> 16);
    }
    const auto tape = sim::MakePcmTape({pcm});
    std::ofstream expected(argv[1], std::ios::binary);
    for (std::size_t n = 0; n < frames; ++n) {
        const auto audio = sim::FrameAudio(*tape, n);
        expected.write(reinterpret_cast<const char*>(audio.data()), static_cast<std::streamsize>(audio.size()));
    }
    expected.close();

    sim::BusConfig config;
    config.readSpeed = 0;  // the device paces playback
    sim::DriveConfig drive;
    drive.target = 4;
    drive.tape = tape;
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "paced_play: %s\n", error.c_str());
        return 1;
    }
    aspi::InstallBackend(std::move(bus));
    AspiAdapter = 0;
    AspiTarget = 4;
    TestUnitReady(AspiAdapter, AspiTarget);  // the power-on unit attention

    int status = 0;
    ui::SetMessageSink([&](const std::string& text) {
        std::fprintf(stderr, "paced_play: %s\n", text.c_str());
        status = 1;
    });
    SetAudioMessageHandler([](const std::string& text) { ui::ShowMessage(text); });
    SetWaveOutDevice(argv[2]);
    QWidget deck;
    HookDeckWindow(&deck);
    // The end of the tape arrives after the device has played out and been closed.
    SetEndOfTapeHandler([&] { QCoreApplication::exit(status); });
    QTimer::singleShot(0, [] { BeginPlayback(); });
    std::fprintf(stderr, "paced_play: playing %zu frames to %s\n", frames, argv[2]);
    const int result = app.exec();
    ResetAudioState();
    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    return result;
}
