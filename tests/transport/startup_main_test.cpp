// Main against buses described in code: initialisation, the adapter and target scan, the
// probe of tape devices and the choice of the drive.
#include <algorithm>
#include <cstring>

#include "startup_fixture.h"

namespace startup_test {
namespace {

std::vector<std::uint8_t> Opcodes(const std::vector<SentCommand>& sent)
{
    std::vector<std::uint8_t> out;
    for (const auto& c : sent)
        out.push_back(c.cdb.at(0));
    return out;
}

// --- Initialisation ---------------------------------------------------------------------

TEST_F(StartupTest, ManagerFailedInitEndsWithTheNoManagerMessage)
{
    bus->scripted.countAdapters = false;
    bus->scripted.support = 0xE403;
    ExpectFatal(kNoManager);
    EXPECT_TRUE(bus->inquiries.empty());
}

TEST_F(StartupTest, OtherManagerStatusIsShownInHex)
{
    bus->scripted.countAdapters = false;
    bus->scripted.support = 0xE800;
    ExpectFatal("ASPIInitialize:ASPIStatus=E800H");
    bus->scripted.support = 0x12E0F;
    messages.clear();
    ExpectFatal("ASPIInitialize:ASPIStatus=12E0FH");
}

TEST_F(StartupTest, AFatalEndThatReturnsStillStopsStartUp)
{
    ui::SetEndHandler([](int) {});  // an end handler that comes back must not let Main go on
    bus->scripted.countAdapters = false;
    bus->scripted.support = 0xE800;
    Main();
    EXPECT_EQ(messages, std::vector<std::string>{"ASPIInitialize:ASPIStatus=E800H"});
    EXPECT_TRUE(bus->inquiries.empty());

    messages.clear();
    bus->scripted.countAdapters = true;
    bus->scripted.support = std::uint32_t{SS_COMP} << 8;
    bus->scripted.adapters = {Adapter("HBA", 7, 8), Adapter("HBA", 7, 8, {{2, kTape}})};
    bus->inquiryStatus[0] = SS_INVALID_HA;
    Main();
    EXPECT_EQ(messages, std::vector<std::string>{"Invalid Host Adapter number in sub Main."});
    EXPECT_EQ(bus->inquiries, std::vector<std::uint8_t>{0});
    EXPECT_EQ(presented, 0);
}

TEST_F(StartupTest, SuccessWithNoAdaptersIsLikeAFailedManager)
{
    ExpectFatal(kNoManager);
}

TEST_F(StartupTest, NoAdaptersAddTheBackendsHintAsOneMoreLine)
{
    bus->hint = "Linux shows no SCSI host: check the cable.";
    ExpectFatal(std::string(kNoManager) + "\nLinux shows no SCSI host: check the cable.");
}

TEST(ByteHalves, HiAndLoByteOfTheSupportValue)
{
    EXPECT_EQ(HiByte(0x12E403), 0xE4);
    EXPECT_EQ(LoByte(0x12E403), 0x03);
}

// --- Adapter inquiry ----------------------------------------------------------------------

TEST_F(StartupTest, InquiryFailuresEndTheProgram)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8), Adapter("HBA", 7, 8)};
    bus->inquiryStatus[1] = SS_INVALID_HA;
    ExpectFatal("Invalid Host Adapter number in sub Main.");

    messages.clear();
    bus->inquiryStatus[1] = SS_ERR;
    ExpectFatal("Undefined value returned from HostAdapterInquiry function in sub Main.");
}

TEST_F(StartupTest, IdentifierIsCutAtTheFirstNul)
{
    std::string withNul("AB\0CD", 5);
    bus->scripted.adapters = {Adapter("ABC", 7, 8), Adapter(withNul, 7, 8), Adapter("0123456789ABCDEF", 7, 8)};
    EXPECT_EQ(RunMain(), std::optional<int>(1));
    EXPECT_EQ(Adapters[0].Identifier, "ABC");
    EXPECT_EQ(Adapters[1].Identifier, "AB");
    EXPECT_EQ(Adapters[2].Identifier, "0123456789ABCDEF");  // no NUL at all: all sixteen
    EXPECT_EQ(InquiredAdapterCount(), 3);
}

