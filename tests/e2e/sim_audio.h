// Playback and capture on the virtual drive (instant virtual clock), with playback going
// through ALSA's "file" plugin (its slave the null device), so that what the sound device
// was sent can be compared with the tape frame by frame.
#pragma once

#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/capture.h"
#include "audio/frame_reader.h"
#include "audio/playback.h"
#include "platform/aspi/aspi.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "sim/tape.h"
#include "sim/virtual_bus.h"
#include "deck/drive_commands.h"
#include "transport/drive_state.h"
#include "wave/pump.h"
#include "sim_tape.h"

namespace e2e {

// The virtual bus, with the tape taken out by hand just before READ number `removeAt`.
class TapeTakenOut final : public aspi::Backend {
public:
    TapeTakenOut(std::unique_ptr<sim::Bus> inner, int removeAt) : inner_(std::move(inner)), removeAt_(removeAt) {}
    std::uint32_t supportInfo() override { return inner_->supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override { return inner_->inquiry(a, out); }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t l, std::uint8_t& type) override
    {
        return inner_->deviceType(a, t, l, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override
    {
        if (req.cdb[0] == 0x08 && ++reads_ == removeAt_)
            inner_->removeTape(req.adapter, req.target);
        return inner_->execute(req);
    }
    void cancel() override { inner_->cancel(); }

private:
    std::unique_ptr<sim::Bus> inner_;
    int removeAt_;
    int reads_ = 0;  // the manager's worker thread only
};

class SimAudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ResetDriveState();
        AspiAdapter = 0;
        AspiTarget = 4;
        ui::SetMessageSink([this](const std::string& t) { messages.push_back(t); });
        SetAudioMessageHandler([](const std::string& t) { ui::ShowMessage(t); });
        ResetAudioState();
        deck = std::make_unique<QWidget>();
        HookDeckWindow(deck.get());
        SetEndOfTapeHandler([this] { ++ends; });
    }
    void TearDown() override
    {
        ResetAudioState();
        deck.reset();
        testing_support::PumpPosted();
        SetMaxBadFrames(0);
        wave::SetWaveOutDriver(nullptr);
        SetWaveOutDevice("default");
        SetAudioMessageHandler({});
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
        ResetDriveState();
    }

    // Loads `t` into a drive at 0:4 with `faults` applied, and takes the power-on attention.
    void Load(std::shared_ptr<const sim::Tape> t, const std::function<void(sim::DriveConfig&)>& faults = {},
              int removeTapeAtRead = 0)
    {
        tape = std::move(t);
        ASSERT_TRUE(tape);
        sim::BusConfig config;
        config.readSpeed = 0;
        config.clock = std::make_shared<sim::VirtualClock>();
        sim::DriveConfig drive;
        drive.target = 4;
        drive.tape = tape;
        if (faults)
            faults(drive);
        concealed = drive.concealed;
        config.adapters[0].devices.push_back(drive);
        std::string error;
        auto bus = sim::CreateBus(config, error);
        ASSERT_TRUE(bus) << error;
        if (removeTapeAtRead > 0)
            aspi::InstallBackend(std::make_unique<TapeTakenOut>(std::move(bus), removeTapeAtRead));
        else
            aspi::InstallBackend(std::move(bus));
        TestUnitReady(AspiAdapter, AspiTarget);
    }

    // RunCapture into a file; returns the file's audio (after checking its header).
    std::vector<std::uint8_t> Capture(CaptureResult& result, std::uint32_t rate = 48000)
    {
        const std::string path = dir.filePath("capture.wav").toStdString();
        result = RunCapture(path);
        const auto file = ReadAll(path);
        EXPECT_GE(file.size(), 44u);
        if (file.size() < 44)
            return {};
        EXPECT_EQ(Le32(file, 4), file.size() - 8);
        EXPECT_EQ(Le32(file, 40), file.size() - 44);
        if (file.size() > 44) {
            EXPECT_EQ(Le32(file, 24), rate);
        }
        return {file.begin() + 44, file.end()};
    }

    // Plays the tape through ALSA's file plugin until playback ends by itself (the end of the
    // tape or a failure); returns what the device was sent (`format` "raw" or "wav").
    std::vector<std::uint8_t> Play(const char* format = "raw")
    {
        const std::string path = dir.filePath(QStringLiteral("device.%1").arg(format)).toStdString();
        SetWaveOutDevice("file:'" + path + "'," + format);
        SetEndOfTapeHandler([this] { ++ends; });  // a reset forgets it
        BeginPlayback();
        EXPECT_TRUE(testing_support::PumpUntil([this] { return ends > 0; }, 60000));
        ResetAudioState();  // closes the device: the plugin finishes its file
        testing_support::PumpPosted();
        return ReadAll(path);
    }

    std::vector<std::uint8_t> Delivered(std::uint64_t n) { return DeliveredAudio(tape, concealed, n); }

    // `audio` is frames of the tape from frame 0, each as the drive delivered it or all zero
    // where listed in `silent`; none that the drive did not deliver for its position. A
    // playback stopped at once may end inside a frame (the device drops what it held).
    void ExpectTapeFrames(const std::vector<std::uint8_t>& audio, const std::set<std::uint64_t>& silent = {},
                          std::size_t frameBytes = 5760)
    {
        for (std::uint64_t n = 0; n * frameBytes < audio.size(); ++n) {
            const auto at = audio.begin() + static_cast<std::ptrdiff_t>(n * frameBytes);
            const auto len = static_cast<std::ptrdiff_t>(std::min<std::size_t>(frameBytes, audio.size() - n * frameBytes));
            if (silent.count(n)) {
                ASSERT_TRUE(std::all_of(at, at + len, [](auto b) { return b == 0; })) << "frame " << n << " should be silence";
            } else {
                const auto want = Delivered(n);
                ASSERT_TRUE(std::equal(at, at + len, want.begin())) << "frame " << n;
            }
        }
    }

    QTemporaryDir dir;
    std::shared_ptr<const sim::Tape> tape;
    std::unique_ptr<QWidget> deck;
    std::vector<std::uint64_t> concealed;  // sorted
    std::vector<std::string> messages;
    int ends = 0;
};

}  // namespace e2e
