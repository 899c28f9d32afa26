// What --archive costs against --capture on the same virtual tape at read speed 0, in the same
// run, and what hashing a frame and keeping the subcode log cost per frame against a memcpy of
// the 5822-byte frame (the archive's OpenSSL SHA-256 beside Qt's, which it replaced). A
// 10-minute tape (20300 frames with the lead-out); both runs read it from the beginning
// through the manager as the program does.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/archive.h"
#include "archive/records.h"
#include "audio/capture.h"
#include "dat/audio_format.h"
#include "dat/frame.h"
#include "deck/drive_commands.h"
#include "platform/aspi/backend.h"
#include "platform/io/sha256.h"
#include "platform/ui/message_box.h"
#include "sim/virtual_bus.h"
#include "tape/positioning.h"
#include "transport/drive_state.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::shared_ptr<const sim::Tape> MakeTape()
{
    std::vector<std::int16_t> pcm(2 * 48000);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>((i * 7919) & 0x7FFF);
    return sim::MakeLoopedPcmTape(pcm, 5, 2 * 60 * 48000);  // five programs of two minutes
}

void Install(const std::shared_ptr<const sim::Tape>& tape)
{
    sim::BusConfig config;
    config.readSpeed = 0;
    config.clock = std::make_shared<sim::VirtualClock>();
    sim::DriveConfig drive;
    drive.tape = tape;
    config.adapters[0].devices.push_back(drive);
    std::string error;
    aspi::InstallBackend(sim::CreateBus(config, error));
    AspiAdapter = 0;
    AspiTarget = 4;
    TestUnitReady(AspiAdapter, AspiTarget);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ui::SetMessageSink([](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
    SetAudioMessageHandler([](const std::string& m) { ui::ShowMessage(m); });
    const auto tape = MakeTape();
    // The tape is 48 kHz standard play throughout.
    const double frameSeconds = dat::StereoFormatAt(48000).value().Seconds();
    const double tapeSeconds = static_cast<double>(tape->frameCount()) * frameSeconds;
    QTemporaryDir dir;

    // --capture's loop, then --archive's, each on a fresh drive from the beginning.
    Install(tape);
    RewindTape(AspiAdapter, AspiTarget);
    auto start = Clock::now();
    RunCapture(dir.filePath("capture.wav").toStdString());
    const double captureSeconds = Seconds(Clock::now() - start);

    Install(tape);
    archive::Options o{.dir = dir.filePath("package").toStdString(), .retries = 0};
    start = Clock::now();
    const archive::Result r = archive::Run(o);
    const double archiveSeconds = Seconds(Clock::now() - start);
    aspi::InstallBackend(nullptr);
    if (r.outcome != archive::Outcome::Clean)
        std::fprintf(stderr, "the archive did not complete cleanly: %s\n", r.message.c_str());

    std::printf("tape: %zu frames, %.0f s of audio\n", static_cast<std::size_t>(tape->frameCount()), tapeSeconds);
    std::printf("--capture: %.2f s (%.0f x real time)\n", captureSeconds, tapeSeconds / captureSeconds);
    std::printf("--archive: %.2f s (%.0f x real time), %.2f x the capture's time\n", archiveSeconds,
                tapeSeconds / archiveSeconds, archiveSeconds / captureSeconds);

    // Per frame: SHA-256 of the frame, and decoding it into the subcode log's record and row.
    const std::size_t frames = 4000;
    std::vector<std::uint8_t> bytes(frames * dat::kFrameBytes);
    for (std::size_t n = 0; n < frames; ++n)
        tape->readFrame(n, bytes.data() + n * dat::kFrameBytes);
    std::vector<std::uint8_t> buffer(dat::kFrameBytes);
    std::uint64_t sink = 0;
    const int rounds = 10;
    auto copyRun = [&] {
        const auto t = Clock::now();
        for (int k = 0; k < rounds; ++k)
            for (std::size_t n = 0; n < frames; ++n) {
                std::memcpy(buffer.data(), bytes.data() + n * dat::kFrameBytes, dat::kFrameBytes);
                sink += buffer[(n * 13) % dat::kFrameBytes];
            }
        return Seconds(Clock::now() - t);
    };
    const double copyBefore = copyRun();
    start = Clock::now();
    for (int k = 0; k < rounds; ++k) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (std::size_t n = 0; n < frames; ++n)
            hash.addData(QByteArrayView(reinterpret_cast<const char*>(bytes.data() + n * dat::kFrameBytes),
                                        static_cast<qsizetype>(dat::kFrameBytes)));
        sink += static_cast<std::uint8_t>(hash.result()[0]);
    }
    const double qtHashSeconds = Seconds(Clock::now() - start);
    // The archive's hash (OpenSSL), against Qt's it replaced.
    start = Clock::now();
    for (int k = 0; k < rounds; ++k) {
        Sha256 hash;
        for (std::size_t n = 0; n < frames; ++n)
            hash.add(bytes.data() + n * dat::kFrameBytes, dat::kFrameBytes);
        sink += static_cast<std::uint8_t>(hash.digest()[0]);
    }
    const double hashSeconds = Seconds(Clock::now() - start);
    start = Clock::now();
    for (int k = 0; k < rounds; ++k) {
        std::vector<archive::FrameRecord> records;
        records.reserve(frames);
        std::string csv;
        for (std::size_t n = 0; n < frames; ++n)
            records.push_back(archive::RecordOf(dat::Decode(dat::FrameBytes(bytes.data() + n * dat::kFrameBytes, dat::kFrameBytes))));
        for (std::size_t n = 0; n < frames; ++n)
            csv += archive::SubcodeLog::RowFor(records, n);
        sink += csv.size();
    }
    const double logSeconds = Seconds(Clock::now() - start);
    const double copySeconds = (copyBefore + copyRun()) / 2;
    const double total = double(frames) * rounds;
    std::printf("baseline memcpy of a frame: %.0f ns\n", copySeconds / total * 1e9);
    std::printf("SHA-256 of a frame: %.0f ns (%.1f x the copy); with QCryptographicHash %.0f ns (%.2f x OpenSSL's)\n",
                hashSeconds / total * 1e9, hashSeconds / copySeconds, qtHashSeconds / total * 1e9,
                qtHashSeconds / hashSeconds);
    std::printf("decode + subcode log row check: %.0f ns (%.1f x the copy)\n", logSeconds / total * 1e9,
                logSeconds / copySeconds);
    std::printf("a frame lasts %.0f ms: hashing and the log take %.4f %% of it\n", frameSeconds * 1000,
                (hashSeconds + logSeconds) / total / frameSeconds * 100);
    return sink == 42 ? 1 : 0;
}
