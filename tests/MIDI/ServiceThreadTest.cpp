// The thread that makes the calls which wait on a MIDI server, with a call of the test's own that
// never comes back: it waits on a lock, as libjack does on a registry a dead client left locked.
// (A call that waits on a server that does not answer is the window's test: it stops jackd.)

#include "ServiceThread.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

namespace {

// A call given up on leaves the service not answering: later calls fail at once without running,
// and the owner goes without waiting for the thread. That the call waits on a lock is told. The
// stuck call is set free at the end, and its thread ends on its own.
TEST(ServiceThread, GivesUpOnACallThatDoesNotComeBackAndTellsItWaitsOnALock)
{
    auto held = std::make_shared<std::mutex>();
    held->lock();
    auto laterRan = std::make_shared<std::atomic<bool>>(false);
    {
        midi::ServiceThread calls(std::chrono::milliseconds(300));
        EXPECT_EQ(calls.call<int>([] { return 7; }), 7);
        EXPECT_TRUE(calls.answering());
        const std::optional<int> stuck = calls.call<int>([held] {
            const std::lock_guard lock(*held);
            return 1;
        });
        EXPECT_FALSE(stuck.has_value());
        EXPECT_FALSE(calls.answering());
        EXPECT_TRUE(calls.waitsOnALock());
        EXPECT_FALSE(calls.call<int>([laterRan] { return (*laterRan = true) ? 2 : 0; }));
    }
    held->unlock();
    EXPECT_FALSE(laterRan->load()) << "a call after the service stopped answering ran";
}

} // namespace
