// Running Main against a bus described in code: the scripted backend behind a wrapper that
// also logs inquiries and device-type requests (and can make them fail), fatal ends recorded
// by an end handler that comes back (as the window-less modes' does), messages captured, the
// presenter counted.
#pragma once

#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/message_box.h"
#include "support/fake_backend.h"
#include "deck/drive_probe.h"
#include "transport/drive_state.h"
#include "transport/startup.h"

namespace startup_test {

using testing_support::CheckCondition;
using testing_support::ScriptedAdapter;
using testing_support::SentCommand;
using testing_support::WithStatus;

class LoggedBus final : public aspi::Backend {
public:
    testing_support::ScriptedBackend scripted;
    std::vector<std::uint8_t> inquiries;                           // adapter numbers
    std::vector<std::pair<std::uint8_t, std::uint8_t>> typeQueries;  // adapter, target
    std::map<std::uint8_t, std::uint8_t> inquiryStatus;            // adapter -> forced status
    std::map<std::pair<std::uint8_t, std::uint8_t>, std::uint8_t> typeStatus;  // forced status
    std::string hint;  // what noAdapterHint says

    std::uint32_t supportInfo() override { return scripted.supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override
    {
        inquiries.push_back(a);
        if (auto it = inquiryStatus.find(a); it != inquiryStatus.end())
            return it->second;
        return scripted.inquiry(a, out);
    }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t lun, std::uint8_t& type) override
    {
        typeQueries.emplace_back(a, t);
        if (auto it = typeStatus.find({a, t}); it != typeStatus.end())
            return it->second;
        return scripted.deviceType(a, t, lun, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override { return scripted.execute(req); }
    std::string noAdapterHint() override { return hint; }
};

inline ScriptedAdapter Adapter(const std::string& identifier, std::uint8_t scsiId, std::uint8_t targets,
                               std::map<std::uint8_t, std::uint8_t> devices = {})
{
    ScriptedAdapter a;
    a.inquiry.identifier = identifier;
    a.inquiry.scsiId = scsiId;
    a.inquiry.targetCount = targets;
    a.devices = std::move(devices);
    return a;
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<LoggedBus>();
        bus = owned.get();
        aspi::InstallBackend(std::move(owned));
        ResetDriveState();
        ui::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        ui::SetEndHandler([this](int status) { ends.push_back(status); });
        SetDeckPresenter([this] { ++presented; });
        SetProbeCommands(AudioDriveProbe());
    }
    void TearDown() override
    {
        ui::SetMessageSink({});
        ui::SetEndHandler({});
        SetDeckPresenter({});
        SetDiscoveryInterrupt({});
        SetTellKnownCauses(true);
        aspi::InstallBackend(nullptr);
        ResetDriveState();
    }

    // Runs Main; the exit status when it ended the program, nothing when it handed over.
    // Main returns after the end it asks for: it never asks twice, nor hands over after it.
    std::optional<int> RunMain()
    {
        ends.clear();
        const int presentedBefore = presented;
        Main();
        EXPECT_LE(ends.size(), 1u) << "Main went on after ending the program";
        if (ends.empty())
            return std::nullopt;
        EXPECT_EQ(presented, presentedBefore) << "Main handed over after ending the program";
        return ends.front();
    }

    void ExpectFatal(const std::string& message)
    {
        EXPECT_EQ(RunMain(), std::optional<int>(1));
        EXPECT_EQ(messages, std::vector<std::string>{message});
        EXPECT_EQ(presented, 0);
    }

    std::vector<SentCommand> Sent() const { return bus->scripted.commands(); }

    LoggedBus* bus = nullptr;
    std::vector<std::string> messages;
    std::vector<int> ends;  // the statuses Main ended the program with
    int presented = 0;
};

inline constexpr const char* kNotFound = "An audio-capable tape drive was not found. Program will exit.";
inline constexpr const char* kNoManager = "Could not initialize ASPI Manager (WNASPI32.DLL). Program will terminate.";
inline constexpr std::uint8_t kTape = 1;

}  // namespace startup_test
