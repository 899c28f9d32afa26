#include "platform/aspi/sg_backend.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/aspi/sense_format.h"
#include "platform/aspi/scsi_codes.h"
#include "platform/aspi/sg_sysfs.h"

namespace aspi {
namespace {

// glibc's headers define neither the host (DID_*) nor the driver codes.
constexpr unsigned kDidNoConnect = scsi::host::NoConnect;
constexpr unsigned kDidTimeOut = scsi::host::TimedOut;
constexpr unsigned kDriverTimeout = 0x06;  // old kernels, low nibble of driver_status
constexpr std::uint8_t kStatusGood = scsi::status::Good;
constexpr std::uint8_t kStatusCheckCondition = scsi::status::CheckCondition;

constexpr int kOpenFlags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
constexpr std::size_t kSenseBufferLen = 96;  // the most sg ever copies

std::string TrimRight(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

// Why an sg node could not be opened, with what to do about a permission error or a node
// that sysfs has and /dev does not.
std::string Reason(int err)
{
    std::string text = std::strerror(err);
    if (err == EACCES || err == EPERM)
        text += " (tape drives' sg nodes belong to the group 'tape': add yourself to it, "
                "e.g. 'sudo adduser $USER tape', and log in again)";
    else if (err == ENOENT)
        text += " (the kernel has the device but /dev has no node for it: udev did not make it; "
                "'sudo udevadm trigger' makes it again)";
    return text;
}

const char* kNoSgNode = "no sg device node (load the sg module with 'modprobe sg')";
const char* kGoneHint = " (check the drive's power and cable, then start Vantrel again)";

// Byte 2 of fixed-format sense: FILEMARK, EOM and ILI say that data came with the
// CHECK CONDITION (a short block, a filemark or the end of the medium reached mid-read).
constexpr std::uint8_t kDataCameFlags = 0x80 | 0x40 | 0x20;

class SgBackend final : public Backend {
public:
    explicit SgBackend(SgEnvironment env) : env_(std::move(env))
    {
        if (!env_.open)
            env_.open = [](const char* path, int flags) { return ::open(path, flags); };
        if (!env_.ioctl)
            env_.ioctl = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
        if (!env_.close)
            env_.close = [](int fd) { return ::close(fd); };
        if (!env_.report)
            env_.report = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
        if (env_.timeoutScale <= 0)
            env_.timeoutScale = ParseTimeoutScale(std::getenv("VANTREL_SG_TIMEOUT_SCALE"));
        buses_ = ScanSgBuses(env_.sysfsRoot);
    }

    ~SgBackend() override
    {
        for (auto& [name, node] : open_)
            env_.close(node.fd);
    }

    std::uint32_t supportInfo() override
    {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(buses_.size(), 255));
        return (std::uint32_t{SS_COMP} << 8) | count;
    }

    std::uint8_t inquiry(std::uint8_t adapter, AdapterInquiry& out) override
    {
        if (adapter >= buses_.size())
            return SS_INVALID_HA;
        const SgBus& bus = buses_[adapter];
        // Drivers without a name show "(null)" (older lsscsi also knows "<NULL>").
        out.identifier = bus.procName;
        if (out.identifier.empty() || out.identifier == "(null)" || out.identifier == "<NULL>")
            out.identifier = "host" + std::to_string(bus.host);
        out.scsiId = AdapterScsiId(bus);
        out.targetCount = TargetCount(bus);
        return SS_COMP;
    }

    std::uint8_t deviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun, std::uint8_t& type) override
    {
        if (adapter >= buses_.size())
            return SS_INVALID_HA;
        const auto text = ReadAttribute(DeviceDir(env_.sysfsRoot, Address(adapter, target, lun)) + "/type");
        int value = -1;
        if (!text || std::sscanf(text->c_str(), "%d", &value) != 1 || value < 0 || value > 0x1F)
            return SS_NO_DEVICE;
        type = static_cast<std::uint8_t>(value);
        return SS_COMP;
    }

