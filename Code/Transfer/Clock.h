#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace transfer {

// The transfer's only way to wait. A message must never go out before its delay has passed, so a
// sleep either lasts its full time or reports that a stop request (quitting) cut it short, in
// which case the caller must not do what it was waiting for.
class Clock {
public:
    virtual ~Clock() = default;

    // Sleeps at least microseconds by a monotonic clock and answers true. Answers false, at once
    // or partway, once a stop has been requested; a stop lasts, so every later sleep answers false
    // at once, even one of 0.
    [[nodiscard]] virtual bool sleep(std::uint32_t microseconds) = 0;

    virtual bool stopRequested() const = 0;
};

// Sleeps on std::chrono::steady_clock (CLOCK_MONOTONIC) towards an absolute deadline, so that
// wake-ups, early or spurious, never shorten a delay, and a change of the wall clock does not
// move it.
class SteadyClock final : public Clock {
public:
    bool sleep(std::uint32_t microseconds) override;
    bool stopRequested() const override;

    // Any thread: ends the sleep under way and every later one.
    void requestStop();

private:
    mutable std::mutex mMutex;
    std::condition_variable mWake;
    bool mStop = false; // guarded by mMutex
};

} // namespace transfer