TEST_F(StartupTest, InquiryOfAnAdapterBeyondTheTableIsRefused)
{
    bus->scripted.adapters.assign(9, Adapter("HBA", 7, 8));
    std::uint8_t adapter = 8;
    EXPECT_EQ(HostAdapterInquiry(adapter), 129);
    EXPECT_TRUE(bus->inquiries.empty());
}

// --- The target scan ----------------------------------------------------------------------

TEST_F(StartupTest, OnlyTheFirstEightAdaptersAreScanned)
{
    bus->scripted.adapters.assign(10, Adapter("HBA", 7, 8));
    bus->scripted.adapters[9].devices[3] = kTape;
    ExpectFatal(kNotFound);
    EXPECT_EQ(bus->inquiries, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(StartupTest, AtapiAdapterIsSkippedInAnyCase)
{
    bus->scripted.adapters = {Adapter("Intel aTaPi ctl", 7, 8, {{3, kTape}}), Adapter("ATAPI", 7, 8, {{3, kTape}})};
    ExpectFatal(kNotFound);
    EXPECT_TRUE(bus->typeQueries.empty());
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Adapters[0].DeviceTypes[3], 0);
}

TEST_F(StartupTest, TableRecordsTypesAbsentTargetsAndTheAdapterItself)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{2, 5}, {4, kTape}, {7, kTape}})};
    EXPECT_EQ(RunMain(), std::nullopt);
    const AdapterInfo& info = Adapters[0];
    EXPECT_EQ(info.ScsiId, 7);
    EXPECT_EQ(info.MaxTarget, 7);
    EXPECT_EQ(info.DeviceTypes[2], 5);    // a CD-ROM: recorded, never probed
    EXPECT_EQ(info.DeviceTypes[4], kTape);
    EXPECT_EQ(info.DeviceTypes[7], 255);  // own ID: no request, even with a device behind it
    EXPECT_EQ(info.DeviceTypes[0], 31);
    const auto& q = bus->typeQueries;
    EXPECT_EQ(std::count(q.begin(), q.end(), std::make_pair<std::uint8_t, std::uint8_t>(0, 7)), 0);
    for (const auto& c : Sent())
        EXPECT_EQ(c.target, 4);
}

TEST_F(StartupTest, EightAndSixteenTargetsAreScannedInOrder)
{
    bus->scripted.adapters = {Adapter("A", 7, 8), Adapter("B", 15, 16, {{9, kTape}})};
    EXPECT_EQ(RunMain(), std::nullopt);
    std::vector<std::pair<std::uint8_t, std::uint8_t>> expected;
    for (std::uint8_t t = 0; t < 7; ++t)
        expected.emplace_back(0, t);
    for (std::uint8_t t = 0; t < 15; ++t)
        expected.emplace_back(1, t);
    EXPECT_EQ(bus->typeQueries, expected);
    EXPECT_EQ(Adapters[1].MaxTarget, 15);
}

TEST_F(StartupTest, AdapterWithoutTargetsIsNotScanned)
{
    bus->scripted.adapters = {Adapter("EMPTY", 7, 0), Adapter("HBA", 7, 8, {{4, kTape}})};
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(Adapters[0].MaxTarget, 0);  // not wrapped round to 255
    EXPECT_EQ(Adapters[0].TargetCount, 0);
    for (const auto& q : bus->typeQueries)
        EXPECT_EQ(q.first, 1);
}

TEST_F(StartupTest, TargetsAbove31AreScannedAndProbed)
{
    bus->scripted.adapters = {Adapter("SAS HBA", 255, 200, {{35, kTape}, {199, 0}})};
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(AspiTarget, 35);
    EXPECT_EQ(Adapters[0].MaxTarget, 199);
    EXPECT_EQ(Adapters[0].DeviceTypes[35], kTape);
    EXPECT_EQ(Adapters[0].DeviceTypes[199], 0);
    EXPECT_EQ(Adapters[0].DeviceTypes[198], 31);
    EXPECT_EQ(bus->typeQueries.size(), 200u);
}

TEST_F(StartupTest, DeviceTypeFailuresEndTheProgram)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{4, kTape}})};
    bus->typeStatus[{0, 2}] = SS_INVALID_HA;
    ExpectFatal("Invalid Host Adapter number in sub Main.");
    EXPECT_TRUE(Sent().empty());  // ended before the tape drive at 4

    messages.clear();
    bus->typeStatus[{0, 2}] = SS_ERR;
    ExpectFatal("Undefined AspiStatus in sub Main.");
}

