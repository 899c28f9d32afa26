// Sending commands to the virtual bus through the manager's entry points, and waiting for
// them on the manager's completion hook (no event loop, no polling).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/aspi/aspi.h"
#include "platform/aspi/backend.h"

namespace simtest {

struct Reply {
    std::uint8_t status = 0;
    std::uint8_t haStat = 0;
    std::uint8_t senseKey = 0, asc = 0, ascq = 0;
    std::uint8_t sense[kSenseAreaLen] = {};
    std::vector<std::uint8_t> data;
};

inline std::mutex& HookMutex()
{
    static std::mutex m;
    return m;
}
inline std::condition_variable& HookSignal()
{
    static std::condition_variable c;
    return c;
}
inline void OnCompletion(void*)
{
    { std::lock_guard lock(HookMutex()); }
    HookSignal().notify_all();
}

// Sends one execute record (data in: `length` bytes come back; data out: `out` goes) and
// waits for its status.
inline Reply Send(std::vector<std::uint8_t> cdb, aspi::Direction direction = aspi::Direction::None,
                  std::uint32_t length = 0, std::vector<std::uint8_t> out = {}, std::uint8_t adapter = 0,
                  std::uint8_t target = 4)
{
    [[maybe_unused]] static const int hookId = AspiAddCompletionHook(&OnCompletion, nullptr);
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = adapter;
    srb.SRB_Target = target;
    srb.SRB_Flags = direction == aspi::Direction::In ? SRB_DIR_IN : direction == aspi::Direction::Out ? SRB_DIR_OUT : 0;
    srb.SRB_SenseLen = 14;
    srb.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
    std::memcpy(srb.CDBByte, cdb.data(), cdb.size());
    std::vector<std::uint8_t> buffer = direction == aspi::Direction::Out ? out : std::vector<std::uint8_t>(length);
    srb.SRB_BufLen = direction == aspi::Direction::None ? 0 : static_cast<std::uint32_t>(buffer.size());
    srb.SRB_BufPointer = srb.SRB_BufLen ? static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer.data())) : 1;
    SendASPI32CommandWithBuffer(&srb, srb.SRB_BufLen ? buffer.data() : nullptr);
    auto status = [&] { return std::atomic_ref<std::uint8_t>(srb.SRB_Status).load(std::memory_order_acquire); };
    {
        std::unique_lock lock(HookMutex());
        HookSignal().wait(lock, [&] { return status() != SS_PENDING; });
    }
    Reply r;
    r.status = status();
    r.haStat = srb.SRB_HaStat;
    std::memcpy(r.sense, srb.SenseArea, sizeof r.sense);
    r.senseKey = srb.SenseArea[2];
    r.asc = srb.SenseArea[12];
    r.ascq = srb.SenseArea[13];
    if (direction == aspi::Direction::In)
        r.data = buffer;
    return r;
}

inline Reply TestUnitReady(std::uint8_t target = 4) { return Send({0, 0, 0, 0, 0, 0}, aspi::Direction::None, 0, {}, 0, target); }
inline Reply ModeSense() { return Send({0x1A, 0, 0, 0, 12, 0}, aspi::Direction::In, 12); }
inline Reply ModeSelect(std::uint8_t density)
{
    return Send({0x15, 0, 0, 0, 12, 0}, aspi::Direction::Out, 12, {0, 0, 0x10, 8, density, 0, 0, 0, 0, 0, 2, 0});
}
inline Reply ReadFrames(std::uint32_t frames)
{
    const std::uint32_t n = frames * 5822;
    return Send({0x08, 0, std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n), 0}, aspi::Direction::In, n);
}
inline Reply LocateProgram(std::uint8_t h, std::uint8_t t, std::uint8_t u)
{
    return Send({0x2B, 0x04, 0, 0x00, h, t, u, 0, 0, 0});
}
inline Reply LocateTime(std::uint8_t h, std::uint8_t m, std::uint8_t s)  // BCD bytes
{
    return Send({0x2B, 0x04, 0, 0x20, h, m, s, 0, 0, 0});
}
inline Reply LocateBlock(std::uint32_t block)
{
    return Send({0x2B, 0, 0, std::uint8_t(block >> 24), std::uint8_t(block >> 16), std::uint8_t(block >> 8),
                 std::uint8_t(block), 0, 0, 0});
}
inline Reply ReadPosition() { return Send({0x34, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, aspi::Direction::In, 20); }
inline Reply Rewind() { return Send({0x01, 0, 0, 0, 0, 0}); }
inline Reply Eject() { return Send({0x1B, 0, 0, 0, 0, 0}); }
inline Reply PreventRemoval(bool prevent) { return Send({0x1E, 0, 0, 0, std::uint8_t(prevent ? 1 : 0), 0}); }

}  // namespace simtest
