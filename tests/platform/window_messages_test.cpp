// Window messages on Qt: posted events that a window procedure sees before the window does.
#include <QWidget>
#include <gtest/gtest.h>
#include <vector>

#include "platform/ui/window_messages.h"
#include "wave/pump.h"

namespace {

using testing_support::PumpPosted;

// A window that notes the buffer-done messages it receives.
class DoneRecorder : public QWidget {
public:
    std::vector<void*> done;

protected:
    bool event(QEvent* e) override
    {
        if (const WindowMessageEvent* m = AsWindowMessage(e); m && m->message == MM_WOM_DONE)
            done.push_back(reinterpret_cast<void*>(m->lParam));
        return QWidget::event(e);
    }
};

// Window messages: the procedure sees a message first, then the window's own handling.
bool g_consume = false;
std::vector<UINT> g_seen;
bool RecordingProc(HWND, QEvent* e)
{
    if (const WindowMessageEvent* m = AsWindowMessage(e))
        g_seen.push_back(m->message);
    return g_consume;
}

TEST(WindowMessagesTest, ProcedureSeesMessagesBeforeTheWindowAndPassesThemOn)
{
    DoneRecorder window;
    g_seen.clear();
    EXPECT_EQ(SetWindowProc(&window, &RecordingProc), &DefWindowProcA);
    EXPECT_EQ(SetWindowProc(&window, &RecordingProc), &RecordingProc);  // replaces, no second filter
    int h = 0;
    g_consume = false;
    PostMessageA(&window, MM_WOM_DONE, 7, reinterpret_cast<LPARAM>(&h));
    PostMessageA(&window, 0x401, 0, 0);
    PumpPosted();
    EXPECT_EQ(g_seen, (std::vector<UINT>{MM_WOM_DONE, 0x401}));
    ASSERT_EQ(window.done.size(), 1u);
    EXPECT_EQ(window.done[0], static_cast<void*>(&h));
    g_consume = true;
    PostMessageA(&window, MM_WOM_DONE, 0, 0);
    PumpPosted();
    EXPECT_EQ(window.done.size(), 1u);
    EXPECT_FALSE(PostMessageA(nullptr, MM_WOM_DONE, 0, 0));
}

}  // namespace
