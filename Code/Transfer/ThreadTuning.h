#pragma once

namespace transfer {

// Lowers the calling thread's timer slack for its lifetime, then gives back what it found. Linux
// lets a sleeping thread wake up to its timer slack late (50 µs by default) so that it can group
// wake-ups; paced messages gain nothing from that lateness. If the kernel refuses, wake-ups only
// come later, never earlier: precision is lost, no message is early.
class TimerSlack {
public:
    TimerSlack();
    ~TimerSlack();
    TimerSlack(const TimerSlack&) = delete;
    TimerSlack& operator=(const TimerSlack&) = delete;

private:
    int mSaved; // the slack in nanoseconds; -1 when it could not be read
};

// Raises the calling thread to a low real-time priority for its lifetime where the user may have
// it. On a busy machine a thread that wakes on time can still wait milliseconds for a core; this
// puts the transfer ahead of ordinary work the moment a delay ends. Without the right to it
// (RLIMIT_RTPRIO, which the audio group has, or CAP_SYS_NICE) the thread stays as it was:
// messages may leave later, never earlier.
class RealtimePriority {
public:
    RealtimePriority();
    ~RealtimePriority();
    RealtimePriority(const RealtimePriority&) = delete;
    RealtimePriority& operator=(const RealtimePriority&) = delete;

private:
    int mPolicy;
    int mSavedPriority = 0;
    bool mRaised = false;
};

} // namespace transfer
