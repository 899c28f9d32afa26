#include "transport/send_and_wait.h"

#include <atomic>

#include "platform/ui/event_pump.h"

namespace {

void WakeWaiter(void*) { ui::CurrentEventPump().wake(); }

}  // namespace

std::uint8_t LoadStatus(SRB_ExecSCSICmd& srb)
{
    return std::atomic_ref<std::uint8_t>(srb.SRB_Status).load(std::memory_order_acquire);
}

void SendAndWait(SRB_ExecSCSICmd& srb, void* buffer)
{
    // Added once and never removed; other hooks come and go beside it.
    [[maybe_unused]] static const int hook = AspiAddCompletionHook(&WakeWaiter, nullptr);

    SendASPI32CommandWithBuffer(&srb, buffer);
    while (LoadStatus(srb) == SS_PENDING)
        ui::CurrentEventPump().waitForEvents();
}