    ExecResult execute(const ExecRequest& req) override
    {
        ExecResult r;
        if (req.adapter >= buses_.size()) {
            r.srbStatus = SS_INVALID_HA;
            return r;
        }
        const SgAddress a = Address(req.adapter, req.target, req.lun);
        const std::string name = DeviceName(a);
        const std::string command = scsi::CommandName(req.cdbLen ? req.cdb[0] : 0);
        for (int attempt = 0;; ++attempt) {
            std::string where;
            const int fd = Open(a, command, where, r);
            if (fd < 0)
                return r;
            sg_io_hdr_t hdr;
            std::uint8_t sense[kSenseBufferLen] = {};
            // sg copies its buffer back whatever the outcome, and an adapter may report no
            // residue on an error: read aside and hand over only bytes that really came.
            std::vector<std::uint8_t> in;
            Prepare(hdr, req, sense, timeoutMs(req.cdbLen ? req.cdb[0] : scsi::op::TestUnitReady));
            if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
                in.assign(hdr.dxfer_len, 0);
                hdr.dxferp = in.data();
            }
            if (env_.ioctl(fd, SG_IO, &hdr) < 0) {
                const int err = errno;
                const bool gone = err == ENODEV || err == ENXIO;
                if (gone)
                    Forget(name);
                // A device that was unplugged and came back has a new node: look again once.
                if (err == ENODEV && attempt == 0)
                    continue;
                r.srbStatus = gone ? SS_NO_DEVICE : SS_ERR;
                const std::string line = command + " on " + where + ": " + std::strerror(err);
                Report(name, gone ? line + kGoneHint : line);
                if (gone)
                    r.cause = line + kGoneHint;
                return r;
            }
            Classify(hdr, sense, command, where, name, r);
            if (!DataCame(r))
                r.transferred = 0;
            if (!in.empty() && r.transferred > 0)
                std::memcpy(req.data, in.data(), std::min<std::size_t>(r.transferred, req.dataLen));
            return r;
        }
    }

    std::string noAdapterHint() override
    {
        if (!buses_.empty())
            return {};
        return "Linux shows no SCSI host (" + env_.sysfsRoot +
               "/class/scsi_host is empty): check the drive's power and cable, the SCSI adapter's "
               "driver (lsmod, dmesg), or the USB-SCSI bridge the drive is on.";
    }

    unsigned timeoutMs(std::uint8_t opcode) override
    {
        const double ms = std::round(scsi::CommandTimeoutMs(opcode) * env_.timeoutScale);
        return static_cast<unsigned>(std::clamp(ms, 1.0, double{scsi::kLongCommandTimeoutMs}));
    }

    std::string adapterLocation(std::uint8_t adapter) override
    {
        if (adapter >= buses_.size())
            return {};
        const SgBus& bus = buses_[adapter];
        return "sysfs host" + std::to_string(bus.host) + " channel " + std::to_string(bus.channel);
    }

    std::string deviceLocation(std::uint8_t adapter, std::uint8_t target) override
    {
        if (adapter >= buses_.size())
            return {};
        const SgAddress a = Address(adapter, target, 0);
        const std::string dir = DeviceDir(env_.sysfsRoot, a);
        if (!ReadAttribute(dir + "/type"))
            return {};
        const std::string product = TrimRight(ReadAttribute(dir + "/vendor").value_or("")) + " " +
                                    TrimRight(ReadAttribute(dir + "/model").value_or(""));
        const std::string node = SgNodeName(dir);
        if (node.empty())
            return DeviceName(a) + " " + product + ", " + kNoSgNode;
        const std::string path = env_.devRoot + "/" + node;
        errno = 0;
        const int fd = env_.open(path.c_str(), kOpenFlags);
        if (fd < 0)
            return path + " " + product + ", " + Reason(errno);
        env_.close(fd);
        return path + " " + product + ", read-write OK";
    }

private:
    struct OpenNode {
        int fd = -1;
        std::string path;
    };

    SgAddress Address(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) const
    {
        const SgBus& bus = buses_[adapter];
        return SgAddress{bus.host, bus.channel, target, lun};
    }

    // The device's open descriptor (opened now if need be); -1 with `r` filled on failure.
    // `where` names the device for messages: its node, or its address without one.
    int Open(const SgAddress& a, const std::string& command, std::string& where, ExecResult& r)
    {
        const std::string name = DeviceName(a);
        where = name;
        if (auto it = open_.find(name); it != open_.end()) {
            where = it->second.path;
            return it->second.fd;
        }
        r.srbStatus = SS_NO_DEVICE;
        const std::string dir = DeviceDir(env_.sysfsRoot, a);
        if (!ReadAttribute(dir + "/type")) {
            r.cause = command + " on " + name + ": no such device" + kGoneHint;
            Report(name, r.cause);
            return -1;
        }
        const std::string node = SgNodeName(dir);
        if (node.empty()) {
            r.cause = command + " on " + name + ": " + kNoSgNode;
            Report(name, r.cause);
            return -1;
        }
        where = env_.devRoot + "/" + node;
        errno = 0;
        const int fd = env_.open(where.c_str(), kOpenFlags);
        if (fd < 0) {
            const int err = errno;
            r.cause = command + " on " + where + " (" + name + "): " + Reason(err);
            Report(name, r.cause);
            return -1;
        }
        open_[name] = OpenNode{fd, where};
        r.srbStatus = SS_COMP;
        return fd;
    }

    void Forget(const std::string& name)
    {
        if (auto it = open_.find(name); it != open_.end()) {
            env_.close(it->second.fd);
            open_.erase(it);
        }
    }

