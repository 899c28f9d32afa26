#include "platform/ui/event_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <atomic>

namespace ui {
namespace {

// Waking goes through the main thread's dispatcher rather than a posted event: wakeUp() is
// thread-safe, sticky (a wake that lands between the status test and the wait makes that
// wait return at once), and hands no heap object across threads.
class QtEventPump final : public EventPump {
public:
    void waitForEvents() override
    {
        if (!dispatcher_.load(std::memory_order_acquire)) {
            // A wake sent before the dispatcher was known is lost: this first round does not
            // block, and the caller tests its condition again.
            if (auto* app = QCoreApplication::instance())
                dispatcher_.store(app->thread()->eventDispatcher(), std::memory_order_release);
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    void wake() override
    {
        if (QAbstractEventDispatcher* d = dispatcher_.load(std::memory_order_acquire))
            d->wakeUp();
    }

private:
    // Set by the waiting thread before its first wait, so a wake always finds it.
    std::atomic<QAbstractEventDispatcher*> dispatcher_{nullptr};
};

std::atomic<EventPump*> g_pump{nullptr};

}  // namespace

EventPump& CurrentEventPump()
{
    // Leaked on purpose: the manager's thread may still wake it while statics are destroyed.
    static QtEventPump& qtPump = *new QtEventPump;
    EventPump* p = g_pump.load(std::memory_order_acquire);
    return p ? *p : qtPump;
}

void SetEventPump(EventPump* pump) { g_pump.store(pump, std::memory_order_release); }

}  // namespace ui
