#include "sim/tcmu/target_setup.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

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

}  // namespace

TargetSetup::TargetSetup(TargetNames names) : names_(std::move(names)), target_(names_.configfs + "/target") {}

TargetSetup::~TargetSetup()
{
    std::string ignored;
    remove(ignored);
}

bool TargetSetup::step(const std::string& what, int result, std::string& error)
{
    if (result == 0)
        return true;
    const int e = errno;
    error = what + ": " + std::strerror(e);
    if (e == EACCES || e == EPERM)
        error += " (run as root)";
    return false;
}

bool TargetSetup::makeDirectory(const std::string& path, std::string& error)
{
    if (::mkdir(path.c_str(), 0755) != 0) {
        const int e = errno;
        errno = e;
        if (e == EEXIST) {
            error = path + " already exists: another virtual drive is being served, or a previous one was "
                           "not taken down (remove it with rmdir, newest first)";
            return false;
        }
        return step("cannot make " + path, -1, error);
    }
    made_.push_back(path);
    return true;
}

bool TargetSetup::write(const std::string& path, const std::string& value, std::string& error)
{
    // configfs takes each attribute in one write; a short or failed write is the kernel's refusal.
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        return step("cannot open " + path, -1, error);
    const bool written = std::fwrite(value.data(), 1, value.size(), f) == value.size();
    const int e = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        errno = written ? errno : e;
        return step("the kernel refused \"" + value + "\" for " + path, -1, error);
    }
    return true;
}

bool TargetSetup::createBackstore(std::string& error)
{
    if (!IsDirectory(target_)) {
        // configfs may simply not be mounted yet (it is on a normal system, not in a bare VM).
        if (IsDirectory(names_.configfs))
            ::mount("configfs", names_.configfs.c_str(), "configfs", 0, nullptr);
        if (!IsDirectory(target_)) {
            error = "no SCSI target subsystem under " + target_ + ": " + kModules;
            return false;
        }
    }
    const std::string hba = target_ + "/core/user_0";
    if (!IsDirectory(hba)) {
        if (::mkdir(hba.c_str(), 0755) != 0) {
            const int e = errno;
            errno = e;
            if (e == ENODEV || e == ENOENT || e == EINVAL) {
                error = "the kernel has no TCMU backstores (" + hba + "): " + kModules;
                return false;
            }
            return step("cannot make " + hba, -1, error);
        }
        made_.push_back(hba);
    }
    const std::string dev = hba + "/" + names_.backstore;
    backstoreDir_ = dev;
    if (!makeDirectory(dev, error) ||
        !write(dev + "/control", "dev_config=" + names_.config, error) ||
        !write(dev + "/control", "dev_size=1048576", error) ||
        !write(dev + "/enable", "1", error))
        return false;
    return findUio(error);
}

bool TargetSetup::findUio(std::string& error)
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
        if (mapSize_ == 0) {
            error = "the backstore's UIO device " + entry.path().string() + " shows no shared area";
            return false;
        }
        return true;
    }
    error = "the kernel made the backstore but no UIO device for it under " + names_.sysfs +
            "/class/uio (is the uio module loaded?)";
    return false;
}

bool TargetSetup::exportLun(std::string& error)
{
    const std::string naa = target_ + "/loopback/" + names_.wwn;
    const std::string tpg = naa + "/tpgt_" + std::to_string(names_.tpgt);
    const std::string loopback = target_ + "/loopback";
    if (!IsDirectory(loopback)) {
        if (::mkdir(loopback.c_str(), 0755) != 0 && errno != EEXIST) {
            error = "the kernel has no tcm_loop fabric (" + loopback + "): " + kModules;
            return false;
        }
    }
    // The nexus before the LUN: a LUN made without one is scanned by nobody.
    if (!makeDirectory(naa, error) || !makeDirectory(tpg, error) ||
        !write(tpg + "/nexus", names_.initiator, error) || !makeDirectory(tpg + "/lun/lun_0", error))
        return false;
    const std::string link = tpg + "/lun/lun_0/" + names_.backstore;
    const std::string dev = target_ + "/core/user_0/" + names_.backstore;
    if (::symlink(dev.c_str(), link.c_str()) != 0)
        return step("cannot export the backstore as " + link, -1, error);
    made_.push_back(link);
    findDevice();
    if (sgNode_.empty()) {
        error = "the kernel exported the LUN but shows no sg node for it: load the sg module (modprobe sg)";
        return false;
    }
    return true;
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

bool TargetSetup::removeExport(std::string& error) { return removeUntil(backstoreDir_, error); }

bool TargetSetup::remove(std::string& error) { return removeUntil({}, error); }

bool TargetSetup::removeUntil(const std::string& keep, std::string& error)
{
    bool ok = true;
    while (!made_.empty() && made_.back() != keep) {
        const std::string path = made_.back();
        made_.pop_back();
        const int r = fs::is_symlink(path) ? ::unlink(path.c_str()) : ::rmdir(path.c_str());
        if (r != 0 && ok)
            ok = step("cannot remove " + path, -1, error);
    }
    return ok;
}

}  // namespace sim::tcmu
