// --simulate[=FILE]: the built-in bus, a one-drive bus around a tape file, or a bus
// described in JSON.
#include "sim/simulator.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/virtual_bus.h"
#include "sim/written_tape.h"

namespace sim {
namespace {

using nlohmann::json;

// Reads one description object; every failure names the key.
class DescriptionReader {
public:
    DescriptionReader(std::string base, std::string& error) : base_(std::move(base)), error_(error) {}

    bool bus(const json& j, BusConfig& config)
    {
        if (!expectObject(j, "", {"manager_status", "read_speed", "adapters"}))
            return false;
        config.adapters.clear();
        int status = 1;
        if (!integer(j, "manager_status", "manager_status", 0, 255, status))
            return false;
        config.managerStatus = static_cast<std::uint8_t>(status);
        if (!number(j, "read_speed", "read_speed", config.readSpeed))
            return false;
        if (j.contains("adapters")) {
            const json& list = j["adapters"];
            if (!list.is_array())
                return fail("adapters", "must be a list of adapters");
            for (std::size_t i = 0; i < list.size(); ++i) {
                config.adapters.emplace_back();
                if (!adapter(list[i], "adapters[" + std::to_string(i) + "]", config.adapters.back()))
                    return false;
            }
        }
        return true;
    }

private:
    bool adapter(const json& j, const std::string& at, AdapterConfig& a)
    {
        if (!expectObject(j, at, {"identifier", "scsi_id", "targets", "devices"}))
            return false;
        if (j.contains("identifier")) {
            if (!j["identifier"].is_string() || j["identifier"].get<std::string>().size() > 16)
                return fail(at + ".identifier", "must be a text of at most 16 characters");
            a.identifier = j["identifier"].get<std::string>();
        }
        int id = a.scsiId, targets = a.targets;
        if (!integer(j, "scsi_id", at + ".scsi_id", 0, 255, id) ||
            !integer(j, "targets", at + ".targets", 0, 255, targets))
            return false;
        a.scsiId = static_cast<std::uint8_t>(id);
        a.targets = static_cast<std::uint8_t>(targets);
        if (j.contains("devices")) {
            const json& list = j["devices"];
            if (!list.is_array())
                return fail(at + ".devices", "must be a list of devices");
            for (std::size_t i = 0; i < list.size(); ++i) {
                a.devices.emplace_back();
                if (!device(list[i], at + ".devices[" + std::to_string(i) + "]", a.devices.back()))
                    return false;
            }
        }
        return true;
    }

