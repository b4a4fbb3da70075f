#pragma once

#include "Timing/Clock.h"

#include <atomic>
#include <functional>
#include <memory>
#include <semaphore>
#include <thread>

// Runs one transfer, or one question to the device, at a time on a thread of its own: the send
// lock that keeps a second from starting, the cancel flag, the clock that times its waits and
// that a stop cuts short, and the thread, joined by the next start or at quit.
class TransferRunner {
public:
    TransferRunner() = default;
    TransferRunner(const TransferRunner&) = delete;
    TransferRunner& operator=(const TransferRunner&) = delete;

    // At launch, and at quit once the thread is joined: the lock exists only in between.
    void open();
    void close();

    // UI thread: takes the send lock without waiting; false when it is held, or before launch.
    bool take();
    // Transfer thread, as its last use of anything shared: the next start or the quit may then
    // join it.
    void release();
    // UI thread, with the lock taken. The last thread has passed its release and waits for
    // nothing more, so joining it cannot block; body runs on a new one, with a fresh clock so
    // that a stop ends only the run it was meant for.
    void start(std::function<void()> body);

    void clearCancel() { mCancel = false; }
    void cancel() { mCancel = true; }
    // Read by the transfer at its checks, never during a wait.
    const std::atomic<bool>& cancelled() const { return mCancel; }
    timing::Clock& clock() { return *mClock; }

    // UI thread: a run that is there stops at once, its waits cut short and its cancel flag
    // raised; answers whether there was one.
    bool stop();
    // UI thread, once nothing the thread may wait for needs the UI thread any more.
    void join();

private:
    // Held for the whole of a run: taken on the UI thread, released on the run's own, hence a
    // semaphore and not a mutex.
    std::unique_ptr<std::binary_semaphore> mSendLock;
    std::atomic<bool> mCancel { false };
    std::unique_ptr<timing::SteadyClock> mClock;
    std::thread mThread;
};
