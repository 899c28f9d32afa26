// The program's one way of waiting: process pending events, and block until more arrive.
// transport/ waits for SCSI commands through this, without knowing about windows.
#pragma once

namespace ui {

class EventPump {
public:
    virtual ~EventPump() = default;
    // Processes what is pending; if nothing was, blocks until an event arrives. Never spins.
    // Called on the program's thread.
    virtual void waitForEvents() = 0;
    // Makes a blocked or the next waitForEvents() return. Any thread.
    virtual void wake() = 0;
};

// The pump in use: the one set, else the Qt event loop of the running application.
EventPump& CurrentEventPump();
// Replaces the pump (tests); nullptr restores the Qt one.
void SetEventPump(EventPump* pump);

}  // namespace ui