// --- The probe ----------------------------------------------------------------------------

TEST_F(StartupTest, ReadyDriveIsProbedInOrderAndRestoredToItsDensity)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{4, kTape}})};
    bus->scripted.answer = [](const aspi::ExecRequest& req) {
        aspi::ExecResult r;
        if (req.cdb[0] == 0x1A) {
            std::memset(req.data, 0, req.dataLen);
            req.data[4] = 0x13;  // the drive was in a data density
        }
        r.transferred = req.dataLen;
        return r;
    };
    EXPECT_EQ(RunMain(), std::nullopt);
    const auto sent = Sent();
    EXPECT_EQ(Opcodes(sent), (std::vector<std::uint8_t>{0x00, 0x1A, 0x15, 0x15}));
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[2].dataOut.at(4), 0x80);
    EXPECT_EQ(sent[3].dataOut.at(4), 0x13);
    EXPECT_TRUE(DriveFound);
    EXPECT_EQ(AspiAdapter, 0);
    EXPECT_EQ(AspiTarget, 4);
    EXPECT_EQ(presented, 1);
    EXPECT_TRUE(messages.empty());
}

TEST_F(StartupTest, DriveWithoutTapeIsStillProbed)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{4, kTape}})};
    bus->scripted.answer = [](const aspi::ExecRequest& req) {
        return req.cdb[0] == 0x00 ? CheckCondition(2, 0x3A, 0) : WithStatus(SS_COMP);
    };
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(Opcodes(Sent()), (std::vector<std::uint8_t>{0x00, 0x1A, 0x15, 0x15}));
    EXPECT_TRUE(DriveFound);
}

TEST_F(StartupTest, DriveBecomingReadyOnAllFourAttemptsIsPassedOver)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{4, kTape}})};
    bus->scripted.answer = [](const aspi::ExecRequest&) { return CheckCondition(2, 0x04, 0x01); };
    ExpectFatal(kNotFound);
    EXPECT_EQ(Opcodes(Sent()), (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x00}));
}

TEST_F(StartupTest, DriveReadyOnTheLastAttemptIsTaken)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{4, kTape}})};
    int turs = 0;
    bus->scripted.answer = [&turs](const aspi::ExecRequest& req) {
        if (req.cdb[0] == 0x00 && ++turs < 4)
            return turs == 1 ? CheckCondition(6, 0x29, 0) : CheckCondition(2, 0x04, 0x01);
        return WithStatus(SS_COMP);
    };
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(Opcodes(Sent()), (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x00, 0x1A, 0x15, 0x15}));
}

TEST_F(StartupTest, ProbeErrorMessagesDoNotEndTheScan)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{2, kTape}, {4, kTape}})};
    bus->scripted.answer = [](const aspi::ExecRequest& req) {
        if (req.target == 2 && req.cdb[0] == 0x00)
            return CheckCondition(3, 0x11, 0);
        return WithStatus(SS_COMP);
    };
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(messages, std::vector<std::string>(4, "Error in TestUnitReady function: Sense Key= 3."));
    EXPECT_EQ(AspiTarget, 4);
}

TEST_F(StartupTest, DriveRefusingTheAudioDensityIsPassedOver)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{4, kTape}})};
    bus->scripted.answer = [](const aspi::ExecRequest& req) {
        return req.cdb[0] == 0x15 ? CheckCondition(5, 0x26, 0) : WithStatus(SS_COMP);
    };
    ExpectFatal(kNotFound);
    const std::vector<std::uint8_t> attempt{0x00, 0x1A, 0x15};
    std::vector<std::uint8_t> four;
    for (int i = 0; i < 4; ++i)
        four.insert(four.end(), attempt.begin(), attempt.end());
    EXPECT_EQ(Opcodes(Sent()), four);
    EXPECT_FALSE(DriveFound);
}

TEST_F(StartupTest, TheLastAudioDriveScannedWins)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{3, kTape}, {5, kTape}}), Adapter("HBA", 7, 8, {{1, kTape}}),
                              Adapter("HBA", 7, 8, {{6, 8}})};
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(AspiAdapter, 1);
    EXPECT_EQ(AspiTarget, 1);
    EXPECT_EQ(presented, 1);
    EXPECT_EQ(Sent().size(), 12u);  // all three drives probed
}

