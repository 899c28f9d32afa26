#include "platform/aspi/sg_sysfs.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

namespace aspi {
namespace fs = std::filesystem;

namespace {

template <typename T>
bool ParseDecimal(std::string_view text, T& value)
{
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// Entry names of a folder (links included: /sys/class and /sys/bus hold symlinks).
std::vector<std::string> ListDir(const std::string& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}

std::optional<unsigned> ParseHostName(const std::string& name)
{
    unsigned n;
    if (name.rfind("host", 0) != 0 || !ParseDecimal(std::string_view(name).substr(4), n))
        return std::nullopt;
    return n;
}

}  // namespace

std::optional<SgAddress> ParseDeviceName(const std::string& name)
{
    std::string_view rest(name);
    std::string_view parts[4];
    for (int i = 0; i < 3; ++i) {
        const auto colon = rest.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        parts[i] = rest.substr(0, colon);
        rest.remove_prefix(colon + 1);
    }
    parts[3] = rest;
    SgAddress a;
    if (!ParseDecimal(parts[0], a.host) || !ParseDecimal(parts[1], a.channel) ||
        !ParseDecimal(parts[2], a.target) || !ParseDecimal(parts[3], a.lun))
        return std::nullopt;
    return a;
}

std::string DeviceName(const SgAddress& a)
{
    return std::to_string(a.host) + ":" + std::to_string(a.channel) + ":" + std::to_string(a.target) + ":" +
           std::to_string(a.lun);
}

std::optional<std::string> ReadAttribute(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text;
    char buf[4096];
    in.read(buf, sizeof buf);
    if (in.bad())
        return std::nullopt;
    text.assign(buf, static_cast<std::size_t>(in.gcount()));
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

std::string DeviceDir(const std::string& sysfsRoot, const SgAddress& a)
{
    return sysfsRoot + "/bus/scsi/devices/" + DeviceName(a);
}

std::string SgNodeName(const std::string& deviceDir)
{
    std::error_code ec;
    const fs::path link = fs::read_symlink(deviceDir + "/generic", ec);
    if (!ec && link.filename().string().rfind("sg", 0) == 0)
        return link.filename().string();
    for (const std::string& name : ListDir(deviceDir + "/scsi_generic"))
        if (name.rfind("sg", 0) == 0)
            return name;
    // Kernels before class directories named the entry "scsi_generic:sgN".
    for (const std::string& name : ListDir(deviceDir))
        if (name.rfind("scsi_generic:sg", 0) == 0)
            return name.substr(std::string("scsi_generic:").size());
    return {};
}

std::vector<SgBus> ScanSgBuses(const std::string& sysfsRoot)
{
    // (host, channel) -> bus; hosts without any LUN-0 device are added afterwards.
    std::map<std::pair<unsigned, unsigned>, SgBus> buses;
    std::set<unsigned> hostsWithDevices;
    for (const std::string& name : ListDir(sysfsRoot + "/bus/scsi/devices")) {
        const auto a = ParseDeviceName(name);
        // Other LUNs (a changer behind a drive) are not addressed: requests use LUN 0.
        if (!a || a->lun != 0)
            continue;
        SgBus& bus = buses[{a->host, a->channel}];
        bus.host = a->host;
        bus.channel = a->channel;
        bus.targets.push_back(a->target);
        const auto type = ReadAttribute(DeviceDir(sysfsRoot, *a) + "/type");
        int t = -1;
        if (type && ParseDecimal(std::string_view(*type), t) && t == 1)
            bus.hasTape = true;
        hostsWithDevices.insert(a->host);
    }
    std::map<unsigned, std::string> procNames;
    const std::string hostRoot = sysfsRoot + "/class/scsi_host/";
    for (const std::string& name : ListDir(sysfsRoot + "/class/scsi_host")) {
        if (const auto host = ParseHostName(name))
            procNames[*host] = ReadAttribute(hostRoot + name + "/proc_name").value_or("");
    }

    std::vector<std::tuple<int, unsigned, unsigned, SgBus>> ordered;
    for (auto& [key, bus] : buses) {
        std::sort(bus.targets.begin(), bus.targets.end());
        bus.procName = procNames.count(bus.host) ? procNames[bus.host] : std::string();
        ordered.emplace_back(bus.hasTape ? 0 : 1, bus.host, bus.channel, bus);
    }
    for (const auto& [host, procName] : procNames) {
        if (hostsWithDevices.count(host))
            continue;
        SgBus bus;
        bus.host = host;
        bus.procName = procName;
        ordered.emplace_back(2, host, 0u, bus);
    }
    std::sort(ordered.begin(), ordered.end(), [](const auto& x, const auto& y) {
        return std::tie(std::get<0>(x), std::get<1>(x), std::get<2>(x)) <
               std::tie(std::get<0>(y), std::get<1>(y), std::get<2>(y));
    });
    std::vector<SgBus> result;
    for (auto& entry : ordered)
        result.push_back(std::move(std::get<3>(entry)));
    return result;
}

std::uint8_t TargetCount(const SgBus& bus)
{
    unsigned count = 8;
    if (!bus.targets.empty())
        count = std::max(count, bus.targets.back() + 1);
    return static_cast<std::uint8_t>(std::min(count, 255u));
}

std::uint8_t AdapterScsiId(const SgBus& bus)
{
    const auto used = [&](unsigned id) { return std::binary_search(bus.targets.begin(), bus.targets.end(), id); };
    if (!used(7))
        return 7;
    for (unsigned id = TargetCount(bus); id-- > 0;)
        if (!used(id))
            return static_cast<std::uint8_t>(id);
    const unsigned above = bus.targets.back() + 1;
    return static_cast<std::uint8_t>(std::min(above, 255u));
}

}  // namespace aspi
