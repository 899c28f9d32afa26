// Test doubles of the manager's backend.
//  - ScriptedBackend: adapters and devices described in code, every execute answered by a
//    function of the test (GOOD by default), every command recorded.
//  - RecordingBackend: wraps another backend (the virtual bus) and records what went out.
// Both are installed with aspi::InstallBackend; keep a raw pointer to read the record.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/aspi/backend.h"

namespace testing_support {

struct SentCommand {
    std::uint8_t adapter = 0, target = 0;
    std::vector<std::uint8_t> cdb;
    aspi::Direction direction = aspi::Direction::None;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> dataOut;  // for data-out commands
};

// An outcome with CHECK CONDITION and fixed-format sense data.
inline aspi::ExecResult CheckCondition(std::uint8_t senseByte2, std::uint8_t asc, std::uint8_t ascq)
{
    aspi::ExecResult r;
    r.srbStatus = SS_ERR;
    r.targStat = 0x02;
    r.sense[0] = 0x70;
    r.sense[2] = senseByte2;
    r.sense[7] = 10;
    r.sense[12] = asc;
    r.sense[13] = ascq;
    r.senseLen = 18;
    return r;
}

inline aspi::ExecResult WithStatus(std::uint8_t srbStatus)
{
    aspi::ExecResult r;
    r.srbStatus = srbStatus;
    return r;
}

// Keeps the list of commands; execute() runs on the manager's thread, reads on the test's.
class CommandLog {
public:
    void add(const aspi::ExecRequest& req)
    {
        SentCommand c;
        c.adapter = req.adapter;
        c.target = req.target;
        c.cdb.assign(req.cdb, req.cdb + req.cdbLen);
        c.direction = req.direction;
        c.length = req.dataLen;
        if (req.direction == aspi::Direction::Out && req.data)
            c.dataOut.assign(req.data, req.data + req.dataLen);
        std::lock_guard lock(mutex_);
        commands_.push_back(std::move(c));
    }
    std::vector<SentCommand> commands() const
    {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        commands_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<SentCommand> commands_;
};

struct ScriptedAdapter {
    aspi::AdapterInquiry inquiry;
    std::map<std::uint8_t, std::uint8_t> devices;  // target -> peripheral type
};

class ScriptedBackend final : public aspi::Backend, public CommandLog {
public:
    // Set before installing, or from the test's thread while no command is pending.
    std::uint32_t support = std::uint32_t{SS_COMP} << 8;  // adapter count added from `adapters`
    bool countAdapters = true;
    std::vector<ScriptedAdapter> adapters;
    // Answers an execute; `data` may be filled for data-in commands. Default: GOOD, no data.
    std::function<aspi::ExecResult(const aspi::ExecRequest&)> answer;

    std::uint32_t supportInfo() override
    {
        return countAdapters ? (support & 0xFF00) | static_cast<std::uint32_t>(adapters.size() & 0xFF) : support;
    }
    std::uint8_t inquiry(std::uint8_t adapter, aspi::AdapterInquiry& out) override
    {
        if (adapter >= adapters.size())
            return SS_INVALID_HA;
        out = adapters[adapter].inquiry;
        return SS_COMP;
    }
    std::uint8_t deviceType(std::uint8_t adapter, std::uint8_t target, std::uint8_t, std::uint8_t& type) override
    {
        if (adapter >= adapters.size())
            return SS_INVALID_HA;
        auto it = adapters[adapter].devices.find(target);
        if (it == adapters[adapter].devices.end())
            return SS_NO_DEVICE;
        type = it->second;
        return SS_COMP;
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override
    {
        add(req);
        if (answer)
            return answer(req);
        aspi::ExecResult r;
        r.transferred = req.dataLen;
        return r;
    }
};

class RecordingBackend final : public aspi::Backend, public CommandLog {
public:
    explicit RecordingBackend(std::unique_ptr<aspi::Backend> inner) : inner_(std::move(inner)) {}
    aspi::Backend& inner() { return *inner_; }

    std::uint32_t supportInfo() override { return inner_->supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override { return inner_->inquiry(a, out); }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t l, std::uint8_t& type) override
    {
        return inner_->deviceType(a, t, l, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override
    {
        add(req);
        return inner_->execute(req);
    }
    void cancel() override { inner_->cancel(); }

private:
    std::unique_ptr<aspi::Backend> inner_;
};

}  // namespace testing_support
