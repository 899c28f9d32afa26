// The sg backend against a fake sysfs tree and a fake sg driver, mostly through the
// manager's own entry points.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

#include "platform/aspi/backend.h"
#include "platform/aspi/sg_backend.h"
#include "platform/aspi/sg_sysfs.h"
#include "platform/fake_sg.h"
#include "platform/fake_sysfs.h"
#include "support/child_process.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

using testing_support::AnswerCheckCondition;
using testing_support::FakeSg;
using testing_support::FakeSysfs;

// Adapter numbers of the standard tree below.
enum : std::uint8_t {
    kHost3 = 0,      // tape 3:0:6:0, no sg node
    kHost10 = 1,     // tape 10:0:3:0 (/dev/sg1), changer 10:0:3:1
    kHost2 = 2,      // disk 2:0:0:0
    kHost2Ch2 = 3,   // disk 2:2:40:0
    kHost10Ch1 = 4,  // CD 10:1:5:0, disk 10:1:7:0
    kHost0 = 5,      // empty
    kHost1 = 6,      // empty, driver without a name
    kAdapterCount = 7,
};

class SgBackendTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tree.ok());
        tree.addHost(0, "ahci");
        tree.addHost(1, "(null)");
        tree.addHost(2, "usb-storage");
        tree.addHost(3, "mptspi");
        tree.addHost(10, "aic7xxx");
        tree.addDevice(10, 0, 3, 0, 1, "HP", "C1537A", "L708", 1);
        tree.addDevice(10, 0, 3, 1, 8, "HP", "C1553A", "L708", 4);
        tree.addDevice(10, 1, 5, 0, 5, "TOSHIBA", "CD-ROM XM-5701TA", "3136", 2);
        tree.addDevice(10, 1, 7, 0, 0, "SEAGATE", "ST39173N", "6244", 3);
        tree.addDevice(2, 0, 0, 0, 0, "ATA", "ST3500418AS", "CC38", 0);
        tree.addDevice(2, 2, 40, 0, 0, "ATA", "WDC WD10EZEX", "1A01", 5);
        tree.addDevice(3, 0, 6, 0, 1, "SONY", "SDT-9000", "0400", std::nullopt);
    }
    void TearDown() override { aspi::InstallBackend(nullptr); }

    aspi::SgEnvironment env() { return sg.environment(tree.sysfs(), tree.dev()); }
    void install() { aspi::InstallBackend(aspi::CreateSgBackend(env())); }
    std::string sg1() const { return tree.dev() + "/sg1"; }

    // Runs `cdb` on the tape at adapter kHost10 target 3 through SendAndWait.
    SRB_ExecSCSICmd run(std::initializer_list<std::uint8_t> cdb, std::uint8_t adapter = kHost10, std::uint8_t target = 3)
    {
        SRB_ExecSCSICmd srb;
        const std::vector<std::uint8_t> bytes(cdb);
        FillExecRecord(srb, adapter, target, 0, bytes, nullptr, 0);
        SendAndWait(srb, nullptr);
        return srb;
    }

    FakeSysfs tree;
    FakeSg sg;
};

TEST_F(SgBackendTest, AdaptersAreNumberedTapeBusesFirstThenOtherBusesThenEmptyHosts)
{
    auto backend = aspi::CreateSgBackend(env());
    EXPECT_EQ(backend->supportInfo(), (std::uint32_t{SS_COMP} << 8) | kAdapterCount);
    const char* expected[kAdapterCount] = {
        "sysfs host3 channel 0", "sysfs host10 channel 0", "sysfs host2 channel 0", "sysfs host2 channel 2",
        "sysfs host10 channel 1", "sysfs host0 channel 0", "sysfs host1 channel 0",
    };
    for (std::uint8_t a = 0; a < kAdapterCount; ++a)
        EXPECT_EQ(backend->adapterLocation(a), expected[a]) << "adapter " << int(a);
    EXPECT_EQ(backend->adapterLocation(kAdapterCount), "");
    aspi::AdapterInquiry info;
    EXPECT_EQ(backend->inquiry(kAdapterCount, info), SS_INVALID_HA);
}

