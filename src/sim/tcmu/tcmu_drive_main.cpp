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

// The description's one tape drive; an error message when there is none or more than one.
bool FindDrive(const sim::BusConfig& config, Served& out, std::string& error)
{
    int found = 0;
    for (std::size_t a = 0; a < config.adapters.size(); ++a)
        for (const sim::DriveConfig& d : config.adapters[a].devices)
            if (d.type == 1) {
                ++found;
                out = {static_cast<std::uint8_t>(a), d.target, &d};
            }
    if (found != 1) {
        error = found == 0 ? "the description holds no tape drive (a device of type 1)"
                           : "the description holds " + std::to_string(found) + " tape drives; serve one at a time";
        return false;
    }
    if (out.target < 1 || out.target > 31) {
        error = "the drive's target is " + std::to_string(out.target) +
                "; the kernel's loopback target numbers devices 1 to 31";
        return false;
    }
    return true;
}

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
    Served served;
    if (!sim::SimulatedBusConfig(source, config, error) || !FindDrive(config, served, error)) {
        std::fprintf(stderr, "vantrel-tcmu-drive: %s\n", error.c_str());
        return 2;
    }
    const sim::DriveConfig drive = *served.drive;
    auto bus = sim::CreateBus(config, error);
    if (!bus) {
        std::fprintf(stderr, "vantrel-tcmu-drive: %s\n", error.c_str());
        return 2;
    }

    // Signals are taken by sigwait on this thread only; the serving thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
        sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    sim::tcmu::TargetNames names;
    names.tpgt = served.target;
    sim::tcmu::TargetSetup setup(names);
    if (!setup.createBackstore(error)) {
        std::fprintf(stderr, "vantrel-tcmu-drive: %s\n", error.c_str());
        return 1;
    }
    const int uioFd = ::open(setup.uioPath().c_str(), O_RDWR | O_CLOEXEC);
    if (uioFd < 0) {
        std::fprintf(stderr, "vantrel-tcmu-drive: cannot open %s: %s\n", setup.uioPath().c_str(), std::strerror(errno));
        return 1;
    }
    void* area = ::mmap(nullptr, setup.mapSize(), PROT_READ | PROT_WRITE, MAP_SHARED, uioFd, 0);
    if (area == MAP_FAILED) {
        std::fprintf(stderr, "vantrel-tcmu-drive: cannot map the command ring of %s: %s\n", setup.uioPath().c_str(),
                     std::strerror(errno));
        ::close(uioFd);
        return 1;
    }
    sim::tcmu::CommandRing ring(static_cast<std::uint8_t*>(area), setup.mapSize());
    if (!ring.check(error)) {
        std::fprintf(stderr, "vantrel-tcmu-drive: %s: %s\n", setup.uioPath().c_str(), error.c_str());
        ::munmap(area, setup.mapSize());
        ::close(uioFd);
        return 1;
    }
    const int stopFd = ::eventfd(0, EFD_CLOEXEC);
    std::thread server(Serve, uioFd, stopFd, std::ref(ring), std::ref(*bus), served, verbose);

    int status = 0;
    if (setup.exportLun(error)) {
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
        std::fprintf(stderr, "vantrel-tcmu-drive: %s\n", error.c_str());
        status = 1;
    }

    // The kernel drops the device while its commands are still answered; then the drive's
    // waits end, the server stops and the ring goes before the backstore is removed.
    if (!setup.removeExport(error)) {
        std::fprintf(stderr, "vantrel-tcmu-drive: %s\n", error.c_str());
        status = 1;
    }
    bus->cancel();
    const std::uint64_t one = 1;
    if (::write(stopFd, &one, sizeof one) != sizeof one)
        std::fprintf(stderr, "vantrel-tcmu-drive: cannot stop the server thread: %s\n", std::strerror(errno));
    server.join();
    ::close(stopFd);
    ::munmap(area, setup.mapSize());
    ::close(uioFd);
    if (!setup.remove(error)) {
        std::fprintf(stderr, "vantrel-tcmu-drive: %s\n", error.c_str());
        status = 1;
    }
    return status;
}
