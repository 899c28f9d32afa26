// Main against virtual buses: the virtual DAT drive answers as a real one does (power-on
// attention first, sense data, densities), and the request trace shows what went out.
#include <QTemporaryDir>
#include <fstream>

#include "platform/aspi/backend.h"
#include "sim/virtual_bus.h"
#include "startup_fixture.h"

namespace startup_test {
namespace {

using testing_support::RecordingBackend;

sim::DriveConfig AudioDrive(std::uint8_t target, std::shared_ptr<const sim::Tape> tape = sim::MakeDataTape())
{
    sim::DriveConfig d;
    d.target = target;
    d.tape = std::move(tape);
    return d;
}

sim::AdapterConfig SimAdapter(std::vector<sim::DriveConfig> devices, std::string identifier = "VIRTUAL SCSI",
                              std::uint8_t targets = 8)
{
    sim::AdapterConfig a;
    a.identifier = std::move(identifier);
    a.targets = targets;
    a.devices = std::move(devices);
    return a;
}

class SimStartupTest : public StartupTest {
protected:
    void SetUp() override
    {
        StartupTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        tracePath = dir.filePath("trace.txt").toStdString();
        std::string error;
        ASSERT_TRUE(aspi::OpenTrace(tracePath, error)) << error;
    }
    void TearDown() override
    {
        std::string error;
        aspi::OpenTrace("", error);
        StartupTest::TearDown();
    }

    void Install(sim::BusConfig config)
    {
        config.readSpeed = 0;
        config.clock = std::make_shared<sim::VirtualClock>();
        std::string error;
        auto built = sim::CreateBus(config, error);
        ASSERT_TRUE(built) << error;
        drives = built.get();
        auto recording = std::make_unique<RecordingBackend>(std::move(built));
        log = recording.get();
        aspi::InstallBackend(std::move(recording));
    }

    void Install(std::vector<sim::AdapterConfig> adapters)
    {
        sim::BusConfig config;
        config.adapters = std::move(adapters);
        Install(std::move(config));
    }

    // Trace lines containing `what`, with the time stamp cut off.
    std::vector<std::string> Trace(const std::string& what) const
    {
        std::ifstream in(tracePath);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);)
            if (line.find(what) != std::string::npos)
                out.push_back(line.substr(0, line.rfind(" t=")));
        return out;
    }

    std::vector<std::uint8_t> OpcodesTo(std::uint8_t a, std::uint8_t t) const
    {
        std::vector<std::uint8_t> out;
        for (const auto& c : log->commands())
            if (c.adapter == a && c.target == t)
                out.push_back(c.cdb.at(0));
        return out;
    }

    QTemporaryDir dir;
    std::string tracePath;
    sim::Bus* drives = nullptr;
    RecordingBackend* log = nullptr;
};

TEST_F(SimStartupTest, ManagerStatuses)
{
    sim::BusConfig config;
    config.managerStatus = SS_FAILED_INIT;
    Install(config);
    ExpectFatal(kNoManager);

    messages.clear();
    config.managerStatus = 0xE8;
    config.adapters.clear();
    Install(config);
    ExpectFatal("ASPIInitialize:ASPIStatus=E800H");

    messages.clear();
    config.managerStatus = SS_COMP;
    Install(config);
    ExpectFatal(kNoManager);  // success, but no adapter
}

TEST_F(SimStartupTest, DemoLikeBusSelectsTheDriveAndTracesTheProbeInOrder)
{
    Install({SimAdapter({AudioDrive(4, sim::MakeDemoTape())})});
    ASSERT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(AspiAdapter, 0);
    EXPECT_EQ(AspiTarget, 4);
    EXPECT_EQ(presented, 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Trace("EXEC"),
              (std::vector<std::string>{
                  "0:4 EXEC 00 00 00 00 00 00 flags=00 len=0 status=4 sense=70 00 06 00 00 00 00 0A 00 00 00 00 29 00",
                  "0:4 EXEC 00 00 00 00 00 00 flags=00 len=0 status=1",
                  "0:4 EXEC 1A 00 00 00 0C 00 flags=08 len=12 status=1 in=0B 00 10 08 80 00 00 00 00 00 02 00",
                  "0:4 EXEC 15 00 00 00 0C 00 flags=10 len=12 status=1 out=00 00 10 08 80 00 00 00 00 00 02 00",
                  "0:4 EXEC 15 00 00 00 0C 00 flags=10 len=12 status=1 out=00 00 10 08 80 00 00 00 00 00 02 00",
              }));
    // The adapter's own ID is never asked about.
    EXPECT_TRUE(Trace("0:7 GET_DEV_TYPE").empty());
    EXPECT_EQ(Trace("GET_DEV_TYPE").size(), 7u);
    EXPECT_EQ(Adapters[0].DeviceTypes[7], 255);
    EXPECT_EQ(Adapters[0].DeviceTypes[4], 1);
    EXPECT_EQ(Adapters[0].DeviceTypes[0], 31);
}

