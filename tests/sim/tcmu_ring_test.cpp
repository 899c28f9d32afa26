// The TCMU command ring as the kernel fills it: entries and data buffers laid out by hand in
// a shared area, answered by the ring code, and the virtual drive behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "sim/simulator.h"
#include "sim/tcmu/command_ring.h"
#include "sim/tcmu/drive_service.h"
#include "sim/tcmu/ring_layout.h"
#include "sim/virtual_bus.h"

namespace {

using sim::tcmu::CommandRing;
using sim::tcmu::RingCommand;
using sim::tcmu::RingReply;

constexpr std::uint32_t kRingOff = kTcmuMailboxSize;
constexpr std::uint32_t kRingSize = 4096;
constexpr std::uint32_t kDataOff = kRingOff + kRingSize;
constexpr std::size_t kAreaSize = kDataOff + 64 * 1024;

template <typename T>
T Get(const std::uint8_t* at)
{
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <typename T>
void Put(std::uint8_t* at, T v)
{
    std::memcpy(at, &v, sizeof v);
}

struct Buf {
    std::uint64_t offset;
    std::uint64_t length;
};

// A shared area with the mailbox filled in as the kernel leaves it, and a way to queue entries.
class SharedArea {
public:
    explicit SharedArea(std::uint16_t flags = kTcmuFlagCapReadLen)
        : words_(new std::uint64_t[kAreaSize / 8]()), base_(reinterpret_cast<std::uint8_t*>(words_.get()))
    {
        Put<std::uint16_t>(base_ + kTcmuMailboxVersion, kTcmuMailboxVersionSupported);
        Put<std::uint16_t>(base_ + kTcmuMailboxFlags, flags);
        Put<std::uint32_t>(base_ + kTcmuRingOffset, kRingOff);
        Put<std::uint32_t>(base_ + kTcmuRingSize, kRingSize);
    }

    std::uint8_t* base() { return base_; }
    std::uint32_t head() { return Get<std::uint32_t>(base_ + kTcmuHead); }
    std::uint32_t tail() { return Get<std::uint32_t>(base_ + kTcmuTail); }
    void setHeadTail(std::uint32_t at)
    {
        Put<std::uint32_t>(base_ + kTcmuHead, at);
        Put<std::uint32_t>(base_ + kTcmuTail, at);
    }

    // Queues a command: its CDB is copied into the data area at `cdbAt`; returns the entry.
    std::uint8_t* command(const std::vector<std::uint8_t>& cdb, const std::vector<Buf>& bufs, std::uint64_t cdbAt)
    {
        const std::uint32_t len = Align(kTcmuIovs + bufs.size() * kTcmuIovSize + 0);
        std::uint8_t* e = entry(len, kTcmuOpCmd);
        Put<std::uint32_t>(e + kTcmuIovCount, static_cast<std::uint32_t>(bufs.size()));
        Put<std::uint64_t>(e + kTcmuCdbOffset, cdbAt);
        for (std::size_t i = 0; i < bufs.size(); ++i) {
            Put<std::uint64_t>(e + kTcmuIovs + i * kTcmuIovSize, bufs[i].offset);
            Put<std::uint64_t>(e + kTcmuIovs + i * kTcmuIovSize + 8, bufs[i].length);
        }
        if (cdb.size() <= kAreaSize && cdbAt <= kAreaSize - cdb.size())
            std::memcpy(base_ + cdbAt, cdb.data(), cdb.size());
        advance(len);
        return e;
    }

    void other(std::uint32_t len, std::uint32_t op)
    {
        entry(len, op);
        advance(len);
    }

private:
    static std::uint32_t Align(std::size_t n)
    {
        const std::size_t a = std::max<std::size_t>(n, kTcmuEntrySize);
        return static_cast<std::uint32_t>((a + 7) / 8 * 8);
    }
    std::uint8_t* entry(std::uint32_t len, std::uint32_t op)
    {
        std::uint8_t* e = base_ + kRingOff + head();
        std::memset(e, 0, len);
        Put<std::uint32_t>(e + kTcmuLenOp, len | op);
        return e;
    }
    void advance(std::uint32_t len) { Put<std::uint32_t>(base_ + kTcmuHead, (head() + len) % kRingSize); }

    std::unique_ptr<std::uint64_t[]> words_;  // 8-byte aligned, as the mapped page is
    std::uint8_t* base_;
};

std::uint8_t Status(const std::uint8_t* e) { return e[kTcmuStatus]; }
std::uint32_t ReadLen(const std::uint8_t* e) { return Get<std::uint32_t>(e + kTcmuReadLen); }
bool ReadLenFlag(const std::uint8_t* e) { return (e[kTcmuUflags] & kTcmuUflagReadLen) != 0; }

const std::vector<std::uint8_t> kRead5822{0x08, 0x00, 0x00, 0x16, 0xBE, 0x00};

TEST(CommandRing, DataInIsScatteredOverTheEntrysBuffersAndTheReadLengthSet)
{
    SharedArea area;
    // Two pages apart and out of order, as the kernel's data blocks may be.
    const Buf first{kDataOff + 8192, 4096}, second{kDataOff + 4096, 1726};
    std::uint8_t* e = area.command(kRead5822, {first, second}, kDataOff);
    CommandRing ring(area.base(), kAreaSize);
    const ::Status checked = ring.check();
    ASSERT_TRUE(checked) << checked.error();

    int calls = 0;
    const auto answered = ring.serve([&](RingCommand& c) {
        ++calls;
        EXPECT_EQ(c.cdb, kRead5822);
        EXPECT_EQ(c.data.size(), 5822u);
        for (std::size_t i = 0; i < c.data.size(); ++i)
            c.data[i] = static_cast<std::uint8_t>(i * 7);
        return RingReply{0, {}, true, 5822};
    });
    EXPECT_EQ(answered, 1u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(area.tail(), area.head());
    EXPECT_EQ(Status(e), 0);
    EXPECT_TRUE(ReadLenFlag(e));
    EXPECT_EQ(ReadLen(e), 5822u);
    EXPECT_EQ(area.base()[first.offset + 4095], static_cast<std::uint8_t>(4095 * 7));
    EXPECT_EQ(area.base()[second.offset], static_cast<std::uint8_t>(4096 * 7));
    EXPECT_EQ(area.base()[second.offset + 1725], static_cast<std::uint8_t>(5821 * 7));
}

TEST(CommandRing, AShortAnswerWritesOnlyWhatCameAndCarriesItsSense)
{
    SharedArea area;
    const Buf buf{kDataOff + 4096, 5822};
    std::memset(area.base() + buf.offset, 0xEE, buf.length);
    std::uint8_t* e = area.command(kRead5822, {buf}, kDataOff);
    CommandRing ring(area.base(), kAreaSize);
    const std::vector<std::uint8_t> blankCheck{0xF0, 0, 0x08, 0, 0, 0x16, 0xBE, 10, 0, 0, 0, 0, 0x00, 0x05};
    ring.serve([&](RingCommand& c) {
        std::memset(c.data.data(), 0x11, 100);
        return RingReply{2, blankCheck, true, 100};
    });
    EXPECT_EQ(Status(e), 2);
    EXPECT_EQ(std::memcmp(e + kTcmuSense, blankCheck.data(), blankCheck.size()), 0);
    EXPECT_EQ(e[kTcmuSense + blankCheck.size()], 0) << "the rest of the sense area is cleared";
    EXPECT_EQ(ReadLen(e), 100u);
    EXPECT_EQ(area.base()[buf.offset + 99], 0x11);
    EXPECT_EQ(area.base()[buf.offset + 100], 0xEE) << "bytes that did not come are left as they were";

    // A kernel without the read-length capability takes the buffer whole: no flag is set.
    SharedArea old(0);
    std::uint8_t* e2 = old.command(kRead5822, {buf}, kDataOff);
    CommandRing(old.base(), kAreaSize).serve([](RingCommand&) { return RingReply{0, {}, true, 10}; });
    EXPECT_FALSE(ReadLenFlag(e2));
}

TEST(CommandRing, DataOutIsGatheredInOrder)
{
    SharedArea area;
    const std::vector<std::uint8_t> list{0x00, 0x00, 0x10, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00};
    const Buf a{kDataOff + 100, 5}, b{kDataOff + 50, 7};
    std::memcpy(area.base() + a.offset, list.data(), 5);
    std::memcpy(area.base() + b.offset, list.data() + 5, 7);
    std::uint8_t* e = area.command({0x15, 0x00, 0x00, 0x00, 0x0C, 0x00}, {a, b}, kDataOff);
    CommandRing ring(area.base(), kAreaSize);
    ring.serve([&](RingCommand& c) {
        EXPECT_EQ(c.data, list);
        return RingReply{0, {}, false, 0};
    });
    EXPECT_EQ(Status(e), 0);
    EXPECT_FALSE(ReadLenFlag(e)) << "no read length for data that went out";
    EXPECT_EQ(std::memcmp(area.base() + a.offset, list.data(), 5), 0) << "what was sent is not overwritten";
}

TEST(CommandRing, PaddingAndNoticesAreSkippedAcrossTheRingsEnd)
{
    SharedArea area;
    area.setHeadTail(kRingSize - 128);
    area.other(128, kTcmuOpPad);  // the kernel pads to the end rather than split an entry
    area.other(kTcmuEntrySize, kTcmuOpTmr);
    std::uint8_t* e = area.command({0x00, 0, 0, 0, 0, 0}, {}, kDataOff);
    area.other(kTcmuEntrySize, 5);  // an operation this handler does not know
    CommandRing ring(area.base(), kAreaSize);
    int calls = 0;
    EXPECT_EQ(ring.serve([&](RingCommand& c) {
        ++calls;
        EXPECT_TRUE(c.data.empty());
        return RingReply{};
    }),
              1u);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Status(e), 0);
    EXPECT_EQ(area.tail(), area.head());
    const std::uint8_t* unknown = area.base() + kRingOff + area.head() - kTcmuEntrySize;
    EXPECT_TRUE(unknown[kTcmuUflags] & kTcmuUflagUnknownOp);
    EXPECT_EQ(ring.serve([&](RingCommand&) { return RingReply{}; }), 0u) << "nothing is answered twice";
}

TEST(CommandRing, EntriesPointingOutsideTheAreaAreRefusedNotFollowed)
{
    SharedArea area;
    std::uint8_t* farBuffer = area.command(kRead5822, {{kAreaSize - 100, 5822}}, kDataOff);
    std::uint8_t* wrapBuffer = area.command(kRead5822, {{~std::uint64_t{0} - 10, 20}}, kDataOff);
    std::uint8_t* farCdb = area.command(kRead5822, {}, kAreaSize + 4096);
    CommandRing ring(area.base(), kAreaSize);
    int calls = 0;
    EXPECT_EQ(ring.serve([&](RingCommand&) {
        ++calls;
        return RingReply{};
    }),
              3u);
    EXPECT_EQ(calls, 0);
    for (const std::uint8_t* e : {farBuffer, wrapBuffer, farCdb}) {
        EXPECT_EQ(Status(e), 2);
        EXPECT_EQ(e[kTcmuSense + 2], 0x04) << "HARDWARE ERROR";
    }

    // A zero-length entry gives no way forward: serving stops instead of spinning.
    SharedArea stuck;
    stuck.other(kTcmuEntrySize, kTcmuOpCmd);
    Put<std::uint32_t>(stuck.base() + kRingOff, kTcmuOpCmd);
    EXPECT_EQ(CommandRing(stuck.base(), kAreaSize).serve([](RingCommand&) { return RingReply{}; }), 0u);

    // An entry stepping over the head (here the whole ring long, back to where it began)
    // would be walked round for ever: serving stops at it.
    SharedArea round;
    round.other(kTcmuEntrySize, kTcmuOpCmd);
    Put<std::uint32_t>(round.base() + kRingOff, kRingSize | kTcmuOpPad);
    EXPECT_EQ(CommandRing(round.base(), kAreaSize).serve([](RingCommand&) { return RingReply{}; }), 0u);
    EXPECT_EQ(round.tail(), 0u);

    // A command entry too short for its reply, last in an area that ends with the ring:
    // not answered, and nothing written past it.
    constexpr std::size_t kTightArea = kRingOff + kRingSize;
    SharedArea tight;
    tight.setHeadTail(kRingSize - 16);
    tight.other(16, kTcmuOpCmd);
    std::uint8_t* shortEntry = tight.base() + kRingOff + kRingSize - 16;
    Put<std::uint32_t>(shortEntry, 16 | kTcmuOpCmd);
    std::vector<std::uint8_t> after(tight.base() + kTightArea, tight.base() + kTightArea + 128);
    int shortCalls = 0;
    CommandRing tightRing(tight.base(), kTightArea);
    ASSERT_TRUE(tightRing.check());
    EXPECT_EQ(tightRing.serve([&](RingCommand&) {
        ++shortCalls;
        return RingReply{};
    }),
              0u);
    EXPECT_EQ(shortCalls, 0);
    EXPECT_TRUE(shortEntry[kTcmuUflags] & kTcmuUflagUnknownOp);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), tight.base() + kTightArea));
    EXPECT_EQ(tight.tail(), 0u) << "the entry is passed over";

    SharedArea badVersion;
    Put<std::uint16_t>(badVersion.base() + kTcmuMailboxVersion, 1);
    EXPECT_FALSE(CommandRing(badVersion.base(), kAreaSize).check());
    SharedArea tooBig;
    Put<std::uint32_t>(tooBig.base() + kTcmuRingSize, kAreaSize);
    const ::Status tooBigChecked = CommandRing(tooBig.base(), kAreaSize).check();
    EXPECT_FALSE(tooBigChecked);
    EXPECT_NE(tooBigChecked.error().find("does not lie in the shared area"), std::string::npos)
        << tooBigChecked.error();
}

