// The deck window on the virtual drive: read speed 0 and a virtual clock (nothing sleeps),
// the bus wrapped in a recorder to see the CDBs that went out, start-up run through Main with
// the presentation's pauses off, messages captured, the deck's requests counted.
#pragma once

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/fake_wave_out.h"
#include "audio/playback.h"
#include "deck/deck_window.h"
#include "deck/frm_deck.h"
#include "deck/led_box.h"
#include "platform/aspi/backend.h"
#include "platform/ui/message_box.h"
#include "platform/wave/wave_out.h"
#include "sim/virtual_bus.h"
#include "support/fake_backend.h"
#include "deck/drive_probe.h"
#include "transport/drive_state.h"
#include "transport/startup.h"

namespace deck_test {

using namespace std::chrono_literals;

struct ProgramEnded {
    int status;
};

// What a row of the panel reads: digit, colon, digit, digit, colon, digit, digit. Cells as
// their glyph, a dark box as a space.
inline std::string RowText(const frmDeck& deck, bool upper)
{
    const auto& digits = upper ? deck.picAtime : deck.picPtime;
    const int firstColon = upper ? 0 : 2;
    const auto glyph = [](const deck::LedBox* box) {
        static const char kCells[] = "0123456789-dAt";
        const int shown = box->Shown();
        if (shown == deck::LedBox::kColon)
            return ':';
        return shown >= 0 && shown < 14 ? kCells[shown] : ' ';
    };
    std::string s;
    s += glyph(digits[0]);
    s += glyph(deck.picColon[firstColon]);
    s += glyph(digits[1]);
    s += glyph(digits[2]);
    s += glyph(deck.picColon[firstColon + 1]);
    s += glyph(digits[3]);
    s += glyph(digits[4]);
    return s;
}

// The names of the enabled buttons, in name order.
inline std::set<std::string> EnabledButtons(const frmDeck& deck)
{
    std::set<std::string> names;
    for (const QPushButton* b : deck.findChildren<QPushButton*>())
        if (b->isEnabled())
            names.insert(b->objectName().toStdString());
    return names;
}

inline std::set<std::string> ReadyButtons()
{
    return {"cmdAtime", "cmdBOT", "cmdCue", "cmdEOT", "cmdEject", "cmdNext",
            "cmdPlay", "cmdPno", "cmdPrev", "cmdPtime", "cmdRecord"};
}

inline std::set<std::string> PadButtons()
{
    std::set<std::string> s;
    for (int i = 0; i < 10; ++i)
        s.insert("cmdPad(" + std::to_string(i) + ")");
    return s;
}

inline std::set<std::string> Union(std::set<std::string> a, const std::set<std::string>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

// A backend that holds the n-th command with one opcode until the test lets it go.
class GatedBackend final : public aspi::Backend {
public:
    GatedBackend(std::unique_ptr<aspi::Backend> inner, std::uint8_t opcode, int nth)
        : inner_(std::move(inner)), opcode_(opcode), left_(nth)
    {
    }
    std::uint32_t supportInfo() override { return inner_->supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override { return inner_->inquiry(a, out); }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t l, std::uint8_t& type) override
    {
        return inner_->deviceType(a, t, l, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override
    {
        if (req.cdb[0] == opcode_) {
            std::unique_lock lock(mutex_);
            if (--left_ == 0) {
                held_ = true;
                open_.wait(lock, [this] { return released_; });
            }
        }
        return inner_->execute(req);
    }
    // True once the command is being held (any thread).
    bool held()
    {
        std::lock_guard lock(mutex_);
        return held_;
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        open_.notify_all();
    }

private:
    std::unique_ptr<aspi::Backend> inner_;
    const std::uint8_t opcode_;
    std::mutex mutex_;
    std::condition_variable open_;
    int left_;
    bool held_ = false, released_ = false;
};

class DeckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDriveState();
        ResetAudioState();
        ui::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        ui::SetEndHandler([](int status) { throw ProgramEnded{status}; });
        SetPresentationPauses(0ms, 0ms);
        // A sound device that keeps what it is given until told to play it, so playback
        // runs until the test ends it; the capture tests play through ALSA instead.
        if (fakeSoundDevice)
            wave::SetWaveOutDriver(&fakeWave);
        SetProbeCommands(AudioDriveProbe());
        // As the program does: what the deck asks for is connected before it is shown.
        SetDeckPresenter([this] {
            frmDeck& d = DeckWindow();
            QObject::connect(&d, &frmDeck::programEndRequested, &d, [this] { ++exitRequests; });
            QObject::connect(&d, &frmDeck::consoleRequested, &d, [this] { ++consoleRequests; });
            PresentDeck();
        });
    }

    void TearDown() override
    {
        heldWatch.stop();
        if (gate)
            gate->release();
        ResetAudioState();
        DestroyDeckWindow();
        wave::SetWaveOutDriver(nullptr);
        aspi::InstallBackend(nullptr);
        SetDeckPresenter({});
        ui::SetMessageSink({});
        ui::SetEndHandler({});
        SetWaveOutDevice("default");
    }

    // Builds the bus with one audio drive holding `tape` (nullptr: none); `backend` may wrap
    // the bus further. Does not start the program.
    void InstallBus(std::shared_ptr<const sim::Tape> tape, sim::DriveConfig drive = {})
    {
        sim::BusConfig config;
        config.readSpeed = readSpeed;
        clock = std::make_shared<sim::VirtualClock>();
        config.clock = clock;
        drive.tape = std::move(tape);
        config.adapters[0].devices.push_back(drive);
        std::string error;
        auto bus = sim::CreateBus(config, error);
        ASSERT_TRUE(bus) << error;
        this->bus = bus.get();
        auto recording = std::make_unique<testing_support::RecordingBackend>(std::move(bus));
        recorder = recording.get();
        if (holdOpcode) {
            auto gated = std::make_unique<GatedBackend>(std::move(recording), *holdOpcode, holdNth);
            gate = gated.get();
            aspi::InstallBackend(std::move(gated));
        } else {
            aspi::InstallBackend(std::move(recording));
        }
    }

    // Start-up as the program runs it: Main finds the drive and presents the deck.
    void Start(std::shared_ptr<const sim::Tape> tape, sim::DriveConfig drive = {})
    {
        InstallBus(std::move(tape), drive);
        Main();
        ASSERT_TRUE(DeckPresented());
    }

    // Before Start: the n-th command with `opcode` waits until gate->release().
    void HoldCommand(std::uint8_t opcode, int nth = 1)
    {
        holdOpcode = opcode;
        holdNth = nth;
    }

    // Runs `action` once, from the event loop of whatever waits, as soon as the held command
    // is being held (a user's click arriving during the wait); `action` releases the gate.
    void WhenHeld(std::function<void()> action)
    {
        heldAction = std::move(action);
        QObject::connect(&heldWatch, &QTimer::timeout, [this] {
            if (!gate || !gate->held() || !heldAction)
                return;
            heldWatch.stop();
            auto act = std::move(heldAction);
            heldAction = nullptr;
            act();
        });
        heldWatch.start(0);
    }

    frmDeck& deck() { return DeckWindow(); }
    // One tick of the wait-for-tape timer, without waiting a second for it.
    void Tick() { deck().tmrWait4Tape_Timer(); }

    // Start-up with an audio tape, then the first tick: the deck is Ready.
    void StartReady(std::shared_ptr<const sim::Tape> tape = sim::MakeDemoTape())
    {
        Start(std::move(tape));
        Tick();
        ASSERT_EQ(EnabledButtons(deck()), ReadyButtons());
    }

    std::vector<testing_support::SentCommand> CommandsWithOpcode(std::uint8_t opcode) const
    {
        std::vector<testing_support::SentCommand> out;
        for (const auto& c : recorder->commands())
            if (!c.cdb.empty() && c.cdb[0] == opcode)
                out.push_back(c);
        return out;
    }

    bool fakeSoundDevice = true;
    // Before Start: 0 lets every command take no time; above 0 reads and locates take their
    // time on the virtual clock, which moves at once.
    double readSpeed = 0;
    std::optional<std::uint8_t> holdOpcode;
    int holdNth = 1;
    GatedBackend* gate = nullptr;
    QTimer heldWatch;
    std::function<void()> heldAction;
    testing_support::FakeWaveOut fakeWave;
    std::shared_ptr<sim::VirtualClock> clock;
    sim::Bus* bus = nullptr;
    testing_support::RecordingBackend* recorder = nullptr;
    std::vector<std::string> messages;
    int exitRequests = 0;     // programEndRequested
    int consoleRequests = 0;  // consoleRequested
};

}  // namespace deck_test
