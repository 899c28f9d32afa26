// Runs the console's tape routines one after another on the drive start-up selects, the way
// its buttons call them, printing what each shows. Run once on the virtual bus (--simulate)
// and once through the sg driver on the same drive served by vantrel-tcmu-drive, the two
// SCSI traces must agree line for line apart from the times.
//   kernel_console_routines [--simulate=SOURCE] --scsi-trace=FILE
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/windowless_startup.h"
#include "platform/aspi/backend.h"
#include "platform/aspi/sg_backend.h"
#include "platform/aspi/trace.h"
#include "platform/ui/message_box.h"
#include "sim/simulator.h"
#include "tape/eject_read.h"
#include "tape/lock_limits.h"
#include "tape/position_record.h"
#include "tape/positioning.h"
#include "deck/drive_commands.h"
#include "transport/drive_state.h"

namespace {

void Say(const std::string& what, const std::string& shows)
{
    std::printf("%s: %s\n", what.c_str(), shows.c_str());
    std::fflush(stdout);
}

void Position(const char* after)
{
    PositionRecord record{};
    const bool ok = ReadPosition(AspiAdapter, AspiTarget, record);
    std::string lines = ok ? "" : "(failed) ";
    for (const std::string& l : FormatPositionReport(record))
        lines += l + "; ";
    Say(std::string("READ POSITION after ") + after, lines);
}

void Sense(const char* when)
{
    ModeParameterList data{};
    ModeSense(AspiAdapter, AspiTarget, data);
    Say(std::string("MODE SENSE ") + when, aspi::HexBytes(data.data(), data.size()));
}

void Read(const char* what, std::int32_t count)
{
    std::vector<std::uint8_t> buffer(count > 0 ? static_cast<std::size_t>(count) : 1, 0);
    const ReadOutcome r = ReadTapeBlock(AspiAdapter, AspiTarget, buffer.data(), count);
    unsigned sum = 0;
    for (std::uint8_t b : buffer)
        sum = sum * 31 + b;
    Say(what, "status " + std::to_string(r.srbStatus) + (r.completed ? "" : " sense " + r.sense.text()) +
                  ", checksum " + std::to_string(sum));
}

}  // namespace

int main(int argc, char** argv)
{
    std::string simulate, trace;
    bool simulated = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--simulate", 0) == 0) {
            simulated = true;
            simulate = arg.size() > 11 ? arg.substr(11) : "";
        } else if (arg.rfind("--scsi-trace=", 0) == 0) {
            trace = arg.substr(13);
        } else {
            std::fprintf(stderr, "usage: kernel_console_routines [--simulate[=SOURCE]] --scsi-trace=FILE\n");
            return 2;
        }
    }
    QCoreApplication app(argc, argv);
    std::string error;
    std::unique_ptr<aspi::Backend> backend =
        simulated ? sim::CreateSimulatedBus(simulate, error) : aspi::CreateSgBackend();
    if (!backend) {
        std::fprintf(stderr, "kernel_console_routines: %s\n", error.c_str());
        return 2;
    }
    aspi::InstallBackend(std::move(backend));
    if (!trace.empty() && !aspi::OpenTrace(trace, error)) {
        std::fprintf(stderr, "kernel_console_routines: %s\n", error.c_str());
        return 2;
    }
    const int status = RunWindowlessStartup();
    if (status != 0) {
        aspi::ShutdownManager();
        return status;
    }
    ui::SetMessageSink([](const std::string& text) { Say("message", text); });

    Say("TEST UNIT READY", std::to_string(TestUnitReady(AspiAdapter, AspiTarget)));
    Sense("in audio mode");
    ModeSelect(AspiAdapter, AspiTarget, kDataModeList);
    Sense("after Data Mode");
    Read("READ in data mode", 5822);
    ModeSelect(AspiAdapter, AspiTarget, kUnbufferedAudioList);
    ModeSelect(AspiAdapter, AspiTarget, kAudioModeList);
    Sense("after Audio Mode");
    Say("READ BLOCK LIMITS", ReadBlockLimits(AspiAdapter, AspiTarget));
    Say("PREVENT", std::to_string(PreventAllowRemoval(AspiAdapter, AspiTarget, 1)));
    Say("EJECT while prevented", std::to_string(EjectTape(AspiAdapter, AspiTarget)));
    Say("ALLOW", std::to_string(PreventAllowRemoval(AspiAdapter, AspiTarget, 0)));
    Position("start");
    Say("LOCATE 0:00:05", std::to_string(LocateTape(AspiAdapter, AspiTarget, kLocateAbsoluteTime, 0, 0, 5)));
    Position("LOCATE 0:00:05");
    Read("READ at 0:00:05", 5822);
    Say("LOCATE program 2", std::to_string(LocateTape(AspiAdapter, AspiTarget, kLocateProgram, 0, 0, 2)));
    Position("LOCATE program 2");
    Say("LOCATE program 9", std::to_string(LocateTape(AspiAdapter, AspiTarget, kLocateProgram, 0, 0, 9)));
    Position("LOCATE program 9");
    RewindTape(AspiAdapter, AspiTarget);
    Position("REWIND");
    Read("READ frame 0", 5822);
    Read("READ frame 1", 5822);
    Read("READ of a wrong length", 100);
    Read("READ of two frames", 2 * 5822);
    Say("EJECT", std::to_string(EjectTape(AspiAdapter, AspiTarget)));
    Say("TEST UNIT READY after the eject", std::to_string(TestUnitReady(AspiAdapter, AspiTarget)));
    aspi::ShutdownManager();
    return 0;
}
