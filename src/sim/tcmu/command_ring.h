// The command ring a TCMU backstore shares with its user-space handler: the kernel queues
// each SCSI command it receives for the device as an entry (CDB and data buffers, all as
// offsets into the shared area) and moves the head; the handler answers entries in order,
// writing status, sense and the bytes read over the entry, and moves the tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/io/result.h"

namespace sim::tcmu {

// One command as the handler sees it: the CDB, and the data gathered from the entry's
// buffers (for a data-out command what the initiator sent; for data-in room to answer into).
struct RingCommand {
    std::vector<std::uint8_t> cdb;
    std::vector<std::uint8_t> data;
};

struct RingReply {
    std::uint8_t status = 0;              // SCSI status (0 GOOD, 2 CHECK CONDITION)
    std::vector<std::uint8_t> sense;      // with CHECK CONDITION; at most 96 bytes are kept
    bool dataIn = false;                  // copy `transferred` bytes of data back to the initiator
    std::uint32_t transferred = 0;
};

using RingHandler = std::function<RingReply(RingCommand&)>;

class CommandRing {
public:
    // `base` is the whole mapped area (the mailbox at its start) of `size` bytes.
    CommandRing(std::uint8_t* base, std::size_t size);

    // Whether the mailbox describes a ring this handler understands and that fits the area;
    // if not, why.
    Status check() const;
    // Answers every entry queued between the tail and the head, in order, and returns how many
    // commands it answered. An entry that points outside the area gets CHECK CONDITION
    // (HARDWARE ERROR) instead of being followed.
    std::size_t serve(const RingHandler& handler);

private:
    std::uint32_t head() const;
    std::uint32_t tail() const;
    void setTail(std::uint32_t value);
    bool inArea(std::uint64_t offset, std::uint64_t length) const;
    void answer(std::uint8_t* entry, std::uint32_t entryLen, const RingHandler& handler);

    std::uint8_t* base_;
    std::size_t size_;
};

// The CDB's length from its operation code's group (6, 10, 12 or 16 bytes).
std::size_t CdbLength(std::uint8_t opcode);

}  // namespace sim::tcmu
