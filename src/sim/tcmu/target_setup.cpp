#include "sim/tcmu/target_setup.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/io/unique_fd.h"

namespace sim::tcmu {
namespace fs = std::filesystem;
namespace {

std::string ReadLine(const fs::path& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool IsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char* kModules = "load the kernel's target modules first (as root: modprobe target_core_user tcm_loop)";

// `what` failed with errno `e`; a refused permission says how to get it.
Status Failure(const std::string& what, int e)
{
    std::string message = what + ": " + std::strerror(e);
    if (e == EACCES || e == EPERM)
        message += " (run as root)";
    return Status::Error(std::move(message));
}

}  // namespace

TargetSetup::TargetSetup(TargetNames names) : names_(std::move(names)), target_(names_.configfs + "/target") {}

TargetSetup::~TargetSetup()
{
    // Nothing to tell from here: what could not be removed stays, and the next run names it.
    static_cast<void>(remove());
}

Status TargetSetup::makeDirectory(const std::string& path)
{
    if (::mkdir(path.c_str(), 0755) != 0) {
        const int e = errno;
        if (e == EEXIST)
            return Status::Error(path + " already exists: another virtual drive is being served, or a previous one "
                                        "was not taken down (remove it with rmdir, newest first)");
        return Failure("cannot make " + path, e);
    }
    made_.push_back(path);
    return Status::Ok();
}

Status TargetSetup::write(const std::string& path, const std::string& value)
{
    // configfs takes each attribute in one write; a short or failed write is the kernel's refusal.
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd)
        return Failure("cannot open " + path, errno);
    const bool written = ::write(fd.get(), value.data(), value.size()) == static_cast<ssize_t>(value.size());
    const int e = errno;
    const bool closed = fd.close();
    if (!written || !closed)
        return Failure("the kernel refused \"" + value + "\" for " + path, written ? errno : e);
    return Status::Ok();
}

Status TargetSetup::createBackstore()
{
    if (!IsDirectory(target_)) {
        // configfs may simply not be mounted yet (it is on a normal system, not in a bare VM).
        if (IsDirectory(names_.configfs))
            ::mount("configfs", names_.configfs.c_str(), "configfs", 0, nullptr);
        if (!IsDirectory(target_))
            return Status::Error("no SCSI target subsystem under " + target_ + ": " + kModules);
    }
    const std::string hba = target_ + "/core/user_0";
    if (!IsDirectory(hba)) {
        if (::mkdir(hba.c_str(), 0755) != 0) {
            const int e = errno;
            if (e == ENODEV || e == ENOENT || e == EINVAL)
                return Status::Error("the kernel has no TCMU backstores (" + hba + "): " + kModules);
            return Failure("cannot make " + hba, e);
        }
        made_.push_back(hba);
    }
    const std::string dev = hba + "/" + names_.backstore;
    backstoreDir_ = dev;
    if (Status made = makeDirectory(dev); !made)
        return made;
    if (Status written = write(dev + "/control", "dev_config=" + names_.config); !written)
        return written;
    if (Status written = write(dev + "/control", "dev_size=1048576"); !written)
        return written;
    if (Status written = write(dev + "/enable", "1"); !written)
        return written;
    return findUio();
}

Status TargetSetup::findUio()
{
    // The ring's UIO device is named "tcm-user/<hba>/<backstore>/<dev_config>".
    const std::string tail = "/" + names_.backstore + "/" + names_.config;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(names_.sysfs + "/class/uio", ec)) {
        const std::string name = ReadLine(entry.path() / "name");
        if (name.rfind("tcm-user/", 0) != 0 || name.size() < tail.size() ||
            name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
            continue;
        uio_ = names_.devices + "/" + entry.path().filename().string();
        std::string size = ReadLine(entry.path() / "maps/map0/size");
        mapSize_ = static_cast<std::size_t>(std::strtoull(size.c_str(), nullptr, 0));
        if (mapSize_ == 0)
            return Status::Error("the backstore's UIO device " + entry.path().string() + " shows no shared area");
        return Status::Ok();
    }
    return Status::Error("the kernel made the backstore but no UIO device for it under " + names_.sysfs +
                         "/class/uio (is the uio module loaded?)");
}

Status TargetSetup::exportLun()
{
    const std::string naa = target_ + "/loopback/" + names_.wwn;
    const std::string tpg = naa + "/tpgt_" + std::to_string(names_.tpgt);
    const std::string loopback = target_ + "/loopback";
    if (!IsDirectory(loopback)) {
        if (::mkdir(loopback.c_str(), 0755) != 0 && errno != EEXIST)
            return Status::Error("the kernel has no tcm_loop fabric (" + loopback + "): " + kModules);
    }
    // The nexus before the LUN: a LUN made without one is scanned by nobody.
    if (Status made = makeDirectory(naa); !made)
        return made;
    if (Status made = makeDirectory(tpg); !made)
        return made;
    if (Status written = write(tpg + "/nexus", names_.initiator); !written)
        return written;
    if (Status made = makeDirectory(tpg + "/lun/lun_0"); !made)
        return made;
    const std::string link = tpg + "/lun/lun_0/" + names_.backstore;
    const std::string dev = target_ + "/core/user_0/" + names_.backstore;
    if (::symlink(dev.c_str(), link.c_str()) != 0)
        return Failure("cannot export the backstore as " + link, errno);
    made_.push_back(link);
    findDevice();
    if (sgNode_.empty())
        return Status::Error(
            "the kernel exported the LUN but shows no sg node for it: load the sg module (modprobe sg)");
    return Status::Ok();
}

void TargetSetup::findDevice()
{
    // tcm_loop makes one SCSI host per target; its device is at channel 0, target <tpgt>, LUN 0.
    std::string address = ReadLine(target_ + "/loopback/" + names_.wwn + "/tpgt_" +
                                   std::to_string(names_.tpgt) + "/address");
    if (address.empty()) {
        // Older kernels have no address attribute: the newest tcm_loop host with that target.
        std::error_code ec;
        int newest = -1;
        for (const auto& entry : fs::directory_iterator(names_.sysfs + "/class/scsi_host", ec)) {
            const std::string host = entry.path().filename().string();
            if (ReadLine(entry.path() / "proc_name") != "tcm_loop" || host.rfind("host", 0) != 0)
                continue;
            const int n = std::atoi(host.c_str() + 4);
            const std::string candidate = std::to_string(n) + ":0:" + std::to_string(names_.tpgt);
            if (n > newest && fs::exists(names_.sysfs + "/bus/scsi/devices/" + candidate + ":0")) {
                newest = n;
                address = candidate;
            }
        }
        if (address.empty())
            return;
    }
    address_ = address + ":0";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(names_.sysfs + "/bus/scsi/devices/" + address_ + "/scsi_generic", ec)) {
        sgNode_ = names_.devices + "/" + entry.path().filename().string();
        break;
    }
}

Status TargetSetup::removeExport() { return removeUntil(backstoreDir_); }

Status TargetSetup::remove() { return removeUntil({}); }

Status TargetSetup::removeUntil(const std::string& keep)
{
    Status first;
    while (!made_.empty() && made_.back() != keep) {
        const std::string path = made_.back();
        made_.pop_back();
        const int r = fs::is_symlink(path) ? ::unlink(path.c_str()) : ::rmdir(path.c_str());
        if (r != 0 && first)
            first = Failure("cannot remove " + path, errno);
    }
    return first;
}

}  // namespace sim::tcmu
