// Get Device Type: one line per target of the adapter typed in txtAdapterNum.
#include <mutex>

#include "console/device_listing.h"
#include "console_fixture.h"

namespace console_test {
namespace {

// Passes everything to a scripted bus and notes which targets were asked for their type.
class TypeRequestLog final : public aspi::Backend {
public:
    explicit TypeRequestLog(std::unique_ptr<testing_support::ScriptedBackend> inner) : inner_(std::move(inner)) {}
    std::uint32_t supportInfo() override { return inner_->supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override { return inner_->inquiry(a, out); }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t l, std::uint8_t& type) override
    {
        {
            std::lock_guard lock(mutex_);
            asked_.push_back(t);
        }
        if (answer)
            return answer(t, type);
        return inner_->deviceType(a, t, l, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& r) override { return inner_->execute(r); }
    std::vector<std::uint8_t> asked() const
    {
        std::lock_guard lock(mutex_);
        return asked_;
    }
    // Replaces the scripted answer (set before the listing runs).
    std::function<std::uint8_t(std::uint8_t target, std::uint8_t& type)> answer;

private:
    std::unique_ptr<testing_support::ScriptedBackend> inner_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> asked_;
};

class DeviceListingTest : public ConsoleTest {
protected:
    void SetUp() override
    {
        ConsoleTest::SetUp();
        auto scripted = std::make_unique<testing_support::ScriptedBackend>();
        scripted->adapters.resize(2);
        scripted->adapters[0].inquiry.identifier = "VIRTUAL SCSI";
        scripted->adapters[0].inquiry.scsiId = 7;
        scripted->adapters[0].inquiry.targetCount = 8;
        scripted->adapters[0].devices = {{0, 0}, {2, 10}, {3, 30}, {4, 1}, {5, 31}, {6, 5}};
        scripted->adapters[1].inquiry.identifier = "SECOND";
        scripted->adapters[1].inquiry.scsiId = 0;
        scripted->adapters[1].inquiry.targetCount = 3;
        scripted->adapters[1].devices = {{2, 1}};
        auto log = std::make_unique<TypeRequestLog>(std::move(scripted));
        types = log.get();
        aspi::InstallBackend(std::move(log));
        bus = nullptr;
    }
    TypeRequestLog* types = nullptr;
};

const char* const kAdapterZero =
    "Disk Device at SCSI ID # 0\n"
    "No Device at SCSI ID # 1\n"
    "Reserved Type at SCSI ID # 2\n"
    "Reserved Type at SCSI ID # 3\n"
    "Tape Device at SCSI ID # 4\n"
    "Unknown Device at SCSI ID # 5\n"
    "CDROM Device at SCSI ID # 6\n"
    "VIRTUAL SCSI Adapter at SCSI ID # 7\n";

TEST_F(DeviceListingTest, ListsEveryTargetAndNeverAsksTheAdapterItself)
{
    Adapters[0].DeviceTypes[4] = 1;
    Press("cmdGetDevType");
    EXPECT_EQ(Output(), kAdapterZero);
    EXPECT_EQ(types->asked(), (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(messages.empty());

    Press("cmdGetDevType");  // the same lines again, after a clear
    EXPECT_EQ(Output(), kAdapterZero);
    EXPECT_EQ(Adapters[0].DeviceTypes[4], 1) << "the listing leaves the start-up table alone";
    EXPECT_EQ(Adapters[0].DeviceTypes[1], 0);
    EXPECT_TRUE(Button("cmdGetDevType")->isEnabled());
}

TEST_F(DeviceListingTest, AdapterNumberIsReadAsALeadingNumber)
{
    Type("txtAdapterNum", "1");
    Press("cmdGetDevType");
    EXPECT_EQ(Output(), "SECOND Adapter at SCSI ID # 0\nNo Device at SCSI ID # 1\nTape Device at SCSI ID # 2\n");
    EXPECT_EQ(ConsoleAdapter, 1);
    EXPECT_EQ(Adapters[1].Identifier, "SECOND") << "the inquiry refreshed the table entry";

    Type("txtAdapterNum", "no number");
    Press("cmdGetDevType");
    EXPECT_EQ(Output(), kAdapterZero);
    EXPECT_EQ(ConsoleAdapter, 0);
}

TEST_F(DeviceListingTest, AdapterOutsideTheTableIsRefusedAndNothingListed)
{
    for (const char* text : {"8", "255", "256", "300", "-1", "7.5"}) {
        messages.clear();
        Press("cmdGetDevType");  // something on the screen, to see it cleared
        Type("txtAdapterNum", text);
        Press("cmdGetDevType");
        EXPECT_EQ(messages, std::vector<std::string>{"Invalid Host Adapter number"}) << text;
        EXPECT_EQ(Output(), "") << text;
        Type("txtAdapterNum", "0");
    }
    // An adapter the manager does not know.
    messages.clear();
    Type("txtAdapterNum", "2");
    Press("cmdGetDevType");
    EXPECT_EQ(messages, std::vector<std::string>{"Invalid Host Adapter number"});
    EXPECT_EQ(Output(), "");
}

TEST_F(DeviceListingTest, RefusedTargetRequestsAreReportedOrSkipped)
{
    types->answer = [](std::uint8_t target, std::uint8_t& type) -> std::uint8_t {
        switch (target) {
        case 1: return SS_INVALID_HA;
        case 2: return SS_ERR;  // neither found nor absent: no line
        case 3: return SS_NO_DEVICE;
        default: type = 9; return SS_COMP;
        }
    };
    Press("cmdGetDevType");
    EXPECT_EQ(messages, std::vector<std::string>{"Invalid Host Adapter number"});
    EXPECT_EQ(Output(),
              "Communications Device at SCSI ID # 0\n"
              "No Device at SCSI ID # 3\n"
              "Communications Device at SCSI ID # 4\n"
              "Communications Device at SCSI ID # 5\n"
              "Communications Device at SCSI ID # 6\n"
              "VIRTUAL SCSI Adapter at SCSI ID # 7\n");
}

TEST(DeviceTypeText, CoversNamedReservedAndUnknownTypes)
{
    EXPECT_EQ(DeviceTypeText(0), "Disk Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(1), "Tape Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(2), "Printer Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(3), "Processor Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(4), "WORM Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(7), "Optical Memory Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(8), "Jukebox Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(9), "Communications Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(10), "Reserved Type at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(30), "Reserved Type at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(31), "Unknown Device at SCSI ID #");
    EXPECT_EQ(DeviceTypeText(255), "Unknown Device at SCSI ID #");
}

}  // namespace
}  // namespace console_test
