#include "platform/ui/event_pump.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <atomic>

namespace ui {
namespace {

// A posted event is never lost, unlike a bare dispatcher wake-up that lands between the
// status test and the wait: the next processEvents() returns after handling it.
class QtEventPump final : public EventPump {
public:
    void waitForEvents() override
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    void wake() override
    {
        if (auto* app = QCoreApplication::instance())
            QCoreApplication::postEvent(app, new QEvent(QEvent::None));
    }
};

std::atomic<EventPump*> g_pump{nullptr};

}  // namespace

EventPump& CurrentEventPump()
{
    static QtEventPump qtPump;
    EventPump* p = g_pump.load(std::memory_order_acquire);
    return p ? *p : qtPump;
}

void SetEventPump(EventPump* pump) { g_pump.store(pump, std::memory_order_release); }

}  // namespace ui
