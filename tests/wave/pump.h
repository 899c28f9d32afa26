// Waiting for events in tests: process events until a condition holds, blocking between
// them; a coarse timer wakes the loop so that a missing event fails the test instead of
// hanging it.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <functional>

namespace testing_support {

inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000)
{
    QTimer wakeUp;
    wakeUp.start(100);
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Handles what is already posted (and what that posts in turn).
inline void PumpPosted()
{
    for (int i = 0; i < 8; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace testing_support