    static void Prepare(sg_io_hdr_t& hdr, const ExecRequest& req, std::uint8_t* sense, unsigned timeout)
    {
        std::memset(&hdr, 0, sizeof hdr);
        hdr.interface_id = 'S';
        hdr.cmd_len = req.cdbLen;
        hdr.cmdp = const_cast<unsigned char*>(req.cdb);
        hdr.mx_sb_len = kSenseBufferLen;
        hdr.sbp = sense;
        const bool moves = req.data && req.dataLen > 0 && req.direction != Direction::None;
        hdr.dxfer_direction = !moves ? SG_DXFER_NONE : req.direction == Direction::In ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
        hdr.dxfer_len = moves ? req.dataLen : 0;
        hdr.dxferp = moves ? req.data : nullptr;
        hdr.timeout = timeout;
    }

    void Classify(const sg_io_hdr_t& hdr, const std::uint8_t* sense, const std::string& command,
                  const std::string& where, const std::string& name, ExecResult& r)
    {
        r.haStat = static_cast<std::uint8_t>(hdr.host_status);
        r.targStat = hdr.status;
        // Some adapters report no residue (0) or a wrong one: keep it within the transfer.
        const long long resid = std::clamp<long long>(hdr.resid, 0, hdr.dxfer_len);
        r.transferred = static_cast<std::uint32_t>(hdr.dxfer_len - resid);
        if (hdr.host_status == kDidTimeOut || (hdr.driver_status & 0x0F) == kDriverTimeout) {
            r.srbStatus = SS_ABORTED;
            r.transferred = 0;
            r.cause = command + " on " + where + ": timed out after " + SecondsText(hdr.timeout) +
                      "; the kernel aborted it";
            Report(name, r.cause);
            return;
        }
        if (hdr.host_status == kDidNoConnect) {
            r.srbStatus = SS_NO_DEVICE;
            r.transferred = 0;
            Forget(name);
            r.cause = command + " on " + where + ": the device is gone or offline" + kGoneHint;
            Report(name, r.cause);
            return;
        }
        if (hdr.host_status != 0) {
            r.srbStatus = SS_ERR;
            r.transferred = 0;
            char text[64];
            std::snprintf(text, sizeof text, "transport error (host status 0x%02X)", hdr.host_status);
            Report(name, command + " on " + where + ": " + text);
            return;
        }
        if (hdr.status == kStatusCheckCondition || hdr.masked_status == (kStatusCheckCondition >> 1)) {
            r.srbStatus = SS_ERR;
            const std::size_t got = std::min<std::size_t>(hdr.sb_len_wr, kSenseBufferLen);
            r.senseLen = static_cast<std::uint8_t>(ToFixedSense(sense, got, r.sense, sizeof r.sense));
            lastReport_.erase(name);
            return;
        }
        if (hdr.status != kStatusGood) {
            r.srbStatus = SS_ERR;
            char text[64];
            std::snprintf(text, sizeof text, "target status 0x%02X", hdr.status);
            Report(name, command + " on " + where + ": " + text);
            return;
        }
        r.srbStatus = SS_COMP;
        lastReport_.erase(name);
    }

    static std::string SecondsText(unsigned ms)
    {
        char text[32];
        if (ms % 1000 == 0)
            std::snprintf(text, sizeof text, "%u s", ms / 1000);
        else
            std::snprintf(text, sizeof text, "%.3g s", ms / 1000.0);
        return text;
    }

    // Whether the bytes the adapter counted are real: a success, or a CHECK CONDITION whose
    // sense says data came with it.
    static bool DataCame(const ExecResult& r)
    {
        if (r.srbStatus == SS_COMP)
            return true;
        return r.srbStatus == SS_ERR && r.senseLen > 2 && (r.sense[0] & 0x7E) == 0x70 &&
               (r.sense[2] & kDataCameFlags) != 0;
    }

    // One line per failure; the same line again for the same device only after a success.
    void Report(const std::string& device, const std::string& line)
    {
        auto& last = lastReport_[device];
        if (last == line)
            return;
        last = line;
        env_.report(line);
    }

    SgEnvironment env_;
    std::vector<SgBus> buses_;  // immutable after construction

    // Used by execute only (the manager's worker thread).
    std::map<std::string, OpenNode> open_;  // by "H:C:T:L"
    std::map<std::string, std::string> lastReport_;
};

}  // namespace

double ParseTimeoutScale(const char* text)
{
    if (!text || !*text)
        return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0 || value > 1000)
        return 1.0;
    return value;
}

std::unique_ptr<Backend> CreateSgBackend(SgEnvironment env) { return std::make_unique<SgBackend>(std::move(env)); }

}  // namespace aspi