TEST_F(SgBackendTest, InquiryThroughTheManagerFillsIdentifierScsiIdAndTargetCount)
{
    install();
    struct Row {
        std::uint8_t adapter;
        const char* identifier;
        std::uint8_t scsiId, targets;
    } rows[] = {
        {kHost3, "mptspi", 7, 8},
        {kHost10, "aic7xxx", 7, 8},
        {kHost2Ch2, "usb-storage", 7, 41},  // targets above 31 exist
        {kHost10Ch1, "aic7xxx", 6, 8},      // a device sits at 7
        {kHost1, "host1", 7, 8},            // proc_name "(null)"
    };
    for (const Row& row : rows) {
        SRB_HAInquiry srb{};
        srb.SRB_Cmd = SC_HA_INQUIRY;
        srb.SRB_HaId = row.adapter;
        ASSERT_EQ(SendASPI32Command(&srb), SS_COMP);
        const auto* raw = reinterpret_cast<const std::uint8_t*>(&srb);
        EXPECT_EQ(raw[1], SS_COMP);
        EXPECT_EQ(raw[8], kAdapterCount);
        EXPECT_EQ(raw[9], row.scsiId) << row.identifier;
        EXPECT_EQ(raw[45], row.targets) << row.identifier;
        char identifier[17] = {};
        std::memcpy(identifier, raw + 26, 16);
        EXPECT_STREQ(identifier, row.identifier);
        for (std::size_t i = std::strlen(row.identifier); i < 16; ++i)
            EXPECT_EQ(raw[26 + i], 0) << "NUL padding";
    }
    SRB_HAInquiry missing{};
    missing.SRB_Cmd = SC_HA_INQUIRY;
    missing.SRB_HaId = kAdapterCount;
    EXPECT_EQ(SendASPI32Command(&missing), SS_INVALID_HA);
    EXPECT_EQ(missing.SRB_Status, SS_INVALID_HA);
}

TEST(SgScsiId, NeverOneOfTheTargetsPresent)
{
    struct Row {
        std::vector<unsigned> targets;
        std::uint8_t scsiId, count;
    } rows[] = {
        {{}, 7, 8},
        {{7}, 6, 8},
        {{0, 1, 2, 3, 4, 5, 6, 7}, 8, 8},
        {{3, 12}, 7, 13},
        {{7, 12}, 11, 13},
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 13, 13},
        {{6, 7, 15}, 14, 16},
    };
    for (const Row& row : rows) {
        aspi::SgBus bus;
        bus.targets = row.targets;
        EXPECT_EQ(aspi::AdapterScsiId(bus), row.scsiId) << ::testing::PrintToString(row.targets);
        EXPECT_EQ(aspi::TargetCount(bus), row.count) << ::testing::PrintToString(row.targets);
    }
}

TEST(SgSysfs, DeviceNamesParseOnlyWholeDecimalAddresses)
{
    const auto a = aspi::ParseDeviceName("10:1:40:281474976710656");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, 10u);
    EXPECT_EQ(a->channel, 1u);
    EXPECT_EQ(a->target, 40u);
    EXPECT_EQ(a->lun, 281474976710656ull);
    for (const char* bad : {"host2", "target2:0:3", "2:0:3", "2:0:3:0:1", "2:0:x:0", "2::3:0", " 2:0:3:0", ""})
        EXPECT_FALSE(aspi::ParseDeviceName(bad)) << bad;
}

TEST_F(SgBackendTest, DeviceTypesComeFromSysfsWithoutOpeningAnything)
{
    install();
    struct Row {
        std::uint8_t adapter, target, status, type;
    } rows[] = {
        {kHost10, 3, SS_COMP, 1},
        {kHost3, 6, SS_COMP, 1},  // no sg node: still answers
        {kHost10Ch1, 5, SS_COMP, 5},
        {kHost2Ch2, 40, SS_COMP, 0},
        {kHost10, 4, SS_NO_DEVICE, 0},
        {kHost0, 0, SS_NO_DEVICE, 0},
        {kAdapterCount, 0, SS_INVALID_HA, 0},
    };
    for (const Row& row : rows) {
        SRB_GDEVBlock srb{};
        srb.SRB_Cmd = SC_GET_DEV_TYPE;
        srb.SRB_HaId = row.adapter;
        srb.SRB_Target = row.target;
        EXPECT_EQ(SendASPI32Command(&srb), row.status) << int(row.adapter) << ":" << int(row.target);
        EXPECT_EQ(srb.SRB_Status, row.status);
        if (row.status == SS_COMP) {
            EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(&srb)[10], row.type);
        }
    }
    EXPECT_TRUE(sg.opened().empty());
}

