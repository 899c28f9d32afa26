// A sysfs tree as the kernel lays it out, built in a temporary folder: devices under
// devices/<parent>/hostN/targetH:C:T/H:C:T:L with their attributes, reached through the
// symlinks of class/ and bus/, and an sg node per device unless the sg module is "not
// loaded" for it. Text attributes end in "\n" and vendor/model/rev are space-padded, as
// the kernel writes them.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace testing_support {

class FakeSysfs {
public:
    FakeSysfs()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vantrel-sysfs-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
        std::filesystem::create_directories(sysfs() + "/class/scsi_host");
        std::filesystem::create_directories(sysfs() + "/class/scsi_device");
        std::filesystem::create_directories(sysfs() + "/bus/scsi/devices");
        std::filesystem::create_directories(dev());
    }
    ~FakeSysfs()
    {
        std::error_code ec;
        if (!root_.empty())
            std::filesystem::remove_all(root_, ec);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    bool ok() const { return !root_.empty(); }
    std::string root() const { return root_; }
    std::string sysfs() const { return root_ + "/sys"; }
    std::string dev() const { return root_ + "/dev"; }

    // A host; `procName` as the driver names itself ("(null)" for a driver without a name).
    void addHost(unsigned host, const std::string& procName)
    {
        const std::string dir = hostDir(host);
        const std::string cls = dir + "/scsi_host/host" + std::to_string(host);
        std::filesystem::create_directories(cls);
        write(cls + "/proc_name", procName + "\n");
        write(cls + "/unique_id", "0\n");
        write(cls + "/can_queue", "1\n");
        write(cls + "/cmd_per_lun", "1\n");
        write(cls + "/sg_tablesize", "128\n");
        write(cls + "/host_busy", "0\n");
        write(cls + "/state", "running\n");
        write(cls + "/supported_mode", "Initiator\n");
        write(cls + "/active_mode", "Initiator\n");
        link(cls, sysfs() + "/class/scsi_host/host" + std::to_string(host));
        link(dir, sysfs() + "/bus/scsi/devices/host" + std::to_string(host));
    }

    // A device at H:C:T:L of peripheral `type`, with sg node `sg` (none: sg not loaded).
    void addDevice(unsigned h, unsigned c, unsigned t, std::uint64_t l, int type, const std::string& vendor,
                   const std::string& model, const std::string& rev, std::optional<unsigned> sg)
    {
        const std::string hct = std::to_string(h) + ":" + std::to_string(c) + ":" + std::to_string(t);
        const std::string name = hct + ":" + std::to_string(l);
        const std::string target = hostDir(h) + "/target" + hct;
        const std::string dir = target + "/" + name;
        std::filesystem::create_directories(dir + "/scsi_device/" + name);
        write(dir + "/type", std::to_string(type) + "\n");
        write(dir + "/vendor", pad(vendor, 8) + "\n");
        write(dir + "/model", pad(model, 16) + "\n");
        write(dir + "/rev", pad(rev, 4) + "\n");
        write(dir + "/scsi_level", "3\n");
        write(dir + "/state", "running\n");
        write(dir + "/timeout", "30\n");
        write(dir + "/device_blocked", "0\n");
        write(dir + "/queue_depth", "1\n");
        write(dir + "/iorequest_cnt", "0x1a\n");
        write(dir + "/iodone_cnt", "0x1a\n");
        write(dir + "/ioerr_cnt", "0x0\n");
        link(dir + "/scsi_device/" + name, sysfs() + "/class/scsi_device/" + name);
        link(target, sysfs() + "/bus/scsi/devices/target" + hct, true);
        link(dir, sysfs() + "/bus/scsi/devices/" + name);
        if (sg) {
            const std::string node = "sg" + std::to_string(*sg);
            const std::string sgDir = dir + "/scsi_generic/" + node;
            std::filesystem::create_directories(sgDir);
            std::filesystem::create_directories(sysfs() + "/class/scsi_generic");
            write(sgDir + "/dev", "21:" + std::to_string(*sg) + "\n");
            link(dir, sgDir + "/device");
            link(sgDir, dir + "/generic");
            link(sgDir, sysfs() + "/class/scsi_generic/" + node);
            write(dev() + "/" + node, "");
        }
    }

    // The device's folder, through its bus link.
    std::string deviceDir(const std::string& name) const { return sysfs() + "/bus/scsi/devices/" + name; }

private:
    std::string hostDir(unsigned host) const
    {
        return sysfs() + "/devices/pci0000:00/0000:00:1f.2/host" + std::to_string(host);
    }

    static std::string pad(std::string text, std::size_t width)
    {
        text.resize(std::max(width, text.size()), ' ');
        return text;
    }

    static void write(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    // A relative symlink at `at` pointing to `to`, as the kernel makes them.
    static void link(const std::string& to, const std::string& at, bool mayExist = false)
    {
        const std::filesystem::path from = std::filesystem::path(at).parent_path();
        std::error_code ec;
        if (mayExist && std::filesystem::is_symlink(at, ec))
            return;
        std::filesystem::create_directory_symlink(std::filesystem::path(to).lexically_relative(from), at);
    }

    std::string root_;
};

}  // namespace testing_support
