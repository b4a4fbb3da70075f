#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

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
    [[nodiscard]] bool sleepUntil(TimePoint when)
    {
        mDue = when;
        return waitUntil(when);
    }

    virtual bool stopRequested() const = 0;

    // A delay of the update: at least microseconds from now.
    [[nodiscard]] bool sleep(std::uint32_t microseconds)
    {
        return sleepUntil(now() + std::chrono::microseconds(microseconds));
    }

    // The instant the latest wait was to end, however late the thread woke from it: when what
    // follows that wait was due. A service that places each message in time (JACK) places it by
    // this instant rather than by the moment its send ran, so that wake-up lateness never reaches
    // the device. Now, before any wait.
    TimePoint due() const { return mDue.value_or(now()); }

protected:
    // sleepUntil's wait, as the clock keeps time.
    [[nodiscard]] virtual bool waitUntil(TimePoint when) = 0;

private:
    std::optional<TimePoint> mDue; // the thread that waits is the only one to touch it
};

// std::chrono::steady_clock (CLOCK_MONOTONIC) with absolute deadlines, so that wake-ups, early or
// spurious, never shorten a wait and a change of the wall clock does not move it.
class SteadyClock final : public Clock {
public:
    TimePoint now() const override;
    bool stopRequested() const override;

    // Any thread: ends the wait under way and every later one.
    void requestStop();

private:
    bool waitUntil(TimePoint when) override;

    mutable std::mutex mMutex;
    std::condition_variable mWake;
    bool mStop = false; // guarded by mMutex
};

} // namespace timing