// The drive behind the ring, at target 4 of a bus built as --simulate builds it.
class DriveBehindRing : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::BusConfig config;
        std::string error;
        ASSERT_TRUE(sim::ParseBusDescription(
            R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "demo",
                "vendor": "ACME", "product": "DAT 9000", "revision": "7.1"}]}]})",
            ".", config, error))
            << error;
        config.clock = std::make_shared<sim::VirtualClock>();
        bus = sim::CreateBus(config, error);
        ASSERT_TRUE(bus) << error;
    }

    RingReply run(std::vector<std::uint8_t> cdb, std::size_t dataLen, RingCommand* keep = nullptr)
    {
        RingCommand c{std::move(cdb), std::vector<std::uint8_t>(dataLen, 0x5A)};
        RingReply r = sim::tcmu::RunOnDrive(*bus, 0, 4, c);
        if (keep)
            *keep = c;
        return r;
    }

    std::unique_ptr<sim::Bus> bus;
};

TEST_F(DriveBehindRing, InquiryNamesTheDriveAndLeavesThePowerOnAttentionToTheProgram)
{
    RingCommand c;
    RingReply r = run({0x12, 0, 0, 0, 36, 0}, 36, &c);
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(r.dataIn);
    EXPECT_EQ(r.transferred, 36u);
    EXPECT_EQ(c.data[0], 0x01) << "a tape device";
    EXPECT_EQ(c.data[1], 0x80) << "removable";
    EXPECT_EQ(std::string(c.data.begin() + 8, c.data.begin() + 36), "ACME    DAT 9000        7.1 ");

    EXPECT_EQ(run({0x12, 0, 0, 0, 5, 0}, 5).transferred, 5u) << "the allocation length is honoured";
    RingReply vpd = run({0x12, 0x01, 0x80, 0, 255, 0}, 255);
    EXPECT_EQ(vpd.status, 2) << "no vital product data pages";
    EXPECT_EQ(vpd.transferred, 0u);

    RingReply tur = run({0x00, 0, 0, 0, 0, 0}, 0);
    ASSERT_EQ(tur.status, 2);
    EXPECT_EQ(tur.sense[2] & 0x0F, 0x06);
    EXPECT_EQ(tur.sense[12], 0x29) << "the power-on attention still waits for the program";
    EXPECT_EQ(run({0x00, 0, 0, 0, 0, 0}, 0).status, 0);
}

