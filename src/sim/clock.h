// Time as the virtual drive sees it. Commands take time (frame reads, locates, eject) and the
// medium changes state with time (becoming ready, reinsertion after an eject). A real clock
// serves the program; a virtual clock lets tests move through those states without sleeping.
#pragma once

#include <condition_variable>
#include <mutex>

namespace sim {

class Clock {
public:
    virtual ~Clock() = default;
    // Seconds since an arbitrary origin; never goes back. Any thread.
    virtual double now() = 0;
    // Lets `seconds` pass (the worker thread blocks for them). False when cancel() ended the
    // wait early or had been called before.
    virtual bool wait(double seconds) = 0;
    // Ends the current wait and every later one at once (program end). Any thread.
    virtual void cancel() = 0;
};

// Steady wall-clock time; waits block on a condition variable, so cancel() wakes them.
class RealClock final : public Clock {
public:
    double now() override;
    bool wait(double seconds) override;
    void cancel() override;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;  // guarded by mutex_
};

// Time that moves only when told: wait() advances it at once, advance() from the test.
// Everything is guarded by one mutex, so tests may read and move it from their own thread.
class VirtualClock final : public Clock {
public:
    double now() override;
    bool wait(double seconds) override;
    void cancel() override;
    void advance(double seconds);

private:
    std::mutex mutex_;
    double now_ = 0;
    bool cancelled_ = false;
};

}  // namespace sim
