#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace timing {

// The one way Morvex waits: the transfer's delays and pauses and the MIDI layer's pacing alike.
// A message must never go out before its time, so a wait either lasts its full time or reports
// that a stop request (quitting) cut it short, in which case the caller must not do what it was
// waiting for. A stop lasts: every later wait answers false at once.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    virtual TimePoint now() const = 0;

    // Waits until when has passed by a monotonic clock and answers true; at once when it already
    // has. Answers false, at once or partway, once a stop has been requested.
    [[nodiscard]] virtual bool sleepUntil(TimePoint when) = 0;

    virtual bool stopRequested() const = 0;

    // A delay of the update: at least microseconds from now.
    [[nodiscard]] bool sleep(std::uint32_t microseconds)
    {
        return sleepUntil(now() + std::chrono::microseconds(microseconds));
    }
};

// std::chrono::steady_clock (CLOCK_MONOTONIC) with absolute deadlines, so that wake-ups, early or
// spurious, never shorten a wait and a change of the wall clock does not move it.
class SteadyClock final : public Clock {
public:
    TimePoint now() const override;
    bool sleepUntil(TimePoint when) override;
    bool stopRequested() const override;

    // Any thread: ends the wait under way and every later one.
    void requestStop();

private:
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    bool mStop = false; // guarded by mMutex
};

} // namespace timing
