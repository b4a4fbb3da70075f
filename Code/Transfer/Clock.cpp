#include "Transfer/Clock.h"

#include <chrono>

namespace transfer {

bool SteadyClock::sleep(std::uint32_t microseconds)
{
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::microseconds(microseconds);
    std::unique_lock lock(mMutex);
    // wait_until on steady_clock waits on CLOCK_MONOTONIC with an absolute time; the loop
    // outlasts spurious wake-ups.
    while (!mStop && steady_clock::now() < deadline)
        mWake.wait_until(lock, deadline);
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

} // namespace transfer