TEST_F(StartupTest, WithoutProbeCommandsNoDrivePasses)
{
    SetProbeCommands({});
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{4, kTape}})};
    ExpectFatal(kNotFound);
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
}  // namespace startup_test

namespace startup_test {
namespace {

// --- Ctrl-C, known causes, a drive still becoming ready ------------------------------------

TEST_F(StartupTest, AnInterruptStopsDiscoveryBeforeTheNextCommand)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{2, kTape}}), Adapter("HBA", 7, 8, {{3, kTape}})};
    // Not ready on every attempt, so that the probe would go on without the interrupt.
    bus->scripted.answer = [](const aspi::ExecRequest&) { return CheckCondition(2, 0x04, 0x01); };
    SetDiscoveryInterrupt([this] { return Sent().size() >= 2; });
    EXPECT_EQ(RunMain(), std::optional<int>(130));
    EXPECT_EQ(Sent().size(), 2u);
    EXPECT_TRUE(messages.empty()) << "no 'not found' after the user asked to stop";

    // Before the first target, too.
    messages.clear();
    bus->scripted.clear();
    SetDiscoveryInterrupt([] { return true; });
    EXPECT_EQ(RunMain(), std::optional<int>(130));
    EXPECT_TRUE(Sent().empty());
}

// The backend explains the failure; the probe must not retry it three more times with a
// "status=130" box each.
class KnownCauseBus final : public aspi::Backend {
public:
    std::uint32_t supportInfo() override { return (std::uint32_t{SS_COMP} << 8) | 1; }
    std::uint8_t inquiry(std::uint8_t a, aspi::AdapterInquiry& out) override
    {
        if (a != 0)
            return SS_INVALID_HA;
        out.identifier = "HBA";
        return SS_COMP;
    }
    std::uint8_t deviceType(std::uint8_t, std::uint8_t t, std::uint8_t, std::uint8_t& type) override
    {
        if (t != 2 && t != 5)
            return SS_NO_DEVICE;
        type = 1;
        return SS_COMP;
    }
    aspi::ExecResult execute(const aspi::ExecRequest& req) override
    {
        ++commands;
        aspi::ExecResult r;
        r.srbStatus = SS_NO_DEVICE;
        r.cause = "TEST UNIT READY on /dev/sg" + std::to_string(req.target) +
                  ": Permission denied (add yourself to the group 'tape')";
        return r;
    }
    int commands = 0;  // the worker's, read after SendAndWait has returned
};

TEST_F(StartupTest, AKnownCauseIsToldOnceAndEndsTheProbeOfThatDevice)
{
    auto owned = std::make_unique<KnownCauseBus>();
    KnownCauseBus* causes = owned.get();
    aspi::InstallBackend(std::move(owned));
    EXPECT_EQ(RunMain(), std::optional<int>(1));
    EXPECT_EQ(causes->commands, 2) << "one TEST UNIT READY per device";
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "TEST UNIT READY on /dev/sg2: Permission denied (add yourself to the group 'tape')",
                            "TEST UNIT READY on /dev/sg5: Permission denied (add yourself to the group 'tape')",
                            kNotFound}));

    // Where the backend's own stderr line already said it, nothing more is shown for it.
    messages.clear();
    SetTellKnownCauses(false);
    EXPECT_EQ(RunMain(), std::optional<int>(1));
    EXPECT_EQ(messages, std::vector<std::string>{kNotFound});
}

TEST_F(StartupTest, ADriveLeftBecomingReadyIsNamed)
{
    bus->scripted.adapters = {Adapter("HBA", 7, 8, {{2, kTape}, {4, 5}})};
    bus->scripted.answer = [](const aspi::ExecRequest&) { return CheckCondition(2, 0x04, 0x01); };
    ExpectFatal(kNotFound);
    EXPECT_EQ(TapeDeviceBecomingReady(), "0:2");

    messages.clear();
    bus->scripted.answer = [](const aspi::ExecRequest&) { return WithStatus(SS_COMP); };
    EXPECT_EQ(RunMain(), std::nullopt);
    EXPECT_EQ(TapeDeviceBecomingReady(), "");
}

}  // namespace
}  // namespace startup_test
