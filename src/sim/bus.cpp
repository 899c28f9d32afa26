#include <algorithm>
#include <set>

#include "sim/drive.h"
#include "sim/virtual_bus.h"

namespace sim {
namespace {

constexpr std::uint8_t kSequentialAccess = 1;
constexpr std::uint8_t kSelectionTimeout = 0x11;  // host adapter status: nobody answered

const DriveConfig* FindDevice(const AdapterConfig& adapter, std::uint8_t target)
{
    for (const DriveConfig& d : adapter.devices)
        if (d.target == target)
            return &d;
    return nullptr;
}

BusConfig WithClock(BusConfig config)
{
    if (!config.clock)
        config.clock = std::make_shared<RealClock>();
    return config;
}

}  // namespace

Bus::Bus(BusConfig config) : config_(WithClock(std::move(config)))
{
    const std::shared_ptr<Clock>& clock = config_.clock;
    for (const AdapterConfig& adapter : config_.adapters) {
        drives_.emplace_back();
        for (const DriveConfig& device : adapter.devices)
            drives_.back().push_back(device.type == kSequentialAccess
                                         ? std::make_unique<Drive>(device, clock, config_.readSpeed)
                                         : nullptr);
    }
}

Bus::~Bus() = default;

std::uint32_t Bus::supportInfo()
{
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(config_.adapters.size(), 255));
    return std::uint32_t{config_.managerStatus} << 8 | count;
}

std::uint8_t Bus::inquiry(std::uint8_t adapter, aspi::AdapterInquiry& out)
{
    if (adapter >= config_.adapters.size())
        return SS_INVALID_HA;
    const AdapterConfig& a = config_.adapters[adapter];
    out.identifier = a.identifier;
    out.scsiId = a.scsiId;
    out.targetCount = a.targets;
    return SS_COMP;
}

std::uint8_t Bus::deviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun, std::uint8_t& type)
{
    if (adapter >= config_.adapters.size())
        return SS_INVALID_HA;
    const DriveConfig* device = FindDevice(config_.adapters[adapter], target);
    if (!device || lun != 0)
        return SS_NO_DEVICE;
    if (Drive* drive = find(adapter, target); drive && drive->vanished())
        return SS_NO_DEVICE;  // unplugged: a new scan no longer finds it
    type = device->type;
    return SS_COMP;
}

Drive* Bus::find(std::uint8_t adapter, std::uint8_t target)
{
    if (adapter >= config_.adapters.size())
        return nullptr;
    const auto& devices = config_.adapters[adapter].devices;
    for (std::size_t i = 0; i < devices.size(); ++i)
        if (devices[i].target == target)
            return drives_[adapter][i].get();
    return nullptr;
}

aspi::ExecResult Bus::execute(const aspi::ExecRequest& request)
{
    aspi::ExecResult r;
    if (request.adapter >= config_.adapters.size()) {
        r.srbStatus = SS_INVALID_HA;
        return r;
    }
    const DriveConfig* device = FindDevice(config_.adapters[request.adapter], request.target);
    if (!device || request.lun != 0) {
        r.srbStatus = SS_ERR;
        r.haStat = kSelectionTimeout;
        return r;
    }
    if (Drive* drive = find(request.adapter, request.target))
        return drive->execute(request);
    // Another kind of device: it knows none of the tape commands.
    return CheckCondition(scsi::key::IllegalRequest, scsi::asc::InvalidOpcode);
}

void Bus::cancel() { config_.clock->cancel(); }

std::string Bus::adapterLocation(std::uint8_t adapter)
{
    return adapter < config_.adapters.size() ? "virtual SCSI bus" : std::string();
}

std::string Bus::deviceLocation(std::uint8_t adapter, std::uint8_t target)
{
    if (adapter >= config_.adapters.size())
        return {};
    const DriveConfig* device = FindDevice(config_.adapters[adapter], target);
    if (!device)
        return {};
    if (device->type != kSequentialAccess)
        return "virtual device";
    return device->audio ? "virtual audio DAT drive" : "virtual DAT drive (data only)";
}

