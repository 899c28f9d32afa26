// One playback refill (30 frame reads and the copy into the play buffer) on the virtual drive,
// at read speed 0 and 2, against the 2.7 s that the three other queued buffers last; and the
// capture's throughput at read speed 0 in frames per second.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture.h"
#include "audio/playback.h"
#include "dat/audio_format.h"
#include "deck/drive_commands.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "sim/virtual_bus.h"
#include "tape/eject_read.h"
#include "transport/drive_state.h"

namespace {

constexpr double kRingBudgetSeconds = 2.7;
constexpr std::size_t kRefills = 12;

// A wave device that hands every buffer back at once and notes when each was queued.
class InstantWaveOut final : public wave::WaveOutDriver {
public:
    QElapsedTimer clock;
    std::vector<double> writeTimes;

    MMRESULT open(HWAVEOUT* h, UINT, const WAVEFORMATEX*, DWORD_PTR callback, DWORD_PTR, DWORD) override
    {
        target = reinterpret_cast<QObject*>(callback);
        *h = 1;
        clock.start();
        return MMSYSERR_NOERROR;
    }
    MMRESULT prepareHeader(HWAVEOUT, WAVEHDR* hdr, UINT) override
    {
        hdr->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }
    MMRESULT unprepareHeader(HWAVEOUT, WAVEHDR*, UINT) override { return MMSYSERR_NOERROR; }
    MMRESULT write(HWAVEOUT h, WAVEHDR* hdr, UINT) override
    {
        writeTimes.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e9);
        hdr->dwFlags |= WHDR_DONE;
        // Enough: otherwise the refills, each queued behind the one running, never let the
        // measuring loop look at the count.
        if (writeTimes.size() < kRefills)
            PostMessageA(target, MM_WOM_DONE, h, reinterpret_cast<LPARAM>(hdr));
        return MMSYSERR_NOERROR;
    }
    MMRESULT reset(HWAVEOUT) override { return MMSYSERR_NOERROR; }
    MMRESULT close(HWAVEOUT) override { return MMSYSERR_NOERROR; }
    MMRESULT position(HWAVEOUT, std::uint64_t* samples) override
    {
        *samples = 0;
        return MMSYSERR_NOERROR;
    }
    std::string errorText(MMRESULT) override { return {}; }

private:
    QObject* target = nullptr;
};

void InstallDrive(double readSpeed, std::uint64_t pairs)
{
    sim::BusConfig config;
    config.readSpeed = readSpeed;
    sim::DriveConfig drive;
    std::vector<std::int16_t> pcm(2 * 4800);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int16_t>(i * 37);
    drive.tape = sim::MakeLoopedPcmTape(pcm, 1, pairs);
    config.adapters[0].devices.push_back(drive);
    std::string error;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "refill_time: %s\n", error.c_str());
        std::exit(1);
    }
    aspi::InstallBackend(std::move(bus));
    AspiAdapter = 0;
    AspiTarget = 4;
    TestUnitReady(AspiAdapter, AspiTarget);  // takes the power-on unit attention
}

// Refills through the playback engine: the deck window procedure on buffer-done messages.
void MeasureRefills(double readSpeed)
{
    InstallDrive(readSpeed, 48000ull * 600);
    InstantWaveOut device;
    wave::SetWaveOutDriver(&device);
    QWidget deck;
    HookDeckWindow(&deck);
    BeginPlayback();
    while (device.writeTimes.size() < kRefills)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    StopPlayback();
    QCoreApplication::processEvents();
    double longest = 0, sum = 0, previous = 0;
    for (double t : device.writeTimes) {
        longest = std::max(longest, t - previous);
        sum += t - previous;
        previous = t;
    }
    const double mean = sum / static_cast<double>(device.writeTimes.size());
    std::printf("refill at read speed %g: mean %.4f s, longest %.4f s over %zu refills = %.3f of the %.1f s budget\n",
                readSpeed, mean, longest, kRefills, longest / kRingBudgetSeconds, kRingBudgetSeconds);
    ResetAudioState();
    wave::SetWaveOutDriver(nullptr);
    aspi::InstallBackend(nullptr);
}

// What one refill reads, as a plain loop outside any event handler: 30 frame reads and the
// copies into a staging area and a play buffer.
void MeasureReadsOfARefill(double readSpeed)
{
    InstallDrive(readSpeed, 48000ull * 600);
    const dat::AudioFormat format = *dat::StereoFormatAt(48000);
    std::vector<std::uint8_t> frame(dat::kFrameBytes), staging(30 * format.audioBytes), buffer(30 * format.audioBytes);
    double longest = 0, sum = 0;
    for (std::size_t r = 0; r < kRefills; ++r) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 30; ++i) {
            ReadTapeBlock(AspiAdapter, AspiTarget, frame.data(), dat::kFrameBytes);
            std::memcpy(staging.data() + static_cast<std::size_t>(i) * format.audioBytes, frame.data(), format.audioBytes);
        }
        std::memcpy(buffer.data(), staging.data(), staging.size());
        const double t = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        longest = std::max(longest, t);
        sum += t;
    }
    std::printf("30 reads + copies at read speed %g: mean %.4f s, longest %.4f s = %.3f of the %.1f s budget\n",
                readSpeed, sum / kRefills, longest, longest / kRingBudgetSeconds, kRingBudgetSeconds);
    aspi::InstallBackend(nullptr);
}

void MeasureCapture()
{
    constexpr std::uint64_t kFrames = 20000;
    const dat::AudioFormat format = *dat::StereoFormatAt(48000);
    InstallDrive(0, kFrames * format.sampleFrames);
    QElapsedTimer clock;
    clock.start();
    const std::string path = "refill_time_capture.wav";
    const CaptureResult r = RunCapture(path);
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::remove(path.c_str());
    std::printf("capture at read speed 0: %llu frames in %.3f s = %.0f frames/s (%.0fx real time)%s\n",
                static_cast<unsigned long long>(kFrames), seconds, kFrames / seconds, kFrames * format.Seconds() / seconds,
                r == CaptureResult::EndOfTape ? "" : " [did not reach the end]");
    aspi::InstallBackend(nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ui::SetMessageSink(ui::StderrSink());
    SetAudioMessageHandler([](const std::string& text) { ui::ShowMessage(text); });
    MeasureRefills(0);
    MeasureRefills(2);
    MeasureReadsOfARefill(0);
    MeasureReadsOfARefill(2);
    MeasureCapture();
    return 0;
}
