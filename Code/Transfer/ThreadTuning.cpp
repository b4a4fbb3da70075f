#include "ThreadTuning.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

namespace transfer {
namespace {

// 1 µs keeps a wake-up within a small part of the 320 µs one byte takes on a MIDI cable, and
// still lets the kernel round.
constexpr unsigned long Nanoseconds_TimerSlack = 1000;

// Low: the thread only sleeps, reads one file at a time and sends, so it takes little from anyone,
// and this leaves room above it for the MIDI service's own real-time threads.
constexpr int Priority_SendPass = 10;

} // namespace

TimerSlack::TimerSlack()
    : mSaved(::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0))
{
    if (mSaved > 0)
        ::prctl(PR_SET_TIMERSLACK, Nanoseconds_TimerSlack, 0, 0, 0);
}

TimerSlack::~TimerSlack()
{
    if (mSaved > 0)
        ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(mSaved), 0, 0, 0);
}

RealtimePriority::RealtimePriority()
    : mPolicy(SCHED_OTHER)
{
    sched_param saved {};
    if (::pthread_getschedparam(::pthread_self(), &mPolicy, &saved) != 0)
        return;
    mSavedPriority = saved.sched_priority;
    const sched_param raised { Priority_SendPass };
    mRaised = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &raised) == 0;
}

RealtimePriority::~RealtimePriority()
{
    if (!mRaised)
        return;
    const sched_param saved { mSavedPriority };
    ::pthread_setschedparam(::pthread_self(), mPolicy, &saved);
}

} // namespace transfer