TEST_F(SgBackendTest, GoodStatusCompletesOnTheSgNodeOpenedReadWriteOnce)
{
    install();
    EXPECT_EQ(run({0x00, 0, 0, 0, 0, 0}).SRB_Status, SS_COMP);
    EXPECT_EQ(run({0x00, 0, 0, 0, 0, 0}).SRB_Status, SS_COMP);
    ASSERT_EQ(sg.opened().size(), 1u) << "the descriptor is kept";
    EXPECT_EQ(sg.opened()[0], sg1());
    EXPECT_EQ(sg.openFlags()[0] & O_ACCMODE, O_RDWR);
    const auto calls = sg.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].interfaceId, 'S');
    EXPECT_EQ(calls[0].direction, SG_DXFER_NONE);
    EXPECT_EQ(calls[0].cdb, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0}));
    EXPECT_GE(calls[0].mxSbLen, 18);
    EXPECT_TRUE(sg.reports().empty());
}

TEST_F(SgBackendTest, TimeoutsFollowHowFarTheCommandMayMoveTheTape)
{
    const std::uint8_t cdbs[][10] = {
        {0x2B, 4, 0, 0x20}, {0x01}, {0x1B, 0, 0, 0, 0}, {0x08, 0, 0, 0x16, 0xBE},
        {0x00}, {0x12, 0, 0, 0, 36}, {0x1A, 0, 0, 0, 12}, {0x15, 0x10, 0, 0, 12}, {0x05}, {0x34}, {0x1E, 0, 0, 0, 1},
    };
    const unsigned hour = 3600u * 1000u, minute = 60u * 1000u, quick = 15u * 1000u;
    const unsigned expected[] = {hour, hour, hour, minute, quick, quick, quick, quick, quick, quick, quick};
    const auto timeoutsWith = [&](double scale) {
        aspi::SgEnvironment e = env();
        e.timeoutScale = scale;
        auto backend = aspi::CreateSgBackend(e);
        const std::size_t before = sg.calls().size();
        for (const auto& cdb : cdbs) {
            aspi::ExecRequest req;
            req.adapter = kHost10;
            req.target = 3;
            req.cdb = cdb;
            req.cdbLen = cdb[0] == 0x2B || cdb[0] == 0x34 ? 10 : 6;
            backend->execute(req);
        }
        std::vector<unsigned> out;
        const auto calls = sg.calls();
        for (std::size_t i = before; i < calls.size(); ++i)
            out.push_back(calls[i].timeout);
        return out;
    };
    EXPECT_EQ(timeoutsWith(1), std::vector<unsigned>(std::begin(expected), std::end(expected)));
    // A test's scale makes the hour a few seconds; nothing drops to zero (no timeout at all).
    const auto scaled = timeoutsWith(0.001);
    ASSERT_EQ(scaled.size(), std::size(expected));
    EXPECT_EQ(scaled[0], 3600u);
    EXPECT_EQ(scaled[4], 15u);
    EXPECT_EQ(timeoutsWith(1e-9)[4], 1u);

    EXPECT_EQ(aspi::ParseTimeoutScale("0.01"), 0.01);
    for (const char* bad : {"", "x", "0", "-2", "1e9", "nan", "0.5s"})
        EXPECT_EQ(aspi::ParseTimeoutScale(bad), 1.0) << bad;
    EXPECT_EQ(aspi::ParseTimeoutScale(nullptr), 1.0);
}

