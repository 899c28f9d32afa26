// The kernel side of a user-space SCSI device, set up through configfs: a TCMU backstore
// (target_core_user; its command ring appears as a UIO device) exported on a tcm_loop target
// with one LUN, which the kernel then shows as an ordinary SCSI device with an sg node.
// Everything made is undone in reverse order by remove() or the destructor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/io/result.h"

namespace sim::tcmu {

struct TargetNames {
    std::string configfs = "/sys/kernel/config";
    std::string sysfs = "/sys";
    std::string devices = "/dev";
    std::string backstore = "vantrel_dat";  // core/user_0/<backstore>
    std::string config = "vantrel/virtual-dat";  // the backstore's dev_config, seen in the UIO name
    std::string wwn = "naa.5001405da7000001";        // the tcm_loop target
    std::string initiator = "naa.5001405da7000002";  // its I_T nexus
    unsigned tpgt = 4;  // the SCSI target number the device appears at
};

class TargetSetup {
public:
    explicit TargetSetup(TargetNames names);
    ~TargetSetup();
    TargetSetup(const TargetSetup&) = delete;
    TargetSetup& operator=(const TargetSetup&) = delete;

    // Makes the backstore and enables it; then uioPath() names its ring. A failure says what
    // to do (load the modules, run as root, remove a leftover).
    Status createBackstore();
    std::string uioPath() const { return uio_; }
    std::size_t mapSize() const { return mapSize_; }
    // Makes the tcm_loop target, its nexus and the LUN. The kernel scans the LUN before this
    // returns, so the ring must already be answered on another thread.
    Status exportLun();
    // "H:C:T:L" and "/dev/sgN" of the device the kernel made (empty when not found).
    std::string scsiAddress() const { return address_; }
    std::string sgNode() const { return sgNode_; }
    // Takes the LUN and the target away (the kernel drops the SCSI device); the backstore stays.
    Status removeExport();
    // Undoes every step made, newest first; the first failure is reported, the rest still run.
    // The ring must be unmapped and closed first.
    Status remove();

private:
    Status makeDirectory(const std::string& path);
    Status write(const std::string& path, const std::string& value);
    Status findUio();
    void findDevice();
    Status removeUntil(const std::string& keep);

    TargetNames names_;
    std::string target_;  // configfs/target
    std::vector<std::string> made_;  // directories (and one link) made, in order
    std::string backstoreDir_;
    std::string uio_;
    std::size_t mapSize_ = 0;
    std::string address_;
    std::string sgNode_;
};

}  // namespace sim::tcmu
