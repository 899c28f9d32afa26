// vantrel-tcmu-drive: serves the virtual DAT drive to the Linux kernel as a real SCSI device.
// The kernel's SCSI target subsystem (target_core_user behind a tcm_loop target) hands every
// command sent to the device to this program through a shared command ring; the virtual
// drive answers it exactly as under --simulate. The device gets an sg node, so the program's
// real mode, sg3-utils or any other SCSI tool can be run against it.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/aspi/trace.h"
#include "platform/io/result.h"
#include "platform/io/unique_fd.h"
#include "sim/simulator.h"
#include "sim/tcmu/command_ring.h"
#include "sim/tcmu/drive_service.h"
#include "sim/tcmu/target_setup.h"
#include "sim/virtual_bus.h"

namespace {

constexpr const char* kUsage =
    "Usage: vantrel-tcmu-drive [--verbose] [SOURCE]\n"
    "Serves one virtual audio DAT drive to the kernel as a SCSI tape device with an sg node,\n"
    "until Ctrl-C. SOURCE is what --simulate takes: nothing (the demo tape), an audio file, a\n"
    "frame dump or a .json bus description holding one tape drive (its target, 1 to 31, is the\n"
    "device's SCSI target number). Needs root and the modules target_core_user, tcm_loop, sg.\n";

struct Served {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    const sim::DriveConfig* drive = nullptr;
};

// The description's one tape drive; a failure when there is none or more than one.
Result<Served> FindDrive(const sim::BusConfig& config)
{
    int found = 0;
    Served out;
    for (std::size_t a = 0; a < config.adapters.size(); ++a)
        for (const sim::DriveConfig& d : config.adapters[a].devices)
            if (d.type == 1) {
                ++found;
                out = {static_cast<std::uint8_t>(a), d.target, &d};
            }
    if (found != 1)
        return Result<Served>::Error(
            found == 0 ? std::string("the description holds no tape drive (a device of type 1)")
                       : "the description holds " + std::to_string(found) + " tape drives; serve one at a time");
    if (out.target < 1 || out.target > 31)
        return Result<Served>::Error("the drive's target is " + std::to_string(out.target) +
                                     "; the kernel's loopback target numbers devices 1 to 31");
    return out;
}

// The backstore's command ring, opened and mapped, its mailbox checked. The descriptor and the
// mapping close themselves, before the backstore goes (they are made after it).
struct OpenRing {
    UniqueFd uio;
    UniqueMapping area;
};

Result<OpenRing> MapRing(const sim::tcmu::TargetSetup& setup)
{
    OpenRing opened;
    opened.uio = UniqueFd(::open(setup.uioPath().c_str(), O_RDWR | O_CLOEXEC));
    if (!opened.uio)
        return Result<OpenRing>::Error("cannot open " + setup.uioPath() + ": " + std::strerror(errno));
    opened.area = UniqueMapping(
        ::mmap(nullptr, setup.mapSize(), PROT_READ | PROT_WRITE, MAP_SHARED, opened.uio.get(), 0), setup.mapSize());
    if (!opened.area)
        return Result<OpenRing>::Error("cannot map the command ring of " + setup.uioPath() + ": " +
                                       std::strerror(errno));
    if (Status checked =
            sim::tcmu::CommandRing(static_cast<std::uint8_t*>(opened.area.get()), opened.area.size()).check();
        !checked)
        return Result<OpenRing>::Error(setup.uioPath() + ": " + checked.error());
    return opened;
}

// Says what failed, as every failure of the served drive is said.
void Report(const std::string& message) { std::fprintf(stderr, "vantrel-tcmu-drive: %s\n", message.c_str()); }

// Answers the ring until `stopFd` is signalled; on a failure of the UIO device it says why
// and raises SIGUSR1 so the main thread takes the device down.
void Serve(int uioFd, int stopFd, sim::tcmu::CommandRing& ring, aspi::Backend& bus, const Served& served,
           bool verbose)
{
    const sim::tcmu::RingHandler handler = [&](sim::tcmu::RingCommand& command) {
        sim::tcmu::RingReply reply = sim::tcmu::RunOnDrive(bus, served.adapter, served.target, command);
        if (verbose)
            std::fprintf(stderr, "vantrel-tcmu-drive: %s -> status %u, %u bytes%s%s\n", aspi::HexBytes(command.cdb.data(), command.cdb.size()).c_str(),
                         unsigned{reply.status}, reply.transferred, reply.sense.empty() ? "" : ", sense ",
                         aspi::HexBytes(reply.sense.data(), reply.sense.size()).c_str());
        return reply;
    };
    for (;;) {
        if (ring.serve(handler) > 0) {
            const std::uint32_t kick = 0;
            if (::write(uioFd, &kick, sizeof kick) != sizeof kick) {
                std::fprintf(stderr, "vantrel-tcmu-drive: cannot tell the kernel of answers: %s\n", std::strerror(errno));
                ::kill(::getpid(), SIGUSR1);
                return;
            }
        }
        pollfd fds[2] = {{uioFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "vantrel-tcmu-drive: poll: %s\n", std::strerror(errno));
            ::kill(::getpid(), SIGUSR1);
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            std::fprintf(stderr, "vantrel-tcmu-drive: the kernel closed the command ring\n");
            ::kill(::getpid(), SIGUSR1);
            return;
        }
        std::uint32_t interrupts = 0;
        if (::read(uioFd, &interrupts, sizeof interrupts) < 0 && errno != EINTR && errno != EAGAIN) {
            std::fprintf(stderr, "vantrel-tcmu-drive: reading the command ring's events: %s\n", std::strerror(errno));
            ::kill(::getpid(), SIGUSR1);
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    bool verbose = false;
    std::string source;
    int sources = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--verbose" || arg == "-v") {
            verbose = true;
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "vantrel-tcmu-drive: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            source = arg;
            ++sources;
        }
    }
    if (sources > 1) {
        std::fprintf(stderr, "vantrel-tcmu-drive: give one SOURCE\n%s", kUsage);
        return 2;
    }

    std::string error;
    sim::BusConfig config;
    if (!sim::SimulatedBusConfig(source, config, error)) {
        Report(error);
        return 2;
    }
    const Result<Served> served = FindDrive(config);
    if (!served) {
        Report(served.error());
        return 2;
    }
    const sim::DriveConfig drive = *served->drive;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        Report(error);
        return 2;
    }