// A failed data-in command must not hand over what sg copied back from its own buffer.
TEST_F(SgBackendTest, OnlyBytesThatArrivedReachTheCallersBuffer)
{
    install();
    std::string trace = tree.root() + "/trace.txt";
    std::string error;
    ASSERT_TRUE(aspi::OpenTrace(trace, error)) << error;
    const std::vector<std::uint8_t> illegal = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0, 0, 0, 0, 0};
    const std::vector<std::uint8_t> shortBlock = {0xF0, 0, 0x20, 0, 0, 0, 4, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<std::uint8_t> answerSense;
    int resid = 0;
    sg.setAnswer([&](const std::string&, sg_io_hdr_t& hdr) {
        // Whatever the outcome, sg's buffer comes back filled (stale bytes of an earlier command).
        std::memset(hdr.dxferp, 0xEE, hdr.dxfer_len);
        hdr.resid = resid;
        return answerSense.empty() ? 0 : AnswerCheckCondition(hdr, answerSense);
    });
    const auto readInto = [&](std::array<std::uint8_t, 20>& buffer, std::initializer_list<std::uint8_t> cdb) {
        SRB_ExecSCSICmd srb;
        const std::vector<std::uint8_t> bytes(cdb);
        FillExecRecord(srb, kHost10, 3, SRB_DIR_IN, bytes, buffer.data(), buffer.size());
        SendAndWait(srb, buffer.data());
        return srb.SRB_Status;
    };

    // A failed READ POSITION, no residue reported: the buffer stays as it was.
    std::array<std::uint8_t, 20> position;
    position.fill(0x11);
    answerSense = illegal;
    EXPECT_EQ(readInto(position, {0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}), SS_ERR);
    EXPECT_TRUE(std::all_of(position.begin(), position.end(), [](auto b) { return b == 0x11; }));

    // A short block (ILI): the bytes that came, and not one more.
    std::array<std::uint8_t, 20> block;
    block.fill(0x11);
    answerSense = shortBlock;
    resid = 4;
    EXPECT_EQ(readInto(block, {0x08, 0, 0, 0, 20, 0}), SS_ERR);
    EXPECT_EQ(block[15], 0xEE);
    EXPECT_EQ(block[16], 0x11);

    // A success with a residue: likewise.
    answerSense.clear();
    resid = 18;
    block.fill(0x11);
    EXPECT_EQ(readInto(block, {0x1A, 0, 0, 0, 20, 0}), SS_COMP);
    EXPECT_EQ(block[1], 0xEE);
    EXPECT_EQ(block[2], 0x11);
    aspi::OpenTrace("", error);

    std::ifstream in(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].find(" in="), std::string::npos) << lines[0];
    std::string sixteen = "EE";
    for (int i = 1; i < 16; ++i)
        sixteen += " EE";
    EXPECT_NE(lines[1].find(" in=" + sixteen + " sense="), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" in=EE EE t="), std::string::npos) << lines[2];
}

// Failures the backend can explain carry their cause for whoever has to tell the user once.
TEST_F(SgBackendTest, KnownCausesComeWithTheFailureAndGoWithTheNextAnswer)
{
    sg.failOpen(tree.dev() + "/sg2", EACCES);
    install();
    run({0x00, 0, 0, 0, 0, 0}, kHost10Ch1, 5);
    const std::string denied = aspi::KnownFailureCause(kHost10Ch1, 5);
    EXPECT_NE(denied.find("Permission denied"), std::string::npos) << denied;
    EXPECT_NE(denied.find("group 'tape'"), std::string::npos) << denied;

    run({0x00, 0, 0, 0, 0, 0}, kHost3, 6);
    EXPECT_NE(aspi::KnownFailureCause(kHost3, 6).find("modprobe sg"), std::string::npos);

    // sysfs lists the node but /dev lacks it (no udev, or a rule that failed).
    sg.failOpen(sg1(), ENOENT);
    run({0x00, 0, 0, 0, 0, 0});
    const std::string missing = aspi::KnownFailureCause(kHost10, 3);
    EXPECT_NE(missing.find("No such file or directory"), std::string::npos) << missing;
    EXPECT_NE(missing.find("udevadm trigger"), std::string::npos) << missing;
    sg.failOpen(sg1(), 0);

    sg.setAnswer([](const std::string&, sg_io_hdr_t& hdr) {
        hdr.host_status = 0x03;
        return 0;
    });
    run({0x00, 0, 0, 0, 0, 0});
    EXPECT_NE(aspi::KnownFailureCause(kHost10, 3).find("timed out after 15 s"), std::string::npos)
        << aspi::KnownFailureCause(kHost10, 3);

    const std::vector<std::uint8_t> noTape = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0, 0, 0, 0, 0};
    sg.setAnswer([&](const std::string&, sg_io_hdr_t& hdr) { return AnswerCheckCondition(hdr, noTape); });
    run({0x00, 0, 0, 0, 0, 0});
    EXPECT_EQ(aspi::KnownFailureCause(kHost10, 3), "") << "a SCSI answer is no such cause";

    sg.setAnswer([](const std::string&, sg_io_hdr_t& hdr) {
        hdr.host_status = 0x01;
        return 0;
    });
    run({0x00, 0, 0, 0, 0, 0});
    EXPECT_NE(aspi::KnownFailureCause(kHost10, 3).find("power and cable"), std::string::npos);
}

