// The manager's entry points and its request trace, with a scripted backend.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

#include "platform/aspi/backend.h"
#include "platform/aspi/trace.h"
#include "support/fake_backend.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

using testing_support::CheckCondition;
using testing_support::ScriptedBackend;

class ManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto owned = std::make_unique<ScriptedBackend>();
        backend = owned.get();
        testing_support::ScriptedAdapter adapter;
        adapter.inquiry.identifier = "aic7xxx";
        adapter.inquiry.scsiId = 7;
        adapter.inquiry.targetCount = 16;
        adapter.devices[3] = 1;
        backend->adapters.push_back(adapter);
        backend->answer = [this](const aspi::ExecRequest& req) { return answer(req); };
        aspi::InstallBackend(std::move(owned));
    }
    void TearDown() override
    {
        aspi::InstallBackend(nullptr);
        std::string error;
        aspi::OpenTrace("", error);
        if (!tracePath.empty())
            std::filesystem::remove(tracePath);
    }

    // Answers on the manager's thread: MODE SENSE returns 12 bytes, READ(6) a short block,
    // TEST UNIT READY "no medium", everything else GOOD.
    aspi::ExecResult answer(const aspi::ExecRequest& req)
    {
        aspi::ExecResult r;
        switch (req.cdb[0]) {
        case 0x1A: {
            const std::uint8_t mode[12] = {11, 0, 0x10, 8, 0x80, 0, 0, 0, 0, 0, 2, 0};
            std::memcpy(req.data, mode, sizeof mode);
            r.transferred = 12;
            break;
        }
        case 0x08:
            std::memset(req.data, 0x5A, 4);
            r.transferred = 4;
            break;
        case 0x00:
            r = CheckCondition(0x02, 0x3A, 0x00);
            break;
        default:
            r.transferred = req.dataLen;
        }
        return r;
    }

    void openTrace()
    {
        tracePath = (std::filesystem::temp_directory_path() / ("vantrel-trace-" + std::to_string(::getpid()))).string();
        std::string error;
        ASSERT_TRUE(aspi::OpenTrace(tracePath, error)) << error;
    }
    std::vector<std::string> traceLines() const
    {
        std::ifstream in(tracePath);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    static void Exec(std::uint8_t target, std::uint8_t flags, std::vector<std::uint8_t> cdb, std::uint8_t* data,
                     std::uint32_t len)
    {
        SRB_ExecSCSICmd srb;
        FillExecRecord(srb, 0, target, flags, cdb, data, len);
        SendAndWait(srb, data);
    }

    ScriptedBackend* backend = nullptr;
    std::string tracePath;
};

TEST_F(ManagerTest, TraceHasOneLinePerRequestInTheAgreedFormat)
{
    openTrace();
    Exec(3, 0, {0x2B, 0x04, 0x00, 0x20, 0, 0, 0, 0, 0, 0}, nullptr, 0);
    std::uint8_t mode[12] = {};
    Exec(3, SRB_DIR_IN, {0x1A, 0, 0, 0, 12, 0}, mode, 12);
    std::uint8_t select[12] = {0, 0, 0x10, 8, 0x80, 0, 0, 0, 0, 0, 2, 0};
    Exec(3, SRB_DIR_OUT, {0x15, 0x10, 0, 0, 12, 0}, select, 12);
    Exec(3, 0, {0x00, 0, 0, 0, 0, 0}, nullptr, 0);
    std::vector<std::uint8_t> frame(5822);
    Exec(3, SRB_DIR_IN, {0x08, 0, 0, 0x16, 0xBE, 0}, frame.data(), 5822);
    std::uint8_t block[8] = {};
    Exec(3, SRB_DIR_IN, {0x08, 0, 0, 0, 8, 0}, block, 8);

    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    SendASPI32Command(&inquiry);
    SRB_GDEVBlock gdev{};
    gdev.SRB_Cmd = SC_GET_DEV_TYPE;
    gdev.SRB_Target = 3;
    SendASPI32Command(&gdev);
    gdev.SRB_Target = 4;
    SendASPI32Command(&gdev);
    inquiry.SRB_HaId = 5;
    SendASPI32Command(&inquiry);

    const char* expected[] = {
        R"(0:3 EXEC 2B 04 00 20 00 00 00 00 00 00 flags=00 len=0 status=1 t=\d+)",
        R"(0:3 EXEC 1A 00 00 00 0C 00 flags=08 len=12 status=1 in=0B 00 10 08 80 00 00 00 00 00 02 00 t=\d+)",
        R"(0:3 EXEC 15 10 00 00 0C 00 flags=10 len=12 status=1 out=00 00 10 08 80 00 00 00 00 00 02 00 t=\d+)",
        R"(0:3 EXEC 00 00 00 00 00 00 flags=00 len=0 status=4 sense=70 00 02 00 00 00 00 0A 00 00 00 00 3A 00 t=\d+)",
        R"(0:3 EXEC 08 00 00 16 BE 00 flags=08 len=5822 status=1 t=\d+)",  // too long to show
        R"(0:3 EXEC 08 00 00 00 08 00 flags=08 len=8 status=1 in=5A 5A 5A 5A t=\d+)",  // what came back
        R"(0 HA_INQUIRY status=1 t=\d+)",
        R"(0:3 GET_DEV_TYPE status=1 type=1 t=\d+)",
        R"(0:4 GET_DEV_TYPE status=130 type=1 t=\d+)",
        R"(5 HA_INQUIRY status=129 t=\d+)",
    };
    const auto lines = traceLines();
    ASSERT_EQ(lines.size(), std::size(expected));
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i]))) << lines[i];
}