TEST_F(DriveBehindRing, ModeSelectGoesOutAndAReadComesInWithItsResidue)
{
    run({0x00, 0, 0, 0, 0, 0}, 0);
    std::vector<std::uint8_t> list{0x00, 0x00, 0x10, 0x08, 0x80, 0, 0, 0, 0, 0x00, 0x02, 0x00};
    RingCommand select{{0x15, 0x00, 0x00, 0x00, 0x0C, 0x00}, list};
    RingReply r = sim::tcmu::RunOnDrive(*bus, 0, 4, select);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.dataIn);

    RingReply read = run(kRead5822, 5822);
    EXPECT_EQ(read.status, 0);
    EXPECT_EQ(read.transferred, 5822u);
    EXPECT_EQ(run({0x08, 0x00, 0x00, 0x00, 0x10, 0x00}, 16).status, 2) << "not a whole frame";
}

TEST_F(DriveBehindRing, AWritesFrameGoesOutAndIsReadBackAsSent)
{
    run({0x00, 0, 0, 0, 0, 0}, 0);
    std::vector<std::uint8_t> frame(5822);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(i * 7);
    RingCommand write{{0x0A, 0x00, 0x00, 0x16, 0xBE, 0x00}, frame};
    const RingReply r = sim::tcmu::RunOnDrive(*bus, 0, 4, write);
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(r.dataIn);
    EXPECT_EQ(write.data, frame) << "what the initiator sent is not overwritten";
    EXPECT_EQ(run({0x01, 0, 0, 0, 0, 0}, 0).status, 0);  // REWIND
    RingCommand back;
    EXPECT_EQ(run(kRead5822, 5822, &back).status, 0);
    EXPECT_EQ(back.data, frame);
}

