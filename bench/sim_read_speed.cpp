// How fast the virtual drive delivers a 60-minute tape at read speed 0, one 5822-byte READ at
// a time through the manager, as playback reads it. The baseline, measured in the same run, is
// a plain copy of the same number of bytes into the same frame buffer.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "dat/frame.h"
#include "platform/aspi/aspi.h"
#include "platform/aspi/backend.h"
#include "sim/virtual_bus.h"

namespace {

std::mutex gMutex;
std::condition_variable gDone;

void OnCompletion(void*)
{
    { std::lock_guard lock(gMutex); }
    gDone.notify_all();
}

// One READ(6) of one frame; false at the end of the recorded area.
bool ReadOneFrame(std::uint8_t* buffer)
{
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Target = 4;
    srb.SRB_Flags = SRB_DIR_IN;
    srb.SRB_BufLen = dat::kFrameBytes;
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = 6;
    const std::uint8_t cdb[6] = {0x08, 0, 0x00, 0x16, 0xBE, 0};
    std::memcpy(srb.CDBByte, cdb, 6);
    SendASPI32CommandWithBuffer(&srb, buffer);
    auto status = [&] { return std::atomic_ref<std::uint8_t>(srb.SRB_Status).load(std::memory_order_acquire); };
    std::unique_lock lock(gMutex);
    gDone.wait(lock, [&] { return status() != SS_PENDING; });
    return status() == SS_COMP;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main()
{
    using Clock = std::chrono::steady_clock;
    // Twelve programs of five minutes, from one second of PCM repeated.
    std::vector<std::int16_t> second(2 * 48000);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<std::int16_t>((i * 37) % 20000 - 10000);
    auto tape = sim::MakeLoopedPcmTape(second, 12, 5ull * 60 * 48000);

    sim::BusConfig config;
    config.readSpeed = 0;
    sim::DriveConfig drive;
    drive.tape = tape;
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "sim_read_speed: %s\n", error.c_str());
        return 1;
    }
    aspi::InstallBackend(std::move(bus));
    AspiAddCompletionHook(&OnCompletion, nullptr);

    std::vector<std::uint8_t> frame(dat::kFrameBytes);
    ReadOneFrame(frame.data());  // takes the power-on unit attention

    const auto start = Clock::now();
    std::uint64_t frames = 0;
    std::uint64_t checksum = 0;
    while (ReadOneFrame(frame.data())) {
        ++frames;
        checksum += frame[frames % dat::kAudioAreaBytes];
    }
    const double simSeconds = Seconds(Clock::now() - start);

    // Baseline: copy the same bytes from a source as large as a cache-cold tape slice.
    std::vector<std::uint8_t> source(64 * dat::kFrameBytes, 0x5A);
    const auto copyStart = Clock::now();
    for (std::uint64_t n = 0; n < frames; ++n) {
        std::memcpy(frame.data(), source.data() + (n % 64) * dat::kFrameBytes, dat::kFrameBytes);
        checksum += frame[n % dat::kAudioAreaBytes];
    }
    const double copySeconds = Seconds(Clock::now() - copyStart);

    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    const double tapeMinutes = double(frames) * 0.03 / 60;
    std::printf("virtual tape: %llu frames (%.1f minutes of sound) in %.3f s: %.0f frames/s, %.0f x real time\n",
                static_cast<unsigned long long>(frames), tapeMinutes, simSeconds, double(frames) / simSeconds,
                tapeMinutes * 60 / simSeconds);
    std::printf("baseline memcpy of the same bytes: %.3f s: %.0f frames/s; the drive costs %.1f x the copy\n",
                copySeconds, double(frames) / copySeconds, simSeconds / copySeconds);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
    return 0;
}