TEST_F(SgBackendTest, DataTransfersReportTheBytesMoved)
{
    auto backend = aspi::CreateSgBackend(env());
    sg.setAnswer([](const std::string&, sg_io_hdr_t& hdr) {
        if (hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
            std::memset(hdr.dxferp, 0xA5, hdr.dxfer_len - 2);
            hdr.resid = 2;  // a block shorter than asked for
        }
        return 0;
    });
    std::array<std::uint8_t, 12> buffer{};
    const std::uint8_t read6[6] = {0x08, 0, 0, 0, 12, 0};
    aspi::ExecRequest req;
    req.adapter = kHost10;
    req.target = 3;
    req.cdb = read6;
    req.cdbLen = 6;
    req.direction = aspi::Direction::In;
    req.data = buffer.data();
    req.dataLen = buffer.size();
    const aspi::ExecResult in = backend->execute(req);
    EXPECT_EQ(in.srbStatus, SS_COMP);
    EXPECT_EQ(in.transferred, 10u);
    EXPECT_EQ(buffer[9], 0xA5);

    const std::uint8_t select6[6] = {0x15, 0x10, 0, 0, 12, 0};
    req.cdb = select6;
    req.direction = aspi::Direction::Out;
    const aspi::ExecResult out = backend->execute(req);
    EXPECT_EQ(out.transferred, 12u);
    const auto calls = sg.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(calls[0].dxferLen, 12u);
    EXPECT_EQ(calls[1].direction, SG_DXFER_TO_DEV);
}

TEST_F(SgBackendTest, CheckConditionCopiesFixedFormatSense)
{
    install();
    // NOT READY, medium not present.
    const std::vector<std::uint8_t> sense = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x00, 0, 0, 0, 0};
    sg.setAnswer([&](const std::string&, sg_io_hdr_t& hdr) { return AnswerCheckCondition(hdr, sense); });
    const SRB_ExecSCSICmd srb = run({0x00, 0, 0, 0, 0, 0});
    EXPECT_EQ(srb.SRB_Status, SS_ERR);
    EXPECT_EQ(srb.SRB_TargStat, 0x02);
    EXPECT_EQ(std::vector<std::uint8_t>(srb.SenseArea, srb.SenseArea + 14),
              std::vector<std::uint8_t>(sense.begin(), sense.begin() + 14));
    EXPECT_EQ(srb.SenseArea[14], 0) << "only SRB_SenseLen bytes are written";
    EXPECT_TRUE(sg.reports().empty()) << "a SCSI answer is not a failure to report";
}

TEST_F(SgBackendTest, CheckConditionInDescriptorFormatArrivesAsFixedFormat)
{
    install();
    // BLANK CHECK, end-of-data detected, with EOM in the stream-commands descriptor and
    // INFORMATION 0x1234 in the information descriptor.
    const std::vector<std::uint8_t> sense = {
        0x72, 0x08, 0x00, 0x05, 0, 0, 0, 16,
        0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34,
        0x04, 0x02, 0x00, 0x40,
    };
    sg.setAnswer([&](const std::string&, sg_io_hdr_t& hdr) { return AnswerCheckCondition(hdr, sense); });
    const SRB_ExecSCSICmd srb = run({0x08, 0, 0, 0x16, 0xBE, 0});
    EXPECT_EQ(srb.SRB_Status, SS_ERR);
    EXPECT_EQ(srb.SenseArea[0], 0xF0);
    EXPECT_EQ(srb.SenseArea[2], 0x48);  // EOM | BLANK CHECK
    EXPECT_EQ(srb.SenseArea[5], 0x12);
    EXPECT_EQ(srb.SenseArea[6], 0x34);
    EXPECT_EQ(srb.SenseArea[7], 10);
    EXPECT_EQ(srb.SenseArea[12], 0x00);
    EXPECT_EQ(srb.SenseArea[13], 0x05);
}

