// The manager's backend for real drives: the Linux sg driver (SG_IO on /dev/sgN) with the
// adapters and devices that sysfs lists.
//
// Adapters are the (host, channel) pairs of sysfs, numbered as ScanSgBuses orders them; the
// list is read once, when the backend is created. Device types come from sysfs without
// opening anything. Execute requests open the device's sg node O_RDWR on first use (sg
// refuses several tape commands on a read-only descriptor) and keep it open; a device that
// went away (ENODEV) is opened afresh on its next command.
//
// Outcomes: GOOD gives SS_COMP; CHECK CONDITION gives SS_ERR with fixed-format sense; a
// timeout gives SS_ABORTED; a device that cannot be opened, has no sg node or has gone gives
// SS_NO_DEVICE; other target statuses (BUSY...), transport errors and failed ioctls give
// SS_ERR with SRB_HaStat/SRB_TargStat set and no sense. Every failure that is not a SCSI
// answer is reported as one line naming the command, the device and the reason (repeats of
// the same line for the same device are dropped until a command succeeds there).
#pragma once

#include "platform/aspi/scsi_codes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/aspi/backend.h"

namespace aspi {

// What the backend touches on the system; tests point it at a fake tree and a fake ioctl.
// Empty functions mean the real system calls. They may be called from two threads (execute
// on the manager's worker, deviceLocation on the caller's).
struct SgEnvironment {
    std::string sysfsRoot = "/sys";  // the sysfs mount point
    std::string devRoot = "/dev";    // where the sgN nodes are
    // open(2) and the SG_IO ioctl(2); errno-style (-1 and errno set) like the real calls.
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd, unsigned long request, void* arg)> ioctl;
    std::function<int(int fd)> close;
    // Where failure lines go; empty: stderr.
    std::function<void(const std::string& line)> report;
    // Multiplies every command's timeout (tests make hour-long cases short); 0 takes it from
    // the environment variable VANTREL_SG_TIMEOUT_SCALE, else 1.
    double timeoutScale = 0;
};

// Kernel timeouts given to SG_IO (scsi::CommandTimeoutMs): an hour for a locate, rewind or
// unload over a whole tape, a minute for READ, 15 s for the commands that stay put.
inline constexpr unsigned kSgLongTimeoutMs = scsi::kLongCommandTimeoutMs;
inline constexpr unsigned kSgShortTimeoutMs = scsi::kDataCommandTimeoutMs;
inline constexpr unsigned kSgQuickTimeoutMs = scsi::kQuickCommandTimeoutMs;

// A timeout scale as VANTREL_SG_TIMEOUT_SCALE gives it ("0.01"); 1 for an empty, malformed,
// non-positive or absurd value.
double ParseTimeoutScale(const char* text);

std::unique_ptr<Backend> CreateSgBackend(SgEnvironment env = {});

}  // namespace aspi