    bool device(const json& j, const std::string& at, DriveConfig& d)
    {
        if (!expectObject(j, at,
                          {"target",
                           "type",
                           "audio",
                           "tape",
                           "becoming_ready_s",
                           "reinsert_after_eject_s",
                           "ready_at_power_on",
                           "medium_errors",
                           "concealed",
                           "corrupt_frames",
                           "retry_errors",
                           "flaky_frames",
                           "vanish_after_reads",
                           "read_timeout_at",
                           "emphasis",
                           "recording_date",
                           "running_time",
                           "vendor",
                           "product",
                           "revision",
                           "long_play",
                           "channels",
                           "lp_layout",
                           "lp_time_step",
                           "length_minutes",
                           "save_tape",
                           "write_protected",
                           "write_errors",
                           "write_corrupt"}))
            return false;
        if (!j.contains("target"))
            return fail(at + ".target", "is missing");
        int target = 0, type = 1;
        if (!integer(j, "target", at + ".target", 0, 255, target) || !integer(j, "type", at + ".type", 0, 31, type))
            return false;
        d.target = static_cast<std::uint8_t>(target);
        d.type = static_cast<std::uint8_t>(type);
        if (!boolean(j, "audio", at + ".audio", d.audio) ||
            !boolean(j, "ready_at_power_on", at + ".ready_at_power_on", d.readyAtPowerOn) ||
            !number(j, "becoming_ready_s", at + ".becoming_ready_s", d.becomingReadySeconds))
            return false;
        if (j.contains("reinsert_after_eject_s") && !j["reinsert_after_eject_s"].is_null()) {
            double s = 0;
            if (!number(j, "reinsert_after_eject_s", at + ".reinsert_after_eject_s", s))
                return false;
            d.reinsertAfterEjectSeconds = s;
        }
        if (!frameList(j, "medium_errors", at + ".medium_errors", d.mediumErrors) ||
            !frameList(j, "concealed", at + ".concealed", d.concealed) ||
            !frameList(j, "corrupt_frames", at + ".corrupt_frames", d.corruptFrames) ||
            !retryMap(j, "retry_errors", at + ".retry_errors", d.retryErrors) ||
            !retryMap(j, "flaky_frames", at + ".flaky_frames", d.flakyFrames, "pass") ||
            !optionalCount(j, "vanish_after_reads", at + ".vanish_after_reads", d.vanishAfterReads) ||
            !optionalCount(j, "read_timeout_at", at + ".read_timeout_at", d.readTimeoutAt))
            return false;
        if (!boolean(j, "write_protected", at + ".write_protected", d.writeProtected) ||
            !frameList(j, "write_errors", at + ".write_errors", d.writeErrors) ||
            !frameList(j, "write_corrupt", at + ".write_corrupt", d.writeCorrupt) ||
            !number(j, "length_minutes", at + ".length_minutes", d.lengthMinutes))
            return false;
        if (j.contains("save_tape")) {
            if (!j["save_tape"].is_string() || j["save_tape"].get<std::string>().empty())
                return fail(at + ".save_tape", "must be a file name");
            d.saveTape = path(j["save_tape"].get<std::string>());
        }
        if (!inquiryText(j, "vendor", at + ".vendor", 8, d.vendor) ||
            !inquiryText(j, "product", at + ".product", 16, d.product) ||
            !inquiryText(j, "revision", at + ".revision", 4, d.revision))
            return false;
        RecordingOptions options;
        recorded_ = false;
        if (!boolean(j, "emphasis", at + ".emphasis", options.emphasis) ||
            !boolean(j, "running_time", at + ".running_time", options.runningTime) ||
            !date(j, "recording_date", at + ".recording_date", options.date) || !nonLinear(j, at, options))
            return false;
        if (j.contains("tape") && !tape(j["tape"], at + ".tape", options, d))
            return false;
        if (options != RecordingOptions{} && !recorded_) {
            // Say which key cannot be honoured rather than dropping it.
            const char* key = options.emphasis             ? "emphasis"
                              : options.date               ? "recording_date"
                              : options.longPlay           ? "long_play"
                              : options.channels != 2      ? "channels"
                              : j.contains("lp_layout")    ? "lp_layout"
                              : j.contains("lp_time_step") ? "lp_time_step"
                                                           : "running_time";
            return fail(at + "." + key, "applies only to a tape made from audio files or the demo");
        }
        return true;
    }

    bool tape(const json& j, const std::string& at, const RecordingOptions& options, DriveConfig& d)
    {
        std::string why;
        recorded_ = false;
        if (j.is_null())
            return true;
        if (j.is_string()) {
            const std::string name = j.get<std::string>();
            if (name == "demo") {
                if (options.NonLinear())
                    return fail(at, std::string("cannot be the demo on a ") +
                                        (options.longPlay ? "long-play" : "four-channel") +
                                        " tape: the demo is 48 kHz; give 32 kHz audio files");
                d.tape = MakeDemoTape(options);
                recorded_ = true;
            } else if (name == "data") {
                d.tape = MakeDataTape();
            } else if (name == "blank") {
                d.tape = MakeBlankTape();
            } else {
                // A dump with recording options is refused by the loader with the reason.
                if (!(d.tape = LoadTapeFile(path(name), why, options)))
                    return fail(at, "cannot be loaded: " + why);
                recorded_ = true;
            }
            return true;
        }
        if (j.is_array() && !j.empty()) {
            std::vector<std::string> files;
            for (const json& f : j) {
                if (!f.is_string())
                    return fail(at, "a list of tapes must hold file names only");
                files.push_back(path(f.get<std::string>()));
            }
            if (!(d.tape = LoadAudioFiles(files, why, options)))
                return fail(at, "cannot be loaded: " + why);
            recorded_ = true;
            return true;
        }
        return fail(at, "must be \"demo\", \"data\", \"blank\", a file name, a list of audio file names or null");
    }

