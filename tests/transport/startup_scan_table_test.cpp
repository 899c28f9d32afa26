// The table --scan prints after start-up.
#include "startup_fixture.h"
#include "transport/scan_table.h"

namespace startup_test {
namespace {

// Location texts as a real system's backend gives them.
class LocatedBus final : public aspi::Backend {
public:
    testing_support::ScriptedBackend scripted;
    std::uint32_t supportInfo() override { return scripted.supportInfo(); }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override { return scripted.inquiry(a, out); }
    std::uint8_t deviceType(std::uint8_t a, std::uint8_t t, std::uint8_t l, std::uint8_t& type) override
    {
        return scripted.deviceType(a, t, l, type);
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override { return scripted.execute(req); }
    std::string adapterLocation(std::uint8_t a) override { return a == 0 ? "sysfs host2 channel 0" : ""; }
    std::string deviceLocation(std::uint8_t, std::uint8_t t) override
    {
        return t == 4 ? "/dev/sg1 HP C1537A, readable" : "";
    }
};

TEST_F(StartupTest, TableListsEachInquiredAdapterAndItsTargets)
{
    auto located = std::make_unique<LocatedBus>();
    located->scripted.adapters = {Adapter("HBA", 7, 8, {{2, 5}, {4, kTape}}), Adapter("atapi ide", 0, 2),
                                  Adapter("USB", 7, 0)};
    aspi::InstallBackend(std::move(located));
    ASSERT_EQ(RunMain(), std::nullopt);

    EXPECT_EQ(FormatAdapterTable(), (std::vector<std::string>{
                                        "Adapter 0: \"HBA\", SCSI ID 7, 8 targets  sysfs host2 channel 0",
                                        "  0:0  none",
                                        "  0:1  none",
                                        "  0:2  CD-ROM",
                                        "  0:3  none",
                                        "  0:4  tape  /dev/sg1 HP C1537A, readable",
                                        "  0:5  none",
                                        "  0:6  none",
                                        "  0:7  adapter itself",
                                        "Adapter 1: \"atapi ide\", SCSI ID 0, 2 targets, ATAPI: not scanned",
                                        "Adapter 2: \"USB\", SCSI ID 7, 0 targets: nothing to scan",
                                    }));
}

TEST_F(StartupTest, TableStopsAtTheAdapterWhoseInquiryEndedStartUp)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 1), Adapter("HBA", 7, 8)};
    bus->inquiryStatus[1] = SS_INVALID_HA;
    EXPECT_EQ(RunMain(), std::optional<int>(1));
    EXPECT_EQ(FormatAdapterTable(),
              (std::vector<std::string>{"Adapter 0: \"HBA\", SCSI ID 7, 1 target", "  0:0  none"}));
}

TEST(DeviceEntryText, NamesEveryKindOfEntry)
{
    EXPECT_EQ(DeviceEntryText(0), "disk");
    EXPECT_EQ(DeviceEntryText(8), "medium changer");
    EXPECT_EQ(DeviceEntryText(10), "reserved type 10");
    EXPECT_EQ(DeviceEntryText(31), "none");
    EXPECT_EQ(DeviceEntryText(255), "adapter itself");
    EXPECT_EQ(DeviceEntryText(40), "type 40");
}

}  // namespace
}  // namespace startup_test