TEST_F(SimStartupTest, ProbeLeavesTheDriveInTheDensityItHad)
{
    Install({SimAdapter({AudioDrive(4, sim::MakeDataTape())})});
    ASSERT_EQ(drives->driveState(0, 4)->modeDensity, sim::kDdsDensity);
    ASSERT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(drives->driveState(0, 4)->modeDensity, sim::kDdsDensity);
    const auto sent = log->commands();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().dataOut.at(4), sim::kDdsDensity);
}

TEST_F(SimStartupTest, OnlyTheFirstEightAdaptersAreScanned)
{
    std::vector<sim::AdapterConfig> adapters(10, SimAdapter({}));
    adapters[9].devices.push_back(AudioDrive(4));
    Install(adapters);
    ExpectFatal(kNotFound);
    EXPECT_EQ(Trace("HA_INQUIRY").size(), 8u);
    EXPECT_TRUE(log->commands().empty());

    adapters[7].devices.push_back(AudioDrive(2));
    messages.clear();
    Install(adapters);
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(AspiAdapter, 7);
    EXPECT_EQ(AspiTarget, 2);
}

TEST_F(SimStartupTest, AtapiAdapterInAnyCaseIsSkipped)
{
    Install({SimAdapter({AudioDrive(4)}, "Ide AtApI Bus")});
    ExpectFatal(kNotFound);
    EXPECT_TRUE(Trace("GET_DEV_TYPE").empty());
}

TEST_F(SimStartupTest, IdentifierComesBackWithoutItsPadding)
{
    Install({SimAdapter({AudioDrive(4)}, "ABC")});
    ASSERT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(Adapters[0].Identifier, "ABC");
}

TEST_F(SimStartupTest, SixteenTargetsAreAllExamined)
{
    Install({SimAdapter({AudioDrive(12)}, "WIDE", 16)});
    ASSERT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(Trace("GET_DEV_TYPE").size(), 15u);
    EXPECT_EQ(Trace("0:15 GET_DEV_TYPE").size(), 1u);
    EXPECT_EQ(AspiTarget, 12);
}

TEST_F(SimStartupTest, DriveStillBecomingReadyIsPassedOver)
{
    sim::DriveConfig slow = AudioDrive(4);
    slow.readyAtPowerOn = false;
    slow.becomingReadySeconds = 60;  // the virtual clock does not move during TEST UNIT READY
    Install({SimAdapter({slow})});
    ExpectFatal(kNotFound);
    // Power-on attention, then becoming ready three times: four attempts, no mode command.
    EXPECT_EQ(OpcodesTo(0, 4), (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Trace("sense=70 00 02 00 00 00 00 0A 00 00 00 00 04 01").size(), 3u);
}

TEST_F(SimStartupTest, DriveWithoutTapeIsProbedAndSelected)
{
    Install({SimAdapter({AudioDrive(4, nullptr)})});
    ASSERT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(OpcodesTo(0, 4), (std::vector<std::uint8_t>{0x00, 0x00, 0x1A, 0x15, 0x15}));
    EXPECT_TRUE(DriveFound);
}

TEST_F(SimStartupTest, TheLastOfTwoAudioDrivesWins)
{
    Install({SimAdapter({AudioDrive(4)}), SimAdapter({AudioDrive(2), AudioDrive(5, nullptr)})});
    ASSERT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(AspiAdapter, 1);
    EXPECT_EQ(AspiTarget, 5);
    EXPECT_EQ(presented, 1);
    EXPECT_FALSE(OpcodesTo(0, 4).empty());
    EXPECT_FALSE(OpcodesTo(1, 2).empty());
}

TEST_F(SimStartupTest, NonTapeDeviceIsRecordedAndNotProbed)
{
    sim::DriveConfig cdrom;
    cdrom.target = 3;
    cdrom.type = 5;
    Install({SimAdapter({cdrom, AudioDrive(4)})});
    ASSERT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(Adapters[0].DeviceTypes[3], 5);
    EXPECT_TRUE(OpcodesTo(0, 3).empty());
}

TEST_F(SimStartupTest, DriveRefusingTheAudioDensityIsNotSelected)
{
    sim::DriveConfig plain = AudioDrive(4);
    plain.audio = false;
    Install({SimAdapter({plain})});
    ExpectFatal(kNotFound);
    // The power-on attention uses the first attempt; three full attempts follow.
    EXPECT_EQ(OpcodesTo(0, 4),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x1A, 0x15, 0x00, 0x1A, 0x15, 0x00, 0x1A, 0x15}));
    EXPECT_FALSE(DriveFound);
}

}  // namespace
}  // namespace startup_test
