#pragma once

#include <chrono>

namespace midi {

// Time as the pacing sees it. The steady clock sleeps; a test's clock records the sleeps instead.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // Returns at once when when has passed.
    virtual void sleepUntil(TimePoint when) = 0;
};

class SteadyClock final : public Clock {
public:
    TimePoint now() const override;
    void sleepUntil(TimePoint when) override;
};

} // namespace midi
