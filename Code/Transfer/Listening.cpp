#include "Listening.h"

#include <algorithm>

namespace transfer {

namespace {

// How often the way back is looked at while Morvex waits for the device.
constexpr std::chrono::milliseconds ListenPoll { 5 };

} // namespace

bool awaitWord(midi::WayBack& wayBack, timing::Clock& clock, timing::Clock::TimePoint until,
    const std::atomic<bool>* cancel, std::vector<std::vector<std::uint8_t>>& out)
{
    const std::size_t before = out.size();
    for (;;) {
        wayBack.take(out);
        if (out.size() > before || clock.now() >= until || (cancel && cancel->load()))
            return true;
        if (!clock.sleepUntil(std::min(until, clock.now() + ListenPoll)))
            return false;
    }
}

} // namespace transfer