    // Long play and the four-channel mode: 32 kHz tapes of 12-bit codes.
    bool nonLinear(const json& j, const std::string& at, RecordingOptions& options)
    {
        int channels = 2, step = 1;
        if (!boolean(j, "long_play", at + ".long_play", options.longPlay) ||
            !integer(j, "lp_time_step", at + ".lp_time_step", 1, 2, step))
            return false;
        if (j.contains("channels") && !(j["channels"].is_number_integer() &&
                                        (j["channels"].get<long long>() == 2 || j["channels"].get<long long>() == 4)))
            return fail(at + ".channels", "must be 2 or 4");
        if (!integer(j, "channels", at + ".channels", 2, 4, channels))
            return false;
        options.channels = static_cast<unsigned>(channels);
        options.lpTimeStep = static_cast<unsigned>(step);
        if (j.contains("lp_layout")) {
            const std::optional<dat::NonLinearLayout> layout =
                j["lp_layout"].is_string() ? dat::LayoutNamed(j["lp_layout"].get<std::string>()) : std::nullopt;
            if (!layout)
                return fail(at + ".lp_layout", "must be \"a\", \"b\", \"a-swapped\" or \"b-swapped\"");
            options.lpLayout = *layout;
        }
        if (options.longPlay && options.channels == 4)
            return fail(at + ".channels", "must be 2 on a long-play tape (four channels run at normal speed)");
        if (!options.NonLinear() && j.contains("lp_layout"))
            return fail(at + ".lp_layout", "applies only to a long-play or four-channel tape");
        if (!options.longPlay && j.contains("lp_time_step"))
            return fail(at + ".lp_time_step", "applies only to a long-play tape");
        return true;
    }

    std::string path(const std::string& name) const
    {
        const std::filesystem::path p(name);
        return p.is_absolute() || base_.empty() ? name : (std::filesystem::path(base_) / p).string();
    }

    bool expectObject(const json& j, const std::string& at, std::initializer_list<const char*> keys)
    {
        if (!j.is_object())
            return fail(at.empty() ? "the description" : at, "must be an object");
        for (const auto& item : j.items()) {
            bool known = false;
            for (const char* k : keys)
                known = known || item.key() == k;
            if (!known)
                return fail(at.empty() ? item.key() : at + "." + item.key(), "is not a known key");
        }
        return true;
    }

    bool integer(const json& j, const char* key, const std::string& at, int low, int high, int& out)
    {
        if (!j.contains(key))
            return true;
        const json& v = j[key];
        if (!v.is_number_integer() || v.get<long long>() < low || v.get<long long>() > high)
            return fail(at, "must be a whole number from " + std::to_string(low) + " to " + std::to_string(high));
        out = static_cast<int>(v.get<long long>());
        return true;
    }

    bool number(const json& j, const char* key, const std::string& at, double& out)
    {
        if (!j.contains(key))
            return true;
        const json& v = j[key];
        if (!v.is_number() || v.get<double>() < 0 || v.get<double>() > 1e6)
            return fail(at, "must be a number, 0 or more");
        out = v.get<double>();
        return true;
    }

    bool boolean(const json& j, const char* key, const std::string& at, bool& out)
    {
        if (!j.contains(key))
            return true;
        if (!j[key].is_boolean())
            return fail(at, "must be true or false");
        out = j[key].get<bool>();
        return true;
    }

    // INQUIRY fields are space-padded ASCII; anything else would garble the kernel's and the
    // program's view of the drive.
    bool inquiryText(const json& j, const char* key, const std::string& at, std::size_t max, std::string& out)
    {
        if (!j.contains(key))
            return true;
        const std::string why = "must be a text of 1 to " + std::to_string(max) + " printable ASCII characters";
        if (!j[key].is_string())
            return fail(at, why);
        const std::string text = j[key].get<std::string>();
        if (text.empty() || text.size() > max)
            return fail(at, why);
        for (const char c : text)
            if (c < 0x20 || c > 0x7E)
                return fail(at, why);
        out = text;
        return true;
    }

    // "YYYY-MM-DD hh:mm:ss" (or with a T between), a real calendar date.
    bool date(const json& j, const char* key, const std::string& at, std::optional<RecordingDate>& out)
    {
        if (!j.contains(key) || j[key].is_null())
            return true;
        const char* format = "must be a date and time \"YYYY-MM-DD hh:mm:ss\"";
        if (!j[key].is_string())
            return fail(at, format);
        const std::string text = j[key].get<std::string>();
        int y = 0;
        unsigned mo = 0, d = 0, h = 0, mi = 0, s = 0;
        char sep = 0;
        int used = 0;
        bool digits = text.size() == 19;
        for (std::size_t i = 0; digits && i < text.size(); ++i) {
            const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
            digits = separator || std::isdigit(static_cast<unsigned char>(text[i]));
        }
        if (!digits ||
            std::sscanf(text.c_str(), "%4d-%2u-%2u%c%2u:%2u:%2u%n", &y, &mo, &d, &sep, &h, &mi, &s, &used) != 7 ||
            used != 19 || (sep != ' ' && sep != 'T'))
            return fail(at, format);
        const std::chrono::year_month_day ymd{std::chrono::year{y} / std::chrono::month{mo} / std::chrono::day{d}};
        if (!ymd.ok() || h > 23 || mi > 59 || s > 59)
            return fail(at, std::string(format) + " that exists, not \"" + text + "\"");
        out = RecordingDate{y, mo, d, h, mi, s};
        return true;
    }

