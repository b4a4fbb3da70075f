#pragma once

// Calls that wait on another process (a MIDI server), made on a thread that Morvex can give up on:
// a library call cannot be cancelled, and a server that is stopped, or a lock that a dead client
// left taken, would otherwise keep the caller waiting for ever.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace midi {

// Runs calls one after the other on a thread of its own, and waits for each up to the limit. Once
// a call has not come back in time the service counts as not answering: that call is left to the
// thread, and every later call fails at once. The thread is joined only once it has ended; at
// destruction it is waited for up to the limit, and otherwise left to end on its own, or never.
class ServiceThread {
public:
    explicit ServiceThread(std::chrono::milliseconds limit);
    ~ServiceThread();
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;

    // work's result, or nothing when the service did not answer in time, now or before (work then
    // never runs). A call given up on still runs to its end later: work holds by value whatever it
    // uses, never a reference to the caller's stack.
    template <typename Result> std::optional<Result> call(std::function<Result()> work)
    {
        auto result = std::make_shared<std::optional<Result>>();
        if (!runWithin([result, work = std::move(work)] { *result = work(); }))
            return std::nullopt;
        return std::move(*result);
    }

    // Runs work after every call before it, without waiting for it.
    void post(std::function<void()> work);

    // False once a call was given up on.
    bool answering() const;

    // Whether the thread, given up on, waits on a lock (a futex) rather than on another process's
    // answer (a socket): the system call it is blocked in says so. Linux only; false elsewhere.
    bool waitsOnALock() const;

    std::chrono::milliseconds limit() const { return mLimit; }

private:
    struct Shared;

    bool runWithin(std::function<void()> work);
    static void serve(const std::shared_ptr<Shared>& shared);

    const std::chrono::milliseconds mLimit;
    std::shared_ptr<Shared> mShared;
    std::thread mThread;
};

} // namespace midi