bool Bus::insertTape(std::uint8_t adapter, std::uint8_t target, std::shared_ptr<const Tape> tape)
{
    Drive* drive = find(adapter, target);
    if (!drive)
        return false;
    drive->insert(std::move(tape));
    return true;
}

bool Bus::removeTape(std::uint8_t adapter, std::uint8_t target)
{
    Drive* drive = find(adapter, target);
    if (!drive)
        return false;
    drive->remove();
    return true;
}

std::optional<DriveState> Bus::driveState(std::uint8_t adapter, std::uint8_t target)
{
    Drive* drive = find(adapter, target);
    if (!drive)
        return std::nullopt;
    return drive->state();
}

std::unique_ptr<Bus> CreateBus(const BusConfig& config, std::string& error)
{
    if (config.readSpeed < 0) {
        error = "read_speed: must not be negative";
        return nullptr;
    }
    for (std::size_t a = 0; a < config.adapters.size(); ++a) {
        const AdapterConfig& adapter = config.adapters[a];
        const std::string where = "adapters[" + std::to_string(a) + "]";
        if (adapter.identifier.size() > 16) {
            error = where + ".identifier: at most 16 characters";
            return nullptr;
        }
        std::set<std::uint8_t> used;
        for (std::size_t d = 0; d < adapter.devices.size(); ++d) {
            const DriveConfig& device = adapter.devices[d];
            const std::string at = where + ".devices[" + std::to_string(d) + "]";
            if (device.target >= adapter.targets || device.target == adapter.scsiId) {
                error = at + ".target: " + std::to_string(device.target) +
                        " is not a free target of the adapter (targets 0 to " +
                        std::to_string(int(adapter.targets) - 1) + ", adapter at " +
                        std::to_string(adapter.scsiId) + ")";
                return nullptr;
            }
            if (!used.insert(device.target).second) {
                error = at + ".target: " + std::to_string(device.target) + " is used twice";
                return nullptr;
            }
            if (device.type > 31) {
                error = at + ".type: must be 0 to 31";
                return nullptr;
            }
            if (device.type != kSequentialAccess && device.tape) {
                error = at + ".tape: only a tape device (type 1) takes a tape";
                return nullptr;
            }
            for (std::uint64_t frame : device.mediumErrors) {
                // Skipped, retried or hung on: one frame can only fail one way.
                if (device.retryErrors.count(frame) || device.readTimeoutAt == frame) {
                    error = at + ": frame " + std::to_string(frame) +
                            " is in medium_errors and also in retry_errors or read_timeout_at";
                    return nullptr;
                }
            }
            for (const auto& [frame, passes] : device.flakyFrames) {
                const bool medium = std::find(device.mediumErrors.begin(), device.mediumErrors.end(), frame) !=
                                    device.mediumErrors.end();
                if (medium || device.retryErrors.count(frame) || device.readTimeoutAt == frame) {
                    error = at + ": frame " + std::to_string(frame) +
                            " is in flaky_frames and also in medium_errors, retry_errors or read_timeout_at";
                    return nullptr;
                }
            }
            if (device.readTimeoutAt && device.retryErrors.count(*device.readTimeoutAt)) {
                error = at + ": frame " + std::to_string(*device.readTimeoutAt) +
                        " is in both retry_errors and read_timeout_at";
                return nullptr;
            }
            if (device.becomingReadySeconds < 0 ||
                (device.reinsertAfterEjectSeconds && *device.reinsertAfterEjectSeconds < 0)) {
                error = at + ": times must not be negative";
                return nullptr;
            }
        }
    }
    return std::make_unique<Bus>(config);
}

BusConfig DefaultBusConfig()
{
    BusConfig config;
    config.readSpeed = 2;
    DriveConfig drive;
    drive.target = 4;
    drive.tape = MakeDemoTape();
    drive.reinsertAfterEjectSeconds = 3;
    config.adapters[0].devices.push_back(drive);
    return config;
}

}  // namespace sim
