// The thread that makes the calls which wait on a MIDI server, with calls of the test's own that
// never come back: one that waits on a lock, as libjack does on a registry a dead client left
// locked, and one that waits on a pipe nobody writes to, as it does on a server that is stopped.

#include "ServiceThread.h"

#include "Process/FileDescriptor.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

namespace {

// A call given up on leaves the service not answering: later calls fail at once without running,
// and the owner goes without waiting for the thread. What the call waits on says which case it
// is. Each stuck call is set free at the end, and its thread ends on its own.
TEST(ServiceThread, GivesUpOnACallThatDoesNotComeBackAndTellsALockFromASilentServer)
{
    for (const bool onALock : { true, false }) {
        SCOPED_TRACE(onALock ? "a lock" : "a silent server");
        auto held = std::make_shared<std::mutex>();
        held->lock();
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        auto reading = std::make_shared<process::FileDescriptor>(ends[0]);
        process::FileDescriptor writing(ends[1]);
        auto laterRan = std::make_shared<std::atomic<bool>>(false);
        {
            midi::ServiceThread calls(std::chrono::milliseconds(300));
            EXPECT_EQ(calls.call<int>([] { return 7; }), 7);
            EXPECT_TRUE(calls.answering());
            const std::optional<int> stuck = calls.call<int>([held, reading, onALock] {
                char byte = 0;
                if (onALock)
                    const std::lock_guard lock(*held);
                else if (::read(reading->get(), &byte, 1) < 0)
                    return -1;
                return 1;
            });
            EXPECT_FALSE(stuck.has_value());
            EXPECT_FALSE(calls.answering());
            EXPECT_EQ(calls.waitsOnALock(), onALock);
            EXPECT_FALSE(calls.call<int>([laterRan] { return (*laterRan = true) ? 2 : 0; }));
        }
        held->unlock();
        writing = process::FileDescriptor();
        EXPECT_FALSE(laterRan->load()) << "a call after the service stopped answering ran";
    }
}

} // namespace