TEST_F(ManagerTest, TraceTimesCountFromTheManagersStart)
{
    SRB_ExecSCSICmd srb;
    const std::uint8_t locate[10] = {0x2B, 0x04, 0x00, 0x20};
    FillExecRecord(srb, 0, 3, 0, locate, nullptr, 0);
    srb.SRB_Status = SS_COMP;
    EXPECT_EQ(aspi::FormatExecTrace(srb, nullptr, 0, 5123),
              "0:3 EXEC 2B 04 00 20 00 00 00 00 00 00 flags=00 len=0 status=1 t=5123");
    EXPECT_EQ(aspi::FormatDevTypeTrace(1, 12, SS_NO_DEVICE, 0, 7), "1:12 GET_DEV_TYPE status=130 type=0 t=7");
    EXPECT_EQ(aspi::FormatInquiryTrace(2, SS_COMP, 0), "2 HA_INQUIRY status=1 t=0");
}

TEST_F(ManagerTest, PlainSendWithADataBufferIsRefusedWithoutTouchingMemory)
{
    std::uint8_t buffer[12] = {};
    SRB_ExecSCSICmd srb;
    const std::uint8_t sense6[6] = {0x1A, 0, 0, 0, 12, 0};
    FillExecRecord(srb, 0, 3, SRB_DIR_IN, sense6, buffer, sizeof buffer);
    EXPECT_EQ(SendASPI32Command(&srb), SS_INVALID_SRB);
    EXPECT_EQ(LoadStatus(srb), SS_INVALID_SRB) << "a waiting loop must not hang on it";
    EXPECT_TRUE(backend->commands().empty());

    // A record that is no execute record ends at once instead of leaving a waiter hanging.
    SRB_ExecSCSICmd wrong{};
    wrong.SRB_Cmd = SC_GET_DEV_TYPE + 7;
    EXPECT_EQ(SendASPI32CommandWithBuffer(&wrong, buffer), SS_INVALID_SRB);
    EXPECT_EQ(LoadStatus(wrong), SS_INVALID_SRB);

    // Through our entry point, with the real address, the same record works.
    FillExecRecord(srb, 0, 3, SRB_DIR_IN, sense6, buffer, sizeof buffer);
    SendAndWait(srb, buffer);
    EXPECT_EQ(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(buffer[4], 0x80);
}

TEST_F(ManagerTest, InquiryAndDeviceTypeFillTheirRecordsInPlace)
{
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    EXPECT_EQ(SendASPI32Command(&inquiry), SS_COMP);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&inquiry);
    EXPECT_EQ(raw[1], SS_COMP);
    EXPECT_EQ(raw[8], 1);   // HA_Count
    EXPECT_EQ(raw[9], 7);   // HA_SCSI_ID
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 10)), "VANTREL ASPI");
    EXPECT_EQ(std::memcmp(raw + 26, "aic7xxx\0\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(raw[45], 16);  // HA_Unique byte 3
    EXPECT_EQ(raw[58] | raw[59], 0);

    SRB_GDEVBlock gdev{};
    gdev.SRB_Cmd = SC_GET_DEV_TYPE;
    gdev.SRB_Target = 3;
    EXPECT_EQ(SendASPI32Command(&gdev), SS_COMP);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(&gdev)[10], 1);
    gdev.SRB_HaId = 1;
    EXPECT_EQ(SendASPI32Command(&gdev), SS_INVALID_HA);
}

TEST(ManagerWithoutBackend, FailsToInitialise)
{
    aspi::InstallBackend(nullptr);
    EXPECT_EQ(GetASPI32SupportInfo() >> 8 & 0xFF, SS_FAILED_INIT);
    SRB_ExecSCSICmd srb;
    const std::uint8_t tur[6] = {};
    FillExecRecord(srb, 0, 3, 0, tur, nullptr, 0);
    SendAndWait(srb, nullptr);
    EXPECT_NE(srb.SRB_Status, SS_COMP);
}

}  // namespace
