#include "sim/clock.h"

#include <chrono>

namespace sim {

double RealClock::now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool RealClock::wait(double seconds)
{
    using namespace std::chrono;
    const auto until = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, until, [&] { return cancelled_; });
    return !cancelled_;
}

void RealClock::cancel()
{
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    wake_.notify_all();
}

double VirtualClock::now()
{
    std::lock_guard lock(mutex_);
    return now_;
}

bool VirtualClock::wait(double seconds)
{
    std::lock_guard lock(mutex_);
    if (cancelled_)
        return false;
    if (seconds > 0)
        now_ += seconds;
    return true;
}

void VirtualClock::cancel()
{
    std::lock_guard lock(mutex_);
    cancelled_ = true;
}

void VirtualClock::advance(double seconds)
{
    std::lock_guard lock(mutex_);
    if (seconds > 0)
        now_ += seconds;
}

}  // namespace sim
