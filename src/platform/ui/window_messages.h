// Window messages on Qt: a message is a posted event of our own carrying its number and two
// parameters; a window procedure is an event filter that sees every event of its window
// before the window's own handling, which runs afterwards unless the procedure consumes it.
#pragma once

#include <QEvent>
#include <cstdint>

class QObject;

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using HWND = QObject*;

// The wave device's buffer-done message; its second parameter is the header's address.
inline constexpr UINT MM_WOM_DONE = 0x3BD;

// A window message as an event; its type is WindowMessageEvent::typeOf(message).
class WindowMessageEvent final : public QEvent {
public:
    WindowMessageEvent(UINT message, WPARAM wParam, LPARAM lParam);
    static QEvent::Type typeOf(UINT message) { return static_cast<QEvent::Type>(QEvent::User + message); }

    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// The message carried by `event`, or nullptr when it is not a window message.
const WindowMessageEvent* AsWindowMessage(const QEvent* event);

// Posts `message` to `window` (handled later on the window's thread). Any thread, as long as
// the window outlives the call. False when there is no window.
bool PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A window procedure: true consumes the event, false lets the window's own handling run.
using WNDPROC = bool (*)(HWND window, QEvent* event);

// The window's own handling: consumes nothing.
bool DefWindowProcA(HWND window, QEvent* event);

// Our SetWindowLongA(GWL_WNDPROC): makes `proc` the procedure of `window` (an event filter
// on it, living as long as the window) and returns the procedure it replaces, DefWindowProcA
// the first time. Program's thread.
WNDPROC SetWindowProc(HWND window, WNDPROC proc);

// Calls the procedure a window procedure replaced.
inline bool CallWindowProcA(WNDPROC previous, HWND window, QEvent* event)
{
    return previous ? previous(window, event) : DefWindowProcA(window, event);
}
