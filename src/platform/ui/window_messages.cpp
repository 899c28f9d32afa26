#include "platform/ui/window_messages.h"

#include <QCoreApplication>
#include <QObject>

namespace {

constexpr const char* kFilterName = "vantrelWindowProc";

// Holds a window's procedure; child of the window, so it goes with it.
class WindowProcFilter final : public QObject {
public:
    WindowProcFilter(QObject* window, WNDPROC proc) : QObject(window), proc_(proc)
    {
        setObjectName(kFilterName);
    }
    WNDPROC replace(WNDPROC proc)
    {
        WNDPROC old = proc_;
        proc_ = proc;
        return old;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override { return proc_(watched, event); }

private:
    WNDPROC proc_;
};

}  // namespace

WindowMessageEvent::WindowMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
    : QEvent(typeOf(message)), message(message), wParam(wParam), lParam(lParam)
{
}

const WindowMessageEvent* AsWindowMessage(const QEvent* event)
{
    if (!event || event->type() < QEvent::User || event->type() > QEvent::MaxUser)
        return nullptr;
    return dynamic_cast<const WindowMessageEvent*>(event);
}

bool PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!window)
        return false;
    QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam));
    return true;
}

bool DefWindowProcA(HWND, QEvent*) { return false; }

WNDPROC SetWindowProc(HWND window, WNDPROC proc)
{
    if (!window || !proc)
        return nullptr;
    auto* filter = window->findChild<WindowProcFilter*>(kFilterName, Qt::FindDirectChildrenOnly);
    if (filter)
        return filter->replace(proc);
    filter = new WindowProcFilter(window, proc);
    window->installEventFilter(filter);
    return &DefWindowProcA;
}