    bool frameList(const json& j, const char* key, const std::string& at, std::vector<std::uint64_t>& out)
    {
        if (!j.contains(key))
            return true;
        const json& v = j[key];
        if (!v.is_array())
            return fail(at, "must be a list of frame numbers");
        for (const json& n : v) {
            if (!n.is_number_unsigned())
                return fail(at, "must be a list of frame numbers (whole numbers, 0 or more)");
            out.push_back(n.get<std::uint64_t>());
        }
        return true;
    }

    // {"frame": failures, ...}: JSON keys are texts, so the frame numbers are decimal texts.
    // {"frame": passes, ...} for `noun` "pass".
    bool retryMap(const json& j, const char* key, const std::string& at, std::map<std::uint64_t, std::uint32_t>& out,
                  const std::string& noun = "failure")
    {
        if (!j.contains(key))
            return true;
        const json& v = j[key];
        const std::string format = "must be an object of frame numbers and " + noun +
                                   " counts, such as {\"1234\": " + (noun == "pass" ? "1" : "2") + "}";
        if (!v.is_object())
            return fail(at, format);
        for (const auto& item : v.items()) {
            const std::string& name = item.key();
            const bool digits = !name.empty() && name.size() <= 18 &&
                                std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits)
                return fail(at + "." + name, "is not a frame number (a whole number, 0 or more)");
            const json& count = item.value();
            if (!count.is_number_unsigned() || count.get<std::uint64_t>() < 1 || count.get<std::uint64_t>() > 65535)
                return fail(at + "." + name, "must be a " + noun + " count from 1 to 65535");
            out[std::stoull(name)] = static_cast<std::uint32_t>(count.get<std::uint64_t>());
        }
        return true;
    }

    // A whole number, 0 or more, or null for none.
    bool optionalCount(const json& j, const char* key, const std::string& at, std::optional<std::uint64_t>& out)
    {
        if (!j.contains(key) || j[key].is_null())
            return true;
        if (!j[key].is_number_unsigned())
            return fail(at, "must be a whole number, 0 or more, or null");
        out = j[key].get<std::uint64_t>();
        return true;
    }

    bool fail(const std::string& key, const std::string& why)
    {
        error_ = key == "the description" ? key + " " + why : "\"" + key + "\" " + why;
        return false;
    }

    std::string base_;
    std::string& error_;
    bool recorded_ = false;  // the last tape read was made from audio files or the demo
};

bool EndsWithJson(const std::string& path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".json";
}

bool ConfigFromDescription(const std::string& path, BusConfig& config, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    const std::string base = std::filesystem::path(path).parent_path().string();
    if (!ParseBusDescription(text.str(), base, config, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

}  // namespace

bool ParseBusDescription(const std::string& jsonText, const std::string& baseDirectory, BusConfig& config,
                         std::string& error)
{
    json j;
    try {
        j = json::parse(jsonText);
    } catch (const json::exception& e) {  // a syntax error, or a number too large (out_of_range)
        error = std::string("not valid JSON: ") + e.what();
        return false;
    }
    DescriptionReader reader(baseDirectory, error);
    return reader.bus(j, config);
}

bool SimulatedBusConfig(const std::string& argument, BusConfig& config, std::string& error)
{
    config = DefaultBusConfig();
    if (argument.empty())
        return true;
    if (EndsWithJson(argument)) {
        config = BusConfig{};
        return ConfigFromDescription(argument, config, error);
    }
    auto tape = LoadTapeFile(argument, error);
    if (!tape)
        return false;
    config.adapters[0].devices[0].tape = tape;
    return true;
}

std::unique_ptr<aspi::Backend> CreateSimulatedBus(const std::string& argument, std::string& error)
{
    BusConfig config;
    if (!SimulatedBusConfig(argument, config, error))
        return nullptr;
    auto bus = CreateBus(config, error);
    if (!bus && EndsWithJson(argument))
        error = argument + ": " + error;
    return bus;
}

}  // namespace sim
