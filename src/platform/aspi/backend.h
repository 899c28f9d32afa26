// What the manager needs from whatever reaches the devices: the Linux sg driver for real
// drives, or the virtual SCSI bus. The manager owns the request records; a backend sees only
// plain values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/aspi/aspi.h"

namespace aspi {

struct AdapterInquiry {
    std::string identifier;  // up to 16 bytes; copied NUL-padded into HA_Identifier
    std::string managerId = "VANTREL ASPI";
    std::uint8_t scsiId = 7;
    std::uint8_t targetCount = 8;  // HA_Unique byte 3
};

enum class Direction { None, In, Out };

struct ExecRequest {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    const std::uint8_t* cdb = nullptr;
    std::uint8_t cdbLen = 0;
    Direction direction = Direction::None;
    std::uint8_t* data = nullptr;  // the caller's buffer, dataLen bytes
    std::uint32_t dataLen = 0;
};

struct ExecResult {
    std::uint8_t srbStatus = SS_COMP;  // SS_COMP, SS_ERR, SS_ABORTED or another non-zero
    std::uint8_t haStat = 0;
    std::uint8_t targStat = 0;
    std::uint8_t sense[32] = {};  // fixed format (0x70), valid when srbStatus is SS_ERR
    std::uint8_t senseLen = 0;
    std::uint32_t transferred = 0;  // bytes actually moved
    // Why the device could not be reached, with what to do, when the backend knows it (no
    // permission, no sg module, no node, the device gone, no answer in time); empty for a
    // SCSI answer and for failures it cannot explain.
    std::string cause;
};

// Thread rules: supportInfo, inquiry and deviceType are called on the caller's thread;
// execute only on the manager's worker thread, one at a time; cancel from any thread.
class Backend {
public:
    virtual ~Backend() = default;
    // Bits 8-15 status, bits 0-7 adapter count, as GetASPI32SupportInfo returns them.
    virtual std::uint32_t supportInfo() = 0;
    // SS_COMP with `out` filled, or SS_INVALID_HA.
    virtual std::uint8_t inquiry(std::uint8_t adapter, AdapterInquiry& out) = 0;
    // SS_COMP with `type` filled, SS_NO_DEVICE, or SS_INVALID_HA.
    virtual std::uint8_t deviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun,
                                    std::uint8_t& type) = 0;
    // Runs one command to its end (blocking).
    virtual ExecResult execute(const ExecRequest& request) = 0;
    // Asks a running execute to give up soon (program end); may do nothing.
    virtual void cancel() {}
    // For --scan: where an adapter and a device live on this system ("sysfs host2 channel 0",
    // "/dev/sg1 HP C1537A, readable"); empty when there is nothing to add.
    virtual std::string adapterLocation(std::uint8_t /*adapter*/) { return {}; }
    virtual std::string deviceLocation(std::uint8_t /*adapter*/, std::uint8_t /*target*/) { return {}; }
    // With no adapter at all: what the system shows and what to check; empty otherwise.
    virtual std::string noAdapterHint() { return {}; }
    // How long the backend lets a command run before it gives up, in ms (0: no limit known).
    virtual unsigned timeoutMs(std::uint8_t /*opcode*/) { return 0; }
};

// The current backend's location texts (empty without a backend).
std::string AdapterLocation(std::uint8_t adapter);
std::string DeviceLocation(std::uint8_t adapter, std::uint8_t target);

// The current backend's no-adapter hint (empty without a backend).
std::string NoAdapterHint();

// The backend's known cause of the last command's failure on this device (ExecResult::cause),
// kept until the device's next command; empty when that command did not fail for one.
std::string KnownFailureCause(std::uint8_t adapter, std::uint8_t target);

// The execute record the worker is running now, for a "still waiting" message.
struct RunningCommand {
    bool running = false;
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    std::uint8_t opcode = 0;
    long long elapsedMs = 0;  // since the worker started it
    unsigned timeoutMs = 0;   // the backend's limit for it (0: unknown)
    unsigned serial = 0;      // changes with every command
};
RunningCommand CurrentCommand();

// Replaces the manager's backend (nullptr: none, every request fails). Waits for a running
// command to finish first. Not to be called while a command is pending.
void InstallBackend(std::unique_ptr<Backend> backend);

// Opens (or with an empty path closes) the request trace: one line per request, flushed.
// Returns false with `error` set when the file cannot be opened.
bool OpenTrace(const std::string& path, std::string& error);

// Stops the worker thread at program end. A command that cannot be cancelled (an SG_IO in
// the kernel) is abandoned after a short grace period rather than waited for.
void ShutdownManager();

}  // namespace aspi