TEST(DriveBehindRingGone, AnOutcomeWithoutSCSIStatusBecomesAnAbortedCommand)
{
    // An unplugged drive has no SCSI answer; through the kernel it must still fail, not pass.
    sim::BusConfig config;
    std::string error;
    ASSERT_TRUE(sim::ParseBusDescription(
        R"({"read_speed": 0, "adapters": [{"devices": [{"target": 4, "tape": "demo", "vanish_after_reads": 0}]}]})",
        ".", config, error));
    auto bus = sim::CreateBus(config, error);
    ASSERT_TRUE(bus) << error;
    RingCommand tur{{0x00, 0, 0, 0, 0, 0}, {}};
    sim::tcmu::RunOnDrive(*bus, 0, 4, tur);
    RingCommand read{kRead5822, std::vector<std::uint8_t>(5822)};
    const RingReply r = sim::tcmu::RunOnDrive(*bus, 0, 4, read);
    ASSERT_EQ(r.status, 2);
    EXPECT_EQ(r.sense[2] & 0x0F, 0x0B) << "ABORTED COMMAND";
    EXPECT_EQ(r.transferred, 0u);
}

TEST(BusDescription, DriveIdentityKeysAreChecked)
{
    sim::BusConfig config;
    std::string error;
    EXPECT_FALSE(sim::ParseBusDescription(
        R"({"adapters": [{"devices": [{"target": 4, "vendor": "TOO LONG VENDOR"}]}]})", ".", config, error));
    EXPECT_NE(error.find("\"adapters[0].devices[0].vendor\""), std::string::npos) << error;
    EXPECT_FALSE(sim::ParseBusDescription(
        R"({"adapters": [{"devices": [{"target": 4, "product": "tab\there"}]}]})", ".", config, error));
    EXPECT_NE(error.find("product"), std::string::npos) << error;
    ASSERT_TRUE(sim::ParseBusDescription(R"({"adapters": [{"devices": [{"target": 4}]}]})", ".", config, error));
    EXPECT_EQ(config.adapters[0].devices[0].vendor, "VANTREL");
}

}  // namespace
