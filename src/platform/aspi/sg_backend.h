// The manager's backend for real drives: the Linux sg driver (SG_IO on /dev/sgN) with the
// adapters and devices that sysfs lists.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/aspi/backend.h"

namespace aspi {

// What the backend touches on the system; tests point it at a fake tree and a fake ioctl.
struct SgEnvironment {
    std::string sysfsRoot = "/sys";  // the sysfs mount point
    std::string devRoot = "/dev";    // where the sgN nodes are
    // open(2) and the SG_IO ioctl(2); errno-style (-1 and errno set) like the real calls.
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd, unsigned long request, void* arg)> ioctl;
    std::function<int(int fd)> close;
};

std::unique_ptr<Backend> CreateSgBackend(SgEnvironment env = {});

}  // namespace aspi
