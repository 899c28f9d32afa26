// The console window on a scripted drive at 0:4: commands are recorded, answers come from
// the test, message boxes are captured instead of shown.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/frm_main.h"
#include "console/output_box.h"
#include "platform/ui/message_box.h"
#include "support/fake_backend.h"
#include "transport/drive_state.h"

namespace console_test {

using testing_support::SentCommand;

inline constexpr std::uint8_t kAdapter = 0;
inline constexpr std::uint8_t kTarget = 4;

inline std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> b) { return b; }

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDriveState();
        AspiAdapter = kAdapter;
        AspiTarget = kTarget;
        auto backend = std::make_unique<testing_support::ScriptedBackend>();
        backend->adapters.push_back({});
        backend->adapters[0].inquiry.identifier = "VIRTUAL SCSI";
        backend->adapters[0].inquiry.scsiId = 7;
        backend->adapters[0].inquiry.targetCount = 8;
        backend->adapters[0].devices[kTarget] = 1;
        bus = backend.get();
        aspi::InstallBackend(std::move(backend));
        ui::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        window = std::make_unique<frmMain>();
    }
    void TearDown() override
    {
        window.reset();
        ui::SetMessageSink({});
        aspi::InstallBackend(nullptr);
        ResetDriveState();
    }

    QPushButton* Button(const char* name) const
    {
        auto* b = window->findChild<QPushButton*>(QString::fromLatin1(name));
        EXPECT_NE(b, nullptr) << name;
        return b;
    }
    QLineEdit* TextBox(const char* name) const
    {
        auto* t = window->findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_NE(t, nullptr) << name;
        return t;
    }
    // Clicks a button; its handler has run to its end when this returns.
    void Press(const char* name) const { Button(name)->click(); }
    void Type(const char* textBox, const char* text) const { TextBox(textBox)->setText(QString::fromLatin1(text)); }
    std::string Output() const
    {
        return window->findChild<OutputBox*>(QStringLiteral("picOutput"))->text().toStdString();
    }

    // Data-in commands with opcode `opcode` get `data`; everything else completes (GOOD).
    void AnswerData(std::uint8_t opcode, std::vector<std::uint8_t> data)
    {
        bus->answer = [opcode, data](const aspi::ExecRequest& req) {
            aspi::ExecResult r;
            if (req.cdbLen > 0 && req.cdb[0] == opcode && req.data) {
                const std::size_t n = std::min<std::size_t>(data.size(), req.dataLen);
                std::memcpy(req.data, data.data(), n);
                r.transferred = static_cast<std::uint32_t>(n);
            }
            return r;
        };
    }
    void AnswerAll(const aspi::ExecResult& result)
    {
        bus->answer = [result](const aspi::ExecRequest&) { return result; };
    }
    std::vector<SentCommand> Sent() const { return bus->commands(); }

    testing_support::ScriptedBackend* bus = nullptr;
    std::vector<std::string> messages;
    std::unique_ptr<frmMain> window;
};

}  // namespace console_test