TEST_F(SgBackendTest, TimeoutsAreAborted)
{
    install();
    sg.setAnswer([](const std::string&, sg_io_hdr_t& hdr) {
        hdr.host_status = 0x03;  // DID_TIME_OUT
        hdr.duration = hdr.timeout;
        return 0;
    });
    SRB_ExecSCSICmd srb = run({0x2B, 4, 0, 0x20, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(srb.SRB_Status, SS_ABORTED);

    // Older kernels flagged the timeout in driver_status only.
    sg.setAnswer([](const std::string&, sg_io_hdr_t& hdr) {
        hdr.driver_status = 0x06;
        return 0;
    });
    srb = run({0x01, 0, 0, 0, 0, 0});
    EXPECT_EQ(srb.SRB_Status, SS_ABORTED);
}

TEST_F(SgBackendTest, TransportErrorsAndGoneDevicesFailWithOneLineEach)
{
    install();
    sg.setAnswer([](const std::string&, sg_io_hdr_t& hdr) {
        hdr.host_status = 0x07;  // DID_ERROR
        return 0;
    });
    SRB_ExecSCSICmd srb = run({0x00, 0, 0, 0, 0, 0});
    EXPECT_EQ(srb.SRB_Status, SS_ERR);
    EXPECT_EQ(srb.SRB_HaStat, 0x07);
    sg.setAnswer([](const std::string&, sg_io_hdr_t& hdr) {
        hdr.host_status = 0x01;  // DID_NO_CONNECT
        return 0;
    });
    srb = run({0x00, 0, 0, 0, 0, 0});
    EXPECT_NE(srb.SRB_Status, SS_COMP);
    EXPECT_NE(srb.SRB_Status, SS_PENDING);
    const auto reports = sg.reports();
    ASSERT_EQ(reports.size(), 2u);
    for (const std::string& line : reports) {
        EXPECT_NE(line.find("TEST UNIT READY"), std::string::npos) << line;
        EXPECT_NE(line.find(sg1()), std::string::npos) << line;
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    }
    EXPECT_NE(reports[0].find("host status 0x07"), std::string::npos) << reports[0];
}

TEST_F(SgBackendTest, UnopenableDeviceFailsAndSaysWhatToDo)
{
    sg.failOpen(sg1(), EACCES);
    install();
    SRB_ExecSCSICmd srb = run({0x00, 0, 0, 0, 0, 0});
    EXPECT_NE(srb.SRB_Status, SS_COMP);
    EXPECT_NE(srb.SRB_Status, SS_PENDING);
    EXPECT_TRUE(sg.calls().empty());
    auto reports = sg.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(sg1()), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("Permission denied"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("group 'tape'"), std::string::npos) << reports[0];

    // Polling the drive does not repeat the line.
    srb = run({0x00, 0, 0, 0, 0, 0});
    EXPECT_NE(srb.SRB_Status, SS_COMP);
    EXPECT_EQ(sg.reports().size(), 1u);
}

TEST_F(SgBackendTest, DeviceWithoutSgNodeSaysToLoadTheModule)
{
    install();
    const SRB_ExecSCSICmd srb = run({0x00, 0, 0, 0, 0, 0}, kHost3, 6);
    EXPECT_NE(srb.SRB_Status, SS_COMP);
    EXPECT_NE(srb.SRB_Status, SS_PENDING);
    EXPECT_TRUE(sg.opened().empty());
    const auto reports = sg.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("3:0:6:0"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("modprobe sg"), std::string::npos) << reports[0];
}

TEST_F(SgBackendTest, CommandToAnEmptyTargetOrAdapterFails)
{
    install();
    EXPECT_NE(run({0x00, 0, 0, 0, 0, 0}, kHost10, 4).SRB_Status, SS_COMP);
    EXPECT_EQ(run({0x00, 0, 0, 0, 0, 0}, kAdapterCount, 0).SRB_Status, SS_INVALID_HA);
    EXPECT_TRUE(sg.opened().empty());
}

TEST_F(SgBackendTest, UnpluggedDeviceIsOpenedAfreshOnItsNextCommand)
{
    install();
    bool gone = true;
    sg.setAnswer([&](const std::string&, sg_io_hdr_t&) {
        if (gone) {
            gone = false;
            errno = ENODEV;
            return -1;
        }
        return 0;
    });
    EXPECT_EQ(run({0x00, 0, 0, 0, 0, 0}).SRB_Status, SS_COMP);
    EXPECT_EQ(sg.opened().size(), 2u);
    EXPECT_EQ(sg.openCount(), 1) << "the dead descriptor was closed";

    sg.setAnswer([](const std::string&, sg_io_hdr_t&) {
        errno = ENODEV;
        return -1;
    });
    EXPECT_EQ(run({0x00, 0, 0, 0, 0, 0}).SRB_Status, SS_NO_DEVICE);
    ASSERT_EQ(sg.reports().size(), 1u);
    EXPECT_NE(sg.reports()[0].find("No such device"), std::string::npos) << sg.reports()[0];
}

TEST_F(SgBackendTest, DeviceLocationsNameTheNodeTheProductAndTheAccess)
{
    sg.failOpen(tree.dev() + "/sg2", EACCES);
    auto backend = aspi::CreateSgBackend(env());
    EXPECT_EQ(backend->deviceLocation(kHost10, 3), sg1() + " HP C1537A, read-write OK");
    const std::string cd = backend->deviceLocation(kHost10Ch1, 5);
    EXPECT_EQ(cd.rfind(tree.dev() + "/sg2 TOSHIBA CD-ROM XM-5701TA, Permission denied", 0), 0u) << cd;
    const std::string tape = backend->deviceLocation(kHost3, 6);
    EXPECT_EQ(tape.rfind("3:0:6:0 SONY SDT-9000, ", 0), 0u) << tape;
    EXPECT_NE(tape.find("modprobe sg"), std::string::npos) << tape;
    EXPECT_EQ(backend->deviceLocation(kHost10, 4), "");
    EXPECT_EQ(sg.openCount(), 0) << "the access check closes what it opened";
}

TEST(SgBackendWithoutSysfs, ReportsNoAdaptersAndSaysWhatToCheck)
{
    FakeSg sg;
    auto backend = aspi::CreateSgBackend(sg.environment("/nonexistent/sys", "/nonexistent/dev"));
    EXPECT_EQ(backend->supportInfo(), std::uint32_t{SS_COMP} << 8);
    aspi::AdapterInquiry info;
    EXPECT_EQ(backend->inquiry(0, info), SS_INVALID_HA);
    const std::string hint = backend->noAdapterHint();
    EXPECT_NE(hint.find("no SCSI host (/nonexistent/sys/class/scsi_host is empty)"), std::string::npos) << hint;
    for (const char* what : {"power and cable", "driver", "USB-SCSI bridge"})
        EXPECT_NE(hint.find(what), std::string::npos) << what;
    EXPECT_EQ(hint.find('\n'), std::string::npos);
}

TEST_F(SgBackendTest, AHostWithoutDevicesNeedsNoHint)
{
    EXPECT_EQ(aspi::CreateSgBackend(env())->noAdapterHint(), "");
}

// The fake tree must look real to a tool that reads real trees.
TEST_F(SgBackendTest, LsscsiListsTheFakeTreeAsARealSystem)
{
    if (std::system("command -v lsscsi >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "lsscsi is not installed";
    const auto capture = [](const std::string& command) {
        QStringList args = QString::fromStdString(command).split(' ', Qt::SkipEmptyParts);
        const QString program = args.takeFirst();
        testing_support::ChildProcess tool;
        tool.run(program, args);
        return tool.takeStdout();
    };
    const auto squeeze = [](const std::string& text) {
        std::istringstream in(text);
        std::string line, word, out;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string joined;
            while (words >> word)
                joined += (joined.empty() ? "" : " ") + word;
            out += joined + "\n";
        }
        return out;
    };
    EXPECT_EQ(squeeze(capture("lsscsi -g -k --sysfsroot=" + tree.sysfs())),
              "[2:0:0:0] disk ATA ST3500418AS CC38 - /dev/sg0\n"
              "[2:2:40:0] disk ATA WDC WD10EZEX 1A01 - /dev/sg5\n"
              "[3:0:6:0] tape SONY SDT-9000 0400 - -\n"
              "[10:0:3:0] tape HP C1537A L708 - /dev/sg1\n"
              "[10:0:3:1] mediumx HP C1553A L708 - /dev/sg4\n"
              "[10:1:5:0] cd/dvd TOSHIBA CD-ROM XM-5701TA 3136 - /dev/sg2\n"
              "[10:1:7:0] disk SEAGATE ST39173N 6244 - /dev/sg3\n");
    EXPECT_EQ(squeeze(capture("lsscsi -H --sysfsroot=" + tree.sysfs())),
              "[0] ahci\n[1] proc_name=????\n[2] usb-storage\n[3] mptspi\n[10] aic7xxx\n");
}

}  // namespace
