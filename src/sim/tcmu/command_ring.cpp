#include "sim/tcmu/command_ring.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "platform/aspi/scsi_codes.h"
#include "platform/aspi/sense.h"
#include "sim/tcmu/ring_layout.h"

namespace sim::tcmu {
namespace {

template <typename T>
T Load(const std::uint8_t* at)
{
    T v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

template <typename T>
void Store(std::uint8_t* at, T v)
{
    std::memcpy(at, &v, sizeof v);
}

struct Buffer {
    std::uint64_t offset;
    std::uint64_t length;
};

// HARDWARE ERROR, internal target failure (44/00).
RingReply HardwareError()
{
    RingReply r;
    r.status = scsi::status::CheckCondition;
    std::uint8_t sense[32] = {};
    r.sense.assign(sense, sense + scsi::BuildFixedSense(sense, scsi::key::HardwareError, scsi::Asc{0x44, 0x00}));
    return r;
}

}  // namespace

std::size_t CdbLength(std::uint8_t opcode)
{
    switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 16;  // reserved and vendor groups: take what a CDB can hold
    }
}

CommandRing::CommandRing(std::uint8_t* base, std::size_t size) : base_(base), size_(size) {}

// The kernel moves the head and the handler the tail, each from its own side, so both are
// touched only atomically: acquire on the head so an entry is read after it was written,
// release on the tail so the answer is in place before the kernel sees it.
std::uint32_t CommandRing::head() const
{
    return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(base_ + kTcmuHead))
        .load(std::memory_order_acquire);
}

std::uint32_t CommandRing::tail() const
{
    return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(base_ + kTcmuTail))
        .load(std::memory_order_relaxed);
}

void CommandRing::setTail(std::uint32_t value)
{
    std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(base_ + kTcmuTail))
        .store(value, std::memory_order_release);
}

Status CommandRing::check() const
{
    if (size_ < kTcmuMailboxSize)
        return Status::Error("the shared area is smaller than its mailbox");
    const auto version = Load<std::uint16_t>(base_ + kTcmuMailboxVersion);
    if (version != kTcmuMailboxVersionSupported)
        return Status::Error("mailbox version " + std::to_string(version) + ", expected " +
                             std::to_string(kTcmuMailboxVersionSupported));
    const auto off = Load<std::uint32_t>(base_ + kTcmuRingOffset);
    const auto size = Load<std::uint32_t>(base_ + kTcmuRingSize);
    if (size == 0 || off < kTcmuMailboxSize || !inArea(off, size))
        return Status::Error("the command ring (offset " + std::to_string(off) + ", " + std::to_string(size) +
                             " bytes) does not lie in the shared area of " + std::to_string(size_) + " bytes");
    return Status::Ok();
}

bool CommandRing::inArea(std::uint64_t offset, std::uint64_t length) const
{
    return offset <= size_ && length <= size_ - offset;
}

std::size_t CommandRing::serve(const RingHandler& handler)
{
    const auto ringOff = Load<std::uint32_t>(base_ + kTcmuRingOffset);
    const auto ringSize = Load<std::uint32_t>(base_ + kTcmuRingSize);
    std::size_t answered = 0;
    std::uint32_t at = tail() % ringSize;
    const std::uint32_t end = head() % ringSize;
    while (at != end) {
        std::uint8_t* entry = base_ + ringOff + at;
        if (ringSize - at < kTcmuHeaderSize)
            break;  // a header cannot straddle the end: the ring is not what the kernel writes
        const auto lenOp = Load<std::uint32_t>(entry);
        const std::uint32_t len = lenOp & ~std::uint32_t{kTcmuOpMask};
        if (len == 0 || len > ringSize - at)
            break;  // nothing sane to skip by: stop rather than loop or run off the ring
        // An entry reaching past the head would step over it, and the walk would go round
        // the ring for ever.
        if (len > (end + ringSize - at) % ringSize)
            break;
        switch (lenOp & kTcmuOpMask) {
        case kTcmuOpPad:
            break;
        case kTcmuOpCmd:
            // The reply is written over the entry: one too short to hold it is not answered
            // in memory that is not its own.
            if (len < kTcmuEntrySize) {
                entry[kTcmuUflags] |= kTcmuUflagUnknownOp;
                break;
            }
            answer(entry, len, handler);
            ++answered;
            break;
        case kTcmuOpTmr:
            break;  // a notice only; the aborted commands are answered as they come
        default:
            entry[kTcmuUflags] |= kTcmuUflagUnknownOp;
            break;
        }
        at = (at + len) % ringSize;
        setTail(at);
    }
    return answered;
}

