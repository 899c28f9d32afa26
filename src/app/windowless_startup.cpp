#include "app/windowless_startup.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/aspi/backend.h"
#include "platform/aspi/scsi_codes.h"
#include "platform/ui/message_box.h"
#include "deck/drive_probe.h"
#include "transport/startup.h"

namespace {

constexpr int kExitFailure = 1;
constexpr long long kSlowCommandMs = 2000;
constexpr int kSlowCheckMs = 500;
constexpr int kRetryMs = 1000;

// The end start-up asked for during one Main, recorded by the end handler instead of leaving
// the process: Main returns after every end it asks for.
struct StartupEnd {
    std::optional<int> status;
};

int RunMainOnce(StartupEnd& end)
{
    end.status.reset();
    Main();
    if (!end.status)
        return 0;
    return *end.status != 0 ? *end.status : kExitFailure;
}

// Says once per command which device discovery is waiting for, when it is slow to answer.
class SlowCommandNotice {
public:
    SlowCommandNotice()
    {
        timer_.setInterval(kSlowCheckMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { check(); });
        timer_.start();
    }

private:
    void check()
    {
        const aspi::RunningCommand now = aspi::CurrentCommand();
        if (!now.running || now.elapsedMs < kSlowCommandMs || now.serial == announced_)
            return;
        announced_ = now.serial;
        std::string device = std::to_string(now.adapter) + ":" + std::to_string(now.target);
        std::string where = aspi::DeviceLocation(now.adapter, now.target);
        if (const auto comma = where.rfind(", "); comma != std::string::npos)
            where.erase(comma);  // the access check's verdict: not what is asked here
        if (!where.empty())
            device += " (" + where + ")";
        std::string line = "Waiting for " + device + " to answer " + scsi::CommandName(now.opcode);
        if (now.timeoutMs > 0)
            line += " (it gives up after " + std::to_string((now.timeoutMs + 999) / 1000) + " s)";
        std::fprintf(stderr, "%s...\n", line.c_str());
    }

    QTimer timer_;
    unsigned announced_ = 0;
};

// Blocks in the event loop for `ms`, or less when an interrupt arrives.
void Pause(int ms, const std::function<bool()>& interrupted)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    while (timer.isActive() && !(interrupted && interrupted())) {
        if (loop.exec() < 0)  // an exit request that was already made: do not spin on it
            break;
    }
}

}  // namespace

int RunWindowlessStartup(const WindowlessStartup& how)
{
    const auto interrupted = [&] { return how.interrupted && how.interrupted(); };
    SetDeckPresenter({});
    SetProbeCommands(AudioDriveProbe());
    SetTellKnownCauses(false);  // the backend's own stderr line says it
    SetDiscoveryInterrupt(how.interrupted);
    StartupEnd end;
    ui::SetEndHandler([&end](int status) {
        if (!end.status)
            end.status = status;  // the first end is the one start-up stopped at
    });
    SlowCommandNotice slow;
    QElapsedTimer waited;
    waited.start();
    bool announced = false;
    int status = 0;
    for (;;) {
        std::vector<std::string> held;
        if (how.waitWhileBecomingReady)
            ui::SetMessageSink([&](const std::string& text) { held.push_back(text); });
        else
            ui::SetMessageSink(ui::StderrSink());
        status = RunMainOnce(end);
        ui::SetMessageSink(ui::StderrSink());
        const std::string device = TapeDeviceBecomingReady();
        const bool again = status != 0 && status != kExitInterrupted && how.waitWhileBecomingReady &&
                           !device.empty() && waited.elapsed() < how.waitMs && !interrupted();
        if (!again) {
            for (const std::string& text : held)
                ui::ShowMessage(text);
            break;
        }
        if (!announced) {
            std::fprintf(stderr, "Waiting for the tape drive at %s to become ready (up to a minute)...\n",
                         device.c_str());
            announced = true;
        }
        Pause(kRetryMs, how.interrupted);
        if (interrupted()) {
            status = kExitInterrupted;
            break;
        }
    }
    ui::SetEndHandler({});
    SetDiscoveryInterrupt({});
    SetTellKnownCauses(true);
    return status;
}
