#include "Clock.h"

#include <thread>

namespace midi {

Clock::TimePoint SteadyClock::now() const
{
    return std::chrono::steady_clock::now();
}

void SteadyClock::sleepUntil(TimePoint when)
{
    std::this_thread::sleep_until(when);
}

} // namespace midi