void CommandRing::answer(std::uint8_t* entry, std::uint32_t entryLen, const RingHandler& handler)
{
    std::vector<Buffer> buffers;
    RingCommand command;
    bool sound = entryLen >= kTcmuEntrySize;
    if (sound) {
        const auto count = Load<std::uint32_t>(entry + kTcmuIovCount);
        const auto bidi = Load<std::uint32_t>(entry + kTcmuIovBidiCount);
        const auto cdbOff = Load<std::uint64_t>(entry + kTcmuCdbOffset);
        // The data buffers (the bidirectional ones would follow; no tape command has them).
        sound = bidi == 0 && count <= (entryLen - kTcmuIovs) / kTcmuIovSize && inArea(cdbOff, 1);
        std::uint64_t total = 0;
        for (std::uint32_t i = 0; sound && i < count; ++i) {
            const std::uint8_t* iov = entry + kTcmuIovs + i * kTcmuIovSize;
            const Buffer b{Load<std::uint64_t>(iov), Load<std::uint64_t>(iov + 8)};
            sound = inArea(b.offset, b.length);
            total += b.length;
            buffers.push_back(b);
        }
        sound = sound && total <= size_;
        if (sound) {
            const std::size_t cdbLen = CdbLength(base_[cdbOff]);
            sound = inArea(cdbOff, cdbLen);
            if (sound) {
                command.cdb.assign(base_ + cdbOff, base_ + cdbOff + cdbLen);
                command.data.reserve(total);
                for (const Buffer& b : buffers)
                    command.data.insert(command.data.end(), base_ + b.offset, base_ + b.offset + b.length);
            }
        }
    }
    const RingReply reply = sound ? handler(command) : HardwareError();
    const std::uint64_t delivered = reply.dataIn ? std::min<std::uint64_t>(reply.transferred, command.data.size()) : 0;

    if (delivered > 0) {
        std::uint64_t left = delivered;
        std::size_t from = 0;
        for (const Buffer& b : buffers) {
            if (left == 0)
                break;
            const std::size_t n = static_cast<std::size_t>(std::min(left, b.length));
            std::memcpy(base_ + b.offset, command.data.data() + from, n);
            from += n;
            left -= n;
        }
    }
    // The reply overlays the request; everything needed from it has been read.
    entry[kTcmuStatus] = reply.status;
    std::memset(entry + kTcmuSense, 0, kTcmuSenseSize);
    if (reply.status == scsi::status::CheckCondition)
        std::memcpy(entry + kTcmuSense, reply.sense.data(), std::min<std::size_t>(reply.sense.size(), kTcmuSenseSize));
    const auto mailboxFlags = Load<std::uint16_t>(base_ + kTcmuMailboxFlags);
    if (reply.dataIn && (mailboxFlags & kTcmuFlagCapReadLen)) {
        // Without it the kernel takes the whole buffer as read; with it the initiator learns
        // the residue, so a short answer is not padded out with old bytes.
        entry[kTcmuUflags] |= kTcmuUflagReadLen;
        Store<std::uint32_t>(entry + kTcmuReadLen, static_cast<std::uint32_t>(delivered));
    }
}

}  // namespace sim::tcmu
