// A scripted drive at 0:4 for the command routines: every command sent is recorded, the
// answer comes from the test, and message boxes are captured instead of shown.
#pragma once

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/message_box.h"
#include "support/fake_backend.h"

namespace tape_test {

using testing_support::SentCommand;

inline constexpr std::uint8_t kAdapter = 0;
inline constexpr std::uint8_t kTarget = 4;

class TapeCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto backend = std::make_unique<testing_support::ScriptedBackend>();
        backend->adapters.push_back({});
        backend->adapters[0].devices[kTarget] = 1;
        bus = backend.get();
        aspi::InstallBackend(std::move(backend));
        ui::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    }
    void TearDown() override
    {
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
    }

    // Every command is answered with `result`.
    void AnswerAll(const aspi::ExecResult& result)
    {
        bus->answer = [result](const aspi::ExecRequest&) { return result; };
    }

    // The one command the routine sent.
    SentCommand OnlyCommand() const
    {
        const auto sent = bus->commands();
        EXPECT_EQ(sent.size(), 1u);
        return sent.empty() ? SentCommand{} : sent.front();
    }

    testing_support::ScriptedBackend* bus = nullptr;
    std::vector<std::string> messages;
};

inline std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> b) { return b; }

}  // namespace tape_test
