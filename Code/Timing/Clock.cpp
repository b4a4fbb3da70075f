#include "Timing/Clock.h"

namespace timing {

Clock::TimePoint SteadyClock::now() const
{
    return std::chrono::steady_clock::now();
}

bool SteadyClock::waitUntil(TimePoint when)
{
    std::unique_lock lock(mMutex);
    // wait_until on steady_clock waits on CLOCK_MONOTONIC with an absolute time; the loop
    // outlasts spurious wake-ups.
    while (!mStop && std::chrono::steady_clock::now() < when)
        mWake.wait_until(lock, when);
    return !mStop;
}

bool SteadyClock::stopRequested() const
{
    const std::lock_guard lock(mMutex);
    return mStop;
}

void SteadyClock::requestStop()
{
    {
        const std::lock_guard lock(mMutex);
        mStop = true;
    }
    mWake.notify_all();
}

} // namespace timing