    // Signals are taken by sigwait on this thread only; the serving thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    sim::tcmu::TargetNames names;
    names.tpgt = served->target;
    sim::tcmu::TargetSetup setup(names);
    if (Status created = setup.createBackstore(); !created) {
        Report(created.error());
        return 1;
    }
    Result<OpenRing> opened = MapRing(setup);
    if (!opened) {
        Report(opened.error());
        return 1;
    }
    UniqueFd stopFd(::eventfd(0, EFD_CLOEXEC));
    if (!stopFd) {
        Report(std::string("cannot make the event that stops the server thread: ") + std::strerror(errno));
        return 1;
    }
    sim::tcmu::CommandRing ring(static_cast<std::uint8_t*>(opened->area.get()), opened->area.size());
    std::thread server(Serve, opened->uio.get(), stopFd.get(), std::ref(ring), std::ref(*bus), *served, verbose);

    int status = 0;
    if (Status exported = setup.exportLun(); exported) {
        std::printf("Serving %s %s %s at SCSI %s as %s (Ctrl-C to stop)\n", drive.vendor.c_str(),
                    drive.product.c_str(), drive.revision.c_str(), setup.scsiAddress().c_str(),
                    setup.sgNode().c_str());
        std::fflush(stdout);
        int which = 0;
        while (sigwait(&signals, &which) != 0) {
        }
        if (which == SIGUSR1)
            status = 1;
    } else {
        Report(exported.error());
        status = 1;
    }

    // The kernel drops the device while its commands are still answered; then the drive's
    // waits end, the server stops and the ring goes before the backstore is removed.
    if (Status removed = setup.removeExport(); !removed) {
        Report(removed.error());
        status = 1;
    }
    bus->cancel();
    const std::uint64_t one = 1;
    if (::write(stopFd.get(), &one, sizeof one) != sizeof one)
        std::fprintf(stderr, "vantrel-tcmu-drive: cannot stop the server thread: %s\n", std::strerror(errno));
    server.join();
    stopFd.reset();
    opened->area.reset();
    opened->uio.reset();
    if (Status removed = setup.remove(); !removed) {
        Report(removed.error());
        status = 1;
    }
    return status;
}
