// The write path's CPU per frame: the recorder building each frame (audio and subcode) and
// sending it with WRITE(6) to the virtual drive at read speed 0, against a plain memcpy of
// the 5822-byte frame measured in the same run. The building alone is timed too, so the
// share of the drive's hand-over shows.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "audio/recorder.h"
#include "dat/frame.h"
#include "deck/drive_commands.h"
#include "platform/aspi/backend.h"
#include "sim/virtual_bus.h"
#include "sim/written_tape.h"
#include "transport/drive_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the whole process: the manager's worker thread does the drive's share.
double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::vector<std::int16_t> Noise(std::size_t pairs, std::uint32_t seed)
{
    std::vector<std::int16_t> pcm(2 * pairs);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::int16_t& s : pcm) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(x >> 16);
    }
    return pcm;
}

}  // namespace

int main()
{
    // Two programs of five minutes at 48 kHz: 20000 frames, 20400 with the lead-in and lead-out.
    RecordSettings settings;
    settings.date = {2026, 12, 10, 12, 0, 0};
    const std::size_t pairs = 5ull * 60 * 48000;
    RecordPlan plan = RecordPlan::FromPcm({Noise(pairs, 1), Noise(pairs, 2)}, 48000, settings);
    const std::uint64_t frames = plan.FrameCount();

    sim::BusConfig config;
    config.readSpeed = 0;
    sim::DriveConfig drive;
    drive.tape = sim::MakeBlankTape();
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "record_write: %s\n", error.c_str());
        return 1;
    }
    aspi::InstallBackend(std::move(bus));
    ResetDriveState();
    AspiAdapter = 0;
    AspiTarget = 4;
    TestUnitReady(AspiAdapter, AspiTarget);  // takes the power-on unit attention

    std::uint64_t checksum = 0;
    std::vector<std::uint8_t> frame(dat::kFrameBytes);

    // Building the frames alone, as the recorder builds them.
    const double buildCpu0 = CpuSeconds();
    for (std::uint64_t n = 0; n < frames; ++n) {
        plan.BuildFrame(n, frame.data());
        checksum += frame[n % dat::kFrameBytes];
    }
    const double buildCpu = CpuSeconds() - buildCpu0;

    // The recording: each frame built and written with its own WRITE.
    TapeRecorder recorder(std::move(plan));
    if (const std::string refusal = recorder.Prepare(false); !refusal.empty()) {
        std::fprintf(stderr, "record_write: %s\n", refusal.c_str());
        return 1;
    }
    const double writeCpu0 = CpuSeconds();
    const auto writeStart = Clock::now();
    while (recorder.Step()) {
    }
    const double writeSeconds = Seconds(Clock::now() - writeStart), writeCpu = CpuSeconds() - writeCpu0;
    if (recorder.State() != RecordState::Done || recorder.Progress().frames != frames) {
        std::fprintf(stderr, "record_write: the recording did not finish: %s\n", recorder.Message().c_str());
        return 1;
    }

    // Baseline: copy the same number of frames from a source as large as a cache-cold slice,
    // ten times over so the clock's grain does not matter.
    constexpr int kCopyPasses = 10;
    std::vector<std::uint8_t> source(64 * dat::kFrameBytes, 0x5A);
    const auto copyStart = Clock::now();
    for (int pass = 0; pass < kCopyPasses; ++pass)
        for (std::uint64_t n = 0; n < frames; ++n) {
            std::memcpy(frame.data(), source.data() + (n % 64) * dat::kFrameBytes, dat::kFrameBytes);
            checksum += frame[n % dat::kFrameBytes];
        }
    const double copySeconds = Seconds(Clock::now() - copyStart) / kCopyPasses;

    aspi::InstallBackend(nullptr);
    aspi::ShutdownManager();
    const double f = static_cast<double>(frames);
    const double copyUs = copySeconds / f * 1e6, writeUs = writeCpu / f * 1e6, buildUs = buildCpu / f * 1e6;
    std::printf("recording: %llu frames written in %.3f s (%.0f x real time), %.3f s CPU: %.1f us CPU a frame\n",
                static_cast<unsigned long long>(frames), writeSeconds, f * 0.03 / writeSeconds, writeCpu, writeUs);
    std::printf("building the frames alone: %.3f s CPU: %.2f us a frame\n", buildCpu, buildUs);
    std::printf("baseline memcpy of a 5822-byte frame: %.3f us a frame\n", copyUs);
    std::printf("the write path's CPU is %.0f x the copy (building %.1f x, the WRITE and the drive %.0f x); "
                "%.2f %% of the 30 ms a frame plays\n",
                writeUs / copyUs, buildUs / copyUs, (writeUs - buildUs) / copyUs, writeUs / 30000 * 100);
    std::printf("(checksum %llu)\n", static_cast<unsigned long long>(checksum));
    return 0;
}
