// A scripted tape for playback and capture: READ answers the next frame of known audio
// (every 4-byte sample holds its own index on the tape), then BLANK CHECK or lead-out frames
// after the last; chosen reads can fail or run a step on the program's thread while they wait.
#pragma once

#include <QCoreApplication>
#include <QSocketNotifier>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <QTemporaryDir>
#include <QWidget>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/frame_reader.h"
#include "audio/capture.h"
#include "audio/playback.h"
#include "fake_wave_out.h"
#include "platform/ui/message_box.h"
#include "support/fake_backend.h"
#include "dat/frame.h"
#include "transport/drive_state.h"
#include "wave/pump.h"

namespace audio_test {

using testing_support::FakeWaveOut;
using testing_support::PumpPosted;
using testing_support::PumpUntil;
using testing_support::WaveCall;

// The audio of tape frame `k` (0-based).
inline std::vector<std::uint8_t> FrameAudio(std::uint32_t k)
{
    std::vector<std::uint8_t> a(dat::kAudioAreaBytes);
    for (std::uint32_t s = 0; s < dat::kAudioAreaBytes / 4; ++s) {
        const std::uint32_t v = k * 1440 + s + 1;
        std::memcpy(&a[s * 4], &v, 4);  // host order is fine: only compared byte for byte
    }
    return a;
}

inline std::vector<std::uint8_t> FramesAudio(std::uint32_t first, std::uint32_t count)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t k = first; k < first + count; ++k) {
        const auto a = FrameAudio(k);
        out.insert(out.end(), a.begin(), a.end());
    }
    return out;
}

// A window that notes what reaches its own handling.
class DeckDouble : public QWidget {
public:
    int buffersDone = 0;
    int otherMessages = 0;

protected:
    bool event(QEvent* e) override
    {
        if (const WindowMessageEvent* m = AsWindowMessage(e))
            (m->message == MM_WOM_DONE ? buffersDone : otherMessages)++;
        return QWidget::event(e);
    }
};

class ScriptedTape {
public:
    std::uint32_t frames = 1000;  // recorded frames
    bool leadOut = false;         // after them: lead-out frames (else BLANK CHECK)
    std::map<int, aspi::ExecResult> failures;        // by read number (1-based)
    std::map<int, std::function<void()>> duringRead;  // run on the program's thread
    // Started on the program's thread; the read completes meanwhile (for steps that read).
    std::map<int, std::function<void()>> startDuringRead;
    // The audio of frame k, when set; else FrameAudio(k).
    std::function<std::vector<std::uint8_t>(std::uint32_t)> audioOf;

    std::atomic<int> reads{0};

    aspi::ExecResult answer(const aspi::ExecRequest& req)
    {
        aspi::ExecResult r;
        if (req.cdb[0] != 0x08) {
            r.transferred = req.dataLen;
            return r;
        }
        const int n = ++reads;
        if (auto step = duringRead.find(n); step != duringRead.end())
            RunOnProgramThread(step->second, true);
        if (auto step = startDuringRead.find(n); step != startDuringRead.end())
            RunOnProgramThread(step->second, false);
        if (auto f = failures.find(n); f != failures.end())
            return f->second;
        if (position >= frames && !leadOut)
            return testing_support::CheckCondition(0x08, 0x00, 0x05);
        std::memset(req.data, 0, req.dataLen);
        if (position < frames) {
            const auto a = audioOf ? audioOf(position) : FrameAudio(position);
            std::memcpy(req.data, a.data(), a.size());
            req.data[dat::kSubIdOffset + 2] = 0x01;  // program 001
        } else {
            req.data[dat::kSubIdOffset + 2] = 0xEE;  // program 0EE: the lead-out
        }
        ++position;
        r.transferred = req.dataLen;
        return r;
    }

private:
    // Blocks the drive until the step has run (or begun) inside the program's wait for this read.
    void RunOnProgramThread(const std::function<void()>& step, bool toTheEnd)
    {
        std::promise<void> ran;
        channel.send({&step, &ran, toTheEnd});
        ran.get_future().wait();
    }

    // Steps handed from the drive's thread to the program's: a queue under a mutex, and a
    // pipe whose notifier wakes the program's event loop (both seen by TSan, unlike Qt's
    // own cross-thread posting).
    class StepChannel {
    public:
        struct Step {
            const std::function<void()>* run;
            std::promise<void>* ran;
            bool toTheEnd;
        };
        StepChannel()
        {
            if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
                notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
                QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { runPending(); });
            }
        }
        ~StepChannel()
        {
            notifier.reset();
            ::close(fds[0]);
            ::close(fds[1]);
        }
        void send(Step step)
        {
            {
                std::lock_guard lock(mutex);
                steps.push_back(step);
            }
            const char byte = 1;
            [[maybe_unused]] const ssize_t n = ::write(fds[1], &byte, 1);
        }

    private:
        void runPending()
        {
            char buf[64];
            while (::read(fds[0], buf, sizeof buf) > 0) {
            }
            for (;;) {
                Step step;
                {
                    std::lock_guard lock(mutex);
                    if (steps.empty())
                        return;
                    step = steps.front();
                    steps.pop_front();
                }
                if (!step.toTheEnd)
                    step.ran->set_value();
                (*step.run)();
                if (step.toTheEnd)
                    step.ran->set_value();
            }
        }

        int fds[2] = {-1, -1};
        std::unique_ptr<QSocketNotifier> notifier;
        std::mutex mutex;
        std::deque<Step> steps;
    };
    StepChannel channel;

    std::uint32_t position = 0;  // drive thread only
};

class AudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        auto backend = std::make_unique<testing_support::ScriptedBackend>();
        backend->adapters.push_back({});
        backend->adapters[0].devices[0] = 1;
        backend->answer = [this](const aspi::ExecRequest& req) { return tape.answer(req); };
        bus = backend.get();
        aspi::InstallBackend(std::move(backend));
        ResetDriveState();
        wave::SetWaveOutDriver(&device);
        ui::SetMessageSink([this](const std::string& t) { messages.push_back(t); });
        SetAudioMessageHandler([](const std::string& t) { ui::ShowMessage(t); });
        ResetAudioState();
        deck = std::make_unique<DeckDouble>();
        HookDeckWindow(deck.get());
        SetEndOfTapeHandler([this] { ++endOfTapeCalls; });
    }
    void TearDown() override
    {
        ResetAudioState();
        deck.reset();
        PumpPosted();
        SetCaptureProgressHandler({});
        SetCaptureFileLimit(0);
        SetAudioMessageHandler({});
        wave::SetWaveOutDriver(nullptr);
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
    }

    std::vector<std::uint8_t> FileBytes(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string TempPath(const char* name) const { return dir.filePath(name).toStdString(); }

    std::size_t Writes() const { return device.callsOf(WaveCall::Write).size(); }

    QTemporaryDir dir;
    ScriptedTape tape;
    testing_support::ScriptedBackend* bus = nullptr;
    FakeWaveOut device;
    std::unique_ptr<DeckDouble> deck;
    std::vector<std::string> messages;
    int endOfTapeCalls = 0;
};

inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

}  // namespace audio_test
